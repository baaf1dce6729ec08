#include "index/index_connection.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <atomic>

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

bool DamagedFile(const Failure& failure)
{
    return PrimaryCode(failure) == kSqliteCorrupt || PrimaryCode(failure) == kSqliteNotADatabase;
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
    const QStringList settings = connection->sqlite()
                                     ? QStringList{QStringLiteral("PRAGMA synchronous=FULL")}
                                     : QStringList{QStringLiteral("SET synchronous_commit = on"),
                                                   QStringLiteral("SET client_min_messages = warning")};
    for (const QString& setting : settings)
        if (Result<void> set = connection->Exec(setting); !set)
            return set.error();
    return connection;
}
