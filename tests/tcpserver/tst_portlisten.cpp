#include "CDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "QuietTraces.h"
#include "StderrCapture.h"
#include "TempWorkDir.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// Ports that another program holds: the server says so once, tries again at its retry period
// until the port is free and then says that it listens.
class tst_PortListen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void heldAtTheStart();

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

QTEST_GUILESS_MAIN(tst_PortListen)
#include "tst_portlisten.moc"
