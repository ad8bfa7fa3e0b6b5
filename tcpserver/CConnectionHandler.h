#pragma once

#include "ModbusFrame.h"
#include "ProtocolOption.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include <cstdint>

// One accepted client of a per-port server: a Modbus-TCP endpoint on a Modbus port, the
// transparent pipe on a TCP port. Deletes itself once the client has disconnected.
class CConnectionHandler : public QTcpSocket
{
    Q_OBJECT
public:
    using SModbusMBAP = ModbusFrame::SModbusMBAP;
    using SModbusTcpPacketHeader = ModbusFrame::SModbusTcpPacketHeader;

    // A Modbus client is served in portions, one per turn of the event loop, so that a client
    // that floods or pipelines cannot hold up the others: at most this many frames per turn, and
    // answers of at most about this many bytes (what an answer costs grows with its size).
    static constexpr int FramesPerTurn = 64;
    static constexpr qsizetype AnswerBytesPerTurn = 2 * 1024;
    // Bytes a Modbus connection lets Qt take from the system's socket buffer (more while a longer
    // frame is begun). Frames stay there until answered, and while a whole frame waits unanswered
    // or an answer unsent, Qt takes nothing more: so the end of a half-closed stream is seen only
    // after the last answer has left, and what a client sends beyond this waits in the system's
    // buffers, slowing the sender down.
    static constexpr qint64 ReadBufferBytes = 16 * 1024;
    // Unsent answer bytes beyond which a Modbus connection takes no further request until the
    // client has taken its answers: a client that stops reading is slowed, not buffered. An honest
    // master has a few answers of at most 255 bytes outstanding.
    static constexpr qint64 PauseUnsentBytes = 4 * 1024;
    // The system's send buffer of every client socket. Left to itself the system lets it grow to
    // megabytes for a client that does not read, and takes answers all along; small, it makes the
    // back-pressure above begin early. Far above what a master has outstanding.
    static constexpr int SocketSendBufferBytes = 64 * 1024;
    // Unsent packet bytes one client of a transparent port may hold; past it the client is closed.
    static constexpr qint64 MaxUnsentPacketBytes = 1024 * 1024;
    // Client bytes of a transparent port carried by one downlink (the largest device packet)...
    static constexpr qint64 MaxDownlinkBytes = 600;
    // ...and downlinks of the port's device that may wait in the link's queue: beyond them client
    // bytes stay in the sockets until the queue has room, and are then taken together.
    static constexpr int MaxWaitingDownlinks = 4;
    // Transparent clients gone with bytes still to pass on wait for the link at most this many at
    // a time (each holds at most MaxDownlinkBytes * MaxWaitingDownlinks).
    static constexpr int MaxLingeringConnections = 64;

    // Adds itself to `ownerList`, the connection list of `owner`; the list is touched only while
    // `owner` is alive.
    CConnectionHandler(quint16 port, ProtocolOption kind, QString devEui,
                       QList<CConnectionHandler *> *ownerList, QObject *owner);
    ~CConnectionHandler() override;

    bool setSocketDescriptor(qintptr socketDescriptor, SocketState state = ConnectedState,
                             OpenMode openMode = ReadWrite) override;

    void sendTCPDataToSocket(QByteArray packet);

    // Registers the argument types of the slots below.
    static void registerMetaTypes();

protected slots:
    void readyReadSlot();
    void incomingTCPDataHandler();
    void disconnectedSlot();

protected:
    Q_INVOKABLE QByteArray getAnswerDataSlot(CConnectionHandler::SModbusMBAP _mbap,
                                             CConnectionHandler::SModbusTcpPacketHeader _header,
                                             QMap<uint16_t, uint16_t> _data);

private:
    // One portion of a Modbus client's bytes: peeks what it needs, answers up to FramesPerTurn
    // frames, takes their bytes from the socket and asks for another turn while work is left.
    void servePortion();
    // Sends one answer; false when the client holds too many unsent bytes (the connection pauses).
    bool sendAnswer(const QByteArray &answer);
    // Lets Qt read on, or keeps it from reading while a whole frame waits, an answer is unsent or
    // the connection is paused; queues the next portion when one is due.
    void settleReading();
    void bytesWrittenSlot();
    // Transparent port: one downlink of at most MaxDownlinkBytes of the client's bytes.
    // False when the client had no byte to send.
    bool sendDownlink();
    // The client's bytes not yet sent to the device: those kept at the close, those Qt holds and
    // those the system holds for the duplicate descriptor.
    qint64 heldBytes() const;
    // Up to `maxSize` of them, in the order the client sent them.
    QByteArray takeClientBytes(qint64 maxSize);
    // Before the socket closes, its read buffer is taken over; a close of our own drops what the
    // system still holds (counted for the warning).
    void keepReadBytes();
    // Qt has written every packet byte: no write can meet a reset now.
    void packetBytesWritten();
    // A duplicate of the socket's descriptor while Qt holds packet bytes unsent. A write that meets
    // a client gone with a reset makes Qt close the socket, and the system would drop with it
    // what the client had sent and Qt had not read yet; the duplicate keeps it readable.
    void holdDescriptor();
    void releaseDescriptor();
    qint64 systemBytes() const;
    // Joins the clients of the device that wait for room in the link's queue.
    void waitForTurn();
    // A downlink of the device has left the link's queue: the waiting clients send theirs in turn.
    static void serveWaitingClients(const QString &devEui);
    // Deletes the connection once it is disconnected and holds nothing more to pass on.
    void deleteWhenDone();

    static int lingeringConnections;
    // Per DevEUI, the transparent clients with bytes that wait for room in the link's queue.
    static QHash<QString, QList<CConnectionHandler *>> waitingClients;

    quint16 port = 0;
    // Modbus: a copy of the unanswered bytes at the start of the socket's read buffer (they are
    // taken from the socket only once answered).
    QByteArray buffer;
    QString devEui;
    QList<CConnectionHandler *> *ownerList = nullptr;
    QPointer<QObject> owner;
    ProtocolOption kind = ProtocolModbus;
    // A queued call of servePortion() is on its way.
    bool portionQueued = false;
    // The client holds more than PauseUnsentBytes of answers: nothing is served until it reads.
    bool paused = false;
    // A pause stopped a portion before the end of `buffer`.
    bool stepsLeft = false;
    // Bytes of answered frames left at the start of the socket's read buffer while Qt holds
    // answers unsent (0 or 1).
    qint64 heldBack = 0;
    bool socketGone = false;
    // Disconnected, a transparent client's last bytes still wait for the link.
    bool lingering = false;
    // In waitingClients.
    bool waitingForTurn = false;
    // Transparent: what Qt held when the socket closed (at most its read buffer).
    QByteArray keptBytes;
    int keptDescriptor = -1;
    // The socket was closed by this side (not after a failed write), with this many of the
    // client's bytes still in the system's buffer.
    bool closedHere = false;
    qint64 droppedAtClose = 0;
};
