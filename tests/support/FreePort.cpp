#include "FreePort.h"

#include <QHostAddress>
#include <QTcpServer>

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}
