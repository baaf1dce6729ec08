#pragma once

#include "index/index_settings.h"
#include "platform/unique_fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

// A database server that does not answer: a port on this machine that takes connections and
// never says a word, so that a client waits for its whole timeout. Listens until the returned
// descriptor closes; port is set to where it listens. Nothing valid when no port can be had.
inline UniqueFd SilentServer(int& port)
{
    UniqueFd listening(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listening.valid() || ::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listening.get(), 8) != 0
        || ::getsockname(listening.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return UniqueFd();
    port = ntohs(address.sin_port);
    return listening;
}

// The archive index on a PostgreSQL server at port, as the settings file would name it.
inline IndexLocation PostgresIndexAt(int port)
{
    IndexLocation location;
    location.driver = QStringLiteral("QPSQL");
    location.host = QStringLiteral("127.0.0.1");
    location.port = port;
    location.database = QStringLiteral("sdvoice");
    return location;
}
