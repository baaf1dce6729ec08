#include "catalogue/replaced_recordings.h"

#include "platform/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

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
    for (int attempt = 1;; ++attempt) {
        const std::string keptName = (attempt == 1 ? day : day + "_" + std::to_string(attempt)) + "/" + relativePath;
        const std::string kept = ReplacedFolder(uploadPath) + keptName;
        std::error_code error;
        fs::create_directories(fs::path(kept).parent_path(), error);
        if (error)
            return Failure{"cannot make the folder for " + kept + ": " + error.message(), error.value(), kept};
        Result<void> moved = RenameWithoutReplacing(uploadPath + relativePath, kept);
        if (moved)
            return keptName;
        if (moved.error().error != EEXIST)
            return moved.error();
    }
}

Result<void> RestoreReplaced(const std::string& uploadPath, const std::string& keptName)
{
    const std::optional<std::string> original = OriginalPathOf(keptName);
    if (!original)
        return Failure{"not the name of a kept recording: " + keptName, EINVAL, keptName};
    const std::string target = uploadPath + *original;
    std::error_code error;
    fs::create_directories(fs::path(target).parent_path(), error);
    return RenameWithoutReplacing(ReplacedFolder(uploadPath) + keptName, target);
}

std::vector<KeptRecording> ListReplaced(const std::string& uploadPath)
{
    std::vector<KeptRecording> kept;
    const fs::path root(ReplacedFolder(uploadPath));
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        const std::string keptName = fs::relative(it->path(), root, error).string();
        if (const std::optional<std::string> original = OriginalPathOf(keptName))
            kept.push_back({keptName, *original});
    }
    std::sort(kept.begin(), kept.end(),
              [](const KeptRecording& a, const KeptRecording& b) { return a.keptName < b.keptName; });
    return kept;
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
