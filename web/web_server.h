#pragma once

#include "platform/result.h"
#include "web/web_request.h"

#include <QByteArray>
#include <QList>
#include <chrono>
#include <memory>

class AccessLog;
class AccountStore;

struct WebServerOptions {
    quint16 port = 0;   // 0: a free port, see WebServer::Port
    bool plain = false; // plain HTTP, bound to 127.0.0.1 only; else HTTPS on every address
    QByteArray certificatePem;
    QByteArray keyPem;
    std::chrono::seconds idleTimeout{30 * 60}; // of a session
    // A connection has this long to send its whole request header (from its opening or its previous
    // answer), and as long again to start a body, which must then keep coming at a least rate.
    std::chrono::milliseconds requestHeaderTime{std::chrono::seconds(10)};
    // Password checks run at once (each takes tens of megabytes for a fraction of a second), and how
    // long a login waits for one: past that it is answered 503, so that a burst of logins holds none
    // of the pool's threads for long.
    int passwordChecksAtOnce = 2;
    std::chrono::milliseconds passwordCheckWait{std::chrono::seconds(2)};
};

// The HTTP(S) server of the web page (libmicrohttpd: a fixed pool of threads, each polling its share
// of the connections, so that idle connections cost no thread). It answers the login
// and logout pages and the session's own API itself (GET /login, POST /login, POST /logout,
// GET /api/session) and hands every other request, once its session, role and CSRF token are checked,
// to the route that matches it.
class WebServer {
public:
    WebServer(WebServerOptions options, AccountStore& accounts, AccessLog& log, QList<WebRoute> routes);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    Result<void> Start();
    quint16 Port() const; // the port listened on once started
    // Stops listening and waits for the requests being answered.
    void Stop();

    struct State;

private:
    std::unique_ptr<State> state_;
};
