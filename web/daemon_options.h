#pragma once

#include "web/web_server.h"

#include <microhttpd.h>

// What the daemon calls, all with the same context.
struct DaemonCallbacks {
    MHD_AccessHandlerCallback answer;
    void* (*requestStarted)(void* context, const char* uri, MHD_Connection* connection);
    MHD_RequestCompletedCallback requestEnded;
    MHD_NotifyConnectionCallback connectionChanged;
    void* context;
};

// Starts libmicrohttpd's daemon as the options ask: a fixed pool of threads each polling its share of
// the connections with epoll, bounded connections, TLS 1.2 and 1.3 with AEAD suites only. Raises the
// process's limit of open files to its hard limit first, so that thousands of connections fit.
// Null when the daemon cannot start (the port is taken, the certificate or key cannot be used).
MHD_Daemon* StartDaemon(const WebServerOptions& options, const DaemonCallbacks& callbacks);
