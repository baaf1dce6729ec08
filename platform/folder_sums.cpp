#include "platform/folder_sums.h"

#include "platform/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace {

// Far more than the lines of a folder of recordings: a larger file is not one of ours.
constexpr off_t kLargestSumsFile = 64 * 1024 * 1024;

std::string SumsPath(const std::string& folder)
{
    return folder + "/" + kFolderSumsName;
}

} // namespace

Result<std::vector<SumsLine>> ReadFolderSums(const std::string& folder)
{
    const std::string path = SumsPath(folder);
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid() && errno == ENOENT)
        return std::vector<SumsLine>();
    struct stat status {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0)
        return Failure{"cannot read " + path + ": " + std::strerror(errno), errno, path};
    if (!S_ISREG(status.st_mode) || status.st_size > kLargestSumsFile)
        return Failure{path + " is not a list of SHA-256 fingerprints", EBADMSG, path};
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    if (::pread(fd.get(), text.data(), text.size(), 0) != status.st_size)
        return Failure{"cannot read " + path + ": " + std::strerror(errno), errno, path};
    std::optional<std::vector<SumsLine>> lines = ParseSums(text);
    // Each line names a file of the folder itself.
    const auto foreign = [](const SumsLine& line) {
        return line.name.empty() || line.name.find('/') != std::string::npos;
    };
    if (!lines || std::any_of(lines->begin(), lines->end(), foreign))
        return Failure{path + " is not a list of SHA-256 fingerprints", EBADMSG, path};
    return std::move(*lines);
}

namespace {

using SumsByName = std::map<std::string, std::string>;

// Reads folder's SHA256SUMS under the folder's lock, lets change alter its lines (false: nothing
// changed) and writes the result back.
Result<void> ChangeFolderSums(const std::string& folder, const std::function<bool(SumsByName&)>& change)
{
    const UniqueFd lock = LockFolder(folder);
    if (!lock.valid())
        return Failure{"cannot lock " + folder + ": " + std::strerror(errno), errno, folder};
    const Result<std::vector<SumsLine>> recorded = ReadFolderSums(folder);
    if (!recorded)
        return recorded.error();
    SumsByName byName;
    for (const SumsLine& line : *recorded)
        byName[line.name] = line.sha256;
    if (!change(byName))
        return {};
    std::vector<SumsLine> merged;
    for (auto& [name, sha256] : byName)
        merged.push_back({sha256, name});
    return WriteFileAtomically(SumsPath(folder), SumsText(merged), SharedFileMode());
}

} // namespace

Result<void> RecordFolderSums(const std::string& folder, const std::vector<SumsLine>& lines)
{
    return ChangeFolderSums(folder, [&](SumsByName& byName) {
        for (const SumsLine& line : lines)
            byName[line.name] = line.sha256;
        return true;
    });
}

Result<void> ForgetStaleFolderSums(const std::string& folder, const std::vector<SumsLine>& lines)
{
    return ChangeFolderSums(folder, [&](SumsByName& byName) {
        bool changed = false;
        for (const SumsLine& line : lines) {
            const auto recorded = byName.find(line.name);
            if (recorded != byName.end() && recorded->second != line.sha256) {
                byName.erase(recorded);
                changed = true;
            }
        }
        return changed;
    });
}
