#include "index/index_schema.h"

#include "index/folder_rows.h"
#include "index/index_connection.h"
#include "platform/atomic_file.h"
#include "platform/locations.h"

#include <QDateTime>
#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {

// Taken by every program that changes the schema on a server, for the rest of its transaction:
// two desks opening a new index at once would otherwise both make the tables.
constexpr int kSchemaLockKey = 8270605;

Result<bool> HasTable(const IndexConnection& connection, const QString& table)
{
    QSqlQuery query = connection.Query();
    query.prepare(connection.sqlite()
                      ? QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = ?")
                      : QStringLiteral("SELECT 1 FROM pg_tables WHERE tablename = ? AND schemaname = current_schema()"));
    query.addBindValue(table);
    if (!query.exec())
        return SqlFailure(query.lastError());
    return query.next();
}

// The version of the tables in the database: 0 when it has none yet.
Result<int> StoredVersion(const IndexConnection& connection)
{
    const Result<bool> versioned = HasTable(connection, QStringLiteral("schema_version"));
    if (!versioned)
        return versioned.error();
    if (!*versioned) {
        const Result<bool> notes = HasTable(connection, QStringLiteral("notes"));
        if (!notes)
            return notes.error();
        return *notes ? 1 : 0;
    }
    QSqlQuery query = connection.Query();
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next())
        return SqlFailure(query.lastError());
    return query.value(0).toInt();
}

Failure Newer(int version)
{
    return Failure{"它由较新版本的程序写成（索引版本 " + std::to_string(version) + "，本程序只认识到版本 "
                   + std::to_string(kIndexSchemaVersion) + "），已原样保留，请用较新版本的程序打开"};
}

// The stored version, refused when a newer program wrote it.
Result<int> KnownVersion(const IndexConnection& connection)
{
    const Result<int> version = StoredVersion(connection);
    if (version && *version > kIndexSchemaVersion)
        return Newer(*version);
    return version;
}

Result<void> ExecAll(const IndexConnection& connection, const QStringList& statements)
{
    for (const QString& statement : statements)
        if (Result<void> done = connection.Exec(statement); !done)
            return done;
    return {};
}

// The trigram index of the descriptions, kept by triggers. A SQLite built without FTS5 has
// none, and the descriptions are then searched one by one.
Result<void> MakeTextIndex(const IndexConnection& connection)
{
    if (!connection.Exec(QStringLiteral("CREATE VIRTUAL TABLE notes_text USING fts5(description, content='notes', "
                                        "content_rowid='id', tokenize='trigram')")))
        return {};
    return ExecAll(connection,
                   {QStringLiteral("CREATE TRIGGER notes_text_insert AFTER INSERT ON notes BEGIN "
                                   "INSERT INTO notes_text (rowid, description) VALUES (new.id, new.description); END"),
                    QStringLiteral("CREATE TRIGGER notes_text_delete AFTER DELETE ON notes BEGIN "
                                   "INSERT INTO notes_text (notes_text, rowid, description) "
                                   "VALUES ('delete', old.id, old.description); END"),
                    QStringLiteral("CREATE TRIGGER notes_text_update AFTER UPDATE ON notes BEGIN "
                                   "INSERT INTO notes_text (notes_text, rowid, description) "
                                   "VALUES ('delete', old.id, old.description); "
                                   "INSERT INTO notes_text (rowid, description) VALUES (new.id, new.description); END"),
                    QStringLiteral("INSERT INTO notes_text (notes_text) VALUES ('rebuild')")});
}

// The trigram index of the phone texts of the files, kept by triggers (SQLite with FTS5); a phone
// text is part of another exactly when its bytes are (BytesAsText), so the letter case counts.
Result<void> MakePhoneIndexSqlite(const IndexConnection& connection)
{
    if (!connection.Exec(QStringLiteral("CREATE VIRTUAL TABLE files_phone USING fts5(phone_key, content='files', "
                                        "content_rowid='id', tokenize='trigram case_sensitive 1')")))
        return {};
    return ExecAll(connection,
                   {QStringLiteral("CREATE TRIGGER files_phone_insert AFTER INSERT ON files BEGIN "
                                   "INSERT INTO files_phone (rowid, phone_key) VALUES (new.id, new.phone_key); END"),
                    QStringLiteral("CREATE TRIGGER files_phone_delete AFTER DELETE ON files BEGIN "
                                   "INSERT INTO files_phone (files_phone, rowid, phone_key) "
                                   "VALUES ('delete', old.id, old.phone_key); END"),
                    QStringLiteral("CREATE TRIGGER files_phone_update AFTER UPDATE ON files "
                                   "WHEN old.phone_key IS NOT new.phone_key BEGIN "
                                   "INSERT INTO files_phone (files_phone, rowid, phone_key) "
                                   "VALUES ('delete', old.id, old.phone_key); "
                                   "INSERT INTO files_phone (rowid, phone_key) VALUES (new.id, new.phone_key); END")});
}

// The trigram index of the phone texts on PostgreSQL, where the extension pg_trgm can be made
// (it is trusted: the database's owner may); without it a phone search reads every row.
Result<void> MakePhoneIndexPostgres(const IndexConnection& connection)
{
    if (Result<void> saved = connection.Exec(QStringLiteral("SAVEPOINT phone_index")); !saved)
        return saved;
    if (!connection.Exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm")))
        return connection.Exec(QStringLiteral("ROLLBACK TO SAVEPOINT phone_index"));
    return connection.Exec(QStringLiteral("CREATE INDEX files_phone ON files USING gin (phone_key gin_trgm_ops)"));
}

// The table files: one row per file a listing met, at its position in the walk, with the fields
// the searches of many folders filter, sort and count by (RecordingFields); no record and no
// fields when the file is shorter than the header.
QStringList FilesTable(bool sqlite)
{
    const QString blob = sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    return {
        QStringLiteral("CREATE TABLE files (id %1, folder TEXT NOT NULL, position INTEGER NOT NULL, "
                       "name TEXT NOT NULL, size BIGINT NOT NULL, modified BIGINT NOT NULL, changed BIGINT NOT NULL, "
                       "record %2, start_key %2, phone TEXT, phone_key TEXT, mode INTEGER, seconds INTEGER, "
                       "call_minute BIGINT, UNIQUE (folder, position))")
            .arg(sqlite ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("BIGSERIAL PRIMARY KEY"), blob),
        QStringLiteral("CREATE INDEX files_identity ON files (name, size, record)"),
        QStringLiteral("CREATE INDEX files_start ON files (start_key)"),
        QStringLiteral("CREATE INDEX files_mode ON files (mode)")};
}

// From version 0 (nothing), 1 (6.1.2: notes kept, its folder cache of one packed row per folder
// and its lists of noted places dropped) or 2 (the files without their fields: dropped, the
// folders kept and read again at their next search) to kIndexSchemaVersion.
Result<void> Upgrade(const IndexConnection& connection, int from)
{
    const bool sqlite = connection.sqlite();
    QStringList statements;
    if (from == 1)
        for (const char* table : {"folders", "noted_places", "place_folders", "index_state"})
            statements << QStringLiteral("DROP TABLE IF EXISTS %1").arg(QLatin1String(table));
    if (from == 2)
        statements << QStringLiteral("DROP TABLE files")
                   << QStringLiteral("UPDATE folders SET folder_time = %1 - 1").arg(kUnsettled + 1);
    statements << QStringLiteral(
                      "CREATE TABLE IF NOT EXISTS notes (id %1, name TEXT NOT NULL, size BIGINT NOT NULL, "
                      "record %2 NOT NULL, description TEXT NOT NULL, user_type TEXT NOT NULL, "
                      "UNIQUE (name, size, record))")
                      .arg(sqlite ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("BIGSERIAL PRIMARY KEY"),
                           sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA"))
               << QStringLiteral(
                      "CREATE TABLE IF NOT EXISTS folders (folder TEXT PRIMARY KEY, folder_time BIGINT NOT NULL)")
               << FilesTable(sqlite)
               << QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")
               << QStringLiteral("DELETE FROM schema_version")
               << QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(kIndexSchemaVersion);
    if (Result<void> made = ExecAll(connection, statements); !made)
        return made;
    if (!sqlite)
        return MakePhoneIndexPostgres(connection);
    if (Result<void> phones = MakePhoneIndexSqlite(connection); !phones)
        return phones;
    const Result<bool> textIndex = HasTable(connection, QStringLiteral("notes_text"));
    if (!textIndex)
        return textIndex.error();
    return *textIndex ? Result<void>() : MakeTextIndex(connection);
}

// The index holds the user's notes: its folder, the index and the files SQLite keeps beside it are
// readable by the user only. SQLite gives the files it makes beside the index the index's own mode.
void MakeIndexFilesPrivate(const std::string& path)
{
    MakeOwnFolder(std::filesystem::path(path).parent_path());
    MakePrivateFile(path);
    for (const char* companion : {"-wal", "-shm", "-journal"})
        TightenToPrivate(path + companion);
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

OpenedConnection Unusable(const std::string& where, const Failure& failure)
{
    return {nullptr, "无法使用归档索引 " + where + "：" + failure.reason
                         + "\n录音列表照常显示，但录音说明暂时无法查看和保存。"};
}

Result<std::unique_ptr<IndexConnection>> ConnectPrepared(const IndexLocation& location)
{
    Result<std::unique_ptr<IndexConnection>> connected = IndexConnection::Connect(location);
    if (!connected)
        return connected;
    if (Result<void> prepared = PrepareSchema(**connected); !prepared)
        return prepared.error();
    return connected;
}

} // namespace

bool HasTextIndex(const IndexConnection& connection)
{
    const Result<bool> found = HasTable(connection, QStringLiteral("notes_text"));
    return found && *found;
}

bool HasPhoneIndex(const IndexConnection& connection)
{
    if (connection.sqlite()) {
        const Result<bool> found = HasTable(connection, QStringLiteral("files_phone"));
        return found && *found;
    }
    QSqlQuery query = connection.Query();
    return query.exec(QStringLiteral("SELECT 1 FROM pg_indexes WHERE indexname = 'files_phone' "
                                     "AND schemaname = current_schema()"))
           && query.next();
}

// A SQLite index keeps a write-ahead log. A file that is not a database fails at the first statement.
Result<void> PrepareSchema(IndexConnection& connection)
{
    if (connection.sqlite())
        if (Result<void> set = connection.Exec(QStringLiteral("PRAGMA journal_mode=WAL")); !set)
            return set;
    const Result<int> version = KnownVersion(connection);
    if (!version)
        return version.error();
    if (*version == kIndexSchemaVersion)
        return {};
    return connection.Write([&]() -> Result<void> {
        if (!connection.sqlite())
            if (Result<void> locked = connection.Exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey));
                !locked)
                return locked;
        // Another program may have brought the tables up to date since they were read.
        const Result<int> now = KnownVersion(connection);
        if (!now)
            return now.error();
        return *now == kIndexSchemaVersion ? Result<void>() : Upgrade(connection, *now);
    });
}

Result<void> CheckSchema(const IndexConnection& connection)
{
    const Result<int> version = KnownVersion(connection);
    if (!version)
        return version.error();
    if (*version != kIndexSchemaVersion)
        return Failure{"归档索引尚未准备好（索引版本 " + std::to_string(*version) + "）"};
    return {};
}

OpenedConnection OpenPreparedIndex(const IndexLocation& location)
{
    if (location.driver != QLatin1String("QSQLITE")) {
        Result<std::unique_ptr<IndexConnection>> connected = ConnectPrepared(location);
        if (!connected)
            return Unusable(location.host.toStdString() + "/" + location.database.toStdString(), connected.error());
        return {std::move(*connected), {}};
    }
    const std::string& path = location.sqlitePath;
    MakeIndexFilesPrivate(path); // a folder that cannot be made fails the connection below
    Result<std::unique_ptr<IndexConnection>> connected = ConnectPrepared(location);
    if (connected)
        return {std::move(*connected), {}};
    // Only a file SQLite finds damaged is set aside; any other failure (a lock, a folder without
    // write permission, a newer schema) leaves the file as it is.
    if (!DamagedFile(connected.error()))
        return Unusable(path, connected.error());
    const std::string aside = SetAsidePath(path);
    if (!MoveAside(path, aside))
        return Unusable(path, connected.error());
    MakeIndexFilesPrivate(path);
    connected = ConnectPrepared(location);
    if (!connected)
        return Unusable(path, connected.error());
    return {std::move(*connected),
            "归档索引 " + path + " 已损坏或无法打开，已改名为 " + aside
                + "，并新建了一个空的索引（录音列表会自动重新建立）。\n"
                  "如有录音说明的导出文件，可用命令 voctool notes import 文件 导入最近一次导出的录音说明。"};
}
