#include "web/daemon_options.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>

namespace {

// Handlers block their thread, and with it every connection the thread polls, while they decode a
// recording, check a password or wait for an index connection. Sixteen threads leave most of them free
// while a few such requests run at once; an idle thread costs a stack and nothing else.
constexpr unsigned kThreads = 16;
// An idle connection costs a socket and a few pages: thousands fit in a desk's memory.
constexpr unsigned kMostConnections = 4000;
// An office of a hundred people behind one address, each browser holding six connections.
constexpr unsigned kMostConnectionsPerAddress = 600;
// Descriptors kept for what the server opens itself: recordings, the index, the log, temporary files.
constexpr rlim_t kOwnFiles = 256;
// A client that stops reading an answer (a paused player) keeps its connection this long.
constexpr unsigned kIdleSeconds = 60;
// TLS 1.2 and 1.3 only, with AEAD suites and forward secrecy only, whatever the certificate's key.
const char* const kTlsPriorities =
    "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-CIPHER-ALL:+AES-256-GCM:"
    "+AES-128-GCM:+CHACHA20-POLY1305:-MAC-ALL:+AEAD:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA";

// The connections that fit beside the server's own files once the limit of open files is raised.
unsigned ConnectionsThatFit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return kMostConnections / 4;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return static_cast<unsigned>(std::clamp<rlim_t>(limit.rlim_cur, 2 * kOwnFiles, kMostConnections + kOwnFiles)
                                 - kOwnFiles);
}

} // namespace

MHD_Daemon* StartDaemon(const WebServerOptions& options, const DaemonCallbacks& callbacks)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    address.sin_addr.s_addr = htonl(options.plain ? INADDR_LOOPBACK : INADDR_ANY);
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    if (!options.plain)
        flags |= MHD_USE_TLS;
    MHD_OptionItem tls[] = {
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options.keyPem.constData())},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options.certificatePem.constData())},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)},
        {MHD_OPTION_END, 0, nullptr},
    };
    MHD_OptionItem plain[] = {{MHD_OPTION_END, 0, nullptr}};
    return MHD_start_daemon(
        flags, 0, nullptr, nullptr, callbacks.answer, callbacks.context, MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_URI_LOG_CALLBACK, callbacks.requestStarted, callbacks.context, MHD_OPTION_NOTIFY_COMPLETED,
        callbacks.requestEnded, callbacks.context, MHD_OPTION_NOTIFY_CONNECTION, callbacks.connectionChanged,
        callbacks.context, MHD_OPTION_THREAD_POOL_SIZE, kThreads, MHD_OPTION_CONNECTION_LIMIT, ConnectionsThatFit(),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMostConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
        MHD_OPTION_ARRAY, options.plain ? plain : tls, MHD_OPTION_END);
}
