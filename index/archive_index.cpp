#include "index/archive_index.h"

#include "index/index_schema.h"

#include <filesystem>

ArchiveIndex::ArchiveIndex(std::unique_ptr<IndexConnection> connection)
    : connection_(std::move(connection)), notes_(*connection_), folders_(*connection_, notes_)
{
}

ArchiveIndex::Opened ArchiveIndex::Open(const IndexLocation& location)
{
    OpenedConnection opened = OpenPreparedIndex(location);
    if (!opened.connection)
        return {nullptr, std::move(opened.message)};
    return {std::unique_ptr<ArchiveIndex>(new ArchiveIndex(std::move(opened.connection))), std::move(opened.message)};
}

Result<std::unique_ptr<ArchiveIndex>> ArchiveIndex::Connect(const IndexLocation& location)
{
    Result<std::unique_ptr<IndexConnection>> connected = IndexConnection::Connect(location);
    if (!connected)
        return connected.error();
    if (Result<void> checked = CheckSchema(**connected); !checked)
        return checked.error();
    return std::unique_ptr<ArchiveIndex>(new ArchiveIndex(std::move(*connected)));
}

ArchiveIndex::Opened ArchiveIndex::OpenConfigured()
{
    return Open(ConfiguredIndexLocation());
}

RecordingNote ArchiveIndex::NoteOf(const RecordingIdentity& identity)
{
    Result<RecordingNote> note = notes_.NoteOf(identity);
    return note ? std::move(*note) : RecordingNote{};
}

std::vector<std::string> ArchiveIndex::UserTypes()
{
    Result<std::vector<std::string>> types = notes_.UserTypes();
    return types ? std::move(*types) : std::vector<std::string>{};
}

Result<void> ArchiveIndex::KnowFolderOf(const std::string& recordingPath)
{
    std::error_code failed;
    const std::filesystem::path file = std::filesystem::absolute(recordingPath, failed);
    if (failed)
        return Failure{failed.message(), failed.value()};
    return KnowFolder(file.lexically_normal().parent_path().string() + "/");
}

void KnowFoldersIn(const IndexLocation& location, const std::set<std::string>& folders)
{
    if (folders.empty())
        return;
    // A worker's connection to a SQLite file that is there (connecting would make an empty
    // one); else the owner's opening, which makes the tables where there are none (waiting for
    // another program making them) and changes nothing where they are up to date.
    std::unique_ptr<ArchiveIndex> index;
    if (location.driver == QLatin1String("QSQLITE") && std::filesystem::exists(location.sqlitePath)) {
        if (Result<std::unique_ptr<ArchiveIndex>> connected = ArchiveIndex::Connect(location); connected)
            index = std::move(*connected);
    } else {
        index = ArchiveIndex::Open(location).index;
    }
    if (!index)
        return;
    std::vector<std::string> known;
    for (const std::string& folder : folders)
        known.push_back(folder + "/");
    static_cast<void>(index->KnowFolders(known));
}
