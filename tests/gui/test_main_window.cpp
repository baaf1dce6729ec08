#include "app/main_window.h"
#include "catalogue/recording_model.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "support/find_child.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

const bool configHomeSet = !PrivateConfigHome().path().empty();

std::vector<std::string> Column(const RecordingModel& model, int column)
{
    std::vector<std::string> texts;
    for (const RecordingEntry& entry : model.entries())
        texts.push_back(entry.texts[column]);
    return texts;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(configHomeSet);
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request.text); });
        deviceFolder = card.Path("VOICE") + "/";
        ASSERT_TRUE(WriteSampleFolder(card.Path("VOICE"), 8, 3500));
        window = std::make_unique<MainWindow>();
        window->SetDriveFinder([this]() -> std::optional<std::string> {
            if (!attached)
                return std::nullopt;
            return deviceFolder;
        });
    }

    void TearDown() override { SetMessageHandler({}); }

    // Resizes the window so that its outer size, frame included, is outer.
    void ResizeOuter(QSize outer) { window->resize(outer - (window->frameGeometry().size() - window->size())); }

    // Scans for the card and waits until a listing it started has ended.
    void ScanAndWait()
    {
        window->ScanDevice();
        ASSERT_TRUE(WaitForWindow([this] { return window->deviceState() != DeviceState::Listing; }))
            << "the card listing did not end";
    }

    void ClickHeader(int column)
    {
        emit Child<QTableView>(*window, "ListViewVoice")->horizontalHeader()->sectionClicked(column);
    }

    TempFolder card;
    std::string deviceFolder;
    bool attached = true;
    std::vector<QString> messages;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(MainWindowTest, ShowsTheControlsWithTheirTextsColoursAndNames)
{
    MainWindow& w = *window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("SD卡录音设备语音管理软件"));
    EXPECT_EQ(w.palette().color(QPalette::Window), QColor(221, 221, 225));
    EXPECT_EQ(w.font().family(), QStringLiteral("新宋体"));
    EXPECT_EQ(w.font().pixelSize(), 12);

    EXPECT_EQ(Child<QLabel>(w, "STStatic")->text(), QStringLiteral("设备状态：设备未连接"));
    EXPECT_EQ(Child<QLabel>(w, "STStatic")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(Child<QLabel>(w, "stPath")->text(), QStringLiteral("上传路径："));
    EXPECT_TRUE(Child<QLineEdit>(w, "EdtPath")->isReadOnly());
    EXPECT_TRUE(Child<QProgressBar>(w, "Pbarup")->isHidden());
    EXPECT_EQ(Child<QProgressBar>(w, "Pbarup")->minimum(), 0);
    EXPECT_EQ(Child<QProgressBar>(w, "Pbarup")->maximum(), 100);
    EXPECT_TRUE(Child<QLabel>(w, "PanelShow")->isHidden());
    EXPECT_EQ(Child<QLabel>(w, "PanelShow")->text(), QStringLiteral("正在传输语音列表..."));
    EXPECT_EQ(Child<QLabel>(w, "PanelShow")->palette().color(QPalette::Window), QColor(166, 202, 240));
    EXPECT_TRUE(Child<QTimer>(w, "IDTIMER")->isSingleShot());
    EXPECT_EQ(Child<QTimer>(w, "IDTIMER")->interval(), 300);
    EXPECT_FALSE(Child<QTimer>(w, "IDTIMER")->isActive());

    const std::vector<std::pair<QString, QString>> buttons = {
        {"btnDel", "删除记录"},   {"btnPath", "上传路径"}, {"btnupone", "上传所选"}, {"btnuptype", "分类上传"},
        {"btnupall", "全部上传"}, {"btnstop", "停止上传"}, {"btnclose", "系统退出"}};
    for (const auto& [name, text] : buttons) {
        const auto* button = w.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name.toStdString();
        EXPECT_EQ(button->text(), text);
    }
    for (const char* name :
         {"STStatic", "stPath", "EdtPath", "Pbarup", "ListViewVoice", "PanelShow", "IDTIMER"})
        EXPECT_NE(w.findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;

    QTableView* list = Child<QTableView>(w, "ListViewVoice");
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    const int widths[] = {50, 100, 120, 80, 150, 100, 100, 150};
    const char* titles[] = {"序号", "文件名", "电话号码", "录音方式", "开始时间", "录音时长", "文件长度", "备注"};
    for (int column = 0; column < 8; ++column) {
        EXPECT_EQ(list->horizontalHeader()->sectionSize(column), widths[column]);
        EXPECT_EQ(list->model()->headerData(column, Qt::Horizontal).toString(), QString::fromUtf8(titles[column]));
    }

    QStringList menus;
    for (QAction* action : w.menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus, (QStringList{"语音管理(&F)", "工具(&T)", "设置(&E)", "帮助(&H)"}));
    const QList<QAction*> voiceItems = w.menuBar()->actions().front()->menu()->actions();
    ASSERT_EQ(voiceItems.size(), 5);
    EXPECT_EQ(voiceItems[1], Child<QAction>(w, "actReplaced"));
    EXPECT_EQ(voiceItems[2], Child<QAction>(w, "actVerifyArchive"));
    EXPECT_TRUE(voiceItems[3]->isSeparator());
    EXPECT_EQ(Child<QAction>(w, "A1")->text(), QStringLiteral("语音查询(&F)"));
    EXPECT_EQ(Child<QAction>(w, "A3")->text(), QStringLiteral("退出(&X)"));
    EXPECT_EQ(Child<QAction>(w, "D2")->text(), QStringLiteral("导出Excel(&E)"));
    EXPECT_EQ(Child<QAction>(w, "E2")->text(), QStringLiteral("密码设置(&E)"));
    EXPECT_EQ(Child<QAction>(w, "E1")->text(), QStringLiteral("关于系统(&H)"));
    for (QAction* withIcon :
         {Child<QAction>(w, "A1"), Child<QAction>(w, "A3"), Child<QAction>(w, "D2"), Child<QAction>(w, "E1")})
        EXPECT_FALSE(withIcon->icon().isNull()) << withIcon->text().toStdString();
    EXPECT_TRUE(Child<QAction>(w, "E2")->icon().isNull());

    w.show(); // the size counts the frame, which is known once the window is shown
    EXPECT_EQ(w.frameGeometry().size(), QSize(935, 566));
}

TEST_F(MainWindowTest, TakesTheUploadFolderFromTheConfigurationFile)
{
    EXPECT_EQ(window->uploadPath(), DefaultUploadPath()); // no file yet
    EXPECT_EQ(Child<QLineEdit>(*window, "EdtPath")->text().toStdString(), DefaultUploadPath());

    std::filesystem::create_directories(PrivateConfigHome().Path("sdvoice"));
    const std::string configFile = PrivateConfigHome().Path("sdvoice/qzacfg.cfg");
    std::ofstream(configFile, std::ios::binary) << "/srv/\xC2\xBC\xD2\xF4\r\nsecret\r\n"; // "录音" in GB18030
    MainWindow configured;
    EXPECT_EQ(configured.uploadPath(), "/srv/录音");
    EXPECT_EQ(Child<QLineEdit>(configured, "EdtPath")->text(), QStringLiteral("/srv/录音"));
    std::filesystem::remove(configFile);
    EXPECT_TRUE(messages.empty());

    // A file that exists but cannot be read: the error box names it, the defaults stay.
    std::filesystem::create_directory(configFile);
    MainWindow unreadable;
    std::filesystem::remove(configFile);
    EXPECT_EQ(unreadable.uploadPath(), DefaultUploadPath());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front(), QString::fromStdString("Cannot open file " + configFile));
}

TEST_F(MainWindowTest, ListsTheCardWithTheWindowBusyAndEmptiesItWhenTheCardGoes)
{
    window->show();
    EXPECT_TRUE(Child<QTimer>(*window, "IDTIMER")->isActive()); // showing arms the first scan
    window->ScanDevice();
    EXPECT_FALSE(window->isEnabled());
    const QLabel* panel = Child<QLabel>(*window, "PanelShow");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->palette().color(panel->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     panel->foregroundRole()),
              QColor(Qt::black))
        << "the busy panel stays readable";
    ASSERT_TRUE(WaitForWindow([this] { return window->deviceState() == DeviceState::Listed; }));

    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(Child<QLabel>(*window, "PanelShow")->isHidden());
    EXPECT_EQ(Child<QLabel>(*window, "STStatic")->text(), QStringLiteral("设备状态：设备已连接"));
    EXPECT_EQ(Child<QLabel>(*window, "STStatic")->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_EQ(window->devicePath(), deviceFolder);
    EXPECT_TRUE(window->listedFlag());
    const RecordingModel& model = window->recordingModel();
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(model.entry(0).fileName(), "VOC00001.WAV");
    EXPECT_EQ(model.entry(7).path(), deviceFolder + "VOC00008.WAV");
    EXPECT_EQ(Child<QTableView>(*window, "ListViewVoice")->model()->rowCount(), 8);
    EXPECT_EQ(model.data(model.index(7, kColPath), Qt::ToolTipRole).toString().toStdString(),
              deviceFolder + "VOC00008.WAV");

    attached = false;
    window->MountTableChanged();
    EXPECT_TRUE(Child<QTimer>(*window, "IDTIMER")->isActive());
    ScanAndWait();
    EXPECT_EQ(Child<QLabel>(*window, "STStatic")->text(), QStringLiteral("设备状态：设备未连接"));
    EXPECT_EQ(Child<QLabel>(*window, "STStatic")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(window->listedFlag());
    EXPECT_TRUE(messages.empty());
}

// The status area names how many recordings the listed card holds: each listing's own count,
// kept as rows are deleted, and nothing once the card is gone.
TEST_F(MainWindowTest, TheStatusCountsTheListedCardsRecordingsUntilTheCardGoes)
{
    const auto* count = Child<QLabel>(*window, "stCount");
    EXPECT_EQ(count->text(), QString());
    ScanAndWait();
    EXPECT_EQ(count->text(), QStringLiteral("共 8 个录音"));

    auto* list = Child<QTableView>(*window, "ListViewVoice");
    list->selectRow(2);
    Child<QPushButton>(*window, "btnDel")->click();
    EXPECT_EQ(count->text(), QStringLiteral("共 7 个录音"));

    attached = false;
    ScanAndWait();
    EXPECT_EQ(count->text(), QString());

    TempFolder other;
    ASSERT_TRUE(WriteSampleFolder(other.Path("VOICE"), 3, 3500));
    deviceFolder = other.Path("VOICE") + "/";
    attached = true;
    ScanAndWait();
    EXPECT_EQ(count->text(), QStringLiteral("共 3 个录音"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowTest, HeaderClicksSortWithTheOneSharedFlag)
{
    ScanAndWait();
    const RecordingModel& model = window->recordingModel();
    ASSERT_EQ(model.rowCount(), 8);
    const auto phoneOrder = [&](int expectedSign) {
        for (int row = 1; row < model.rowCount(); ++row) {
            const int order =
                CompareSortKeys(TextSortKey(model.entry(row - 1).phone()), TextSortKey(model.entry(row).phone()));
            if (expectedSign > 0 ? order > 0 : order < 0)
                return false;
        }
        return true;
    };

    ClickHeader(kColPhone);
    EXPECT_TRUE(phoneOrder(+1)) << "first click on 电话号码 sorts ascending";
    EXPECT_NE(Column(model, kColNumber), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
    ClickHeader(kColPhone);
    EXPECT_TRUE(phoneOrder(-1)) << "second click sorts descending";
    ClickHeader(kColNumber);
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"8", "7", "6", "5", "4", "3", "2", "1"}));
    ClickHeader(kColNumber);
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

TEST_F(MainWindowTest, LayoutFollowsTheWindowSize)
{
    window->show();
    ResizeOuter(QSize(1000, 700));
    EXPECT_EQ(Child<QTableView>(*window, "ListViewVoice")->geometry(), QRect(24, 40, 940, 560));
    const QSize panel = Child<QLabel>(*window, "PanelShow")->size();
    EXPECT_EQ(Child<QLabel>(*window, "PanelShow")->pos(),
              QPoint(500 - panel.width() / 2, 350 - panel.height() / 2 - 40));
    QPushButton* const buttons[] = {Child<QPushButton>(*window, "btnDel"),   Child<QPushButton>(*window, "btnPath"),
                                    Child<QPushButton>(*window, "btnupone"), Child<QPushButton>(*window, "btnuptype"),
                                    Child<QPushButton>(*window, "btnupall"), Child<QPushButton>(*window, "btnstop"),
                                    Child<QPushButton>(*window, "btnclose")};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(buttons[i]->pos(), QPoint(125 * (i + 1) - 30, 610)) << i;
    const int barLeft = Child<QLineEdit>(*window, "EdtPath")->x() + Child<QLineEdit>(*window, "EdtPath")->width() + 20;
    EXPECT_EQ(Child<QProgressBar>(*window, "Pbarup")->x(), barLeft);
    EXPECT_EQ(Child<QProgressBar>(*window, "Pbarup")->y(), Child<QLabel>(*window, "STStatic")->y());
    EXPECT_EQ(Child<QProgressBar>(*window, "Pbarup")->width(), 1000 - barLeft - 50);

    ResizeOuter(QSize(937, 567)); // odd sizes: every division drops its remainder
    EXPECT_EQ(Child<QPushButton>(*window, "btnclose")->pos(), QPoint(7 * 117 - 30, 477));
}

TEST_F(MainWindowTest, MountChangesArmOneScanAndTheExitCommandsClose)
{
    window->MountTableChanged();
    EXPECT_TRUE(Child<QTimer>(*window, "IDTIMER")->isActive());
    ScanAndWait();
    EXPECT_FALSE(Child<QTimer>(*window, "IDTIMER")->isActive());

    window->show();
    Child<QAction>(*window, "A3")->trigger();
    EXPECT_FALSE(window->isVisible());
    window->show();
    Child<QPushButton>(*window, "btnclose")->click();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, MenuOpensThePasswordDialogAndTheAboutBoxModally)
{
    window->show();
    const auto closeNextDialog = [](QString* className) {
        QTimer::singleShot(0, [className] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                *className = QString::fromLatin1(dialog->metaObject()->className());
                dialog->close();
            }
        });
    };
    QString opened;
    closeNextDialog(&opened);
    Child<QAction>(*window, "E2")->trigger();
    EXPECT_EQ(opened, QStringLiteral("ChangePasswordDialog"));
    closeNextDialog(&opened);
    Child<QAction>(*window, "E1")->trigger();
    EXPECT_EQ(opened, QStringLiteral("AboutDialog"));
    EXPECT_TRUE(window->isVisible());
}

// "使用说明(&U)" hands the installed guide's page to the browser, or names it when none opens it.
// The build folder lays the guide out as the package installs it (share/sdvoice/ beside bin/,
// here beside the tests' folder).
TEST_F(MainWindowTest, HelpOpensTheInstalledGuideInTheBrowserOrNamesIt)
{
    std::vector<QUrl> opened;
    bool browserOpens = true;
    window->SetGuideOpener([&](const QUrl& page) {
        opened.push_back(page);
        return browserOpens;
    });
    auto* guide = Child<QAction>(*window, "actGuide");
    EXPECT_EQ(guide->text(), QStringLiteral("使用说明(&U)"));
    const QList<QAction*> helpItems = window->menuBar()->actions().back()->menu()->actions();
    EXPECT_EQ(window->menuBar()->actions().back()->text(), QStringLiteral("帮助(&H)"));
    EXPECT_TRUE(helpItems.contains(guide));

    guide->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].isLocalFile());
    const std::filesystem::path page = opened[0].toLocalFile().toStdString();
    EXPECT_EQ(page.filename(), "使用说明.html");
    EXPECT_EQ(page.parent_path().parent_path().filename(), "share");
    EXPECT_TRUE(std::filesystem::is_regular_file(page)) << page;
    EXPECT_TRUE(std::filesystem::is_regular_file(page.parent_path() / "guide" / "main-window.png"));
    EXPECT_TRUE(messages.empty());

    browserOpens = false;
    guide->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("无法打开使用说明：") + opened[0].toLocalFile());
}

TEST_F(MainWindowTest, TabLeavesTheListForTheButtonsInTheirVisualOrder)
{
    window->show();
    ScanAndWait();
    QApplication::setActiveWindow(window.get());
    auto* list = Child<QTableView>(*window, "ListViewVoice");
    list->setCurrentIndex(list->model()->index(0, 0));
    QWidget* focused = list;
    focused->setFocus();
    for (const char* next : {"btnDel", "btnPath", "btnupone", "btnuptype", "btnupall", "btnstop", "btnclose"}) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(focused, &tab);
        focused = QApplication::focusWidget();
        EXPECT_EQ(focused, Child<QPushButton>(*window, next));
    }
}

TEST_F(MainWindowTest, TheSmallestWindowStillSeparatesEveryControl)
{
    window->show();
    ResizeOuter(QSize(200, 150));
    std::vector<QRect> buttons;
    for (const char* name : {"btnDel", "btnPath", "btnupone", "btnuptype", "btnupall", "btnstop", "btnclose"})
        buttons.push_back(Child<QPushButton>(*window, name)->geometry());
    for (std::size_t i = 1; i < buttons.size(); ++i)
        EXPECT_LT(buttons[i - 1].right(), buttons[i].left()) << i;
    const QRect list = Child<QTableView>(*window, "ListViewVoice")->geometry();
    EXPECT_LT(list.bottom(), buttons.front().top());
    EXPECT_GT(list.height(), 100);
    const QRect path = Child<QLineEdit>(*window, "EdtPath")->geometry();
    const QRect bar = Child<QProgressBar>(*window, "Pbarup")->geometry();
    EXPECT_LT(path.right(), bar.left());
    EXPECT_GE(bar.width(), 50);
    EXPECT_LE(buttons.back().right(), window->centralWidget()->width());
}
