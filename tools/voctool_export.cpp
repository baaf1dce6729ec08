#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "export/export_file.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr const char* kUsage =
    "export DIR [--search --from YYYY-MM-DD --to YYYY-MM-DD [--recursive] [--mode NAME] [--phone TEXT]] OUT.xlsx";

int ExportUsage(const std::string& problem)
{
    Say(problem);
    return SayUsage(kUsage);
}

bool IsOption(const std::string& word)
{
    return word.rfind("--", 0) == 0;
}

// The card's list as the main window shows it: ordered by file name and renumbered.
int FillCatalogue(const CommandArgs& words, RecordingModel& model)
{
    if (words.size() != 1 || IsOption(words.front())) {
        const auto option = std::find_if(words.begin(), words.end(), IsOption);
        if (option != words.end())
            return ExportUsage(
                Filled(Voctool::tr("unknown option %1 (the search options follow --search)"), {*option}));
        return ExportUsage(
            (words.empty() ? Voctool::tr("the folder DIR is missing") : Voctool::tr("only one folder can be exported"))
                .toStdString());
    }
    std::vector<RecordingEntry> rows;
    if (const int failed = CardRows(words.front(), rows))
        return failed;
    model.AppendBatch(std::move(rows));
    OrderAsCatalogue(model);
    return 0;
}

// The search results as the search window shows them, with the folder column after --recursive.
int FillSearchResults(const CommandArgs& words, RecordingModel& model)
{
    std::vector<RecordingEntry> rows;
    std::string searchedWithSubfolders;
    if (const int failed = SearchRows(words, rows, kUsage, &searchedWithSubfolders))
        return failed;
    model.SetFolderColumn(searchedWithSubfolders);
    model.AppendBatch(std::move(rows));
    return 0;
}

int ReportOutcome(const Result<ExportOutcome>& outcome, const std::string& out)
{
    if (!outcome) {
        Say(outcome.error().reason);
        return 1;
    }
    switch (*outcome) {
    case ExportOutcome::Written:
        return 0;
    case ExportOutcome::NothingToExport:
        Say(Voctool::tr("there are no recordings to export; %1 is not written"), {out});
        break;
    case ExportOutcome::HeldOpen:
        Say(Voctool::tr("%1 is open in a spreadsheet program or cannot be replaced; close it first"), {out});
        break;
    case ExportOutcome::SymbolicLink:
        Say(Voctool::tr("%1 is a symbolic link, which is not followed; nothing is written"), {out});
        break;
    }
    return 1;
}

} // namespace

int RunExport(const CommandArgs& args)
{
    if (args.size() < 2 || IsOption(args.back()))
        return ExportUsage(Voctool::tr("DIR and OUT.xlsx are needed").toStdString());
    CommandArgs words(args.begin(), args.end() - 1);
    const auto searchWord = std::find(words.begin(), words.end(), "--search");
    const bool search = searchWord != words.end();
    if (search)
        words.erase(searchWord);

    RecordingModel model;
    if (const int failed = search ? FillSearchResults(words, model) : FillCatalogue(words, model))
        return failed;
    // The main window leaves its last column (the full path) out of the item rows.
    const int itemColumns = search ? model.columnCount() : model.columnCount() - 1;
    return ReportOutcome(ExportList(model, itemColumns, args.back()), args.back());
}
