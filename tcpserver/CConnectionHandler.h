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
#include <memory>

class CClientBudget;
class CModbusSession;
class CTransparentPipe;

// One accepted client of a per-port server: holds its place in the server's connection list and
// the one protocol object of its port's kind, a Modbus session on a Modbus port, the transparent
// pipe on a TCP port, to which it hands its bytes and socket events. Deletes itself once the
// client has disconnected (a transparent client once its last bytes are passed on).
class CConnectionHandler : public QTcpSocket
{
    Q_OBJECT
public:
    using SModbusMBAP = ModbusFrame::SModbusMBAP;
    using SModbusTcpPacketHeader = ModbusFrame::SModbusTcpPacketHeader;

    // The system's send buffer of every client socket. Left to itself the system lets it grow to
    // megabytes for a client that does not read, and takes answers all along; small, it makes the
    // back-pressure of a Modbus session begin early. Far above what a master has outstanding.
    static constexpr int SocketSendBufferBytes = 64 * 1024;

    // Adds itself to `ownerList`, the connection list of `owner`; the list is touched only while
    // `owner` is alive. A transparent client counts its duplicate descriptor in `budget` and takes
    // its turns in the budget's pipe turns.
    CConnectionHandler(quint16 port, ProtocolOption kind, QString devEui,
                       QList<CConnectionHandler *> *ownerList, QObject *owner,
                       CClientBudget &budget);
    ~CConnectionHandler() override;

    bool setSocketDescriptor(qintptr socketDescriptor, SocketState state = ConnectedState,
                             OpenMode openMode = ReadWrite) override;

    // Transparent port: writes a device packet to the client.
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
    void bytesWrittenSlot();
    void aboutToCloseSlot();

    QList<CConnectionHandler *> *ownerList = nullptr;
    QPointer<QObject> owner;
    // Exactly one of them on a Modbus or a TCP port.
    std::unique_ptr<CModbusSession> modbus;
    std::unique_ptr<CTransparentPipe> pipe;
};
