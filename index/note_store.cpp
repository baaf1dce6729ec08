#include "index/note_store.h"

#include "catalogue/recording.h"
#include "index/index_connection.h"
#include "index/index_schema.h"
#include "index/sqlite_statement.h"
#include "platform/text_codec.h"

#include <QSqlError>
#include <QVariant>
#include <algorithm>

namespace {

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

} // namespace

RecordingIdentity IdentityOf(const std::string& fileName, const RecordingHead& head)
{
    return RecordingIdentity{fileName, head.size, std::string(head.record.begin(), head.record.end())};
}

void BindIdentity(QSqlQuery& query, const RecordingIdentity& identity)
{
    query.addBindValue(Text(identity.fileName));
    query.addBindValue(static_cast<qlonglong>(identity.size));
    query.addBindValue(QByteArray(identity.record.data(), static_cast<qsizetype>(identity.record.size())));
}

std::string BytesOf(const QVariant& value)
{
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

Result<void> NoteStore::SetNote(const RecordingIdentity& identity, const RecordingNote& note)
{
    return connection_.Write([&] { return StoreNote(identity, note); });
}

Result<void> NoteStore::ImportNotes(const std::vector<NotedRecording>& notes)
{
    return connection_.Write([&]() -> Result<void> {
        for (const NotedRecording& noted : notes)
            if (Result<void> stored = StoreNote(noted.identity, noted.note); !stored)
                return stored;
        return {};
    });
}

// Another desk may note the recording at the same moment: the later note replaces the other.
Result<void> NoteStore::StoreNote(const RecordingIdentity& identity, const RecordingNote& note)
{
    QSqlQuery query = connection_.Query();
    if (note.empty()) {
        query.prepare(QStringLiteral("DELETE FROM notes WHERE name = ? AND size = ? AND record = ?"));
        BindIdentity(query, identity);
    } else {
        query.prepare(QStringLiteral(
            "INSERT INTO notes (name, size, record, description, user_type) VALUES (?, ?, ?, ?, ?) "
            "ON CONFLICT (name, size, record) DO UPDATE SET "
            "description = excluded.description, user_type = excluded.user_type"));
        BindIdentity(query, identity);
        query.addBindValue(Text(note.description));
        query.addBindValue(Text(note.userType));
    }
    return ExecPrepared(query);
}

Result<RecordingNote> NoteStore::NoteOf(const RecordingIdentity& identity)
{
    QSqlQuery query = connection_.Query();
    query.prepare(QStringLiteral("SELECT description, user_type FROM notes WHERE name = ? AND size = ? AND record = ?"));
    BindIdentity(query, identity);
    if (!query.exec())
        return SqlFailure(query.lastError());
    if (!query.next())
        return RecordingNote{};
    return RecordingNote{query.value(0).toString().toStdString(), query.value(1).toString().toStdString()};
}

Result<std::vector<std::string>> NoteStore::UserTypes()
{
    QSqlQuery query = connection_.Query();
    if (!query.exec(QStringLiteral("SELECT DISTINCT user_type FROM notes WHERE user_type <> ''")))
        return SqlFailure(query.lastError());
    std::vector<std::string> types;
    while (query.next())
        types.push_back(query.value(0).toString().toStdString());
    std::sort(types.begin(), types.end(), [](const std::string& a, const std::string& b) {
        return CompareSortKeys(Utf8ToGb18030(a), Utf8ToGb18030(b)) < 0;
    });
    return types;
}

Result<void> NoteStore::VisitUserTypes(const UserTypeVisit& visit)
{
    static constexpr char kUserTypesQuery[] = "SELECT record, user_type FROM notes WHERE user_type <> ''";
    if (sqlite3* db = connection_.SqliteHandle()) {
        SqliteStatement statement(db, kUserTypesQuery);
        while (statement.Step())
            visit(statement.Blob(0), statement.Text(1));
        return statement.Failed();
    }
    QSqlQuery query = connection_.Query();
    if (!query.exec(QString::fromLatin1(kUserTypesQuery)))
        return SqlFailure(query.lastError());
    while (query.next())
        visit(BytesOf(query.value(0)), query.value(1).toString().toStdString());
    return {};
}

std::pair<QString, QString> NoteStore::MentioningCondition(const std::string& text) const
{
    // The trigram index finds texts of three characters or more, folding letter case.
    if (connection_.sqlite() && Text(text).toUcs4().size() >= 3 && HasTextIndex(connection_))
        return {QStringLiteral("n.id IN (SELECT rowid FROM notes_text WHERE notes_text MATCH ?)"),
                QLatin1Char('"') + Text(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"')};
    QString pattern = Text(text);
    for (const char* special : {"\\", "%", "_"})
        pattern.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    const QString like = connection_.sqlite() ? QStringLiteral("LIKE") : QStringLiteral("ILIKE");
    return {QStringLiteral("n.description %1 ? ESCAPE '\\'").arg(like), QLatin1Char('%') + pattern + QLatin1Char('%')};
}

Result<std::vector<NotedRecording>> NoteStore::NotesMentioning(const std::string& text)
{
    const auto [condition, value] = MentioningCondition(text);
    QSqlQuery query = connection_.Query();
    query.prepare(
        QStringLiteral("SELECT n.name, n.size, n.record, n.description, n.user_type FROM notes n WHERE %1").arg(condition));
    query.addBindValue(value);
    if (!query.exec())
        return SqlFailure(query.lastError());
    std::vector<NotedRecording> notes;
    while (query.next())
        notes.push_back({{query.value(0).toString().toStdString(), query.value(1).toULongLong(), BytesOf(query.value(2))},
                         {query.value(3).toString().toStdString(), query.value(4).toString().toStdString()}});
    return notes;
}
