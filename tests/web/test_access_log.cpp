#include "web/access_log.h"
#include "platform/sha256_digest.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

AccessEntry Entry(int number, const QString& account = "li")
{
    return {QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + number, Qt::UTC), account, WebAction::Play,
            QString::number(number), "192.168.1.20"};
}

TEST(AccessLog, KeepsHostileFieldsOnOneLineAndGivesTheNewestFirst)
{
    const TempFolder folder;
    AccessLog log(QString::fromStdString(folder.Path("config/web-access.log")));
    EXPECT_TRUE(log.Newest(10)->isEmpty());

    AccessEntry hostile = Entry(1, "王\tevil\nlogin\tx\\n");
    hostile.action = WebAction::LoginRefused;
    hostile.recording = "a\rb\\";
    ASSERT_TRUE(log.Append(hostile));
    ASSERT_TRUE(log.Append(Entry(2)));
    ASSERT_TRUE(log.Append(Entry(3)));

    const QList<AccessEntry> newest = *log.Newest(10);
    ASSERT_EQ(newest.size(), 3);
    EXPECT_EQ(newest[0].recording, "3");
    EXPECT_EQ(newest[1].recording, "2");
    EXPECT_EQ(newest[2].time, hostile.time);
    EXPECT_EQ(newest[2].account, hostile.account);
    EXPECT_EQ(newest[2].action, WebAction::LoginRefused);
    EXPECT_EQ(newest[2].recording, hostile.recording);
    EXPECT_EQ(newest[2].address, hostile.address);
    EXPECT_EQ(log.Newest(2)->size(), 2);

    const std::string path = folder.Path("config/web-access.log");
    std::string bytes = TempFolder::Read(path);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 3);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // A line cut short (the disk filled while it was written) is passed over, and the next entry
    // starts a line of its own rather than vanishing into it.
    TempFolder::WriteFile(path, bytes + "2023-11-14T22:13:20.004Z\tli\tpla");
    ASSERT_TRUE(log.Append(Entry(5)));
    const QList<AccessEntry> afterCut = *log.Newest(10);
    ASSERT_EQ(afterCut.size(), 4);
    EXPECT_EQ(afterCut[0].recording, "5");
    EXPECT_EQ(afterCut[1].recording, "3");
}

TEST(AccessLog, EntriesAppendedFromManyThreadsAreAllWholeLinesOfOneChain)
{
    const TempFolder folder;
    // The desk and the server each write through a log of their own.
    AccessLog log(QString::fromStdString(folder.Path("web-access.log")));
    AccessLog other(log.filePath());
    constexpr int kThreads = 4;
    constexpr int kEach = 600; // well over one 64 KiB piece of the file's tail
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE((t % 2 ? other : log).Append(Entry(t * kEach + i, QString(40, QChar(u'a' + t)))));
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const QList<AccessEntry> all = *log.Newest(kThreads * kEach + 10);
    ASSERT_EQ(all.size(), kThreads * kEach);
    std::vector<bool> seen(kThreads * kEach);
    for (const AccessEntry& entry : all)
        seen[entry.recording.toInt()] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kThreads * kEach);
    EXPECT_EQ(log.Newest(7)->size(), 7);
    const LogCheck check = *log.Verify();
    EXPECT_TRUE(check.whole()) << "broken at line " << check.brokenLine;
    EXPECT_EQ(check.lines, kThreads * kEach);
}

// The log's lines, each without its line end.
std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream text(TempFolder::Read(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    return text;
}

TEST(AccessLog, VerifyNamesTheFirstEntryChangedRemovedMovedOrCut)
{
    const TempFolder folder;
    const std::string path = folder.Path("web-access.log");
    AccessLog log(QString::fromStdString(path));
    EXPECT_TRUE(log.Verify()->whole()); // no log yet
    QString head;
    for (int i = 1; i <= 5; ++i)
        head = *log.Append(Entry(i));
    const LogCheck whole = *log.Verify();
    EXPECT_TRUE(whole.whole());
    EXPECT_EQ(whole.lines, 5);
    EXPECT_EQ(whole.unchained, 0);
    EXPECT_EQ(whole.head, head);
    const std::vector<std::string> lines = Lines(path);

    const auto brokenAt = [&](const std::string& text) {
        TempFolder::WriteFile(path, text);
        const LogCheck check = *log.Verify();
        return std::pair(check.brokenLine, check.problem);
    };
    std::vector<std::string> changed = lines;
    changed[2].replace(changed[2].find("\tli\t"), 4, "\tlu\t");
    EXPECT_EQ(brokenAt(Joined(changed)), std::pair(3ll, LogBreak::Changed));
    // The same change with the entry's own hash made anew is caught by the entry after it.
    std::vector<std::string> rehashed = changed;
    const std::size_t ownAt = rehashed[2].rfind('\t') + 1;
    rehashed[2].replace(ownAt, std::string::npos, Sha256Hex(rehashed[2].substr(0, ownAt - 1)));
    EXPECT_EQ(brokenAt(Joined(rehashed)), std::pair(4ll, LogBreak::NotFollowing));
    std::vector<std::string> removed = lines;
    removed.erase(removed.begin() + 2);
    EXPECT_EQ(brokenAt(Joined(removed)), std::pair(3ll, LogBreak::NotFollowing));
    std::vector<std::string> firstRemoved = lines;
    firstRemoved.erase(firstRemoved.begin());
    EXPECT_EQ(brokenAt(Joined(firstRemoved)), std::pair(1ll, LogBreak::NotFollowing));
    std::vector<std::string> swapped = lines;
    std::swap(swapped[1], swapped[2]);
    EXPECT_EQ(brokenAt(Joined(swapped)), std::pair(2ll, LogBreak::NotFollowing));
    const std::string all = Joined(lines);
    EXPECT_EQ(brokenAt(all.substr(0, all.size() - 20)), std::pair(5ll, LogBreak::Cut));
    EXPECT_EQ(brokenAt(all.substr(0, all.size() - 1)), std::pair(5ll, LogBreak::Cut));
    EXPECT_EQ(brokenAt(all + "a line of someone else's\n"), std::pair(6ll, LogBreak::NotAnEntry));

    // An entry appended after a cut one stays named as broken: the cut is never hidden.
    TempFolder::WriteFile(path, all.substr(0, all.size() - 20));
    ASSERT_TRUE(log.Append(Entry(6)));
    EXPECT_EQ(log.Verify()->brokenLine, 5);
    EXPECT_EQ(log.Newest(1)->front().recording, "6");
}

TEST(AccessLog, ChainOfAnOldLogBeginsAfterItsLastOldLineAndHoldsThem)
{
    const TempFolder folder;
    const std::string path = folder.Path("web-access.log");
    const std::string old =
        "2023-11-14T22:13:20.001Z\tli\tplay\t1\t192.168.1.20\n"
        "2023-11-14T22:13:20.002Z\tli\tdownload\t2\t192.168.1.20\n";
    TempFolder::WriteFile(path, old);
    AccessLog log(QString::fromStdString(path));
    const LogCheck unchained = *log.Verify();
    EXPECT_TRUE(unchained.whole());
    EXPECT_EQ(unchained.unchained, 2);
    EXPECT_TRUE(unchained.head.isEmpty());

    ASSERT_TRUE(log.Append(Entry(3)));
    ASSERT_TRUE(log.Append(Entry(4)));
    const LogCheck chained = *log.Verify();
    EXPECT_TRUE(chained.whole());
    EXPECT_EQ(chained.lines, 4);
    EXPECT_EQ(chained.unchained, 2);
    const QList<AccessEntry> newest = *log.Newest(10);
    ASSERT_EQ(newest.size(), 4);
    EXPECT_EQ(newest[0].recording, "4");
    EXPECT_EQ(newest[3].recording, "1");

    // An old line changed after the chain began breaks the chain's first entry.
    std::string text = TempFolder::Read(path);
    text.replace(text.find("download"), 8, "play");
    TempFolder::WriteFile(path, text);
    const LogCheck broken = *log.Verify();
    EXPECT_EQ(broken.brokenLine, 3);
    EXPECT_EQ(broken.problem, LogBreak::NotFollowing);
}

} // namespace
