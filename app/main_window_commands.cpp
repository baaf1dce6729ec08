#include "app/main_window.h"

#include "app/upload_commands.h"
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
#include <QFileDialog>
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

UploadCommands::UploadCommands(MainWindow& window) : QObject(&window)
{
    askOverwrite = [](OverwriteQuestionDialog& dialog) { return DialogResult(dialog.exec()); };
    askCategory = [](CategoryUploadDialog& dialog) { return DialogResult(dialog.exec()); };
    askUploadOptions = [](UploadOptionsDialog& dialog) { return DialogResult(dialog.exec()); };
    chooseFolder = [](QWidget* owner, const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(owner, title, startFolder);
    };
}

// The worker's reports arrive queued, in the order it sent them.
void MainWindow::ConnectUpload(UploadWorker& worker)
{
    connect(&worker, &UploadWorker::started, this, [this](int fileCount) {
        ShowUploadPanel(true);
        busyPanel_->setText(QString::fromUtf8(kUploadingText));
        progressBar_->setRange(0, fileCount);
        progressBar_->show();
        SetUploadCommandsEnabled(false);
    });
    connect(&worker, &UploadWorker::fileStarted, this, [this](int position, const QString& fileName) {
        progressBar_->setValue(position);
        busyPanel_->setText(QString::fromUtf8(kUploadingFilePrefix) + fileName);
    });
    connect(&worker, &UploadWorker::overwriteQuestion, this, &MainWindow::AskOverwrite);
    // A failure is told when the run's end arrives: a box shown at once would let the end be
    // handled under it, with the bar gone and the commands enabled while it is still open.
    connect(&worker, &UploadWorker::finished, this, [this](const UploadOutcome& outcome) {
        ShowUploadPanel(false);
        busyPanel_->setText(QString::fromUtf8(kCardListingText));
        if (const std::string text = UploadEndText(outcome, summaryWanted_); !text.empty())
            ShowMessage(this, ToQString(text), QString::fromUtf8(kUploadCaption), MessageIcon::Warning);
        progressBar_->setValue(0);
        progressBar_->hide();
        SetUploadCommandsEnabled(true);
        emit uploadFinished();
    });
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
    for (QPushButton* button :
         {deleteButton_, uploadFolderButton_, uploadSelectedButton_, uploadCategoryButton_, uploadAllButton_, exitButton_})
        button->setEnabled(enabled);
    // A recording put back while a run copies into the folder could meet a copy of its name.
    replacedAction_->setEnabled(enabled);
}

// Anything but one of the question's own answers (the program is quitting) ends the run.
void MainWindow::AskOverwrite(const QString& fileName)
{
    ShowUploadPanel(false);
    OverwriteQuestionDialog dialog(fileName, this);
    DialogResult answer = uploadCommands().askOverwrite(dialog);
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
    ShowUploadPanel(true);
    uploadCommands().uploader.AnswerOverwrite(answer);
}

UploadCommands& MainWindow::uploadCommands()
{
    if (uploadCommands_ == nullptr) {
        uploadCommands_ = new UploadCommands(*this);
        ConnectUpload(uploadCommands_->uploader);
    }
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
    StartRun(names, false);
}

// A run started by the card's arrival, one that may skip files without a question, or one that
// spreads the files over month folders ends with the counts of what it did and where.
void MainWindow::StartRun(const std::vector<std::string>& names, bool automatic)
{
    const UploadSettings settings = ReadUploadSettings(SettingsFilePath());
    if (uploadCommands().uploader.Start(names, devicePath_, uploadPath_, settings.options))
        summaryWanted_ = automatic || settings.options.skipIdentical || settings.options.monthFolders;
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
    const int rowCount = recordingModel_->rowCount();
    progressBar_->setRange(0, rowCount);
    if (rowCount == 0)
        return;
    progressBar_->setValue(0);
    StartRun(CollectAllFiles(recordingModel_->entries()), automatic);
}

void MainWindow::StopUpload()
{
    recordingView_->setFocus();
    uploadCommands().uploader.RequestStop();
}

// Leaving during a run (the menu and the close box stay usable) ends the run after the
// current file.
void MainWindow::closeEvent(QCloseEvent* event)
{
    uploadCommands().uploader.RequestStop();
    QMainWindow::closeEvent(event);
}
