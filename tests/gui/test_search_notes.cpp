#include "catalogue/recording_model.h"
#include "index/index_host.h"
#include "platform/message_box.h"
#include "search/evidence_export.h"
#include "search/note_dialog.h"
#include "search/search_window.h"
#include "support/find_child.h"
#include "support/model_columns.h"
#include "support/silent_server.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHelpEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolTip>
#include <QTreeView>
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

using Rows = std::vector<std::vector<std::string>>;

IndexLocation IndexAt(const std::string& sqlitePath)
{
    IndexLocation location;
    location.sqlitePath = sqlitePath;
    return location;
}

// Calls of 5 and 6 March 2014, in a folder "Calls", beside an empty folder "Other"; both are roots
// of the tree. Every test has an archive index of its own.
class SearchNotesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request.text.toStdString()); });
        fs::create_directories(archive.Path("Calls"));
        fs::create_directories(archive.Path("Other"));
        const char* phones[] = {"13800001111", "13912345678", "02088889999", "13800002222"};
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(WriteSampleFile(archive.Path("Calls/VOC0000") + std::to_string(i + 1) + ".WAV",
                                        SampleSpec{.phone = phones[i], .day = 5 + i % 2, .hour = 8 + i}));
        OpenWindow();
    }
    void TearDown() override { SetMessageHandler({}); }

    void OpenWindow()
    {
        index = std::make_unique<IndexHost>(IndexAt(dataHome.Path("archive.db")));
        ASSERT_TRUE(WaitForWindow([this] { return index->state() == IndexHost::State::Ready; }));
        window = std::make_unique<SearchWindow>(
            nullptr,
            [this] {
                return std::vector<FolderRoot>{{archive.Path("Calls/"), kImageDisk},
                                               {archive.Path("Other/"), kImageDisk}};
            },
            WaveOutFactory(), index.get());
        window->SetNoteEditor([this](const RecordingNote& note, const std::vector<std::string>& types, QWidget*) {
            ++notesShown;
            shownNote = note;
            offeredTypes = types;
            return nextAnswer;
        });
        window->show();
        tree = Child<QTreeView>(*window, "TVSpeakPath");
        list = Child<QTableView>(*window, "ListViewPlay");
        userTypes = Child<QComboBox>(*window, "cbUsertype");
    }

    const RecordingModel& results() const { return *static_cast<const RecordingModel*>(list->model()); }
    Rows Texts() const
    {
        Rows rows;
        for (const RecordingEntry& entry : results().entries())
            rows.emplace_back(entry.texts.begin(), entry.texts.end());
        return rows;
    }
    int RowOf(const std::string& fileName) const
    {
        const std::vector<std::string> names = Column(results(), kColFileName);
        return static_cast<int>(std::find(names.begin(), names.end(), fileName) - names.begin());
    }
    QPoint At(int row) const { return list->visualRect(list->model()->index(row, 1)).center(); }

    void ListFolder(int root)
    {
        tree->setCurrentIndex(tree->model()->index(root, 0));
        const QPoint at = tree->visualRect(tree->currentIndex()).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        AndWait([&] {
            QApplication::sendEvent(tree->viewport(), &press);
            QApplication::sendEvent(tree->viewport(), &release);
        });
    }
    // Does what starts a listing or a search and waits until it has ended.
    void AndWait(const std::function<void()>& action)
    {
        int ended = 0;
        const QMetaObject::Connection counting =
            QObject::connect(window.get(), &SearchWindow::listingEnded, [&ended] { ++ended; });
        action();
        EXPECT_TRUE(WaitForWindow([&ended] { return ended > 0; })) << "the listing or search did not end";
        QObject::disconnect(counting);
    }
    void DoubleClickRow(int row)
    {
        const QPoint at = At(row);
        const QPoint global = list->viewport()->mapToGlobal(at);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, global, Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &event);
        }
    }
    // Opens the note of row by action (a double-click, the row's menu), answers the dialog with
    // answer and waits until the note the row shows is the one answered.
    void EditNote(int row, const std::function<void()>& action, std::optional<RecordingNote> answer)
    {
        list->selectRow(row);
        nextAnswer = answer;
        const int shownBefore = notesShown;
        action();
        ASSERT_TRUE(WaitForWindow([&] { return notesShown > shownBefore; })) << "the note was not shown";
        if (answer) { // the user types are read again once the note is stored
            EXPECT_TRUE(WaitForWindow([&] {
                const std::vector<std::string> types = Items(userTypes);
                return std::find(types.begin(), types.end(), answer->userType) != types.end();
            })) << "the note was not saved";
        }
    }
    void EditNote(int row, std::optional<RecordingNote> answer)
    {
        EditNote(
            row, [this] { Child<QAction>(*list, "actEditNote")->trigger(); }, std::move(answer));
    }
    static std::string TipText(const RecordingNote& note)
    {
        return "录音说明：" + note.description + "\n用户类型：" + note.userType;
    }
    bool UserTypesAre(const std::vector<std::string>& expected)
    {
        return WaitForWindow([&] { return Items(userTypes) == expected; });
    }
    std::string ToolTipOf(int row)
    {
        QHelpEvent help(QEvent::ToolTip, At(row), list->viewport()->mapToGlobal(At(row)));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::text().toStdString();
    }
    std::vector<std::string> Search(const QString& description, const QString& userType)
    {
        Child<QDateEdit>(*window, "DateTimePicker01")->setDate(QDate(2014, 3, 1));
        Child<QDateEdit>(*window, "DateTimePicker11")->setDate(QDate(2014, 3, 31));
        Child<QLineEdit>(*window, "edtDesc")->setText(description);
        userTypes->setEditText(userType);
        AndWait([this] { Child<QPushButton>(*window, "btnSearch")->click(); });
        return Column(results(), kColFileName);
    }
    std::vector<std::string> Items(const QComboBox* box) const
    {
        std::vector<std::string> items;
        for (int i = 0; i < box->count(); ++i)
            items.push_back(box->itemText(i).toStdString());
        return items;
    }

    TempFolder dataHome;
    TempFolder archive;
    std::vector<std::string> messages;
    std::optional<RecordingNote> nextAnswer;
    RecordingNote shownNote;
    std::vector<std::string> offeredTypes;
    int notesShown = 0;
    std::unique_ptr<IndexHost> index;
    std::unique_ptr<SearchWindow> window;
    QTreeView* tree = nullptr;
    QTableView* list = nullptr;
    QComboBox* userTypes = nullptr;
};

} // namespace

TEST_F(SearchNotesTest, NotesAreEditedShownAndFilteredWhileEmptyBoxesChangeNothing)
{
    ListFolder(0);
    const Rows listed = Texts();
    Search("", "");
    const Rows searched = Texts();
    ASSERT_EQ(searched.size(), 4u);

    // A double-click and the row's menu open the note; "取消" keeps it as it was.
    const int second = RowOf("VOC00002.WAV");
    EditNote(
        second, [&] { DoubleClickRow(second); }, RecordingNote{"Customer agreed the PRICE", "VIP"});
    EditNote(RowOf("VOC00003.WAV"), RecordingNote{"回访", "普通"});
    EXPECT_EQ(offeredTypes, std::vector<std::string>{"VIP"});
    EditNote(second, std::nullopt);
    EXPECT_EQ(shownNote, (RecordingNote{"Customer agreed the PRICE", "VIP"}));
    EXPECT_TRUE(UserTypesAre({"VIP", "普通"}));
    EXPECT_EQ(userTypes->currentText(), "");

    EXPECT_EQ(ToolTipOf(RowOf("VOC00001.WAV")), "");
    EXPECT_EQ(ToolTipOf(RowOf("VOC00002.WAV")), "录音说明：Customer agreed the PRICE\n用户类型：VIP");

    EXPECT_EQ(Search("  price\t", ""), std::vector<std::string>{"VOC00002.WAV"});
    EXPECT_EQ(Search("", "普通"), std::vector<std::string>{"VOC00003.WAV"});
    EXPECT_EQ(Search("回访", "VIP"), std::vector<std::string>{});
    EXPECT_EQ(Search("", "VI"), std::vector<std::string>{}) << "the user type must match exactly";
    Search("", "");
    EXPECT_EQ(Texts(), searched);
    ListFolder(0);
    EXPECT_EQ(Texts(), listed);
    EXPECT_TRUE(messages.empty());
}

// The manifest of an evidence package holds the note the row has in the index.
TEST_F(SearchNotesTest, EvidenceExportCarriesTheRowsNote)
{
    ASSERT_EQ(::setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1), 0);
    ListFolder(0);
    EditNote(RowOf("VOC00002.WAV"), RecordingNote{"Customer agreed the PRICE", "VIP"});
    auto* evidence = window->findChild<EvidenceExport*>("evidenceExport");
    ASSERT_NE(evidence, nullptr);
    const std::string zipPath = dataHome.Path("call.zip");
    evidence->SetOutputChooser([&](QWidget*, const QString&) { return QString::fromStdString(zipPath); });
    bool written = false;
    QObject::connect(evidence, &EvidenceExport::exportEnded, [&](bool ok) { written = ok; });
    list->selectRow(RowOf("VOC00002.WAV"));
    evidence->ExportSelected();
    ASSERT_TRUE(WaitForWindow([&] { return written; })) << "no package written within 5 s";
    ::unsetenv("XDG_DATA_HOME");

    zip_t* archive = zip_open(zipPath.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(archive, nullptr);
    zip_file_t* file = zip_fopen(archive, "manifest.json", 0);
    ASSERT_NE(file, nullptr);
    QByteArray manifest(64 * 1024, '\0');
    manifest.truncate(static_cast<int>(zip_fread(file, manifest.data(), manifest.size())));
    zip_fclose(file);
    zip_discard(archive);
    const QJsonObject note = QJsonDocument::fromJson(manifest).object()["note"].toObject();
    EXPECT_EQ(note["description"].toString(), "Customer agreed the PRICE");
    EXPECT_EQ(note["user_type"].toString(), "VIP");
}

// The window closes as soon as the dialog is answered: the index keeps the note all the same.
TEST_F(SearchNotesTest, NoteSavedAsTheWindowClosesFollowsTheRecordingIntoAnotherFolder)
{
    ListFolder(0);
    const RecordingNote note{"报价已确认", "代理商"};
    list->selectRow(RowOf("VOC00004.WAV"));
    nextAnswer = note;
    Child<QAction>(*list, "actEditNote")->trigger();
    ASSERT_TRUE(WaitForWindow([&] { return notesShown == 1; })) << "the note was not shown";
    window.reset();

    fs::rename(archive.Path("Calls/VOC00004.WAV"), archive.Path("Other/VOC00004.WAV"));
    OpenWindow();
    ListFolder(1);
    ASSERT_EQ(results().rowCount(), 1);
    EXPECT_EQ(ToolTipOf(0), TipText(note));
    EXPECT_TRUE(UserTypesAre({"代理商"}));
    EXPECT_EQ(Search("报价", ""), std::vector<std::string>{"VOC00004.WAV"});
}

// An index on a server that does not answer: the folders list from their files while the
// connection waits for its timeout, and the failure is told once, in the first window.
TEST(SearchWindowIndex, AServerThatDoesNotAnswerNeitherHoldsTheListingNorRepeatsItsMessage)
{
    std::vector<std::string> messages;
    SetMessageHandler([&](const MessageRequest& request) { messages.push_back(request.text.toStdString()); });
    TempFolder archive;
    fs::create_directories(archive.Path("Calls"));
    ASSERT_TRUE(WriteSampleFile(archive.Path("Calls/VOC00001.WAV"), SampleSpec{.phone = "13800001111"}));
    int port = 0;
    const UniqueFd server = SilentServer(port);
    ASSERT_TRUE(server.valid());
    IndexHost index(PostgresIndexAt(port));
    const auto roots = [&] { return std::vector<FolderRoot>{{archive.Path("Calls/"), kImageDisk}}; };
    auto window = std::make_unique<SearchWindow>(nullptr, roots, WaveOutFactory(), &index);
    window->show();
    auto* tree = Child<QTreeView>(*window, "TVSpeakPath");
    auto* list = Child<QTableView>(*window, "ListViewPlay");
    tree->setCurrentIndex(tree->model()->index(0, 0));
    emit tree->clicked(tree->currentIndex());
    ASSERT_TRUE(WaitForWindow([&] { return list->model()->rowCount() == 1; })) << "the folder was not listed";
    EXPECT_EQ(index.state(), IndexHost::State::Opening);
    EXPECT_TRUE(messages.empty());

    ASSERT_TRUE(WaitForWindow([&] { return index.state() != IndexHost::State::Opening; }, std::chrono::seconds(15)));
    ASSERT_TRUE(WaitForWindow([&] { return !messages.empty(); }));
    EXPECT_NE(messages.front().find("无法使用归档索引"), std::string::npos) << messages.front();
    window.reset();
    window = std::make_unique<SearchWindow>(nullptr, roots, WaveOutFactory(), &index);
    window->show();
    EXPECT_FALSE(WaitForWindow([&] { return messages.size() > 1; }, std::chrono::milliseconds(200)));
    SetMessageHandler({});
}

// The dialog hands out the note as edited on "确定", trimmed; "取消" hands out nothing.
TEST(NoteDialogTest, OkHandsOutTheTrimmedNote)
{
    NoteDialog dialog({"old", "VIP"}, {"VIP", "普通"}, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "录音说明");
    auto* box = Child<QComboBox>(dialog, "cbNoteUsertype");
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentText(), "VIP");
    Child<QPlainTextEdit>(dialog, "edtNoteDesc")->setPlainText("  客户同意\n第二行  ");
    box->setEditText(" 新类型 ");
    Child<QPushButton>(dialog, "btnOK")->click();
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(dialog.note(), (RecordingNote{"客户同意\n第二行", "新类型"}));
}
