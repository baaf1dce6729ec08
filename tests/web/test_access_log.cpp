#include "web/access_log.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

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

    // A line cut short (the disk filled while it was written) is passed over.
    TempFolder::WriteFile(path, bytes + "2023-11-14T22:13:20.004Z\tli\tpla");
    ASSERT_TRUE(log.Append(Entry(5)));
    const QList<AccessEntry> afterCut = *log.Newest(10);
    ASSERT_EQ(afterCut.size(), 3);
    EXPECT_EQ(afterCut[0].recording, "3");
}

TEST(AccessLog, EntriesAppendedFromManyThreadsAreAllWholeLines)
{
    const TempFolder folder;
    AccessLog log(QString::fromStdString(folder.Path("web-access.log")));
    constexpr int kThreads = 4;
    constexpr int kEach = 600; // well over one 64 KiB piece of the file's tail
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(log.Append(Entry(t * kEach + i, QString(40, QChar(u'a' + t)))));
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
}

} // namespace
