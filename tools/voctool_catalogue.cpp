#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "search/archive_search.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <QDate>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace {

// DIR with exactly one "/" at its end, however many it was given with.
std::string FolderWithSeparator(std::string dir)
{
    if (dir.empty())
        return dir; // no folder at all, not the root
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir == "/" ? dir : dir + "/";
}

// One row per line: a tab, a line break or another control character stored in a phone
// field or a file name is written as "\xNN", the way undecodable phone bytes are shown.
void AppendPrintable(std::string& line, const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0xF];
        } else {
            line += c;
        }
    }
}

int ReportUnreadableFolder(const std::string& dir)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(dir, error);
    if (!std::filesystem::exists(status))
        Say(Voctool::tr("no such folder: %1"), {dir});
    else if (!std::filesystem::is_directory(status))
        Say(Voctool::tr("not a folder: %1"), {dir});
    else
        Say(Voctool::tr("cannot read the folder %1"), {dir});
    return 1;
}

// A day written YYYY-MM-DD, checked against the calendar.
std::optional<QDate> ParseDay(const std::string& text)
{
    const bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-'
        && std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
    if (!shaped)
        return std::nullopt;
    const QDate day(std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2)));
    if (!day.isValid())
        return std::nullopt;
    return day;
}

int SearchUsage(const std::string& problem, const char* usage)
{
    Say(problem);
    return SayUsage(usage);
}

bool IsModeItem(const std::string& mode)
{
    return std::find(std::begin(kModeFilterItems), std::end(kModeFilterItems), mode) != std::end(kModeFilterItems);
}

std::string ModeItemsText()
{
    std::string items;
    for (const std::string_view item : kModeFilterItems)
        items += (items.empty() ? "" : ", ") + std::string(item);
    return items;
}

struct SearchArguments {
    std::string dir;
    bool allFolders = false;                    // --all: every folder the archive index knows
    // --recursive: DIR with its subfolders
    FolderScope scope = FolderScope::FolderOnly;
    std::map<std::string, std::string> options; // "--from" -> value
};

// Takes the option at args[i] into parsed; the text is the problem, if any.
std::optional<std::string> TakeSearchOption(const CommandArgs& args, std::size_t& i, SearchArguments& parsed)
{
    std::string problem;
    const std::optional<OptionValue> option = TakeOption(args, i, kSearchValueOptions, problem);
    if (!problem.empty())
        return problem;
    if (option) {
        if (!parsed.options.emplace(option->name, option->value).second)
            return Filled(Voctool::tr("%1 is given twice"), {option->name});
    } else if (args[i] == "--all") {
        parsed.allFolders = true;
    } else if (args[i] == "--recursive") {
        parsed.scope = FolderScope::WithSubfolders;
    } else {
        return Filled(Voctool::tr("unknown option %1"), {args[i]});
    }
    return std::nullopt;
}

// Splits the words into DIR and the options with their values; the text is the problem, if any.
// After "--" every word is DIR, whatever it begins with.
std::optional<std::string> SplitSearchArguments(const CommandArgs& args, SearchArguments& parsed)
{
    bool haveDir = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (!optionsEnded && word.starts_with("--")) {
            optionsEnded = word == "--";
            if (std::optional<std::string> problem = optionsEnded ? std::nullopt : TakeSearchOption(args, i, parsed))
                return problem;
        } else if (haveDir) {
            return Voctool::tr("only one folder can be searched").toStdString();
        } else {
            parsed.dir = word;
            haveDir = true;
        }
    }
    if (haveDir && parsed.allFolders)
        return Voctool::tr("give either the folder DIR or --all").toStdString();
    if (parsed.allFolders && parsed.scope == FolderScope::WithSubfolders)
        return Voctool::tr("--recursive goes with a folder DIR, not with --all").toStdString();
    if (!haveDir && !parsed.allFolders)
        return Voctool::tr("the folder DIR is missing").toStdString();
    return std::nullopt;
}

// The criteria of the parsed words; the text is the problem, if any.
std::optional<std::string> MakeCriteria(const SearchArguments& parsed, SearchCriteria& criteria)
{
    for (const char* option : {"--from", "--to"}) {
        const auto value = parsed.options.find(option);
        if (value == parsed.options.end())
            return Filled(Voctool::tr("%1 is missing"), {option});
        const std::optional<QDate> day = ParseDay(value->second);
        if (!day)
            return Filled(Voctool::tr("%1 must be a day written YYYY-MM-DD, not '%2'"), {option, value->second});
        (std::string(option) == "--from" ? criteria.firstDay : criteria.lastDay) = *day;
    }
    if (const auto mode = parsed.options.find("--mode"); mode != parsed.options.end()) {
        if (!IsModeItem(mode->second))
            return Filled(Voctool::tr("--mode must be one of %1, not '%2'"), {ModeItemsText(), mode->second});
        criteria.mode = mode->second;
    }
    if (const auto phone = parsed.options.find("--phone"); phone != parsed.options.end())
        criteria.phone = phone->second;
    if (const auto description = parsed.options.find("--desc"); description != parsed.options.end())
        criteria.description = description->second;
    if (const auto userType = parsed.options.find("--user-type"); userType != parsed.options.end())
        criteria.userType = userType->second;
    criteria.scope = parsed.scope;
    return std::nullopt;
}

} // namespace

std::optional<OptionValue> TakeOption(const CommandArgs& args, std::size_t& i, std::span<const std::string_view> names,
                                      std::string& problem)
{
    const std::string& word = args[i];
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (!word.starts_with("--") || std::find(names.begin(), names.end(), name) == names.end())
        return std::nullopt;
    if (equals != std::string::npos)
        return OptionValue{name, word.substr(equals + 1)};
    if (i + 1 == args.size()) {
        problem = Filled(Voctool::tr("%1 needs a value"), {name});
        return std::nullopt;
    }
    if (args[i + 1].starts_with("--")) {
        problem = Filled(Voctool::tr("%1 needs a value, not the option %2 (a value that begins with -- is written "
                                     "%1=VALUE)"),
                         {name, args[i + 1]});
        return std::nullopt;
    }
    return OptionValue{name, args[++i]};
}

void PrintLine(const std::vector<std::string>& texts)
{
    std::string line;
    for (const std::string& text : texts) {
        if (&text != &texts.front())
            line += '\t';
        AppendPrintable(line, text);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void PrintRow(const RecordingEntry& row)
{
    PrintLine({row.texts.begin(), row.texts.end()});
}

int FinishOutput()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Say(Voctool::tr("cannot write the rows to standard output"));
        return 1;
    }
    return 0;
}

int ListedRows(const std::string& dir, std::vector<RecordingEntry>& rows, FolderScope scope)
{
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    if (!opened.message.empty())
        Say(opened.message);
    if (!dir.empty()) {
        // Through the index when there is one: the folder becomes known to it.
        FoundRows found;
        if (!ListFolderRows(FolderWithSeparator(dir), found, {}, opened.index.get(), scope))
            return ReportUnreadableFolder(dir);
        rows = std::move(found.rows);
        return 0;
    }
    if (!opened.index)
        return 1;
    // Each folder's rows are gathered as they come, then all sorted once.
    for (const std::string& folder : opened.index->KnownFolders())
        WalkFolderRows(opened.index.get(), folder, [&](const WalkEntry&, IndexedRow* row) {
            if (row)
                rows.push_back(std::move(row->row));
            return true;
        }); // a folder gone since gives no rows
    SortAndRenumber(rows, SortState{kColStartTime, false});
    return 0;
}

int CardRows(const std::string& dir, std::vector<RecordingEntry>& rows)
{
    const bool listed = ListRecordings(FolderWithSeparator(dir), [&](std::optional<RecordingEntry> row) {
        if (row)
            rows.push_back(std::move(*row));
    });
    return listed ? 0 : ReportUnreadableFolder(dir);
}

int SearchRows(const CommandArgs& args, std::vector<RecordingEntry>& rows, const char* usage,
               std::string* searchedWithSubfolders)
{
    SearchArguments parsed;
    SearchCriteria criteria;
    if (std::optional<std::string> problem = SplitSearchArguments(args, parsed))
        return SearchUsage(*problem, usage);
    if (std::optional<std::string> problem = MakeCriteria(parsed, criteria))
        return SearchUsage(*problem, usage);

    // Through the archive index (made where there is none): a folder searched becomes known to it,
    // and only its changed files are opened.
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    if (!opened.message.empty())
        Say(opened.message);
    if (parsed.allFolders && !opened.index)
        return 1;
    SearchResult result = parsed.allFolders
                              ? SearchKnownFolders(*opened.index, criteria)
                              : SearchArchiveFolder(FolderWithSeparator(parsed.dir), criteria, {}, opened.index.get());
    switch (result.outcome) {
    case SearchOutcome::FromAfterTo:
        Say(Voctool::tr("the first day (--from) lies after the last day (--to)"));
        return 1;
    case SearchOutcome::FolderUnreadable:
        return ReportUnreadableFolder(parsed.dir);
    case SearchOutcome::Searched:
        break;
    }
    rows = std::move(result.rows);
    if (searchedWithSubfolders && parsed.scope == FolderScope::WithSubfolders)
        *searchedWithSubfolders = FolderWithSeparator(parsed.dir);
    return 0;
}

int RunList(const CommandArgs& args)
{
    if (args.size() != 1) {
        return SayUsage("list DIR");
    }
    const bool listed = ListRecordings(FolderWithSeparator(args[0]), [](std::optional<RecordingEntry> row) {
        if (row)
            PrintRow(*row);
    });
    if (!listed)
        return ReportUnreadableFolder(args[0]);
    return FinishOutput();
}

int RunSearch(const CommandArgs& args)
{
    std::vector<RecordingEntry> rows;
    if (const int failed =
            SearchRows(args, rows,
                       "search DIR|--all --from YYYY-MM-DD --to YYYY-MM-DD [--recursive] [--mode NAME] [--phone TEXT] "
                       "[--desc TEXT] [--user-type TEXT]"))
        return failed;
    for (const RecordingEntry& row : rows)
        PrintRow(row);
    return FinishOutput();
}
