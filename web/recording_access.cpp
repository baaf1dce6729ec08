#include "web/recording_access.h"

#include "search/archive_search.h"
#include "web/recording_ids.h"
#include "web/route_context.h"

#include <QByteArray>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The regular file name in folder, opened without following a link at either. Not blocking, so
// that a FIFO named like a recording cannot hold the request.
UniqueFd OpenInFolder(const std::string& folder, const std::string& name)
{
    const std::string bare = folder.substr(0, folder.find_last_not_of('/') + 1);
    const UniqueFd directory(
        ::open(bare.empty() ? "/" : bare.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.valid())
        return {};
    UniqueFd file(::openat(directory.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    return file;
}

} // namespace

std::optional<OpenedRecording> OpenRecordingOfId(ArchiveIndex& index, const QString& id)
{
    std::optional<RecordingIdParts> parts = SplitRecordingId(id);
    if (!parts || !HasRecordingName(parts->fileName)
        || parts->fileName.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return std::nullopt;
    std::optional<std::string> folder = KnownFolderOfKey(index, parts->folderKey);
    if (!folder)
        return std::nullopt;
    UniqueFd file = OpenInFolder(*folder, parts->fileName);
    const std::optional<RecordingHead> head = file.valid() ? ReadRecordingHead(file.get()) : std::nullopt;
    if (!head)
        return std::nullopt;
    return OpenedRecording{std::move(*folder), std::move(parts->fileName), std::move(file), *head};
}
