#pragma once

#include "platform/result.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class IndexConnection;
class QSqlQuery;
class QVariant;
struct RecordingHead;

// A recording as its note knows it: copied or moved into another folder, a recording keeps its
// name, its size and its header record.
struct RecordingIdentity {
    std::string fileName;
    std::uint64_t size = 0;
    std::string record; // the 23 header bytes

    auto operator<=>(const RecordingIdentity&) const = default;
};

RecordingIdentity IdentityOf(const std::string& fileName, const RecordingHead& head);

// What the user wrote about a recording (UTF-8). A note with both texts empty is no note.
struct RecordingNote {
    std::string description;
    std::string userType;

    bool empty() const { return description.empty() && userType.empty(); }
    bool operator==(const RecordingNote&) const = default;
};

struct NotedRecording {
    RecordingIdentity identity;
    RecordingNote note;
};

// The notes in the table notes: one row per recording, found by its identity. Every write is
// one transaction committed to the disk before it returns; on SQLite it waits for another
// program that writes (see IndexConnection::Write).
class NoteStore {
public:
    explicit NoteStore(const IndexConnection& connection) : connection_(connection) {}

    // Stores the note (an empty one removes it).
    Result<void> SetNote(const RecordingIdentity& identity, const RecordingNote& note);
    // Stores every note (empty ones remove theirs): all or none.
    Result<void> ImportNotes(const std::vector<NotedRecording>& notes);
    Result<RecordingNote> NoteOf(const RecordingIdentity& identity);
    // The user types of all notes, in GBK byte order, each once.
    Result<std::vector<std::string>> UserTypes();
    // Calls visit with the header record and the user type of every note that has a user type,
    // without reading the descriptions.
    using UserTypeVisit = std::function<void(std::string_view record, std::string_view userType)>;
    Result<void> VisitUserTypes(const UserTypeVisit& visit);
    // The notes whose description may contain text: a superset the caller filters exactly
    // (the database folds letter case its own way); every note for an empty text.
    Result<std::vector<NotedRecording>> NotesMentioning(const std::string& text);
    // The condition on the notes n of NotesMentioning, and the value it binds.
    std::pair<QString, QString> MentioningCondition(const std::string& text) const;

private:
    Result<void> StoreNote(const RecordingIdentity& identity, const RecordingNote& note);

    const IndexConnection& connection_;
};

// Binds the three values of the identity, in the order name, size, record.
void BindIdentity(QSqlQuery& query, const RecordingIdentity& identity);
// The bytes of a BLOB column as a string.
std::string BytesOf(const QVariant& value);
