#include "web/index_pool.h"

#include "index/archive_index.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// One connection and the thread it belongs to, running one piece of work at a time.
class Slot {
public:
    explicit Slot(const IndexLocation& location) : thread_([this, location] { Serve(location); }) {}
    ~Slot()
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // Runs job on the slot's thread with its connection (null when none can be made) and waits for it.
    void Run(const std::function<void(ArchiveIndex*)>& job)
    {
        std::unique_lock lock(mutex_);
        job_ = &job;
        wake_.notify_all();
        wake_.wait(lock, [this] { return job_ == nullptr; });
    }

private:
    void Serve(const IndexLocation& location)
    {
        std::unique_ptr<ArchiveIndex> index; // opened, used and closed on this thread only
        std::unique_lock lock(mutex_);
        while (true) {
            wake_.wait(lock, [this] { return stop_ || job_ != nullptr; });
            if (stop_)
                return;
            if (!index) {
                Result<std::unique_ptr<ArchiveIndex>> connected = ArchiveIndex::Connect(location);
                if (connected)
                    index = std::move(*connected);
            }
            (*job_)(index.get());
            job_ = nullptr;
            wake_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    const std::function<void(ArchiveIndex*)>* job_ = nullptr;
    bool stop_ = false;
    std::thread thread_; // last: starts once the rest is made
};

} // namespace

struct IndexPool::State {
    std::chrono::milliseconds wait;
    std::vector<std::unique_ptr<Slot>> threads;
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<Slot*> idle; // the slots no request holds
};

IndexPool::IndexPool(IndexLocation location, int connections, std::chrono::milliseconds wait)
    : state_(std::make_unique<State>())
{
    state_->wait = wait;
    for (int i = 0; i < std::max(connections, 1); ++i) {
        state_->threads.push_back(std::make_unique<Slot>(location));
        state_->idle.push_back(state_->threads.back().get());
    }
}

IndexPool::~IndexPool() = default;

Result<void> IndexPool::Use(const std::function<void(ArchiveIndex& index)>& work)
{
    Slot* slot = nullptr;
    {
        std::unique_lock lock(state_->mutex);
        if (!state_->freed.wait_for(lock, state_->wait, [this] { return !state_->idle.empty(); }))
            return Failure{"every connection to the index is busy", EBUSY};
        slot = state_->idle.back();
        state_->idle.pop_back();
    }
    bool connected = false;
    slot->Run([&](ArchiveIndex* index) {
        connected = index != nullptr;
        if (index)
            work(*index);
    });
    {
        const std::lock_guard lock(state_->mutex);
        state_->idle.push_back(slot);
    }
    state_->freed.notify_one();
    if (!connected)
        return Failure{"the index cannot be reached", ENOTCONN};
    return {};
}

bool IndexMomentarilyUnusable(const Failure& failure)
{
    return failure.error == EBUSY || failure.error == ENOTCONN;
}
