#pragma once

#include "index/index_settings.h"
#include "platform/result.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class QSqlError;
struct sqlite3;

// One connection to the archive index. A Qt SQL connection belongs to the thread that opened
// it: an IndexConnection, and everything that uses it, is used and destroyed on the thread that
// opened it. Each one has a connection name of its own, so that several may be open at once, on
// one thread or on several. Making the schema and setting a damaged file aside belong to the
// index's owner (OpenPreparedIndex in index_schema.h); a connection only connects.
class IndexConnection {
public:
    // The connection with its session settings (every note change committed to the disk before
    // a write returns); nothing in the database is changed or checked.
    static Result<std::unique_ptr<IndexConnection>> Connect(const IndexLocation& location);

    ~IndexConnection();
    IndexConnection(const IndexConnection&) = delete;
    IndexConnection& operator=(const IndexConnection&) = delete;

    const IndexLocation& location() const { return location_; }
    bool sqlite() const { return location_.driver == QLatin1String("QSQLITE"); }
    // The SQLite connection under the Qt SQL one (null on PostgreSQL), for SqliteStatement.
    sqlite3* SqliteHandle() const { return sqliteHandle_; }
    // A forward-only query on this connection.
    QSqlQuery Query() const;
    Result<void> Exec(const QString& statement) const;
    // Runs work in one transaction and commits it when work succeeds. On SQLite the
    // transaction starts with BEGIN IMMEDIATE: it takes the write lock first, waiting up to the
    // busy timeout for another program that writes, instead of failing at its first write when
    // another program wrote after it read.
    Result<void> Write(const std::function<Result<void>()>& work) const;

private:
    IndexConnection(QString name, IndexLocation location);

    QString name_;
    IndexLocation location_;
    sqlite3* sqliteHandle_ = nullptr;
};

// The failure of a statement, worded for the user; a database another program holds locked
// says so.
Failure SqlFailure(const QSqlError& error);
Failure SqlFailure(std::string text, int code);
// Runs a prepared query; its failure worded as SqlFailure words it.
Result<void> ExecPrepared(QSqlQuery& query);
// True when the failure is a lock another program holds.
bool HeldByAnotherProgram(const Failure& failure);
// True when SQLite found the file damaged or not a database at all.
bool DamagedFile(const Failure& failure);
