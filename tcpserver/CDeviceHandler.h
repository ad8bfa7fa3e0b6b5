#pragma once

#include "ProtocolOption.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>

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
    // Connections Qt may hold pending while a server accepts (its default).
    static constexpr int MaxPendingWhileAccepting = 30;
    // After an accept failed (no descriptor or memory left, or a client gone before it was
    // taken), the ports try again this often, and at every close of a connection.
    static constexpr int AcceptRetryMs = 1000;
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

    // Client connections of all ports together, each from its acceptance until its socket closes.
    static int openConnections() { return openClients; }
    // At most this many: CDescriptorLimit::connectionBound() less the listening ports, unless a
    // test set another.
    static int connectionBound();
    // Servers listening now: each holds a descriptor.
    static int listeningPorts();
    // Seam for tests: another bound; 0 goes back to the descriptor limit's. Applies from the next
    // acceptance or close.
    static void setConnectionBound(int bound);
    // Accepting resumes once the open connections are down to this: a twentieth of the bound
    // below it (1 to 16), so that a steady crowd of clients does not pause and resume on every
    // close.
    static int resumeThreshold();
    // At the bound no port accepts; further clients wait in the system's listen backlog.
    static bool isAcceptingPaused() { return acceptingPaused; }
    // An accept failed for lack of descriptors or memory, and none has succeeded since: the ports
    // wait and try again every AcceptRetryMs.
    static bool isAcceptingStalled() { return descriptorsExhausted; }
    // A further descriptor a connection holds for a while (a transparent client's duplicate)
    // counts like a connection; refused when it would leave no room below the bound.
    static bool countExtraDescriptor();
    static void uncountExtraDescriptor();

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
    // A counted connection's socket has closed; resumes accepting on every port when due.
    static void connectionClosed();
    // Pauses every port at the bound or resumes them below it; `method` names the caller in the
    // log line. Called whenever the open connections or the listening ports change.
    static void updateAccepting(const char *method);
    // Resumes the ports that a failed accept paused, unless the bound holds them.
    static void retryAccepting();
    static QTimer *acceptRetryTimer();
    // A client waits in this server's listen backlog.
    bool clientWaiting() const;
    // Pausing stops Qt's accept loop at once, also within the turn it is in.
    static void pauseAllServers();
    static void resumeAllServers();
    void pauseThis();
    void resumeThis();
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
    // Qt paused this server after a failed accept.
    bool acceptFailed = false;
    QTimer *retryTimer = nullptr;

    static int newServerTimeoutMs;
    static int newServerRetryMs;
    static SKeepAlive keepAlive;
    static QList<CDeviceHandler *> servers;
    static int openClients;
    static int boundOverride;
    static bool acceptingPaused;
    static bool descriptorsExhausted;
};
