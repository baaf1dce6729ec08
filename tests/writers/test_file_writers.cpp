#include "audio/adpcm_converter.h"
#include "audio/call_file.h"
#include "export/export_file.h"
#include "index/index_connection.h"
#include "index/index_schema.h"
#include "index/note_exchange.h"
#include "platform/atomic_file.h"
#include "platform/config_file.h"
#include "statistics/chart_picture.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QSettings>
#include <QStringListModel>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A recording of 30 seconds, the source of the saved calls.
struct Recording {
    TempFolder folder;
    std::string path = folder.Path("VOC00001.WAV");

    Recording()
    {
        const SampleSpec sample{'L', "075583765566", 23, 1, 2, 14, 40, 3500 * 30, 7};
        EXPECT_TRUE(WriteSampleFile(path, sample));
    }
};

// The chart drawing is a module built beside voctool: <build>/tools, the tests in <build>/tests/.
std::string ChartModuleFolder()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "tools").string();
}

Result<void> ExportedList(const std::string& path)
{
    QStringListModel list({QStringLiteral("075583765566"), QStringLiteral("13800001111")});
    const Result<ExportOutcome> outcome = ExportList(list, 1, path);
    if (!outcome)
        return outcome.error();
    if (*outcome != ExportOutcome::Written)
        return Failure{"not written: " + path, 0, path};
    return {};
}

Result<void> ExportedNotes(const std::string& path)
{
    return WriteNotesFile(path, {{{"VOC00001.WAV", 21300, std::string(23, 'r')}, {"客户说货没到", "客户"}}});
}

// Every writer of a file the user keeps, with the room it is given on a full disk: the saved calls
// get part of their file written, so that a failure late in the encoding is seen.
struct Writer {
    std::string name;
    std::size_t roomLeft;
    std::function<Result<void>(const Recording&, const std::string& path)> write;
};

std::vector<Writer> Writers()
{
    std::vector<Writer> writers;
    for (const CallFormat format : {CallFormat::Wav, CallFormat::Flac, CallFormat::Mp3, CallFormat::Opus}) {
        CallTags tags;
        tags.title = "075583765566";
        tags.comment = "客户说货没到，要求退款";
        writers.push_back({"call." + std::string(CallFormatExtension(format)), 40 * 1024,
                           [format, tags](const Recording& recording, const std::string& path) {
                               return SaveRecordingAs(recording.path, format, tags, path);
                           }});
    }
    writers.push_back({"plain.wav", 16 * 1024, [](const Recording& recording, const std::string& path) {
                           return ConvertToPcmWave(path, recording.path);
                       }});
    writers.push_back(
        {"vrxexcel.xlsx", 0, [](const Recording&, const std::string& path) { return ExportedList(path); }});
    writers.push_back(
        {"notes.jsonl", 0, [](const Recording&, const std::string& path) { return ExportedNotes(path); }});
    writers.push_back({"chart.png", 0, [](const Recording&, const std::string& path) {
                           return WriteChartPicture(ChartModuleFolder(), CallStatistics{}, PeriodKind::Day,
                                                    kChartPictureWidest, path);
                       }});
    writers.push_back({"qzacfg.cfg", 0, [](const Recording&, const std::string& path) {
                           return WriteConfigLines({"/home/a/", "secret"}, path);
                       }});
    return writers;
}

// Fills the file system of folder until only roomLeft bytes are free.
void FillUp(const std::string& folder, std::size_t roomLeft)
{
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(folder.c_str(), &disk), 0);
    const std::size_t free = disk.f_bavail * disk.f_frsize;
    const std::string filler(free > roomLeft ? free - roomLeft : 0, 'f');
    TempFile file = CreateTempFileBeside(folder + "/filler", 0600);
    ASSERT_GE(file.fd, 0);
    WriteAllBytes(file.fd, filler.data(), filler.size()); // the last block may already be short
    ::close(file.fd);
    std::filesystem::rename(file.path, folder + "/filler");
}

struct Unmounted {
    std::string path;
    ~Unmounted() { ::umount2(path.c_str(), MNT_DETACH); }
};

std::set<std::string> NamesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Each writer, on a disk too small for its file and on a read-only disk, fails with a reason
// that names its file, leaves the file that was there byte for byte and no temporary file.
TEST(FileWriters, FailOnAFullOrReadOnlyDiskLeavingTheOldFileAndNoTemporaryFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty())
        GTEST_SKIP() << "no private mount namespace here: " << why;
    const Recording recording;
    int disks = 0;
    for (const Writer& writer : Writers()) {
        for (const bool readOnly : {false, true}) {
            SCOPED_TRACE(writer.name + (readOnly ? " on a read-only disk" : " on a full disk"));
            const std::string disk = recording.folder.Path("disk" + std::to_string(++disks));
            std::filesystem::create_directory(disk);
            if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0)
                GTEST_SKIP() << "this machine refuses a tmpfs mount: " << std::strerror(errno);
            const Unmounted unmounted{disk}; // also when a check ends the test, so that disk can be removed
            const std::string target = disk + "/" + writer.name;
            TempFolder::WriteFile(target, "the old file");
            if (readOnly)
                ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
            else
                FillUp(disk, writer.roomLeft);
            const std::set<std::string> before = NamesIn(disk);

            const Result<void> written = writer.write(recording, target);
            ASSERT_FALSE(written.has_value());
            EXPECT_NE((written.error().path + " " + written.error().reason).find(target), std::string::npos)
                << written.error().reason;
            EXPECT_EQ(TempFolder::Read(target), "the old file");
            EXPECT_EQ(NamesIn(disk), before);
        }
    }
}

mode_t ModeOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// The user's private data is readable by its owner only, also where a file was there before;
// a saved call is made as the umask says.
TEST(FileWriters, MakePrivateFilesTheOwnersOnlyAndSavedCallsAsTheUmaskSays)
{
    const Recording recording;
    const mode_t oldMask = ::umask(027);
    const TempFolder& folder = recording.folder;
    for (const Writer& writer : Writers()) {
        ::chmod(folder.Write("old-" + writer.name, "old").c_str(), 0644);
        for (const std::string& name : {writer.name, "old-" + writer.name}) {
            ASSERT_TRUE(writer.write(recording, folder.Path(name)).has_value()) << name;
            const bool savedCall = writer.name.starts_with("call.") || writer.name == "plain.wav";
            EXPECT_EQ(ModeOf(folder.Path(name)), savedCall ? 0640 : 0600) << name;
        }
    }
    // The settings file is made private before QSettings first writes it, which keeps its mode.
    const std::string settings = folder.Path("sdvoice.conf");
    MakePrivateFile(settings);
    QSettings(QString::fromStdString(settings), QSettings::IniFormat).setValue(QStringLiteral("share/format"), "mp3");
    EXPECT_EQ(TempFolder::Read(settings), "[share]\nformat=mp3\n");
    EXPECT_EQ(ModeOf(settings), 0600);

    IndexLocation location;
    location.sqlitePath = folder.Path("sdvoice/archive.db");
    const OpenedConnection opened = OpenPreparedIndex(location);
    ASSERT_TRUE(opened.connection);
    ASSERT_TRUE(opened.connection->Exec(QStringLiteral("CREATE TABLE t (x)")).has_value());
    EXPECT_EQ(ModeOf(folder.Path("sdvoice")), 0700);
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path("sdvoice")))
        EXPECT_EQ(ModeOf(entry.path()), 0600) << entry.path();
    ::umask(oldMask);
}

} // namespace
