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
    // A connection would make an empty SQLite file where the index's owner has not made one.
    if (folders.empty()
        || (location.driver == QLatin1String("QSQLITE") && !std::filesystem::exists(location.sqlitePath)))
        return;
    const Result<std::unique_ptr<ArchiveIndex>> index = ArchiveIndex::Connect(location);
    if (!index)
        return;
    for (const std::string& folder : folders)
        static_cast<void>((*index)->KnowFolder(folder + "/"));
}
