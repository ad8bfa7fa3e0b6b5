#include "CConnectionHandler.h"
#include "CDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "QuietTraces.h"
#include "TempWorkDir.h"

#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// The bound of client connections over all ports: at it no port accepts and further clients wait
// in the listen backlog until connections close; accepted sockets carry TCP keep-alive. The bound
// is set small through its seam; the real descriptor limit is tried in the whole-program test.
class tst_Descriptors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void boundOverAllPorts_data();
    void boundOverAllPorts();
    void keepAliveOnAcceptedSockets_data();
    void keepAliveOnAcceptedSockets();

private:
    std::unique_ptr<QuietTraces> quiet;
    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::vector<std::unique_ptr<CDeviceHandler>> servers;
};

namespace {

const QString DevEui = QStringLiteral("70B3D5E75E000091");
const QString BoundLine = QStringLiteral("WARNING: [CDeviceHandler::incomingConnection]");
const QString ResumeLine = QStringLiteral("INFO: [CDeviceHandler::connectionClosed]");
// Function 3 for one register at 100.
const QByteArray ReadRequest = QByteArray::fromHex("000100000006010300640001");

// A client that asks for one register (or, on a transparent port, sends two bytes that the
// server takes) and reports whether the gateway has served it.
struct Client
{
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    ProtocolOption kind = ProtocolModbus;
    QByteArray received;

    bool answered()
    {
        received += socket->readAll();
        return received.size() >= 9;
    }
};

// Lets the event loop turn a while without waiting for anything: what the servers accept in it.
void turnEventLoop()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

void tst_Descriptors::initTestCase()
{
    quiet = std::make_unique<QuietTraces>(
        QStringList{QStringLiteral("REQ: "), QStringLiteral("Destructor CConnectionHandler")});
}

void tst_Descriptors::init()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    if (!log)
        log = std::make_unique<LogCapture>();
    log->clear();
}

void tst_Descriptors::cleanup()
{
    servers.clear();
    QTRY_COMPARE(CDeviceHandler::openConnections(), 0);
    QVERIFY(!CDeviceHandler::isAcceptingPaused());
    CDeviceHandler::setConnectionBound(0);
    CDeviceHandler::setKeepAliveForNewConnections(CDeviceHandler::SKeepAlive());
}

void tst_Descriptors::boundOverAllPorts_data()
{
    QTest::addColumn<int>("bound");
    // The kind of each port's server; clients are spread over them in turn.
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<int>("clients");
    // A port opened once the first clients are in, with one client of its own.
    QTest::addColumn<bool>("lateListener");
    // Accepted clients that then leave.
    QTest::addColumn<int>("leaving");

    QTest::addRow("below the bound") << 5 << QList<int>{ProtocolModbus} << 4 << false << 1;
    QTest::addRow("exactly at the bound") << 4 << QList<int>{ProtocolModbus} << 4 << false << 1;
    QTest::addRow("a burst far beyond the bound")
        << 3 << QList<int>{ProtocolModbus} << 20 << false << 3;
    QTest::addRow("two ports share the bound")
        << 4 << QList<int>{ProtocolModbus, ProtocolTCP} << 7 << false << 3;
    QTest::addRow("a port opened at the bound waits too")
        << 3 << QList<int>{ProtocolModbus} << 3 << true << 2;
    QTest::addRow("one closing client lets the next in")
        << 2 << QList<int>{ProtocolModbus, ProtocolModbus} << 3 << false << 1;
}

void tst_Descriptors::boundOverAllPorts()
{
    QFETCH(int, bound);
    QFETCH(QList<int>, kinds);
    QFETCH(int, clients);
    QFETCH(bool, lateListener);
    QFETCH(int, leaving);

    CDeviceHandler::setConnectionBound(bound);
    QList<quint16> ports;
    for (int kind : std::as_const(kinds)) {
        const quint16 port = freePort();
        QVERIFY(port);
        servers.push_back(std::make_unique<CDeviceHandler>(port, ProtocolOption(kind), DevEui));
        QVERIFY(servers.back()->isListening());
        ports.append(port);
    }

    // All connect before the servers' turn: the system completes every handshake in the backlog.
    std::vector<Client> all(clients);
    for (int i = 0; i < clients; ++i) {
        all[i].kind = ProtocolOption(kinds.at(i % kinds.size()));
        all[i].socket->connectToHost(QHostAddress::LocalHost, ports.at(i % ports.size()));
    }
    for (Client &client : all) {
        QVERIFY(client.socket->waitForConnected(5000));
        client.socket->write(client.kind == ProtocolModbus ? ReadRequest
                                                           : QByteArray::fromHex("0102"));
    }
    const int first = qMin(clients, bound);
    QTRY_COMPARE(CDeviceHandler::openConnections(), first);
    turnEventLoop();
    QCOMPARE(CDeviceHandler::openConnections(), first);
    const bool full = clients >= bound;
    QCOMPARE(CDeviceHandler::isAcceptingPaused(), full);
    QCOMPARE(log->count(BoundLine), full ? 1 : 0);
    if (full)
        QVERIFY(log->contains(QStringLiteral("%1 client connections are open").arg(bound)));

    if (lateListener) {
        const quint16 port = freePort();
        QVERIFY(port);
        servers.push_back(std::make_unique<CDeviceHandler>(port, ProtocolModbus, DevEui));
        Client late;
        late.socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(late.socket->waitForConnected(5000));
        late.socket->write(ReadRequest);
        all.push_back(std::move(late));
        turnEventLoop();
        QCOMPARE(CDeviceHandler::openConnections(), first);
    }

    // Only the clients let in are served; those in the backlog wait.
    const auto isAccepted = [this](const Client &client) {
        for (const auto &server : servers)
            for (const CConnectionHandler *connection : server->getConnections())
                if (connection->peerPort() == client.socket->localPort())
                    return true;
        return false;
    };
    for (Client &client : all) {
        if (client.kind == ProtocolModbus && isAccepted(client))
            QTRY_VERIFY(client.answered());
        else
            QVERIFY(client.kind != ProtocolModbus || !client.answered());
    }

    // Leaving makes room: the clients still there are let in, up to the bound.
    QVERIFY(leaving <= first);
    int left = 0;
    for (Client &client : all) {
        if (left < leaving && isAccepted(client)) {
            client.socket->disconnectFromHost();
            ++left;
        }
    }
    const int staying = int(all.size()) - leaving;
    const int second = qMin(staying, bound);
    QTRY_COMPARE(CDeviceHandler::openConnections(), second);
    turnEventLoop();
    QCOMPARE(CDeviceHandler::openConnections(), second);
    if (staying <= bound) {
        for (Client &client : all) {
            if (client.socket->state() == QAbstractSocket::ConnectedState
                && client.kind == ProtocolModbus)
                QTRY_VERIFY(client.answered());
        }
    }
    if (full)
        QVERIFY(log->count(ResumeLine) >= 1);

    // Closing the servers drops what still waits in their backlogs, too.
    servers.clear();
    all.clear();
    QTRY_COMPARE(CDeviceHandler::openConnections(), 0);
    QVERIFY(!CDeviceHandler::isAcceptingPaused());
    QCOMPARE(log->count(BoundLine), log->count(ResumeLine));
}

void tst_Descriptors::keepAliveOnAcceptedSockets_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("shortened");
    QTest::addRow("modbus, shipped intervals") << int(ProtocolModbus) << false;
    QTest::addRow("transparent, shipped intervals") << int(ProtocolTCP) << false;
    QTest::addRow("modbus, shortened through the seam") << int(ProtocolModbus) << true;
}

void tst_Descriptors::keepAliveOnAcceptedSockets()
{
    QFETCH(int, kind);
    QFETCH(bool, shortened);

    CDeviceHandler::SKeepAlive expected;
    if (shortened) {
        expected = {2, 1, 3};
        CDeviceHandler::setKeepAliveForNewConnections(expected);
    }
    const quint16 port = freePort();
    QVERIFY(port);
    servers.push_back(std::make_unique<CDeviceHandler>(port, ProtocolOption(kind), DevEui));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    QTRY_COMPARE(servers.back()->connectionCount(), 1);

    const int fd = int(servers.back()->getConnections().first()->socketDescriptor());
    QVERIFY(fd > 0);
    const auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t size = sizeof(value);
        return getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
    };
    QCOMPARE(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    QCOMPARE(option(IPPROTO_TCP, TCP_KEEPIDLE), expected.idleSeconds);
    QCOMPARE(option(IPPROTO_TCP, TCP_KEEPINTVL), expected.intervalSeconds);
    QCOMPARE(option(IPPROTO_TCP, TCP_KEEPCNT), expected.probes);
    if (!shortened) {
        QCOMPARE(expected.idleSeconds, 60);
        QCOMPARE(expected.intervalSeconds, 10);
        QCOMPARE(expected.probes, 6);
    }
}

QTEST_GUILESS_MAIN(tst_Descriptors)
#include "tst_descriptors.moc"
