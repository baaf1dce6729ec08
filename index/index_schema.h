#pragma once

#include "index/index_settings.h"
#include "platform/result.h"

#include <memory>
#include <string>

class IndexConnection;

// The version of the index's tables this program writes; the table schema_version holds the
// one a file has. Version 1 is the file of 6.1.2 and before, which has no such table; version 2
// kept no decoded fields beside the header records.
inline constexpr int kIndexSchemaVersion = 3;

// Makes the tables of a new index, or brings an older one up to date (its notes are kept, its
// folder cache is dropped and rebuilt by the next listings; the folders of version 2 stay known
// and are read again at the next search of them). An index of a newer version is
// left untouched and fails with a message saying so. Opening an index that is up to date
// writes nothing.
Result<void> PrepareSchema(IndexConnection& connection);
// Fails unless the index's tables are those of this program: a connection of a worker, which
// leaves the schema to the index's owner.
Result<void> CheckSchema(const IndexConnection& connection);

// The owner's opening of the index: a connection with the schema prepared, or why there is
// none. A SQLite file that is not a database is renamed aside and a fresh one is made in its
// place; message then names both files. A file that another program holds locked, or that a
// newer program wrote, is left as it is.
struct OpenedConnection {
    std::unique_ptr<IndexConnection> connection;
    std::string message;
};
OpenedConnection OpenPreparedIndex(const IndexLocation& location);

// True when the notes have a trigram index of their descriptions (SQLite with FTS5).
bool HasTextIndex(const IndexConnection& connection);
// True when the phone texts of the files have a trigram index (SQLite with FTS5: the table
// files_phone; PostgreSQL with pg_trgm: an index the database uses by itself).
bool HasPhoneIndex(const IndexConnection& connection);
