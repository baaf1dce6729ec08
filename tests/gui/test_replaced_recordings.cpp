#include "app/main_window.h"
#include "audio/player.h"
#include "catalogue/replaced_recordings.h"
#include "catalogue/replaced_recordings_dialog.h"
#include "index/index_host.h"
#include "platform/message_box.h"
#include "support/find_child.h"
#include "support/temp_folder.h"
#include "support/wave_out_virtual.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

const bool kConfigHomeSet = !PrivateConfigHome().path().empty();

// An upload folder whose uploads replaced three recordings and kept them: VOC00001.WAV, whose
// name is free again; VOC00002.WAV, whose name a newer recording holds; and
// 2026年11月/VOC00003.WAV, whose name and first new name are both taken. A fourth kept file is
// too short to hold a recording's record. Every message box is recorded instead of shown.
class ReplacedRecordingsTest : public ::testing::Test {
protected:
    TempFolder root;
    std::string upload = root.Path("archive") + "/";
    std::vector<std::string> messages;

    void SetUp() override
    {
        ASSERT_TRUE(kConfigHomeSet);
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request.text.toStdString()); });
        Replace("VOC00001.WAV", 2026y / 12 / 1, 'B', std::nullopt);
        Replace("VOC00002.WAV", 2026y / 12 / 2, 'Z', "new second");
        Replace("2026年11月/VOC00003.WAV", 2026y / 12 / 3, 'L', "new third");
        TempFolder::WriteFile(upload + "2026年11月/VOC00003_2.WAV", "another");
        fs::create_directories(upload + ".replaced/2026-12-04");
        TempFolder::WriteFile(upload + ".replaced/2026-12-04/VOC00009.WAV", "too short");
    }
    void TearDown() override { SetMessageHandler({}); }

    // Writes a recording at path, keeps it as an upload does on day, and puts newBytes in its
    // place (or leaves the name free).
    void Replace(const std::string& path, year_month_day day, char mode, std::optional<std::string> newBytes)
    {
        fs::create_directories(fs::path(upload + path).parent_path());
        ASSERT_TRUE(WriteSampleFile(upload + path, SampleSpec{.mode = mode, .phone = "13800000001"}));
        ASSERT_TRUE(KeepReplaced(upload, path, day));
        fs::remove(upload + path);
        if (newBytes)
            TempFolder::WriteFile(upload + path, *newBytes);
    }
    std::string Kept(const std::string& keptName) const { return TempFolder::Read(KeptPath(upload, keptName)); }
};

std::vector<std::string> RowTexts(const QTableView& view, int row)
{
    std::vector<std::string> texts;
    for (int column = 0; column < view.model()->columnCount(); ++column)
        texts.push_back(view.model()->index(row, column).data().toString().toStdString());
    return texts;
}

int RowOf(const QTableView& view, const std::string& path)
{
    for (int row = 0; row < view.model()->rowCount(); ++row)
        if (RowTexts(view, row)[1] == path)
            return row;
    return -1;
}

TEST_F(ReplacedRecordingsTest, ListsPlaysAndRestoresUnderItsOwnNameKeepingWhatHeldIt)
{
    VirtualClock clock;
    ReplacedRecordingsDialog dialog(upload, nullptr, clock.DeviceFactory());
    int listings = 0;
    QObject::connect(&dialog, &ReplacedRecordingsDialog::listed, [&] { ++listings; });
    dialog.show();
    ASSERT_TRUE(WaitForWindow([&] { return listings == 1; })) << "the listing did not end";
    auto* view = Child<QTableView>(dialog, "ListViewReplaced");
    auto* nameEdit = Child<QLineEdit>(dialog, "edtRestoreName");
    auto* restore = Child<QPushButton>(dialog, "btnRestore");
    const auto restoreAndWait = [&] {
        const int before = listings;
        restore->click();
        return WaitForWindow([&] { return listings > before; });
    };

    // Listed by day, with the recording's texts; a damaged one is listed all the same.
    ASSERT_EQ(view->model()->rowCount(), 4);
    const std::vector<std::string> first = RowTexts(*view, 0);
    EXPECT_EQ(first[0], "2026-12-01");
    EXPECT_EQ(first[1], "VOC00001.WAV");
    EXPECT_EQ(first[2], "被叫");
    EXPECT_EQ(first[3], "13800000001");
    EXPECT_EQ(RowTexts(*view, 2)[1], "2026年11月/VOC00003.WAV");
    EXPECT_EQ(RowTexts(*view, 3)[1], "VOC00009.WAV");
    EXPECT_EQ(RowTexts(*view, 3)[2], "");

    // "播放" plays the kept file, not what holds its name now.
    view->selectRow(1);
    Child<QPushButton>(dialog, "btnplay")->click();
    ASSERT_TRUE(clock.WaitForEvents("open", 1)) << "the kept recording was not played";
    EXPECT_EQ(Child<Player>(dialog, "player")->currentFile(), KeptPath(upload, "2026-12-02/VOC00002.WAV"));
    Child<QPushButton>(dialog, "btnstop")->click();

    // A free name: back under its own name, out of the list.
    const std::string firstBytes = Kept("2026-12-01/VOC00001.WAV");
    view->selectRow(0);
    EXPECT_EQ(nameEdit->text().toStdString(), "VOC00001.WAV");
    EXPECT_TRUE(Child<QLabel>(dialog, "lblNameTaken")->text().isEmpty());
    ASSERT_TRUE(restoreAndWait()) << "the restore did not end";
    EXPECT_EQ(TempFolder::Read(upload + "VOC00001.WAV"), firstBytes);
    EXPECT_EQ(view->model()->rowCount(), 3);
    EXPECT_EQ(ListReplaced(upload).size(), 3u);

    // A taken name: the kept one takes it back, the newer recording is kept in its place.
    const std::string secondBytes = Kept("2026-12-02/VOC00002.WAV");
    view->selectRow(0);
    EXPECT_EQ(nameEdit->text().toStdString(), "VOC00002.WAV");
    EXPECT_FALSE(Child<QLabel>(dialog, "lblNameTaken")->text().isEmpty());
    ASSERT_TRUE(restoreAndWait()) << "the restore did not end";
    EXPECT_EQ(TempFolder::Read(upload + "VOC00002.WAV"), secondBytes);
    EXPECT_FALSE(fs::exists(upload + "VOC00002_2.WAV"));
    std::vector<std::string> keptNow;
    for (const KeptRecording& kept : ListReplaced(upload))
        keptNow.push_back(Kept(kept.keptName));
    EXPECT_EQ(std::count(keptNow.begin(), keptNow.end(), "new second"), 1) << "the newer recording is kept";
    EXPECT_EQ(view->model()->rowCount(), 3);
    EXPECT_TRUE(messages.empty());

    // A name the lists would not show: refused, said, nothing moved.
    const std::string thirdBytes = Kept("2026-12-03/2026年11月/VOC00003.WAV");
    const int third = RowOf(*view, "2026年11月/VOC00003.WAV");
    ASSERT_GE(third, 0);
    view->selectRow(third);
    for (const char* badName : {"VOC00003_2.WAV", "客户.txt", "../VOC00003.WAV"}) {
        nameEdit->setText(QString::fromUtf8(badName));
        restore->click();
    }
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(TempFolder::Read(upload + "2026年11月/VOC00003_2.WAV"), "another");
    EXPECT_EQ(TempFolder::Read(upload + "2026年11月/VOC00003.WAV"), "new third");
    EXPECT_FALSE(fs::exists(upload + "2026年11月/客户.txt"));
    EXPECT_EQ(Kept("2026-12-03/2026年11月/VOC00003.WAV"), thirdBytes);
    EXPECT_EQ(view->model()->rowCount(), 3);
    dialog.reject();
}

// After the routine moved on to a new batch folder, the earlier folder's kept recordings are
// offered by the folder choice: the index knows the month folder the upload went into.
TEST_F(ReplacedRecordingsTest, TheFolderChoiceOffersAnEarlierUploadFoldersKeptRecordings)
{
    const std::string batch = root.Path("第2批") + "/";
    fs::create_directories(batch);
    IndexLocation location;
    location.sqlitePath = root.Path("archive.db");
    {
        ArchiveIndex::Opened opened = ArchiveIndex::Open(location);
        ASSERT_TRUE(opened.index) << opened.message;
        ASSERT_TRUE(opened.index->KnowFolder(upload + "2026年11月/"));
        ASSERT_TRUE(opened.index->KnowFolder(batch));
    }
    IndexHost index(location);
    VirtualClock clock;
    const auto knownFolders = [&index](QObject* receiver, std::function<void(std::vector<std::string>)> done) {
        index.AskKnownFolders(receiver, std::move(done));
    };
    ReplacedRecordingsDialog dialog(batch, knownFolders, clock.DeviceFactory());
    bool found = false;
    int listings = 0;
    QObject::connect(&dialog, &ReplacedRecordingsDialog::foldersFound, [&] { found = true; });
    QObject::connect(&dialog, &ReplacedRecordingsDialog::listed, [&] { ++listings; });
    dialog.show();
    ASSERT_TRUE(WaitForWindow([&] { return found && listings == 1; })) << "the folders were not looked at";
    auto* folders = Child<QComboBox>(dialog, "cmbFolder");
    auto* view = Child<QTableView>(dialog, "ListViewReplaced");
    EXPECT_EQ(view->model()->rowCount(), 0);
    QStringList offered;
    for (int item = 0; item < folders->count(); ++item)
        offered << folders->itemText(item);
    EXPECT_EQ(offered, QStringList({QString::fromStdString(batch), QString::fromStdString(upload)}));

    folders->setCurrentIndex(1);
    ASSERT_TRUE(WaitForWindow([&] { return listings == 2; })) << "the earlier folder was not listed";
    EXPECT_EQ(view->model()->rowCount(), 4);
    view->selectRow(0);
    Child<QPushButton>(dialog, "btnRestore")->click();
    ASSERT_TRUE(WaitForWindow([&] { return listings == 3; })) << "the restore did not end";
    EXPECT_TRUE(fs::exists(upload + "VOC00001.WAV")) << "restored into the folder chosen";
    dialog.reject();
}

// "被替换的录音..." of the main window lists the upload folder's kept recordings.
TEST_F(ReplacedRecordingsTest, MenuCommandOpensTheUploadFolders)
{
    MainWindow window;
    window.SetUploadPath(root.Path("archive")); // without the trailing "/" the configuration may hold
    int listedRows = -1;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<ReplacedRecordingsDialog*>(modal)) {
            auto* view = Child<QTableView>(dialog, "ListViewReplaced");
            EXPECT_TRUE(WaitForWindow([&] { return view->model()->rowCount() > 0; })) << "nothing was listed";
            listedRows = view->model()->rowCount();
        }
        if (modal != nullptr)
            modal->close();
    });
    Child<QAction>(window, "actReplaced")->trigger();
    EXPECT_EQ(listedRows, 4);
}

} // namespace
