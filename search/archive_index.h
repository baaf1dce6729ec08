#pragma once

#include "catalogue/recording.h"
#include "platform/recording_walk.h"
#include "platform/result.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The archive index: the notes users write about recordings, and a cache of every archive
// file a listing has met (path, size, modification time, header record), so that listing a
// folder again opens only the files that changed. A SQLite file by default, or a PostgreSQL
// server named in the settings file, which desks sharing one archive can share. The index
// only speeds listings up and keeps notes: when it is unusable, folders are listed from the
// files as always.

// A recording as its note knows it: copied or moved into another folder, a recording keeps its
// name, its size and its header record.
struct RecordingIdentity {
    std::string fileName;
    std::uint64_t size = 0;
    std::string record; // the 23 header bytes

    bool operator==(const RecordingIdentity&) const = default;
};

struct RecordingIdentityHash {
    std::size_t operator()(const RecordingIdentity& identity) const;
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

using NoteMap = std::unordered_map<RecordingIdentity, RecordingNote, RecordingIdentityHash>;

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

// Where the index lives: a SQLite file, or a PostgreSQL server.
struct IndexLocation {
    QString driver = QStringLiteral("QSQLITE"); // or "QPSQL"
    std::string sqlitePath;
    QString host;
    int port = 0; // 0: the driver's default
    QString database;
    QString user;
    QString password;
};

// $XDG_DATA_HOME/sdvoice/archive.db.
std::string DefaultIndexPath();
// $XDG_CONFIG_HOME/sdvoice/sdvoice.conf.
std::string IndexSettingsPath();
// The server the settings file names in its group [index] (driver=QPSQL, host, port, database,
// user, password), else the SQLite file at DefaultIndexPath().
IndexLocation ConfiguredIndexLocation(const std::string& settingsPath = IndexSettingsPath());

class ArchiveIndex {
public:
    // An index, or nothing when none can be used; message tells the user what happened (a
    // damaged file set aside, a server that cannot be reached), empty when all went well.
    struct Opened {
        std::unique_ptr<ArchiveIndex> index;
        std::string message;
    };
    // A SQLite file that cannot be opened or is not a database is renamed aside and a fresh
    // one is made in its place; the message names both files.
    static Opened Open(const IndexLocation& location);
    static Opened OpenConfigured();

    ~ArchiveIndex();
    ArchiveIndex(const ArchiveIndex&) = delete;
    ArchiveIndex& operator=(const ArchiveIndex&) = delete;

    // The walk of WalkRecordings over folder (ending with "/"), with the rows MakeRecordingEntry
    // gives, in walk order. A file is opened only when it is new to the index or its size or
    // modification time changed; a completed walk stores what it met. Returns false when the
    // folder cannot be opened.
    bool WalkFolder(const std::string& folder, const IndexedVisit& visit);

    // Stores the note (an empty one removes it) with a synchronous commit.
    Result<void> SetNote(const RecordingIdentity& identity, const RecordingNote& note);
    // Stores every note (empty ones remove theirs) in one synchronous transaction: all or none.
    Result<void> ImportNotes(const std::vector<NotedRecording>& notes);
    RecordingNote NoteOf(const RecordingIdentity& identity);
    // The user types of all notes, in byte order, each once.
    std::vector<std::string> UserTypes();
    Result<std::vector<NotedRecording>> AllNotes();
    // The notes whose description may contain text: a superset the caller filters exactly
    // (the database folds letter case its own way).
    Result<std::vector<NotedRecording>> NotesMentioning(const std::string& text);

    // The folders the index has listed, in byte order.
    std::vector<std::string> KnownFolders();
    // The rows of every known folder whose recordings have a note that may mention text (as
    // NotesMentioning) and that passes: folders in byte order, walk order within. In a folder
    // unchanged since its last walk only the noted files are looked at, found through the
    // index's list of where noted recordings lie; a changed folder is walked again, and a folder
    // that is gone is forgotten.
    std::vector<IndexedRow> NotedRows(const std::string& text, const std::function<bool(const RecordingNote&)>& passes);

    const IndexLocation& location() const { return location_; }

    // The wall clock in nanoseconds since the epoch. File and folder times younger than a few
    // seconds are not trusted (they may change again without moving); tests move the clock on.
    using Clock = std::function<std::int64_t()>;
    void SetClock(Clock clock);

private:
    struct CachedFile;
    struct StoredFile;
    struct Folder;
    struct KnownFolder;
    using PlacesByFolder = std::unordered_map<std::string, std::vector<CachedFile>>;
    ArchiveIndex(QString connection, IndexLocation location);
    static Result<std::unique_ptr<ArchiveIndex>> Connect(const IndexLocation& location);
    Result<void> Prepare();
    bool PrepareTextIndex();
    Result<void> Exec(const QString& statement);
    // True when the recording had no note before.
    Result<bool> StoreNote(const RecordingIdentity& identity, const RecordingNote& note);
    // Runs store in one transaction with a synchronous commit; when store noted a recording for
    // the first time the notes' generation moves on, and the new one is returned.
    Result<std::optional<std::int64_t>> CommitNotes(const std::function<Result<bool>()>& store);
    Result<std::int64_t> MoveNotesGenerationOn();
    std::optional<std::int64_t> NotesGeneration();
    // The notes where the description may contain text: a condition on the table notes and the
    // value it binds.
    std::pair<QString, QString> MentioningCondition(const std::string& text) const;
    // Hands each file stored for folder to take, in walk order; the folder's time then, or
    // nothing when the folder is not stored.
    std::optional<std::int64_t> ReadFolder(const std::string& folder,
                                           const std::function<void(const StoredFile&)>& take);
    static CachedFile Materialize(const StoredFile& stored);
    static std::optional<RecordingIdentity> CachedIdentity(const CachedFile& file);
    Folder LoadFolder(const std::string& folder);
    void SaveFolder(const std::string& folder, std::int64_t folderTime, const std::vector<CachedFile>& files);
    void DeleteFolderRows(const std::string& folder, std::initializer_list<const char*> tables);
    void WritePlaces(const std::string& folder, const std::vector<CachedFile>& files, const std::vector<bool>& listed);
    std::vector<CachedFile> CompletePlaces(const std::string& folder, std::optional<std::int64_t> generation);
    void CompleteAllPlaces();
    void ForgetFolder(const std::string& folder);
    void LoadNotes();
    void LoadNotesOf(std::optional<std::int64_t> generation);
    std::optional<IndexedRow> RowFor(const std::string& folder, const CachedFile& file, const NoteMap& notes);
    std::vector<KnownFolder> KnownFolderStates();
    PlacesByFolder PlacesMentioning(const std::string& text, const NoteMap& wanted);
    std::vector<IndexedRow> NotedRowsOf(const KnownFolder& known, std::optional<std::int64_t> generation,
                                        const std::vector<CachedFile>& places, const NoteMap& wanted);

    QString connection_;
    IndexLocation location_;
    Clock clock_;
    bool textIndex_ = false; // the descriptions have a trigram index (SQLite only)
    bool notesLoaded_ = false;
    // The notes' generation when notes_ was read: it moves on with every recording noted for
    // the first time, here or at another desk sharing the index.
    std::optional<std::int64_t> notesGeneration_;
    NoteMap notes_;
};
