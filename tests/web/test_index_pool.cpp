// Many clients at once share the server's few index connections: on SQLite (counting the
// descriptors open on the index file) and on a PostgreSQL server (counting its backends).

#include "index/archive_index.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"
#include "web/content_routes.h"
#include "web/index_pool.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <latch>
#include <thread>

namespace {

constexpr int kClients = 150;

// Set when test_index_pool runs itself inside a throw-away cluster (see OnAPostgresqlServer).
bool OnPostgres()
{
    return std::getenv("SDVOICE_TEST_POSTGRES") != nullptr;
}

// On the server, libpq takes the server, database and user from the PG* variables pg_virtualenv sets.
IndexLocation TestLocation(const TempFolder& temp)
{
    IndexLocation location;
    location.sqlitePath = temp.Path("index.db");
    if (OnPostgres())
        location.driver = QStringLiteral("QPSQL");
    return location;
}

// The connections to the index open now, other than the counting one: the server's backends of
// the database, or this process's descriptors on the SQLite file.
class ConnectionCount {
public:
    explicit ConnectionCount(const IndexLocation& location) : location_(location)
    {
        if (!OnPostgres())
            return;
        EXPECT_TRUE(QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("counting")).open());
    }

    int Now() const
    {
        if (!OnPostgres()) {
            int open = 0;
            const std::filesystem::path file = std::filesystem::canonical(location_.sqlitePath);
            for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                open += std::filesystem::read_symlink(entry.path(), error) == file ? 1 : 0;
            }
            return open;
        }
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("counting")));
        query.exec(
            QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                           "AND pid <> pg_backend_pid()"));
        return query.next() ? query.value(0).toInt() : -1;
    }

private:
    IndexLocation location_;
};

TEST(IndexPool, AHundredAndFiftyClientsAtOnceShareFourConnections)
{
    const TempFolder temp;
    const std::string archive = temp.Path("archive/");
    ASSERT_TRUE(WriteSampleFolder(archive, 4));
    const IndexLocation location = TestLocation(temp);
    {
        const ArchiveIndex::Opened owner = ArchiveIndex::Open(location);
        ASSERT_TRUE(owner.index) << owner.message;
        ASSERT_TRUE(owner.index->KnowFolder(archive));
    }
    AccessLog log(QString::fromStdString(temp.Path("access.log")));
    const QList<WebRoute> routes = ContentRoutes(log, location);
    const auto route = [&](const QString& path) {
        return *std::find_if(routes.begin(), routes.end(), [&](const WebRoute& r) { return r.path == path; });
    };
    const WebRoute call = route("/api/call");
    const WebRoute audio = route("/api/audio");
    const ConnectionCount connections(location);

    std::latch start(kClients);
    std::latch release(1); // the clients' threads stay until the count after their answers
    std::atomic<int> answered = 0;
    std::atomic<int> refused = 0;
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            WebRequest request;
            request.method = "GET";
            request.query = {{"id", RecordingId(archive, "VOC0000" + std::to_string(1 + i % 4) + ".WAV")}};
            request.range = i % 2 ? "bytes=100-1099" : "";
            request.session = QByteArray::number(i);
            start.arrive_and_wait();
            const int status = (i % 3 ? audio : call).handle(request).status;
            if (status != 200 && status != 206)
                ++refused;
            ++answered;
            release.wait();
        });
    }
    int most = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (answered.load() < kClients && std::chrono::steady_clock::now() < deadline) {
        most = std::max(most, connections.Now());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(answered.load(), kClients) << "the clients were not all answered within 60 s";
    most = std::max(most, connections.Now());
    release.count_down();
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_LE(most, kDefaultIndexConnections);
    EXPECT_GT(most, 0);
}

TEST(IndexPool, ARequestWaitsABoundedTimeForABusyConnection)
{
    const TempFolder temp;
    const IndexLocation location = TestLocation(temp);
    ASSERT_TRUE(ArchiveIndex::Open(location).index);
    IndexPool pool(location, 1, std::chrono::milliseconds(200));
    std::promise<void> holding;
    std::promise<void> release;
    std::thread holder([&] {
        const Result<void> held = pool.Use([&](ArchiveIndex&) {
            holding.set_value();
            release.get_future().wait();
        });
        EXPECT_TRUE(held);
    });
    ASSERT_EQ(holding.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the first request did not get the connection within 5 s";
    const Result<void> busy = pool.Use([](ArchiveIndex&) { ADD_FAILURE() << "ran on a busy connection"; });
    release.set_value();
    holder.join();
    ASSERT_FALSE(busy);
    EXPECT_TRUE(IndexMomentarilyUnusable(busy.error()));
    bool ran = false;
    EXPECT_TRUE(pool.Use([&](ArchiveIndex&) { ran = true; }));
    EXPECT_TRUE(ran);

    IndexLocation nowhere;
    nowhere.sqlitePath = temp.Path("no-such-folder/index.db");
    const Result<void> unreachable = IndexPool(nowhere, 1).Use([](ArchiveIndex&) { ADD_FAILURE(); });
    ASSERT_FALSE(unreachable);
    EXPECT_TRUE(IndexMomentarilyUnusable(unreachable.error()));
}

TEST(IndexPool, OnAPostgresqlServer)
{
    if (OnPostgres())
        GTEST_SKIP() << "already on the server";
    if (!HaveProgram("pg_virtualenv"))
        GTEST_SKIP() << "PostgreSQL is not installed (no pg_virtualenv on the PATH; Debian: apt-get install "
                        "postgresql); the pool was not tried against a server";
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SDVOICE_TEST_POSTGRES"), QStringLiteral("1"));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("pg_virtualenv"), {QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe")),
                                                QStringLiteral("--gtest_filter=*AHundredAndFifty*:*BoundedTime*")});
    ASSERT_TRUE(run.waitForFinished(240000)) << "pg_virtualenv did not finish";
    const QString output = QString::fromUtf8(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 2 tests"))) << output.toStdString();
}

} // namespace
