#include "CConnectionHandler.h"

#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "CLogFile.h"
#include "CServerHandler.h"
#include "HexText.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QMetaType>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

int CConnectionHandler::lingeringConnections = 0;
QHash<QString, QList<CConnectionHandler *>> CConnectionHandler::waitingClients;

CConnectionHandler::CConnectionHandler(quint16 port_, ProtocolOption kind_, QString devEui_,
                                       QList<CConnectionHandler *> *ownerList_, QObject *owner_)
    : port(port_), devEui(std::move(devEui_)), ownerList(ownerList_), owner(owner_), kind(kind_)
{
    registerMetaTypes();
    if (owner && ownerList)
        ownerList->append(this);
    if (kind == ProtocolModbus) {
        setReadBufferSize(ReadBufferBytes);
        connect(this, &QIODevice::readyRead, this, &CConnectionHandler::readyReadSlot);
        connect(this, &QIODevice::bytesWritten, this, &CConnectionHandler::bytesWrittenSlot);
    } else if (kind == ProtocolTCP) {
        // What the link cannot take yet stays in the system's buffers, not in Qt's.
        setReadBufferSize(MaxDownlinkBytes * MaxWaitingDownlinks);
        connect(this, &QIODevice::readyRead, this, &CConnectionHandler::incomingTCPDataHandler);
        connect(this, &QIODevice::aboutToClose, this, &CConnectionHandler::keepReadBytes);
        connect(this, &QIODevice::bytesWritten, this, &CConnectionHandler::packetBytesWritten);
        static const bool servingInTurn = [] {
            CServerHandler *link = CServerHandler::getInstance();
            return bool(QObject::connect(link, &CServerHandler::downlinkTaken, link,
                                         &CConnectionHandler::serveWaitingClients));
        }();
        Q_UNUSED(servingInTurn)
    }
    connect(this, &QAbstractSocket::disconnected, this, &CConnectionHandler::disconnectedSlot);
}

CConnectionHandler::~CConnectionHandler()
{
    // The socket's own destructor may still close it; nothing of this class may run then.
    disconnect(this, nullptr, this, nullptr);
    releaseDescriptor();
    // The server may be gone already (deleted after its last device while clients stayed).
    if (owner && ownerList)
        ownerList->removeAll(this);
    if (lingering)
        --lingeringConnections;
    if (waitingForTurn) {
        const auto waiting = waitingClients.find(devEui);
        if (waiting != waitingClients.end() && waiting->removeAll(this) > 0 && waiting->isEmpty())
            waitingClients.erase(waiting);
    }
    qDebug() << "Destructor CConnectionHandler::CConnectionHandler has been called";
}

void CConnectionHandler::registerMetaTypes()
{
    qRegisterMetaType<CConnectionHandler::SModbusMBAP>("CConnectionHandler::SModbusMBAP");
    qRegisterMetaType<CConnectionHandler::SModbusTcpPacketHeader>(
        "CConnectionHandler::SModbusTcpPacketHeader");
    qRegisterMetaType<QMap<uint16_t, uint16_t>>("QMap<uint16_t,uint16_t>");
}

bool CConnectionHandler::setSocketDescriptor(qintptr socketDescriptor, SocketState state,
                                             OpenMode openMode)
{
    return QAbstractSocket::setSocketDescriptor(socketDescriptor, state, openMode);
}

void CConnectionHandler::readyReadSlot()
{
    // A queued portion takes the new bytes when its turn comes.
    if (!portionQueued)
        servePortion();
}

void CConnectionHandler::servePortion()
{
    portionQueued = false;
    if (state() != ConnectedState || paused)
        return;
    // A portion stopped by a pause goes on with what it left before new bytes are looked at, so
    // that the log lines keep their order.
    if (!stepsLeft && !ModbusFrame::hasWholeFrame(buffer)) {
        // The frames stay in the socket until answered: peek at them.
        const qint64 wanted = qMin(bytesAvailable() - heldBack,
                                   qMax<qint64>(ReadBufferBytes, ModbusFrame::frameSize(buffer)));
        if (wanted <= buffer.size()) {
            settleReading();
            return;
        }
        buffer = peek(heldBack + wanted);
        buffer.remove(0, heldBack);
        const bool logging = CLogFile::isEnabled();
        if (logging || QLoggingCategory::defaultCategory()->isDebugEnabled()) {
            // A request is at most 260 bytes; of a longer backlog only the start is shown, so a
            // client that drips a huge declared frame cannot flood the log with the same bytes.
            constexpr qsizetype MaxLoggedBytes = 260;
            const QString hex = buffer.size() > MaxLoggedBytes
                                    ? hexText(buffer.left(MaxLoggedBytes)) + QStringLiteral("...")
                                    : hexText(buffer);
            qDebug().noquote() << "REQ: " << hex;
            if (logging)
                addLog(QStringLiteral("INFO: [CConnectionHandler] REQ: < %1 >").arg(hex));
        }
    }

    const ModbusFrame::RegisterSource source
        = [this](quint16 startAddr, quint16 quantity, bool *ok) {
              CDataBaseHandler *storage = CDataBaseHandler::getInstance();
              if (!storage) {
                  *ok = false;
                  return DB::RegisterImage();
              }
              return storage->getRegisterData(port, startAddr, quantity, ok);
          };
    const qsizetype before = buffer.size();
    ModbusFrame::takeFrames(
        buffer, source,
        [this](const ModbusFrame::SFrameStep &step) {
            switch (step.kind) {
            case ModbusFrame::SFrameStep::Answer:
                return sendAnswer(step.answer);
            case ModbusFrame::SFrameStep::IncompleteMbap:
                addLog(QStringLiteral(
                    "[CConnectionHandler] Incomplete packet [1]. Wait for continue..."));
                break;
            case ModbusFrame::SFrameStep::IncompleteFrame:
                addLog(QStringLiteral(
                    "[CConnectionHandler] Incomplete packet [2]. Wait for continue..."));
                break;
            case ModbusFrame::SFrameStep::ShortFrame:
                addLog(
                    QStringLiteral("[CConnectionHandler] Incomplete packet [3]. Clear buffer..."));
                break;
            }
            return true;
        },
        FramesPerTurn, AnswerBytesPerTurn);
    // Only now are the answered frames taken from the socket; while Qt holds answers unsent, the
    // last byte of them stays, so that Qt's read buffer is never empty and the end of a half-closed
    // stream is not read (which would drop the unsent answers).
    const qint64 answered = heldBack + (before - buffer.size());
    const qint64 keep = answered > 0 && bytesToWrite() > 0 ? 1 : 0;
    skip(answered - keep);
    heldBack = keep;
    stepsLeft = paused && !buffer.isEmpty();
    settleReading();
}

void CConnectionHandler::settleReading()
{
    if (state() != ConnectedState)
        return;
    const qint64 held = bytesAvailable();
    // Unpeeked bytes may hold whole frames as well.
    const bool framesWaiting
        = stepsLeft || ModbusFrame::hasWholeFrame(buffer) || held - heldBack > buffer.size();
    if (paused || framesWaiting || heldBack > 0) {
        // A full read buffer keeps Qt from reading on (0 would mean no limit at all).
        setReadBufferSize(qMax<qint64>(held, 1));
    } else {
        setReadBufferSize(qMax<qint64>(ReadBufferBytes, ModbusFrame::frameSize(buffer)));
    }
    // The rest waits behind what other connections and the log have queued meanwhile.
    if (framesWaiting && !paused && !portionQueued) {
        portionQueued = true;
        QMetaObject::invokeMethod(this, &CConnectionHandler::servePortion, Qt::QueuedConnection);
    }
}

void CConnectionHandler::bytesWrittenSlot()
{
    // Resumed once the client has taken its answers (Qt holds nothing unsent).
    if ((!paused && heldBack == 0) || bytesToWrite() > 0 || state() != ConnectedState)
        return;
    paused = false;
    skip(heldBack);
    heldBack = 0;
    settleReading();
}

bool CConnectionHandler::sendAnswer(const QByteArray &answer)
{
    qint64 sent = 0;
#if defined(Q_OS_UNIX) && defined(MSG_NOSIGNAL)
    // While Qt holds nothing unsent the answer goes straight to the socket, which spares
    // switching the write notifier on and off for every answer.
    if (bytesToWrite() == 0) {
        const ssize_t taken = ::send(int(socketDescriptor()), answer.constData(),
                                     size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (taken > 0)
            sent = taken;
    }
#endif
    // Never waits: Qt keeps what the client has not taken yet (and reports a failed socket).
    if (sent < answer.size()) {
        write(answer.constData() + sent, answer.size() - sent);
        flush();
    }
    if (CLogFile::isEnabled())
        addLog(QStringLiteral("INFO: [CConnectionHandler] ANS: < %1 >").arg(hexText(answer)));
    if (bytesToWrite() <= PauseUnsentBytes)
        return true;
    paused = true;
    return false;
}

QByteArray CConnectionHandler::getAnswerDataSlot(CConnectionHandler::SModbusMBAP _mbap,
                                                 CConnectionHandler::SModbusTcpPacketHeader _header,
                                                 QMap<uint16_t, uint16_t> _data)
{
    return ModbusFrame::readAnswer(_mbap, _header, _data);
}

void CConnectionHandler::incomingTCPDataHandler()
{
    // The bytes go out as the client's turn comes; with no other client waiting, at once.
    waitForTurn();
    serveWaitingClients(devEui);
}

void CConnectionHandler::waitForTurn()
{
    if (waitingForTurn || heldBytes() == 0)
        return;
    waitingClients[devEui].append(this);
    waitingForTurn = true;
}

void CConnectionHandler::serveWaitingClients(const QString &devEui)
{
    const auto waiting = waitingClients.find(devEui);
    if (waiting == waitingClients.end())
        return;
    CServerHandler *link = CServerHandler::getInstance();
    // One downlink per client in turn, so a client that keeps sending cannot hold up the others.
    while (!waiting->isEmpty() && link->waitingDownlinks(devEui) < MaxWaitingDownlinks) {
        CConnectionHandler *client = waiting->takeFirst();
        // A client that gave nothing this turn leaves the turns until it has bytes again (a
        // readyRead), so the loop always ends.
        if (client->sendDownlink() && client->heldBytes() > 0) {
            waiting->append(client);
        } else {
            client->waitingForTurn = false;
            client->deleteWhenDone();
        }
    }
    if (waiting->isEmpty())
        waitingClients.erase(waiting);
}

bool CConnectionHandler::sendDownlink()
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

void CConnectionHandler::sendTCPDataToSocket(QByteArray packet)
{
    const qint64 unsent = bytesToWrite() + packet.size();
    if (unsent > MaxUnsentPacketBytes) {
        addLog(QStringLiteral("WARNING: [CDeviceHandler::sendTCPDataToSocket] A TCP client in port "
                              "%1 does not read: %2 bytes would wait unsent. Close connection...")
                   .arg(port)
                   .arg(unsent));
        abort();
        return;
    }
    addLog(QStringLiteral("INFO: [CDeviceHandler::sendTCPDataToSocket] Send data [%1] for a TCP "
                          "socket in port %2.")
               .arg(QString::fromUtf8(packet), QString::number(port)));
    holdDescriptor();
    write(packet);
    // Only while Qt holds packet bytes unsent (an empty packet leaves nothing, and no
    // bytesWritten follows).
    if (bytesToWrite() == 0)
        releaseDescriptor();
}

qint64 CConnectionHandler::heldBytes() const
{
    // What the system holds is read through the duplicate only once the socket is gone; before,
    // Qt reads it itself.
    return keptBytes.size() + bytesAvailable() + (socketGone ? systemBytes() : 0);
}

QByteArray CConnectionHandler::takeClientBytes(qint64 maxSize)
{
    QByteArray data = keptBytes.left(maxSize);
    keptBytes.remove(0, data.size());
    if (data.size() < maxSize && isOpen())
        data += read(maxSize - data.size());
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

void CConnectionHandler::keepReadBytes()
{
    // Qt drops its read buffer right after this signal.
    keptBytes += readAll();
    if (state() == UnconnectedState)
        return;
    if (!isValid()) {
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
    if (::ioctl(int(socketDescriptor()), FIONREAD, &unread) == 0)
        droppedAtClose = unread;
#endif
}

void CConnectionHandler::packetBytesWritten()
{
    if (bytesToWrite() == 0 && !socketGone)
        releaseDescriptor();
}

void CConnectionHandler::holdDescriptor()
{
#ifdef Q_OS_UNIX
    if (keptDescriptor >= 0 || state() != ConnectedState || socketDescriptor() < 0)
        return;
    // Counted against the connection bound, so that descriptors are never exhausted.
    if (!CDeviceHandler::countExtraDescriptor())
        return;
    keptDescriptor = ::fcntl(int(socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (keptDescriptor < 0)
        CDeviceHandler::uncountExtraDescriptor();
#endif
}

void CConnectionHandler::releaseDescriptor()
{
#ifdef Q_OS_UNIX
    if (keptDescriptor >= 0) {
        ::close(keptDescriptor);
        CDeviceHandler::uncountExtraDescriptor();
    }
#endif
    keptDescriptor = -1;
}

qint64 CConnectionHandler::systemBytes() const
{
#ifdef Q_OS_UNIX
    int unread = 0;
    if (keptDescriptor >= 0 && ::ioctl(keptDescriptor, FIONREAD, &unread) == 0)
        return unread;
#endif
    return 0;
}

void CConnectionHandler::disconnectedSlot()
{
    // No longer a client of the port, though bytes it sent may still wait for the link.
    if (owner && ownerList)
        ownerList->removeAll(this);
    socketGone = true;
    if (kind == ProtocolTCP) {
        // After a reset the duplicate keeps what the system holds; a close of our own has dropped
        // it, the client is told so.
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
        if (held > 0 && lingeringConnections < MaxLingeringConnections) {
            ++lingeringConnections;
            lingering = true;
            // Bytes the system held for the duplicate came with no readyRead: they wait in turn
            // too, and are served at once when the link is idle.
            if (!waitingForTurn) {
                waitForTurn();
                QMetaObject::invokeMethod(
                    this, [devEui = devEui] { serveWaitingClients(devEui); }, Qt::QueuedConnection);
            }
        } else if (held > 0) {
            addLog(QStringLiteral("WARNING: [CDeviceHandler::disconnectedSlot] A TCP client in "
                                  "port %1 closed with %2 bytes not yet sent to the device, and "
                                  "too many closed clients wait already. Data discarded.")
                       .arg(port)
                       .arg(held));
            keptBytes.clear();
            releaseDescriptor();
            if (isOpen())
                skip(bytesAvailable());
        }
    }
    deleteWhenDone();
}

void CConnectionHandler::deleteWhenDone()
{
    if (!socketGone || (lingering && heldBytes() > 0))
        return;
    if (lingering) {
        lingering = false;
        --lingeringConnections;
    }
    releaseDescriptor();
    deleteLater();
}
