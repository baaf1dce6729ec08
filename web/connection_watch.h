#pragma once

#include <QHash>
#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Cuts connections that hold the server without asking anything of it: one that has not sent its whole
// request header within the header time of opening (or of its previous answer), and one whose body then
// arrives at less than kLeastBodyRate once the header time has passed again. A connection is cut by
// shutting its socket down, which the server's threads then see as the client's end. The server tells
// the watch what each connection does; a thread of the watch's own looks twice a second. Safe to use
// from several threads at once.
class ConnectionWatch {
public:
    static constexpr qint64 kLeastBodyRate = 1024; // bytes a second

    explicit ConnectionWatch(std::chrono::milliseconds headerTime);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

    void Opened(const void* connection, int socket);
    void HeaderIn(const void* connection); // its request's header is whole
    void BodyIn(const void* connection, qint64 bytes);
    void Answering(const void* connection); // its request is whole: no more limits until it is answered
    void Answered(const void* connection);  // waits for its next request
    void Closed(const void* connection);    // before its socket is closed

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Header, Body, Answer };
    struct Watched {
        int socket = -1;
        Phase phase = Phase::Header;
        Clock::time_point since;
        qint64 received = 0;
    };
    bool Late(const Watched& watched, Clock::time_point now) const;
    void Sweep();
    void Set(const void* connection, Phase phase);

    const std::chrono::milliseconds headerTime_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    QHash<const void*, Watched> connections_;
    std::thread sweeper_;
};
