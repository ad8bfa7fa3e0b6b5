#include "CDeviceHandler.h"

#include "CConnectionHandler.h"

#include <QDebug>
#include <QHostAddress>
#include <QTimer>

CDeviceHandler::CDeviceHandler(quint16 port_, ProtocolOption kind_, QString devEui_)
    : port(port_), devEui(std::move(devEui_)), kind(kind_)
{
    // A port that cannot be bound leaves the server accepting nothing.
    listen(QHostAddress::Any, port);
    timer = new QTimer;
    timer->setInterval(WaitingTimeoutMs);
    timer->setSingleShot(false);
    connect(timer, &QTimer::timeout, this, &CDeviceHandler::waitingTimeout);
}

CDeviceHandler::~CDeviceHandler()
{
    delete timer;
    // Each connection deletes itself once disconnected and then leaves this list alone.
    const QList<CConnectionHandler *> open = connections;
    for (CConnectionHandler *connection : open)
        connection->close();
    close();
    connections.clear();
}

void CDeviceHandler::appendDevice(QString _devEui)
{
    if (servedDevices.contains(_devEui)) {
        qDebug().noquote() << QStringLiteral(
                                  "[CDeviceHandler::appendDevice] Device [%1] already exist!")
                                  .arg(_devEui);
        return;
    }
    servedDevices.append(_devEui);
}

void CDeviceHandler::removeDevice(QString _devEui)
{
    servedDevices.removeAll(_devEui);
}

void CDeviceHandler::appendDevice(quint16 newPort)
{
    if (newPort == port) {
        qDebug().noquote()
            << QStringLiteral("[CDeviceHandler::appendDevice] Port [%1] is listening!").arg(port);
        return;
    }
    port = newPort;
    if (!connections.isEmpty()) {
        const QList<CConnectionHandler *> open = connections;
        for (CConnectionHandler *connection : open)
            connection->close();
        connections.clear();
    }
    close();
    listen(QHostAddress::Any, port);
}

void CDeviceHandler::incomingConnection(qintptr socketDescriptor)
{
    if (socketDescriptor <= 0)
        return;
    auto *connection = new CConnectionHandler(port, kind, devEui, &connections, this);
    if (!connection->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                         QIODevice::ReadWrite)) {
        connection->deleteLater();
        return;
    }
    // Masters poll with small requests; answers must not wait for Nagle.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void CDeviceHandler::sendTCPData(QByteArray chunk, quint32 chunkWord)
{
    // The transparent pipe fills this (reassembly of a device packet for the port's clients).
    Q_UNUSED(chunk)
    Q_UNUSED(chunkWord)
}

void CDeviceHandler::waitingTimeout()
{
    // The transparent pipe fills this (a packet not completed in time is discarded).
}
