#include "catalogue/replaced_recordings.h"

#include "catalogue/recording.h"
#include "platform/atomic_file.h"
#include "platform/recording_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

std::string DayText(year_month_day day)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

// The day of a day folder's name ("2026-12-07" or "2026-12-07_2").
std::optional<year_month_day> DayOfFolder(const std::string& name)
{
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    int used = 0;
    if (std::sscanf(name.c_str(), "%4d-%2u-%2u%n", &year, &month, &day, &used) != 3 || used != 10)
        return std::nullopt;
    if (name.size() > 10 && (name[10] != '_' || name.find_first_not_of("0123456789", 11) != std::string::npos))
        return std::nullopt;
    const year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
    if (!date.ok())
        return std::nullopt;
    return date;
}

// A kept name is "DAYFOLDER/relative/path" with no step out of its folder.
std::optional<std::string> OriginalPathOf(const std::string& keptName)
{
    const fs::path path(keptName);
    if (path.is_absolute() || keptName.find('/') == std::string::npos)
        return std::nullopt;
    for (const fs::path& part : path) {
        if (part == ".." || part == "." || part.empty())
            return std::nullopt;
    }
    if (!DayOfFolder(path.begin()->string()))
        return std::nullopt;
    return keptName.substr(keptName.find('/') + 1);
}

// Makes folder with its missing parents and syncs the parent of each one made, so that what is
// put into it survives a power cut.
Result<void> MakeFolderDurably(const fs::path& folder)
{
    std::vector<fs::path> missing;
    std::error_code error;
    for (fs::path step = folder; !step.empty() && !fs::exists(step, error); step = step.parent_path())
        missing.push_back(step);
    fs::create_directories(folder, error);
    if (error)
        return Failure{"cannot make the folder " + folder.string() + ": " + error.message(), error.value(),
                       folder.string()};
    for (const fs::path& made : missing)
        SyncFolder(made.parent_path().string());
    return {};
}

// Where link() is refused the file system has no hard links.
bool HasNoHardLinks(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

Result<void> LinkOrCopy(const std::string& original, const std::string& kept)
{
    if (::link(original.c_str(), kept.c_str()) == 0)
        return {};
    const int error = errno;
    if (HasNoHardLinks(error))
        return CopyFileWithoutReplacing(original, kept);
    return Failure{"cannot keep " + original + " as " + kept + ": " + std::strerror(error), error, original};
}

// The same inode, or where the kept entry is a copy, the same bytes.
bool SameFile(const std::string& original, const std::string& kept)
{
    struct stat one {};
    struct stat other {};
    if (::stat(original.c_str(), &one) != 0 || ::stat(kept.c_str(), &other) != 0)
        return false;
    return (one.st_dev == other.st_dev && one.st_ino == other.st_ino) || SameSizeAndBytes(original, kept);
}

} // namespace

year_month_day LocalToday()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    return year_month_day{std::chrono::year(local.tm_year + 1900), std::chrono::month(local.tm_mon + 1),
                          std::chrono::day(local.tm_mday)};
}

std::string ReplacedFolder(const std::string& uploadPath)
{
    return uploadPath + kReplacedFolderName + "/";
}

Result<std::string> KeepReplaced(const std::string& uploadPath, const std::string& relativePath,
                                 year_month_day today)
{
    const std::string day = DayText(today);
    const std::string original = uploadPath + relativePath;
    for (int attempt = 1;; ++attempt) {
        const std::string keptName = (attempt == 1 ? day : day + "_" + std::to_string(attempt)) + "/" + relativePath;
        const std::string kept = ReplacedFolder(uploadPath) + keptName;
        if (Result<void> made = MakeFolderDurably(fs::path(kept).parent_path()); !made)
            return made.error();
        Result<void> linked = LinkOrCopy(original, kept);
        if (linked)
            return keptName;
        if (linked.error().error != EEXIST)
            return linked.error();
        if (SameFile(original, kept))
            return keptName;
    }
}

Result<std::string> RestoreReplaced(const std::string& uploadPath, const std::string& keptName,
                                    const std::string& fileName, year_month_day today)
{
    const std::optional<std::string> original = OriginalPathOf(keptName);
    if (!original)
        return Failure{"not the name of a kept recording: " + keptName, EINVAL, keptName};
    if (!fileName.empty() && !IsListedRecordingName(fileName))
        return Failure{"not a recording's file name: " + fileName, EINVAL, fileName};
    const std::string kept = KeptPath(uploadPath, keptName);
    struct stat keptInfo {};
    if (::lstat(kept.c_str(), &keptInfo) != 0)
        return Failure{"cannot find " + kept + ": " + std::strerror(errno), errno, kept};
    const std::string target = fileName.empty() ? uploadPath + *original
                                                : RestoreTarget(uploadPath, *original, fileName);
    if (Result<void> made = MakeFolderDurably(fs::path(target).parent_path()); !made)
        return made.error();
    struct stat holder {};
    if (::lstat(target.c_str(), &holder) != 0) {
        if (Result<void> moved = RenameWithoutReplacing(kept, target); !moved)
            return moved.error();
        return std::string();
    }
    if (SameFile(target, kept)) {
        if (::unlink(kept.c_str()) != 0)
            return Failure{"cannot remove " + kept + ": " + std::strerror(errno), errno, kept};
        SyncFolder(fs::path(kept).parent_path().string());
        return std::string();
    }
    const Result<std::string> holderKept = KeepReplaced(uploadPath, target.substr(uploadPath.size()), today);
    if (!holderKept)
        return holderKept.error();
    SyncFolder(fs::path(KeptPath(uploadPath, *holderKept)).parent_path().string());
    if (Result<void> moved = RenameReplacing(kept, target); !moved)
        return moved.error();
    return *holderKept;
}

std::string KeptPath(const std::string& uploadPath, const std::string& keptName)
{
    return ReplacedFolder(uploadPath) + keptName;
}

std::string RestoreTarget(const std::string& uploadPath, const std::string& originalPath, const std::string& fileName)
{
    return fs::path(uploadPath + originalPath).replace_filename(fileName).string();
}

Result<std::string> FindKeptName(const std::string& uploadPath, const std::string& name)
{
    if (OriginalPathOf(name))
        return name;
    const std::vector<std::string> candidates = KeptNamesOf(uploadPath, name);
    if (candidates.size() == 1)
        return candidates.front();
    if (candidates.empty())
        return Failure{"not the name of a kept recording: " + name, ENOENT, name};
    std::string reason = name + " is kept " + std::to_string(candidates.size()) + " times; name one of:";
    for (const std::string& candidate : candidates)
        reason += "\n  " + candidate;
    return Failure{reason, EEXIST, name};
}

std::vector<std::string> KeptNamesOf(const std::string& uploadPath, const std::string& originalPath)
{
    std::vector<std::string> names;
    for (const KeptRecording& kept : ListReplaced(uploadPath)) {
        if (kept.originalPath == originalPath)
            names.push_back(kept.keptName);
    }
    return names;
}

std::vector<KeptRecording> ListReplaced(const std::string& uploadPath)
{
    std::vector<KeptRecording> kept;
    const fs::path root(ReplacedFolder(uploadPath));
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        // Hidden files are copies still being kept (or left by a killed run), not kept recordings.
        if (!it->is_regular_file(error) || it->path().filename().string().starts_with("."))
            continue;
        const std::string keptName = fs::relative(it->path(), root, error).string();
        if (const std::optional<std::string> original = OriginalPathOf(keptName))
            kept.push_back({keptName, *original});
    }
    std::sort(kept.begin(), kept.end(),
              [](const KeptRecording& a, const KeptRecording& b) { return a.keptName < b.keptName; });
    return kept;
}

std::vector<ReplacedRecordingRow> ListReplacedRows(const std::string& uploadPath, const std::atomic<bool>* stop)
{
    std::vector<ReplacedRecordingRow> rows;
    if (uploadPath.empty()) // names no folder; ".replaced" would be read from the working folder
        return rows;
    for (KeptRecording& kept : ListReplaced(uploadPath)) {
        if (stop && stop->load())
            break;
        const fs::path path(KeptPath(uploadPath, kept.keptName));
        ReplacedRecordingRow row;
        row.day = DayText(*DayOfFolder(kept.keptName.substr(0, kept.keptName.find('/'))));
        if (const std::optional<RecordingEntry> entry =
                MakeRecordingEntry(path.parent_path().string() + "/", path.filename().string(), 0)) {
            row.mode = entry->mode();
            row.phone = entry->phone();
            row.startTime = entry->startTime();
            row.size = entry->texts[kColSize];
        } else {
            std::error_code error;
            const std::uintmax_t size = fs::file_size(path, error);
            row.size = error ? std::string()
                             : SizeText(static_cast<std::uint32_t>(std::min<std::uintmax_t>(size, UINT32_MAX)));
        }
        std::error_code error;
        row.nameTaken = fs::exists(fs::symlink_status(uploadPath + kept.originalPath, error));
        row.kept = std::move(kept);
        rows.push_back(std::move(row));
    }
    return rows;
}

int RemoveExpiredReplaced(const std::string& uploadPath, int keepDays, year_month_day today)
{
    std::vector<fs::path> expired;
    std::error_code error;
    for (auto it = fs::directory_iterator(ReplacedFolder(uploadPath), error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::optional<year_month_day> day = DayOfFolder(it->path().filename().string());
        if (day && it->is_directory(error) && sys_days(today) - sys_days(*day) > days(keepDays))
            expired.push_back(it->path());
    }
    int removed = 0;
    for (const fs::path& folder : expired) {
        std::error_code removeError;
        fs::remove_all(folder, removeError);
        removed += removeError ? 0 : 1;
    }
    return removed;
}
