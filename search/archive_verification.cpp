#include "search/archive_verification.h"

#include "platform/folder_sums.h"
#include "platform/recording_walk.h"
#include "search/folder_tree.h"

#include <cerrno>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace {

using Visit = std::function<bool(const VerifiedRecording&)>;

VerifiedRecording CheckListed(const std::string& root, const std::string& relative, const SumsLine& line)
{
    const std::string path = root + "/" + relative + line.name;
    VerifiedRecording checked{relative, line.name, FingerprintState::Missing, 0};
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 && errno == ENOENT) {
        checked.state = FingerprintState::Missing;
        return checked;
    }
    const Result<std::string> sha256 = Sha256HexOfFile(path);
    checked.state = !sha256                  ? FingerprintState::Unreadable
                    : *sha256 == line.sha256 ? FingerprintState::Whole
                                             : FingerprintState::Changed;
    checked.bytes = static_cast<std::uint64_t>(status.st_size);
    return checked;
}

// One folder's recordings; false when visit stopped the check.
bool VerifyFolder(const std::string& root, const std::string& relative, const Visit& visit)
{
    const std::string folder = root + "/" + relative;
    const Result<std::vector<SumsLine>> listed = ReadFolderSums(folder);
    if (!listed && !visit({relative, kFolderSumsName, FingerprintState::Changed, 0}))
        return false;
    std::set<std::string> recorded;
    for (const SumsLine& line : listed ? *listed : std::vector<SumsLine>()) {
        recorded.insert(line.name);
        if (!visit(CheckListed(root, relative, line)))
            return false;
    }
    for (const std::string& name : RecordingNames(folder)) {
        if (!recorded.contains(name) && !visit({relative, name, FingerprintState::Unrecorded, 0}))
            return false;
    }
    return true;
}

bool VerifyBelow(const std::string& root, const std::string& relative, const Visit& visit)
{
    for (const std::string& name : ListSubfolders(root + "/" + relative)) {
        const std::string subfolder = relative + name + "/";
        if (!VerifyFolder(root, subfolder, visit) || !VerifyBelow(root, subfolder, visit))
            return false;
    }
    return true;
}

void MeasureFolder(const std::string& folder, FolderScope scope, const std::atomic<bool>* stop, ArchiveExtent& extent)
{
    for (const std::string& name : RecordingNames(folder)) {
        struct stat status {};
        if (::stat((folder + "/" + name).c_str(), &status) == 0) {
            ++extent.files;
            extent.bytes += static_cast<std::uint64_t>(status.st_size);
        }
    }
    if (scope == FolderScope::FolderOnly)
        return;
    for (const std::string& name : ListSubfolders(folder)) {
        if (stop && stop->load())
            return;
        MeasureFolder(folder + "/" + name, scope, stop, extent);
    }
}

} // namespace

ArchiveExtent MeasureArchive(const std::string& folder, FolderScope scope, const std::atomic<bool>* stop)
{
    ArchiveExtent extent;
    MeasureFolder(folder, scope, stop, extent);
    return extent;
}

bool IsDamage(FingerprintState state)
{
    return state == FingerprintState::Changed || state == FingerprintState::Missing
           || state == FingerprintState::Unreadable;
}

bool VerifyArchive(const std::string& folder, FolderScope scope, const Visit& visit)
{
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return false;
    const std::string root = folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
    if (VerifyFolder(root, "", visit) && scope == FolderScope::WithSubfolders)
        VerifyBelow(root, "", visit);
    return true;
}
