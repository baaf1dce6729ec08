#include "web/account_store.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

QString PathIn(const TempFolder& folder)
{
    return QString::fromStdString(folder.Path("config/web-accounts"));
}

TEST(AccountStore, KeepsAccountsPrivateAndVerifiesOnlyTheRightPassword)
{
    const TempFolder folder;
    AccountStore store(PathIn(folder));
    EXPECT_TRUE(store.List()->isEmpty());
    ASSERT_TRUE(store.Add("王经理", WebRole::Admin, "秘密 secret"));
    ASSERT_TRUE(store.Add("li", WebRole::Listen, "listen-pass"));

    const QList<WebAccount> accounts = *store.List();
    ASSERT_EQ(accounts.size(), 2);
    EXPECT_EQ(accounts[0].name, "王经理");
    EXPECT_EQ(accounts[0].role, WebRole::Admin);
    EXPECT_EQ(accounts[1].role, WebRole::Listen);

    EXPECT_EQ(store.Verify("王经理", "秘密 secret"), WebRole::Admin);
    EXPECT_EQ(store.Verify("li", "listen-pass"), WebRole::Listen);
    EXPECT_FALSE(store.Verify("li", "秘密 secret"));
    EXPECT_FALSE(store.Verify("li", ""));
    EXPECT_FALSE(store.Verify("nobody", "listen-pass"));

    struct stat status {};
    ASSERT_EQ(::stat(folder.Path("config/web-accounts").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const std::string bytes = TempFolder::Read(folder.Path("config/web-accounts"));
    EXPECT_EQ(bytes.find("listen-pass"), std::string::npos);
}

// A login with an unknown name is refused after a password check as long as a wrong password's:
// the time of the answer must not tell which names exist.
TEST(AccountStore, AnUnknownNameIsRefusedAsSlowlyAsAWrongPassword)
{
    const TempFolder folder;
    AccountStore store(PathIn(folder));
    ASSERT_TRUE(store.Add("zhang", WebRole::Admin, "right password"));
    std::vector<double> known;
    std::vector<double> unknown;
    const auto timed = [&store](const QString& name, std::vector<double>& times) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(store.Verify(name, "wrong password"));
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    };
    for (int round = 0; round < 3; ++round) {
        timed("zhang", known);
        timed("nobody", unknown);
    }
    const auto median = [](std::vector<double> times) {
        std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
        return times[times.size() / 2];
    };
    EXPECT_GE(median(unknown), 0.3 * median(known))
        << "unknown name " << median(unknown) << " ms, wrong password " << median(known) << " ms";
}

TEST(AccountStore, ChangesOnlyExistingAccountsAndRefusesBadInput)
{
    const TempFolder folder;
    AccountStore store(PathIn(folder));
    ASSERT_TRUE(store.Add("zhang", WebRole::Listen, "first"));

    EXPECT_FALSE(store.Add("zhang", WebRole::Admin, "taken"));
    EXPECT_EQ(store.Verify("zhang", "first"), WebRole::Listen);

    ASSERT_TRUE(store.SetRole("zhang", WebRole::Note));
    ASSERT_TRUE(store.SetPassword("zhang", "second"));
    EXPECT_FALSE(store.Verify("zhang", "first"));
    EXPECT_EQ(store.Verify("zhang", "second"), WebRole::Note);

    EXPECT_FALSE(store.SetRole("nobody", WebRole::Admin));
    EXPECT_FALSE(store.SetPassword("nobody", "x"));
    EXPECT_FALSE(store.Remove("nobody"));
    for (const QString& bad : {QString(), QString("a\tb"), QString("a\nb"), QString(" padded"), QString(65, 'x')})
        EXPECT_FALSE(store.Add(bad, WebRole::Listen, "pass")) << bad.toStdString();
    EXPECT_FALSE(store.Add("empty", WebRole::Listen, ""));
    EXPECT_FALSE(store.SetPassword("zhang", QByteArray(2000, 'p')));

    ASSERT_TRUE(store.Remove("zhang"));
    EXPECT_TRUE(store.List()->isEmpty());
    EXPECT_FALSE(store.Verify("zhang", "second"));
}

TEST(AccountStore, DamagedFileIsReportedAndNeverOverwritten)
{
    const TempFolder folder;
    AccountStore store(PathIn(folder));
    ASSERT_TRUE(store.Add("zhang", WebRole::Admin, "pass"));
    const std::string path = folder.Path("config/web-accounts");
    TempFolder::WriteFile(path, TempFolder::Read(path) + "garbage line\n");
    const std::string damaged = TempFolder::Read(path);

    const Result<QList<WebAccount>> accounts = store.List();
    ASSERT_FALSE(accounts);
    EXPECT_NE(accounts.error().reason.find("line 2"), std::string::npos) << accounts.error().reason;
    EXPECT_FALSE(store.Add("li", WebRole::Listen, "pass"));
    EXPECT_FALSE(store.Remove("zhang"));
    EXPECT_EQ(TempFolder::Read(path), damaged);
}

TEST(AccountStore, AccountsAddedAtOnceAreAllKept)
{
    const TempFolder folder;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&folder, t] {
            AccountStore store(PathIn(folder));
            EXPECT_TRUE(store.Add(QString("user%1").arg(t), WebRole::Listen, "pass"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(AccountStore(PathIn(folder)).List()->size(), 4);
}

} // namespace
