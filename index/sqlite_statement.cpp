#include "index/sqlite_statement.h"

#include "index/index_connection.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) : db_(db)
{
    status_ = sqlite3_prepare_v2(db_, sql, -1, &statement_, nullptr);
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(statement_);
}

void SqliteStatement::Bind(int parameter, std::string_view text)
{
    sqlite3_bind_text(statement_, parameter, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void SqliteStatement::Bind(int parameter, std::int64_t value)
{
    sqlite3_bind_int64(statement_, parameter, value);
}

void SqliteStatement::BindBlob(int parameter, const void* bytes, int size)
{
    sqlite3_bind_blob(statement_, parameter, bytes, size, SQLITE_STATIC);
}

void SqliteStatement::BindNull(int parameter)
{
    sqlite3_bind_null(statement_, parameter);
}

bool SqliteStatement::Step()
{
    if (!statement_)
        return false;
    status_ = sqlite3_step(statement_);
    return status_ == SQLITE_ROW;
}

void SqliteStatement::Reset()
{
    sqlite3_reset(statement_);
    status_ = SQLITE_OK;
}

std::string SqliteStatement::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

std::int64_t SqliteStatement::Integer(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

bool SqliteStatement::IsNull(int column) const
{
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::string_view SqliteStatement::Blob(int column) const
{
    const void* bytes = sqlite3_column_blob(statement_, column);
    return bytes ? std::string_view(static_cast<const char*>(bytes),
                                    static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string_view();
}

Result<void> SqliteStatement::Failed() const
{
    if (status_ == SQLITE_OK || status_ == SQLITE_ROW || status_ == SQLITE_DONE)
        return {};
    return SqlFailure(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
}
