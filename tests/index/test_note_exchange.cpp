#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
};

// voctool, built beside the tests, with its data and settings folders in home.
Outcome Voctool(const TempFolder& home, const QStringList& words)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(home.Path("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home.Path("config")));
    process.setProcessEnvironment(environment);
    const auto voctool = std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "tools" / "voctool";
    process.start(QString::fromStdString(voctool.string()), words);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), process.readAllStandardOutput().toStdString()};
}

} // namespace

// Notes set from the command line are found by a search of every known folder, and survive an
// export, the loss of the index and an import; a file with a line that is not a note, or a folder, imports nothing.
TEST(NoteExchange, SetSearchExportAndImportNotes)
{
    const TempFolder home;
    const TempFolder archive;
    ASSERT_TRUE(WriteSampleFolder(archive.Path("calls"), 3, 512));
    const QString recording = QString::fromStdString(archive.Path("calls/VOC00002.WAV"));
    ASSERT_EQ(Voctool(home, {"note", recording, "--desc", "Price agreed", "--user-type", "VIP"}).exitCode, 0);
    EXPECT_EQ(Voctool(home, {"note", recording}).out, "录音说明：Price agreed\n用户类型：VIP\n");

    const QStringList search{"search", "--all", "--from", "2000-01-01", "--to", "2099-12-31", "--desc", "PRICE"};
    const std::string noted = Voctool(home, search).out;
    EXPECT_NE(noted.find("\tVOC00002.WAV\t"), std::string::npos) << "a note makes its folder known: " << noted;
    const QStringList inFolder{"search",      QString::fromStdString(archive.Path("calls")),
                               "--from",      "2000-01-01",
                               "--to",        "2099-12-31",
                               "--user-type", "VIP"};
    const std::string row = Voctool(home, inFolder).out;
    EXPECT_NE(row.find("\tVOC00002.WAV\t"), std::string::npos) << row;
    EXPECT_EQ(Voctool(home, search).out, row);

    const QString exported = QString::fromStdString(home.Path("notes.jsonl"));
    ASSERT_EQ(Voctool(home, {"notes", "export", exported}).exitCode, 0);
    std::filesystem::remove_all(home.Path("data"));
    home.Write("bad.jsonl", TempFolder::Read(exported.toStdString()) + "{\"name\": 1}\n");
    EXPECT_EQ(Voctool(home, {"notes", "import", QString::fromStdString(home.Path("bad.jsonl"))}).exitCode, 1);
    EXPECT_EQ(Voctool(home, {"notes", "import", QString::fromStdString(home.path())}).exitCode, 1) << "a folder";
    EXPECT_EQ(Voctool(home, {"note", recording}).out, "录音说明：\n用户类型：\n");
    ASSERT_EQ(Voctool(home, {"notes", "import", exported}).exitCode, 0);
    EXPECT_EQ(Voctool(home, {"note", recording}).out, "录音说明：Price agreed\n用户类型：VIP\n");
}
