#include "index/row_query.h"

#include "index/folder_rows.h"
#include "index/index_connection.h"
#include "index/index_schema.h"
#include "index/recording_fields.h"
#include "index/sqlite_statement.h"

#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <variant>

namespace {

// A value bound to a statement: a text, bytes or a number.
struct Bytes {
    std::string bytes;
};
using Bound = std::variant<std::string, Bytes, std::int64_t>;

// One result row, read by column from 0.
class ResultRow {
public:
    virtual ~ResultRow() = default;
    virtual std::string Text(int column) const = 0;
    virtual std::string Blob(int column) const = 0;
    virtual std::int64_t Integer(int column) const = 0;
    virtual bool IsNull(int column) const = 0;
};

class SqliteRow : public ResultRow {
public:
    explicit SqliteRow(const SqliteStatement& statement) : statement_(statement) {}
    std::string Text(int column) const override { return statement_.Text(column); }
    std::string Blob(int column) const override { return std::string(statement_.Blob(column)); }
    std::int64_t Integer(int column) const override { return statement_.Integer(column); }
    bool IsNull(int column) const override { return statement_.IsNull(column); }

private:
    const SqliteStatement& statement_;
};

class QtRow : public ResultRow {
public:
    explicit QtRow(const QSqlQuery& query) : query_(query) {}
    std::string Text(int column) const override { return query_.value(column).toString().toStdString(); }
    std::string Blob(int column) const override { return BytesOf(query_.value(column)); }
    std::int64_t Integer(int column) const override { return query_.value(column).toLongLong(); }
    bool IsNull(int column) const override { return query_.isNull(column); }

private:
    const QSqlQuery& query_;
};

using RowVisit = std::function<void(const ResultRow&)>;

// Runs sql with the values bound in order; on SQLite straight on its connection (a QVariant per
// value costs more than the database's work on a row).
Result<void> Select(const IndexConnection& connection, const QString& sql, const std::vector<Bound>& values,
                    const RowVisit& visit)
{
    if (sqlite3* db = connection.SqliteHandle()) {
        const std::string text = sql.toStdString();
        SqliteStatement statement(db, text.c_str());
        int parameter = 0;
        for (const Bound& value : values) {
            ++parameter;
            if (const auto* string = std::get_if<std::string>(&value))
                statement.Bind(parameter, *string);
            else if (const auto* bytes = std::get_if<Bytes>(&value))
                statement.BindBlob(parameter, bytes->bytes.data(), static_cast<int>(bytes->bytes.size()));
            else
                statement.Bind(parameter, std::get<std::int64_t>(value));
        }
        const SqliteRow row(statement);
        while (statement.Step())
            visit(row);
        return statement.Failed();
    }
    QSqlQuery query = connection.Query();
    query.prepare(sql);
    for (const Bound& value : values) {
        if (const auto* string = std::get_if<std::string>(&value))
            query.addBindValue(QString::fromStdString(*string));
        else if (const auto* bytes = std::get_if<Bytes>(&value))
            query.addBindValue(QByteArray::fromStdString(bytes->bytes));
        else
            query.addBindValue(static_cast<qlonglong>(std::get<std::int64_t>(value)));
    }
    if (Result<void> done = ExecPrepared(query); !done)
        return done;
    const QtRow row(query);
    while (query.next())
        visit(row);
    return {};
}

// The elements of the JSON array bound at its place as c(value, key), key counting from 0 on
// SQLite and from 1 on PostgreSQL.
QString JsonTable(const IndexConnection& connection)
{
    return connection.sqlite()
               ? QStringLiteral("json_each(?) AS c")
               : QStringLiteral("json_array_elements_text(CAST(? AS json)) WITH ORDINALITY AS c(value, key)");
}

// Byte order of texts on PostgreSQL, whose database may sort by a language's rules.
QString Bytewise(const IndexConnection& connection)
{
    return connection.sqlite() ? QString() : QStringLiteral(" COLLATE \"C\"");
}

// The WHERE of a query of rows and its values; nothing when no row can pass.
struct Condition {
    QString sql;
    std::vector<Bound> values;
    bool joinsNotes = false; // only rows with a note: the notes joined, not left joined

    void Add(const QString& clause, std::vector<Bound> bound = {})
    {
        sql += QStringLiteral(" AND ") + clause;
        for (Bound& value : bound)
            values.push_back(std::move(value));
    }
};

// The mode bytes of the mode name, as "IN (...)" or "NOT IN (...)", whichever is shorter; nothing
// when no byte has that name.
std::optional<QString> ModeClause(const std::string& mode)
{
    QStringList named, others;
    for (int byte = 0; byte < 256; ++byte)
        (ModeName(static_cast<char>(byte)) == mode ? named : others) << QString::number(byte);
    if (named.isEmpty())
        return std::nullopt;
    return named.size() <= others.size() ? QStringLiteral("f.mode IN (%1)").arg(named.join(QLatin1Char(',')))
                                         : QStringLiteral("f.mode NOT IN (%1)").arg(others.join(QLatin1Char(',')));
}

// The phone clause: an exact test of the bytes, found through the trigram index where there is one.
void AddPhoneClause(const IndexConnection& connection, Condition& condition, const std::string& phoneBytes)
{
    const std::string key = BytesAsText(phoneBytes);
    if (!connection.sqlite()) {
        std::string pattern = "%";
        for (const char c : key) {
            if (c == '\\' || c == '%' || c == '_')
                pattern += '\\';
            pattern += c;
        }
        condition.Add(QStringLiteral("f.phone_key LIKE ? ESCAPE '\\'"), {pattern + "%"});
        return;
    }
    condition.Add(QStringLiteral("instr(f.phone_key, ?) > 0"), {key});
    if (QString::fromStdString(key).toUcs4().size() >= 3 && HasPhoneIndex(connection)) {
        std::string phrase = "\"";
        for (const char c : key)
            phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
        condition.Add(QStringLiteral("f.id IN (SELECT rowid FROM files_phone WHERE files_phone MATCH ?)"),
                      {phrase + "\""});
    }
}

// The ids of the notes that pass, as a JSON array; nothing when the notes cannot be read.
Result<std::string> PassingNoteIds(const IndexConnection& connection, NoteStore& notes, const RowCriteria& criteria)
{
    const auto [mentioning, text] = notes.MentioningCondition(criteria.noteText);
    std::vector<std::string> ids;
    const Result<void> read = Select(
        connection, QStringLiteral("SELECT n.id, n.description, n.user_type FROM notes n WHERE %1").arg(mentioning),
        {text.toStdString()}, [&](const ResultRow& row) {
            if (criteria.notePasses(RecordingNote{row.Text(1), row.Text(2)}))
                ids.push_back(std::to_string(row.Integer(0)));
        });
    if (!read)
        return read.error();
    std::string json = "[";
    for (const std::string& id : ids)
        json += (json.size() > 1 ? "," : "") + id;
    return json + "]";
}

Result<std::optional<Condition>> ConditionOf(const IndexConnection& connection, NoteStore& notes,
                                             const RowCriteria& criteria)
{
    Condition condition{QStringLiteral("f.record IS NOT NULL"), {}};
    if (criteria.startKeys)
        condition.Add(QStringLiteral("f.start_key >= ? AND f.start_key <= ?"),
                      {Bytes{criteria.startKeys->first}, Bytes{criteria.startKeys->second}});
    if (criteria.mode) {
        const std::optional<QString> modes = ModeClause(*criteria.mode);
        if (!modes)
            return std::optional<Condition>();
        condition.Add(*modes);
    }
    if (!criteria.phoneBytes.empty())
        AddPhoneClause(connection, condition, criteria.phoneBytes);
    if (criteria.notePasses) {
        const Result<std::string> ids = PassingNoteIds(connection, notes, criteria);
        if (!ids)
            return ids.error();
        if (*ids == "[]")
            return std::optional<Condition>();
        condition.joinsNotes = true;
        condition.Add(connection.sqlite()
                          ? QStringLiteral("n.id IN (SELECT value FROM json_each(?))")
                          : QStringLiteral(
                              "n.id IN (SELECT CAST(value AS BIGINT) FROM json_array_elements_text(CAST(? AS json)))"),
                      {*ids});
    }
    return std::optional(std::move(condition));
}

QString NotesJoin(const Condition& condition)
{
    return QStringLiteral(" %1 JOIN notes n ON n.name = f.name AND n.size = f.size AND n.record = f.record")
        .arg(condition.joinsNotes ? QString() : QStringLiteral("LEFT"));
}

// The columns read by RowOf, after the folder.
constexpr char kRowColumns[] = "f.name, f.size, f.record, n.description, n.user_type, f.start_key, f.position";

// The row of the columns of kRowColumns from 1 on, column 0 the folder.
IndexedRow RowOf(const ResultRow& result)
{
    const std::string folder = result.Text(0);
    const std::string name = result.Text(1);
    RecordingHead head;
    head.size = static_cast<std::uint64_t>(result.Integer(2));
    const std::string record = result.Blob(3);
    std::copy_n(record.begin(), std::min<std::size_t>(record.size(), kHeaderSize), head.record.begin());
    RecordingNote note;
    if (!result.IsNull(4))
        note = {result.Text(4), result.Text(5)};
    return {MakeRecordingEntry(folder, name, 0, head), IdentityOf(name, head), std::move(note)};
}

} // namespace

Result<std::vector<IndexedRow>> QueryRows(const IndexConnection& connection, NoteStore& notes,
                                          const RowCriteria& criteria, const std::vector<std::string>* folders)
{
    Result<std::optional<Condition>> condition = ConditionOf(connection, notes, criteria);
    if (!condition)
        return condition.error();
    std::vector<IndexedRow> rows;
    if (!*condition)
        return rows;
    std::vector<Bound> values;
    QString sql;
    if (folders) {
        values.emplace_back(JsonTextArray(*folders));
        sql = QStringLiteral(
                  "SELECT f.folder, %1 FROM %2 JOIN files f ON f.folder = c.value%3 WHERE %4 "
                  "ORDER BY c.key, f.position")
                  .arg(QLatin1String(kRowColumns), JsonTable(connection), NotesJoin(**condition), (*condition)->sql);
    } else {
        sql = QStringLiteral(
                  "SELECT f.folder, %1 FROM folders d JOIN files f ON f.folder = d.folder%2 WHERE %3 "
                  "ORDER BY f.folder%4, f.position")
                  .arg(QLatin1String(kRowColumns), NotesJoin(**condition), (*condition)->sql, Bytewise(connection));
    }
    for (Bound& value : (*condition)->values)
        values.push_back(std::move(value));
    const Result<void> read =
        Select(connection, sql, values, [&](const ResultRow& row) { rows.push_back(RowOf(row)); });
    if (!read)
        return read.error();
    return rows;
}

Result<RowPage> QueryPage(const IndexConnection& connection, NoteStore& notes, const RowCriteria& criteria,
                          const std::optional<RowKey>& after, std::size_t count)
{
    Result<std::optional<Condition>> condition = ConditionOf(connection, notes, criteria);
    if (!condition)
        return condition.error();
    RowPage page;
    if (!*condition)
        return page;
    const QString bytewise = Bytewise(connection);
    if (after)
        (*condition)
            ->Add(QStringLiteral("f.start_key >= ? AND (f.start_key > ? OR f.folder%1 > ? OR "
                                 "(f.folder = ? AND f.position > ?))")
                      .arg(bytewise),
                  {Bytes{after->startKey}, Bytes{after->startKey}, after->folder, after->folder, after->position});
    const QString sql = QStringLiteral(
                            "SELECT f.folder, %1 FROM folders d JOIN files f ON f.folder = d.folder%2 "
                            "WHERE %3 ORDER BY f.start_key, f.folder%4, f.position LIMIT %5")
                            .arg(QLatin1String(kRowColumns), NotesJoin(**condition), (*condition)->sql, bytewise)
                            .arg(count);
    const Result<void> read = Select(connection, sql, (*condition)->values, [&](const ResultRow& row) {
        page.rows.push_back(RowOf(row));
        page.last = RowKey{row.Blob(6), row.Text(0), row.Integer(7)};
    });
    if (!read)
        return read.error();
    return page;
}

namespace {

// The query of the rows kept of every known folder, selecting what and ending with tail.
QString KnownRowsQuery(const Condition& condition, const QString& what, const QString& tail)
{
    return QStringLiteral("SELECT %1 FROM folders d JOIN files f ON f.folder = d.folder%2 WHERE %3 %4")
        .arg(what, condition.joinsNotes ? NotesJoin(condition) : QString(), condition.sql, tail);
}

// The phone texts of the topCount numbers first by the order given.
Result<std::vector<std::string>> TopPhones(const IndexConnection& connection, const Condition& condition,
                                           const QString& order, std::size_t topCount,
                                           const std::string& emptyPhoneText)
{
    std::vector<Bound> values = condition.values;
    values.emplace_back(emptyPhoneText);
    std::vector<std::string> phones;
    const Result<void> read = Select(
        connection,
        KnownRowsQuery(condition, QStringLiteral("f.phone, count(*) AS calls, sum(f.seconds) AS seconds"),
                       QStringLiteral("GROUP BY f.phone ORDER BY %1, CASE WHEN f.phone = '' THEN ? ELSE f.phone END%2 "
                                      "LIMIT %3")
                           .arg(order, Bytewise(connection))
                           .arg(topCount)),
        values, [&](const ResultRow& row) { phones.push_back(row.Text(0)); });
    if (!read)
        return read.error();
    return phones;
}

} // namespace

Result<CallGroups> QueryCallGroups(const IndexConnection& connection, NoteStore& notes, const RowCriteria& criteria,
                                   std::size_t topCount, const std::string& emptyPhoneText)
{
    Result<std::optional<Condition>> condition = ConditionOf(connection, notes, criteria);
    if (!condition)
        return condition.error();
    CallGroups groups;
    if (!*condition)
        return groups;
    const Condition& where = **condition;
    Result<void> read =
        Select(connection,
               KnownRowsQuery(where, QStringLiteral("f.call_minute / 60, f.mode, count(*), sum(f.seconds)"),
                              QStringLiteral("GROUP BY f.call_minute / 60, f.mode")),
               where.values, [&](const ResultRow& row) {
                   groups.byHour.push_back({row.IsNull(0) ? std::nullopt : std::optional(row.Integer(0)),
                                            static_cast<unsigned char>(row.Integer(1)),
                                            static_cast<std::uint64_t>(row.Integer(2)),
                                            static_cast<std::uint64_t>(row.Integer(3))});
               });
    if (!read)
        return read.error();
    std::vector<std::string> phones;
    for (const QString& order :
         {QStringLiteral("calls DESC, seconds DESC"), QStringLiteral("seconds DESC, calls DESC")}) {
        Result<std::vector<std::string>> top = TopPhones(connection, where, order, topCount, emptyPhoneText);
        if (!top)
            return top.error();
        phones.insert(phones.end(), top->begin(), top->end());
    }
    std::vector<Bound> values = where.values;
    values.emplace_back(JsonTextArray(phones));
    read = Select(
        connection,
        KnownRowsQuery(where,
                       QStringLiteral("f.phone, f.mode, count(*), sum(f.seconds), min(f.call_minute), "
                                      "max(f.call_minute)"),
                       QStringLiteral("AND f.phone IN (SELECT value FROM %1) GROUP BY f.phone, f.mode")
                           .arg(connection.sqlite() ? QStringLiteral("json_each(?)")
                                                    : QStringLiteral("json_array_elements_text(CAST(? AS json))"))),
        values, [&](const ResultRow& row) {
            const auto minute = [&](int column) {
                return row.IsNull(column) ? std::nullopt : std::optional(row.Integer(column));
            };
            groups.topNumbers.push_back({row.Text(0), static_cast<unsigned char>(row.Integer(1)),
                                         static_cast<std::uint64_t>(row.Integer(2)),
                                         static_cast<std::uint64_t>(row.Integer(3)), minute(4), minute(5)});
        });
    if (!read)
        return read.error();
    return groups;
}
