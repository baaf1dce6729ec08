#pragma once

#include "catalogue/recording.h"
#include "index/note_store.h"
#include "platform/recording_walk.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IndexConnection;

// A row met by an indexed walk, with the recording's identity and note. The row's number is
// left for the caller.
struct IndexedRow {
    RecordingEntry row;
    RecordingIdentity identity;
    RecordingNote note;
};

// Called for every entry of the walk; row is null for entries that give no row (the name is
// not 12 bytes long, or the header cannot be read), and the visitor may move it away.
// Returning false ends the walk.
using IndexedVisit = std::function<bool(const WalkEntry& entry, IndexedRow* row)>;

// Whether a walk gives its rows their notes; a count that needs none skips reading them.
enum class RowNotes { Read, Skip };

// The cache of archive folder listings: for every folder a completed listing walked, its own
// modification time (table folders) and each file it met, in walk order, with size, times and
// header record (table files). A listing then opens only the files that are new or changed.
// A failure to store only costs the next listing its speed.
class FolderCache {
public:
    // The wall clock in nanoseconds since the epoch. File and folder times younger than a few
    // seconds are not trusted (they may change again without moving); tests move the clock on.
    using Clock = std::function<std::int64_t()>;

    FolderCache(const IndexConnection& connection, NoteStore& notes);
    void SetClock(Clock clock);

    // The walk of WalkRecordings over folder (ending with "/"), with the rows MakeRecordingEntry
    // gives and their notes, in walk order. A file is opened only when it is new to the cache or
    // its size or times changed; a completed walk stores what changed. Returns false when the
    // folder cannot be opened. With RowNotes::Skip every row's note is empty.
    bool WalkFolder(const std::string& folder, const IndexedVisit& visit, RowNotes notes = RowNotes::Read);
    // The folders the cache holds, in byte order.
    std::vector<std::string> KnownFolders();
    // Adds folder (ending with "/") to the known folders, to be walked at the next search of
    // them all; a folder known already stays as it is.
    Result<void> KnowFolder(const std::string& folder);
    // The same for several folders, in one transaction.
    Result<void> KnowFolders(const std::vector<std::string>& folders);
    // Brings the cache of the folders (each ending with "/") up to date for a search of them: one
    // stat each, and a folder new to the cache or changed since its last walk (its time moved, or
    // had not settled then) is walked again and so becomes known; a known folder that is gone is
    // forgotten. A file rewritten in place, which leaves its folder's time as it was, is seen at
    // the next listing of its folder. Returns the folders that are there and were read, in the
    // order given.
    std::vector<std::string> Freshen(const std::vector<std::string>& folders);
    // Freshen of every known folder: the known folders after it, in byte order.
    std::vector<std::string> FreshKnownFolders();

private:
    const IndexConnection& connection_;
    NoteStore& notes_;
    Clock clock_;
};
