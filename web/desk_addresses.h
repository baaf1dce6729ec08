#pragma once

#include <QStringList>

// The addresses colleagues type to reach this desk's web page: "https://ADDRESS:PORT/" for every
// IPv4 address of a network interface that is up and not the loopback, in the interfaces' order.
QStringList DeskAddresses(int port);
