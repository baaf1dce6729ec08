#include "index/folder_cache_writer.h"

#include "index/index_connection.h"

#include <QVariant>

namespace {

constexpr std::size_t kBatchFiles = 2048;

// The folder's time, and no stored file past the count met.
Result<void> StoreFolder(const IndexConnection& connection, const std::string& folder, std::int64_t folderTime,
                         std::size_t count)
{
    QSqlQuery query = connection.Query();
    query.prepare(QStringLiteral("INSERT INTO folders (folder, folder_time) VALUES (?, ?) ON CONFLICT (folder) "
                                 "DO UPDATE SET folder_time = excluded.folder_time"));
    query.addBindValue(QString::fromStdString(folder));
    query.addBindValue(static_cast<qlonglong>(folderTime));
    if (Result<void> done = ExecPrepared(query); !done)
        return done;
    query.prepare(QStringLiteral("DELETE FROM files WHERE folder = ? AND position >= ?"));
    query.addBindValue(QString::fromStdString(folder));
    query.addBindValue(static_cast<qlonglong>(count));
    return ExecPrepared(query);
}

} // namespace

FolderCacheWriter::FolderCacheWriter(IndexLocation location, std::string folder)
    : location_(std::move(location)), folder_(std::move(folder)), thread_([this] { Run(); })
{
}

FolderCacheWriter::~FolderCacheWriter()
{
    End(State::Abandoned);
}

void FolderCacheWriter::Store(std::size_t position, const CachedFile& file)
{
    std::lock_guard lock(mutex_);
    if (state_ != State::Walking)
        return;
    pending_.emplace_back(position, file);
    if (pending_.size() == kBatchFiles)
        wake_.notify_one();
}

void FolderCacheWriter::Finish(std::int64_t folderTime, std::size_t count)
{
    {
        std::lock_guard lock(mutex_);
        folderTime_ = folderTime;
        count_ = count;
    }
    End(State::Finishing);
}

void FolderCacheWriter::End(State state)
{
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Walking)
            state_ = state;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void FolderCacheWriter::Run()
{
    Result<std::unique_ptr<IndexConnection>> connected = IndexConnection::Connect(location_);
    if (connected)
        static_cast<void>((*connected)->Exec((*connected)->sqlite() ? QStringLiteral("PRAGMA synchronous=NORMAL")
                                                                    : QStringLiteral("SET synchronous_commit = off")));
    std::unique_lock lock(mutex_);
    if (!connected) {
        state_ = State::Failed;
        pending_.clear();
        return;
    }
    const IndexConnection& connection = **connected;
    for (;;) {
        wake_.wait(lock, [this] { return pending_.size() >= kBatchFiles || state_ != State::Walking; });
        if (state_ == State::Abandoned)
            return;
        Batch batch;
        batch.swap(pending_);
        const bool last = state_ == State::Finishing;
        lock.unlock();
        std::vector<std::pair<std::size_t, const CachedFile*>> files;
        files.reserve(batch.size());
        for (const auto& [position, file] : batch)
            files.emplace_back(position, &file);
        // A write that fails (another program holds the index) only costs a later listing its speed.
        static_cast<void>(connection.Write([&]() -> Result<void> {
            if (!files.empty())
                if (Result<void> stored = WriteFolderFiles(connection, folder_, files); !stored)
                    return stored;
            return last ? StoreFolder(connection, folder_, folderTime_, count_) : Result<void>();
        }));
        lock.lock();
        if (last)
            return;
    }
}
