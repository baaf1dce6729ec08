#include "index/folder_cache.h"

#include "index/folder_cache_writer.h"
#include "index/folder_rows.h"
#include "index/index_connection.h"
#include "platform/file_attributes.h"
#include "platform/file_attributes_at.h"
#include "platform/unique_fd.h"

#include <QVariant>
#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Times closer to now than this may still change without the clock moving on (FAT keeps
// two-second steps): a file or folder changed again within them would look unchanged.
constexpr std::int64_t kSettleNanoseconds = 3 * kNanosecondsPerSecond;

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * kNanosecondsPerSecond + time.tv_nsec;
}

std::int64_t RealTimeNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now);
}

// The time, or kUnsettled while it or the other time given is too recent to be trusted at now.
std::int64_t Settled(std::int64_t now, std::int64_t time, std::int64_t alsoOld = kUnsettled)
{
    const bool old = now - time >= kSettleNanoseconds && (alsoOld == kUnsettled || now - alsoOld >= kSettleNanoseconds);
    return old ? time : kUnsettled;
}

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

// A file as the table files holds it, with the note of its recording then.
struct StoredFile {
    CachedFile file;
    RecordingNote note;
};

struct StoredFolder {
    std::int64_t folderTime = kUnsettled; // kUnsettled: not stored, or changed too recently then
    std::vector<CachedFile> files;
    std::map<std::size_t, RecordingNote> notes; // by position in files

    // The position of the stored file of the name a walk meets as its entry number at. The
    // walk mostly meets the names in their stored order; the names are looked up only once it
    // does not.
    std::optional<std::size_t> Find(std::size_t at, const std::string& name)
    {
        if (at < files.size() && files[at].name == name)
            return at;
        if (byName.empty())
            for (std::size_t i = 0; i < files.size(); ++i)
                byName.emplace(files[i].name, i);
        const auto found = byName.find(name);
        return found == byName.end() ? std::nullopt : std::optional(found->second);
    }

    RecordingNote NoteAt(std::size_t position) const
    {
        const auto found = notes.find(position);
        return found == notes.end() ? RecordingNote{} : found->second;
    }

private:
    std::unordered_map<std::string_view, std::size_t> byName;
};

// The columns name, size, modified, changed, record, description, user_type from first on.
StoredFile StoredFrom(const QSqlQuery& query, int first)
{
    return {FileFrom(query, first), {query.value(first + 5).toString().toStdString(),
                                     query.value(first + 6).toString().toStdString()}};
}

StoredFolder LoadFolder(const IndexConnection& connection, const std::string& folder, RowNotes notes)
{
    StoredFolder stored;
    QSqlQuery query = connection.Query();
    query.prepare(QStringLiteral("SELECT folder_time FROM folders WHERE folder = ?"));
    query.addBindValue(Text(folder));
    if (!query.exec() || !query.next())
        return stored;
    stored.folderTime = query.value(0).toLongLong();
    query.finish();
    stored.files = ReadFolderFiles(connection, folder);
    if (notes == RowNotes::Read)
        stored.notes = ReadFolderNotes(connection, folder);
    return stored;
}

// The notes of the files a walk meets that are not as stored. Those of the names the folder
// held at the start of the walk and the cache did not are asked for in one query; any other
// (a file changed in place, or one that came during the walk) by itself.
class UnstoredNotes {
public:
    explicit UnstoredNotes(NoteStore& store) : store_(store) {}

    void AskFor(const IndexConnection& connection, std::vector<std::string> names)
    {
        std::sort(names.begin(), names.end());
        notes_ = NotesNamed(connection, names);
        names_ = std::move(names);
    }

    RecordingNote Of(const RecordingIdentity& identity)
    {
        if (const auto found = notes_.find(identity); found != notes_.end())
            return found->second;
        if (std::binary_search(names_.begin(), names_.end(), identity.fileName))
            return {};
        const Result<RecordingNote> note = store_.NoteOf(identity);
        return note ? *note : RecordingNote{};
    }

private:
    NoteStore& store_;
    std::vector<std::string> names_;
    std::map<RecordingIdentity, RecordingNote, std::less<>> notes_;
};

void ForgetFolder(const IndexConnection& connection, const std::string& folder)
{
    static_cast<void>(connection.Write([&]() -> Result<void> {
        QSqlQuery query = connection.Query();
        for (const QString& statement :
             {QStringLiteral("DELETE FROM files WHERE folder = ?"), QStringLiteral("DELETE FROM folders WHERE folder = ?")}) {
            query.prepare(statement);
            query.addBindValue(Text(folder));
            if (Result<void> done = ExecPrepared(query); !done)
                return done;
        }
        return {};
    }));
}

// The folders stored, with their times, in byte order.
std::vector<std::pair<std::string, std::int64_t>> KnownFolderTimes(const IndexConnection& connection)
{
    std::vector<std::pair<std::string, std::int64_t>> folders;
    QSqlQuery query = connection.Query();
    if (query.exec(QStringLiteral("SELECT folder, folder_time FROM folders")))
        while (query.next())
            folders.emplace_back(query.value(0).toString().toStdString(), query.value(1).toLongLong());
    std::sort(folders.begin(), folders.end());
    return folders;
}

using NotedFiles = std::unordered_map<std::string, std::vector<StoredFile>>;

// The stored files whose note meets condition (on the notes n, binding value) and passes, by
// folder, each folder's in walk order: one join of the notes with the files.
NotedFiles NotedFilesWhere(const IndexConnection& connection, const std::pair<QString, QString>& condition,
                           const std::function<bool(const RecordingNote&)>& passes)
{
    NotedFiles noted;
    QSqlQuery query = connection.Query();
    query.prepare(QStringLiteral("SELECT f.folder, f.name, f.size, f.modified, f.changed, f.record, n.description, "
                                 "n.user_type FROM notes n JOIN files f "
                                 "ON f.name = n.name AND f.size = n.size AND f.record = n.record "
                                 "WHERE %1 ORDER BY f.position")
                      .arg(condition.first));
    query.addBindValue(condition.second);
    if (query.exec())
        while (query.next())
            if (StoredFile stored = StoredFrom(query, 1); passes(stored.note))
                noted[query.value(0).toString().toStdString()].push_back(std::move(stored));
    return noted;
}

struct FileStatus {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};

std::optional<FileStatus> StatusAt(int dirFd, const std::string& name)
{
    struct stat info {};
    if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileStatus{static_cast<std::uint64_t>(info.st_size), Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim)};
}

// The file as the cache should now remember it, given its status now: the cached one while
// its size and times are unchanged, else read again. A file that cannot be opened is not
// trusted next time either.
CachedFile Refresh(const std::string& folder, const std::string& name, const std::optional<FileStatus>& now,
                   const CachedFile* known, std::int64_t clock)
{
    if (now && known && known->size == now->size && known->modified == now->modified && known->changed == now->changed)
        return *known;
    CachedFile file;
    file.name = name;
    if (const std::optional<RecordingHead> head = ReadRecordingHead(folder + name)) {
        file.size = head->size;
        file.modified = Settled(clock, head->modified, head->changed);
        file.changed = head->changed;
        file.record = head->record;
    } else if (now && now->size < kHeaderOffset + kHeaderSize) {
        file.size = now->size;
        file.modified = Settled(clock, now->modified, now->changed);
        file.changed = now->changed;
    }
    return file;
}

std::int64_t FolderTime(int dirFd, std::int64_t clock)
{
    struct stat info {};
    return ::fstat(dirFd, &info) == 0 ? Settled(clock, Nanoseconds(info.st_mtim)) : kUnsettled;
}

// The walk keeps the entries whose attribute word has no bit besides archive.
bool Walkable(std::uint32_t attributes)
{
    return (attributes & ~kAttrArchive) == 0;
}

std::optional<IndexedRow> RowFor(const std::string& folder, const CachedFile& file, RecordingNote note)
{
    if (!file.record)
        return std::nullopt;
    const RecordingHead head{*file.record, file.size, file.modified, file.changed};
    return IndexedRow{MakeRecordingEntry(folder, file.name, 0, head), IdentityOf(file.name, head), std::move(note)};
}

// The note of the file's recording: the stored one while the file is as stored, else asked for.
RecordingNote NoteFor(UnstoredNotes& notes, const CachedFile& file, const CachedFile* stored,
                      const RecordingNote& storedNote)
{
    if (!file.record)
        return {};
    if (stored && *stored == file)
        return storedNote;
    return notes.Of({file.name, file.size, std::string(file.record->begin(), file.record->end())});
}

// The names present in the folder that the stored listing does not hold: none when the folder
// is the same as stored (a name that came since would have changed its time).
std::vector<std::string> UnstoredNames(const std::vector<std::string>& present, std::int64_t folderTime,
                                       StoredFolder& stored)
{
    std::vector<std::string> names;
    if (folderTime != kUnsettled && folderTime == stored.folderTime)
        return names;
    for (std::size_t at = 0; at < present.size(); ++at)
        if (!stored.Find(at, present[at]))
            names.push_back(present[at]);
    return names;
}

} // namespace

FolderCache::FolderCache(const IndexConnection& connection, NoteStore& notes)
    : connection_(connection), notes_(notes), clock_(RealTimeNanoseconds)
{
}

void FolderCache::SetClock(Clock clock)
{
    clock_ = std::move(clock);
}

bool FolderCache::WalkFolder(const std::string& folder, const IndexedVisit& visit, RowNotes notes)
{
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    const std::int64_t clock = clock_();
    const std::int64_t folderTime = FolderTime(dir.get(), clock);
    // The directory is read while the cache is: neither waits on the other. A fork and join
    // inside this call (the walk's own thread waits for it before going on), not a job that
    // reports to a window, hence std::async rather than a BackgroundJob.
    std::future<std::vector<std::string>> reading = std::async(std::launch::async, RecordingNames, folder);
    StoredFolder stored = LoadFolder(connection_, folder, notes);
    const std::vector<std::string> names = reading.get();
    UnstoredNotes unstored(notes_);
    if (notes == RowNotes::Read)
        unstored.AskFor(connection_, UnstoredNames(names, folderTime, stored));
    // Started at the first file that differs from the one stored at its position.
    std::optional<FolderCacheWriter> writer;
    const auto writing = [&]() -> FolderCacheWriter& {
        if (!writer)
            writer.emplace(connection_.location(), folder);
        return *writer;
    };
    std::size_t met = 0;
    bool completed = true;
    const bool walked = WalkRecordingNames(folder, names, [&](const WalkEntry& entry) {
        std::optional<IndexedRow> row;
        if (entry.twelveBytes) {
            const std::optional<std::size_t> at = stored.Find(met, entry.name);
            const CachedFile* known = at ? &stored.files[*at] : nullptr;
            const CachedFile file =
                Refresh(folder, entry.name, FileStatus{entry.size, entry.modified, entry.changed}, known, clock);
            if (met >= stored.files.size() || !(stored.files[met] == file))
                writing().Store(met, file);
            ++met;
            row = RowFor(folder, file,
                         notes == RowNotes::Skip
                             ? RecordingNote{}
                             : NoteFor(unstored, file, known, at ? stored.NoteAt(*at) : RecordingNote{}));
        }
        completed = visit(entry, row ? &*row : nullptr);
        return completed;
    });
    if (!walked || !completed)
        return walked;
    const bool same = !writer && met == stored.files.size() && folderTime == stored.folderTime && folderTime != kUnsettled;
    if (!same)
        writing().Finish(folderTime, met);
    return walked;
}

std::vector<std::string> FolderCache::KnownFolders()
{
    std::vector<std::string> folders;
    for (auto& [folder, folderTime] : KnownFolderTimes(connection_))
        folders.push_back(std::move(folder));
    return folders;
}

Result<void> FolderCache::KnowFolder(const std::string& folder)
{
    return connection_.Write([&]() -> Result<void> {
        QSqlQuery query = connection_.Query();
        query.prepare(QStringLiteral("INSERT INTO folders (folder, folder_time) VALUES (?, ?) ON CONFLICT (folder) "
                                     "DO NOTHING"));
        query.addBindValue(Text(folder));
        query.addBindValue(static_cast<qlonglong>(kUnsettled));
        return ExecPrepared(query);
    });
}

std::vector<IndexedRow> FolderCache::NotedRows(const std::string& text,
                                               const std::function<bool(const RecordingNote&)>& passes)
{
    NotedFiles noted = NotedFilesWhere(connection_, notes_.MentioningCondition(text), passes);
    std::vector<IndexedRow> rows;
    const auto keep = [&](std::optional<IndexedRow>&& row) {
        if (row && !row->note.empty() && passes(row->note))
            rows.push_back(std::move(*row));
    };
    for (const auto& [folder, knownTime] : KnownFolderTimes(connection_)) {
        const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir.valid()) {
            if (errno == ENOENT || errno == ENOTDIR)
                ForgetFolder(connection_, folder);
            continue;
        }
        const std::int64_t clock = clock_();
        const std::int64_t folderTime = FolderTime(dir.get(), clock);
        if (folderTime == kUnsettled || folderTime != knownTime) {
            WalkFolder(folder, [&](const WalkEntry&, IndexedRow* row) {
                keep(row ? std::optional<IndexedRow>(std::move(*row)) : std::nullopt);
                return true;
            });
            continue;
        }
        // The folder holds the same names as at its last walk: each noted file is looked at as
        // a walk would (attributes, then size and times).
        const bool onFat = IsFatVolume(dir.get());
        UnstoredNotes unstored(notes_);
        for (const StoredFile& stored : noted[folder]) {
            if (!Walkable(FileAttributesAt(dir.get(), stored.file.name.c_str(), onFat)))
                continue;
            const CachedFile now = Refresh(folder, stored.file.name, StatusAt(dir.get(), stored.file.name),
                                           &stored.file, clock);
            keep(RowFor(folder, now, NoteFor(unstored, now, &stored.file, stored.note)));
        }
    }
    return rows;
}
