#include "platform/folder_sums.h"
#include "platform/message_box.h"
#include "search/archive_verify_dialog.h"
#include "support/find_child.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;
using Rows = std::map<std::string, std::string>; // folder + name -> the state shown

// Records the fingerprints of every recording in folder, as an upload does.
void RecordAll(const std::string& folder)
{
    std::vector<SumsLine> lines;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            lines.push_back({*Sha256HexOfFile(entry.path().string()), entry.path().filename().string()});
    ASSERT_TRUE(RecordFolderSums(folder, lines));
}

void ChangeOneByte(const std::string& path)
{
    std::string bytes = TempFolder::Read(path);
    bytes[bytes.size() / 2] ^= 1;
    TempFolder::WriteFile(path, bytes);
}

// Checks through the dialog's controls and reads its list when the check has ended.
Rows CheckInDialog(ArchiveVerifyDialog& dialog, bool subfolders)
{
    bool ended = false;
    const auto watching = QObject::connect(&dialog, &ArchiveVerifyDialog::verified, [&] { ended = true; });
    Child<QCheckBox>(dialog, "chkSubfolders")->setChecked(subfolders);
    Child<QPushButton>(dialog, "btnVerify")->click();
    EXPECT_TRUE(WaitForWindow([&] { return ended; })) << "the check did not end within 5 s";
    QObject::disconnect(watching);
    const QAbstractItemModel* list = Child<QTableView>(dialog, "ListViewVerified")->model();
    Rows rows;
    for (int row = 0; row < list->rowCount(); ++row)
        rows[list->index(row, 0).data().toString().toStdString()
             + list->index(row, 1).data().toString().toStdString()] =
            list->index(row, 2).data().toString().toStdString();
    return rows;
}

// An archive folder and a month folder below it, both fingerprinted at upload; since then one
// recording of each was changed by a byte, one removed, and one added that was never fingerprinted.
TEST(ArchiveVerifyDialog, NamesEachChangedAndMissingRecordingWithItsFolderAndExportsTheList)
{
    const TempFolder archive;
    const std::string root = archive.Path("archive");
    const std::string month = root + "/2026年11月";
    fs::create_directories(month);
    ASSERT_TRUE(WriteSampleFolder(root, 3));
    ASSERT_TRUE(WriteSampleFolder(month, 2));
    RecordAll(root);
    RecordAll(month);
    ChangeOneByte(root + "/VOC00001.WAV");
    fs::remove(root + "/VOC00002.WAV");
    TempFolder::WriteFile(root + "/VOC00009.WAV", TempFolder::Read(root + "/VOC00003.WAV"));
    ChangeOneByte(month + "/VOC00002.WAV");

    int exportedRows = -1;
    ArchiveVerifyDialog dialog(root, [&](const QAbstractItemModel& list, QWidget*, int columns) {
        EXPECT_EQ(columns, 3);
        exportedRows = list.rowCount();
    });
    dialog.show();
    const Rows alone = CheckInDialog(dialog, false);
    EXPECT_EQ(alone, (Rows{{root + "/VOC00001.WAV", "已被修改"},
                           {root + "/VOC00002.WAV", "缺失"},
                           {root + "/VOC00003.WAV", "完好"},
                           {root + "/VOC00009.WAV", "无校验记录"}}));
    auto* progress = Child<QProgressBar>(dialog, "prgVerify");
    EXPECT_EQ(progress->value(), progress->maximum());

    const Rows withMonth = CheckInDialog(dialog, true);
    EXPECT_EQ(withMonth.size(), 6u);
    EXPECT_EQ(withMonth.at(month + "/VOC00001.WAV"), "完好");
    EXPECT_EQ(withMonth.at(month + "/VOC00002.WAV"), "已被修改");
    Child<QPushButton>(dialog, "btnExport")->click();
    EXPECT_EQ(exportedRows, 6);
}

// A folder that cannot be opened is named in a box, not listed as an empty archive.
TEST(ArchiveVerifyDialog, SaysWhenTheFolderCannotBeOpened)
{
    std::vector<std::string> messages;
    SetMessageHandler([&](const MessageRequest& request) { messages.push_back(request.text.toStdString()); });
    const TempFolder archive;
    ArchiveVerifyDialog dialog(archive.Path("gone"), {});
    EXPECT_TRUE(CheckInDialog(dialog, true).empty());
    SetMessageHandler({});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages.front().find("gone"), std::string::npos) << messages.front();
}

} // namespace
