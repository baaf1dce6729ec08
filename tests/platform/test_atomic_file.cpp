#include "platform/atomic_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

struct stat StatOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// Makes every write beyond limit bytes of a file fail with EFBIG, as a full card does
// with ENOSPC, and restores the old limit at the end of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

TEST(AtomicCopy, CopyFailingPartWayLeavesTheOldTargetByteForByte)
{
    TempFolder folder;
    const std::string source = folder.Write("VOC00001.WAV", Pattern(3 << 20, 1));
    const std::string oldBytes = Pattern(100000, 2);
    const std::string target = folder.Write("archived.wav", oldBytes);

    Result<void> result;
    {
        FileSizeLimit limit((1 << 20) + 1000);
        result = CopyFileAtomically(source, target);
    }
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(result.error().error, EFBIG);
    EXPECT_FALSE(result.error().reason.empty());
    EXPECT_EQ(TempFolder::Read(target), oldBytes);
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"VOC00001.WAV", "archived.wav"}));

    // A card pulled part way: the read fails after the first block.
    int reads = 0;
    result = CopyFileAtomicallyWith(source, target, [&](int fd, void* buffer, std::size_t size) -> ssize_t {
        if (++reads > 1) {
            errno = EIO;
            return -1;
        }
        return ::read(fd, buffer, size);
    });
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(result.error().error, EIO);
    EXPECT_EQ(TempFolder::Read(target), oldBytes);
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"VOC00001.WAV", "archived.wav"}));

    // Without an old target nothing at all is left behind.
    {
        FileSizeLimit limit((1 << 20) + 1000);
        result = CopyFileAtomically(source, folder.Path("new.wav"));
    }
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"VOC00001.WAV", "archived.wav"}));
}

TEST(AtomicCopy, CopyHasTheSourceBytesModeAndModificationTime)
{
    TempFolder folder;
    const std::string bytes = Pattern((2 << 20) + 12345, 3); // more than one read block
    const std::string source = folder.Write("VOC00001.WAV", bytes);
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    const timespec times[2] = {{1394000000, 0}, {1394010000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

    const std::string fresh = folder.Path("fresh.wav");
    const std::string replaced = folder.Write("replaced.wav", "older and different");
    for (const std::string& target : {fresh, replaced}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(CopyFileAtomically(source, target).has_value());
        EXPECT_EQ(TempFolder::Read(target), bytes);
        const struct stat info = StatOf(target);
        EXPECT_EQ(info.st_mtim.tv_sec, times[1].tv_sec);
        EXPECT_EQ(info.st_mtim.tv_nsec, times[1].tv_nsec);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
    }
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"VOC00001.WAV", "fresh.wav", "replaced.wav"}));

    const std::string empty = folder.Write("VOC00002.WAV", "");
    ASSERT_TRUE(CopyFileAtomically(empty, folder.Path("empty-copy.wav")).has_value());
    EXPECT_EQ(TempFolder::Read(folder.Path("empty-copy.wav")), "");
}

TEST(AtomicCopy, LinkAtTheTargetIsReplacedNotFollowed)
{
    TempFolder folder;
    const std::string source = folder.Write("VOC00001.WAV", "recording");
    const std::string victim = folder.Write("victim", "must stay");
    const std::string target = folder.Path("target.wav");
    ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);

    ASSERT_TRUE(CopyFileAtomically(source, target).has_value());
    EXPECT_TRUE(S_ISREG(StatOf(target).st_mode));
    EXPECT_EQ(TempFolder::Read(target), "recording");
    EXPECT_EQ(TempFolder::Read(victim), "must stay");
}

TEST(AtomicCopy, ImpossibleCopiesFailCleanlyWithTheirReason)
{
    TempFolder folder;
    const std::string source = folder.Write("VOC00001.WAV", "recording");
    ASSERT_EQ(::mkdir(folder.Path("folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(folder.Path("full").c_str(), 0755), 0);
    folder.Write("full/inside", "kept");

    for (const std::string& target : {folder.Path("folder"), folder.Path("full")}) {
        SCOPED_TRACE(target);
        const Result<void> result = CopyFileAtomically(source, target);
        EXPECT_FALSE(result.has_value());
        EXPECT_NE(result.error().reason.find(target), std::string::npos) << result.error().reason;
        EXPECT_TRUE(S_ISDIR(StatOf(target).st_mode));
    }
    EXPECT_EQ(TempFolder::Read(folder.Path("full/inside")), "kept");

    Result<void> result = CopyFileAtomically(folder.Path("missing.wav"), folder.Path("copy.wav"));
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(result.error().error, ENOENT);
    result = CopyFileAtomically(source, folder.Path("no/such/folder/copy.wav"));
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(result.error().error, ENOENT);

    // A folder as the source: the reason must be the folder, not a left-over errno.
    errno = ENOENT;
    result = CopyFileAtomically(folder.Path("folder"), folder.Path("copy.wav"));
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(result.error().error, EISDIR) << result.error().reason;
    // A pipe as the source fails at once instead of waiting for a writer.
    ASSERT_EQ(::mkfifo(folder.Path("pipe").c_str(), 0644), 0);
    result = CopyFileAtomically(folder.Path("pipe"), folder.Path("copy.wav"));
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(result.error().error, EINVAL) << result.error().reason;

    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"VOC00001.WAV", "folder", "full", "pipe"}));
}

TEST(AtomicWrite, ReplacesContentKeepsOrForcesModeAndNeverFollowsLinks)
{
    TempFolder folder;
    const std::string shared = folder.Write("shared.cfg", "old");
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(shared, "new text\r\n").has_value());
    EXPECT_EQ(TempFolder::Read(shared), "new text\r\n");
    EXPECT_EQ(StatOf(shared).st_mode & 07777, 0640u);

    // The password file stays private even when someone made it readable.
    const std::string secret = folder.Write("qzacfg.cfg", "old");
    ASSERT_EQ(::chmod(secret.c_str(), 0644), 0);
    ASSERT_TRUE(WriteFileAtomically(secret, "D:\\\r\n123\r\n", 0600, true).has_value());
    EXPECT_EQ(StatOf(secret).st_mode & 07777, 0600u);

    const std::string fresh = folder.Path("fresh.cfg");
    ASSERT_TRUE(WriteFileAtomically(fresh, "", 0600).has_value());
    EXPECT_EQ(StatOf(fresh).st_mode & 07777, 0600u);
    EXPECT_EQ(TempFolder::Read(fresh), "");

    const std::string victim = folder.Write("victim", "must stay");
    const std::string link = folder.Path("link.cfg");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteFileAtomically(link, "written").has_value());
    EXPECT_TRUE(S_ISREG(StatOf(link).st_mode));
    EXPECT_EQ(TempFolder::Read(victim), "must stay");

    EXPECT_FALSE(WriteFileAtomically(folder.Path("missing/x.cfg"), "x").has_value());
    ASSERT_EQ(::mkdir(folder.Path("folder").c_str(), 0755), 0);
    EXPECT_FALSE(WriteFileAtomically(folder.Path("folder"), "x").has_value());
    EXPECT_EQ(Names(folder.path()),
              (std::vector<std::string>{"folder", "fresh.cfg", "link.cfg", "qzacfg.cfg", "shared.cfg", "victim"}));
}

TEST(AtomicWrite, StreamedTempFileIsInvisibleUntilCommittedAndGoneWhenDiscarded)
{
    TempFolder folder;
    const std::string target = folder.Write("wave.$$$", "previous");

    TempFile discarded = CreateTempFileBeside(target, 0644);
    ASSERT_GE(discarded.fd, 0);
    ASSERT_EQ(::write(discarded.fd, "half", 4), 4);
    DiscardTempFile(discarded);
    EXPECT_LT(discarded.fd, 0);
    EXPECT_EQ(TempFolder::Read(target), "previous");
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"wave.$$$"});

    TempFile temp = CreateTempFileBeside(target, 0644);
    ASSERT_GE(temp.fd, 0);
    EXPECT_EQ(temp.path.rfind(folder.path() + "/", 0), 0u) << "the temporary file must lie beside the target";
    ASSERT_EQ(::write(temp.fd, "complete", 8), 8);
    EXPECT_EQ(TempFolder::Read(target), "previous");
    ASSERT_TRUE(CommitTempFile(temp, target).has_value());
    EXPECT_EQ(TempFolder::Read(target), "complete");
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"wave.$$$"});

    EXPECT_LT(CreateTempFileBeside(folder.Path("missing/wave.$$$"), 0644).fd, 0);
}

TEST(AtomicWrite, LeftoversOfDeadWritersAreRemovedThoseOfLivingOnesKept)
{
    TempFolder folder;
    const std::string target = folder.Write("VOC00001.WAV", "archived");
    // A writer killed before it could commit or discard its file.
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        CreateTempFileBeside(target, 0644);
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(writer, nullptr, 0), writer);
    // A writer in another process that goes on writing (a conversion of voctool's) until the
    // test closes its pipe, and one of this process.
    int toWriter[2];
    int fromWriter[2];
    ASSERT_EQ(::pipe(toWriter), 0);
    ASSERT_EQ(::pipe(fromWriter), 0);
    const pid_t running = ::fork();
    ASSERT_GE(running, 0);
    if (running == 0) {
        ::close(toWriter[1]);
        char made = CreateTempFileBeside(target, 0644).fd >= 0 ? 1 : 0;
        if (::write(fromWriter[1], &made, 1) == 1)
            (void)::read(toWriter[0], &made, 1);
        ::_exit(0);
    }
    ::close(toWriter[0]);
    ::close(fromWriter[1]);
    char made = 0;
    ASSERT_EQ(::read(fromWriter[0], &made, 1), 1);
    ::close(fromWriter[0]);
    ASSERT_EQ(made, 1);
    TempFile living = CreateTempFileBeside(target, 0644);
    ASSERT_GE(living.fd, 0);
    folder.Write(".VOC00002.WAV.XXyyZZ", "not ours");
    folder.Write(".notes.sdvoice-x.abcdef", "not ours either");
    const std::vector<std::string> before = Names(folder.path());
    ASSERT_EQ(before.size(), 6u);
    const std::string runningPrefix = ".VOC00001.WAV.sdvoice-" + std::to_string(running) + ".";
    const auto runningName = std::find_if(before.begin(), before.end(),
                                          [&](const std::string& name) { return name.starts_with(runningPrefix); });
    ASSERT_NE(runningName, before.end());

    EXPECT_EQ(RemoveLeftoverTempFiles(folder.path()), 1);
    const std::string livingName = living.path.substr(folder.path().size() + 1);
    std::vector<std::string> kept{livingName, *runningName, ".VOC00002.WAV.XXyyZZ", ".notes.sdvoice-x.abcdef",
                                  "VOC00001.WAV"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(Names(folder.path()), kept);
    EXPECT_EQ(TempFolder::Read(target), "archived");

    ::close(toWriter[1]);
    ASSERT_EQ(::waitpid(running, nullptr, 0), running);
    EXPECT_EQ(RemoveLeftoverTempFiles(folder.path()), 1) << "the other process's file once it has ended";
    DiscardTempFile(living);
    EXPECT_EQ(RemoveLeftoverTempFiles(folder.Path("missing")), 0);
}

// A save of one file is on the disk before it takes the name: a power cut leaves the old file or
// the new one whole, never an empty file under the name. A save that cannot be flushed leaves the
// old file as it was.
TEST(AtomicWrite, ASaveIsFlushedBeforeItTakesTheName)
{
    struct RealFlushCallsAfterwards {
        ~RealFlushCallsAfterwards() { SetDiskFlushCalls({}); }
    } restore;
    TempFolder folder;
    const std::string settings = folder.Write("sdvoice.conf", "old settings");
    const std::string source = folder.Write("VOC00001.WAV", "recording");
    const std::string saved = folder.Path("saved.wav");
    std::vector<std::string> calls;
    int failWith = 0;
    // What the names hold when the data is flushed.
    const auto flushData = [&](int) {
        calls.push_back("data: " + TempFolder::Read(settings) + (::access(saved.c_str(), F_OK) == 0 ? ", saved" : ""));
        errno = failWith;
        return failWith == 0 ? 0 : -1;
    };
    const auto flushFolder = [&](int) {
        calls.push_back("folder");
        return 0;
    };
    SetDiskFlushCalls({flushData, flushData, flushFolder});

    ASSERT_TRUE(WriteFileAtomically(settings, "new settings").has_value());
    ASSERT_TRUE(CopyFileAtomically(source, saved).has_value());
    EXPECT_EQ(calls, (std::vector<std::string>{"data: old settings", "folder", "data: new settings", "folder"}));
    EXPECT_EQ(TempFolder::Read(saved), "recording");

    calls.clear();
    ASSERT_EQ(::unlink(saved.c_str()), 0);
    folder.Write("sdvoice.conf", "old settings");
    failWith = EIO;
    const Result<void> failed = WriteFileAtomically(settings, "lost settings");
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().error, EIO);
    EXPECT_FALSE(CopyFileAtomically(source, saved).has_value());
    EXPECT_EQ(calls, (std::vector<std::string>{"data: old settings", "data: old settings"}));
    EXPECT_EQ(TempFolder::Read(settings), "old settings");
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"VOC00001.WAV", "sdvoice.conf"}));
}

} // namespace
