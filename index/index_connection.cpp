#include "index/index_connection.h"

#include "index/index_schema.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {

// SQLite's primary result codes (the low byte of the extended ones).
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

std::atomic<unsigned> connectionCount{0};

int PrimaryCode(const Failure& failure)
{
    return failure.error & 0xff;
}

// Only a file SQLite finds damaged or not a database at all is set aside; any other failure
// (a lock, a folder without write permission, a newer schema) leaves the file as it is.
bool Damaged(const Failure& failure)
{
    return PrimaryCode(failure) == kSqliteCorrupt || PrimaryCode(failure) == kSqliteNotADatabase;
}

std::string SetAsidePath(const std::string& path)
{
    return path + ".damaged-" + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
}

// Moves the database and its write-ahead log aside; the shared-memory index is rebuilt by SQLite.
bool MoveAside(const std::string& path, const std::string& aside)
{
    if (::rename(path.c_str(), aside.c_str()) != 0)
        return false;
    ::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
    return true;
}

IndexConnection::Opened Unusable(const std::string& where, const Failure& failure)
{
    return {nullptr, "无法使用归档索引 " + where + "：" + failure.reason
                         + "\n录音列表照常显示，但录音说明暂时无法查看和保存。"};
}

} // namespace

Failure SqlFailure(const QSqlError& error)
{
    return SqlFailure(error.text().toStdString(), error.nativeErrorCode().toInt());
}

Failure SqlFailure(std::string text, int code)
{
    Failure failure{std::move(text), code};
    if (HeldByAnotherProgram(failure))
        failure.reason = "另一个程序正占用归档索引，请稍后再试（" + failure.reason + "）";
    return failure;
}

Result<void> ExecPrepared(QSqlQuery& query)
{
    if (!query.exec())
        return SqlFailure(query.lastError());
    return {};
}

bool HeldByAnotherProgram(const Failure& failure)
{
    return PrimaryCode(failure) == kSqliteBusy || PrimaryCode(failure) == kSqliteLocked;
}

// Qt's SQLite driver hands out its connection as a QVariant holding a sqlite3*. Debian's Qt
// links the system libsqlite3, the library this program links too, so the pointer serves the
// functions called here.
IndexConnection::IndexConnection(QString name, IndexLocation location)
    : name_(std::move(name)), location_(std::move(location))
{
    if (!sqlite())
        return;
    const QVariant handle = QSqlDatabase::database(name_, false).driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        sqliteHandle_ = *static_cast<sqlite3* const*>(handle.constData());
}

IndexConnection::~IndexConnection()
{
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

QSqlQuery IndexConnection::Query() const
{
    QSqlQuery query(QSqlDatabase::database(name_, false));
    query.setForwardOnly(true);
    return query;
}

Result<void> IndexConnection::Exec(const QString& statement) const
{
    QSqlQuery query = Query();
    if (!query.exec(statement))
        return SqlFailure(query.lastError());
    return {};
}

Result<void> IndexConnection::Write(const std::function<Result<void>()>& work) const
{
    if (Result<void> begun = Exec(sqlite() ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")); !begun)
        return begun;
    Result<void> done = work();
    if (done)
        done = Exec(QStringLiteral("COMMIT"));
    // A rollback that fails leaves the transaction to end with the connection; the failure
    // reported is the one that stopped the work.
    if (!done)
        static_cast<void>(Exec(QStringLiteral("ROLLBACK")));
    return done;
}

IndexConnection::Opened IndexConnection::Open(const IndexLocation& location)
{
    if (location.driver != QLatin1String("QSQLITE")) {
        Result<std::unique_ptr<IndexConnection>> connected = Connect(location);
        if (!connected)
            return Unusable(location.host.toStdString() + "/" + location.database.toStdString(), connected.error());
        return {std::move(*connected), {}};
    }
    const std::string& path = location.sqlitePath;
    std::error_code ignored; // a folder that cannot be made fails the connection below
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    Result<std::unique_ptr<IndexConnection>> connected = Connect(location);
    if (connected)
        return {std::move(*connected), {}};
    if (!Damaged(connected.error()))
        return Unusable(path, connected.error());
    const std::string aside = SetAsidePath(path);
    if (!MoveAside(path, aside))
        return Unusable(path, connected.error());
    connected = Connect(location);
    if (!connected)
        return Unusable(path, connected.error());
    return {std::move(*connected),
            "归档索引 " + path + " 已损坏或无法打开，已改名为 " + aside
                + "，并新建了一个空的索引（录音列表会自动重新建立）。\n"
                  "如有录音说明的导出文件，可用命令 voctool notes import 文件 导入最近一次导出的录音说明。"};
}

Result<std::unique_ptr<IndexConnection>> IndexConnection::Connect(const IndexLocation& location)
{
    const QString name = QStringLiteral("sdvoice-index-%1").arg(++connectionCount);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(location.driver, name);
        if (location.driver == QLatin1String("QSQLITE")) {
            db.setDatabaseName(QString::fromStdString(location.sqlitePath));
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(location.busyTimeoutMilliseconds));
        } else {
            db.setHostName(location.host);
            if (location.port > 0)
                db.setPort(location.port);
            db.setDatabaseName(location.database);
            db.setUserName(location.user);
            db.setPassword(location.password);
            // A server that does not answer must not keep the window from opening for long.
            db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        }
        if (!db.isValid() || !db.open()) {
            const Failure failure = SqlFailure(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            return failure;
        }
    }
    std::unique_ptr<IndexConnection> connection(new IndexConnection(name, location));
    if (Result<void> prepared = PrepareSchema(*connection); !prepared)
        return prepared.error();
    return connection;
}
