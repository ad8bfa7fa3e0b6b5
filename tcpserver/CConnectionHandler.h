#pragma once

#include "ModbusFrame.h"
#include "ProtocolOption.h"

#include <QByteArray>
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

    // Answers waiting to be sent beyond this make the connection close (a client that stopped
    // reading must not make the gateway buffer without end).
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;
    // A Modbus client is served in portions, one per turn of the event loop, so that a client
    // that floods or pipelines cannot hold up the others: at most this many frames per turn...
    static constexpr int FramesPerTurn = 64;
    // ...and, while no whole frame waits, at most this many bytes taken from the socket (more
    // when the frame begun is longer). Bytes the socket holds beyond ReadBufferBytes stay in the
    // system's socket buffer, which slows the sender down.
    static constexpr qsizetype ReadBytesPerTurn = 16 * 1024;
    static constexpr qint64 ReadBufferBytes = 64 * 1024;

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
    // One portion of a Modbus client's bytes: reads what it needs, answers up to FramesPerTurn
    // frames and asks for another turn while work is left.
    void servePortion();
    // Sends one answer; false when the connection was closed for unsent data.
    bool sendAnswer(const QByteArray &answer);

    quint16 port = 0;
    QByteArray buffer;
    QString devEui;
    QList<CConnectionHandler *> *ownerList = nullptr;
    QPointer<QObject> owner;
    // A queued call of servePortion() is on its way.
    bool portionQueued = false;
};
