#include "catalogue/replaced_recordings.h"
#include "catalogue/upload.h"
#include "catalogue/upload_settings.h"
#include "index/archive_index.h"
#include "platform/locations.h"
#include "tools/voctool_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr const char* kUploadUsage =
    "usage: voctool upload CARD_FOLDER ARCHIVE_FOLDER [--skip-identical] [--month-folders] [--replace]\n";
constexpr const char* kReplacedUsage = "usage: voctool replaced DIR [--restore NAME [--as NEWNAME]]\n";

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
            std::fprintf(stderr, "voctool: unknown option %s\n%s", word.c_str(), kUploadUsage);
            return false;
        } else {
            folders.push_back(word);
        }
    }
    if (folders.size() != 2) {
        std::fputs(kUploadUsage, stderr);
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
    int identicalLeft = 0;         // identical archived files that the run did not replace
    std::vector<std::string> left; // archived files that differ and stayed as they were
};

// Without --replace the run answers every overwrite question with "否"; an archived file that it
// so leaves is still named identical when it has the card's bytes.
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
        std::fprintf(stderr, "voctool: %s\n", text.c_str());
        log.failed = true;
    };
    reports.finished = [&outcome](const UploadOutcome& finished) { outcome = finished; };
    reports.fileHandled = [&parsed, &log](const std::string& path, FileResult result, const std::string& keptName) {
        const std::string name = path.substr(path.rfind('/') + 1);
        if (result == FileResult::Skipped && SameSizeAndBytes(parsed.card + name, parsed.archive + path)) {
            ++log.identicalLeft;
            result = FileResult::Identical;
        }
        switch (result) {
        case FileResult::Copied:
            std::printf("copied %s\n", path.c_str());
            break;
        case FileResult::Replaced:
            std::printf("replaced %s (the archived one kept as %s/%s)\n", path.c_str(), kReplacedFolderName,
                        keptName.c_str());
            break;
        case FileResult::Identical:
            std::printf("identical %s (skipped)\n", path.c_str());
            break;
        case FileResult::Skipped:
            std::printf("left %s (the archived file differs)\n", path.c_str());
            log.left.push_back(path);
            break;
        }
    };
    return reports;
}

// An upload folder to list or restore into; a missing one or a file is refused with the reason.
bool IsFolder(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "voctool: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "voctool: %s: %s\n", path.c_str(), std::strerror(ENOTDIR));
        return false;
    }
    return true;
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
    std::printf("copied %d, identical %d, replaced %d, left %zu of %zu recordings\n", outcome.copiedFiles,
                outcome.identicalFiles + log.identicalLeft, outcome.replacedFiles, log.left.size(), names.size());
    for (const std::string& path : log.left)
        std::printf("left as it was (differs; --replace replaces it): %s\n", path.c_str());
    if (std::fflush(stdout) != 0)
        return 1;
    // Once all is said: a slow index server holds up no output.
    KnowFoldersIn(ConfiguredIndexLocation(), outcome.landedFolders);
    return log.failed || !log.left.empty() ? 1 : 0;
}

int RunReplaced(const CommandArgs& args)
{
    const bool restoring = (args.size() == 3 || args.size() == 5) && args[1] == "--restore";
    if ((args.size() != 1 && !restoring) || (args.size() == 5 && args[3] != "--as")) {
        std::fputs(kReplacedUsage, stderr);
        return 2;
    }
    std::string folder = args[0];
    if (!IsFolder(folder))
        return 1;
    EnsureTrailingSeparator(folder);
    if (!restoring) {
        for (const KeptRecording& kept : ListReplaced(folder))
            std::printf("%s\t%s\n", kept.keptName.c_str(), kept.originalPath.c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const Result<std::string> keptName = FindKeptName(folder, args[2]);
    if (!keptName) {
        std::fprintf(stderr, "voctool: %s\n", keptName.error().reason.c_str());
        return 1;
    }
    const std::string newName = args.size() == 5 ? args[4] : std::string();
    const Result<void> restored = RestoreReplaced(folder, *keptName, newName);
    if (!restored) {
        if (restored.error().error == EEXIST && newName.empty())
            std::fprintf(stderr,
                         "voctool: %s exists; it is not overwritten (restore under another name with --as NEWNAME)\n",
                         restored.error().path.c_str());
        else if (restored.error().error == EEXIST)
            std::fprintf(stderr, "voctool: %s exists; it is not overwritten\n", restored.error().path.c_str());
        else
            std::fprintf(stderr, "voctool: %s\n", restored.error().reason.c_str());
        return 1;
    }
    const std::string original = keptName->substr(keptName->find('/') + 1);
    std::printf("restored %s\n", newName.empty() ? original.c_str() : (original + " as " + newName).c_str());
    return 0;
}
