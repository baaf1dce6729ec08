#include "index/folder_cache.h"

#include "index/folder_cache_writer.h"
#include "index/folder_rows.h"
#include "index/index_connection.h"
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

struct FileStatus {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};

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

enum class Freshness { Same, Changed, Gone };

// Whether the folder holds the same names as at its last walk, known then at knownTime (nothing
// when the cache does not know it): one stat.
Freshness FreshnessOf(const std::string& folder, std::optional<std::int64_t> knownTime, std::int64_t clock)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Freshness::Gone : Freshness::Changed;
    if (!S_ISDIR(info.st_mode))
        return Freshness::Gone;
    const std::int64_t folderTime = Settled(clock, Nanoseconds(info.st_mtim));
    return knownTime && folderTime != kUnsettled && folderTime == *knownTime ? Freshness::Same : Freshness::Changed;
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
    return KnowFolders({folder});
}

std::vector<std::string> FolderCache::Freshen(const std::vector<std::string>& folders)
{
    std::unordered_map<std::string, std::int64_t> known;
    for (auto& [folder, folderTime] : KnownFolderTimes(connection_))
        known.emplace(std::move(folder), folderTime);
    std::vector<std::string> fresh;
    const std::int64_t clock = clock_();
    for (const std::string& folder : folders) {
        const auto found = known.find(folder);
        const Freshness freshness =
            FreshnessOf(folder, found == known.end() ? std::nullopt : std::optional(found->second), clock);
        if (freshness == Freshness::Gone) {
            if (found != known.end())
                ForgetFolder(connection_, folder);
            continue;
        }
        if (freshness == Freshness::Same
            || WalkFolder(folder, [](const WalkEntry&, IndexedRow*) { return true; }, RowNotes::Skip))
            fresh.push_back(folder);
    }
    return fresh;
}

std::vector<std::string> FolderCache::FreshKnownFolders()
{
    return Freshen(KnownFolders());
}

Result<void> FolderCache::KnowFolders(const std::vector<std::string>& folders)
{
    return connection_.Write([&]() -> Result<void> {
        QSqlQuery query = connection_.Query();
        query.prepare(QStringLiteral("INSERT INTO folders (folder, folder_time) VALUES (?, ?) ON CONFLICT (folder) "
                                     "DO NOTHING"));
        for (const std::string& folder : folders) {
            query.addBindValue(Text(folder));
            query.addBindValue(static_cast<qlonglong>(kUnsettled));
            if (Result<void> done = ExecPrepared(query); !done)
                return done;
        }
        return Result<void>();
    });
}
