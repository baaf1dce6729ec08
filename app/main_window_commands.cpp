#include "app/main_window.h"

#include "app/upload_commands.h"
#include "catalogue/card_commands.h"
#include "catalogue/category.h"
#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "catalogue/recording_model.h"
#include "platform/config_file.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <filesystem>

// The upload, deletion and upload-folder commands of the main window.

namespace {

QString ExistingFolderOrEmpty(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error) ? ToQString(path) : QString();
}

} // namespace

UploadCommands::UploadCommands(MainWindow& window, UploadWindow callbacks)
    : QObject(&window), uploader(std::move(callbacks))
{
    askOverwrite = [](OverwriteQuestionDialog& dialog) { return DialogResult(dialog.exec()); };
    askCategory = [](CategoryUploadDialog& dialog) { return DialogResult(dialog.exec()); };
    chooseFolder = [](QWidget* owner, const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(owner, title, startFolder);
    };
}

UploadWindow MainWindow::UploadCallbacks()
{
    UploadWindow callbacks;
    callbacks.panelText = [this] { return busyPanel_->text().toStdString(); };
    callbacks.setPanelText = [this](const std::string& text) { busyPanel_->setText(ToQString(text)); };
    callbacks.setPanelVisible = [this](bool visible) {
        busyPanel_->setVisible(visible);
        if (visible)
            busyPanel_->raise();
    };
    callbacks.setProgressMaximum = [this](int maximum) { progressBar_->setRange(0, maximum); };
    callbacks.setProgressPosition = [this](int position) { progressBar_->setValue(position); };
    callbacks.setProgressVisible = [this](bool visible) { progressBar_->setVisible(visible); };
    callbacks.setCommandButtonsEnabled = [this](bool enabled) {
        for (QPushButton* button : {deleteButton_, uploadFolderButton_, uploadSelectedButton_, uploadCategoryButton_,
                                    uploadAllButton_, exitButton_})
            button->setEnabled(enabled);
    };
    callbacks.processEvents = [] { QCoreApplication::processEvents(); };
    callbacks.askOverwrite = [this](const std::string& fileName) {
        OverwriteQuestionDialog dialog(ToQString(fileName), this);
        return uploadCommands().askOverwrite(dialog);
    };
    callbacks.showWarning = [this](const std::string& text, const std::string& caption) {
        ShowMessage(this, ToQString(text), ToQString(caption), MessageIcon::Warning);
    };
    return callbacks;
}

UploadCommands& MainWindow::uploadCommands()
{
    if (uploadCommands_ == nullptr)
        uploadCommands_ = new UploadCommands(*this, UploadCallbacks());
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
    uploadCommands().uploader.UploadFileList(names, devicePath_, uploadPath_);
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
    DeleteRecordingFiles(names, devicePath_);
    recordingModel_->RemoveRows(std::move(rows));
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
    const Result<ConfigLines> written = SaveUploadPath(uploadPath_);
    if (!written) {
        ShowErrorBox(this, written.error());
        return;
    }
    ShowConfigLines(*written);
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
    EnsureTrailingSeparator(uploadPath_);
    CreateUploadFolder(uploadPath_);
    const int rowCount = recordingModel_->rowCount();
    progressBar_->setRange(0, rowCount);
    if (rowCount == 0)
        return;
    progressBar_->setValue(0);
    uploadCommands().uploader.UploadFileList(CollectAllFiles(recordingModel_->entries()), devicePath_, uploadPath_);
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
