#pragma once

#include "catalogue/catalogue_scan.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class MountWatcher;
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QTableView;
class QTimer;
class RecordingModel;

// The main window "SD卡录音设备语音管理软件": notices the recorder's card, lists its
// recordings and carries the upload, deletion and menu commands. Object names equal the
// member names of the controls.
class TFrmMain : public QMainWindow {
    Q_OBJECT

public:
    using DriveFinder = std::function<std::optional<std::string>()>;

    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // Replaces the search for the recorder's card (tests point it at a sample folder).
    void SetDriveFinder(DriveFinder finder);

    // Controls.
    QLabel* STStatic = nullptr;
    QLabel* stPath = nullptr;
    QLineEdit* EdtPath = nullptr;
    QProgressBar* Pbarup = nullptr;
    QTableView* ListViewVoice = nullptr;
    RecordingModel* voiceModel = nullptr; // the rows of ListViewVoice
    QLabel* PanelShow = nullptr;
    QPushButton* btnDel = nullptr;
    QPushButton* btnPath = nullptr;
    QPushButton* btnupone = nullptr;
    QPushButton* btnuptype = nullptr;
    QPushButton* btnupall = nullptr;
    QPushButton* btnstop = nullptr;
    QPushButton* btnclose = nullptr;
    QListWidget* LbPath = nullptr; // hidden; the configuration lines read at creation
    QTimer* IDTIMER = nullptr;     // single shot, 300 ms before each device scan
    QAction* A1 = nullptr;         // 语音查询
    QAction* A3 = nullptr;         // 退出
    QAction* D2 = nullptr;         // 导出Excel
    QAction* E2 = nullptr;         // 密码设置
    QAction* E1 = nullptr;         // 关于系统

    // State (UTF-8 paths ending with "/").
    std::string uploadPath;
    std::string devicePath; // keeps its last value after the card is gone
    DeviceState deviceState() const;
    bool listedFlag() const;

    // Commands of the buttons and the menu.
    void btnDelClick();
    void btnPathClick();
    void btnuponeClick();
    void btnuptypeClick();
    void btnupallClick();
    void btnstopClick();
    void btncloseClick();
    void A1Click();
    void A3Click();
    void D2Click();
    void E2Click();
    void E1Click();

    // Detection: the scan timer's tick and a change of the mount table.
    void IDTIMERTimer();
    void MountTableChanged();
    // Places the list, the busy panel, the buttons and the progress bar for the window size.
    void LayoutMainWindow();

    // Upload commands
    // The upload state and the modal questions of these commands (catalogue/upload_commands.h),
    // made on first use and owned as a child object.
    class UploadCommands& uploadCommands();
    void StartUpload(const std::vector<std::string>& names);
    class UploadCommands* uploadCommands_ = nullptr;
    // End of upload commands

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void ConnectControls();
    void FormCreate();
    void WatchMountTable();
    void ShowDeviceState(DeviceState state);
    void SetStatus(const QString& text, const QColor& colour);
    void FillListFromDevice(const std::string& folder);

    DriveFinder driveFinder_;
    std::unique_ptr<DeviceCheck> deviceCheck_;
    std::unique_ptr<MountWatcher> mountWatcher_;
    QSocketNotifier* mountNotifier_ = nullptr;
};
