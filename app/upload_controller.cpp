#include "app/upload_controller.h"

#include "catalogue/upload_settings.h"
#include "index/index_host.h"
#include "platform/locations.h"
#include "platform/qt_text.h"

#include <filesystem>
#include <utility>

namespace {

// The card as the desktop names it: the volume's folder, which holds the recorder's "VOICE"
// folder ("/media/clerk/SDCARD/VOICE/" is "SDCARD"); the folder itself when it has no parent.
QString CardName(const std::string& devicePath)
{
    const std::filesystem::path folder = std::filesystem::path(devicePath).parent_path();
    const std::filesystem::path volume = folder.parent_path().filename();
    return ToQString((volume.empty() ? folder : volume).string());
}

} // namespace

// The worker's reports arrive queued, in the order it sent them.
UploadController::UploadController(IndexOwner indexOwner, QObject* parent)
    : QObject(parent), indexOwner_(std::move(indexOwner))
{
    connect(&worker_, &UploadWorker::started, this, &UploadController::cardAnswered);
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
    caption_ = QString::fromUtf8(kUploadCaption);
    if (automatic)
        caption_ += QStringLiteral(" - 录音卡 ") + CardName(devicePath);
    // The window shows the run from the click: the worker's first report waits for the card.
    emit started(static_cast<int>(names.size()));
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
    emit finished(ToQString(UploadEndText(outcome, summaryWanted_)), caption_);
}
