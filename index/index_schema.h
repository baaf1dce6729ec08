#pragma once

#include "platform/result.h"

class IndexConnection;

// The version of the index's tables this program writes; the table schema_version holds the
// one a file has. Version 1 is the file of 6.1.2 and before, which has no such table.
inline constexpr int kIndexSchemaVersion = 2;

// Makes the tables of a new index, or brings an older one up to date (its notes are kept, its
// folder cache is dropped and rebuilt by the next listings). An index of a newer version is
// left untouched and fails with a message saying so. Opening an index that is up to date
// writes nothing.
Result<void> PrepareSchema(IndexConnection& connection);

// True when the notes have a trigram index of their descriptions (SQLite with FTS5).
bool HasTextIndex(const IndexConnection& connection);
