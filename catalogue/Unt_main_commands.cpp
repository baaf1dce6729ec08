#include "catalogue/Unt_main.h"

#include "app/Unt_public.h"
#include "app/config_file.h"
#include "app/message_box.h"
#include "catalogue/Unt_bytype.h"
#include "catalogue/Unt_mbox.h"
#include "catalogue/card_commands.h"
#include "catalogue/category.h"
#include "catalogue/recording_model.h"
#include "catalogue/upload_commands.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <filesystem>

// The upload, deletion and upload-folder commands of the main window.

namespace {

QString ToQt(const std::string& text)
{
    return QString::fromStdString(text);
}

std::vector<int> SelectedRows(const TFrmMain& window)
{
    std::vector<int> rows;
    for (const QModelIndex& index : window.ListViewVoice->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString ExistingFolderOrEmpty(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error) ? ToQt(path) : QString();
}

} // namespace

UploadCommands::UploadCommands(TFrmMain& window) : QObject(&window), uploader(WindowCallbacks(window))
{
    execOverwriteQuestion = [](TFrmMbox& dialog) { return dialog.exec(); };
    execCategoryDialog = [](TFrmBytype& dialog) { return dialog.exec(); };
    chooseFolder = [](QWidget* owner, const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(owner, title, startFolder);
    };
}

UploadWindow UploadCommands::WindowCallbacks(TFrmMain& window)
{
    TFrmMain* w = &window;
    UploadWindow callbacks;
    callbacks.panelText = [w] { return w->PanelShow->text().toStdString(); };
    callbacks.setPanelText = [w](const std::string& text) { w->PanelShow->setText(ToQt(text)); };
    callbacks.setPanelVisible = [w](bool visible) {
        w->PanelShow->setVisible(visible);
        if (visible)
            w->PanelShow->raise();
    };
    callbacks.setProgressMaximum = [w](int maximum) { w->Pbarup->setRange(0, maximum); };
    callbacks.setProgressPosition = [w](int position) { w->Pbarup->setValue(position); };
    callbacks.setProgressVisible = [w](bool visible) { w->Pbarup->setVisible(visible); };
    callbacks.setCommandButtonsEnabled = [w](bool enabled) {
        for (QPushButton* button : {w->btnDel, w->btnPath, w->btnupone, w->btnuptype, w->btnupall, w->btnclose})
            button->setEnabled(enabled);
    };
    callbacks.processEvents = [] { QCoreApplication::processEvents(); };
    callbacks.askOverwrite = [w, this](const std::string& fileName) {
        TFrmMbox dialog(ToQt(fileName), w);
        return execOverwriteQuestion(dialog);
    };
    callbacks.showWarning = [w](const std::string& text, const std::string& caption) {
        ShowMessage(w, ToQt(text), ToQt(caption), MessageIcon::Warning);
    };
    return callbacks;
}

UploadCommands& TFrmMain::uploadCommands()
{
    if (uploadCommands_ == nullptr)
        uploadCommands_ = new UploadCommands(*this);
    return *uploadCommands_;
}

// The steps every upload command shares once it has its names.
void TFrmMain::StartUpload(const std::vector<std::string>& names)
{
    EnsureTrailingSeparator(uploadPath);
    CreateUploadFolder(uploadPath);
    uploadCommands().uploader.UploadFileList(names, devicePath, uploadPath);
}

void TFrmMain::btnDelClick()
{
    std::vector<int> rows = SelectedRows(*this);
    if (rows.empty()) {
        ShowMessage(this, QStringLiteral("请先在列表中选择要删除的录音。"), QStringLiteral("提示"),
                    MessageIcon::Warning);
        return;
    }
    std::vector<std::string> names = CollectSelectedFiles(voiceModel->entries(), rows);
    std::reverse(names.begin(), names.end()); // from the last row to the first
    DeleteRecordingFiles(names, devicePath);
    voiceModel->RemoveRows(std::move(rows));
    ListViewVoice->setFocus();
}

void TFrmMain::btnPathClick()
{
    ListViewVoice->setFocus();
    const QString chosen = uploadCommands().chooseFolder(this, QStringLiteral("选择上传路径："),
                                                         ExistingFolderOrEmpty(uploadPath));
    if (chosen.isEmpty())
        return;
    uploadPath = chosen.toStdString();
    ShowMessage(this, QStringLiteral("路径设置为：") + chosen, QStringLiteral("提示"), MessageIcon::Warning);
    EdtPath->setText(chosen);
    try {
        const ConfigLines written = SaveUploadPath(uploadPath);
        LbPath->clear();
        for (const std::string& line : written)
            LbPath->addItem(ToQt(line));
    } catch (const ConfigFileError& error) {
        ShowExceptionBox(this, error);
    }
}

void TFrmMain::btnuponeClick()
{
    ListViewVoice->setFocus();
    const std::vector<int> rows = SelectedRows(*this);
    if (rows.empty()) {
        ShowMessage(this, QStringLiteral("请选择要上传的文件。"), QStringLiteral("提示信息"),
                    MessageIcon::Information);
        return;
    }
    StartUpload(CollectSelectedFiles(voiceModel->entries(), rows));
}

void TFrmMain::btnuptypeClick()
{
    std::vector<std::string> names;
    {
        TFrmBytype dialog(this);
        if (uploadCommands().execCategoryDialog(dialog) != 1)
            return;
        ListViewVoice->setFocus();
        names = CollectByCategory(voiceModel->entries(), dialog.categoryKind, dialog.categoryText);
    }
    if (names.empty()) {
        ShowMessage(this, QStringLiteral("没有检索到匹配的语音！"), QStringLiteral("提示"), MessageIcon::Warning);
        return;
    }
    StartUpload(names);
}

void TFrmMain::btnupallClick()
{
    ListViewVoice->setFocus();
    EnsureTrailingSeparator(uploadPath);
    CreateUploadFolder(uploadPath);
    const int rowCount = voiceModel->rowCount();
    Pbarup->setRange(0, rowCount);
    if (rowCount == 0)
        return;
    Pbarup->setValue(0);
    uploadCommands().uploader.UploadFileList(CollectAllFiles(voiceModel->entries()), devicePath, uploadPath);
}

void TFrmMain::btnstopClick()
{
    ListViewVoice->setFocus();
    uploadCommands().uploader.RequestStop();
}

void TFrmMain::btncloseClick()
{
    close();
}

// Leaving during a run (the menu and the close box stay usable) ends the run after the
// current file.
void TFrmMain::closeEvent(QCloseEvent* event)
{
    uploadCommands().uploader.RequestStop();
    QMainWindow::closeEvent(event);
}

void TFrmMain::A3Click()
{
    btncloseClick();
}
