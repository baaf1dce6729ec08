#pragma once

#include "index/index_settings.h"
#include "platform/result.h"

#include <chrono>
#include <functional>
#include <memory>

class ArchiveIndex;

// A fixed number of connections to the archive index, shared by the server's request threads:
// the server never holds more than that many, however many requests come at once. A Qt SQL
// connection belongs to the thread that opened it, so each connection lives on a thread of its
// own, which opens it when it is first needed (again after a failed attempt), runs the work of
// one request at a time with it and closes it when the pool ends.
class IndexPool {
public:
    IndexPool(IndexLocation location, int connections, std::chrono::milliseconds wait = std::chrono::seconds(10));
    // Waits for the work going on, then closes every connection on its own thread.
    ~IndexPool();
    IndexPool(const IndexPool&) = delete;
    IndexPool& operator=(const IndexPool&) = delete;

    // Runs work with one connection, on that connection's thread, while the caller waits. Fails
    // without running it when no connection became free within the wait (EBUSY) or the index
    // cannot be reached now (ENOTCONN).
    Result<void> Use(const std::function<void(ArchiveIndex& index)>& work);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// True for the failures of IndexPool::Use: the request may be asked again a little later.
bool IndexMomentarilyUnusable(const Failure& failure);
