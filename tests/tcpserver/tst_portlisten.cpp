#include "CDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "QuietTraces.h"
#include "StderrCapture.h"
#include "TcpChunkWord.h"
#include "TempWorkDir.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// Ports that another program holds: the server says so once, tries again at its retry period
// until the port is free and then says that it listens; a move to such a port leaves the server
// on its old port with its clients and its packet.
class tst_PortListen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void heldAtTheStart();
    void moveWithHeldPorts_data();
    void moveWithHeldPorts();

private:
    std::unique_ptr<QuietTraces> quiet;
    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
};

namespace {

const QString DevEui = QStringLiteral("70B3D5E75E000095");
constexpr int RetryMs = 50;
const QString ListenLines = QStringLiteral("[CDeviceHandler::listenOnPort]");

QString cannotListenLine(quint16 port, const QString &reason)
{
    return QStringLiteral("WARNING: [CDeviceHandler::listenOnPort] Port %1 can't be listened on: "
                          "%2. No client can reach the devices of this port!")
        .arg(port)
        .arg(reason);
}

QString listensLine(quint16 port)
{
    return QStringLiteral("INFO: [CDeviceHandler::listenOnPort] Port %1 is listened on now: "
                          "clients can reach the devices of this port.")
        .arg(port);
}

// Why the port cannot be listened on now.
QString listenError(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, port) ? QString() : probe.errorString();
}

// Another program on the port.
std::unique_ptr<QTcpServer> holdPort()
{
    auto holder = std::make_unique<QTcpServer>();
    return holder->listen(QHostAddress::Any, 0) ? std::move(holder) : nullptr;
}

} // namespace

void tst_PortListen::initTestCase()
{
    quiet = std::make_unique<QuietTraces>(
        QStringList{QStringLiteral("[CDeviceHandler::sendTCPData] Build data"),
                    QStringLiteral("Destructor CConnectionHandler")});
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
    QCOMPARE(CDeviceHandler::listenRetryPeriodForNewServers(),
             int(CDeviceHandler::ListenRetryPeriodMs));
    QCOMPARE(CDeviceHandler::ListenRetryPeriodMs, 60000);
    CDeviceHandler::setListenRetryPeriodForNewServers(RetryMs);
}

void tst_PortListen::cleanupTestCase()
{
    CDeviceHandler::setListenRetryPeriodForNewServers(CDeviceHandler::ListenRetryPeriodMs);
}

void tst_PortListen::init()
{
    log->clear();
}

void tst_PortListen::heldAtTheStart()
{
    std::unique_ptr<QTcpServer> holder = holdPort();
    QVERIFY(holder);
    const quint16 held = holder->serverPort();
    StderrCapture standardError;
    CDeviceHandler server(held, ProtocolModbus, DevEui);
    server.appendDevice(DevEui);
    QVERIFY(!server.isListening());
    const QString warning = cannotListenLine(held, server.errorString());
    QVERIFY(log->waitForLine(warning));

    // Tried again without a further line while the port stays held.
    QTest::qWait(6 * RetryMs);
    QVERIFY(!server.isListening());
    QCOMPARE(log->count(ListenLines), 1);

    holder.reset();
    QTRY_VERIFY(server.isListening());
    QCOMPARE(server.serverPort(), held);
    QVERIFY(log->waitForLine(listensLine(held)));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, held);
    QVERIFY(client.waitForConnected(5000));
    QTRY_COMPARE(server.connectionCount(), 1);
    // Listening ends the retries.
    QTest::qWait(4 * RetryMs);
    QCOMPARE(log->count(ListenLines), 2);
    const QByteArray printed = standardError.text();
    QVERIFY2(printed.contains(warning.toLocal8Bit()), printed.constData());
    QVERIFY2(printed.contains(listensLine(held).toLocal8Bit()), printed.constData());
}

void tst_PortListen::moveWithHeldPorts_data()
{
    QTest::addColumn<bool>("oldHeld");
    QTest::addColumn<bool>("newHeld");
    QTest::addRow("listening server to a held port") << false << true;
    QTest::addRow("waiting server to a free port") << true << false;
    QTest::addRow("waiting server to a held port") << true << true;
}

void tst_PortListen::moveWithHeldPorts()
{
    QFETCH(bool, oldHeld);
    QFETCH(bool, newHeld);

    std::unique_ptr<QTcpServer> oldHolder = oldHeld ? holdPort() : nullptr;
    const quint16 oldPort = oldHeld ? oldHolder->serverPort() : freePort();
    std::unique_ptr<QTcpServer> newHolder = newHeld ? holdPort() : nullptr;
    const quint16 newPort = newHeld ? newHolder->serverPort() : freePort();
    QVERIFY(oldPort && newPort && oldPort != newPort);

    CDeviceHandler server(oldPort, ProtocolTCP, DevEui);
    server.appendDevice(DevEui);
    QCOMPARE(server.isListening(), !oldHeld);
    // A client of the old port with the first half of a packet under way.
    QTcpSocket client;
    if (!oldHeld) {
        client.connectToHost(QHostAddress::LocalHost, oldPort);
        QVERIFY(client.waitForConnected(5000));
        QTRY_COMPARE(server.connectionCount(), 1);
        server.sendTCPData("Hel", TcpChunkWord::pack(1, 2, 5));
    }
    log->clear();

    QCOMPARE(server.appendDevice(newPort), !newHeld);
    if (newHeld) {
        QVERIFY(log->waitForLine(
            QStringLiteral("WARNING: [CDeviceHandler::appendDevice] Port %1 can't be listened on: "
                           "%2. The server stays on port %3 with its clients.")
                .arg(newPort)
                .arg(listenError(newPort))
                .arg(oldPort)));
        QCOMPARE(server.getPort(), oldPort);
    } else {
        QCOMPARE(server.getPort(), newPort);
        QVERIFY(server.isListening());
        QCOMPARE(server.serverPort(), newPort);
        QVERIFY(acceptsConnections(newPort));
    }

    if (!oldHeld) {
        // Still listening on the old port, the client kept with its packet.
        QVERIFY(server.isListening());
        QCOMPARE(server.serverPort(), oldPort);
        QCOMPARE(server.connectionCount(), 1);
        server.sendTCPData("lo", TcpChunkWord::pack(2, 2, 5));
        QByteArray received;
        QTRY_VERIFY((received += client.readAll()).size() >= 5);
        QCOMPARE(received, QByteArrayLiteral("Hello"));
        QVERIFY(acceptsConnections(oldPort));
        return;
    }

    // The old port freed by the other program: a server still waiting there takes it, a moved
    // one leaves it alone.
    oldHolder.reset();
    if (newHeld) {
        QTRY_VERIFY(server.isListening());
        QCOMPARE(server.serverPort(), oldPort);
        QVERIFY(log->waitForLine(listensLine(oldPort)));
    } else {
        QTest::qWait(4 * RetryMs);
        QCOMPARE(server.serverPort(), newPort);
        QVERIFY(canListen(oldPort));
        QCOMPARE(log->count(ListenLines), 0);
    }
}

QTEST_GUILESS_MAIN(tst_PortListen)
#include "tst_portlisten.moc"
