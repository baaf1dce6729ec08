#include "catalogue/recording_model.h"
#include "export/desktop_associations.h"
#include "export/export_file.h"
#include "support/audio_files.h"
#include "support/private_mounts.h"
#include "support/sheet_reader.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/mount.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kTitles = "序号\t文件名\t电话号码\t录音方式\t开始时间\t录音时长\t文件长度\t备注\n";

// Texts a careless writer would change: Chinese, leading zeros, digits that look like a
// number, XML's special characters, an empty text.
void FillTwoItems(RecordingModel& model)
{
    model.Append(
        {{"1", "VOC00001.WAV", "075583765566", "主叫", "2014年03月05日09时07分", "4秒", "14K", "/归档/1.WAV"}});
    model.Append({{"2", "VOC00002.WAV", "<&>\"'", "留言", "2014年03月07日25时00分", "", "267", "/归档/a&b.WAV"}});
}

std::set<std::string> FolderNames(const std::string& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

TEST(ExportSheet, BothLayoutsReadBackWithTheListsTextsAndBorders)
{
    TempFolder folder;
    RecordingModel model;
    FillTwoItems(model);
    // The main window leaves the full path out of the item rows; its title stays.
    ASSERT_EQ(*ExportList(model, 7, folder.Path("main.xlsx")), ExportOutcome::Written);
    EXPECT_EQ(ReadSheetWithOpenpyxl(folder.Path("main.xlsx")),
              "sheets 1\n" + kTitles
                  + "1\tVOC00001.WAV\t075583765566\t主叫\t2014年03月05日09时07分\t4秒\t14K\t\n"
                    "2\tVOC00002.WAV\t<&>\"'\t留言\t2014年03月07日25时00分\t\t267\t\nborders A1:H3\n");
    ASSERT_EQ(*ExportList(model, 8, folder.Path("search.xlsx")), ExportOutcome::Written);
    EXPECT_EQ(ReadSheetWithOpenpyxl(folder.Path("search.xlsx")),
              "sheets 1\n" + kTitles
                  + "1\tVOC00001.WAV\t075583765566\t主叫\t2014年03月05日09时07分\t4秒\t14K\t/归档/1.WAV\n"
                    "2\tVOC00002.WAV\t<&>\"'\t留言\t2014年03月07日25时00分\t\t267\t/归档/a&b.WAV\nborders A1:H3\n");
}

TEST(ExportFile, RefusalsKeepTheOldFileAndAnExportReplacesItWhole)
{
    TempFolder home;
    const std::string path = home.Write("vrxexcel.xlsx", "the last export");
    RecordingModel model;
    EXPECT_EQ(*ExportList(model, 7, path), ExportOutcome::NothingToExport);

    FillTwoItems(model);
    home.Write(".~lock.vrxexcel.xlsx#", ",alice,host,07.12.2026 13:00,file:///home/alice/.config/libreoffice/4;");
    EXPECT_EQ(*ExportList(model, 7, path), ExportOutcome::HeldOpen);
    fs::remove(home.Path(".~lock.vrxexcel.xlsx#"));
    if (::geteuid() != 0) { // root deletes from any folder
        fs::permissions(home.path(), fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_EQ(*ExportList(model, 7, path), ExportOutcome::HeldOpen) << "a file that cannot be deleted";
        fs::permissions(home.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    // A link is neither followed nor replaced: it could point at any file.
    fs::rename(path, home.Path("elsewhere"));
    fs::create_symlink(home.Path("elsewhere"), path);
    EXPECT_EQ(*ExportList(model, 7, path), ExportOutcome::SymbolicLink);
    EXPECT_EQ(fs::read_symlink(path), home.Path("elsewhere"));
    fs::remove(path);
    fs::rename(home.Path("elsewhere"), path);
    EXPECT_EQ(TempFolder::Read(path), "the last export");

    EXPECT_EQ(*ExportList(model, 7, path), ExportOutcome::Written);
    EXPECT_EQ(TempFolder::Read(path).substr(0, 2), "PK");
    EXPECT_EQ(FolderNames(home.path()), std::set<std::string>{"vrxexcel.xlsx"}) << "no temporary file is left";
}

TEST(ExportFile, AFullDiskKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty())
        GTEST_SKIP() << "no private mount namespace here: " << why;
    std::vector<RecordingEntry> rows;
    for (int i = 1; i <= 400; ++i)
        rows.push_back({{std::to_string(i), "VOC" + std::to_string(10000 + i) + ".WAV", "13800138000", "主叫",
                         "2014年03月05日09时07分", "4秒", "14K", "/归档/VOC" + std::to_string(10000 + i) + ".WAV"}});
    RecordingModel model;
    model.AppendBatch(std::move(rows));
    // The disk fills at every stage of the writing: staging the rows, packing the parts, the
    // package itself. Each export either fails and keeps the old file, or is whole.
    TempFolder home;
    int failed = 0;
    for (int kib = 32; kib <= 512; kib += 32) {
        if (::mount("tmpfs", home.path().c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()) != 0)
            GTEST_SKIP() << "this machine refuses a tmpfs mount: " << std::strerror(errno);
        const std::string path = home.Write("vrxexcel.xlsx", "the last export");
        if (ExportList(model, 7, path).has_value()) {
            EXPECT_NE(ReadSheetWithOpenpyxl(path).find("\n400\tVOC10400.WAV\t"), std::string::npos) << kib << " KiB";
        } else {
            ++failed;
            EXPECT_EQ(TempFolder::Read(path), "the last export") << kib << " KiB";
        }
        EXPECT_EQ(FolderNames(home.path()), std::set<std::string>{"vrxexcel.xlsx"}) << kib << " KiB";
        ::umount(home.path().c_str());
    }
    EXPECT_GT(failed, 0);
}

// Without a program for the sheet's type the export says where the file is; a type named only
// in another list's group, or with no program after "=", has none.
TEST(DesktopAssociations, AProgramIsFoundOnlyWhereAListNamesOneForTheType)
{
    const std::string sheet = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
    TempFolder folder;
    const std::string cache =
        folder.Write("mimeinfo.cache", "[MIME Cache]\ntext/plain=vim.desktop;\n" + sheet + "=;\n");
    const std::string removed = folder.Write("removed.list", "[Removed Associations]\n" + sheet + "=calc.desktop;\n");
    const std::string defaults =
        folder.Write("mimeapps.list", "[Added Associations]\r\ntext/csv=calc.desktop\r\n[Default Applications]\r\n"
                                          + sheet + "=libreoffice-calc.desktop\r\n");
    EXPECT_FALSE(HasProgramFor(sheet, {cache, removed, folder.Path("missing.list")}));
    EXPECT_TRUE(HasProgramFor(sheet, {cache, defaults}));
    EXPECT_TRUE(HasProgramFor("text/plain", {cache}));
    EXPECT_FALSE(HasProgramFor("text", {cache}));
}

TEST(VoctoolExport, WritesTheCardAndTheSearchLayouts)
{
    TempFolder folder;
    ASSERT_TRUE(WriteSampleFolder(folder.Path("card"), 3, 3500));
    const std::string voctool = (fs::read_symlink("/proc/self/exe").parent_path() / ".." / "tools" / "voctool");
    ASSERT_TRUE(RunProgram({voctool, "export", folder.Path("card"), folder.Path("card.xlsx")}));
    ASSERT_TRUE(RunProgram({voctool, "export", folder.Path("card"), "--search", "--from", "2000-01-01", "--to",
                            "2099-12-31", folder.Path("found.xlsx")}));
    const std::string card = ReadSheetWithOpenpyxl(folder.Path("card.xlsx"));
    EXPECT_NE(card.find(kTitles + "1\tVOC00001.WAV\t"), std::string::npos) << card;
    EXPECT_NE(card.find("\t\n3\tVOC00003.WAV\t"), std::string::npos) << "column H stays empty\n" << card;
    const std::string found = ReadSheetWithOpenpyxl(folder.Path("found.xlsx"));
    EXPECT_NE(found.find("\t" + folder.Path("card/VOC00002.WAV") + "\n"), std::string::npos) << found;
    EXPECT_FALSE(RunProgram({voctool, "export", folder.Path("empty"), folder.Path("none.xlsx")}));

    // With the subfolders, as the search window's results with "包含子文件夹": the column 文件夹 last.
    ASSERT_TRUE(WriteSampleFolder(folder.Path("card/2014年03月"), 1, 3500));
    ASSERT_TRUE(RunProgram({voctool, "export", folder.Path("card"), "--search", "--recursive", "--from", "2000-01-01",
                            "--to", "2099-12-31", folder.Path("deep.xlsx")}));
    const std::string deep = ReadSheetWithOpenpyxl(folder.Path("deep.xlsx"));
    EXPECT_NE(deep.find("\t备注\t文件夹\n"), std::string::npos) << deep;
    EXPECT_NE(deep.find("\t" + folder.Path("card/2014年03月/VOC00001.WAV") + "\t2014年03月\n"), std::string::npos)
        << deep;
}
