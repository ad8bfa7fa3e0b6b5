#include "CDeviceHandler.h"

#include "CClientBudget.h"
#include "CConnectionHandler.h"
#include "CLogFile.h"
#include "HexText.h"
#include "TcpChunkWord.h"

#include <QDebug>
#include <QHostAddress>
#include <QTimer>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

int CDeviceHandler::newServerTimeoutMs = CDeviceHandler::WaitingTimeoutMs;
int CDeviceHandler::newServerRetryMs = CDeviceHandler::ListenRetryPeriodMs;
CDeviceHandler::SKeepAlive CDeviceHandler::keepAlive;

void CDeviceHandler::setWaitingTimeoutForNewServers(int milliseconds)
{
    newServerTimeoutMs = milliseconds;
}

void CDeviceHandler::setListenRetryPeriodForNewServers(int milliseconds)
{
    newServerRetryMs = milliseconds;
}

void CDeviceHandler::setKeepAliveForNewConnections(const SKeepAlive &keepAlive_)
{
    keepAlive = keepAlive_;
}

CDeviceHandler::CDeviceHandler(quint16 port_, ProtocolOption kind_, QString devEui_)
    : port(port_), devEui(std::move(devEui_)), kind(kind_), budget(&CClientBudget::shared())
{
    budget->addServer(this);
    connect(this, &QTcpServer::acceptError, this, &CDeviceHandler::acceptErrorSlot);
    retryTimer = new QTimer(this);
    retryTimer->setInterval(newServerRetryMs);
    connect(retryTimer, &QTimer::timeout, this, &CDeviceHandler::listenOnPort);
    listenOnPort();
    timer = new QTimer;
    timer->setInterval(newServerTimeoutMs);
    timer->setSingleShot(false);
    connect(timer, &QTimer::timeout, this, &CDeviceHandler::waitingTimeout);
}

CDeviceHandler::~CDeviceHandler()
{
    budget->removeServer(this);
    delete timer;
    dropConnections();
    close();
    // One listening port less leaves room for a client more.
    budget->updateAccepting("~CDeviceHandler");
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

bool CDeviceHandler::appendDevice(quint16 newPort)
{
    if (newPort == port) {
        qDebug().noquote()
            << QStringLiteral("[CDeviceHandler::appendDevice] Port [%1] is listening!").arg(port);
        return false;
    }
    // Tried aside first, so that a port that cannot be listened on leaves the old one as it was.
    QTcpServer trial;
    bool moved = trial.listen(QHostAddress::Any, newPort);
    QString reason = trial.errorString();
    trial.close();
    if (moved) {
        const bool wasListening = isListening();
        close();
        moved = listenAt(newPort);
        if (!moved) {
            // Taken by another program in between.
            reason = errorString();
            if (wasListening)
                listenOnPort();
        }
        // One listening port less, where none listens now.
        if (!isListening())
            budget->updateAccepting("appendDevice");
        // The clients waiting on the old port are gone.
        budget->endStallWithoutClients();
    }
    if (!moved) {
        addLogAndPrint(QStringLiteral("WARNING: [CDeviceHandler::appendDevice] Port %1 can't be "
                                      "listened on: %2. The server stays on port %3 with its "
                                      "clients.")
                           .arg(newPort)
                           .arg(reason)
                           .arg(port));
        return false;
    }
    port = newPort;
    retryTimer->stop();
    // A packet under reassembly ends with the move.
    buffer.clear();
    timer->stop();
    dropConnections();
    return true;
}

void CDeviceHandler::dropConnections()
{
    // Each connection deletes itself once disconnected and then leaves this list alone.
    const QList<CConnectionHandler *> open = connections;
    for (CConnectionHandler *connection : open) {
        // A closing socket waits until the client has taken what is unsent: one that does not
        // read would keep it for ever.
        if (connection->bytesToWrite() > 0)
            connection->abort();
        else
            connection->close();
    }
    connections.clear();
}

void CDeviceHandler::listenOnPort()
{
    const bool retrying = retryTimer->isActive();
    if (listenAt(port)) {
        if (!retrying)
            return;
        retryTimer->stop();
        addLogAndPrint(QStringLiteral("INFO: [CDeviceHandler::listenOnPort] Port %1 is listened on "
                                      "now: clients can reach the devices of this port.")
                           .arg(port));
        return;
    }
    // Said once; the port is tried again silently until it is free.
    if (retrying)
        return;
    // The server then accepts nothing; the operator must learn why no client can connect.
    addLogAndPrint(QStringLiteral("WARNING: [CDeviceHandler::listenOnPort] Port %1 can't be "
                                  "listened on: %2. No client can reach the devices of this port!")
                       .arg(port)
                       .arg(errorString()));
    retryTimer->start();
}

bool CDeviceHandler::listenAt(quint16 at)
{
    if (!listen(QHostAddress::Any, at)) {
        // Qt keeps the socket it could not bind; closed, a waiting server holds no descriptor and
        // has no notifier. errorString() keeps the reason.
        close();
        return false;
    }
    // A port opened while the bound is reached waits like the others; its descriptor makes the
    // bound one less.
    if (budget->isAcceptingPaused())
        CClientBudget::pause(this);
    budget->updateAccepting("listenOnPort");
    return true;
}

void CDeviceHandler::incomingConnection(qintptr socketDescriptor)
{
    if (socketDescriptor <= 0)
        return;
    budget->clientAccepted(port);
    auto *connection = new CConnectionHandler(port, kind, devEui, &connections, this, *budget);
    if (!connection->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                         QIODevice::ReadWrite)) {
#ifdef Q_OS_UNIX
        // Not taken by the socket: it would stay open for ever.
        ::close(int(socketDescriptor));
#endif
        connection->deleteLater();
        return;
    }
    budget->countConnection(connection);

    // Masters poll with small requests; answers must not wait for Nagle.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connection->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption,
                                CConnectionHandler::SocketSendBufferBytes);
    connection->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_UNIX
    const int fd = int(socketDescriptor);
#ifdef TCP_KEEPIDLE
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &keepAlive.idleSeconds, sizeof(int));
#endif
#ifdef TCP_KEEPINTVL
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &keepAlive.intervalSeconds, sizeof(int));
#endif
#ifdef TCP_KEEPCNT
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &keepAlive.probes, sizeof(int));
#endif
#ifdef TCP_USER_TIMEOUT
    // Keep-alive probes only an idle connection: a client gone while answers wait unacknowledged
    // would otherwise be held until the system gives up retransmitting, a quarter of an hour.
    const unsigned int userTimeout = unsigned(keepAlive.userTimeoutMs());
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof(userTimeout));
#endif
#endif

    budget->updateAccepting("incomingConnection");
}

void CDeviceHandler::acceptErrorSlot(QAbstractSocket::SocketError)
{
    // Qt has paused this server, and nothing else would resume it. The reason is that of the
    // accept, which Qt's own reporting has not touched since.
    budget->acceptError(this, port, errno);
}

void CDeviceHandler::sendTCPData(QByteArray chunk, quint32 chunkWord)
{
    if (connections.isEmpty())
        return;
    const quint8 current = TcpChunkWord::number(chunkWord);
    const quint8 count = TcpChunkWord::count(chunkWord);
    const quint16 total = TcpChunkWord::total(chunkWord);
    qDebug().noquote() << QStringLiteral("[CDeviceHandler::sendTCPData] Build data [%1] for "
                                         "sending to TCP port. Current number pkt -[%2] total "
                                         "number pkt -[%3]")
                              .arg(hexText(chunk), QString::number(current),
                                   QString::number(count));
    timer->start();

    if (current > count)
        return;
    if (current < count) {
        // Appended as they come: order, gaps and repeats show only in the size test.
        appendChunk(chunk);
        return;
    }

    timer->stop();
    appendChunk(chunk);
    if (buffer.size() > MaxPacketSize) {
        addLog(QStringLiteral("ERROR: [CDeviceHandler::sendTCPData] Package size from device %1 "
                              "is exceeded! The maximum size should be no more than 600 bytes.")
                   .arg(devEui));
    } else if (buffer.size() != total) {
        addLog(QStringLiteral("ERROR: [CDeviceHandler::sendTCPData] Package from device %1 has "
                              "been damaged or lost! Total packet size is [%2], received packet "
                              "size is [%3]. Data discarded.")
                   .arg(devEui, QString::number(total), QString::number(buffer.size())));
    } else {
        const QList<CConnectionHandler *> clients = connections;
        for (CConnectionHandler *connection : clients)
            connection->sendTCPDataToSocket(buffer);
    }
    buffer.clear();
}

void CDeviceHandler::appendChunk(const QByteArray &chunk)
{
    // A packet past the limit is refused at its last chunk anyway: keep only one byte over it,
    // so a device that never ends its packet cannot make the buffer grow.
    const qsizetype room = qMax<qsizetype>(0, MaxPacketSize + 1 - buffer.size());
    buffer.append(chunk.left(room));
}

void CDeviceHandler::waitingTimeout()
{
    addLog(QStringLiteral("ERROR: [CDeviceHandler::waitingTimeout] Package from device %1 has been "
                          "damaged or lost! Waiting timeout. Data discarded.")
               .arg(devEui));
    buffer.clear();
    timer->stop();
}
