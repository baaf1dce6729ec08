#pragma once

#include "catalogue/recording.h"
#include "index/note_store.h"
#include "platform/result.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class IndexConnection;
class QSqlQuery;

// A modification time the cache does not trust: it never equals a file's real one.
inline constexpr std::int64_t kUnsettled = std::numeric_limits<std::int64_t>::min();

// One archive file as the cache remembers it: no record when the file is shorter than the
// header, and a modified time of kUnsettled when it must be read again next time. The
// status-change time catches a file replaced by a copy that kept another file's size and time.
struct CachedFile {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modified = kUnsettled;
    std::int64_t changed = 0;
    std::optional<std::array<unsigned char, kHeaderSize>> record;

    bool operator==(const CachedFile&) const = default;
};

// The rows of the table files of one folder. Through Qt SQL every bound value costs far more
// than the database's work on it: on SQLite a folder's files are read and written by statements
// run on the driver's own connection (SqliteStatement); elsewhere they go to the database as one
// JSON text (and one BLOB of their records) in one statement. The notes of the names a walk
// meets are asked for in one statement too.

// The file of the columns name, size, modified, changed, record from first on; a record that
// is not kHeaderSize bytes leaves the file to be read again.
CachedFile FileFrom(const QSqlQuery& query, int first);
// The files stored for folder, in walk order.
std::vector<CachedFile> ReadFolderFiles(const IndexConnection& connection, const std::string& folder);
// The notes of the recordings of folder's stored files, by the file's position.
std::map<std::size_t, RecordingNote> ReadFolderNotes(const IndexConnection& connection, const std::string& folder);
// Stores each file at its position in folder (replacing what was there), inside the caller's
// transaction.
Result<void> WriteFolderFiles(const IndexConnection& connection, const std::string& folder,
                              const std::vector<std::pair<std::size_t, const CachedFile*>>& files);
// Appends the JSON string of text: quotes, backslashes and control characters escaped.
void AppendJsonString(std::string& json, const std::string& text);
// The JSON array of the texts.
std::string JsonTextArray(const std::vector<std::string>& texts);
// The notes of every recording named one of names (whatever its size and record).
std::map<RecordingIdentity, RecordingNote, std::less<>> NotesNamed(const IndexConnection& connection,
                                                                   const std::vector<std::string>& names);
