#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <chrono>
#include <mutex>
#include <optional>

using SteadyTime = std::chrono::steady_clock::time_point;

struct WebSession {
    QString account;
    QByteArray passwordStamp; // the account's at the login (AccountStore::StateOf)
    QByteArray csrfToken;     // sent with every change; 256 random bits, hex
    SteadyTime lastUse;
};

// The logged-in sessions, by their token (256 random bits, hex, the cookie's value). A session unused
// for longer than the idle timeout is gone. An account holds at most kMostSessionsPerAccount sessions: a
// new one ends that account's session unused longest, so that one person logging in again and again
// never ends a colleague's session. Safe to use from several threads at once.
class SessionTable {
public:
    static constexpr qsizetype kMostSessionsPerAccount = 20;

    explicit SessionTable(std::chrono::seconds idleTimeout) : idleTimeout_(idleTimeout) {}
    // Starts a session for the account; its token.
    QByteArray Start(const QString& account, const QByteArray& passwordStamp, SteadyTime now);
    // The session of the token, its last use moved to now; nothing for an unknown or idle one.
    std::optional<WebSession> Use(const QByteArray& token, SteadyTime now);
    void End(const QByteArray& token);

private:
    void MakeRoom(const QString& account, SteadyTime now);
    void DropLeastUsed(const QString& account);

    const std::chrono::seconds idleTimeout_;
    std::mutex mutex_;
    QHash<QByteArray, WebSession> sessions_;
};

// Refuses logins after repeated wrong passwords, counted for each name from each address: the first
// few failures are free, then each further attempt at that name from that address waits twice as long
// as the one before, up to a quarter of an hour. A colleague's typos on another name, from the same
// address, block nobody else; an address's failures over all names are counted too, with a far higher
// number free, which still stops one address trying many names. Failures are forgotten an hour after
// the last attempt, not by a successful login: a login to one's own account between guesses at
// another must not start the count again. Safe to use from several threads at once.
class LoginThrottle {
public:
    // Zero when the attempt at the name from the address may be checked: it is then counted as failed
    // until Uncount takes it back, so that attempts sent at once are counted too. Otherwise how long
    // the address must wait before trying that name again (the attempt is neither checked nor counted).
    std::chrono::seconds Attempt(const QString& address, const QString& name, SteadyTime now);
    // Takes back the count of the last attempt at the name from the address: it was right, or it was
    // never checked.
    void Uncount(const QString& address, const QString& name);

private:
    struct Failures {
        int count = 0;
        SteadyTime last;
    };
    using FailureTable = QHash<QString, Failures>;
    static std::chrono::seconds WaitLeft(const FailureTable& table, const QString& key, int freeFailures,
                                         SteadyTime now);
    static void Count(FailureTable& table, const QString& key, SteadyTime now);
    static void TakeBack(FailureTable& table, const QString& key);

    std::mutex mutex_;
    FailureTable byName_; // by address and name
    FailureTable byAddress_;
};

// A stable name of the session of `token` that reveals nothing of it: 16 hexadecimal digits of its SHA-256.
QByteArray SessionId(const QByteArray& token);
// 256 random bits as 64 hexadecimal digits.
QByteArray RandomToken();
// Compares two secrets in a time that does not depend on where they differ.
bool SameSecret(const QByteArray& first, const QByteArray& second);
