#pragma once

#include "web/account_store.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>

// One request as the server hands it to a route's handler, after its session (and, for a change, its CSRF
// token) were checked. Handlers run on the server's threads, several at once: they keep no shared state
// without a lock.
struct WebRequest {
    QByteArray method;                       // "GET", "HEAD" or "POST"
    QString path;                            // percent-decoded, e.g. "/api/search"
    QList<QPair<QString, QString>> query;    // decoded query parameters in order
    QList<QPair<QString, QString>> form;     // decoded application/x-www-form-urlencoded body
    QByteArray range;                        // the Range header as sent; empty when none
    QString address;                         // the client's address, for the access log
    QString account;                         // the session's account; empty on public routes
    QByteArray session;                      // a stable id of the session that reveals nothing of its token
    WebRole role = WebRole::Listen;
};

// A body read piece by piece (a recording decoded on the fly); called from one server thread at a time.
class WebBodySource {
public:
    virtual ~WebBodySource() = default;
    // Copies up to `size` bytes of the body from `offset` into `buffer`: the count, 0 at the end, -1 on failure.
    virtual qint64 Read(qint64 offset, char* buffer, qint64 size) = 0;
};

struct WebResponse {
    int status = 200;
    QByteArray contentType;                          // e.g. "application/json; charset=utf-8"
    QList<QPair<QByteArray, QByteArray>> headers;    // extra headers: Content-Range, Content-Disposition...
    QByteArray body;                                 // the whole body, or:
    std::shared_ptr<WebBodySource> source;           // a body of sourceSize bytes read piece by piece
    qint64 sourceSize = 0;
};

// What the server dispatches: requests with this method whose path equals `path`, or starts with it when
// `path` ends in '/', from a session whose role is at least `minimumRole`. Routes with `changesData` need
// the session's CSRF token (form field or header "X-CSRF-Token"). The server adds the security headers
// (Content-Security-Policy, X-Content-Type-Options: nosniff, ...) to every response itself.
struct WebRoute {
    QByteArray method;
    QString path;
    WebRole minimumRole = WebRole::Listen;
    bool changesData = false;
    std::function<WebResponse(const WebRequest&)> handle;
};
