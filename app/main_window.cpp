#include "app/main_window.h"

#include "app/about_dialog.h"
#include "app/change_password_dialog.h"
#include "app/menu_icons.h"
#include "app/statistics_command.h"
#include "app/upload_controller.h"
#include "catalogue/card_lister.h"
#include "catalogue/recording_model.h"
#include "catalogue/replaced_recordings_dialog.h"
#include "catalogue/upload.h"
#include "catalogue/upload_settings.h"
#include "export/list_export.h"
#include "index/index_host.h"
#include "platform/common_widgets.h"
#include "platform/config_file.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/mount_watcher.h"
#include "platform/qt_text.h"
#include "search/archive_verify_dialog.h"
#include "search/search_window.h"
#include "styling/flat_styler.h"
#include "web/web_access_dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <utility>

namespace {

const QColor kBackground(221, 221, 225);
const QColor kConnectedColour(0, 128, 0);
const QColor kDisconnectedColour(255, 0, 0);
const QString kConnectedText = QStringLiteral("设备状态：设备已连接");
const QString kDisconnectedText = QStringLiteral("设备状态：设备未连接");
constexpr int kScanDelayMs = 300;
constexpr int kListLeft = 24;
constexpr int kListTop = 40;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr QSize kOuterSize(935, 566);
// Below this the buttons would overlap and the progress bar would have no room beside the path.
constexpr QSize kMinimumSize(800, 400);

QPushButton* MakeButton(QWidget* parent, const char* objectName, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->resize(kButtonWidth, kButtonHeight);
    return button;
}

QAction* AddAction(QMenu* menu, const char* objectName, const QString& text, std::optional<MenuIcon> icon = {})
{
    QAction* action = icon ? menu->addAction(DrawMenuIcon(*icon), text) : menu->addAction(text);
    action->setObjectName(QString::fromLatin1(objectName));
    return action;
}

// The user guide where the package installs it, found from the program's own folder
// (SDVOICE_GUIDE_FROM_PROGRAM: the guide's path relative to the programs' folder). The build
// tree makes it below the program's own folder ("share/..." beside the program instead of
// "../share/..."), so that ./run.sh opens it too.
QString UserGuidePath()
{
    const QString installed = QString::fromUtf8(SDVOICE_GUIDE_FROM_PROGRAM);
    const QDir programs(QCoreApplication::applicationDirPath());
    const QString path = QDir::cleanPath(programs.filePath(installed));
    if (QFileInfo::exists(path) || !installed.startsWith(QLatin1String("../")))
        return path;
    const QString inBuildTree = QDir::cleanPath(programs.filePath(installed.mid(3)));
    return QFileInfo::exists(inBuildTree) ? inBuildTree : path;
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), driveFinder_([] { return FindRecorderDrive(); }),
      guideOpener_([](const QUrl& page) { return QDesktopServices::openUrl(page); })
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("SD卡录音设备语音管理软件"));
    QFont font(QStringLiteral("新宋体"));
    font.setPixelSize(12);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    BuildControls();
    BuildMenu();
    ConnectControls();
    AttachFlatStyler(this);
    setMinimumSize(kMinimumSize);
    ResizeOuter(kOuterSize);

    cardLister_ = new CardLister(this);
    deviceCheck_ = std::make_unique<DeviceCheck>(
        *recordingModel_, DeviceCheckHooks{
                              [this] { return driveFinder_(); },
                              [this](const std::string& folder) { devicePath_ = folder; },
                              [this](const std::string& folder) { cardLister_->Start(folder); },
                              [this](DeviceState state) { ShowDeviceState(state); },
                          });
    ConnectCardLister();
    connect(recordingModel_, &RecordingModel::rowsInserted, this, &MainWindow::ShowCardCount);
    connect(recordingModel_, &RecordingModel::rowsRemoved, this, &MainWindow::ShowCardCount);
    connect(recordingModel_, &RecordingModel::modelReset, this, &MainWindow::ShowCardCount);
    uploadController_ = new UploadController([this] { return archiveIndex(); }, this);
    ConnectUpload();
    WatchMountTable();
    ReadConfiguration();
}

// The workers stop before the window they report to is taken apart.
MainWindow::~MainWindow()
{
    cardLister_->Stop();
    delete uploadController_;
}

void MainWindow::ConnectCardLister()
{
    connect(cardLister_, &CardLister::rowsListed, this,
            [this](const std::shared_ptr<std::vector<RecordingEntry>>& rows) {
                recordingModel_->AppendBatch(std::move(*rows));
            });
    connect(cardLister_, &CardLister::finished, this, [this](bool completed) {
        deviceCheck_->ListingEnded(completed);
        if (completed && ReadUploadSettings(SettingsFilePath()).automatic && !uploadController_->running())
            UploadAllRows(true);
        emit cardListed();
    });
}

void MainWindow::SetDriveFinder(DriveFinder finder)
{
    driveFinder_ = std::move(finder);
}

void MainWindow::SetGuideOpener(GuideOpener opener)
{
    guideOpener_ = std::move(opener);
}

void MainWindow::SetUploadPath(const std::string& path)
{
    uploadPath_ = path;
    uploadPathEdit_->setText(ToQString(path));
}

DeviceState MainWindow::deviceState() const
{
    return deviceCheck_->state();
}

bool MainWindow::listedFlag() const
{
    return deviceCheck_->listed();
}

void MainWindow::BuildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    statusLabel_ = new QLabel(kDisconnectedText, client);
    statusLabel_->setObjectName(QStringLiteral("STStatic"));
    statusLabel_->setGeometry(24, 12, 200, 16);
    SetTextColour(statusLabel_, kDisconnectedColour);
    // The listed card's count, just after the state's text.
    const int countLeft = statusLabel_->x() + statusLabel_->fontMetrics().horizontalAdvance(kConnectedText) + 8;
    cardCountLabel_ = new QLabel(client);
    cardCountLabel_->setObjectName(QStringLiteral("stCount"));
    cardCountLabel_->setGeometry(countLeft, 12, 256 - countLeft, 16);

    auto* pathLabel = new QLabel(QStringLiteral("上传路径："), client);
    pathLabel->setObjectName(QStringLiteral("stPath"));
    pathLabel->setGeometry(260, 12, 70, 16);

    uploadPathEdit_ = new QLineEdit(client);
    uploadPathEdit_->setObjectName(QStringLiteral("EdtPath"));
    uploadPathEdit_->setReadOnly(true);
    uploadPathEdit_->setGeometry(330, 9, 260, 21);
    pathLabel->setBuddy(uploadPathEdit_);

    progressBar_ = new QProgressBar(client);
    progressBar_->setObjectName(QStringLiteral("Pbarup"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setGeometry(610, 12, 200, 16);
    progressBar_->hide();

    recordingModel_ = new RecordingModel(this);
    recordingView_ = new QTableView(client);
    recordingView_->setObjectName(QStringLiteral("ListViewVoice"));
    recordingView_->setModel(recordingModel_);
    recordingView_->setAccessibleName(QStringLiteral("录音列表"));
    recordingView_->move(kListLeft, kListTop);
    SetUpRecordingView(recordingView_, QAbstractItemView::ExtendedSelection, {50, 100, 120, 80, 150, 100, 100, 150});

    busyPanel_ = MakeBusyPanel(QString::fromUtf8(kCardListingText), client);
    busyPanel_->resize(240, 50);

    deleteButton_ = MakeButton(client, "btnDel", QStringLiteral("删除记录"));
    uploadFolderButton_ = MakeButton(client, "btnPath", QStringLiteral("上传路径"));
    uploadSelectedButton_ = MakeButton(client, "btnupone", QStringLiteral("上传所选"));
    uploadCategoryButton_ = MakeButton(client, "btnuptype", QStringLiteral("分类上传"));
    uploadAllButton_ = MakeButton(client, "btnupall", QStringLiteral("全部上传"));
    stopButton_ = MakeButton(client, "btnstop", QStringLiteral("停止上传"));
    exitButton_ = MakeButton(client, "btnclose", QStringLiteral("系统退出"));
    QWidget* previous = recordingView_;
    for (QWidget* button : {deleteButton_, uploadFolderButton_, uploadSelectedButton_, uploadCategoryButton_,
                            uploadAllButton_, stopButton_, exitButton_})
        setTabOrder(std::exchange(previous, button), button);

    scanTimer_ = new QTimer(this);
    scanTimer_->setObjectName(QStringLiteral("IDTIMER"));
    scanTimer_->setSingleShot(true);
    scanTimer_->setInterval(kScanDelayMs);
}

void MainWindow::BuildMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    QMenu* voiceMenu = bar->addMenu(QStringLiteral("语音管理(&F)"));
    searchAction_ = AddAction(voiceMenu, "A1", QStringLiteral("语音查询(&F)"), MenuIcon::Search);
    replacedAction_ = AddAction(voiceMenu, "actReplaced", QStringLiteral("被替换的录音..."));
    connect(AddAction(voiceMenu, "actVerifyArchive", QStringLiteral("校验存档...")), &QAction::triggered, this,
            [this] { ArchiveVerifyDialog(uploadPath_, ExportListToExcel, this).exec(); });
    voiceMenu->addSeparator();
    exitAction_ = AddAction(voiceMenu, "A3", QStringLiteral("退出(&X)"), MenuIcon::Exit);
    QMenu* toolsMenu = bar->addMenu(QStringLiteral("工具(&T)"));
    exportAction_ = AddAction(toolsMenu, "D2", QStringLiteral("导出Excel(&E)"), MenuIcon::Spreadsheet);
    statisticsAction_ = AddAction(toolsMenu, "D3", QStringLiteral("通话统计(&S)"));
    QMenu* settingsMenu = bar->addMenu(QStringLiteral("设置(&E)"));
    passwordAction_ = AddAction(settingsMenu, "E2", QStringLiteral("密码设置(&E)"));
    uploadOptionsAction_ = AddAction(settingsMenu, "E3", QStringLiteral("上传选项..."));
    webAccessAction_ = AddAction(settingsMenu, "actWebAccess", QStringLiteral("网页访问..."));
    QMenu* helpMenu = bar->addMenu(QStringLiteral("帮助(&H)"));
    guideAction_ = AddAction(helpMenu, "actGuide", QStringLiteral("使用说明(&U)"));
    aboutAction_ = AddAction(helpMenu, "E1", QStringLiteral("关于系统(&H)"), MenuIcon::About);
}

void MainWindow::ConnectControls()
{
    connect(deleteButton_, &QPushButton::clicked, this, &MainWindow::DeleteSelected);
    connect(uploadFolderButton_, &QPushButton::clicked, this, &MainWindow::ChooseUploadFolder);
    connect(uploadSelectedButton_, &QPushButton::clicked, this, &MainWindow::UploadSelected);
    connect(uploadCategoryButton_, &QPushButton::clicked, this, &MainWindow::UploadByCategory);
    connect(uploadAllButton_, &QPushButton::clicked, this, &MainWindow::UploadAll);
    connect(stopButton_, &QPushButton::clicked, this, &MainWindow::StopUpload);
    connect(exitButton_, &QPushButton::clicked, this, &MainWindow::close);
    connect(exitAction_, &QAction::triggered, this, &MainWindow::close);
    connect(searchAction_, &QAction::triggered, this, &MainWindow::OpenSearchWindow);
    connect(replacedAction_, &QAction::triggered, this, &MainWindow::ShowReplacedRecordings);
    // The catalogue's last column (the full path) gets its title but no item cells.
    connect(exportAction_, &QAction::triggered, this,
            [this] { ExportListToExcel(*recordingView_->model(), this, recordingView_->model()->columnCount() - 1); });
    connect(statisticsAction_, &QAction::triggered, this, &MainWindow::OpenStatistics);
    connect(passwordAction_, &QAction::triggered, this, &MainWindow::ChangePassword);
    connect(uploadOptionsAction_, &QAction::triggered, this, &MainWindow::EditUploadOptions);
    connect(webAccessAction_, &QAction::triggered, this, &MainWindow::OpenWebAccess);
    connect(guideAction_, &QAction::triggered, this, &MainWindow::ShowUserGuide);
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::ShowAbout);
    connect(scanTimer_, &QTimer::timeout, this, &MainWindow::ScanDevice);
    connect(recordingView_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { recordingModel_->SortByColumnClick(column); });
}

// Reads the upload folder from the configuration file; a missing or empty file keeps the
// default.
void MainWindow::ReadConfiguration()
{
    SetUploadPath(DefaultUploadPath());
    const Result<ConfigLines> lines = ReadConfigLines();
    if (!lines) {
        ShowErrorBox(this, lines.error());
        return;
    }
    if (!lines->empty())
        SetUploadPath(lines->front());
}

void MainWindow::WatchMountTable()
{
    mountWatcher_ = std::make_unique<MountWatcher>();
    if (!mountWatcher_->valid())
        return;
    auto* notifier = new QSocketNotifier(mountWatcher_->fd(), QSocketNotifier::Exception, this);
    connect(notifier, &QSocketNotifier::activated, this, &MainWindow::MountTableChanged);
}

// Arming an armed timer adds no scan: each arming gives exactly one scan 300 ms later.
void MainWindow::MountTableChanged()
{
    if (mountWatcher_)
        mountWatcher_->Acknowledge();
    if (!scanTimer_->isActive())
        scanTimer_->start();
}

// The size and the centring count the window's frame, which is known only once the window is
// shown: applied at creation without it and again at the first show.
void MainWindow::ResizeOuter(QSize outer)
{
    ResizeToOuterSize(this, outer);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2));
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!outerSizeApplied_) {
        outerSizeApplied_ = true;
        ResizeOuter(kOuterSize);
    }
    if (!scanTimer_->isActive())
        scanTimer_->start();
}

void MainWindow::ScanDevice()
{
    scanTimer_->stop();
    deviceCheck_->Run();
}

void MainWindow::SetStatus(const QString& text, const QColor& colour)
{
    statusLabel_->setText(text);
    SetTextColour(statusLabel_, colour);
}

void MainWindow::ShowDeviceState(DeviceState state)
{
    switch (state) {
    case DeviceState::Listing:
        SetStatus(kConnectedText, kConnectedColour);
        focusBeforeListing_ = EnterBusy(this, busyPanel_);
        break;
    case DeviceState::Listed:
        LeaveBusy(this, busyPanel_, focusBeforeListing_);
        break;
    case DeviceState::NotConnected:
    case DeviceState::Waiting:
        SetStatus(kDisconnectedText, kDisconnectedColour);
        break;
    }
    ShowCardCount();
}

// How many recordings the listed card holds, kept while rows are deleted; nothing while no card
// is listed.
void MainWindow::ShowCardCount()
{
    const bool listed = deviceCheck_ && deviceCheck_->state() == DeviceState::Listed;
    cardCountLabel_->setText(listed ? QStringLiteral("共 %1 个录音").arg(recordingModel_->rowCount()) : QString());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    LayoutMainWindow();
}

// Places the list, the busy panel, the buttons and the progress bar for the window's outer size.
void MainWindow::LayoutMainWindow()
{
    const int w = frameGeometry().width();
    const int h = frameGeometry().height();
    recordingView_->setGeometry(kListLeft, kListTop, w - 60, h - 140);
    PlaceBusyPanel(busyPanel_, frameGeometry().size());
    const int step = w / 8;
    QPushButton* const buttons[] = {
        deleteButton_, uploadFolderButton_, uploadSelectedButton_, uploadCategoryButton_, uploadAllButton_,
        stopButton_,   exitButton_};
    for (int i = 0; i < 7; ++i)
        buttons[i]->move((i + 1) * step - 30, h - 90);
    const int barLeft = uploadPathEdit_->x() + uploadPathEdit_->width() + 20;
    progressBar_->setGeometry(barLeft, statusLabel_->y(), w - barLeft - 50, progressBar_->height());
}

void MainWindow::ChangePassword()
{
    ChangePasswordDialog dialog(this);
    dialog.exec();
}

void MainWindow::ShowAbout()
{
    AboutDialog dialog(this);
    dialog.exec();
}

// A guide that is missing or that no browser opens is named, so that the user can open it by hand.
void MainWindow::ShowUserGuide()
{
    const QString path = UserGuidePath();
    if (!QFileInfo::exists(path) || !guideOpener_(QUrl::fromLocalFile(path)))
        ShowMessage(this, QStringLiteral("无法打开使用说明：") + path, QStringLiteral("提示"), MessageIcon::Warning);
}

IndexHost* MainWindow::archiveIndex()
{
    if (!indexHost_)
        indexHost_ = new IndexHost(ConfiguredIndexLocation(), this);
    return indexHost_;
}

void MainWindow::OpenSearchWindow()
{
    SearchWindow window(this, MachineFolderRoots, {}, archiveIndex());
    window.SetUploadFolder(uploadPath_);
    window.SetListExporter(ExportListToExcel);
    window.SetStatisticsViewer(
        [this](RowsSnapshot rows, QWidget* owner) { ShowCallStatistics(std::move(rows), archiveIndex(), owner); });
    window.exec();
}

void MainWindow::OpenWebAccess()
{
    WebAccessDialog dialog(WebAccessPaths::Installed(), this);
    dialog.exec();
}

void MainWindow::OpenStatistics()
{
    ShowCallStatistics(recordingModel_->Snapshot(), archiveIndex(), this);
}

// What uploads replaced in the upload folder, to play and put back.
void MainWindow::ShowReplacedRecordings()
{
    std::string folder = uploadPath_;
    EnsureTrailingSeparator(folder);
    IndexHost* index = archiveIndex();
    const auto knownFolders = [index](QObject* receiver, std::function<void(std::vector<std::string>)> done) {
        index->AskKnownFolders(receiver, std::move(done));
    };
    ReplacedRecordingsDialog dialog(folder, knownFolders, {}, this);
    dialog.exec();
}
