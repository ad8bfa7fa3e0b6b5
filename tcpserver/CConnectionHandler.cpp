#include "CConnectionHandler.h"

#include "CClientBudget.h"
#include "CModbusSession.h"
#include "CTransparentPipe.h"

#include <QDebug>
#include <QMetaType>

CConnectionHandler::CConnectionHandler(quint16 port, ProtocolOption kind, QString devEui,
                                       QList<CConnectionHandler *> *ownerList_, QObject *owner_,
                                       CClientBudget &budget)
    : ownerList(ownerList_), owner(owner_)
{
    registerMetaTypes();
    if (owner && ownerList)
        ownerList->append(this);
    if (kind == ProtocolModbus) {
        modbus = std::make_unique<CModbusSession>(*this, port);
        connect(this, &QIODevice::readyRead, this, &CConnectionHandler::readyReadSlot);
        connect(this, &QIODevice::bytesWritten, this, &CConnectionHandler::bytesWrittenSlot);
    } else if (kind == ProtocolTCP) {
        pipe = std::make_unique<CTransparentPipe>(*this, port, std::move(devEui), budget,
                                                  budget.turns());
        connect(this, &QIODevice::readyRead, this, &CConnectionHandler::incomingTCPDataHandler);
        connect(this, &QIODevice::aboutToClose, this, &CConnectionHandler::aboutToCloseSlot);
        connect(this, &QIODevice::bytesWritten, this, &CConnectionHandler::bytesWrittenSlot);
    }
    connect(this, &QAbstractSocket::disconnected, this, &CConnectionHandler::disconnectedSlot);
}

CConnectionHandler::~CConnectionHandler()
{
    // The socket's own destructor may still close it; nothing of this class may run then.
    disconnect(this, nullptr, this, nullptr);
    pipe.reset();
    modbus.reset();
    // The server may be gone already (deleted after its last device while clients stayed).
    if (owner && ownerList)
        ownerList->removeAll(this);
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
    if (modbus)
        modbus->bytesArrived();
}

void CConnectionHandler::bytesWrittenSlot()
{
    if (modbus)
        modbus->bytesWritten();
    else if (pipe)
        pipe->packetBytesWritten();
}

QByteArray CConnectionHandler::getAnswerDataSlot(CConnectionHandler::SModbusMBAP _mbap,
                                                 CConnectionHandler::SModbusTcpPacketHeader _header,
                                                 QMap<uint16_t, uint16_t> _data)
{
    return ModbusFrame::readAnswer(_mbap, _header, _data);
}

void CConnectionHandler::incomingTCPDataHandler()
{
    if (pipe)
        pipe->bytesArrived();
}

void CConnectionHandler::sendTCPDataToSocket(QByteArray packet)
{
    if (pipe)
        pipe->sendPacket(packet);
}

void CConnectionHandler::aboutToCloseSlot()
{
    if (pipe)
        pipe->keepReadBytes();
}

void CConnectionHandler::disconnectedSlot()
{
    // No longer a client of the port, though bytes it sent may still wait for the link.
    if (owner && ownerList)
        ownerList->removeAll(this);
    // A transparent client is deleted by its pipe once its bytes have passed on.
    if (pipe)
        pipe->socketClosed();
    else
        deleteLater();
}
