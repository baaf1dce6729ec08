#include "catalogue/upload.h"

#include "catalogue/replaced_recordings.h"
#include "catalogue/upload_worker.h"
#include "platform/folder_sums.h"

#include "support/private_mounts.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <csignal>
#include <sys/wait.h>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Stands in for the main window: records every report in order, shows the end's message as the
// window does, and answers the overwrite question from a script.
struct FakeWindow {
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::vector<std::string> asked;
    std::deque<DialogResult> answers;
    std::vector<std::string> handled; // what became of each file, in the order told
    UploadOutcome outcome;

    UploadReports Reports()
    {
        UploadReports reports;
        reports.started = [this](int count) { log.push_back("started " + std::to_string(count)); };
        reports.fileStarted = [this](int position, const std::string& name) {
            log.push_back("file " + std::to_string(position) + " " + name);
        };
        reports.askOverwrite = [this](const std::string& name) {
            asked.push_back(name);
            log.push_back("ask " + name);
            const DialogResult answer = answers.empty() ? DialogResult::Yes : answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer;
        };
        reports.failed = [this](const std::string& text) {
            messages.push_back(std::string(kUploadCaption) + ":" + text);
            log.push_back("message " + text);
        };
        reports.finished = [this](const UploadOutcome& outcome) {
            if (outcome.copied)
                messages.push_back(std::string(kUploadCaption) + ":" + kUploadDoneText);
            log.push_back(outcome.copied ? "finished copied" : "finished");
            this->outcome = outcome;
        };
        reports.fileHandled = [this](const std::string& path, FileResult result, const std::string& keptName) {
            static const char* const kResults[] = {"copied",  "replaced", "identical",
                                                   "skipped", "failed",   "not reached"};
            handled.push_back(kResults[static_cast<int>(result)] + (" " + path)
                              + (keptName.empty() ? "" : " " + keptName));
        };
        return reports;
    }
};

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kDone = "提示:数据上传完毕！";
const std::string kFailed = "提示:数据上传失败！";

// The failure message, naming the file and the reason.
std::string FailedAt(const std::string& name, int error)
{
    return kFailed + "\n" + name + "：" + std::strerror(error);
}

// A card folder with sample recordings and an empty upload folder.
struct UploadFixture {
    TempFolder root;
    std::string device = root.Path("VOICE") + "/";
    std::string upload = root.Path("archive") + "/";
    FakeWindow window;
    std::vector<std::string> copied;
    std::function<void(std::size_t copyIndex)> beforeCopy;
    Uploader uploader;

    explicit UploadFixture(std::uint32_t count = 5, ReadCall read = ::read)
        : uploader(window.Reports(), Recorded(std::move(read)))
    {
        EXPECT_TRUE(WriteSampleFolder(device, count, 4000));
        fs::create_directories(upload);
    }

    TempCopyCall Recorded(ReadCall read)
    {
        return [this, read](const std::string& source, const std::string& target, TempFile& temp) {
            if (beforeCopy)
                beforeCopy(copied.size());
            copied.push_back(fs::path(target).filename().string());
            return CopyToTempFile(source, target, temp, read);
        };
    }

    std::string Name(int number) const
    {
        char name[16];
        std::snprintf(name, sizeof name, "VOC%05d.WAV", number);
        return name;
    }
    std::vector<std::string> Names(std::initializer_list<int> numbers) const
    {
        std::vector<std::string> names;
        for (const int number : numbers)
            names.push_back(Name(number));
        return names;
    }
    void PlaceOld(int number) const { WriteBytes(upload + Name(number), "old " + Name(number)); }
    std::string Archived(int number) const { return TempFolder::Read(upload + Name(number)); }
    bool Replaced(int number) const { return Archived(number) == TempFolder::Read(device + Name(number)); }
    void Run(const std::vector<std::string>& names) { uploader.UploadFileList(names, device, upload); }

    std::vector<std::string> UploadFolderNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(upload)) {
            // Replaced files kept aside, and the fingerprints of the folder's files.
            if (entry.path().filename() != kReplacedFolderName && entry.path().filename() != kFolderSumsName)
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

RecordingEntry Row(const std::string& fileName)
{
    RecordingEntry row;
    row.texts[kColFileName] = fileName;
    return row;
}

} // namespace

TEST(UploadCollect, NamesComeTopToBottomFromSelectionOrAllRows)
{
    const std::vector<RecordingEntry> rows{Row("VOC00003.WAV"), Row("VOC00001.WAV"), Row("VOC00002.WAV")};
    EXPECT_EQ(CollectAllFiles(rows), (std::vector<std::string>{"VOC00003.WAV", "VOC00001.WAV", "VOC00002.WAV"}));
    EXPECT_EQ(CollectSelectedFiles(rows, {2, 0, 2, 7, -1}), (std::vector<std::string>{"VOC00003.WAV", "VOC00002.WAV"}));
    EXPECT_TRUE(CollectSelectedFiles(rows, {}).empty());
    EXPECT_TRUE(CollectAllFiles({}).empty());
}

TEST(UploadFolder, SeparatorAppendedOnceAndMissingParentsCreated)
{
    std::string path = "/media/archive";
    EnsureTrailingSeparator(path);
    EXPECT_EQ(path, "/media/archive/");
    EnsureTrailingSeparator(path);
    EXPECT_EQ(path, "/media/archive/");
    std::string root = "/";
    EnsureTrailingSeparator(root);
    EXPECT_EQ(root, "/");
    std::string empty;
    EnsureTrailingSeparator(empty);
    EXPECT_EQ(empty, "");

    TempFolder folder;
    EXPECT_TRUE(CreateUploadFolder(folder.Path("a/b/c/")));
    EXPECT_TRUE(fs::is_directory(folder.Path("a/b/c")));
    EXPECT_TRUE(CreateUploadFolder(folder.Path("a/b/c/")));
    folder.Write("file", "x");
    EXPECT_FALSE(CreateUploadFolder(folder.Path("file/sub/")));
    EXPECT_FALSE(CreateUploadFolder(""));
}

TEST(UploadRun, UploadFolderThatCannotBeMadeFailsTheFirstCopy)
{
    UploadFixture fixture(2);
    WriteBytes(fixture.root.Path("blocker"), "a file where the folder should be");
    const std::string folder = fixture.root.Path("blocker") + "/sub/";
    EXPECT_FALSE(CreateUploadFolder(folder));
    fixture.uploader.UploadFileList(fixture.Names({1, 2}), fixture.device, folder);
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(1), ENOTDIR)});
    EXPECT_EQ(fixture.copied, fixture.Names({1}));

    // An empty upload folder never lands files in the working folder.
    FakeWindow window;
    Uploader uploader(window.Reports());
    uploader.UploadFileList(fixture.Names({1}), fixture.device, "");
    EXPECT_EQ(window.messages, std::vector<std::string>{FailedAt(fixture.Name(1), ENOENT)});
    EXPECT_FALSE(fs::exists(fixture.Name(1)));
}

TEST(UploadRun, CopiesEveryFileByteForByteWithItsModificationTime)
{
    UploadFixture fixture(3);
    const timespec old[2] = {{1394000000, 0}, {1394010000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (fixture.device + fixture.Name(2)).c_str(), old, 0), 0);
    fixture.Run(fixture.Names({1, 2, 3}));
    for (const int number : {1, 2, 3})
        EXPECT_TRUE(fixture.Replaced(number)) << number;
    struct stat copy {};
    ASSERT_EQ(::stat((fixture.upload + fixture.Name(2)).c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1394010000);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 123456789);
    EXPECT_TRUE(fixture.window.asked.empty());
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1, 2, 3}));
    EXPECT_TRUE(fixture.uploader.lastCopyOk());
}

TEST(UploadRun, ReportsComeInTheirOrder)
{
    UploadFixture fixture(2);
    fixture.PlaceOld(2);
    fixture.window.answers = {DialogResult::Yes};
    fixture.Run(fixture.Names({1, 2}));
    const std::vector<std::string> expected{"started 2", "file 1 VOC00001.WAV", "file 2 VOC00002.WAV",
                                            "ask VOC00002.WAV", "finished copied"};
    EXPECT_EQ(fixture.window.log, expected);
    EXPECT_FALSE(fixture.uploader.running());
}

TEST(UploadRun, EachOverwriteAnswerDecidesItsFileAndAsksAgain)
{
    UploadFixture fixture(5);
    for (const int number : {1, 2, 3, 4})
        fixture.PlaceOld(number);
    // "是", "否", title-bar close, "否"; file 5 is new and copied without a question.
    fixture.window.answers = {DialogResult::Yes, DialogResult::No, DialogResult::Cancel, DialogResult::No};
    fixture.Run(fixture.Names({1, 2, 3, 4, 5}));
    EXPECT_EQ(fixture.window.asked, fixture.Names({1, 2, 3, 4}));
    EXPECT_TRUE(fixture.Replaced(1));
    EXPECT_EQ(fixture.Archived(2), "old " + fixture.Name(2));
    EXPECT_TRUE(fixture.Replaced(3));
    EXPECT_EQ(fixture.Archived(4), "old " + fixture.Name(4));
    EXPECT_TRUE(fixture.Replaced(5));
    EXPECT_EQ(fixture.copied, fixture.Names({1, 3, 5}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
}

TEST(UploadRun, NoToEveryExistingFileCopiesNothingAndReportsNothing)
{
    UploadFixture fixture(2);
    fixture.PlaceOld(1);
    fixture.PlaceOld(2);
    fixture.window.answers = {DialogResult::No, DialogResult::No};
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_TRUE(fixture.copied.empty());
    EXPECT_TRUE(fixture.window.messages.empty());
    EXPECT_FALSE(fixture.uploader.lastCopyOk());
}

TEST(UploadRun, YesToAllHoldsForTheRestOfTheRunButNotForTheNext)
{
    UploadFixture fixture(4);
    for (const int number : {1, 3, 4})
        fixture.PlaceOld(number);
    fixture.window.answers = {DialogResult::YesToAll};
    fixture.Run(fixture.Names({1, 2, 3, 4}));
    EXPECT_EQ(fixture.window.asked, fixture.Names({1}));
    for (const int number : {1, 2, 3, 4})
        EXPECT_TRUE(fixture.Replaced(number)) << number;

    fixture.window.asked.clear();
    fixture.window.answers = {DialogResult::No, DialogResult::No};
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_EQ(fixture.window.asked, fixture.Names({1, 2}));
}

TEST(UploadRun, CancelEndsTheRunAtOnceAndTheMessageFollowsEarlierCopies)
{
    {
        SCOPED_TRACE("取消 after a copy in the same run");
        UploadFixture fixture(3);
        fixture.PlaceOld(2);
        fixture.window.answers = {DialogResult::NoToAll};
        fixture.Run(fixture.Names({1, 2, 3}));
        EXPECT_EQ(fixture.copied, fixture.Names({1}));
        EXPECT_EQ(fixture.Archived(2), "old " + fixture.Name(2));
        EXPECT_FALSE(fs::exists(fixture.upload + fixture.Name(3)));
        EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
    }
    {
        SCOPED_TRACE("取消 at the first question, nothing copied before");
        UploadFixture fixture(3);
        fixture.PlaceOld(1);
        fixture.window.answers = {DialogResult::NoToAll};
        fixture.Run(fixture.Names({1, 2, 3}));
        EXPECT_TRUE(fixture.copied.empty());
        EXPECT_EQ(fixture.Archived(1), "old " + fixture.Name(1));
        EXPECT_TRUE(fixture.window.messages.empty());
        EXPECT_EQ(fixture.window.log.back(), "finished");
    }
}

TEST(UploadRun, StopClickDuringFileIEndsTheRunAfterFileIPlusOne)
{
    for (const std::size_t clickedDuring : {0u, 2u, 4u}) {
        SCOPED_TRACE("click while copying file index " + std::to_string(clickedDuring));
        UploadFixture fixture(5);
        const bool hasNext = clickedDuring + 1 < 5;
        if (hasNext)
            fixture.PlaceOld(static_cast<int>(clickedDuring) + 2);
        fixture.beforeCopy = [&](std::size_t copyIndex) {
            if (copyIndex == clickedDuring)
                fixture.uploader.RequestStop();
        };
        fixture.Run(fixture.Names({1, 2, 3, 4, 5}));
        std::vector<std::string> expected;
        for (std::size_t i = 0; i <= std::min<std::size_t>(clickedDuring + 1, 4); ++i)
            expected.push_back(fixture.Name(static_cast<int>(i) + 1));
        EXPECT_EQ(fixture.copied, expected);
        if (hasNext) { // file i + 1 was still handled, its question included
            EXPECT_EQ(fixture.window.asked, fixture.Names({static_cast<int>(clickedDuring) + 2}));
        }
        EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
    }
    {
        SCOPED_TRACE("a click outside a run is forgotten by the next run");
        UploadFixture fixture(3);
        fixture.uploader.RequestStop();
        fixture.Run(fixture.Names({1, 2, 3}));
        EXPECT_EQ(fixture.copied, fixture.Names({1, 2, 3}));
    }
}

namespace {

// A card pulled halfway: the first read hands out part of the file, the next one fails.
ReadCall FailAfter(std::size_t bytes)
{
    auto calls = std::make_shared<int>(0);
    return [calls, bytes](int fd, void* buffer, std::size_t size) -> ssize_t {
        if ((*calls)++ == 0)
            return ::read(fd, buffer, std::min(size, bytes));
        errno = EIO;
        return -1;
    };
}

} // namespace

TEST(UploadRun, CopyFailingHalfwayKeepsTheArchivedFileAndEndsTheRun)
{
    UploadFixture fixture(3, FailAfter(3000));
    fixture.PlaceOld(1);
    const std::string before = fixture.Archived(1);
    fixture.window.answers = {DialogResult::Yes};
    fixture.Run(fixture.Names({1, 2, 3}));
    EXPECT_EQ(fixture.Archived(1), before);
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1})); // no temporary file left
    EXPECT_EQ(fixture.copied, fixture.Names({1}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(1), EIO)});
    EXPECT_FALSE(fixture.uploader.lastCopyOk());
    // The failure is reported before the end.
    const auto& log = fixture.window.log;
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("提示:" + log[log.size() - 2].substr(std::string("message ").size()), FailedAt(fixture.Name(1), EIO));
    EXPECT_EQ(log.back(), "finished");
}

TEST(UploadRun, FullDiskKeepsTheArchivedFileAndLeavesNoPartialFile)
{
    // A 256 KiB file system that holds one old recording and cannot take the new one.
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty())
        GTEST_SKIP() << "no private mount namespace here: " << why;
    UploadFixture fixture(0);
    ASSERT_TRUE(WriteSampleFile(fixture.device + fixture.Name(1), SampleSpecFor(0, 400000)));
    ASSERT_TRUE(WriteSampleFile(fixture.device + fixture.Name(2), SampleSpecFor(1, 4000)));
    if (::mount("tmpfs", fixture.upload.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "this machine refuses a tmpfs mount: " << std::strerror(errno);
    fixture.PlaceOld(1);
    fixture.window.answers = {DialogResult::Yes};
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_EQ(fixture.Archived(1), "old " + fixture.Name(1));
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(1), ENOSPC)});
    EXPECT_EQ(fixture.copied, fixture.Names({1}));
    ::umount(fixture.upload.c_str());
}

TEST(UploadRun, CopiesThatCannotBeRenamedInPlaceAreReportedAndRemoved)
{
    // Between the copy of file 1 and the end of the run a folder takes file 1's name: the
    // copy cannot be put in place, the run says so and leaves no temporary file.
    UploadFixture fixture(2);
    fixture.beforeCopy = [&](std::size_t copyIndex) {
        if (copyIndex == 1)
            fs::create_directory(fixture.upload + fixture.Name(1));
    };
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_EQ(fixture.copied, fixture.Names({1, 2}));
    EXPECT_TRUE(fs::is_directory(fixture.upload + fixture.Name(1)));
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(1), EISDIR)});
    EXPECT_FALSE(fixture.uploader.lastCopyOk());
    EXPECT_EQ(fixture.window.log.back(), "finished");
}

TEST(UploadRun, ManyFilesAreAllInPlaceWhenTheRunEnds)
{
    UploadFixture fixture(0);
    std::vector<std::string> names;
    for (int number = 1; number <= 230; ++number) {
        ASSERT_TRUE(WriteSampleFile(fixture.device + fixture.Name(number), SampleSpecFor(number, 300)));
        names.push_back(fixture.Name(number));
    }
    fixture.PlaceOld(150);
    fixture.window.answers = {DialogResult::Yes};
    fixture.Run(names);
    EXPECT_EQ(fixture.UploadFolderNames(), names);
    for (int number = 1; number <= 230; ++number)
        EXPECT_TRUE(fixture.Replaced(number)) << number;
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
}

TEST(UploadRun, AFolderInTheWayEndsTheRunAtItsFileAndAFailedRenameNamesItsFile)
{
    UploadFixture fixture(8);
    fs::create_directory(fixture.upload + fixture.Name(5));
    fixture.window.answers = {DialogResult::Yes};
    fixture.Run(fixture.Names({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(5), EISDIR)});
    EXPECT_EQ(fixture.copied, fixture.Names({1, 2, 3, 4})) << "nothing after the failed file is attempted";
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1, 2, 3, 4, 5}));
    EXPECT_TRUE(fs::is_directory(fixture.upload + fixture.Name(5)));

    // A folder that appears after its file was copied shows when the batch is renamed into
    // place: the run ends there, and the message says which file failed.
    UploadFixture late(8);
    auto now = std::chrono::steady_clock::now();
    late.uploader.SetClock([&now] { return now; });
    late.beforeCopy = [&](std::size_t copiedSoFar) {
        if (copiedSoFar == 2) {
            fs::create_directory(late.upload + late.Name(2));
            now += std::chrono::seconds(2);
        }
    };
    late.Run(late.Names({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(late.window.messages, std::vector<std::string>{FailedAt(late.Name(2), EISDIR)});
    EXPECT_EQ(late.copied, late.Names({1, 2, 3}));
    EXPECT_EQ(late.UploadFolderNames(), late.Names({1, 2}));
    EXPECT_FALSE(late.uploader.lastCopyOk());
}

TEST(UploadRun, CopiesReachTheArchiveEverySecondDuringALongRun)
{
    UploadFixture fixture(7);
    auto now = std::chrono::steady_clock::now();
    fixture.uploader.SetClock([&now] { return now; });
    std::vector<std::size_t> archivedBeforeEachCopy;
    fixture.beforeCopy = [&](std::size_t) {
        const std::vector<std::string> names = fixture.UploadFolderNames();
        archivedBeforeEachCopy.push_back(std::count_if(names.begin(), names.end(), [](const std::string& name) {
            return !name.starts_with("."); // copies not yet renamed into place are hidden
        }));
        now += std::chrono::milliseconds(400);
    };
    fixture.Run(fixture.Names({1, 2, 3, 4, 5, 6, 7}));
    // Commits once a second has passed: after the third copy (1.2 s) and the sixth (2.4 s).
    EXPECT_EQ(archivedBeforeEachCopy, (std::vector<std::size_t>{0, 0, 0, 3, 3, 3, 6}));
    EXPECT_EQ(fixture.UploadFolderNames().size(), 7u);
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
}

TEST(UploadRun, ACardReplacedDuringTheRunEndsItAndNothingComesFromTheNewCard)
{
    // While file 2 is copied, card A goes and card B, with recordings of the same names, is
    // mounted at the same place.
    UploadFixture fixture(4);
    const std::string cardA = fixture.root.Path("card A") + "/";
    const std::string fromA = TempFolder::Read(fixture.device + fixture.Name(1));
    fixture.beforeCopy = [&](std::size_t copyIndex) {
        if (copyIndex != 1)
            return;
        fs::rename(fixture.device, cardA);
        fs::create_directories(fixture.device);
        for (const int number : {1, 2, 3, 4})
            WriteBytes(fixture.device + fixture.Name(number), "card B's " + fixture.Name(number));
    };
    fixture.Run(fixture.Names({1, 2, 3, 4}));
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1}));
    EXPECT_EQ(fixture.Archived(1), fromA);
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(2), ENODEV)});
}

namespace {

std::string KeptDay(std::chrono::year_month_day day)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()), unsigned(day.month()),
                  unsigned(day.day()));
    return text;
}

} // namespace

TEST(UploadOptions, IdenticalArchivedFilesAreSkippedWithoutAQuestionOnlyWhenAsked)
{
    UploadFixture fixture(5);
    fixture.Run(fixture.Names({1, 2, 3, 4, 5}));
    // File 3's archived copy is another recording of the same size and header (a later
    // modification time); file 4's has other bytes in its header record; file 5's is longer,
    // with the same header record and modification time.
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (fixture.upload + fixture.Name(3)).c_str(), later, 0), 0);
    std::string other = fixture.Archived(4);
    other[kHeaderOffset + 5] ^= 1;
    WriteBytes(fixture.upload + fixture.Name(4), other);
    WriteBytes(fixture.upload + fixture.Name(5), fixture.Archived(5) + "a longer call");
    struct stat card5 {};
    ASSERT_EQ(::stat((fixture.device + fixture.Name(5)).c_str(), &card5), 0);
    const timespec sameSecond[2] = {{0, UTIME_OMIT}, card5.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, (fixture.upload + fixture.Name(5)).c_str(), sameSecond, 0), 0);
    fixture.copied.clear();
    fixture.window.messages.clear();

    const UploadOptions skipping{.skipIdentical = true};
    fixture.window.answers = {DialogResult::No, DialogResult::No, DialogResult::No};
    fixture.uploader.UploadFileList(fixture.Names({1, 2, 3, 4, 5}), fixture.device, fixture.upload, skipping);
    EXPECT_EQ(fixture.window.asked, fixture.Names({3, 4, 5}));
    EXPECT_TRUE(fixture.copied.empty());
    // File 3, left at "否", has the card's bytes: it is in the archive all the same.
    EXPECT_EQ(fixture.window.outcome.identicalFiles, 3);
    EXPECT_EQ(fixture.window.outcome.copiedFiles, 0);
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone}) << "skipped files count as uploaded";

    // Without the option every existing file is asked about.
    fixture.window.asked.clear();
    fixture.window.answers = {DialogResult::No, DialogResult::No, DialogResult::No, DialogResult::No};
    fixture.Run(fixture.Names({1, 2, 3, 4}));
    EXPECT_EQ(fixture.window.asked, fixture.Names({1, 2, 3, 4}));
    EXPECT_EQ(fixture.window.outcome.skippedFiles, 1);
}

TEST(UploadOptions, AReplacedRecordingIsKeptInReplacedAndRemovedAfterItsDays)
{
    UploadFixture fixture(2);
    const std::string day = KeptDay(LocalToday());
    fixture.PlaceOld(1);
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_TRUE(fixture.Replaced(1));
    EXPECT_EQ(TempFolder::Read(fixture.upload + ".replaced/" + day + "/" + fixture.Name(1)), "old " + fixture.Name(1));
    EXPECT_EQ(fixture.window.outcome.copiedFiles, 2);
    EXPECT_EQ(fixture.window.outcome.replacedFiles, 1);
    EXPECT_EQ(fixture.window.outcome.replacedFolder, fixture.upload + ".replaced/");

    // Replaced again the same day: the first kept file stays, the second goes beside it.
    WriteBytes(fixture.upload + fixture.Name(1), "older " + fixture.Name(1));
    fixture.Run(fixture.Names({1}));
    EXPECT_EQ(TempFolder::Read(fixture.upload + ".replaced/" + day + "_2/" + fixture.Name(1)),
              "older " + fixture.Name(1));
    EXPECT_EQ(ListReplaced(fixture.upload).size(), 2u);

    // Kept files older than the days given go when the next run starts; other folders stay.
    const auto daysAgo = [](int days) {
        return std::chrono::year_month_day(std::chrono::sys_days(LocalToday()) - std::chrono::days(days));
    };
    for (const int age : {30, 31}) {
        fixture.PlaceOld(2);
        ASSERT_TRUE(KeepReplaced(fixture.upload, fixture.Name(2), daysAgo(age)));
    }
    fs::create_directories(fixture.upload + ".replaced/notes");
    fixture.Run(fixture.Names({2}));
    EXPECT_TRUE(fs::exists(fixture.upload + ".replaced/" + KeptDay(daysAgo(30))));
    EXPECT_FALSE(fs::exists(fixture.upload + ".replaced/" + KeptDay(daysAgo(31))));
    EXPECT_TRUE(fs::exists(fixture.upload + ".replaced/notes"));

    // With no days to keep, a replaced file is simply replaced.
    fixture.PlaceOld(2);
    fixture.uploader.UploadFileList(fixture.Names({2}), fixture.device, fixture.upload,
                                    UploadOptions{.keepReplacedDays = 0});
    EXPECT_TRUE(fixture.Replaced(2));
    EXPECT_EQ(ListReplaced(fixture.upload).size(), 4u) << "only the run that kept VOC00002.WAV today added one";
}

TEST(UploadOptions, AnArchivedFileWithTheCardsBytesIsNeitherReplacedNorKept)
{
    UploadFixture fixture(4);
    const std::vector<std::string> names = fixture.Names({1, 2, 3, 4});
    fixture.Run(names);
    fixture.copied.clear();
    fixture.window.messages.clear();
    fixture.window.answers = {DialogResult::YesToAll};
    fixture.Run(names);
    EXPECT_EQ(fixture.window.asked, fixture.Names({1})) << "the question is still asked";
    EXPECT_TRUE(fixture.copied.empty());
    EXPECT_EQ(fixture.window.outcome.identicalFiles, 4);
    EXPECT_EQ(fixture.window.outcome.replacedFiles, 0);
    EXPECT_TRUE(ListReplaced(fixture.upload).empty());
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone}) << "identical files count as uploaded";

    // Archived files that only begin alike: one byte more, one byte fewer, the last byte changed.
    const std::string card2 = TempFolder::Read(fixture.device + fixture.Name(2));
    const std::string card3 = TempFolder::Read(fixture.device + fixture.Name(3));
    std::string card4 = TempFolder::Read(fixture.device + fixture.Name(4));
    card4.back() ^= 1;
    WriteBytes(fixture.upload + fixture.Name(2), card2 + "x");
    WriteBytes(fixture.upload + fixture.Name(3), card3.substr(0, card3.size() - 1));
    WriteBytes(fixture.upload + fixture.Name(4), card4);
    fixture.window.asked.clear();
    fixture.Run(names);
    EXPECT_EQ(fixture.window.asked, names);
    EXPECT_EQ(fixture.copied, fixture.Names({2, 3, 4}));
    for (const int number : {2, 3, 4})
        EXPECT_TRUE(fixture.Replaced(number)) << number;
    EXPECT_EQ(fixture.window.outcome.identicalFiles, 1);
    EXPECT_EQ(ListReplaced(fixture.upload).size(), 3u);
}

TEST(UploadOptions, TheKeptFileIsOnDiskBeforeTheNameChangesAndGoesAgainWhenTheNameCannotChange)
{
    struct RealFlushCallsAfterwards {
        ~RealFlushCallsAfterwards() { SetDiskFlushCalls({}); }
    } restore;
    UploadFixture fixture(2);
    fixture.PlaceOld(1);
    const std::string day = ".replaced/" + KeptDay(LocalToday());
    const std::string kept = fixture.upload + day + "/" + fixture.Name(1);
    const std::string old = "old " + fixture.Name(1);
    std::vector<std::string> calls;
    int failWith = 0;
    const auto flushData = [&](int fd) {
        if (fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename().string().starts_with(".SHA256SUMS")) {
            calls.push_back("sums");
            return 0;
        }
        calls.push_back("data");
        EXPECT_EQ(fixture.Archived(1), old) << "the name changes only after the flush";
        EXPECT_EQ(TempFolder::Read(kept), old) << "kept before the flush";
        errno = failWith;
        return failWith == 0 ? 0 : -1;
    };
    const auto flushFolder = [&](int fd) {
        const std::string path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string() + "/";
        calls.push_back("folder " + path.substr(fixture.upload.size()));
        return 0;
    };
    SetDiskFlushCalls({flushData, flushData, flushFolder});
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_TRUE(fixture.Replaced(1));
    EXPECT_EQ(TempFolder::Read(kept), old);
    // The new folders, the kept link, the data, the renames into the upload folder, and then the
    // fingerprints of the files in place.
    EXPECT_EQ(calls, (std::vector<std::string>{"folder .replaced/", "folder ", "folder " + day + "/", "data", "folder ",
                                               "sums", "folder "}));

    // A copy that cannot be flushed leaves the archived file at its name and nothing kept.
    fs::remove_all(fixture.upload);
    fs::create_directories(fixture.upload);
    fixture.PlaceOld(1);
    failWith = EIO;
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_EQ(fixture.Archived(1), old);
    EXPECT_TRUE(ListReplaced(fixture.upload).empty());
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1})) << "no temporary file";
    EXPECT_EQ(fixture.window.messages.back(), FailedAt(fixture.Name(1), EIO));
}

// A rename that fails in the middle of a batch leaves the copies renamed before it in place, and
// the recordings they replaced kept; what the run tells of each file and counts is what the
// archive holds afterwards.
TEST(UploadOptions, ARenameFailingMidBatchKeepsWhatTheCopiesBeforeItReplacedAndIsToldSo)
{
    UploadFixture fixture(4);
    fixture.PlaceOld(1);
    fixture.PlaceOld(2);
    const auto now = std::chrono::steady_clock::now();
    fixture.uploader.SetClock([now] { return now; }); // one batch
    fixture.window.answers = {DialogResult::YesToAll};
    fixture.beforeCopy = [&](std::size_t copyIndex) {
        if (copyIndex == 3) // file 3 is copied: a folder takes its name
            fs::create_directory(fixture.upload + fixture.Name(3));
    };
    fixture.Run(fixture.Names({1, 2, 3, 4}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(3), EISDIR)});
    EXPECT_TRUE(fixture.Replaced(1));
    EXPECT_TRUE(fixture.Replaced(2));
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1, 2, 3}));
    std::vector<std::string> kept;
    for (const KeptRecording& recording : ListReplaced(fixture.upload))
        kept.push_back(TempFolder::Read(ReplacedFolder(fixture.upload) + recording.keptName));
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"old " + fixture.Name(1), "old " + fixture.Name(2)}));

    const std::string day = KeptDay(LocalToday());
    EXPECT_EQ(fixture.window.handled, (std::vector<std::string>{"replaced VOC00001.WAV " + day + "/VOC00001.WAV",
                                                                "replaced VOC00002.WAV " + day + "/VOC00002.WAV",
                                                                "failed VOC00003.WAV", "failed VOC00004.WAV"}));
    EXPECT_EQ(UploadEndText(fixture.window.outcome, true),
              FailedAt(fixture.Name(3), EISDIR).substr(std::string("提示:").size()) + "\n录音卡："
                  + fixture.root.Path("VOICE")
                  + "（共 4 个录音）\n复制：2 个\n跳过相同录音：0 个\n替换：2 个\n未上传：2 个（失败 2 个）\n"
                  + "留在卡上：VOC00003.WAV、VOC00004.WAV\n保存在：\n" + fixture.root.Path("archive")
                  + "\n被替换的录音保存在：" + fixture.upload + ".replaced/");
    EXPECT_EQ(UploadEndText(fixture.window.outcome, false),
              FailedAt(fixture.Name(3), EISDIR).substr(std::string("提示:").size()));
}

// The summary accounts for every file the run was given: copied, identical, or left on the card
// because of a "否", a stop or a failure, naming the first ten left.
TEST(UploadOptions, TheSummaryAccountsForEveryFileOfTheCard)
{
    UploadFixture fixture(15);
    fixture.PlaceOld(2);
    fixture.PlaceOld(3);
    WriteBytes(fixture.upload + fixture.Name(4), TempFolder::Read(fixture.device + fixture.Name(4)));
    fixture.window.answers = {DialogResult::No, DialogResult::No, DialogResult::No};
    fixture.beforeCopy = [&](std::size_t copyIndex) {
        if (copyIndex == 1) // while file 5 is copied: file 6 still comes, then the run ends
            fixture.uploader.RequestStop();
    };
    fixture.Run(fixture.Names({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(fixture.window.asked, fixture.Names({2, 3, 4}));
    EXPECT_EQ(fixture.window.handled.size(), 15u);
    EXPECT_EQ(UploadEndText(fixture.window.outcome, true),
              "数据上传完毕！\n录音卡：" + fixture.root.Path("VOICE")
                  + "（共 15 个录音）\n复制：3 个\n跳过相同录音：1 个\n替换：0 个\n未上传：11 个（回答“否” 2 个，停止 9 个）\n"
                    "留在卡上：VOC00002.WAV、VOC00003.WAV、VOC00007.WAV、VOC00008.WAV、VOC00009.WAV、VOC00010.WAV、"
                    "VOC00011.WAV、VOC00012.WAV、VOC00013.WAV、VOC00014.WAV 等 11 个\n保存在：\n"
                  + fixture.root.Path("archive"));
    EXPECT_EQ(UploadEndText(fixture.window.outcome, false), "数据上传完毕！");
}

TEST(UploadOptions, OnADiskWithoutHardLinksTheKeptFileIsACopy)
{
    if (::geteuid() != 0 || ::access("/usr/bin/fusefat", X_OK) != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "mounting a FAT image through FUSE needs root, fusefat and /dev/fuse";
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty())
        GTEST_SKIP() << "no private mount namespace here: " << why;
    UploadFixture fixture(2);
    const std::string image = fixture.root.Path("archive.img");
    std::string output;
    if (!RunShell("mkfs.vfat -C '" + image + "' 8192 >/dev/null && fusefat -o rw+ '" + image + "' '" + fixture.upload
                      + "'",
                  &output))
        GTEST_SKIP() << "cannot mount a FAT image here: " << output;
    struct Unmount {
        std::string folder;
        ~Unmount() { RunShell("fusermount -u '" + folder + "'"); }
    } unmount{fixture.upload};

    fixture.PlaceOld(1);
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_TRUE(fixture.Replaced(1));
    EXPECT_TRUE(fixture.Replaced(2));
    const std::vector<KeptRecording> kept = ListReplaced(fixture.upload);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(TempFolder::Read(ReplacedFolder(fixture.upload) + kept[0].keptName), "old " + fixture.Name(1));
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1, 2})) << "no temporary file";
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
}

TEST(UploadOptions, AFailedSafetyMoveKeepsTheArchivedFileAndEndsTheRun)
{
    UploadFixture fixture(3);
    fixture.PlaceOld(2);
    WriteBytes(fixture.upload + ".replaced", "a file where the folder should be");
    fixture.Run(fixture.Names({1, 2, 3}));
    EXPECT_EQ(fixture.Archived(2), "old " + fixture.Name(2));
    EXPECT_TRUE(fixture.Replaced(1)) << "the file before it is in place";
    EXPECT_EQ(fixture.UploadFolderNames(), fixture.Names({1, 2})) << "nothing after it, no temporary file";
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{FailedAt(fixture.Name(2), ENOTDIR)});
    EXPECT_FALSE(fixture.uploader.lastCopyOk());
}

TEST(UploadOptions, MonthFoldersFollowTheStartMonthAcrossAYearEndAndTheSummaryNamesThem)
{
    UploadFixture fixture(0);
    const std::vector<std::pair<int, int>> yearMonth{{22, 12}, {23, 1}, {23, 1}, {0, 13}};
    for (std::size_t i = 0; i < yearMonth.size(); ++i) {
        SampleSpec sample = SampleSpecFor(static_cast<std::uint32_t>(i), 2000);
        sample.year = yearMonth[i].first;
        sample.month = yearMonth[i].second;
        ASSERT_TRUE(WriteSampleFile(fixture.device + fixture.Name(static_cast<int>(i) + 1), sample));
    }
    fixture.uploader.UploadFileList(fixture.Names({1, 2, 3, 4}), fixture.device, fixture.upload,
                                    UploadOptions{.monthFolders = true});
    EXPECT_EQ(TempFolder::Read(fixture.upload + "2022年12月/" + fixture.Name(1)),
              TempFolder::Read(fixture.device + fixture.Name(1)));
    EXPECT_TRUE(fs::exists(fixture.upload + "2023年01月/" + fixture.Name(2)));
    EXPECT_TRUE(fs::exists(fixture.upload + "2023年01月/" + fixture.Name(3)));
    EXPECT_TRUE(fs::exists(fixture.upload + fixture.Name(4))) << "no month: the upload folder itself";
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
    EXPECT_EQ(UploadSummaryText(fixture.window.outcome),
              "数据上传完毕！\n录音卡：" + fixture.root.Path("VOICE")
                  + "（共 4 个录音）\n复制：4 个\n跳过相同录音：0 个\n替换：0 个\n未上传：0 个\n保存在：\n"
                  + fixture.root.Path("archive") + "\n" + fixture.upload + "2022年12月\n" + fixture.upload
                  + "2023年01月");
    // Years of months: the first five, then how many more.
    UploadOutcome years;
    for (int month = 1; month <= 9; ++month)
        years.folders.insert("/archive/2023年0" + std::to_string(month) + "月");
    const std::string text = UploadSummaryText(years);
    EXPECT_NE(text.find("/archive/2023年05月\n……另有 4 个文件夹"), std::string::npos) << text;

    // A month folder that cannot be made ends the run at its file.
    UploadFixture blocked(0);
    ASSERT_TRUE(WriteSampleFile(blocked.device + blocked.Name(1), SampleSpecFor(0, 2000)));
    WriteBytes(blocked.upload + MonthFolderName(*ReadRecordingHeader(blocked.device + blocked.Name(1))),
               "a file where the folder should be");
    blocked.uploader.UploadFileList(blocked.Names({1}), blocked.device, blocked.upload,
                                    UploadOptions{.monthFolders = true});
    EXPECT_EQ(blocked.window.messages, std::vector<std::string>{FailedAt(blocked.Name(1), ENOTDIR)});
}

TEST(ReplacedRecordings, KeptBesideTheNameAndRestoredInExchangeForWhatHoldsTheName)
{
    TempFolder folder;
    const std::string upload = folder.path() + "/";
    const std::string month = upload + "2023年01月/";
    fs::create_directories(month);
    WriteBytes(month + "VOC00001.WAV", "old call");
    const Result<std::string> kept = KeepReplaced(upload, "2023年01月/VOC00001.WAV", LocalToday());
    ASSERT_TRUE(kept) << kept.error().reason;
    EXPECT_EQ(TempFolder::Read(month + "VOC00001.WAV"), "old call") << "the name still holds the recording";
    const Result<std::string> again = KeepReplaced(upload, "2023年01月/VOC00001.WAV", LocalToday());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *kept) << "the same file is kept once";
    WriteBytes(ReplacedFolder(upload) + KeptDay(LocalToday()) + "/.VOC00002.WAV.sdvoice-1.abcdef", "half a copy");
    const std::vector<KeptRecording> listed = ListReplaced(upload);
    ASSERT_EQ(listed.size(), 1u) << "a copy still being made is no kept recording";
    EXPECT_EQ(listed[0].keptName, *kept);
    EXPECT_EQ(listed[0].originalPath, "2023年01月/VOC00001.WAV");
    EXPECT_EQ(*FindKeptName(upload, "2023年01月/VOC00001.WAV"), *kept);
    EXPECT_FALSE(FindKeptName(upload, "VOC00002.WAV"));

    // The uploader replaces the name by a rename. A restore exchanges: the recording holding the
    // name is kept in its turn and the kept one takes its name back; nothing is overwritten.
    fs::remove(month + "VOC00001.WAV");
    WriteBytes(month + "VOC00001.WAV", "new call");
    EXPECT_FALSE(RestoreReplaced(upload, "../../etc/passwd"));
    EXPECT_FALSE(RestoreReplaced(upload, "2023-01-01/../../x"));
    for (const char* badName : {"../VOC00009.WAV", "a/b.WAV", "..", "VOC00001-old.WAV", "bad.txt"})
        EXPECT_FALSE(RestoreReplaced(upload, *kept, badName)) << badName;
    EXPECT_EQ(TempFolder::Read(month + "VOC00001.WAV"), "new call");
    const Result<std::string> exchanged = RestoreReplaced(upload, *kept);
    ASSERT_TRUE(exchanged) << exchanged.error().reason;
    EXPECT_EQ(TempFolder::Read(month + "VOC00001.WAV"), "old call");
    EXPECT_EQ(TempFolder::Read(KeptPath(upload, *exchanged)), "new call");
    EXPECT_EQ(ListReplaced(upload).size(), 1u);
    const Result<std::string> restoredAgain = RestoreReplaced(upload, *kept);
    ASSERT_FALSE(restoredAgain) << "restored already";
    EXPECT_EQ(restoredAgain.error().error, ENOENT);
    // Under another recorder name that is free: nothing is kept in exchange.
    const Result<std::string> renamed = RestoreReplaced(upload, *exchanged, "VOC0001B.WAV");
    ASSERT_TRUE(renamed) << renamed.error().reason;
    EXPECT_EQ(*renamed, "");
    EXPECT_EQ(TempFolder::Read(month + "VOC0001B.WAV"), "new call");
    EXPECT_TRUE(ListReplaced(upload).empty());

    // Kept twice: the plain path is ambiguous. A month folder gone since is made again.
    for (const char* call : {"first call", "second call"}) {
        WriteBytes(upload + "VOC00003.WAV", call);
        ASSERT_TRUE(KeepReplaced(upload, "VOC00003.WAV", LocalToday()));
        fs::remove(upload + "VOC00003.WAV");
    }
    const Result<std::string> ambiguous = FindKeptName(upload, "VOC00003.WAV");
    ASSERT_FALSE(ambiguous);
    EXPECT_NE(ambiguous.error().reason.find("_2/VOC00003.WAV"), std::string::npos) << ambiguous.error().reason;
    WriteBytes(month + "VOC00004.WAV", "month call");
    const Result<std::string> monthKept = KeepReplaced(upload, "2023年01月/VOC00004.WAV", LocalToday());
    ASSERT_TRUE(monthKept);
    fs::remove_all(month);
    ASSERT_TRUE(RestoreReplaced(upload, *monthKept));
    EXPECT_EQ(TempFolder::Read(month + "VOC00004.WAV"), "month call");
}

// The window starts the next upload from the end of the last one (the automatic upload, a quick
// click): the end must find the run over, or the start is refused and the click does nothing.
TEST(UploadWorker, ItsEndFindsTheRunOverSoThatTheNextUploadStarts)
{
    UploadFixture fixture(1);
    // The upload makes the archive index known folders end up in: one of the test's own.
    const TempFolder desk;
    ASSERT_EQ(::setenv("XDG_DATA_HOME", desk.Path("data").c_str(), 1), 0);
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", desk.Path("config").c_str(), 1), 0);
    UploadWorker worker;
    std::promise<bool> runningAtEnd;
    QObject::connect(&worker, &UploadWorker::finished,
                     [&](const UploadOutcome&) { runningAtEnd.set_value(worker.running()); });
    ASSERT_TRUE(worker.Start(fixture.Names({1}), fixture.device, fixture.upload));
    std::future<bool> ended = runningAtEnd.get_future();
    ASSERT_EQ(ended.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the upload did not end";
    EXPECT_FALSE(ended.get());
    EXPECT_TRUE(fixture.Replaced(1));
}

namespace {

// Whether coreutils' `sha256sum -c` in folder accepts its SHA256SUMS.
bool Sha256sumAccepts(const std::string& folder)
{
    const std::string command = "cd '" + folder + "' && sha256sum -c --quiet SHA256SUMS >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// The names whose SHA256SUMS line does not match the file of that name in folder (files that are
// not there count as matching), or "unreadable SHA256SUMS".
std::vector<std::string> MismatchedSums(const std::string& folder)
{
    const Result<std::vector<SumsLine>> lines = ReadFolderSums(folder);
    if (!lines)
        return {"unreadable SHA256SUMS"};
    std::vector<std::string> wrong;
    for (const SumsLine& line : *lines) {
        const Result<std::string> actual = Sha256HexOfFile(folder + "/" + line.name);
        if (fs::exists(folder + "/" + line.name) && (!actual || *actual != line.sha256))
            wrong.push_back(line.name);
    }
    return wrong;
}

std::size_t SumsLineCount(const std::string& folder)
{
    const Result<std::vector<SumsLine>> lines = ReadFolderSums(folder);
    return lines ? lines->size() : 0;
}

} // namespace

// The fingerprints taken during the copy are those coreutils computes; a replaced file's line
// follows it, and an identical archived file left in place gets its line when it had none.
TEST(UploadSums, EveryFileInPlaceHasTheLineSha256sumAccepts)
{
    UploadFixture fixture(0);
    for (std::uint32_t i = 0; i < 4; ++i) {
        SampleSpec sample = SampleSpecFor(i, 3000);
        sample.year = 23;
        sample.month = i < 2 ? 1 : 2;
        ASSERT_TRUE(WriteSampleFile(fixture.device + fixture.Name(static_cast<int>(i) + 1), sample));
    }
    const std::string january = fixture.upload + "2023年01月";
    const std::string february = fixture.upload + "2023年02月";
    FakeWindow window;
    Uploader uploader(window.Reports()); // the copy that takes the fingerprint as it goes
    const auto upload = [&](UploadOptions options) {
        options.monthFolders = true;
        uploader.UploadFileList(fixture.Names({1, 2, 3, 4}), fixture.device, fixture.upload, options);
    };
    upload({});
    EXPECT_TRUE(Sha256sumAccepts(january));
    EXPECT_TRUE(Sha256sumAccepts(february));
    EXPECT_EQ(SumsLineCount(january), 2u);
    EXPECT_EQ(SumsLineCount(february), 2u);

    SampleSpec changed = SampleSpecFor(9, 5000);
    changed.year = 23;
    changed.month = 1;
    ASSERT_TRUE(WriteSampleFile(fixture.device + fixture.Name(1), changed));
    upload({});
    EXPECT_EQ(window.asked.size(), 4u);
    EXPECT_TRUE(Sha256sumAccepts(january)) << "the replaced file's line is the new file's";
    EXPECT_EQ(SumsLineCount(january), 2u);

    fs::remove(february + "/SHA256SUMS");
    upload(UploadOptions{.skipIdentical = true});
    EXPECT_EQ(window.outcome.identicalFiles, 4);
    EXPECT_TRUE(Sha256sumAccepts(february)) << "identical files get their lines back";
    EXPECT_EQ(SumsLineCount(february), 2u);
    EXPECT_TRUE(window.outcome.sumsFailures.empty());

    // A copy call of its own (the fixture's) takes no fingerprint: it is read from the copy.
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_TRUE(Sha256sumAccepts(fixture.upload));
    EXPECT_EQ(SumsLineCount(fixture.upload), 2u);
}

// A SHA256SUMS that is not one (an edited or foreign file) is left as it is; the files are
// uploaded all the same and the end's message names the file that could not take their lines.
TEST(UploadSums, ASumsFileThatCannotBeWrittenLeavesTheUploadWholeAndIsNamed)
{
    UploadFixture fixture(2);
    const std::string foreign = "not a list of fingerprints\n";
    WriteBytes(fixture.upload + "SHA256SUMS", foreign);
    fixture.Run(fixture.Names({1, 2}));
    EXPECT_EQ(fixture.window.messages, std::vector<std::string>{kDone});
    EXPECT_TRUE(fixture.Replaced(1) && fixture.Replaced(2));
    EXPECT_EQ(TempFolder::Read(fixture.upload + "SHA256SUMS"), foreign);
    const std::string line =
        "校验文件无法写入：" + fixture.root.Path("archive") + "/SHA256SUMS（现有文件不是校验文件，未改动）";
    EXPECT_EQ(fixture.window.outcome.sumsFailures, std::set<std::string>{line});
    EXPECT_EQ(UploadEndText(fixture.window.outcome, false), "数据上传完毕！\n" + line);
}

// A run killed at any moment (power cut, crash) leaves files without a line at worst, never a
// line that its file does not match: each round replaces every archived file with other bytes.
// The folder flush after the renames is slowed so that kills often fall between the renames and
// the recording of their lines.
TEST(UploadSums, AnUploadKilledAtAnyMomentLeavesNoLineThatDoesNotMatchItsFile)
{
    UploadFixture fixture(0);
    std::random_device seeder;
    const unsigned seed = seeder();
    std::mt19937 random(seed);
    constexpr int kRounds = 10;
    constexpr std::uint32_t kFiles = 20;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(WriteSampleFolder(fixture.device, kFiles, 2000 + 500 * static_cast<std::uint32_t>(round)));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0) << std::strerror(errno);
        if (child == 0) {
            SetDiskFlushCalls({.flushFolder = [](int fd) {
                ::usleep(5000);
                return ::fsync(fd);
            }});
            FakeWindow window;
            UploadReports reports = window.Reports();
            reports.askOverwrite = [](const std::string&) { return DialogResult::YesToAll; };
            Uploader uploader(reports);
            // Every file is its own batch: many renames, each followed by its line.
            uploader.SetClock([] {
                static auto now = std::chrono::steady_clock::now();
                return now += std::chrono::seconds(2);
            });
            std::vector<std::string> names;
            for (std::uint32_t i = 1; i <= kFiles; ++i)
                names.push_back(fixture.Name(static_cast<int>(i)));
            uploader.UploadFileList(names, fixture.device, fixture.upload);
            ::_exit(0);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 300000)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(MismatchedSums(fixture.root.Path("archive")), std::vector<std::string>{})
            << "round " << round << ", seed " << seed;
    }
    EXPECT_GT(SumsLineCount(fixture.root.Path("archive")), 0u) << "no round got as far as recording a line";
}
