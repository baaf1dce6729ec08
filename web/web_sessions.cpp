#include "web/web_sessions.h"

#include <algorithm>
#include <sodium.h>

namespace {

constexpr qsizetype kMostSessions = 1000;
constexpr qsizetype kMostThrottled = 10000; // entries in each table of failures
constexpr qsizetype kLongestThrottledName = 64;
constexpr int kFreeFailuresOfAName = 5;
// An office behind one address: a hundred typos an hour among its people before the address waits.
constexpr int kFreeFailuresOfAnAddress = 100;
constexpr std::chrono::seconds kFirstWait{30};
constexpr std::chrono::seconds kLongestWait{15 * 60};
constexpr std::chrono::seconds kForgetAfter{60 * 60};

std::chrono::seconds Wait(int count, int freeFailures)
{
    if (count < freeFailures)
        return std::chrono::seconds(0);
    const int doublings = std::min(count - freeFailures, 10);
    return std::min(kLongestWait, kFirstWait * (1 << doublings));
}

QString NameKey(const QString& address, const QString& name)
{
    return address + u'\n' + name.left(kLongestThrottledName);
}

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

QByteArray SessionId(const QByteArray& token)
{
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(token.constData()),
                       static_cast<unsigned long long>(token.size()));
    return QByteArray(reinterpret_cast<const char*>(hash), 8).toHex();
}

QByteArray SessionTable::Start(const QString& account, const QByteArray& passwordStamp, SteadyTime now)
{
    const QByteArray token = RandomToken();
    const std::lock_guard lock(mutex_);
    MakeRoom(account, now);
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

// Makes room for a new session of the account: its own session unused longest goes when it holds its
// most; when the table is full, idle sessions go, and only then the one unused longest of anyone's.
void SessionTable::MakeRoom(const QString& account, SteadyTime now)
{
    const auto own = std::count_if(sessions_.cbegin(), sessions_.cend(),
                                   [&](const WebSession& session) { return session.account == account; });
    if (own >= kMostSessionsPerAccount)
        DropLeastUsed(account);
    if (sessions_.size() < kMostSessions)
        return;
    sessions_.removeIf([&](const auto& entry) { return now - entry.value().lastUse > idleTimeout_; });
    if (sessions_.size() >= kMostSessions)
        DropLeastUsed({});
}

// The session of the account (of anyone's for none) unused for the longest time goes.
void SessionTable::DropLeastUsed(const QString& account)
{
    auto oldest = sessions_.end();
    for (auto session = sessions_.begin(); session != sessions_.end(); ++session) {
        if ((account.isEmpty() || session->account == account)
            && (oldest == sessions_.end() || session->lastUse < oldest->lastUse))
            oldest = session;
    }
    if (oldest != sessions_.end())
        sessions_.erase(oldest);
}

std::chrono::seconds LoginThrottle::WaitLeft(const FailureTable& table, const QString& key, int freeFailures,
                                             SteadyTime now)
{
    const auto found = table.constFind(key);
    if (found == table.cend() || now - found->last > kForgetAfter)
        return std::chrono::seconds(0);
    const auto left = Wait(found->count, freeFailures) - (now - found->last);
    return std::max(std::chrono::ceil<std::chrono::seconds>(left), std::chrono::seconds(0));
}

void LoginThrottle::Count(FailureTable& table, const QString& key, SteadyTime now)
{
    if (!table.contains(key) && table.size() >= kMostThrottled) {
        // Forgets entries whose last attempt is long past; the table never grows without bound.
        table.removeIf([&](const auto& entry) { return now - entry.value().last > kForgetAfter; });
        if (table.size() >= kMostThrottled)
            table.erase(table.begin());
    }
    Failures& entry = table[key];
    if (now - entry.last > kForgetAfter)
        entry.count = 0;
    ++entry.count;
    entry.last = now;
}

void LoginThrottle::TakeBack(FailureTable& table, const QString& key)
{
    const auto found = table.find(key);
    if (found != table.end() && --found->count <= 0)
        table.erase(found);
}

std::chrono::seconds LoginThrottle::Attempt(const QString& address, const QString& name, SteadyTime now)
{
    const QString key = NameKey(address, name);
    const std::lock_guard lock(mutex_);
    const std::chrono::seconds wait = std::max(WaitLeft(byName_, key, kFreeFailuresOfAName, now),
                                               WaitLeft(byAddress_, address, kFreeFailuresOfAnAddress, now));
    if (wait > std::chrono::seconds(0))
        return wait;
    Count(byName_, key, now);
    Count(byAddress_, address, now);
    return std::chrono::seconds(0);
}

void LoginThrottle::Uncount(const QString& address, const QString& name)
{
    const std::lock_guard lock(mutex_);
    TakeBack(byName_, NameKey(address, name));
    TakeBack(byAddress_, address);
}
