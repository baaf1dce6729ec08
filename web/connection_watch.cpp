#include "web/connection_watch.h"

#include <sys/socket.h>

namespace {

constexpr std::chrono::milliseconds kLookEvery{500};

} // namespace

ConnectionWatch::ConnectionWatch(std::chrono::milliseconds headerTime)
    : headerTime_(headerTime), sweeper_([this] { Sweep(); })
{
}

ConnectionWatch::~ConnectionWatch()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    sweeper_.join();
}

void ConnectionWatch::Opened(const void* connection, int socket)
{
    const std::lock_guard lock(mutex_);
    connections_.insert(connection, {socket, Phase::Header, Clock::now(), 0});
}

void ConnectionWatch::Set(const void* connection, Phase phase)
{
    const std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found == connections_.end())
        return;
    found->phase = phase;
    found->since = Clock::now();
    found->received = 0;
}

void ConnectionWatch::HeaderIn(const void* connection)
{
    Set(connection, Phase::Body);
}

void ConnectionWatch::BodyIn(const void* connection, qint64 bytes)
{
    const std::lock_guard lock(mutex_);
    const auto found = connections_.find(connection);
    if (found != connections_.end())
        found->received += bytes;
}

void ConnectionWatch::Answering(const void* connection)
{
    Set(connection, Phase::Answer);
}

void ConnectionWatch::Answered(const void* connection)
{
    Set(connection, Phase::Header);
}

void ConnectionWatch::Closed(const void* connection)
{
    const std::lock_guard lock(mutex_);
    connections_.remove(connection);
}

bool ConnectionWatch::Late(const Watched& watched, Clock::time_point now) const
{
    const auto taken = std::chrono::duration_cast<std::chrono::milliseconds>(now - watched.since);
    if (watched.phase == Phase::Header)
        return taken > headerTime_;
    return watched.phase == Phase::Body && taken > headerTime_
           && watched.received < (taken - headerTime_).count() * kLeastBodyRate / 1000;
}

// Runs until the watch ends. The lock is held while a socket is shut down: a connection is forgotten
// (Closed) before its socket is closed, so the number shut down is never one already reused.
void ConnectionWatch::Sweep()
{
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kLookEvery, [this] { return stopping_; })) {
        const Clock::time_point now = Clock::now();
        for (Watched& watched : connections_) {
            if (!Late(watched, now))
                continue;
            ::shutdown(watched.socket, SHUT_RDWR);
            watched.phase = Phase::Answer; // cut once
        }
    }
}
