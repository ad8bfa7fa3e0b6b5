#include "StallingTcpProxy.h"

#include <QTcpSocket>

StallingTcpProxy::StallingTcpProxy(const QHostAddress &_targetAddress, quint16 _targetPort,
                                   QObject *parent)
    : QObject(parent), targetAddress(_targetAddress), targetPort(_targetPort)
{
    connect(&server, &QTcpServer::newConnection, this, &StallingTcpProxy::accept);
    connect(&trickleTimer, &QTimer::timeout, this, &StallingTcpProxy::trickle);
    server.listen(QHostAddress::LocalHost, 0);
}

StallingTcpProxy::~StallingTcpProxy()
{
    // The sockets go first and quietly: an abort in their destructors would call back here.
    for (const std::unique_ptr<Pair> &pair : pairs) {
        for (QTcpSocket *socket : {pair->client, pair->target}) {
            socket->disconnect(this);
            delete socket;
        }
    }
}

qint64 StallingTcpProxy::heldBytes() const
{
    qint64 held = 0;
    for (const std::unique_ptr<Pair> &pair : pairs) {
        if (pair->stalled & ToTarget)
            held += pair->client->bytesAvailable();
        if ((pair->stalled & ToClient) || trickleBytes > 0)
            held += pair->target->bytesAvailable();
    }
    return held;
}

void StallingTcpProxy::stall(Direction directions)
{
    stalledNew = directions;
    for (const std::unique_ptr<Pair> &pair : pairs)
        pair->stalled = directions;
}

void StallingTcpProxy::stallOpenConnections()
{
    for (const std::unique_ptr<Pair> &pair : pairs)
        pair->stalled = BothWays;
}

void StallingTcpProxy::resume()
{
    stalledNew = 0;
    for (const std::unique_ptr<Pair> &pair : pairs) {
        pair->stalled = 0;
        forward(*pair);
    }
}

void StallingTcpProxy::trickleToClient(qint64 bytes, int intervalMs)
{
    trickleBytes = bytes;
    if (bytes > 0) {
        trickleTimer.start(intervalMs);
    } else {
        trickleTimer.stop();
        resume();
    }
}

void StallingTcpProxy::trickle()
{
    for (const std::unique_ptr<Pair> &pair : pairs) {
        if (!(pair->stalled & ToClient))
            pass(pair->target, pair->client, trickleBytes);
    }
}

void StallingTcpProxy::accept()
{
    while (QTcpSocket *client = server.nextPendingConnection()) {
        auto pair = std::make_unique<Pair>();
        pair->client = client;
        pair->target = new QTcpSocket(this);
        pair->stalled = stalledNew;
        const Pair *p = pair.get();
        for (QTcpSocket *socket : {p->client, p->target}) {
            connect(socket, &QTcpSocket::readyRead, this, [this, p]() { forward(*p); });
            connect(socket, &QTcpSocket::disconnected, this, [this, p]() { forward(*p); });
        }
        connect(p->target, &QTcpSocket::connected, this, [this, p]() { forward(*p); });
        connect(p->target, &QTcpSocket::errorOccurred, this, [this, p]() { forward(*p); });
        pairs.push_back(std::move(pair));
        p->target->connectToHost(targetAddress, targetPort);
    }
}

void StallingTcpProxy::forward(const Pair &pair)
{
    if (!(pair.stalled & ToTarget))
        pass(pair.client, pair.target);
    if (!(pair.stalled & ToClient) && trickleBytes == 0)
        pass(pair.target, pair.client);
}

void StallingTcpProxy::pass(QTcpSocket *from, QTcpSocket *to, qint64 most)
{
    if (to->state() != QAbstractSocket::ConnectedState)
        return;
    if (from->bytesAvailable() > 0)
        to->write(most < 0 ? from->readAll() : from->read(most));
    // An end that has closed closes the other once all it sent has been passed on.
    if (from->state() == QAbstractSocket::UnconnectedState && from->bytesAvailable() == 0)
        to->disconnectFromHost();
}
