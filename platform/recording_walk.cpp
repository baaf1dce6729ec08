#include "platform/recording_walk.h"

#include "platform/file_attributes.h"
#include "platform/file_attributes_at.h"
#include "platform/text_codec.h"

#include "platform/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string_view>

namespace {

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view upper)
{
    if (text.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (AsciiUpper(text[i]) != upper[i])
            return false;
    return true;
}

// The walk keeps plain files only: any bit besides archive (read-only, hidden, system,
// directory, normal, reparse point) passes the entry over.
std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool HasOnlyArchiveBit(std::uint32_t attributes)
{
    return (attributes & ~kAttrArchive) == 0;
}

class DirCloser {
public:
    explicit DirCloser(DIR* dir) : dir_(dir) {}
    ~DirCloser() { ::closedir(dir_); }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

private:
    DIR* dir_;
};

} // namespace

bool MatchesRecordingPattern(const std::string& name)
{
    static constexpr std::string_view kPrefix = "VOC";
    static constexpr std::string_view kSuffix = ".WAV";
    if (name.size() < kPrefix.size() + kSuffix.size())
        return false;
    const std::string_view whole(name);
    return EqualsIgnoringAsciiCase(whole.substr(0, kPrefix.size()), kPrefix)
        && EqualsIgnoringAsciiCase(whole.substr(whole.size() - kSuffix.size()), kSuffix);
}

bool IsListedRecordingName(const std::string& name)
{
    return name.find('/') == std::string::npos && MatchesRecordingPattern(name) && Gb18030Length(name) == 12;
}

bool WalkRecordings(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit)
{
    return WalkRecordingNames(folder, RecordingNames(folder), visit);
}

bool WalkRecordingNames(const std::string& folder, const std::vector<std::string>& names,
                        const std::function<bool(const WalkEntry&)>& visit)
{
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    const bool onFatVolume = IsFatVolume(dir.get());
    for (const std::string& name : names) {
        struct stat info {};
        const std::uint32_t attributes = FileAttributesAt(dir.get(), name.c_str(), onFatVolume, &info);
        if (!HasOnlyArchiveBit(attributes))
            continue;
        if (!visit(WalkEntry{name, attributes, Gb18030Length(name) == 12, static_cast<std::uint64_t>(info.st_size),
                             Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim)}))
            break;
    }
    return true;
}

std::vector<std::string> RecordingNames(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    DirCloser closer(dir);
    while (const dirent* entry = ::readdir(dir))
        if (std::string name = entry->d_name; MatchesRecordingPattern(name))
            names.push_back(std::move(name));
    return names;
}
