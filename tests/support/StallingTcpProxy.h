#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <memory>
#include <vector>

class QTcpSocket;

// A TCP proxy on 127.0.0.1 and a free port that forwards each connection to a target. It can
// stall: forwarding stops while every socket stays open, as behind a NAT that has dropped its
// mapping or before a server host that has lost power, so that neither end learns of it.
class StallingTcpProxy : public QObject
{
    Q_OBJECT
public:
    enum Direction { ToTarget = 0x1, ToClient = 0x2, BothWays = ToTarget | ToClient };

    StallingTcpProxy(const QHostAddress &targetAddress, quint16 targetPort,
                     QObject *parent = nullptr);
    ~StallingTcpProxy() override;

    bool isListening() const { return server.isListening(); }
    quint16 port() const { return server.serverPort(); }
    // Connections accepted since the start.
    int connectionCount() const { return int(pairs.size()); }
    // Bytes that arrived in a stalled or trickled direction and wait there.
    qint64 heldBytes() const;

    // Stops forwarding in these directions on every connection, later ones included, until
    // resume(). What arrives is held, and a closed end is not passed on.
    void stall(Direction directions = BothWays);
    // Stops forwarding both ways on the connections open now; later ones are forwarded.
    void stallOpenConnections();
    // Forwards again: first what was held, then the closes that came meanwhile.
    void resume();
    // Passes what the target sends to the client at most `bytes` every `intervalMs`, as over a
    // slow link; 0 bytes forwards at once again.
    void trickleToClient(qint64 bytes, int intervalMs);

private:
    struct Pair
    {
        QTcpSocket *client = nullptr; // a child of the server
        QTcpSocket *target = nullptr; // a child of the proxy
        int stalled = 0;
    };

    void accept();
    void forward(const Pair &pair);
    static void pass(QTcpSocket *from, QTcpSocket *to, qint64 most = -1);
    void trickle();

    QHostAddress targetAddress;
    quint16 targetPort = 0;
    int stalledNew = 0;
    qint64 trickleBytes = 0;
    QTimer trickleTimer;
    QTcpServer server;
    std::vector<std::unique_ptr<Pair>> pairs;
};
