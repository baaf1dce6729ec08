#include "catalogue/Unt_main.h"

#include "app/Unt_about.h"
#include "app/Unt_changepwd.h"
#include "app/Unt_public.h"
#include "app/config_file.h"
#include "catalogue/recording_model.h"
#include "platform/locations.h"
#include "platform/mount_watcher.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTableView>
#include <QTimer>

namespace {

const QColor kBackground(221, 221, 225);
const QColor kConnectedColour(0, 128, 0);
const QColor kDisconnectedColour(255, 0, 0);
const QColor kBusyPanelColour(166, 202, 240); // sky blue
const QString kConnectedText = QStringLiteral("设备状态：设备已连接");
const QString kDisconnectedText = QStringLiteral("设备状态：设备未连接");
constexpr int kScanDelayMs = 300;
constexpr int kListLeft = 24;
constexpr int kListTop = 40;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kColumnWidths[kColumnCount] = {50, 100, 120, 80, 150, 100, 100, 150};
// New rows reach the view in batches: a repaint per file would cost more than the listing.
constexpr int kListRefreshMs = 100;

QString ToQt(const std::string& text)
{
    return QString::fromStdString(text);
}

// The four menu icons, drawn here so that the program needs no image files.
enum class MenuIcon { Search, Exit, Spreadsheet, About };

QIcon DrawMenuIcon(MenuIcon kind)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case MenuIcon::Search:
        painter.setPen(QPen(QColor(40, 70, 140), 2));
        painter.setBrush(QColor(200, 225, 255));
        painter.drawEllipse(QRectF(2, 2, 8, 8));
        painter.setPen(QPen(QColor(90, 60, 30), 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(10, 10), QPointF(14, 14));
        break;
    case MenuIcon::Exit:
        painter.setPen(QPen(QColor(90, 60, 30), 1));
        painter.setBrush(QColor(200, 150, 90));
        painter.drawRect(QRectF(2.5, 1.5, 8, 13));
        painter.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(7, 8), QPointF(14, 8));
        painter.drawLine(QPointF(11, 5), QPointF(14, 8));
        painter.drawLine(QPointF(11, 11), QPointF(14, 8));
        break;
    case MenuIcon::Spreadsheet:
        painter.setPen(QPen(QColor(20, 110, 50), 1));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(1.5, 1.5, 13, 13));
        for (double x : {5.5, 9.5})
            painter.drawLine(QPointF(x, 1.5), QPointF(x, 14.5));
        for (double y : {5.5, 9.5})
            painter.drawLine(QPointF(1.5, y), QPointF(14.5, y));
        painter.fillRect(QRectF(2, 2, 12.5, 3.5), QColor(20, 110, 50));
        break;
    case MenuIcon::About:
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 90, 200));
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(7, 3.5, 2, 2));
        painter.drawRect(QRectF(7, 7, 2, 6));
        break;
    }
    return QIcon(pixmap);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->resize(kButtonWidth, kButtonHeight);
    return button;
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent), driveFinder_([] { return FindRecorderDrive(); })
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

    resize(935, 566);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    deviceCheck_ = std::make_unique<DeviceCheck>(
        *voiceModel, DeviceCheckHooks{
                         [this] { return driveFinder_(); },
                         [this](const std::string& folder) { devicePath = folder; },
                         [this](const std::string& folder) { FillListFromDevice(folder); },
                         [this](DeviceState state) { ShowDeviceState(state); },
                     });
    WatchMountTable();
    FormCreate();
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::SetDriveFinder(DriveFinder finder)
{
    driveFinder_ = std::move(finder);
}

DeviceState TFrmMain::deviceState() const
{
    return deviceCheck_->state();
}

bool TFrmMain::listedFlag() const
{
    return deviceCheck_->listed();
}

void TFrmMain::BuildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    STStatic = new QLabel(kDisconnectedText, client);
    STStatic->setObjectName(QStringLiteral("STStatic"));
    STStatic->setGeometry(24, 12, 200, 16);
    SetTextColour(STStatic, kDisconnectedColour);

    stPath = new QLabel(QStringLiteral("上传路径："), client);
    stPath->setObjectName(QStringLiteral("stPath"));
    stPath->setGeometry(260, 12, 70, 16);

    EdtPath = new QLineEdit(client);
    EdtPath->setObjectName(QStringLiteral("EdtPath"));
    EdtPath->setReadOnly(true);
    EdtPath->setGeometry(330, 9, 260, 21);

    Pbarup = new QProgressBar(client);
    Pbarup->setObjectName(QStringLiteral("Pbarup"));
    Pbarup->setRange(0, 100);
    Pbarup->setValue(0);
    Pbarup->setGeometry(610, 12, 200, 16);
    Pbarup->hide();

    voiceModel = new RecordingModel(this);
    ListViewVoice = new QTableView(client);
    ListViewVoice->setObjectName(QStringLiteral("ListViewVoice"));
    ListViewVoice->setModel(voiceModel);
    ListViewVoice->move(kListLeft, kListTop);
    ListViewVoice->setShowGrid(true);
    ListViewVoice->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewVoice->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListViewVoice->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewVoice->setWordWrap(false);
    ListViewVoice->verticalHeader()->hide();
    ListViewVoice->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListViewVoice->verticalHeader()->setDefaultSectionSize(ListViewVoice->fontMetrics().height() + 2);
    QHeaderView* header = ListViewVoice->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    for (int column = 0; column < kColumnCount; ++column)
        header->resizeSection(column, kColumnWidths[column]);

    PanelShow = new QLabel(QStringLiteral("正在传输语音列表..."), client);
    PanelShow->setObjectName(QStringLiteral("PanelShow"));
    PanelShow->setAlignment(Qt::AlignCenter);
    PanelShow->setFrameShape(QFrame::Panel);
    PanelShow->setFrameShadow(QFrame::Raised);
    PanelShow->setAutoFillBackground(true);
    QPalette panelPalette = PanelShow->palette();
    panelPalette.setColor(QPalette::Window, kBusyPanelColour);
    PanelShow->setPalette(panelPalette);
    PanelShow->resize(240, 50);
    PanelShow->hide();

    btnDel = MakeButton(client, "btnDel", QStringLiteral("删除记录"));
    btnPath = MakeButton(client, "btnPath", QStringLiteral("上传路径"));
    btnupone = MakeButton(client, "btnupone", QStringLiteral("上传所选"));
    btnuptype = MakeButton(client, "btnuptype", QStringLiteral("分类上传"));
    btnupall = MakeButton(client, "btnupall", QStringLiteral("全部上传"));
    btnstop = MakeButton(client, "btnstop", QStringLiteral("停止上传"));
    btnclose = MakeButton(client, "btnclose", QStringLiteral("系统退出"));

    LbPath = new QListWidget(client);
    LbPath->setObjectName(QStringLiteral("LbPath"));
    LbPath->hide();

    IDTIMER = new QTimer(this);
    IDTIMER->setObjectName(QStringLiteral("IDTIMER"));
    IDTIMER->setSingleShot(true);
    IDTIMER->setInterval(kScanDelayMs);
}

void TFrmMain::BuildMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    QMenu* voiceMenu = bar->addMenu(QStringLiteral("语音管理(&F)"));
    A1 = voiceMenu->addAction(DrawMenuIcon(MenuIcon::Search), QStringLiteral("语音查询(&F)"));
    voiceMenu->addSeparator();
    A3 = voiceMenu->addAction(DrawMenuIcon(MenuIcon::Exit), QStringLiteral("退出(&X)"));
    QMenu* toolsMenu = bar->addMenu(QStringLiteral("工具(&T)"));
    D2 = toolsMenu->addAction(DrawMenuIcon(MenuIcon::Spreadsheet), QStringLiteral("导出Excel(&E)"));
    QMenu* settingsMenu = bar->addMenu(QStringLiteral("设置(&E)"));
    E2 = settingsMenu->addAction(QStringLiteral("密码设置(&E)"));
    QMenu* helpMenu = bar->addMenu(QStringLiteral("帮助(&H)"));
    E1 = helpMenu->addAction(DrawMenuIcon(MenuIcon::About), QStringLiteral("关于系统(&H)"));
    A1->setObjectName(QStringLiteral("A1"));
    A3->setObjectName(QStringLiteral("A3"));
    D2->setObjectName(QStringLiteral("D2"));
    E2->setObjectName(QStringLiteral("E2"));
    E1->setObjectName(QStringLiteral("E1"));
}

void TFrmMain::ConnectControls()
{
    connect(btnDel, &QPushButton::clicked, this, &TFrmMain::btnDelClick);
    connect(btnPath, &QPushButton::clicked, this, &TFrmMain::btnPathClick);
    connect(btnupone, &QPushButton::clicked, this, &TFrmMain::btnuponeClick);
    connect(btnuptype, &QPushButton::clicked, this, &TFrmMain::btnuptypeClick);
    connect(btnupall, &QPushButton::clicked, this, &TFrmMain::btnupallClick);
    connect(btnstop, &QPushButton::clicked, this, &TFrmMain::btnstopClick);
    connect(btnclose, &QPushButton::clicked, this, &TFrmMain::btncloseClick);
    connect(A1, &QAction::triggered, this, &TFrmMain::A1Click);
    connect(A3, &QAction::triggered, this, &TFrmMain::A3Click);
    connect(D2, &QAction::triggered, this, &TFrmMain::D2Click);
    connect(E2, &QAction::triggered, this, &TFrmMain::E2Click);
    connect(E1, &QAction::triggered, this, &TFrmMain::E1Click);
    connect(IDTIMER, &QTimer::timeout, this, &TFrmMain::IDTIMERTimer);
    connect(ListViewVoice->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { voiceModel->SortByColumnClick(column); });
}

// Reads the upload folder from the configuration file; a missing or empty file keeps the
// default.
void TFrmMain::FormCreate()
{
    uploadPath = DefaultUploadPath();
    EdtPath->setText(ToQt(uploadPath));
    ConfigLines lines;
    try {
        lines = ReadConfigLines();
    } catch (const ConfigFileError& error) {
        ShowExceptionBox(this, error);
        return;
    }
    for (const std::string& line : lines)
        LbPath->addItem(ToQt(line));
    if (!lines.empty()) {
        EdtPath->setText(ToQt(lines.front()));
        uploadPath = EdtPath->text().toStdString();
    }
}

void TFrmMain::WatchMountTable()
{
    mountWatcher_ = std::make_unique<MountWatcher>();
    if (!mountWatcher_->valid())
        return;
    mountNotifier_ = new QSocketNotifier(mountWatcher_->fd(), QSocketNotifier::Exception, this);
    connect(mountNotifier_, &QSocketNotifier::activated, this, &TFrmMain::MountTableChanged);
}

// Arming an armed timer adds no scan: each arming gives exactly one scan 300 ms later.
void TFrmMain::MountTableChanged()
{
    if (mountWatcher_)
        mountWatcher_->Acknowledge();
    if (!IDTIMER->isActive())
        IDTIMER->start();
}

void TFrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!IDTIMER->isActive())
        IDTIMER->start();
}

void TFrmMain::IDTIMERTimer()
{
    IDTIMER->stop();
    deviceCheck_->Run();
}

void TFrmMain::SetStatus(const QString& text, const QColor& colour)
{
    STStatic->setText(text);
    SetTextColour(STStatic, colour);
}

void TFrmMain::ShowDeviceState(DeviceState state)
{
    switch (state) {
    case DeviceState::Listing:
        SetStatus(kConnectedText, kConnectedColour);
        STStatic->repaint();
        PanelShow->show();
        PanelShow->raise();
        PanelShow->repaint();
        setEnabled(false);
        break;
    case DeviceState::Listed:
        setEnabled(true);
        PanelShow->hide();
        break;
    case DeviceState::NotConnected:
    case DeviceState::Waiting:
        SetStatus(kDisconnectedText, kDisconnectedColour);
        break;
    }
}

// Lists the card into the view, keeping the window painted after every file.
void TFrmMain::FillListFromDevice(const std::string& folder)
{
    std::vector<RecordingEntry> pending;
    QElapsedTimer sinceRefresh;
    sinceRefresh.start();
    const auto flush = [&] {
        voiceModel->AppendBatch(std::move(pending));
        pending.clear();
        sinceRefresh.restart();
    };
    try {
        ListRecordings(folder, [&](std::optional<RecordingEntry> entry) {
            if (entry)
                pending.push_back(std::move(*entry));
            if (sinceRefresh.elapsed() >= kListRefreshMs)
                flush();
            QCoreApplication::processEvents();
        });
    } catch (...) {
        flush(); // the rows read so far stay in the list
        throw;
    }
    flush();
}

void TFrmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    LayoutMainWindow();
}

void TFrmMain::LayoutMainWindow()
{
    const int w = width();
    const int h = height();
    ListViewVoice->setGeometry(kListLeft, kListTop, w - 60, h - 140);
    PanelShow->move(w / 2 - PanelShow->width() / 2, h / 2 - PanelShow->height() / 2 - 40);
    const int step = w / 8;
    QPushButton* const buttons[] = {btnDel, btnPath, btnupone, btnuptype, btnupall, btnstop, btnclose};
    for (int i = 0; i < 7; ++i)
        buttons[i]->move((i + 1) * step - 30, h - 90);
    const int barLeft = EdtPath->x() + EdtPath->width() + 20;
    Pbarup->setGeometry(barLeft, STStatic->y(), w - barLeft - 50, Pbarup->height());
}

void TFrmMain::A1Click()
{
}

void TFrmMain::D2Click()
{
}

void TFrmMain::E2Click()
{
    TFrmChangePwd dialog(this);
    dialog.exec();
}

void TFrmMain::E1Click()
{
    TFrmAbout dialog(this);
    dialog.exec();
}
