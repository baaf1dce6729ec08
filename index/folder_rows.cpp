#include "index/folder_rows.h"

#include "index/index_connection.h"
#include "index/recording_fields.h"
#include "index/sqlite_statement.h"

#include <QVariant>
#include <algorithm>

namespace {

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

// The table elements of the JSON array bound at its place, as e(value): the elements
// themselves, or for texts their text.
QString JsonElements(const IndexConnection& connection, bool texts)
{
    if (connection.sqlite())
        return QStringLiteral("json_each(?) AS e");
    return texts ? QStringLiteral("json_array_elements_text(CAST(? AS json)) AS e(value)")
                 : QStringLiteral("json_array_elements(CAST(? AS json)) AS e(value)");
}

// The file of a row, its record null or the bytes stored.
CachedFile FileOfRow(std::string name, std::uint64_t size, std::int64_t modified, std::int64_t changed,
                     const std::optional<std::string_view>& record)
{
    CachedFile file{std::move(name), size, modified, changed, std::nullopt};
    if (record) {
        if (record->size() == kHeaderSize)
            std::copy_n(record->data(), kHeaderSize, file.record.emplace().begin());
        else
            file.modified = kUnsettled; // read the file again
    }
    return file;
}

constexpr char kFolderFilesQuery[] =
    "SELECT name, size, modified, changed, record FROM files WHERE folder = ? ORDER BY position";

std::vector<CachedFile> ReadFolderFilesSqlite(sqlite3* db, const std::string& folder)
{
    std::vector<CachedFile> files;
    SqliteStatement count(db, "SELECT count(*) FROM files WHERE folder = ?");
    count.Bind(1, folder);
    if (count.Step())
        files.reserve(static_cast<std::size_t>(count.Integer(0)));
    SqliteStatement statement(db, kFolderFilesQuery);
    statement.Bind(1, folder);
    while (statement.Step())
        files.push_back(FileOfRow(statement.Text(0), static_cast<std::uint64_t>(statement.Integer(1)),
                                  statement.Integer(2), statement.Integer(3),
                                  statement.IsNull(4) ? std::nullopt : std::optional(statement.Blob(4))));
    return files;
}

constexpr char kUpsertFiles[] =
    "INSERT INTO files (folder, position, name, size, modified, changed, record, start_key, phone, phone_key, mode, "
    "seconds, call_minute) %1 ON CONFLICT (folder, position) DO UPDATE SET name = excluded.name, "
    "size = excluded.size, modified = excluded.modified, changed = excluded.changed, record = excluded.record, "
    "start_key = excluded.start_key, phone = excluded.phone, phone_key = excluded.phone_key, mode = excluded.mode, "
    "seconds = excluded.seconds, call_minute = excluded.call_minute";

// The fields of a file with a record; nothing for one shorter than the header.
std::optional<RecordingFields> FieldsOfFile(const CachedFile& file)
{
    return file.record ? std::optional(FieldsOf(*file.record, file.size)) : std::nullopt;
}

// The files as one statement on SQLite's own connection, reused for every file.
Result<void> WriteFolderFilesSqlite(sqlite3* db, const std::string& folder,
                                    const std::vector<std::pair<std::size_t, const CachedFile*>>& files)
{
    const std::string sql = QString::fromLatin1(kUpsertFiles)
                                .arg(QStringLiteral("VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
                                .toStdString();
    SqliteStatement statement(db, sql.c_str());
    for (const auto& [position, file] : files) {
        statement.Reset();
        statement.Bind(1, folder);
        statement.Bind(2, static_cast<std::int64_t>(position));
        statement.Bind(3, file->name);
        statement.Bind(4, static_cast<std::int64_t>(file->size));
        statement.Bind(5, file->modified);
        statement.Bind(6, file->changed);
        const std::optional<RecordingFields> fields = FieldsOfFile(*file);
        if (fields) {
            statement.BindBlob(7, file->record->data(), static_cast<int>(kHeaderSize));
            statement.BindBlob(8, fields->startKey.data(), static_cast<int>(fields->startKey.size()));
            statement.Bind(9, fields->phone);
            statement.Bind(10, fields->phoneKey);
            statement.Bind(11, static_cast<std::int64_t>(fields->mode));
            statement.Bind(12, static_cast<std::int64_t>(fields->seconds));
            if (fields->callMinute)
                statement.Bind(13, *fields->callMinute);
            else
                statement.BindNull(13);
        } else {
            for (int parameter = 7; parameter <= 13; ++parameter)
                statement.BindNull(parameter);
        }
        statement.Step();
        if (Result<void> failed = statement.Failed(); !failed)
            return failed;
    }
    return statement.Failed();
}

// One file as the JSON array [position, name, size, modified, changed, record number or -1,
// start key's offset, its length, phone, phone key, mode, seconds, call minute], its record and
// start key appended to bytes (SQLite before 3.41 cannot turn hex text into bytes).
void AppendFileJson(std::string& json, QByteArray& bytes, std::size_t position, const CachedFile& file)
{
    json += '[' + std::to_string(position) + ',';
    AppendJsonString(json, file.name);
    json += ',' + std::to_string(file.size) + ',' + std::to_string(file.modified) + ',' + std::to_string(file.changed);
    const std::optional<RecordingFields> fields = FieldsOfFile(file);
    if (!fields) {
        json += ",-1,0,0,null,null,null,null,null]";
        return;
    }
    json += ',' + std::to_string(bytes.size()) + ',' + std::to_string(bytes.size() + kHeaderSize) + ','
        + std::to_string(fields->startKey.size()) + ',';
    bytes.append(reinterpret_cast<const char*>(file.record->data()), kHeaderSize);
    bytes.append(fields->startKey.data(), static_cast<qsizetype>(fields->startKey.size()));
    AppendJsonString(json, fields->phone);
    json += ',';
    AppendJsonString(json, fields->phoneKey);
    json += ',' + std::to_string(fields->mode) + ',' + std::to_string(fields->seconds) + ','
        + (fields->callMinute ? std::to_string(*fields->callMinute) : std::string("null")) + ']';
}

} // namespace

void AppendJsonString(std::string& json, const std::string& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    json += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            json += "\\u00";
            json += kHex[byte >> 4];
            json += kHex[byte & 0xf];
        } else {
            json += c;
        }
    }
    json += '"';
}

std::string JsonTextArray(const std::vector<std::string>& texts)
{
    std::string json = "[";
    for (const std::string& text : texts) {
        if (json.size() > 1)
            json += ',';
        AppendJsonString(json, text);
    }
    return json + "]";
}

CachedFile FileFrom(const QSqlQuery& query, int first)
{
    const QByteArray record = query.value(first + 4).toByteArray();
    return FileOfRow(query.value(first).toString().toStdString(), query.value(first + 1).toULongLong(),
                     query.value(first + 2).toLongLong(), query.value(first + 3).toLongLong(),
                     query.isNull(first + 4) ? std::nullopt
                                             : std::optional(std::string_view(record.constData(), record.size())));
}

std::vector<CachedFile> ReadFolderFiles(const IndexConnection& connection, const std::string& folder)
{
    if (sqlite3* db = connection.SqliteHandle())
        return ReadFolderFilesSqlite(db, folder);
    std::vector<CachedFile> files;
    QSqlQuery query = connection.Query();
    query.prepare(QString::fromLatin1(kFolderFilesQuery));
    query.addBindValue(Text(folder));
    if (query.exec())
        while (query.next())
            files.push_back(FileFrom(query, 0));
    return files;
}

std::map<std::size_t, RecordingNote> ReadFolderNotes(const IndexConnection& connection, const std::string& folder)
{
    static constexpr char kFolderNotesQuery[] =
        "SELECT f.position, n.description, n.user_type FROM files f JOIN notes n "
        "ON n.name = f.name AND n.size = f.size AND n.record = f.record WHERE f.folder = ?";
    std::map<std::size_t, RecordingNote> notes;
    if (sqlite3* db = connection.SqliteHandle()) {
        SqliteStatement statement(db, kFolderNotesQuery);
        statement.Bind(1, folder);
        while (statement.Step())
            notes.emplace(static_cast<std::size_t>(statement.Integer(0)),
                          RecordingNote{statement.Text(1), statement.Text(2)});
        return notes;
    }
    QSqlQuery query = connection.Query();
    query.prepare(QString::fromLatin1(kFolderNotesQuery));
    query.addBindValue(Text(folder));
    if (query.exec())
        while (query.next())
            notes.emplace(query.value(0).toULongLong(),
                          RecordingNote{query.value(1).toString().toStdString(), query.value(2).toString().toStdString()});
    return notes;
}

Result<void> WriteFolderFiles(const IndexConnection& connection, const std::string& folder,
                              const std::vector<std::pair<std::size_t, const CachedFile*>>& files)
{
    if (sqlite3* db = connection.SqliteHandle())
        return WriteFolderFilesSqlite(db, folder, files);
    std::string json = "[";
    QByteArray bytes;
    for (const auto& [position, file] : files) {
        if (json.size() > 1)
            json += ',';
        AppendFileJson(json, bytes, position, *file);
    }
    json += ']';
    const QString blob = connection.sqlite() ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    const auto column = [](int at, const char* type) {
        return QStringLiteral("CAST(e.value ->> %1 AS %2)").arg(at).arg(QLatin1String(type));
    };
    const auto bytesAt = [&](int offset, const QString& length) {
        return QStringLiteral("substr(CAST(? AS %1), %2 + 1, %3)").arg(blob, column(offset, "INTEGER"), length);
    };
    QSqlQuery query = connection.Query();
    query.prepare(QString::fromLatin1(kUpsertFiles)
                      .arg(QStringLiteral("SELECT ?, %1, e.value ->> 1, %2, %3, %4, CASE WHEN %5 >= 0 THEN %6 END, "
                                          "CASE WHEN %5 >= 0 THEN %7 END, e.value ->> 8, e.value ->> 9, %8, %9, %10 "
                                          "FROM %11 WHERE true")
                               .arg(column(0, "BIGINT"), column(2, "BIGINT"), column(3, "BIGINT"),
                                    column(4, "BIGINT"), column(5, "BIGINT"),
                                    bytesAt(5, QString::number(kHeaderSize)), bytesAt(6, column(7, "INTEGER")),
                                    column(10, "INTEGER"), column(11, "INTEGER"))
                               .arg(column(12, "BIGINT"), JsonElements(connection, false))));
    query.addBindValue(Text(folder));
    query.addBindValue(bytes);
    query.addBindValue(bytes);
    query.addBindValue(Text(json));
    return ExecPrepared(query);
}

std::map<RecordingIdentity, RecordingNote, std::less<>> NotesNamed(const IndexConnection& connection,
                                                                   const std::vector<std::string>& names)
{
    std::map<RecordingIdentity, RecordingNote, std::less<>> notes;
    if (names.empty())
        return notes;
    QSqlQuery query = connection.Query();
    // A join, not "name IN (...)": SQLite would first copy the names into a temporary index.
    query.prepare(QStringLiteral("SELECT n.name, n.size, n.record, n.description, n.user_type FROM %1 "
                                 "JOIN notes n ON n.name = e.value")
                      .arg(JsonElements(connection, true)));
    query.addBindValue(Text(JsonTextArray(names)));
    if (query.exec())
        while (query.next())
            notes.emplace(RecordingIdentity{query.value(0).toString().toStdString(), query.value(1).toULongLong(),
                                            BytesOf(query.value(2))},
                          RecordingNote{query.value(3).toString().toStdString(), query.value(4).toString().toStdString()});
    return notes;
}
