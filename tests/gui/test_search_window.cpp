#include "app/main_window.h"
#include "catalogue/recording_model.h"
#include "catalogue/upload.h"
#include "catalogue/upload_settings.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "search/folder_search_worker.h"
#include "search/folder_tree_model.h"
#include "search/search_window.h"
#include "support/find_child.h"
#include "support/model_columns.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const bool configHomeSet = !PrivateConfigHome().path().empty();

struct Call {
    const char* name;
    char mode;
    const char* phone;
    int day, hour, minute;
};

// March 2014; the hour 25 can be stored though no clock shows it.
constexpr Call kCalls[] = {
    {"VOC00001.WAV", 'Z', "13800001111", 5, 0, 0},  {"VOC00002.WAV", 'B', "13912345678", 5, 23, 59},
    {"VOC00003.WAV", 'L', "02088889999", 6, 10, 0}, {"VOC00004.WAV", 'z', "1380", 4, 12, 0},
    {"VOC00005.WAV", 'X', "555", 5, 25, 0},
};

QDate March(int day)
{
    return QDate(2014, 3, day);
}

std::vector<std::string> Sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

// An archive with a folder of recordings, an empty folder, a read-only one, a hidden one, a
// symbolic link to a folder and a plain file, shown with three roots: the archive, its folder
// of calls, and a drive without a disc.
class SearchWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request); });
        fs::create_directory(archive.Path("Calls"));
        for (const Call& call : kCalls)
            ASSERT_TRUE(WriteSampleFile(archive.Path("Calls/") + call.name, SampleSpec{.mode = call.mode,
                                                                                       .phone = call.phone,
                                                                                       .day = call.day,
                                                                                       .hour = call.hour,
                                                                                       .minute = call.minute,
                                                                                       .dataBytes = 3500}));
        fs::create_directory(archive.Path("Empty"));
        fs::create_directory(archive.Path("ReadOnly"));
        fs::permissions(archive.Path("ReadOnly"), fs::perms::owner_write, fs::perm_options::remove);
        fs::create_directory(archive.Path(".Hidden"));
        fs::create_directory_symlink(archive.Path("Calls"), archive.Path("Link"));
        archive.Write("notes.txt", "a file, not a folder");
        window = std::make_unique<SearchWindow>(nullptr, [this] {
            return std::vector<FolderRoot>{{archive.path() + "/", kImageDisk},
                                           {archive.Path("Calls/"), kImageDisk},
                                           {archive.Path("NoDisc/"), kImageCdDrive}};
        });
        window->show();
        tree = Child<QTreeView>(*window, "TVSpeakPath");
        list = Child<QTableView>(*window, "ListViewPlay");
        QObject::connect(window.get(), &SearchWindow::listingEnded, [this] { ++listingsEnded; });
    }

    void TearDown() override
    {
        SetMessageHandler({});
        std::error_code ignored; // a setup that failed early made no such folder
        fs::permissions(archive.Path("ReadOnly"), fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    const RecordingModel& results() const { return *static_cast<const RecordingModel*>(list->model()); }
    QModelIndex Root(int row) const { return tree->model()->index(row, 0); }
    QStringList Children(const QModelIndex& node) const
    {
        QStringList texts;
        for (int row = 0; row < tree->model()->rowCount(node); ++row)
            texts << tree->model()->index(row, 0, node).data().toString();
        texts.sort();
        return texts;
    }

    // Opens node in the tree and waits until the reader's answer is shown.
    void Open(QTreeView* view, const QModelIndex& node)
    {
        auto* model = static_cast<FolderTreeModel*>(view->model());
        const QByteArray folder = node.data(FolderTreeModel::FolderPathRole).toByteArray();
        bool shown = false;
        const QMetaObject::Connection connection = QObject::connect(
            model, &FolderTreeModel::folderShown, [&](const QByteArray& read) { shown = shown || read == folder; });
        view->collapse(node);
        view->expand(node);
        EXPECT_TRUE(WaitForWindow([&] { return shown; })) << "the folder was not read: " << folder.toStdString();
        QObject::disconnect(connection);
    }

    void Click(QAbstractItemView* view, const QModelIndex& index)
    {
        const QPointF at = view->visualRect(index).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &press);
        QApplication::sendEvent(view->viewport(), &release);
    }

    void PressKey(QWidget* widget, int key, bool autoRepeat = false)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
    // Does what starts a listing or a search and waits until it has ended.
    void AndWait(const std::function<void()>& action)
    {
        const int before = listingsEnded;
        action();
        ASSERT_TRUE(WaitForWindow([&] { return listingsEnded > before; })) << "the listing or search did not end";
    }

    void ListCalls()
    {
        AndWait([this] { Click(tree, Root(1)); });
    }

    std::vector<std::string> Search(QDate from, QDate to, const QString& mode, const QString& phone)
    {
        Child<QDateEdit>(*window, "DateTimePicker01")->setDate(from);
        Child<QDateEdit>(*window, "DateTimePicker11")->setDate(to);
        Child<QComboBox>(*window, "cbVoicetype")->setCurrentText(mode);
        Child<QLineEdit>(*window, "edtPhone")->setText(phone);
        AndWait([this] { Child<QPushButton>(*window, "btnSearch")->click(); });
        return Column(results(), kColFileName);
    }

    TempFolder archive;
    std::vector<MessageRequest> messages;
    std::unique_ptr<SearchWindow> window;
    QTreeView* tree = nullptr;
    QTableView* list = nullptr;
    int listingsEnded = 0;
};

} // namespace

TEST_F(SearchWindowTest, TreeOpensFoldersOnDemandShowingPlainAndReadOnlyFoldersOnly)
{
    ASSERT_EQ(tree->model()->rowCount(), 3);
    EXPECT_EQ(Root(0).data().toString().toStdString(), archive.path() + "/");
    EXPECT_EQ(Root(2).data(FolderTreeModel::ImageRole).toInt(), kImageCdDrive);
    EXPECT_EQ(Children(Root(0)), QStringList{"temp"}) << "closed until opened";

    Open(tree, Root(0));
    EXPECT_EQ(Children(Root(0)), (QStringList{"Calls", "Empty", "ReadOnly"}));
    const QModelIndex empty = tree->model()->index(Children(Root(0)).indexOf("Empty"), 0, Root(0));
    EXPECT_EQ(tree->model()->rowCount(empty), 0) << "an empty folder has no expand button";
    Open(tree, Root(2));
    EXPECT_EQ(tree->model()->rowCount(Root(2)), 0) << "a drive without a disc has no folders";

    // Opening again reads the folder again; what stays keeps its state.
    fs::create_directory(archive.Path("Later"));
    fs::create_directory(archive.Path("Calls/2023年1月"));
    Open(tree, Root(0));
    EXPECT_EQ(Children(Root(0)), (QStringList{"Calls", "Empty", "Later", "ReadOnly"}));
    EXPECT_TRUE(tree->model()->hasChildren(tree->model()->index(0, 0, Root(0)))) << "Calls holds a folder now";
    EXPECT_TRUE(messages.empty());
}

// Folders made or removed in an opened folder appear and vanish by themselves, in name order;
// a card whose folder has gone leaves the tree.
TEST_F(SearchWindowTest, TheTreeFollowsFoldersMadeAndRemovedAndDropsAGoneCard)
{
    TempFolder card;
    const std::string cardRoot = card.path() + "/";
    SearchWindow watching(nullptr, [&] {
        std::vector<FolderRoot> roots{{archive.path() + "/", kImageDisk}};
        if (fs::exists(cardRoot))
            roots.push_back({cardRoot, kImageDisk});
        return roots;
    });
    watching.show();
    auto* view = Child<QTreeView>(watching, "TVSpeakPath");
    const auto shown = [view] {
        QStringList texts;
        const QModelIndex top = view->model()->index(0, 0);
        for (int row = 0; row < view->model()->rowCount(top); ++row)
            texts << view->model()->index(row, 0, top).data().toString();
        return texts;
    };
    Open(view, view->model()->index(0, 0));
    EXPECT_EQ(shown(), (QStringList{"Calls", "Empty", "ReadOnly"}));

    fs::create_directory(archive.Path("big"));
    fs::create_directory(archive.Path("Damaged"));
    EXPECT_TRUE(WaitForWindow([&] {
        return shown() == QStringList{"big", "Calls", "Damaged", "Empty", "ReadOnly"};
    })) << shown().join(' ').toStdString();
    fs::remove(archive.Path("Empty"));
    EXPECT_TRUE(WaitForWindow([&] {
        return shown() == QStringList{"big", "Calls", "Damaged", "ReadOnly"};
    })) << shown().join(' ').toStdString();

    ASSERT_EQ(view->model()->rowCount(), 2);
    fs::remove_all(cardRoot);
    EXPECT_TRUE(WaitForWindow([&] { return view->model()->rowCount() == 1; })) << "the gone card is still a root";
    EXPECT_EQ(view->model()->index(0, 0).data().toString().toStdString(), archive.path() + "/");
}

// Numbers in names count by their value, and only a folder with subfolders can be opened.
TEST_F(SearchWindowTest, TheTreeListsFoldersInNaturalOrderWithExpandButtonsWhereThereIsMore)
{
    for (const char* name : {"第10批", "第1批", "第2批", "2023年10月", "2023年1月", "2023年2月/早班"})
        fs::create_directories(archive.Path("Batches/") + name);
    Open(tree, Root(0));
    const QModelIndex batches = tree->model()->index(Children(Root(0)).indexOf("Batches"), 0, Root(0));
    Open(tree, batches);
    QStringList shown;
    QStringList openable;
    for (int row = 0; row < tree->model()->rowCount(batches); ++row) {
        const QModelIndex node = tree->model()->index(row, 0, batches);
        shown << node.data().toString();
        if (tree->model()->hasChildren(node))
            openable << node.data().toString();
    }
    EXPECT_EQ(shown, QStringList({"2023年1月", "2023年2月", "2023年10月", "第1批", "第2批", "第10批"}));
    EXPECT_EQ(openable, QStringList{"2023年2月"});
}

TEST_F(SearchWindowTest, SelectingAFolderByClickOrArrowKeyListsItInStartTimeOrder)
{
    AndWait([this] {
        Click(tree, Root(1));
        EXPECT_FALSE(window->isEnabled());
        EXPECT_TRUE(Child<QLabel>(*window, "PanelShow")->isVisible());
    });
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(Child<QLabel>(*window, "PanelShow")->isHidden());
    EXPECT_EQ(Column(results(), kColFileName), (std::vector<std::string>{"VOC00004.WAV", "VOC00001.WAV", "VOC00002.WAV",
                                                                         "VOC00005.WAV", "VOC00003.WAV"}));
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(results().entry(0).path(), archive.Path("Calls/VOC00004.WAV"));

    // Keys go where the focus is, and a listing leaves it in the tree: folder after folder.
    QApplication::setActiveWindow(window.get());
    for (const auto& [key, rows] : {std::pair{Qt::Key_Down, 0}, {Qt::Key_Up, 5}, {Qt::Key_Down, 0}}) {
        ASSERT_EQ(QApplication::focusWidget(), tree);
        AndWait([&] { PressKey(QApplication::focusWidget(), key); });
        EXPECT_EQ(results().rowCount(), rows);
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchWindowTest, AHeldKeyListsTheFolderWhereItStops)
{
    ListCalls();
    Open(tree, Root(0));
    tree->setCurrentIndex(Root(0));
    // Held down: one press, then repeated presses and releases, and one release at the end.
    QKeyEvent firstPress(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(tree, &firstPress);
    for (int repeat = 0; repeat < 3; ++repeat) {
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(tree, &release);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(tree, &press);
    }
    const int before = listingsEnded;
    AndWait([&] {
        QKeyEvent lastRelease(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(tree, &lastRelease);
    });
    ASSERT_EQ(tree->currentIndex(), Root(1)) << "past the three folders of the archive";
    EXPECT_EQ(results().rowCount(), 5);
    EXPECT_EQ(listingsEnded, before + 1) << "the folders passed were not listed";
}

TEST_F(SearchWindowTest, ClosingDuringAListingEndsIt)
{
    ASSERT_TRUE(WriteSampleFolder(archive.Path("Calls"), 40, 3500, 100));
    Click(tree, Root(1));
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_FALSE(WaitForWindow([this] { return results().rowCount() > 0; }, std::chrono::milliseconds(300)))
        << "the listing ended with the window";
}

TEST_F(SearchWindowTest, SearchRowsAppearAsFoundAndRowsAddedMeanwhileGetNumbersOfTheirOwn)
{
    ASSERT_TRUE(WriteSampleFolder(archive.Path("Calls"), 400, 3500, 100));
    ListCalls();
    TempFolder picked;
    ASSERT_TRUE(WriteSampleFile(picked.Path("VOC00009.WAV"), SampleSpec{.phone = "777", .dataBytes = 3500}));
    window->SetFileChooser([&](QWidget*) { return QString::fromStdString(picked.Path("VOC00009.WAV")); });
    bool rowsBeforeTheEnd = false;
    const int before = listingsEnded;
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, window.get(), [&] {
        if (listingsEnded == before && !std::exchange(rowsBeforeTheEnd, true))
            Child<QPushButton>(*window, "btnAdd")->click(); // added while the search goes on
    });
    Search(QDate(2000, 1, 1), QDate(2099, 12, 31), QStringLiteral("所有类型"), "");
    EXPECT_TRUE(rowsBeforeTheEnd) << "rows appear before the search ends";
    std::vector<std::string> numbers = Column(results(), kColNumber);
    ASSERT_EQ(numbers.size(), 406u);
    std::vector<std::string> expected;
    for (int number = 1; number <= 406; ++number)
        expected.push_back(std::to_string(number));
    EXPECT_EQ(numbers, expected) << "numbered in the order the rows came";
}

TEST_F(SearchWindowTest, SearchKeepsWholeDaysOneModeAndPhoneDigits)
{
    ListCalls();
    const QString all = QStringLiteral("所有类型");
    // One day, from 00:00 to 23:59; the impossible hour 25 lies beyond it.
    EXPECT_EQ(Sorted(Search(March(5), March(5), all, "")), (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV"}));
    EXPECT_EQ(Sorted(Search(March(1), March(31), all, "   ")).size(), 5u) << "blanks are no phone filter";
    EXPECT_EQ(Search(March(1), March(31), QStringLiteral("其他"), ""), std::vector<std::string>{"VOC00004.WAV"});
    EXPECT_EQ(Sorted(Search(March(1), March(31), all, "1380")),
              (std::vector<std::string>{"VOC00001.WAV", "VOC00004.WAV"}));
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"1", "2"})) << "kept rows are numbered";
    EXPECT_EQ(Search(March(4), March(5), QStringLiteral("主叫"), "138"), std::vector<std::string>{"VOC00001.WAV"});
    EXPECT_TRUE(messages.empty());

    EXPECT_TRUE(Search(March(6), March(5), all, "").empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("查询开始时间大于查询结束时间！"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
}

TEST_F(SearchWindowTest, AddTakesWellNamedFilesOnly)
{
    TempFolder picked;
    ASSERT_TRUE(WriteSampleFile(picked.Path("VOC00009.WAV"), SampleSpec{.phone = "777", .dataBytes = 3500}));
    ASSERT_TRUE(WriteSampleFile(picked.Path("VOC00001.TXT"), SampleSpec{.phone = "888", .dataBytes = 3500}));
    ASSERT_TRUE(WriteSampleFile(picked.Path("voc00001.wav"), SampleSpec{.phone = "", .dataBytes = 3500}));
    picked.Write("VOC00002.WAV", "too short for a header");
    std::string chosen;
    window->SetFileChooser([&](QWidget*) { return QString::fromStdString(chosen); });
    QPushButton* add = Child<QPushButton>(*window, "btnAdd");

    for (const char* name : {"VOC00009.WAV", "VOC00001.TXT", "VOC00002.WAV"}) {
        chosen = picked.Path(name);
        add->click();
    }
    chosen.clear(); // cancelled
    add->click();
    EXPECT_EQ(Column(results(), kColPhone), (std::vector<std::string>{"777", "888"}));
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(results().entry(0).path(), picked.Path("VOC00009.WAV"));
    EXPECT_TRUE(messages.empty());

    chosen = picked.Path("voc00001.wav");
    add->click();
    EXPECT_EQ(results().rowCount(), 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("请先选择一个命名规范的文件！"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
}

TEST_F(SearchWindowTest, DeleteRemovesTheSelectedRecordingAndAsksForASelectionFirst)
{
    ListCalls();
    QPushButton* remove = Child<QPushButton>(*window, "btnDel");
    remove->click();
    EXPECT_EQ(results().rowCount(), 5);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);

    Click(list, results().index(1, 0));
    remove->click();
    EXPECT_FALSE(fs::exists(archive.Path("Calls/VOC00001.WAV")));
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"1", "3", "4", "5"}));
    EXPECT_TRUE(fs::exists(archive.Path("Calls/VOC00004.WAV")));
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(SearchWindowTest, ColumnClicksSortWithTheSharedFlag)
{
    ListCalls();
    QHeaderView* header = list->horizontalHeader();
    emit header->sectionClicked(kColStartTime);
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"1", "2", "3", "4", "5"}))
        << "the first click after a listing sorts ascending again";
    emit header->sectionClicked(kColStartTime);
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"5", "4", "3", "2", "1"}));

    // A click while a listing runs leaves the flag to the listing.
    AndWait([&] {
        Click(tree, Root(1));
        emit header->sectionClicked(kColStartTime);
    });
    emit header->sectionClicked(kColStartTime);
    EXPECT_EQ(Column(results(), kColNumber), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
}

TEST_F(SearchWindowTest, EscExitAndTheCloseBoxCloseTheWindow)
{
    ListCalls();
    for (QWidget* control : std::initializer_list<QWidget*>{tree, list, Child<QLineEdit>(*window, "edtPhone")}) {
        control->setFocus();
        PressKey(control, Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible()) << "Esc in " << control->objectName().toStdString();
    }
    EXPECT_EQ(results().rowCount(), 5);
    window->setFocus();
    PressKey(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    window->show();
    Child<QPushButton>(*window, "btnclose")->click();
    EXPECT_FALSE(window->isVisible());
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
}

// Uploads into month folders leave the upload folder itself without recordings: choosing it turns
// "包含子文件夹" on by itself, and its listing and search find every uploaded recording, each with
// its folder; hidden folders (the kept replaced files) stay out.
TEST_F(SearchWindowTest, TheUploadFolderWithMonthFoldersIsListedAndSearchedWithItsSubfolders)
{
    ASSERT_TRUE(configHomeSet);
    UploadSettings settings;
    settings.options.monthFolders = true;
    ASSERT_TRUE(WriteUploadSettings(SettingsFilePath(), settings));
    TempFolder card;
    const std::vector<std::pair<int, int>> monthDay{{3, 5}, {4, 1}, {4, 30}};
    std::vector<std::string> names;
    SampleSpec sample;
    sample.dataBytes = 3500;
    for (const auto& [month, day] : monthDay) {
        names.push_back("VOC0000" + std::to_string(names.size() + 1) + ".WAV");
        sample.month = month;
        sample.day = day;
        ASSERT_TRUE(WriteSampleFile(card.Path(names.back()), sample));
    }
    UploadReports quiet;
    quiet.started = [](int) {};
    quiet.fileStarted = [](int, const std::string&) {};
    quiet.askOverwrite = [](const std::string&) { return DialogResult::Yes; };
    quiet.failed = [](const std::string&) {};
    quiet.finished = [](const UploadOutcome&) {};
    Uploader(quiet).UploadFileList(names, card.path() + "/", archive.Path("Uploads/"), settings.options);
    fs::create_directories(archive.Path("Uploads/.replaced/2014-04-30"));
    ASSERT_TRUE(WriteSampleFile(archive.Path("Uploads/.replaced/2014-04-30/VOC00009.WAV"), sample));
    window->SetUploadFolder(archive.Path("Uploads")); // the same folder, written without the "/"

    Open(tree, Root(0));
    const QModelIndex uploads = tree->model()->index(Children(Root(0)).indexOf("Uploads"), 0, Root(0));
    auto* subfolders = Child<QCheckBox>(*window, "chkSubfolders");
    EXPECT_FALSE(subfolders->isChecked());
    AndWait([&] { Click(tree, uploads); });
    EXPECT_TRUE(subfolders->isChecked());
    const auto folders = [this] {
        std::vector<std::string> texts;
        for (int row = 0; row < results().rowCount(); ++row)
            texts.push_back(results().index(row, kColFolder).data().toString().toStdString());
        return texts;
    };
    EXPECT_EQ(Column(results(), kColFileName), names) << "in start-time order";
    EXPECT_EQ(folders(), (std::vector<std::string>{"2014年03月", "2014年04月", "2014年04月"}));
    EXPECT_EQ(results().headerData(kColFolder, Qt::Horizontal).toString(), QStringLiteral("文件夹"));
    EXPECT_EQ(results().entry(0).path(), archive.Path("Uploads/2014年03月/VOC00001.WAV"));
    emit list->horizontalHeader()->sectionClicked(kColFolder);
    emit list->horizontalHeader()->sectionClicked(kColFolder);
    EXPECT_EQ(folders(), (std::vector<std::string>{"2014年04月", "2014年04月", "2014年03月"})) << "sorted by folder";
    EXPECT_EQ(Sorted(Search(QDate(2014, 3, 1), QDate(2014, 4, 30), QStringLiteral("所有类型"), "")), names);
    EXPECT_EQ(results().columnCount(), kColumnCount + 1);

    // Another folder: the box goes off as it came, and the column with it.
    AndWait([&] { Click(tree, Root(1)); });
    EXPECT_FALSE(subfolders->isChecked());
    EXPECT_EQ(results().columnCount(), kColumnCount);
    EXPECT_EQ(results().rowCount(), 5);
    // What the user clicks stays and lists again at once: the upload folder alone holds nothing.
    AndWait([&] { Click(tree, uploads); });
    AndWait([&] { subfolders->click(); });
    EXPECT_FALSE(subfolders->isChecked());
    EXPECT_EQ(results().rowCount(), 0);
    EXPECT_EQ(results().columnCount(), kColumnCount);
    EXPECT_TRUE(messages.empty());
    fs::remove(SettingsFilePath());
}

TEST(SearchWindowFromMainWindow, TheMenuOpensItModallyCentredOnTheMainWindow)
{
    ASSERT_TRUE(configHomeSet);
    MainWindow main;
    main.show();
    bool searchWindowOpened = false;
    QSize outerSize;
    QPointF offCentre(100, 100);
    QTimer::singleShot(0, &main, [&] {
        QWidget* opened = QApplication::activeModalWidget();
        searchWindowOpened = qobject_cast<SearchWindow*>(opened) != nullptr;
        if (!searchWindowOpened)
            return;
        outerSize = opened->frameGeometry().size();
        offCentre = QRectF(opened->frameGeometry()).center() - QRectF(main.frameGeometry()).center();
        Child<QPushButton>(*opened, "btnclose")->click();
    });
    Child<QAction>(main, "A1")->trigger();
    ASSERT_TRUE(searchWindowOpened);
    EXPECT_EQ(outerSize, QSize(1020, 604));
    EXPECT_LE(offCentre.manhattanLength(), 1.0);
}

// Clicking one folder and then another: the first listing stops at its next file instead of
// reading its folder to the end before the second may start.
TEST(FolderSearchWorkerRuns, AListingReplacedByANewerOneStopsAtItsNextFile)
{
    constexpr std::uint32_t kFiles = 3000;
    TempFolder big;
    TempFolder small;
    ASSERT_TRUE(WriteSampleFolder(big.path() + "/", kFiles, 512));
    ASSERT_TRUE(WriteSampleFolder(small.path() + "/", 1, 512));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, big.path().c_str(), IN_OPEN), 0);
    std::size_t opened = 0;
    const auto countOpens = [&] {
        alignas(inotify_event) char buffer[65536];
        for (ssize_t length; (length = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < length; ++opened)
                at += static_cast<ssize_t>(sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buffer + at)->len);
        return opened;
    };

    FolderSearchWorker worker(std::nullopt);
    unsigned ended = 0;
    QObject::connect(&worker, &FolderSearchWorker::ended, [&](unsigned run, SearchOutcome) { ended = run; });
    worker.List(big.path() + "/");
    ASSERT_TRUE(WaitForWindow([&] { return countOpens() > 1; })) << "the first listing did not start";
    const unsigned second = worker.List(small.path() + "/");
    ASSERT_TRUE(WaitForWindow([&] { return ended == second; }, std::chrono::seconds(20)));
    EXPECT_LT(countOpens(), kFiles / 2) << "the replaced listing read its folder to the end";
    ::close(watch);
}

namespace {

// A FAT card image served through FUSE by fusefat in this process's own mount namespace; Stop
// makes every access to it wait (the server is stopped), Answer lets it go on.
class HangingCard {
public:
    explicit HangingCard(const TempFolder& root) : mountPoint_(root.Path("CARD"))
    {
        const std::string image = root.Path("card.img");
        fs::create_directory(mountPoint_);
        std::string output;
        if (!RunShell("mkfs.vfat -C '" + image + "' 4096 >/dev/null && mmd -i '" + image + "' ::VOICE", &output)) {
            problem_ = "cannot make a FAT image: " + output;
            return;
        }
        if (!RunShell("fusefat -f -o rw+ '" + image + "' '" + mountPoint_ + "' </dev/null >/dev/null 2>&1 & echo $!",
                      &output)) {
            problem_ = "cannot start fusefat: " + output;
            return;
        }
        server_ = std::atoi(output.c_str());
        if (!WaitForWindow([&] { return fs::exists(mountPoint_ + "/VOICE"); }))
            problem_ = "the card image was not mounted";
    }
    ~HangingCard()
    {
        if (server_ > 0) {
            Answer();
            if (watchdog_.joinable())
                watchdog_.join();
            ::umount2(mountPoint_.c_str(), MNT_DETACH); // the server ends when its mount goes
        }
    }
    const std::string& problem() const { return problem_; }
    const std::string& path() const { return mountPoint_; }
    // Returns once every thread of the server has stopped: none can take a request after it.
    bool Stop()
    {
        ::kill(server_, SIGSTOP);
        // A window thread that waits for the card would never get to Answer: the card answers
        // by itself after a while, so that the test fails instead of hanging.
        watchdog_ = std::thread([server = server_, answered = answered_.get_future()] {
            if (answered.wait_for(std::chrono::seconds(4)) == std::future_status::timeout)
                ::kill(server, SIGCONT);
        });
        const std::string tasks = "/proc/" + std::to_string(server_) + "/task";
        return WaitForWindow([&] {
            std::error_code error;
            for (const auto& task : fs::directory_iterator(tasks, error)) {
                const std::string stat = TempFolder::Read((task.path() / "stat").string());
                const std::size_t end = stat.rfind(')');
                if (end == std::string::npos || stat.compare(end + 2, 1, "T") != 0)
                    return false;
            }
            return !error;
        });
    }
    void Answer()
    {
        ::kill(server_, SIGCONT);
        if (!answeredSet_)
            answered_.set_value();
        answeredSet_ = true;
    }

private:
    std::string mountPoint_;
    std::string problem_;
    pid_t server_ = 0;
    std::promise<void> answered_;
    bool answeredSet_ = false;
    std::thread watchdog_;
};

} // namespace

// The window thread's longest pause, measured by a timer's ticks, stays short while the card
// that the user opens and clicks in the tree does not answer; once it answers, its folder shows.
TEST(SearchWindowCard, TheWindowKeepsDrawingAndAnsweringWhileACardHangs)
{
    if (::geteuid() != 0 || ::access("/usr/bin/fusefat", X_OK) != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "serving a card through FUSE needs root, fusefat and /dev/fuse";
    // The tree's reader thread starts after this and so shares the namespace.
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty())
        GTEST_SKIP() << "no private mount namespace here: " << why;
    TempFolder root;
    HangingCard card(root);
    ASSERT_EQ(card.problem(), "");
    SearchWindow window(nullptr, [&] { return std::vector<FolderRoot>{{root.path() + "/", kImageDisk}}; });
    window.show();
    auto* tree = Child<QTreeView>(window, "TVSpeakPath");
    auto* model = static_cast<FolderTreeModel*>(tree->model());
    QList<QByteArray> shownFolders;
    QObject::connect(model, &FolderTreeModel::folderShown, [&](const QByteArray& folder) { shownFolders << folder; });
    tree->expand(model->index(0, 0));
    ASSERT_TRUE(WaitForWindow([&] { return !shownFolders.isEmpty(); })) << "the root was not read";
    const QModelIndex cardNode = model->index(0, 0, model->index(0, 0));
    ASSERT_EQ(cardNode.data().toString(), "CARD");

    ASSERT_TRUE(card.Stop()) << "the card's server did not stop";
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    clock.start();
    ticks.start(5);
    tree->expand(cardNode);
    tree->setCurrentIndex(cardNode);
    emit tree->clicked(cardNode);
    const bool answeredWhileHanging = WaitForWindow([] { return false; }, std::chrono::milliseconds(1500));
    ticks.stop();
    EXPECT_FALSE(answeredWhileHanging);
    EXPECT_FALSE(shownFolders.contains(QByteArray::fromStdString(card.path() + "/"))) << "the card did not hang";
    EXPECT_LT(longestGap, 50) << "the window thread waited for the card";

    card.Answer();
    EXPECT_TRUE(WaitForWindow([&] {
        return model->rowCount(cardNode) == 1 && model->index(0, 0, cardNode).data() == "VOICE";
    })) << "the card's folder did not show once it answered";
}
