#include "FreePort.h"

#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// The first port the system hands out to connecting sockets (Linux's default elsewhere).
int ephemeralLow()
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const int low
            = QString::fromLatin1(range.readAll()).split(QLatin1Char('\t')).value(0).toInt();
        if (low > 2048)
            return low;
    }
    return 32768;
}

} // namespace

quint16 freePort()
{
    // Below the system's range for connecting sockets: a port taken from that range could become
    // the local port of some client of a test running beside this one before it is listened on.
    static const int low = ephemeralLow();
    const int first = qMax(1024, low - 12000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(first, low));
        if (canListen(port))
            return port;
    }
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}

bool canListen(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, port);
}

bool acceptsConnections(quint16 port)
{
    // The kernel completes the handshake for a listening socket, so a blocking wait is enough.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const bool ok = socket.waitForConnected(5000);
    socket.abort();
    return ok;
}
