#include "catalogue/replaced_recordings.h"
#include "catalogue/upload.h"
#include "catalogue/upload_settings.h"
#include "index/archive_index.h"
#include "platform/locations.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kUploadUsage =
    "upload CARD_FOLDER ARCHIVE_FOLDER [--skip-identical] [--month-folders] [--replace]";

struct UploadArguments {
    std::string card;
    std::string archive;
    bool replace = false;
    UploadOptions options;
};

// The words as arguments; false after a usage message.
bool ParseUploadArguments(const CommandArgs& args, UploadArguments& parsed)
{
    std::vector<std::string> folders;
    for (const std::string& word : args) {
        if (word == "--skip-identical") {
            parsed.options.skipIdentical = true;
        } else if (word == "--month-folders") {
            parsed.options.monthFolders = true;
        } else if (word == "--replace") {
            parsed.replace = true;
        } else if (word.rfind("--", 0) == 0) {
            Say(Voctool::tr("unknown option %1"), {word});
            SayUsage(kUploadUsage);
            return false;
        } else {
            folders.push_back(word);
        }
    }
    if (folders.size() != 2) {
        SayUsage(kUploadUsage);
        return false;
    }
    parsed.card = folders[0];
    parsed.archive = folders[1];
    EnsureTrailingSeparator(parsed.card);
    EnsureTrailingSeparator(parsed.archive);
    // A replaced file always goes into .replaced first; the settings say for how long.
    const int keepDays = ReadUploadSettings(SettingsFilePath()).options.keepReplacedDays;
    parsed.options.keepReplacedDays = keepDays > 0 ? keepDays : UploadOptions{}.keepReplacedDays;
    return true;
}

// What a run printed and found, for the summary and the exit status.
struct UploadLog {
    bool failed = false;
    std::vector<std::string> left; // archived files that differ and stayed as they were
};

// Without --replace the run answers every overwrite question with "否". Each file's line says what
// is in the archive once the run has ended.
UploadReports PrintingReports(const UploadArguments& parsed, UploadLog& log, UploadOutcome& outcome)
{
    UploadReports reports;
    reports.started = [](int) {};
    reports.fileStarted = [](int, const std::string&) {};
    // "全部" replaces without asking again, so the copies are flushed in batches, not one by one.
    reports.askOverwrite = [replace = parsed.replace](const std::string&) {
        return replace ? DialogResult::YesToAll : DialogResult::No;
    };
    reports.failed = [&log](std::string text) {
        std::replace(text.begin(), text.end(), '\n', ' ');
        Say(text);
        log.failed = true;
    };
    reports.finished = [&outcome](const UploadOutcome& finished) { outcome = finished; };
    reports.fileHandled = [&log](const std::string& path, FileResult result, const std::string& keptName) {
        switch (result) {
        case FileResult::Copied:
            Tell(Voctool::tr("copied %1"), {path});
            break;
        case FileResult::Replaced:
            Tell(Voctool::tr("replaced %1 (the archived one kept as %2/%3)"), {path, kReplacedFolderName, keptName});
            break;
        case FileResult::Identical:
            Tell(Voctool::tr("identical %1 (skipped)"), {path});
            break;
        case FileResult::Skipped:
            Tell(Voctool::tr("left %1 (the archived file differs)"), {path});
            log.left.push_back(path);
            break;
        case FileResult::Failed:
            Tell(Voctool::tr("left %1 on the card (its copy failed)"), {path});
            break;
        case FileResult::NotReached:
            Tell(Voctool::tr("left %1 on the card (the upload ended before it)"), {path});
            break;
        }
    };
    return reports;
}

} // namespace

int RunUpload(const CommandArgs& args)
{
    UploadArguments parsed;
    if (!ParseUploadArguments(args, parsed))
        return 2;
    std::vector<RecordingEntry> rows;
    if (const int status = CardRows(parsed.card, rows); status != 0)
        return status;
    std::vector<std::string> names = CollectAllFiles(rows);
    std::sort(names.begin(), names.end());

    UploadLog log;
    UploadOutcome outcome;
    CreateUploadFolder(parsed.archive);
    Uploader uploader(PrintingReports(parsed, log, outcome));
    uploader.UploadFileList(names, parsed.card, parsed.archive, parsed.options);
    Tell(Voctool::tr("copied %1, identical %2, replaced %3, left %4 of %5 recordings"),
         {std::to_string(outcome.copiedFiles), std::to_string(outcome.identicalFiles),
          std::to_string(outcome.replacedFiles), std::to_string(outcome.leftOnCard.size()),
          std::to_string(outcome.cardFiles)});
    for (const std::string& folder : outcome.folders)
        Tell(Voctool::tr("into %1"), {folder});
    for (const std::string& path : log.left)
        Tell(Voctool::tr("left as it was (differs; --replace replaces it): %1"), {path});
    for (const std::string& line : outcome.sumsFailures)
        Say(line);
    if (std::fflush(stdout) != 0)
        return 1;
    // Once all is said: a slow index server holds up no output.
    KnowFoldersIn(ConfiguredIndexLocation(), outcome.folders);
    return log.failed || !log.left.empty() ? 1 : 0;
}
