#include "FreePort.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

quint16 freePort()
{
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
