#include "app/main_window.h"
#include "catalogue/recording_model.h"
#include "platform/message_box.h"
#include "search/folder_tree.h"
#include "search/search_window.h"
#include "support/find_child.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const bool configHomeSet = !PrivateConfigHome().path().empty();

// Makes folder read-only, as a write-protected card or a read-only mount is: an ordinary user
// loses the folder's write bit; root, which ignores that bit, gets a read-only bind mount in a
// mount namespace of this process. Empty on success, else why it could not.
std::string MakeReadOnly(const std::string& folder)
{
    if (::geteuid() != 0) {
        fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        return {};
    }
    if (std::string why = EnterPrivateMountNamespace(); !why.empty())
        return why;
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0
        || ::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return std::string("no read-only bind mount: ") + std::strerror(errno);
    return {};
}

void MakeWritable(const std::string& folder)
{
    if (::geteuid() == 0)
        ::umount(folder.c_str());
    else
        fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
}

std::vector<std::string> FileNames(const RecordingModel& model)
{
    std::vector<std::string> names;
    for (const RecordingEntry& entry : model.entries())
        names.push_back(entry.fileName());
    return names;
}

class DeletionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(configHomeSet);
        ASSERT_TRUE(WriteSampleFolder(folder, 4, 3000));
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request); });
    }
    void TearDown() override
    {
        SetMessageHandler({});
        if (readOnly)
            MakeWritable(folder);
    }
    void MakeFolderReadOnly()
    {
        const std::string why = MakeReadOnly(folder);
        if (!why.empty())
            GTEST_SKIP() << "cannot make a read-only folder here: " << why;
        readOnly = true;
    }

    TempFolder root;
    std::string folder = root.Path("VOICE") + "/";
    bool readOnly = false;
    std::vector<MessageRequest> messages;
};

} // namespace

// A write-protected card or a read-only archive folder: the recordings stay, so do their rows,
// and one warning names every file that is still there.
TEST_F(DeletionTest, FilesThatCannotBeDeletedKeepTheirRowsAndAreNamedOnce)
{
    MakeFolderReadOnly();
    if (IsSkipped())
        return;
    const std::vector<std::string> all = {"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV", "VOC00004.WAV"};

    MainWindow main;
    main.SetDriveFinder([this] { return std::optional<std::string>(folder); });
    main.ScanDevice();
    ASSERT_TRUE(WaitForWindow([&] { return main.deviceState() == DeviceState::Listed; })) << "no card listing";
    auto* catalogue = Child<QTableView>(main, "ListViewVoice");
    for (const int row : {1, 3})
        catalogue->selectionModel()->select(main.recordingModel().index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Child<QPushButton>(main, "btnDel")->click();
    EXPECT_EQ(FileNames(main.recordingModel()), all);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("以下录音文件无法删除，仍保留在列表中：\nVOC00002.WAV\nVOC00004.WAV"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);

    messages.clear();
    SearchWindow search(nullptr, [this] { return std::vector<FolderRoot>{{folder, kImageDisk}}; });
    int listings = 0;
    QObject::connect(&search, &SearchWindow::listingEnded, [&] { ++listings; });
    search.show();
    auto* tree = Child<QTreeView>(search, "TVSpeakPath");
    tree->setCurrentIndex(tree->model()->index(0, 0));
    emit tree->clicked(tree->currentIndex());
    ASSERT_TRUE(WaitForWindow([&] { return listings > 0; })) << "no folder listing";
    auto* results = Child<QTableView>(search, "ListViewPlay");
    results->selectRow(2);
    Child<QPushButton>(search, "btnDel")->click();
    EXPECT_EQ(FileNames(*static_cast<const RecordingModel*>(results->model())), all);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QString::fromStdString("以下录音文件无法删除，仍保留在列表中：\n" + folder + "VOC00003.WAV"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    for (const std::string& name : all)
        EXPECT_TRUE(fs::exists(folder + name)) << name;
}
