#include "index/archive_index.h"
#include "index/index_settings.h"
#include "search/archive_search.h"
#include "statistics/call_statistics.h"
#include "statistics/chart_picture.h"
#include "statistics/statistics_table.h"
#include "statistics/statistics_worker.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

// voctool stats: the figures of the window "通话统计" as lines, and its charts as a picture.

namespace {

constexpr const char* kStatsUsage =
    "stats DIR|--all [--recursive] [--from YYYY-MM-DD --to YYYY-MM-DD] [--by day|week|month] [--png OUT.png]";

struct StatsOptions {
    CommandArgs rowArgs; // DIR or --all, with --from and --to when given
    std::optional<PeriodKind> period;
    std::string png;
};

int StatsUsage(const std::string& problem)
{
    Say(problem);
    return SayUsage(kStatsUsage);
}

std::optional<PeriodKind> PeriodNamed(const std::string& name)
{
    constexpr std::pair<const char*, PeriodKind> kNames[] = {
        {"day", PeriodKind::Day}, {"week", PeriodKind::Week}, {"month", PeriodKind::Month}};
    for (const auto& [text, kind] : kNames)
        if (name == text)
            return kind;
    return std::nullopt;
}

// Takes --by and --png out of the words; the text is the problem, if any.
std::optional<std::string> SplitStatsArguments(const CommandArgs& args, StatsOptions& options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word != "--by" && word != "--png") {
            options.rowArgs.push_back(word);
            continue;
        }
        if (i + 1 == args.size())
            return Filled(Voctool::tr("%1 needs a value"), {word});
        const std::string& value = args[++i];
        if (word == "--png") {
            options.png = value;
        } else if (!(options.period = PeriodNamed(value))) {
            return Filled(Voctool::tr("--by must be day, week or month, not '%1'"), {value});
        }
    }
    return std::nullopt;
}

// The count of every folder the index knows, brought up to date (a changed folder is read again),
// by the index's queries: no row is kept, however many recordings and numbers there are.
int CountKnownFolders(CallStatistics& statistics)
{
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    if (!opened.message.empty())
        Say(opened.message);
    if (!opened.index)
        return 1;
    opened.index->FreshKnownFolders();
    Result<CallStatistics> counted = CountIndexedCalls(*opened.index, RowCriteria{});
    if (!counted) {
        Say(counted.error().reason);
        return 1;
    }
    statistics = std::move(*counted);
    return 0;
}

// The figures: of a search when days are given, else of the whole listing of DIR (with its
// subfolders after --recursive) or of every known folder.
int StatsOf(const CommandArgs& rowArgs, CallStatistics& statistics)
{
    const bool days = std::any_of(rowArgs.begin(), rowArgs.end(),
                                  [](const std::string& word) { return word == "--from" || word == "--to"; });
    CommandArgs folder = rowArgs;
    const FolderScope scope = std::erase(folder, "--recursive") > 0 ? FolderScope::WithSubfolders
                                                                    : FolderScope::FolderOnly;
    if (!days && (folder.size() != 1 || (folder[0].starts_with("--") && folder[0] != "--all")))
        return StatsUsage(
            (folder.empty() ? Voctool::tr("the folder DIR is missing") : Voctool::tr("give one folder DIR or --all"))
                .toStdString());
    if (!days && folder[0] == "--all") {
        if (scope == FolderScope::WithSubfolders)
            return StatsUsage(Voctool::tr("--recursive goes with a folder DIR, not with --all").toStdString());
        return CountKnownFolders(statistics);
    }
    std::vector<RecordingEntry> rows;
    if (const int failed = days ? SearchRows(rowArgs, rows, kStatsUsage) : ListedRows(folder[0], rows, scope))
        return failed;
    statistics = CountCalls(rows, UserTypesFromIndex(ConfiguredIndexLocation()));
    return 0;
}

// The chart drawing module beside voctool (the build tree), else where the package installs it.
std::string ChartModuleFolder()
{
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    if (std::filesystem::exists(program / kChartPictureModule))
        return program.string();
    return (program / SDVOICE_MODULES_FROM_PROGRAM).lexically_normal().string();
}

int WritePicture(const CallStatistics& statistics, PeriodKind kind, const std::string& path)
{
    if (Result<void> saved = WriteChartPicture(ChartModuleFolder(), statistics, kind, path); !saved) {
        Say(saved.error().reason);
        return 1;
    }
    return 0;
}

} // namespace

int RunStats(const CommandArgs& args)
{
    StatsOptions options;
    if (std::optional<std::string> problem = SplitStatsArguments(args, options))
        return StatsUsage(*problem);
    CallStatistics statistics;
    if (const int failed = StatsOf(options.rowArgs, statistics))
        return failed;
    const PeriodKind kind = options.period.value_or(AutomaticPeriod(statistics));
    for (const std::vector<std::string>& line : StatisticsSheet(statistics, kind).rows)
        PrintLine(line);
    if (const int failed = FinishOutput())
        return failed;
    return options.png.empty() ? 0 : WritePicture(statistics, kind, options.png);
}
