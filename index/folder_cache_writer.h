#pragma once

#include "index/folder_rows.h"
#include "index/index_settings.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Stores what a walk of one folder meets that the folder cache does not hold, on a thread and a
// connection of its own while the walk goes on: storing tens of thousands of rows costs half as
// much again as the walk, and the walk leaves the processor to wait on the disk. The files go in
// batches, each its own transaction, so the index is never held from other programs for long;
// the cache's commits are not synchronised to the disk (a crash loses only some speed). Each row
// stands for its file alone (a listing checks it against the file's size and times), so the
// batches a walk stored before it stopped still serve; the folder's time, which vouches that the
// folder holds the same names, is stored only when the walk completed. The writer's thread is a
// std::thread of its own, not a BackgroundJob: it reports to no window, lives exactly as long as
// one walk, and is joined by the walk (Finish or the destructor) on the walk's own thread.
class FolderCacheWriter {
public:
    FolderCacheWriter(IndexLocation location, std::string folder);
    // Without Finish (the walk did not complete) the files not stored yet are dropped.
    ~FolderCacheWriter();
    FolderCacheWriter(const FolderCacheWriter&) = delete;
    FolderCacheWriter& operator=(const FolderCacheWriter&) = delete;

    // The file the walk met at position.
    void Store(std::size_t position, const CachedFile& file);
    // The walk completed, meeting count files: stores the folder's time, drops the stored files
    // past the last one met, and returns once everything is stored (or failed to be).
    void Finish(std::int64_t folderTime, std::size_t count);

private:
    enum class State { Walking, Finishing, Abandoned, Failed };
    using Batch = std::vector<std::pair<std::size_t, CachedFile>>;

    void Run();
    void End(State state);

    const IndexLocation location_;
    const std::string folder_;
    std::mutex mutex_;
    std::condition_variable wake_;
    Batch pending_;
    State state_ = State::Walking;
    std::int64_t folderTime_ = 0;
    std::size_t count_ = 0;
    std::thread thread_;
};
