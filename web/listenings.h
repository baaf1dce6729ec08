#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <map>
#include <mutex>
#include <utility>

// Who is listening to what: the audio of one recording fetched by one session, range after range
// as the browser plays and seeks, is one listening until the session has asked for none of it
// for half an hour.
class Listenings {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kSameListening{30};

    // True when this fetch starts a listening; the fetch is remembered either way.
    bool Starts(const QByteArray& session, const QString& recording, Clock::time_point now = Clock::now());
    // Forgets the listening again (its entry could not be written).
    void Forget(const QByteArray& session, const QString& recording);

private:
    std::mutex mutex_;
    std::map<std::pair<QByteArray, QString>, Clock::time_point> lastFetched_;
};
