#pragma once

#include "catalogue/catalogue_scan.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CardLister;
class IndexHost;
class MountWatcher;
class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class QUrl;
class RecordingModel;
class UploadCommands;
class UploadController;

// The busy panel's text while the card is listed, and between uploads.
inline constexpr char kCardListingText[] = "正在传输语音列表...";
// The busy panel's text from the click on an upload command until the card answers.
inline constexpr char kWaitingForCardText[] = "正在等待录音卡...";

// The main window "SD卡录音设备语音管理软件": notices the recorder's card, lists its
// recordings and carries the upload, deletion and menu commands. Every control's object name
// is the one the program's window definition gives it (btnupone, IDTIMER, A1, ...).
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    using DriveFinder = std::function<std::optional<std::string>()>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Replaces the search for the recorder's card (tests point it at a sample folder).
    void SetDriveFinder(DriveFinder finder);

    // Opens the user guide's page in the user's browser; false when it could not. Tests record
    // the address instead.
    using GuideOpener = std::function<bool(const QUrl& page)>;
    void SetGuideOpener(GuideOpener opener);

    // The upload folder (ending with "/" once an upload has run) and the card's folder; the
    // card's folder keeps its last value after the card is gone.
    const std::string& uploadPath() const { return uploadPath_; }
    void SetUploadPath(const std::string& path);
    const std::string& devicePath() const { return devicePath_; }
    DeviceState deviceState() const;
    bool listedFlag() const;
    const RecordingModel& recordingModel() const { return *recordingModel_; }

    // The modal questions of the upload commands, made on first use.
    UploadCommands& uploadCommands();
    UploadController& uploadController() { return *uploadController_; }

public slots:
    // Looks for the card and starts listing it; the scan timer's tick.
    void ScanDevice();
    // The mount table changed: a scan follows 300 ms later.
    void MountTableChanged();

signals:
    // A listing of the card has ended and its rows are shown.
    void cardListed();
    // An upload run has ended and its message has been closed.
    void uploadFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void ConnectControls();
    void ReadConfiguration();
    void WatchMountTable();
    void ResizeOuter(QSize outer);
    void LayoutMainWindow();
    void ShowDeviceState(DeviceState state);
    void SetStatus(const QString& text, const QColor& colour);
    void ConnectCardLister();
    void ShowCardCount();

    // The commands of the buttons and the menu (main_window_commands.cpp).
    void DeleteSelected();
    void ChooseUploadFolder();
    void UploadSelected();
    void UploadByCategory();
    void UploadAll();
    void StopUpload();
    void StartUpload(const std::vector<std::string>& names);
    void UploadAllRows(bool automatic);
    void EditUploadOptions();
    void ConnectUpload();
    void ShowUploadPanel(bool visible);
    void ShowEndMessages();
    void SetUploadCommandsEnabled(bool enabled);
    void AskOverwrite(const QString& fileName);
    std::vector<int> SelectedRows() const;
    void ChangePassword();
    void ShowAbout();
    void ShowUserGuide();
    // The program's archive index, opened when a window first needs it.
    IndexHost* archiveIndex();
    void OpenSearchWindow();
    void OpenStatistics();
    void ShowReplacedRecordings();
    void OpenWebAccess();

    QLabel* statusLabel_ = nullptr;
    QLabel* cardCountLabel_ = nullptr;
    QLineEdit* uploadPathEdit_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QTableView* recordingView_ = nullptr;
    RecordingModel* recordingModel_ = nullptr;
    QLabel* busyPanel_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* uploadFolderButton_ = nullptr;
    QPushButton* uploadSelectedButton_ = nullptr;
    QPushButton* uploadCategoryButton_ = nullptr;
    QPushButton* uploadAllButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QTimer* scanTimer_ = nullptr; // single shot, 300 ms before each device scan
    QAction* searchAction_ = nullptr;
    QAction* replacedAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* statisticsAction_ = nullptr;
    QAction* passwordAction_ = nullptr;
    QAction* uploadOptionsAction_ = nullptr;
    QAction* webAccessAction_ = nullptr;
    QAction* guideAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    UploadCommands* uploadCommands_ = nullptr;
    UploadController* uploadController_ = nullptr;
    CardLister* cardLister_ = nullptr;
    IndexHost* indexHost_ = nullptr; // see archiveIndex()
    QPointer<QWidget> focusBeforeListing_;
    // The messages of ended runs not yet shown (text, caption), and whether one is being shown.
    std::deque<std::pair<QString, QString>> endMessages_;
    bool showingEndMessages_ = false;

    bool outerSizeApplied_ = false;
    std::string uploadPath_;
    std::string devicePath_;
    DriveFinder driveFinder_;
    GuideOpener guideOpener_;
    std::unique_ptr<DeviceCheck> deviceCheck_;
    std::unique_ptr<MountWatcher> mountWatcher_;
};
