#pragma once

#include "index/folder_cache.h"
#include "index/index_connection.h"
#include "index/index_settings.h"
#include "index/note_store.h"
#include "index/row_query.h"
#include "platform/result.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The archive index: the notes users write about recordings, and a cache of every archive
// file a listing has met (path, size, modification time, header record), so that listing a
// folder again opens only the files that changed. A SQLite file by default, or a PostgreSQL
// server named in the settings file, which desks sharing one archive can share. The index
// only speeds listings up and keeps notes: when it is unusable, folders are listed from the
// files as always.
//
// Its parts: where it lives (index_settings), the connection with its schema
// (index_connection, index_schema), the notes (note_store, note_exchange) and the folder
// cache (folder_cache). An index is opened by its owner (in the program, IndexHost), which makes
// or updates its tables and sets a damaged file aside; workers connect to an index their owner
// has opened. Like its Qt SQL connection an index belongs to the thread that opened it and is
// used and destroyed there only. Several indexes, on one thread or several, can be open at once.
class ArchiveIndex {
public:
    // An index, or nothing when none can be used; message tells the user what happened (a
    // damaged file set aside, a file held by another program or written by a newer one, a
    // server that cannot be reached), empty when all went well.
    struct Opened {
        std::unique_ptr<ArchiveIndex> index;
        std::string message;
    };
    static Opened Open(const IndexLocation& location);
    static Opened OpenConfigured();
    // A worker's connection to the index its owner opened: it never changes the tables nor sets
    // a file aside, and fails when the tables are not this program's.
    static Result<std::unique_ptr<ArchiveIndex>> Connect(const IndexLocation& location);

    ArchiveIndex(const ArchiveIndex&) = delete;
    ArchiveIndex& operator=(const ArchiveIndex&) = delete;

    // See FolderCache::WalkFolder.
    bool WalkFolder(const std::string& folder, const IndexedVisit& visit, RowNotes notes = RowNotes::Read)
    {
        return folders_.WalkFolder(folder, visit, notes);
    }

    // Stores the note (an empty one removes it) with a synchronous commit. When another program
    // holds the index for longer than the busy timeout, fails with a message that says so.
    Result<void> SetNote(const RecordingIdentity& identity, const RecordingNote& note)
    {
        return notes_.SetNote(identity, note);
    }
    // Stores every note (empty ones remove theirs) in one synchronous transaction: all or none.
    Result<void> ImportNotes(const std::vector<NotedRecording>& notes) { return notes_.ImportNotes(notes); }
    // The recording's note; an empty one when it has none or the index cannot be read.
    RecordingNote NoteOf(const RecordingIdentity& identity);
    // The user types of all notes, in GBK byte order, each once; none when the index cannot be read.
    std::vector<std::string> UserTypes();
    Result<std::vector<NotedRecording>> AllNotes() { return notes_.NotesMentioning({}); }
    // See NoteStore::VisitUserTypes.
    Result<void> VisitUserTypes(const NoteStore::UserTypeVisit& visit) { return notes_.VisitUserTypes(visit); }
    // See NoteStore::NotesMentioning.
    Result<std::vector<NotedRecording>> NotesMentioning(const std::string& text)
    {
        return notes_.NotesMentioning(text);
    }

    // See FolderCache::KnownFolders, FolderCache::KnowFolder(s), FolderCache::Freshen and
    // FolderCache::FreshKnownFolders.
    std::vector<std::string> KnownFolders() { return folders_.KnownFolders(); }
    Result<void> KnowFolder(const std::string& folder) { return folders_.KnowFolder(folder); }
    Result<void> KnowFolders(const std::vector<std::string>& folders) { return folders_.KnowFolders(folders); }
    // Makes the folder of the recording at path (as an absolute path) known.
    Result<void> KnowFolderOf(const std::string& recordingPath);
    std::vector<std::string> Freshen(const std::vector<std::string>& folders) { return folders_.Freshen(folders); }
    std::vector<std::string> FreshKnownFolders() { return folders_.FreshKnownFolders(); }

    // See QueryRows, QueryPage and QueryCallGroups (row_query.h): the rows as the cache holds them.
    Result<std::vector<IndexedRow>> FindRows(const RowCriteria& criteria, const std::vector<std::string>* folders)
    {
        return QueryRows(*connection_, notes_, criteria, folders);
    }
    Result<RowPage> FindPage(const RowCriteria& criteria, const std::optional<RowKey>& after, std::size_t count)
    {
        return QueryPage(*connection_, notes_, criteria, after, count);
    }
    Result<CallGroups> FindCallGroups(const RowCriteria& criteria, std::size_t topCount,
                                      const std::string& emptyPhoneText)
    {
        return QueryCallGroups(*connection_, notes_, criteria, topCount, emptyPhoneText);
    }

    const IndexLocation& location() const { return connection_->location(); }

    using Clock = FolderCache::Clock;
    void SetClock(Clock clock) { folders_.SetClock(std::move(clock)); }

private:
    explicit ArchiveIndex(std::unique_ptr<IndexConnection> connection);

    std::unique_ptr<IndexConnection> connection_;
    NoteStore notes_;
    FolderCache folders_;
};

// Makes the folders (each without "/" at the end) known to the index at location after an upload,
// making the index first where there is none yet (as its owner would). Where it cannot be used,
// the folders become known at their next listing instead, and nothing else is told.
void KnowFoldersIn(const IndexLocation& location, const std::set<std::string>& folders);
