#include "search/archive_index.h"

#include "platform/byte_order.h"
#include "platform/file_attributes.h"
#include "platform/file_attributes_at.h"
#include "platform/locations.h"
#include "platform/text_codec.h"
#include "platform/unique_fd.h"

#include <QDateTime>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits>
#include <set>
#include <string_view>
#include <unordered_set>
#include <sys/stat.h>

namespace {

// A modification time the index does not trust: it never equals a file's real one.
constexpr std::int64_t kUnsettled = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Times closer to now than this may still change without the clock moving on (FAT keeps
// two-second steps): a file or folder changed again within them would look unchanged.
constexpr std::int64_t kSettleNanoseconds = 3 * kNanosecondsPerSecond;
constexpr unsigned char kFolderFormat = 2;

// SQLite's result codes for a database that another connection holds.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;

std::atomic<unsigned> connectionCount{0};

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * kNanosecondsPerSecond + time.tv_nsec;
}

std::int64_t RealTimeNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now);
}

// The time, or kUnsettled while it or the other time given is too recent to be trusted at now.
std::int64_t Settled(std::int64_t now, std::int64_t time, std::int64_t alsoOld = kUnsettled)
{
    const bool old = now - time >= kSettleNanoseconds && (alsoOld == kUnsettled || now - alsoOld >= kSettleNanoseconds);
    return old ? time : kUnsettled;
}

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

QByteArray Bytes(const std::string& bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

Failure SqlFailure(const QSqlError& error)
{
    return Failure{error.text().toStdString(), error.nativeErrorCode().toInt()};
}

// The low `bytes` bytes of value, little-endian (bytes from 1 to 8).
void AppendLe(std::string& out, std::uint64_t value, int bytes)
{
    unsigned char field[8];
    WriteLe64(field, value);
    out.append(reinterpret_cast<const char*>(field), static_cast<std::size_t>(bytes));
}

// Reads a little-endian field of `bytes` bytes (1 to 8), moving at on; false when the bytes end first.
bool TakeLe(const QByteArray& in, qsizetype& at, int bytes, std::uint64_t& value)
{
    if (in.size() - at < bytes)
        return false;
    unsigned char field[8] = {};
    std::memcpy(field, in.constData() + at, static_cast<std::size_t>(bytes));
    value = ReadLe64(field);
    at += bytes;
    return true;
}

RecordingNote NoteFrom(const QSqlQuery& query, int first)
{
    return RecordingNote{query.value(first).toString().toStdString(), query.value(first + 1).toString().toStdString()};
}

NotedRecording NotedFrom(const QSqlQuery& query)
{
    const QByteArray record = query.value(2).toByteArray();
    return NotedRecording{{query.value(0).toString().toStdString(), query.value(1).toULongLong(),
                           std::string(record.constData(), static_cast<std::size_t>(record.size()))},
                          NoteFrom(query, 3)};
}

// The walk keeps the entries whose attribute word has no bit besides archive.
bool Walkable(std::uint32_t attributes)
{
    return (attributes & ~kAttrArchive) == 0;
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

} // namespace

// One archive file as the index remembers it: no record when the file is shorter than the
// header, and a modified time of kUnsettled when it must be read again next time. The
// status-change time catches a file replaced by a copy that kept another file's size and time.
struct ArchiveIndex::CachedFile {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modified = kUnsettled;
    std::int64_t changed = 0;
    std::optional<std::array<unsigned char, kHeaderSize>> record;

    bool operator==(const CachedFile&) const = default;
};

// A folder as its last completed walk met it; folderTime is the folder's own modification
// time then (kUnsettled when it changed too recently to be trusted).
// A file as the stored folder row holds it; the texts point into the row.
struct ArchiveIndex::StoredFile {
    std::string_view name;
    std::uint64_t size = 0;
    std::int64_t modified = kUnsettled;
    std::int64_t changed = 0;
    std::string_view record; // empty: no record
};

std::optional<RecordingIdentity> ArchiveIndex::CachedIdentity(const CachedFile& file)
{
    if (!file.record)
        return std::nullopt;
    return RecordingIdentity{file.name, file.size, std::string(file.record->begin(), file.record->end())};
}

ArchiveIndex::CachedFile ArchiveIndex::Materialize(const StoredFile& stored)
{
    CachedFile file{std::string(stored.name), stored.size, stored.modified, stored.changed, std::nullopt};
    if (!stored.record.empty()) {
        file.record.emplace();
        std::copy_n(stored.record.data(), kHeaderSize, file.record->begin());
    }
    return file;
}

struct ArchiveIndex::Folder {
    std::int64_t folderTime = kUnsettled;
    std::vector<CachedFile> files;

    // The stored file of the name a walk meets as its entry number at. The walk mostly meets
    // the names in their stored order; the names are looked up only once it does not.
    const CachedFile* Find(std::size_t at, const std::string& name)
    {
        if (at < files.size() && files[at].name == name)
            return &files[at];
        if (byName.empty())
            for (std::size_t i = 0; i < files.size(); ++i)
                byName.emplace(files[i].name, i);
        const auto found = byName.find(name);
        return found == byName.end() ? nullptr : &files[found->second];
    }

private:
    std::unordered_map<std::string_view, std::size_t> byName;
};

std::size_t RecordingIdentityHash::operator()(const RecordingIdentity& identity) const
{
    const std::hash<std::string> hash;
    return hash(identity.fileName) ^ (hash(identity.record) * 31) ^ std::hash<std::uint64_t>()(identity.size);
}

RecordingIdentity IdentityOf(const std::string& fileName, const RecordingHead& head)
{
    return RecordingIdentity{fileName, head.size, std::string(head.record.begin(), head.record.end())};
}

std::string DefaultIndexPath()
{
    return DataDir() + "/archive.db";
}

std::string IndexSettingsPath()
{
    return ConfigDir() + "/sdvoice.conf";
}

IndexLocation ConfiguredIndexLocation(const std::string& settingsPath)
{
    IndexLocation location;
    location.sqlitePath = DefaultIndexPath();
    const QSettings settings(Text(settingsPath), QSettings::IniFormat);
    if (settings.value(QStringLiteral("index/driver")).toString() != QLatin1String("QPSQL"))
        return location;
    location.driver = QStringLiteral("QPSQL");
    location.host = settings.value(QStringLiteral("index/host")).toString();
    location.port = settings.value(QStringLiteral("index/port"), 0).toInt();
    location.database = settings.value(QStringLiteral("index/database")).toString();
    location.user = settings.value(QStringLiteral("index/user")).toString();
    location.password = settings.value(QStringLiteral("index/password")).toString();
    return location;
}

ArchiveIndex::ArchiveIndex(QString connection, IndexLocation location)
    : connection_(std::move(connection)), location_(std::move(location)), clock_(RealTimeNanoseconds)
{
}

void ArchiveIndex::SetClock(Clock clock)
{
    clock_ = std::move(clock);
}

ArchiveIndex::~ArchiveIndex()
{
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

ArchiveIndex::Opened ArchiveIndex::OpenConfigured()
{
    return Open(ConfiguredIndexLocation());
}

ArchiveIndex::Opened ArchiveIndex::Open(const IndexLocation& location)
{
    const auto unusable = [](const std::string& what, const Failure& failure) {
        return Opened{nullptr, "无法使用归档索引 " + what + "：" + failure.reason
                                   + "\n录音列表照常显示，但录音说明暂时无法查看和保存。"};
    };
    if (location.driver != QLatin1String("QSQLITE")) {
        Result<std::unique_ptr<ArchiveIndex>> connected = Connect(location);
        if (!connected)
            return unusable(location.host.toStdString() + "/" + location.database.toStdString(), connected.error());
        return Opened{std::move(*connected), {}};
    }
    const std::string& path = location.sqlitePath;
    std::error_code ignored; // a folder that cannot be made fails the connection below
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    Result<std::unique_ptr<ArchiveIndex>> connected = Connect(location);
    if (connected)
        return Opened{std::move(*connected), {}};
    // A database another program holds is not damaged; it is left alone.
    if (connected.error().error == kSqliteBusy || connected.error().error == kSqliteLocked)
        return unusable(path, connected.error());
    const std::string aside = SetAsidePath(path);
    if (!MoveAside(path, aside))
        return unusable(path, connected.error());
    connected = Connect(location);
    if (!connected)
        return unusable(path, connected.error());
    return Opened{std::move(*connected),
                  "归档索引 " + path + " 已损坏或无法打开，已改名为 " + aside
                      + "，并新建了一个空的索引（录音列表会自动重新建立）。\n"
                        "如有录音说明的导出文件，可用命令 voctool notes import 文件 导入最近一次导出的录音说明。"};
}

Result<std::unique_ptr<ArchiveIndex>> ArchiveIndex::Connect(const IndexLocation& location)
{
    const QString name = QStringLiteral("sdvoice-index-%1").arg(++connectionCount);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(location.driver, name);
        if (location.driver == QLatin1String("QSQLITE")) {
            db.setDatabaseName(Text(location.sqlitePath));
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
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
    std::unique_ptr<ArchiveIndex> index(new ArchiveIndex(name, location));
    if (Result<void> prepared = index->Prepare(); !prepared)
        return prepared.error();
    return index;
}

Result<void> ArchiveIndex::Exec(const QString& statement)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(statement))
        return SqlFailure(query.lastError());
    return {};
}

// Every note change is committed to the disk before SetNote returns (write-ahead log, full
// synchronisation); the tables are made on first use. A file that is not a database fails here.
Result<void> ArchiveIndex::Prepare()
{
    const bool sqlite = location_.driver == QLatin1String("QSQLITE");
    const QString blob = sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    const QString key = sqlite ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("BIGSERIAL PRIMARY KEY");
    QStringList statements;
    if (sqlite)
        // Mapped reads spare copying the folder rows page by page.
        statements << QStringLiteral("PRAGMA journal_mode=WAL") << QStringLiteral("PRAGMA synchronous=FULL")
                   << QStringLiteral("PRAGMA mmap_size=268435456");
    else
        statements << QStringLiteral("SET synchronous_commit = on")
                   << QStringLiteral("SET client_min_messages = warning");
    statements << QStringLiteral(
                      "CREATE TABLE IF NOT EXISTS notes (id %2, name TEXT NOT NULL, size BIGINT NOT NULL, "
                      "record %1 NOT NULL, description TEXT NOT NULL, user_type TEXT NOT NULL, "
                      "UNIQUE (name, size, record))")
                      .arg(blob, key)
               // One row per folder: a listing reads and writes a folder's files as a whole.
               << QStringLiteral(
                      "CREATE TABLE IF NOT EXISTS folders (folder TEXT PRIMARY KEY, "
                      "folder_time BIGINT NOT NULL, files %1 NOT NULL)")
                      .arg(blob)
               // Where the noted recordings lie, so that a search by note looks at those files
               // alone: for each folder the noted files of its stored row (identity, position in
               // the walk, times), complete for the notes of the generation place_folders gives.
               // Keyed by the recording, so that a search finds each place in one step.
               << QStringLiteral(
                      "CREATE TABLE IF NOT EXISTS noted_places (name TEXT NOT NULL, size BIGINT NOT NULL, "
                      "record %1 NOT NULL, folder TEXT NOT NULL, position INTEGER NOT NULL, "
                      "modified BIGINT NOT NULL, changed BIGINT NOT NULL, "
                      "PRIMARY KEY (name, size, record, folder, position))%2")
                      .arg(blob, sqlite ? QStringLiteral(" WITHOUT ROWID") : QString())
               << QStringLiteral("CREATE INDEX IF NOT EXISTS noted_places_folder ON noted_places (folder)")
               << QStringLiteral("CREATE TABLE IF NOT EXISTS place_folders (folder TEXT PRIMARY KEY, "
                                 "generation BIGINT NOT NULL)")
               << QStringLiteral("CREATE TABLE IF NOT EXISTS index_state (name TEXT PRIMARY KEY, value BIGINT NOT NULL)")
               << QStringLiteral("SELECT 1 FROM notes LIMIT 1");
    for (const QString& statement : statements)
        if (Result<void> done = Exec(statement); !done)
            return done;
    if (sqlite)
        textIndex_ = PrepareTextIndex();
    return {};
}

// A SQLite built without the trigram tokenizer searches the descriptions one by one instead.
bool ArchiveIndex::PrepareTextIndex()
{
    QSqlQuery existing(QSqlDatabase::database(connection_, false));
    if (!existing.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'notes_text'")))
        return false;
    if (existing.next())
        return true;
    const QString statements[] = {
        QStringLiteral("CREATE VIRTUAL TABLE notes_text USING fts5(description, content='notes', content_rowid='id', "
                       "tokenize='trigram')"),
        QStringLiteral("CREATE TRIGGER notes_text_insert AFTER INSERT ON notes BEGIN "
                       "INSERT INTO notes_text (rowid, description) VALUES (new.id, new.description); END"),
        QStringLiteral(
            "CREATE TRIGGER notes_text_delete AFTER DELETE ON notes BEGIN "
            "INSERT INTO notes_text (notes_text, rowid, description) VALUES ('delete', old.id, old.description); "
            "END"),
        QStringLiteral(
            "CREATE TRIGGER notes_text_update AFTER UPDATE ON notes BEGIN "
            "INSERT INTO notes_text (notes_text, rowid, description) VALUES ('delete', old.id, old.description); "
            "INSERT INTO notes_text (rowid, description) VALUES (new.id, new.description); END"),
        QStringLiteral("INSERT INTO notes_text (notes_text) VALUES ('rebuild')"),
    };
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction())
        return false;
    for (const QString& statement : statements) {
        if (!Exec(statement)) {
            db.rollback();
            return false;
        }
    }
    return db.commit();
}

std::optional<std::int64_t> ArchiveIndex::ReadFolder(const std::string& folder,
                                                     const std::function<void(const StoredFile&)>& take)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT folder_time, files FROM folders WHERE folder = ?"));
    query.addBindValue(Text(folder));
    if (!query.exec() || !query.next())
        return std::nullopt;
    const QByteArray bytes = query.value(1).toByteArray();
    if (bytes.isEmpty() || static_cast<unsigned char>(bytes[0]) != kFolderFormat)
        return std::nullopt;
    // A damaged row is read as far as it goes; what is missing is read from the files again.
    for (qsizetype at = 1; at < bytes.size();) {
        StoredFile file;
        std::uint64_t nameLength = 0, hasRecord = 0, modified = 0, changed = 0;
        if (!TakeLe(bytes, at, 2, nameLength) || bytes.size() - at < static_cast<qsizetype>(nameLength))
            break;
        file.name = std::string_view(bytes.constData() + at, nameLength);
        at += static_cast<qsizetype>(nameLength);
        if (!TakeLe(bytes, at, 8, file.size) || !TakeLe(bytes, at, 8, modified) || !TakeLe(bytes, at, 8, changed)
            || !TakeLe(bytes, at, 1, hasRecord))
            break;
        file.modified = static_cast<std::int64_t>(modified);
        file.changed = static_cast<std::int64_t>(changed);
        if (hasRecord != 0) {
            if (bytes.size() - at < static_cast<qsizetype>(kHeaderSize))
                break;
            file.record = std::string_view(bytes.constData() + at, kHeaderSize);
            at += kHeaderSize;
        }
        take(file);
    }
    return query.value(0).toLongLong();
}

ArchiveIndex::Folder ArchiveIndex::LoadFolder(const std::string& folder)
{
    Folder loaded;
    const std::optional<std::int64_t> folderTime = ReadFolder(folder, [&](const StoredFile& stored) {
        loaded.files.push_back(Materialize(stored));
    });
    loaded.folderTime = folderTime.value_or(kUnsettled);
    return loaded;
}

// A failure to store only costs the next listing its speed.
void ArchiveIndex::SaveFolder(const std::string& folder, std::int64_t folderTime, const std::vector<CachedFile>& files)
{
    std::string bytes(1, static_cast<char>(kFolderFormat));
    bytes.reserve(files.size() * 64);
    for (const CachedFile& file : files) {
        AppendLe(bytes, file.name.size(), 2);
        bytes += file.name;
        AppendLe(bytes, file.size, 8);
        AppendLe(bytes, static_cast<std::uint64_t>(file.modified), 8);
        AppendLe(bytes, static_cast<std::uint64_t>(file.changed), 8);
        AppendLe(bytes, file.record ? 1 : 0, 1);
        if (file.record)
            bytes.append(file.record->begin(), file.record->end());
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const bool transaction = db.transaction();
    // Without a transaction each step stands alone: the old places go before the row changes.
    DeleteFolderRows(folder, {"place_folders", "noted_places"});
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("INSERT INTO folders (folder, folder_time, files) VALUES (?, ?, ?) ON CONFLICT (folder) "
                       "DO UPDATE SET folder_time = excluded.folder_time, files = excluded.files"));
    query.addBindValue(Text(folder));
    query.addBindValue(static_cast<qlonglong>(folderTime));
    query.addBindValue(Bytes(bytes));
    if (query.exec())
        WritePlaces(folder, files, {});
    if (transaction && !db.commit())
        db.rollback();
}

void ArchiveIndex::DeleteFolderRows(const std::string& folder, std::initializer_list<const char*> tables)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    for (const char* table : tables) {
        query.prepare(QStringLiteral("DELETE FROM %1 WHERE folder = ?").arg(QLatin1String(table)));
        query.addBindValue(Text(folder));
        query.exec();
    }
}

// Lists the noted files among the folder's stored files, but for those at the positions already
// listed, and marks the folder with the notes' generation its list is complete for. Without the
// notes the folder stays unmarked, so its list is not used.
void ArchiveIndex::WritePlaces(const std::string& folder, const std::vector<CachedFile>& files,
                               const std::vector<bool>& listed)
{
    if (!notesLoaded_ || !notesGeneration_)
        return;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(QStringLiteral("INSERT INTO noted_places (folder, position, name, size, record, modified, changed) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (std::size_t position = 0; position < files.size(); ++position) {
        if (position < listed.size() && listed[position])
            continue;
        const CachedFile& file = files[position];
        const std::optional<RecordingIdentity> identity = CachedIdentity(file);
        if (!identity || !notes_.contains(*identity))
            continue;
        query.addBindValue(Text(folder));
        query.addBindValue(static_cast<qlonglong>(position));
        query.addBindValue(Text(file.name));
        query.addBindValue(static_cast<qlonglong>(file.size));
        query.addBindValue(Bytes(identity->record));
        query.addBindValue(static_cast<qlonglong>(file.modified));
        query.addBindValue(static_cast<qlonglong>(file.changed));
        if (!query.exec())
            return;
    }
    query.prepare(QStringLiteral("INSERT INTO place_folders (folder, generation) VALUES (?, ?) ON CONFLICT (folder) "
                                 "DO UPDATE SET generation = excluded.generation"));
    query.addBindValue(Text(folder));
    query.addBindValue(static_cast<qlonglong>(*notesGeneration_));
    query.exec();
}

// The folder's list of noted files completed from its stored row for the notes of generation;
// the stored files, in walk order. The places listed belong to the stored row (a new row
// replaces them), so only the recordings noted since they were listed are added.
std::vector<ArchiveIndex::CachedFile> ArchiveIndex::CompletePlaces(const std::string& folder,
                                                                   std::optional<std::int64_t> generation)
{
    LoadNotesOf(generation);
    Folder loaded = LoadFolder(folder);
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const bool transaction = db.transaction();
    std::vector<bool> listed(loaded.files.size());
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT position FROM noted_places WHERE folder = ?"));
    query.addBindValue(Text(folder));
    if (query.exec())
        while (query.next())
            if (const qlonglong position = query.value(0).toLongLong();
                position >= 0 && position < static_cast<qlonglong>(listed.size()))
                listed[static_cast<std::size_t>(position)] = true;
    WritePlaces(folder, loaded.files, listed);
    if (transaction && !db.commit())
        db.rollback();
    return std::move(loaded.files);
}

// Every known folder's list of noted files completed, after notes came in at once.
void ArchiveIndex::CompleteAllPlaces()
{
    const std::optional<std::int64_t> generation = NotesGeneration();
    for (const std::string& folder : KnownFolders())
        CompletePlaces(folder, generation);
}

void ArchiveIndex::ForgetFolder(const std::string& folder)
{
    DeleteFolderRows(folder, {"place_folders", "noted_places", "folders"});
}

void ArchiveIndex::LoadNotes()
{
    if (!notesLoaded_)
        LoadNotesOf(NotesGeneration());
}

// The notes as they stand at generation (read before them: notes that come in meanwhile make
// the cache look older than it is, never newer).
void ArchiveIndex::LoadNotesOf(std::optional<std::int64_t> generation)
{
    if (notesLoaded_ && generation && notesGeneration_ == generation)
        return;
    notes_.clear();
    notesLoaded_ = false;
    if (Result<std::vector<NotedRecording>> all = AllNotes()) {
        for (NotedRecording& noted : *all)
            notes_.emplace(std::move(noted.identity), std::move(noted.note));
        notesLoaded_ = true;
        notesGeneration_ = generation;
    }
}

// Generation 0 has no row: opening the index writes nothing.
std::optional<std::int64_t> ArchiveIndex::NotesGeneration()
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(QStringLiteral("SELECT value FROM index_state WHERE name = 'notes_generation'")))
        return std::nullopt;
    return query.next() ? query.value(0).toLongLong() : 0;
}

Result<std::int64_t> ArchiveIndex::MoveNotesGenerationOn()
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    if (!query.exec(QStringLiteral(
            "INSERT INTO index_state (name, value) VALUES ('notes_generation', 1) ON CONFLICT (name) "
            "DO UPDATE SET value = index_state.value + 1 RETURNING value"))
        || !query.next())
        return SqlFailure(query.lastError());
    return static_cast<std::int64_t>(query.value(0).toLongLong());
}

namespace {

struct FileStatus {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};

std::optional<FileStatus> StatusAt(int dirFd, const std::string& name)
{
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileStatus{static_cast<std::uint64_t>(info.st_size), Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim)};
}

// The file as the index should now remember it, given its status now: the cached one while
// its size and time are unchanged, else read again. A file that cannot be opened is not
// trusted next time either.
template <typename Cached>
Cached Refresh(const std::string& folder, const std::string& name, const std::optional<FileStatus>& now,
               const Cached* known, std::int64_t clock)
{
    if (now && known && known->size == now->size && known->modified == now->modified && known->changed == now->changed)
        return *known;
    Cached file;
    file.name = name;
    if (const std::optional<RecordingHead> head = ReadRecordingHead(folder + name)) {
        file.size = head->size;
        file.modified = Settled(clock, head->modified, head->changed);
        file.changed = head->changed;
        file.record = head->record;
    } else if (now && now->size < kHeaderOffset + kHeaderSize) {
        file.size = now->size;
        file.modified = Settled(clock, now->modified, now->changed);
        file.changed = now->changed;
    }
    return file;
}

std::int64_t FolderTime(int dirFd, std::int64_t clock)
{
    struct stat info {};
    return ::fstat(dirFd, &info) == 0 ? Settled(clock, Nanoseconds(info.st_mtim)) : kUnsettled;
}

} // namespace

std::optional<IndexedRow> ArchiveIndex::RowFor(const std::string& folder, const CachedFile& file, const NoteMap& notes)
{
    if (!file.record)
        return std::nullopt;
    const RecordingHead head{*file.record, file.size, file.modified, file.changed};
    IndexedRow row{MakeRecordingEntry(folder, file.name, 0, head), IdentityOf(file.name, head), {}};
    if (const auto note = notes.find(row.identity); note != notes.end())
        row.note = note->second;
    return row;
}

bool ArchiveIndex::WalkFolder(const std::string& folder, const IndexedVisit& visit)
{
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    const std::int64_t clock = clock_();
    const std::int64_t folderTime = FolderTime(dir.get(), clock);
    Folder cached = LoadFolder(folder);
    LoadNotes();
    std::vector<CachedFile> met;
    bool changed = folderTime != cached.folderTime || folderTime == kUnsettled;
    bool completed = true;
    const bool walked = WalkRecordings(folder, [&](const WalkEntry& entry) {
        std::optional<IndexedRow> row;
        if (entry.twelveBytes) {
            const std::size_t at = met.size();
            met.push_back(Refresh(folder, entry.name, FileStatus{entry.size, entry.modified, entry.changed},
                                  cached.Find(at, entry.name), clock));
            changed = changed || at >= cached.files.size() || !(cached.files[at] == met.back());
            row = RowFor(folder, met.back(), notes_);
        }
        completed = visit(entry, row ? &*row : nullptr);
        return completed;
    });
    changed = changed || met.size() != cached.files.size();
    if (walked && completed && changed)
        SaveFolder(folder, folderTime, met);
    return walked;
}

// A folder the index has listed: its time at the last walk, and the notes' generation its list
// of noted files is complete for (none: there is no list).
struct ArchiveIndex::KnownFolder {
    std::string folder;
    std::int64_t folderTime = kUnsettled;
    std::optional<std::int64_t> placesGeneration;
};

std::vector<ArchiveIndex::KnownFolder> ArchiveIndex::KnownFolderStates()
{
    std::vector<KnownFolder> folders;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT f.folder, f.folder_time, p.generation FROM folders f "
                                  "LEFT JOIN place_folders p ON p.folder = f.folder")))
        while (query.next()) {
            KnownFolder& known = folders.emplace_back();
            known.folder = query.value(0).toString().toStdString();
            known.folderTime = query.value(1).toLongLong();
            if (!query.isNull(2))
                known.placesGeneration = query.value(2).toLongLong();
        }
    std::sort(folders.begin(), folders.end(),
              [](const KnownFolder& a, const KnownFolder& b) { return a.folder < b.folder; });
    return folders;
}

std::vector<std::string> ArchiveIndex::KnownFolders()
{
    std::vector<std::string> folders;
    for (KnownFolder& known : KnownFolderStates())
        folders.push_back(std::move(known.folder));
    return folders;
}

// The listed places of the wanted recordings, by folder, each folder's in walk order.
ArchiveIndex::PlacesByFolder ArchiveIndex::PlacesMentioning(const std::string& text, const NoteMap& wanted)
{
    PlacesByFolder places;
    const auto [condition, value] = MentioningCondition(text);
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT p.folder, p.name, p.size, p.record, p.modified, p.changed FROM noted_places p "
                                 "JOIN notes n ON n.name = p.name AND n.size = p.size AND n.record = p.record "
                                 "WHERE %1 ORDER BY p.position")
                      .arg(condition));
    query.addBindValue(value);
    if (!query.exec())
        return places;
    while (query.next()) {
        const QByteArray record = query.value(3).toByteArray();
        RecordingIdentity identity{query.value(1).toString().toStdString(), query.value(2).toULongLong(),
                                   std::string(record.constData(), static_cast<std::size_t>(record.size()))};
        if (identity.record.size() != kHeaderSize || !wanted.contains(identity))
            continue;
        CachedFile& file = places[query.value(0).toString().toStdString()].emplace_back();
        file.name = std::move(identity.fileName);
        file.size = identity.size;
        file.modified = query.value(4).toLongLong();
        file.changed = query.value(5).toLongLong();
        file.record.emplace();
        std::copy_n(identity.record.begin(), kHeaderSize, file.record->begin());
    }
    return places;
}

std::vector<IndexedRow> ArchiveIndex::NotedRows(const std::string& text,
                                                const std::function<bool(const RecordingNote&)>& passes)
{
    std::vector<IndexedRow> rows;
    NoteMap wanted;
    if (Result<std::vector<NotedRecording>> notes = NotesMentioning(text))
        for (NotedRecording& noted : *notes)
            if (passes(noted.note))
                wanted.emplace(std::move(noted.identity), std::move(noted.note));
    if (wanted.empty())
        return rows;
    // Read before the places: a note that comes in meanwhile makes the places look stale.
    const std::optional<std::int64_t> generation = NotesGeneration();
    PlacesByFolder places = PlacesMentioning(text, wanted);
    for (const KnownFolder& known : KnownFolderStates()) {
        std::vector<IndexedRow> found = NotedRowsOf(known, generation, places[known.folder], wanted);
        std::move(found.begin(), found.end(), std::back_inserter(rows));
    }
    return rows;
}

std::vector<IndexedRow> ArchiveIndex::NotedRowsOf(const KnownFolder& known, std::optional<std::int64_t> generation,
                                                  const std::vector<CachedFile>& places, const NoteMap& wanted)
{
    std::vector<IndexedRow> rows;
    const std::string& folder = known.folder;
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            ForgetFolder(folder);
        return rows;
    }
    const std::int64_t clock = clock_();
    const std::int64_t folderTime = FolderTime(dir.get(), clock);
    if (folderTime == kUnsettled || folderTime != known.folderTime) {
        WalkFolder(folder, [&](const WalkEntry&, IndexedRow* row) {
            if (row && wanted.contains(row->identity))
                rows.push_back(std::move(*row));
            return true;
        });
        return rows;
    }
    // The folder holds the same names as at its last walk: each wanted file is looked at as a
    // walk would (attributes, then size and time).
    const bool placesComplete = generation && known.placesGeneration == generation;
    std::vector<CachedFile> noted;
    if (!placesComplete) {
        noted = CompletePlaces(folder, generation);
        std::erase_if(noted, [&](const CachedFile& file) {
            const std::optional<RecordingIdentity> identity = CachedIdentity(file);
            return !identity || !wanted.contains(*identity);
        });
    }
    const bool onFat = IsFatVolume(dir.get());
    for (const CachedFile& stored : placesComplete ? places : noted) {
        if (!Walkable(FileAttributesAt(dir.get(), stored.name.c_str(), onFat)))
            continue;
        const CachedFile now = Refresh(folder, stored.name, StatusAt(dir.get(), stored.name), &stored, clock);
        std::optional<IndexedRow> row = RowFor(folder, now, wanted);
        if (row && wanted.contains(row->identity))
            rows.push_back(std::move(*row));
    }
    return rows;
}

Result<void> ArchiveIndex::SetNote(const RecordingIdentity& identity, const RecordingNote& note)
{
    const Result<std::optional<std::int64_t>> committed = CommitNotes([&] { return StoreNote(identity, note); });
    if (!committed)
        return committed.error();
    if (note.empty())
        notes_.erase(identity);
    else
        notes_[identity] = note;
    // The cache is complete for the new generation only when it was for the one before.
    if (*committed && notesGeneration_ && **committed == *notesGeneration_ + 1)
        notesGeneration_ = *committed;
    return {};
}

Result<void> ArchiveIndex::ImportNotes(const std::vector<NotedRecording>& notes)
{
    const Result<std::optional<std::int64_t>> committed = CommitNotes([&]() -> Result<bool> {
        bool first = false;
        for (const NotedRecording& noted : notes) {
            const Result<bool> stored = StoreNote(noted.identity, noted.note);
            if (!stored)
                return stored.error();
            first = first || *stored;
        }
        return first;
    });
    if (!committed)
        return committed.error();
    notes_.clear();
    notesLoaded_ = false;
    if (*committed)
        CompleteAllPlaces();
    return {};
}

Result<std::optional<std::int64_t>> ArchiveIndex::CommitNotes(const std::function<Result<bool>()>& store)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction())
        return SqlFailure(db.lastError());
    const auto fail = [&db](const Failure& failure) {
        db.rollback();
        return failure;
    };
    const Result<bool> stored = store();
    if (!stored)
        return fail(stored.error());
    std::optional<std::int64_t> generation;
    if (*stored) {
        const Result<std::int64_t> moved = MoveNotesGenerationOn();
        if (!moved)
            return fail(moved.error());
        generation = *moved;
    }
    if (!db.commit())
        return fail(SqlFailure(db.lastError()));
    return generation;
}

Result<bool> ArchiveIndex::StoreNote(const RecordingIdentity& identity, const RecordingNote& note)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    const auto bindIdentity = [&] {
        query.addBindValue(Text(identity.fileName));
        query.addBindValue(static_cast<qlonglong>(identity.size));
        query.addBindValue(Bytes(identity.record));
    };
    const auto bindNote = [&] {
        query.addBindValue(Text(note.description));
        query.addBindValue(Text(note.userType));
    };
    if (note.empty()) {
        query.prepare(QStringLiteral("DELETE FROM notes WHERE name = ? AND size = ? AND record = ?"));
        bindIdentity();
        if (!query.exec())
            return SqlFailure(query.lastError());
        return false;
    }
    query.prepare(QStringLiteral(
        "UPDATE notes SET description = ?, user_type = ? WHERE name = ? AND size = ? AND record = ?"));
    bindNote();
    bindIdentity();
    if (!query.exec())
        return SqlFailure(query.lastError());
    if (query.numRowsAffected() > 0)
        return false;
    // Another desk may note the recording at the same moment: its note is then replaced.
    query.prepare(QStringLiteral("INSERT INTO notes (name, size, record, description, user_type) VALUES (?, ?, ?, ?, ?) "
                                 "ON CONFLICT (name, size, record) DO UPDATE SET "
                                 "description = excluded.description, user_type = excluded.user_type"));
    bindIdentity();
    bindNote();
    if (!query.exec())
        return SqlFailure(query.lastError());
    return true;
}

RecordingNote ArchiveIndex::NoteOf(const RecordingIdentity& identity)
{
    LoadNotes();
    const auto found = notes_.find(identity);
    return found == notes_.end() ? RecordingNote{} : found->second;
}

std::vector<std::string> ArchiveIndex::UserTypes()
{
    LoadNotes();
    std::set<std::string> types;
    for (const auto& [identity, note] : notes_)
        if (!note.userType.empty())
            types.insert(note.userType);
    std::vector<std::string> ordered(types.begin(), types.end());
    std::sort(ordered.begin(), ordered.end(), [](const std::string& a, const std::string& b) {
        return CompareSortKeys(Utf8ToGb18030(a), Utf8ToGb18030(b)) < 0;
    });
    return ordered;
}

Result<std::vector<NotedRecording>> ArchiveIndex::AllNotes()
{
    return NotesMentioning({});
}

std::pair<QString, QString> ArchiveIndex::MentioningCondition(const std::string& text) const
{
    // The trigram index finds texts of three characters or more, folding letter case.
    if (textIndex_ && Text(text).toUcs4().size() >= 3)
        return {QStringLiteral("n.id IN (SELECT rowid FROM notes_text WHERE notes_text MATCH ?)"),
                QLatin1Char('"') + Text(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"')};
    QString pattern = Text(text);
    for (const char* special : {"\\", "%", "_"})
        pattern.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    const QString like = location_.driver == QLatin1String("QSQLITE") ? QStringLiteral("LIKE")
                                                                      : QStringLiteral("ILIKE");
    return {QStringLiteral("n.description %1 ? ESCAPE '\\'").arg(like), QLatin1Char('%') + pattern + QLatin1Char('%')};
}

Result<std::vector<NotedRecording>> ArchiveIndex::NotesMentioning(const std::string& text)
{
    const auto [condition, value] = MentioningCondition(text);
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT n.name, n.size, n.record, n.description, n.user_type FROM notes n WHERE %1").arg(condition));
    query.addBindValue(value);
    if (!query.exec())
        return SqlFailure(query.lastError());
    std::vector<NotedRecording> notes;
    while (query.next())
        notes.push_back(NotedFrom(query));
    return notes;
}
