#include "app/main_window.h"
#include "export/list_export.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "search/search_window.h"
#include "support/find_child.h"
#include "support/sheet_reader.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// The export file lives in the home folder and the main window reads its configuration: both
// point at private folders before any window looks at them.
const TempFolder& Home()
{
    static const TempFolder folder;
    return folder;
}
const bool homeSet = [] {
    return ::setenv("HOME", Home().path().c_str(), 1) == 0
           && ::setenv("XDG_CONFIG_HOME", Home().Path(".config").c_str(), 1) == 0;
}();

// Notes, each time the window is enabled or disabled, its state and whether the cursor is busy.
struct EnabledWatcher : QObject {
    explicit EnabledWatcher(QWidget& window) { window.installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange) {
            const QCursor* cursor = QApplication::overrideCursor();
            changes.push_back(std::string(static_cast<QWidget*>(watched)->isEnabled() ? "enabled" : "disabled")
                              + (cursor != nullptr && cursor->shape() == Qt::WaitCursor ? " busy" : ""));
        }
        return false;
    }
    std::vector<std::string> changes;
};

class ExportCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(homeSet);
        std::filesystem::remove(ExportFilePath());
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request); });
        SetExportOpener([this](const QUrl& file) {
            opened.push_back(file);
            return openerFound;
        });
    }
    void TearDown() override { SetMessageHandler({}), SetExportOpener({}); }

    const QUrl exportUrl = QUrl::fromLocalFile(QString::fromStdString(ExportFilePath()));
    std::vector<MessageRequest> messages;
    std::vector<QUrl> opened;
    bool openerFound = true; // the desktop has a spreadsheet program
};

} // namespace

TEST_F(ExportCommandsTest, MainWindowMenuWritesTheCatalogueWhileBusyThenOpensIt)
{
    TempFolder card;
    ASSERT_TRUE(WriteSampleFolder(card.Path("VOICE"), 3, 3500));
    MainWindow window;
    window.SetDriveFinder([&] { return std::optional<std::string>(card.Path("VOICE/")); });
    window.ScanDevice();
    ASSERT_TRUE(WaitForWindow([&window] { return window.deviceState() == DeviceState::Listed; }));
    EnabledWatcher watcher(window);

    Child<QAction>(window, "D2")->trigger();
    EXPECT_EQ(watcher.changes, (std::vector<std::string>{"disabled busy", "enabled"}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(opened, std::vector<QUrl>{exportUrl});
    const std::string sheet = ReadSheetWithOpenpyxl(ExportFilePath());
    EXPECT_NE(sheet.find("\t4K\t\nborders A1:H4\n"), std::string::npos) << "column H stays empty\n" << sheet;

    // Held open in LibreOffice: the message, and the file stays as it was.
    Home().Write(".~lock.vrxexcel.xlsx#", "lock");
    const std::string before = TempFolder::Read(ExportFilePath());
    Child<QAction>(window, "D2")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              QStringLiteral("请先关闭的Excel文件  ") + QString::fromStdString(ExportFilePath()) + ".");
    EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(TempFolder::Read(ExportFilePath()), before);
    std::filesystem::remove(Home().Path(".~lock.vrxexcel.xlsx#"));

    // No spreadsheet program: a message says where the file is.
    messages.clear();
    openerFound = false;
    Child<QAction>(window, "D2")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("表格已保存为：\n") + exportUrl.toLocalFile() + "\n"))
        << messages[0].text.toStdString();
    EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Information);
}

TEST_F(ExportCommandsTest, SearchWindowButtonWritesEveryColumnOfTheResults)
{
    TempFolder archive;
    ASSERT_TRUE(WriteSampleFolder(archive.path(), 2, 3500));
    MainWindow main;
    main.show();
    bool exported = false;
    QTimer::singleShot(0, &main, [&] {
        auto* search = qobject_cast<SearchWindow*>(QApplication::activeModalWidget());
        if (search == nullptr)
            return;
        search->SetFileChooser([&](QWidget*) { return QString::fromStdString(archive.Path("VOC00002.WAV")); });
        Child<QPushButton>(*search, "btnAdd")->click();
        Child<QPushButton>(*search, "btnExecl")->click();
        exported = search->isEnabled() && QApplication::overrideCursor() == nullptr;
        search->close();
    });
    Child<QAction>(main, "A1")->trigger();
    ASSERT_TRUE(exported);
    EXPECT_EQ(opened, std::vector<QUrl>{exportUrl});
    const std::string sheet = ReadSheetWithOpenpyxl(ExportFilePath());
    EXPECT_NE(sheet.find("\t" + archive.Path("VOC00002.WAV") + "\nborders A1:H2\n"), std::string::npos) << sheet;
    EXPECT_TRUE(messages.empty());
}
