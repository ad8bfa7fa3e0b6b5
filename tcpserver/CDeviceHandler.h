#pragma once

#include "ProtocolOption.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class CClientBudget;
class CConnectionHandler;
class QTimer;

// The TCP server of one device port: listens on all addresses, keeps the DevEUIs served there
// and hands every accepted client to a CConnectionHandler of the port's kind.
class CDeviceHandler : public QTcpServer
{
    Q_OBJECT
public:
    // Reassembly time-out of a transparent device packet.
    static constexpr int WaitingTimeoutMs = 90000;
    // Largest transparent device packet sent to the clients.
    static constexpr int MaxPacketSize = 600;
    // TCP keep-alive of every accepted client: a master gone without closing (power loss, a
    // pulled cable, a NAT that forgot it) is dropped after idle + probes * interval, 2 minutes.
    static constexpr int KeepAliveIdleSeconds = 60;
    static constexpr int KeepAliveIntervalSeconds = 10;
    static constexpr int KeepAliveProbes = 6;
    // A port that cannot be listened on is tried again at this period until it can.
    static constexpr int ListenRetryPeriodMs = 60000;

    struct SKeepAlive
    {
        int idleSeconds = KeepAliveIdleSeconds;
        int intervalSeconds = KeepAliveIntervalSeconds;
        int probes = KeepAliveProbes;
        // TCP_USER_TIMEOUT: sent bytes unacknowledged (or a receive window kept closed) for as
        // long as keep-alive takes drop the client too; keep-alive sends no probe meanwhile.
        int userTimeoutMs() const { return (idleSeconds + intervalSeconds * probes) * 1000; }
    };

    // Seam for tests: the reassembly time-out of servers made from now on (WaitingTimeoutMs
    // unless changed).
    static void setWaitingTimeoutForNewServers(int milliseconds);
    static int waitingTimeoutForNewServers() { return newServerTimeoutMs; }
    // Seam for tests: the listen retry period of servers made from now on (ListenRetryPeriodMs
    // unless changed).
    static void setListenRetryPeriodForNewServers(int milliseconds);
    static int listenRetryPeriodForNewServers() { return newServerRetryMs; }
    // Seam for tests: the keep-alive of clients accepted from now on.
    static void setKeepAliveForNewConnections(const SKeepAlive &keepAlive);

    CDeviceHandler(quint16 port, ProtocolOption kind, QString devEui);
    ~CDeviceHandler() override;

    // Moves the server to another port, dropping every client; false, with a warning line, when
    // the new port cannot be listened on: the server then stays on its port with its clients.
    bool appendDevice(quint16 newPort);
    // One chunk of a transparent device packet with its TcpChunkWord; the completed packet goes
    // to every client. Dropped when no client is connected.
    void sendTCPData(QByteArray chunk, quint32 chunkWord);

    const QStringList &getServedDevices() const { return servedDevices; }
    quint16 getPort() const { return port; }
    ProtocolOption getKind() const { return kind; }
    // Clients connected now.
    int connectionCount() const { return int(connections.size()); }
    const QList<CConnectionHandler *> &getConnections() const { return connections; }
    // Bytes of the packet under reassembly.
    qsizetype pendingBytes() const { return buffer.size(); }

public slots:
    void appendDevice(QString _devEui);
    void removeDevice(QString _devEui);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void waitingTimeout();
    // Qt pauses a server whose accept failed; it is resumed by the retry.
    void acceptErrorSlot(QAbstractSocket::SocketError error);

private:
    // Closes every client connection.
    void dropConnections();
    // Listens on `port` on every address. The first failure is logged and printed with its
    // reason, and the port is then tried again at the retry period until it can be listened on,
    // which is logged too.
    void listenOnPort();
    bool listenAt(quint16 at);
    void appendChunk(const QByteArray &chunk);
    quint16 port = 0;
    QStringList servedDevices;
    QList<CConnectionHandler *> connections;
    QString devEui;
    ProtocolOption kind = ProtocolModbus;
    QByteArray buffer;
    QTimer *timer = nullptr;
    QTimer *retryTimer = nullptr;
    // Shared with every device server and handed to each connection.
    CClientBudget *budget = nullptr;

    static int newServerTimeoutMs;
    static int newServerRetryMs;
    static SKeepAlive keepAlive;
};
