#include "web/web_sessions.h"

#include <algorithm>
#include <sodium.h>

namespace {

constexpr qsizetype kMostSessions = 1000;
constexpr qsizetype kMostThrottledAddresses = 10000;
constexpr int kFreeFailures = 5;
constexpr std::chrono::seconds kFirstWait{30};
constexpr std::chrono::seconds kLongestWait{15 * 60};
constexpr std::chrono::seconds kForgetAfter{60 * 60};

} // namespace

QByteArray RandomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex();
}

bool SameSecret(const QByteArray& first, const QByteArray& second)
{
    return first.size() == second.size() && !first.isEmpty()
           && sodium_memcmp(first.constData(), second.constData(), static_cast<size_t>(first.size())) == 0;
}

QByteArray SessionTable::Start(const QString& account, const QByteArray& passwordStamp, SteadyTime now)
{
    const QByteArray token = RandomToken();
    const std::lock_guard lock(mutex_);
    if (sessions_.size() >= kMostSessions)
        DropOldest();
    sessions_.insert(token, {account, passwordStamp, RandomToken(), now});
    return token;
}

std::optional<WebSession> SessionTable::Use(const QByteArray& token, SteadyTime now)
{
    const std::lock_guard lock(mutex_);
    const auto found = sessions_.find(token);
    if (found == sessions_.end())
        return std::nullopt;
    if (now - found->lastUse > idleTimeout_) {
        sessions_.erase(found);
        return std::nullopt;
    }
    found->lastUse = now;
    return *found;
}

void SessionTable::End(const QByteArray& token)
{
    const std::lock_guard lock(mutex_);
    sessions_.remove(token);
}

// Makes room for a new session: the one unused for the longest time goes.
void SessionTable::DropOldest()
{
    const auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
                                         [](const auto& a, const auto& b) { return a.lastUse < b.lastUse; });
    if (oldest != sessions_.end())
        sessions_.erase(oldest);
}

std::chrono::seconds LoginThrottle::Wait(int count) const
{
    if (count < kFreeFailures)
        return std::chrono::seconds(0);
    const int doublings = std::min(count - kFreeFailures, 10);
    return std::min(kLongestWait, kFirstWait * (1 << doublings));
}

bool LoginThrottle::Attempt(const QString& address, SteadyTime now)
{
    const std::lock_guard lock(mutex_);
    const auto found = failures_.find(address);
    if (found != failures_.end() && now - found->last < Wait(found->count))
        return false;
    if (found != failures_.end() && now - found->last > kForgetAfter)
        found->count = 0;
    if (found == failures_.end() && failures_.size() >= kMostThrottledAddresses) {
        // Forgets addresses whose last attempt is long past; the table never grows without bound.
        failures_.removeIf([&](const auto& entry) { return now - entry.value().last > kForgetAfter; });
        if (failures_.size() >= kMostThrottledAddresses)
            failures_.erase(failures_.begin());
    }
    Failures& entry = failures_[address];
    ++entry.count;
    entry.last = now;
    return true;
}

void LoginThrottle::Succeeded(const QString& address)
{
    const std::lock_guard lock(mutex_);
    const auto found = failures_.find(address);
    if (found != failures_.end() && --found->count <= 0)
        failures_.erase(found);
}
