#include "app/main_window.h"

#include "app/upload_commands.h"
#include "app/upload_controller.h"
#include "catalogue/card_commands.h"
#include "catalogue/category.h"
#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "catalogue/recording_model.h"
#include "catalogue/upload_options_dialog.h"
#include "catalogue/upload_settings.h"
#include "platform/config_file.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"

#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <filesystem>
#include <utility>

// The upload, deletion and upload-folder commands of the main window.

namespace {

QString ExistingFolderOrEmpty(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error) ? ToQString(path) : QString();
}

} // namespace

// A run shows itself from the click on: a card that is slow to answer before the first file
// leaves "正在等待录音卡..." and the commands disabled, not a window that seems to ignore the click.
void MainWindow::ConnectUpload()
{
    connect(uploadController_, &UploadController::started, this, [this](int fileCount) {
        ShowUploadPanel(true);
        busyPanel_->setText(QString::fromUtf8(kWaitingForCardText));
        progressBar_->setRange(0, fileCount);
        progressBar_->setValue(0);
        progressBar_->show();
        SetUploadCommandsEnabled(false);
    });
    connect(uploadController_, &UploadController::cardAnswered, this,
            [this] { busyPanel_->setText(QString::fromUtf8(kUploadingText)); });
    connect(uploadController_, &UploadController::fileStarted, this, [this](int position, const QString& fileName) {
        progressBar_->setValue(position);
        busyPanel_->setText(QString::fromUtf8(kUploadingFilePrefix) + fileName);
    });
    connect(uploadController_, &UploadController::overwriteQuestion, this, &MainWindow::AskOverwrite);
    connect(uploadController_, &UploadController::finished, this,
            [this](const QString& message, const QString& caption) {
                ShowUploadPanel(false);
                endMessages_.emplace_back(message, caption);
                if (!showingEndMessages_)
                    ShowEndMessages();
            });
}

// Each run's message in turn. A box runs the window's events while it is open, so another card's
// automatic run may end meanwhile: its message waits until this box is closed instead of opening
// over it. The bar stays and the commands stay disabled until the last message is closed.
void MainWindow::ShowEndMessages()
{
    showingEndMessages_ = true;
    while (!endMessages_.empty()) {
        const auto [message, caption] = endMessages_.front();
        endMessages_.pop_front();
        if (!message.isEmpty())
            ShowMessage(this, message, caption, MessageIcon::Warning);
        if (endMessages_.empty() && !uploadController_->running()) {
            busyPanel_->setText(QString::fromUtf8(kCardListingText));
            progressBar_->setValue(0);
            progressBar_->hide();
            SetUploadCommandsEnabled(true);
        }
        emit uploadFinished();
    }
    showingEndMessages_ = false;
}

void MainWindow::ShowUploadPanel(bool visible)
{
    busyPanel_->setVisible(visible);
    if (visible)
        busyPanel_->raise();
}

// The six buttons "删除记录", "上传路径", "上传所选", "分类上传", "全部上传", "系统退出".
void MainWindow::SetUploadCommandsEnabled(bool enabled)
{
    for (QPushButton* button : {deleteButton_, uploadFolderButton_, uploadSelectedButton_, uploadCategoryButton_,
                                uploadAllButton_, exitButton_})
        button->setEnabled(enabled);
    // A recording put back while a run copies into the folder could meet a copy of its name.
    replacedAction_->setEnabled(enabled);
}

void MainWindow::AskOverwrite(const QString& fileName)
{
    ShowUploadPanel(false);
    OverwriteQuestionDialog dialog(fileName, this);
    const DialogResult answer = uploadCommands().askOverwrite(dialog);
    ShowUploadPanel(true);
    uploadController_->Answer(answer);
}

UploadCommands& MainWindow::uploadCommands()
{
    if (uploadCommands_ == nullptr)
        uploadCommands_ = new UploadCommands(this);
    return *uploadCommands_;
}

std::vector<int> MainWindow::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : recordingView_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The steps every upload command shares once it has its names.
void MainWindow::StartUpload(const std::vector<std::string>& names)
{
    EnsureTrailingSeparator(uploadPath_);
    CreateUploadFolder(uploadPath_);
    uploadController_->Start(names, devicePath_, uploadPath_, false);
}

void MainWindow::EditUploadOptions()
{
    UploadOptionsDialog dialog(ReadUploadSettings(SettingsFilePath()), this);
    if (uploadCommands().askUploadOptions(dialog) != DialogResult::Ok)
        return;
    if (const Result<void> written = WriteUploadSettings(SettingsFilePath(), dialog.settings()); !written)
        ShowErrorBox(this, written.error());
}

void MainWindow::DeleteSelected()
{
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        ShowMessage(this, QStringLiteral("请先在列表中选择要删除的录音。"), QStringLiteral("提示"),
                    MessageIcon::Warning);
        return;
    }
    std::vector<std::string> names = CollectSelectedFiles(recordingModel_->entries(), rows);
    std::reverse(names.begin(), names.end()); // from the last row to the first
    std::vector<std::string> kept = DeleteRecordingFiles(names, devicePath_);
    std::ranges::reverse(kept); // the message lists them as the list shows them
    // A file still on the card keeps its row: the list never shows a recording as gone that
    // would come back at the next insertion.
    std::erase_if(rows, [&](int row) {
        return std::ranges::find(kept, recordingModel_->entries()[std::size_t(row)].fileName()) != kept.end();
    });
    recordingModel_->RemoveRows(std::move(rows));
    if (!kept.empty())
        ShowMessage(this, ToQString(UndeletedFilesMessage(kept)), QStringLiteral("提示"), MessageIcon::Warning);
    recordingView_->setFocus();
}

void MainWindow::ChooseUploadFolder()
{
    recordingView_->setFocus();
    const QString chosen =
        uploadCommands().chooseFolder(this, QStringLiteral("选择上传路径："), ExistingFolderOrEmpty(uploadPath_));
    if (chosen.isEmpty())
        return;
    uploadPath_ = chosen.toStdString();
    ShowMessage(this, QStringLiteral("路径设置为：") + chosen, QStringLiteral("提示"), MessageIcon::Warning);
    uploadPathEdit_->setText(chosen);
    if (const Result<ConfigLines> written = SaveUploadPath(uploadPath_); !written)
        ShowErrorBox(this, written.error());
}

void MainWindow::UploadSelected()
{
    recordingView_->setFocus();
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        ShowMessage(this, QStringLiteral("请选择要上传的文件。"), QStringLiteral("提示信息"), MessageIcon::Information);
        return;
    }
    StartUpload(CollectSelectedFiles(recordingModel_->entries(), rows));
}

void MainWindow::UploadByCategory()
{
    std::vector<std::string> names;
    {
        CategoryUploadDialog dialog(this);
        if (uploadCommands().askCategory(dialog) != DialogResult::Ok)
            return;
        recordingView_->setFocus();
        const UploadCategory category = dialog.category();
        names = CollectByCategory(recordingModel_->entries(), category.kind, category.text);
    }
    if (names.empty()) {
        ShowMessage(this, QStringLiteral("没有检索到匹配的语音！"), QStringLiteral("提示"), MessageIcon::Warning);
        return;
    }
    StartUpload(names);
}

void MainWindow::UploadAll()
{
    recordingView_->setFocus();
    UploadAllRows(false);
}

void MainWindow::UploadAllRows(bool automatic)
{
    EnsureTrailingSeparator(uploadPath_);
    CreateUploadFolder(uploadPath_);
    if (recordingModel_->rowCount() == 0)
        return;
    uploadController_->Start(CollectAllFiles(recordingModel_->entries()), devicePath_, uploadPath_, automatic);
}

void MainWindow::StopUpload()
{
    recordingView_->setFocus();
    uploadController_->Stop();
}

// Leaving during a run (the menu and the close box stay usable) ends the run after the
// current file.
void MainWindow::closeEvent(QCloseEvent* event)
{
    uploadController_->Stop();
    QMainWindow::closeEvent(event);
}
