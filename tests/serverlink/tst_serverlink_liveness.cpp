#include "LinkFixture.h"
#include "LogCapture.h"
#include "StallingTcpProxy.h"
#include "TempWorkDir.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

// Keep-alive of a connected link: a server that goes silent without closing (behind a proxy that
// stops forwarding) is given up like a dropped one; a server still heard from is kept.
class TestServerLinkLiveness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void silentServerIsGivenUp_data();
    void silentServerIsGivenUp();
    void heardServerIsKept_data();
    void heardServerIsKept();
    void slowMessageIsHeard_data();
    void slowMessageIsHeard();

private:
    QString proxyUrl() const { return QStringLiteral("ws://127.0.0.1:%1").arg(proxy->port()); }

    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<LinkFixture> f;
    std::unique_ptr<StallingTcpProxy> proxy;
};

namespace {
const QString Lost = QStringLiteral("WARNING: [CServerHandler::silenceTimeoutSlot] No answer from "
                                    "the server within 300 ms of a ping: connection lost");

CServerHandler::SIntervals keepAlivePeriods()
{
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.keepAlivePing = 200;
    periods.keepAliveSilence = 300;
    periods.reconnect = 300;
    periods.connectTimeout = 200;
    return periods;
}
} // namespace

void TestServerLinkLiveness::initTestCase()
{
    registerApiMetaTypes();
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    log = std::make_unique<LogCapture>();
}

void TestServerLinkLiveness::init()
{
    f = std::make_unique<LinkFixture>(keepAlivePeriods());
    QVERIFY(f->fake->isListening());
    proxy = std::make_unique<StallingTcpProxy>(QHostAddress::LocalHost, f->fake->port());
    QVERIFY(proxy->isListening());
    log->clear();
}

void TestServerLinkLiveness::cleanup()
{
    f.reset();
    proxy.reset();
}

void TestServerLinkLiveness::silentServerIsGivenUp_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<bool>("newConnectionsPass");

    QTest::addRow("server host gone while logged in") << true << false;
    QTest::addRow("NAT mapping dropped while logged in") << true << true;
    QTest::addRow("server host gone while the login is answered") << false << false;
}

void TestServerLinkLiveness::silentServerIsGivenUp()
{
    QFETCH(bool, loggedIn);
    QFETCH(bool, newConnectionsPass);
    // A close after the abort would write its frame into the closed device.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QIODevice::write")));

    f->fake->setAuthReplyEnabled(loggedIn);
    f->link->connectSlot(proxyUrl(), QStringLiteral("admin"), QStringLiteral("admin"));
    const QList<int> before = loggedIn ? QList<int>{5, 1, 3, 0} : QList<int>{5, 1, 3};
    QTRY_COMPARE(f->seenStatuses(), before);

    if (newConnectionsPass)
        proxy->stallOpenConnections();
    else
        proxy->stall();
    QElapsedTimer sinceStall;
    sinceStall.start();
    qint64 lossAfter = -1;
    connect(f->link.get(), &CServerHandler::changeServerStatus, this, [&]() {
        if (lossAfter < 0)
            lossAfter = sinceStall.elapsed();
    });
    f->fake->setAuthReplyEnabled(true);
    if (loggedIn) {
        // A request goes into the stall and waits for its answer; a downlink queues behind it.
        QVERIFY(f->link->getDevicesList({QStringLiteral("F1")}));
        f->link->sendData(QStringLiteral("dev-a"), "01");
    }

    QVERIFY(log->waitForLine(Lost));
    if (!newConnectionsPass) {
        // The reconnection period goes on while nothing gets through.
        QTRY_VERIFY(proxy->connectionCount() >= 4);
        proxy->resume();
    }
    QTRY_VERIFY(f->seenStatuses().size() > before.size() && f->seenStatuses().constLast() == 0);

    // One 5 for the loss and one for each attempt before the last, which logged in.
    QList<int> expected = before;
    expected << QList<int>(proxy->connectionCount() - 1, 5) << 1 << 3 << 0;
    QCOMPARE(f->seenStatuses(), expected);
    QCOMPARE(log->count(Lost), 1);
    // Given up within a ping and a silence window of going silent (slack for a busy machine).
    const CServerHandler::SIntervals periods = keepAlivePeriods();
    QVERIFY2(lossAfter <= periods.keepAlivePing + periods.keepAliveSilence + 500,
             qPrintable(QString::number(lossAfter)));

    if (loggedIn) {
        // The queue outlived the loss: the end of the wait sends the downlink on the new link.
        QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-a")), 1);
        QVERIFY(QMetaObject::invokeMethod(f->link.get(), "waitingServerResponseTimeoutSlot"));
        QVERIFY(f->fake->waitForCommand(QStringLiteral("send_data_req")));
        QCOMPARE(f->devicesSpy->count(), 1);
    }
}

void TestServerLinkLiveness::heardServerIsKept_data()
{
    QTest::addColumn<bool>("pingsPass");
    QTest::addColumn<QByteArray>("message"); // sent by the server every 50 ms unless empty
    QTest::addColumn<bool>("binary");

    QTest::addRow("pongs only") << true << QByteArray() << false;
    QTest::addRow("uplinks, pings held")
        << false << QByteArray(R"({"cmd":"rx","type":"CONF_UP","devEui":"01","data":"01"})")
        << false;
    QTest::addRow("texts that are not JSON, pings held")
        << false << QByteArray("not json") << false;
    QTest::addRow("binary messages, pings held") << false << QByteArray("\x01\x02", 2) << true;
}

void TestServerLinkLiveness::heardServerIsKept()
{
    QFETCH(bool, pingsPass);
    QFETCH(QByteArray, message);
    QFETCH(bool, binary);

    f->link->connectSlot(proxyUrl(), QStringLiteral("admin"), QStringLiteral("admin"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));
    if (!pingsPass)
        proxy->stall(StallingTcpProxy::ToTarget);
    QTimer sender;
    connect(&sender, &QTimer::timeout, this, [&]() {
        if (binary)
            f->fake->sendBinary(message);
        else
            f->fake->sendText(QString::fromUtf8(message));
    });
    if (!message.isEmpty())
        sender.start(50);

    // Several silence windows pass (one every 400 ms) and the connection stays.
    QVERIFY(!f->statusSpy->wait(1600));
    QCOMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));
    QVERIFY(!log->contains(Lost));
    QCOMPARE(proxy->connectionCount(), 1);
    // Held pings show that the link pinged and was not answered.
    if (!pingsPass)
        QVERIFY(proxy->heldBytes() > 0);
}

void TestServerLinkLiveness::slowMessageIsHeard_data()
{
    QTest::addColumn<bool>("binary");
    QTest::addColumn<int>("size");

    QTest::addRow("one uplink of 64 KB") << false << 64 * 1024;
    QTest::addRow("one binary frame of 64 KB") << true << 64 * 1024;
}

void TestServerLinkLiveness::slowMessageIsHeard()
{
    QFETCH(bool, binary);
    QFETCH(int, size);

    // Silence windows of 600 ms: room for a loaded machine beside the 50 ms steps below.
    CServerHandler::SIntervals periods = keepAlivePeriods();
    periods.keepAliveSilence = 600;
    f->makeLink(periods);
    f->link->connectSlot(proxyUrl(), QStringLiteral("admin"), QStringLiteral("admin"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));

    // 2 KB every 50 ms: the one frame takes about 1.6 s, two pings and their silence windows, and
    // the pongs wait behind it. Every byte shows the server alive.
    proxy->trickleToClient(2 * 1024, 50);
    QElapsedTimer arriving;
    arriving.start();
    const QByteArray padding(size, 'a');
    if (binary) {
        f->fake->sendBinary(padding);
    } else {
        f->fake->sendText(QStringLiteral(R"({"cmd":"rx","type":"CONF_UP","devEui":"5107",)"
                                         R"("data":"01","pad":"%1"})")
                              .arg(QString::fromLatin1(padding)));
    }
    if (!binary) {
        QVERIFY(f->packetSpy->wait(20000));
        QCOMPARE(f->packetSpy->first().at(0).value<API::SApiDeviceData>().devEui,
                 QStringLiteral("5107"));
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(proxy->heldBytes(), 0, 20000);
        QVERIFY(f->uplinkBarrier());
    }
    QVERIFY2(arriving.elapsed() > periods.keepAlivePing + periods.keepAliveSilence,
             qPrintable(QString::number(arriving.elapsed())));
    QCOMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));
    const QString lost = QStringLiteral("[CServerHandler::silenceTimeoutSlot]");
    QVERIFY(!log->contains(lost));
    QCOMPARE(proxy->connectionCount(), 1);

    // Once nothing at all arrives, the link is given up as before.
    proxy->stall();
    QVERIFY(log->waitForLine(QString(Lost).replace(QStringLiteral("300 ms"),
                                                   QStringLiteral("600 ms"))));
}

QTEST_GUILESS_MAIN(TestServerLinkLiveness)
#include "tst_serverlink_liveness.moc"
