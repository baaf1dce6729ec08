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
    "stats DIR|--all [--recursive] [--from YYYY-MM-DD --to YYYY-MM-DD [--mode NAME] [--phone TEXT] [--desc TEXT] "
    "[--user-type TEXT]] [--by day|week|month] [--png OUT.png [--width PIXELS]]";

struct StatsOptions {
    CommandArgs searchOptions; // each written "--name=VALUE"
    CommandArgs folders;
    bool allFolders = false;
    bool recursive = false;
    std::optional<PeriodKind> period;
    std::string png;
    int width = kChartPictureWidest;
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

// Sets what option gives in options; the text is the problem, if any.
std::optional<std::string> UseValue(const OptionValue& option, StatsOptions& options)
{
    const auto& [name, value] = option;
    if (name == "--png") {
        options.png = value;
    } else if (name == "--by") {
        if (!(options.period = PeriodNamed(value)))
            return Filled(Voctool::tr("--by must be day, week or month, not '%1'"), {value});
    } else if (name == "--width") {
        const bool digits = !value.empty() && value.size() <= 4
                            && value.find_first_not_of("0123456789") == std::string::npos;
        options.width = digits ? std::stoi(value) : 0;
        if (options.width < kChartPictureNarrowest || options.width > kChartPictureWidest)
            return Filled(Voctool::tr("--width must be a number of pixels from %1 to %2, not '%3'"),
                          {std::to_string(kChartPictureNarrowest), std::to_string(kChartPictureWidest), value});
    } else {
        options.searchOptions.push_back(name + "=" + value);
    }
    return std::nullopt;
}

// Takes the option at args[i] (a word that begins with "--") with its value, if it has one, into
// options; the text is the problem, if any.
std::optional<std::string> TakeStatsOption(const CommandArgs& args, std::size_t& i, StatsOptions& options)
{
    constexpr std::string_view kOwn[] = {"--by", "--png", "--width"};
    std::string problem;
    std::optional<OptionValue> option = TakeOption(args, i, kOwn, problem);
    if (!option && problem.empty())
        option = TakeOption(args, i, kSearchValueOptions, problem);
    if (!problem.empty())
        return problem;
    if (option)
        return UseValue(*option, options);
    if (args[i] != "--all" && args[i] != "--recursive")
        return Filled(Voctool::tr("unknown option %1"), {args[i]});
    (args[i] == "--all" ? options.allFolders : options.recursive) = true;
    return std::nullopt;
}

// Splits the words into the folders and the options; the text is the problem, if any. After "--"
// every word is a folder, whatever it begins with.
std::optional<std::string> SplitStatsArguments(const CommandArgs& args, StatsOptions& options)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (optionsEnded || !args[i].starts_with("--"))
            options.folders.push_back(args[i]);
        else if (args[i] == "--")
            optionsEnded = true;
        else if (std::optional<std::string> problem = TakeStatsOption(args, i, options))
            return problem;
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
int StatsOf(const StatsOptions& options, CallStatistics& statistics)
{
    const bool days =
        std::any_of(options.searchOptions.begin(), options.searchOptions.end(),
                    [](const std::string& word) { return word.starts_with("--from=") || word.starts_with("--to="); });
    std::vector<RecordingEntry> rows;
    if (days) {
        CommandArgs words = options.searchOptions;
        if (options.recursive)
            words.push_back("--recursive");
        if (options.allFolders)
            words.push_back("--all");
        words.push_back("--");
        words.insert(words.end(), options.folders.begin(), options.folders.end());
        if (const int failed = SearchRows(words, rows, kStatsUsage))
            return failed;
    } else {
        if (!options.searchOptions.empty())
            return StatsUsage(Voctool::tr("the search options go with --from and --to").toStdString());
        if (options.allFolders == (options.folders.size() == 1) || options.folders.size() > 1)
            return StatsUsage((options.folders.empty() ? Voctool::tr("the folder DIR is missing")
                                                       : Voctool::tr("give one folder DIR or --all"))
                                  .toStdString());
        if (options.allFolders && options.recursive)
            return StatsUsage(Voctool::tr("--recursive goes with a folder DIR, not with --all").toStdString());
        if (options.allFolders)
            return CountKnownFolders(statistics);
        const FolderScope scope = options.recursive ? FolderScope::WithSubfolders : FolderScope::FolderOnly;
        if (const int failed = ListedRows(options.folders[0], rows, scope))
            return failed;
    }
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

int WritePicture(const CallStatistics& statistics, PeriodKind kind, const StatsOptions& options)
{
    if (Result<void> saved = WriteChartPicture(ChartModuleFolder(), statistics, kind, options.width, options.png);
        !saved) {
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
    if (const int failed = StatsOf(options, statistics))
        return failed;
    const PeriodKind kind = options.period.value_or(AutomaticPeriod(statistics));
    for (const std::vector<std::string>& line : StatisticsSheet(statistics, kind).rows)
        PrintLine(line);
    if (const int failed = FinishOutput())
        return failed;
    return options.png.empty() ? 0 : WritePicture(statistics, kind, options);
}
