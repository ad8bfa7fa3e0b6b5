#pragma once

#include <QByteArray>
#include <QString>

class CClientBudget;
class CPipeTurns;
class QTcpSocket;

// The transparent side of one client socket on a TCP port: holds the client's bytes kept at the
// close, the duplicate descriptor that keeps a reset client's last bytes readable, and whether
// the client waits in its device's turns or lingers after its close; writes device packets to
// the client and sends its bytes to the device as downlinks.
class CTransparentPipe
{
public:
    // Unsent packet bytes one client of a transparent port may hold; past it the client is closed.
    static constexpr qint64 MaxUnsentPacketBytes = 1024 * 1024;
    // Client bytes of a transparent port carried by one downlink (the largest device packet)...
    static constexpr qint64 MaxDownlinkBytes = 600;
    // ...and downlinks of the port's device that may wait in the link's queue: beyond them client
    // bytes stay in the sockets until the queue has room, and are then taken together.
    static constexpr int MaxWaitingDownlinks = 4;

    // Passes the bytes of `socket`, a client of `port`, to the device `devEui`; its duplicate
    // descriptor counts in `budget`, its turns and lingering in `turns`.
    CTransparentPipe(QTcpSocket &socket, quint16 port, QString devEui, CClientBudget &budget,
                     CPipeTurns &turns);
    ~CTransparentPipe();

    // The socket's readyRead: the bytes go out as the client's turn comes.
    void bytesArrived();
    // Writes a device packet to the client; closes a client that holds too many unsent.
    void sendPacket(const QByteArray &packet);
    // The socket's aboutToClose: its read buffer is taken over; a close of our own drops what the
    // system still holds (counted for the warning).
    void keepReadBytes();
    // The socket's bytesWritten: Qt has written every packet byte, no write can meet a reset now.
    void packetBytesWritten();
    // The socket's disconnected: the client lingers while bytes it sent wait for the link; the
    // socket is deleted once nothing more is to pass on.
    void socketClosed();

private:
    // One downlink of at most MaxDownlinkBytes of the client's bytes. False when the client had no
    // byte to send.
    bool sendDownlink();
    // The client's bytes not yet sent to the device: those kept at the close, those Qt holds and
    // those the system holds for the duplicate descriptor.
    qint64 heldBytes() const;
    // Up to `maxSize` of them, in the order the client sent them.
    QByteArray takeClientBytes(qint64 maxSize);
    // A duplicate of the socket's descriptor while Qt holds packet bytes unsent. A write that meets
    // a client gone with a reset makes Qt close the socket, and the system would drop with it
    // what the client had sent and Qt had not read yet; the duplicate keeps it readable.
    void holdDescriptor();
    void releaseDescriptor();
    qint64 systemBytes() const;
    // Joins the clients of the device that wait for room in the link's queue.
    void waitForTurn();
    // A downlink of the device has left the link's queue: the waiting clients send theirs in turn.
    static void serveWaitingClients(CPipeTurns &turns, const QString &devEui);
    // Deletes the socket once it is disconnected and holds nothing more to pass on.
    void deleteWhenDone();

    QTcpSocket &socket;
    quint16 port = 0;
    QString devEui;
    CClientBudget &budget;
    CPipeTurns &turns;
    bool socketGone = false;
    // Disconnected, the client's last bytes still wait for the link.
    bool lingering = false;
    // In the device's turns.
    bool waitingForTurn = false;
    // What Qt held when the socket closed (at most its read buffer).
    QByteArray keptBytes;
    int keptDescriptor = -1;
    // The socket was closed by this side (not after a failed write), with this many of the
    // client's bytes still in the system's buffer.
    bool closedHere = false;
    qint64 droppedAtClose = 0;
};
