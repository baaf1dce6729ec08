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
// for longer than the idle timeout is gone. Safe to use from several threads at once.
class SessionTable {
public:
    explicit SessionTable(std::chrono::seconds idleTimeout) : idleTimeout_(idleTimeout) {}
    // Starts a session for the account; its token.
    QByteArray Start(const QString& account, const QByteArray& passwordStamp, SteadyTime now);
    // The session of the token, its last use moved to now; nothing for an unknown or idle one.
    std::optional<WebSession> Use(const QByteArray& token, SteadyTime now);
    void End(const QByteArray& token);

private:
    void DropOldest();

    const std::chrono::seconds idleTimeout_;
    std::mutex mutex_;
    QHash<QByteArray, WebSession> sessions_;
};

// Refuses logins from an address after repeated wrong passwords: the first few failures are free,
// then each further attempt waits twice as long as the one before, up to a quarter of an hour. An
// address's failures are forgotten an hour after its last attempt, not by a successful login: a
// colleague's own login between guesses at another account must not start the count again.
// Safe to use from several threads at once.
class LoginThrottle {
public:
    // Counts an attempt from the address as failed until Succeeded takes it back, so that attempts
    // sent at once are counted too; false when the address must wait (the attempt is then not checked
    // and not counted).
    bool Attempt(const QString& address, SteadyTime now);
    // Takes back the count of the address's last attempt, which was right.
    void Succeeded(const QString& address);

private:
    struct Failures {
        int count = 0;
        SteadyTime last;
    };
    std::chrono::seconds Wait(int count) const;

    std::mutex mutex_;
    QHash<QString, Failures> failures_;
};

// 256 random bits as 64 hexadecimal digits.
QByteArray RandomToken();
// Compares two secrets in a time that does not depend on where they differ.
bool SameSecret(const QByteArray& first, const QByteArray& second);
