#include "CTransparentPipe.h"

#include "CClientBudget.h"
#include "CLogFile.h"
#include "CPipeTurns.h"
#include "CServerHandler.h"

#include <QMetaObject>
#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

CTransparentPipe::CTransparentPipe(QTcpSocket &socket_, quint16 port_, QString devEui_,
                                   CClientBudget &budget_, CPipeTurns &turns_)
    : socket(socket_), port(port_), devEui(std::move(devEui_)), budget(budget_), turns(turns_)
{
    // What the link cannot take yet stays in the system's buffers, not in Qt's.
    socket.setReadBufferSize(MaxDownlinkBytes * MaxWaitingDownlinks);
    if (!turns.isLinked()) {
        turns.setLinked();
        CServerHandler *link = CServerHandler::getInstance();
        QObject::connect(
            link, &CServerHandler::downlinkTaken, &turns,
            [turns = &turns](const QString &devEui) { serveWaitingClients(*turns, devEui); });
    }
}

CTransparentPipe::~CTransparentPipe()
{
    releaseDescriptor();
    if (lingering)
        turns.stopLingering();
    if (waitingForTurn)
        turns.leave(devEui, this);
}

void CTransparentPipe::bytesArrived()
{
    // With no other client waiting, at once.
    waitForTurn();
    serveWaitingClients(turns, devEui);
}

void CTransparentPipe::waitForTurn()
{
    if (waitingForTurn || heldBytes() == 0)
        return;
    turns.join(devEui, this);
    waitingForTurn = true;
}

void CTransparentPipe::serveWaitingClients(CPipeTurns &turns, const QString &devEui)
{
    CServerHandler *link = CServerHandler::getInstance();
    // One downlink per client in turn, so a client that keeps sending cannot hold up the others.
    turns.serve(
        devEui, [&] { return link->waitingDownlinks(devEui) < MaxWaitingDownlinks; },
        [](CTransparentPipe *client) {
            // A client that gave nothing this turn leaves the turns until it has bytes again (a
            // readyRead), so the loop always ends.
            if (client->sendDownlink() && client->heldBytes() > 0)
                return true;
            client->waitingForTurn = false;
            client->deleteWhenDone();
            return false;
        });
}

bool CTransparentPipe::sendDownlink()
{
    const QByteArray data = takeClientBytes(MaxDownlinkBytes);
    if (data.isEmpty())
        return false;
    const QByteArray hex = data.toHex();
    addLog(QStringLiteral("INFO: [CDeviceHandler::incomingTCPDataHandler] Recived data [%1] from a "
                          "TCP socket from a port %2.")
               .arg(QString::fromLatin1(hex), QString::number(port)));
    CServerHandler::getInstance()->sendData(devEui, QByteArrayLiteral("04") + hex);
    return true;
}

void CTransparentPipe::sendPacket(const QByteArray &packet)
{
    const qint64 unsent = socket.bytesToWrite() + packet.size();
    if (unsent > MaxUnsentPacketBytes) {
        addLog(QStringLiteral("WARNING: [CDeviceHandler::sendTCPDataToSocket] A TCP client in port "
                              "%1 does not read: %2 bytes would wait unsent. Close connection...")
                   .arg(port)
                   .arg(unsent));
        socket.abort();
        return;
    }
    addLog(QStringLiteral("INFO: [CDeviceHandler::sendTCPDataToSocket] Send data [%1] for a TCP "
                          "socket in port %2.")
               .arg(QString::fromUtf8(packet), QString::number(port)));
    holdDescriptor();
    socket.write(packet);
    // Only while Qt holds packet bytes unsent (an empty packet leaves nothing, and no
    // bytesWritten follows).
    if (socket.bytesToWrite() == 0)
        releaseDescriptor();
}

qint64 CTransparentPipe::heldBytes() const
{
    // What the system holds is read through the duplicate only once the socket is gone; before,
    // Qt reads it itself.
    return keptBytes.size() + socket.bytesAvailable() + (socketGone ? systemBytes() : 0);
}

QByteArray CTransparentPipe::takeClientBytes(qint64 maxSize)
{
    QByteArray data = keptBytes.left(maxSize);
    keptBytes.remove(0, data.size());
    if (data.size() < maxSize && socket.isOpen())
        data += socket.read(maxSize - data.size());
#ifdef Q_OS_UNIX
    // Only once the socket is gone: until then Qt reads the system's buffer itself.
    if (data.size() < maxSize && socketGone && keptDescriptor >= 0) {
        const qsizetype had = data.size();
        data.resize(maxSize);
        const ssize_t taken
            = ::recv(keptDescriptor, data.data() + had, size_t(maxSize - had), MSG_DONTWAIT);
        data.resize(had + qMax<qsizetype>(0, taken));
        if (taken <= 0 || systemBytes() == 0)
            releaseDescriptor();
    }
#endif
    return data;
}

void CTransparentPipe::keepReadBytes()
{
    // Qt drops its read buffer right after this signal.
    keptBytes += socket.readAll();
    if (socket.state() == QAbstractSocket::UnconnectedState)
        return;
    if (!socket.isValid()) {
        // Qt closes the socket after a failed write; without the duplicate the system has dropped
        // the rest.
        if (keptDescriptor < 0) {
            addLog(
                QStringLiteral("WARNING: [CDeviceHandler::keepReadBytes] A TCP client in port %1 "
                               "was reset while a packet was written to it. Bytes it sent "
                               "beyond the %2 kept may be lost.")
                    .arg(port)
                    .arg(keptBytes.size()));
        }
        return;
    }
    closedHere = true;
#ifdef Q_OS_UNIX
    int unread = 0;
    if (::ioctl(int(socket.socketDescriptor()), FIONREAD, &unread) == 0)
        droppedAtClose = unread;
#endif
}

void CTransparentPipe::packetBytesWritten()
{
    if (socket.bytesToWrite() == 0 && !socketGone)
        releaseDescriptor();
}

void CTransparentPipe::holdDescriptor()
{
#ifdef Q_OS_UNIX
    if (keptDescriptor >= 0 || socket.state() != QAbstractSocket::ConnectedState
        || socket.socketDescriptor() < 0)
        return;
    // Counted against the connection bound, so that descriptors are never exhausted.
    if (!budget.countExtraDescriptor())
        return;
    keptDescriptor = ::fcntl(int(socket.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (keptDescriptor < 0)
        budget.uncountExtraDescriptor();
#endif
}

void CTransparentPipe::releaseDescriptor()
{
#ifdef Q_OS_UNIX
    if (keptDescriptor >= 0) {
        ::close(keptDescriptor);
        budget.uncountExtraDescriptor();
    }
#endif
    keptDescriptor = -1;
}

qint64 CTransparentPipe::systemBytes() const
{
#ifdef Q_OS_UNIX
    int unread = 0;
    if (keptDescriptor >= 0 && ::ioctl(keptDescriptor, FIONREAD, &unread) == 0)
        return unread;
#endif
    return 0;
}

void CTransparentPipe::socketClosed()
{
    socketGone = true;
    // After a reset the duplicate keeps what the system holds; a close of our own has dropped it,
    // the client is told so.
    if (closedHere || systemBytes() == 0)
        releaseDescriptor();
    if (droppedAtClose > 0) {
        addLog(QStringLiteral("WARNING: [CDeviceHandler::disconnectedSlot] A TCP client in "
                              "port %1 was closed with %2 bytes it had sent not yet read. "
                              "Data discarded.")
                   .arg(port)
                   .arg(droppedAtClose));
    }
    const qint64 held = heldBytes();
    if (held > 0 && turns.startLingering()) {
        lingering = true;
        // Bytes the system held for the duplicate came with no readyRead: they wait in turn too,
        // and are served at once when the link is idle.
        if (!waitingForTurn) {
            waitForTurn();
            QMetaObject::invokeMethod(
                &socket, [turns = &turns, devEui = devEui] { serveWaitingClients(*turns, devEui); },
                Qt::QueuedConnection);
        }
    } else if (held > 0) {
        addLog(QStringLiteral("WARNING: [CDeviceHandler::disconnectedSlot] A TCP client in "
                              "port %1 closed with %2 bytes not yet sent to the device, and "
                              "too many closed clients wait already. Data discarded.")
                   .arg(port)
                   .arg(held));
        keptBytes.clear();
        releaseDescriptor();
        if (socket.isOpen())
            socket.skip(socket.bytesAvailable());
    }
    deleteWhenDone();
}

void CTransparentPipe::deleteWhenDone()
{
    if (!socketGone || (lingering && heldBytes() > 0))
        return;
    if (lingering) {
        lingering = false;
        turns.stopLingering();
    }
    releaseDescriptor();
    // The connection, and this pipe with it.
    socket.deleteLater();
}
