#include "app/upload_controller.h"

#include "catalogue/upload_settings.h"
#include "index/index_host.h"
#include "platform/locations.h"
#include "platform/qt_text.h"

#include <utility>

// The worker's reports arrive queued, in the order it sent them.
UploadController::UploadController(IndexOwner indexOwner, QObject* parent)
    : QObject(parent), indexOwner_(std::move(indexOwner))
{
    connect(&worker_, &UploadWorker::started, this, &UploadController::started);
    connect(&worker_, &UploadWorker::fileStarted, this, &UploadController::fileStarted);
    connect(&worker_, &UploadWorker::overwriteQuestion, this, &UploadController::overwriteQuestion);
    connect(&worker_, &UploadWorker::finished, this, &UploadController::Finish);
}

bool UploadController::Start(const std::vector<std::string>& names, const std::string& devicePath,
                             const std::string& uploadPath, bool automatic)
{
    const UploadSettings settings = ReadUploadSettings(SettingsFilePath());
    if (!worker_.Start(names, devicePath, uploadPath, settings.options))
        return false;
    summaryWanted_ = automatic || settings.options.skipIdentical || settings.options.monthFolders;
    return true;
}

void UploadController::Stop()
{
    worker_.RequestStop();
}

void UploadController::Answer(DialogResult answer)
{
    switch (answer) {
    case DialogResult::Yes:
    case DialogResult::YesToAll:
    case DialogResult::No:
    case DialogResult::NoToAll:
    case DialogResult::Cancel:
        break;
    default:
        answer = DialogResult::NoToAll;
    }
    worker_.AnswerOverwrite(answer);
}

void UploadController::SetCopyCall(TempCopyCall copy)
{
    worker_.SetCopyCall(std::move(copy));
}

// The index learns the folders on its own thread, so the end never waits for a slow index server.
void UploadController::Finish(const UploadOutcome& outcome)
{
    if (!outcome.folders.empty())
        if (IndexHost* index = indexOwner_())
            index->KnowFolders(outcome.folders);
    emit finished(ToQString(UploadEndText(outcome, summaryWanted_)));
}
