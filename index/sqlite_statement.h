#pragma once

#include "platform/result.h"

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// A prepared statement run straight on the SQLite connection under a Qt SQL one. Qt SQL turns
// every value into a QVariant, which costs ten times SQLite's own work on a row; the folder
// cache reads and writes tens of thousands of rows a listing, so it takes this way on SQLite.
// The statement joins whatever transaction the connection is in.
class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // False when the statement could not be prepared; Failed() then says why.
    bool prepared() const { return statement_ != nullptr; }

    // Parameters count from 1. Texts and blobs must outlive the next Step().
    void Bind(int parameter, std::string_view text);
    void Bind(int parameter, std::int64_t value);
    void BindBlob(int parameter, const void* bytes, int size);
    void BindNull(int parameter);

    // True while a row is there to read; false at the end and on a failure (Failed() tells).
    bool Step();
    // Ready to run again with new parameters.
    void Reset();

    // Columns count from 0.
    std::string Text(int column) const;
    std::int64_t Integer(int column) const;
    bool IsNull(int column) const;
    std::string_view Blob(int column) const;

    // The failure of the last step or of the preparation, or none.
    Result<void> Failed() const;

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
    int status_ = 0;
};
