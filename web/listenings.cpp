#include "web/listenings.h"

bool Listenings::Starts(const QByteArray& session, const QString& recording, Clock::time_point now)
{
    const std::lock_guard lock(mutex_);
    const auto [entry, added] = lastFetched_.try_emplace({session, recording}, now);
    const bool starts = added || now - entry->second > kSameListening;
    entry->second = now;
    if (added) // only ended listenings are dropped: the map holds what half an hour asked for
        std::erase_if(lastFetched_, [&](const auto& other) { return now - other.second > kSameListening; });
    return starts;
}

void Listenings::Forget(const QByteArray& session, const QString& recording)
{
    const std::lock_guard lock(mutex_);
    lastFetched_.erase({session, recording});
}
