#include "LinkFixture.h"
#include "LogCapture.h"
#include "TempWorkDir.h"

#include <QTest>

#include <memory>

// One request in flight: the queue, its response times and its refusals.
class TestServerLinkQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void downlinksLeaveInOrder();
    void devicesListTimeOut();
    void lastPacketsHoldQueue();
    void refusals_data();
    void refusals();
    void downlinksWaitForLogin_data();
    void downlinksWaitForLogin();
    void requestsWaitForLogin_data();
    void requestsWaitForLogin();

private:
    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<LinkFixture> f;
};

namespace {
const QString Locked
    = QStringLiteral("[CServerHandler::newTaskSlot] Waiting mutex is locked! Return");
const QString Empty = QStringLiteral("[CServerHandler::newTaskSlot] Task queue is empty");
const QString Held = QStringLiteral("[CServerHandler::newTaskSlot] Not logged in: downlinks wait");

int sendLines(const DebugCapture &debug)
{
    int n = 0;
    for (const QString &message : debug.messages())
        n += message.startsWith(QLatin1String("send: ")) ? 1 : 0;
    return n;
}
QStringList receivedCommands(const FakeNetworkServer &fake)
{
    QStringList commands;
    for (const QJsonObject &object : fake.receivedObjects())
        commands << object.value("cmd").toString();
    return commands;
}
} // namespace

void TestServerLinkQueue::initTestCase()
{
    registerApiMetaTypes();
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    log = std::make_unique<LogCapture>();
}

void TestServerLinkQueue::init()
{
    f = std::make_unique<LinkFixture>();
    QVERIFY(f->fake->isListening());
    log->clear();
}

void TestServerLinkQueue::cleanup()
{
    f.reset();
}

void TestServerLinkQueue::downlinksLeaveInOrder()
{
    QVERIFY(f->login());
    QSignalSpy downlinks(f->fake.get(), &NetServerCore::downlinkReceived);
    QSignalSpy taken(f->link.get(), &CServerHandler::downlinkTaken);
    f->debug->clear();
    f->link->sendData(QStringLiteral("dev-a"), "01");
    f->link->sendData(QStringLiteral("dev-b"), "02");
    f->link->sendData(QStringLiteral("dev-c"), "03");
    f->link->sendData(QStringLiteral("dev-c"), "04");
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-a")), 1);
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-c")), 2);

    QTRY_COMPARE(downlinks.count(), 4);
    for (int i = 0; i < 4; ++i) {
        const QString devEui = QStringLiteral("dev-%1").arg(QChar('a' + qMin(i, 2)));
        QCOMPARE(downlinks.at(i).at(0).toString(), devEui);
        QCOMPARE(downlinks.at(i).at(1).toString(), QStringLiteral("0%1").arg(i + 1));
        // Each downlink reports its leaving the queue, in the order sent.
        QCOMPARE(taken.at(i).at(0).toString(), devEui);
    }
    QCOMPARE(taken.count(), 4);
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-c")), 0);
    // The three further newTask events found the first downlink in flight; each later request
    // waited for the end of the one before (100 ms), and the last end found the queue empty.
    QCOMPARE(f->debug->count(Locked), 3);
    QTRY_COMPARE(f->debug->count(Empty), 1);
    QCOMPARE(sendLines(*f->debug), 4);
    QCOMPARE(f->fake->receivedCommands(QStringLiteral("send_data_req")).size(), 4);
}

void TestServerLinkQueue::devicesListTimeOut()
{
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.response = 200;
    f->makeLink(periods);
    QVERIFY(f->login());
    f->fake->setDevicesReplyEnabled(false);

    int downlinksAtTimeOut = -1;
    connect(f->link.get(), &CServerHandler::getDevicesListResp, this, [&]() {
        downlinksAtTimeOut = f->fake->receivedCommands(QStringLiteral("send_data_req")).size();
    });
    QVERIFY(f->link->getDevicesList({QStringLiteral("F1")}));
    f->link->sendData(QStringLiteral("dev-a"), "01");

    QVERIFY(f->devicesSpy->wait());
    QCOMPARE(f->devicesSpy->first().at(0).toBool(), false);
    QVERIFY(f->devicesSpy->first().at(1).value<QList<API::SServerDeviceInfo>>().isEmpty());
    QCOMPARE(downlinksAtTimeOut, 0);
    QVERIFY(f->fake->waitForCommand(QStringLiteral("send_data_req")));

    // The answer after the time-out is not scheduled and gives no second signal.
    f->fake->sendText(
        QString::fromUtf8(R"({"cmd":"get_devices_resp","status":true,"devices_list":[]})"));
    QVERIFY(log->waitForLine(QStringLiteral("[CServerHandler::textMessageReceivedSlot] "
                                            "State=verified: unsheduled packet from server")));
    QVERIFY(f->uplinkBarrier());
    QCOMPARE(f->devicesSpy->count(), 1);
}

void TestServerLinkQueue::lastPacketsHoldQueue()
{
    QVERIFY(f->login());
    f->fake->setLastPackets(QStringLiteral("A1"),
                            {QJsonObject{{"type", "CONF_UP"}, {"data", "0102"}}});
    f->debug->clear();
    f->link->getDeviceLastPackets(QStringLiteral("a1"));
    QVERIFY(f->link->getDevicesList({QStringLiteral("F1")}));

    // Answered at once, yet the device list does not go out: the wait is the response time.
    QVERIFY(f->packetSpy->wait());
    QVERIFY(f->uplinkBarrier());
    QVERIFY(f->barrier());
    QCOMPARE(sendLines(*f->debug), 1);
    QVERIFY(f->fake->receivedCommands(QStringLiteral("get_devices_req")).isEmpty());

    // The end of the response time sends the next request.
    QVERIFY(QMetaObject::invokeMethod(f->link.get(), "waitingServerResponseTimeoutSlot"));
    QVERIFY(f->fake->waitForCommand(QStringLiteral("get_devices_req")));
    QVERIFY(f->devicesSpy->wait());
    QCOMPARE(f->devicesSpy->first().at(0).toBool(), true);
}

void TestServerLinkQueue::refusals_data()
{
    QTest::addColumn<bool>("verified");
    QTest::addRow("not connected") << false;
    QTest::addRow("verified") << true;
}

void TestServerLinkQueue::refusals()
{
    QFETCH(bool, verified);
    if (verified)
        QVERIFY(f->login());
    f->debug->clear();

    QCOMPARE(f->link->getDevicesList({}), false);
    QVERIFY(log->waitForLine(
        QStringLiteral("[CServerHandler::getDevicesList] Empty input AppEUI list! Return")));
    f->link->getDeviceLastPackets(QString());
    if (!verified) {
        QCOMPARE(f->link->getDevicesList({QStringLiteral("F1")}), false);
        QVERIFY(log->waitForLine(QStringLiteral(
            "[CServerHandler::getDevicesList] Invalid connection to server! Return")));
        f->link->getDeviceLastPackets(QStringLiteral("a1"));
        QVERIFY(log->waitForLine(QStringLiteral(
            "[CServerHandler::getDeviceLastPackets] Invalid connection to server! Return")));
        QVERIFY(f->login());
    }
    // Nothing was queued: the next request is the first to go out.
    f->fake->clearReceived();
    f->link->sendData(QStringLiteral("dev-a"), "01");
    QVERIFY(f->fake->waitForTexts(1));
    QCOMPARE(f->fake->receivedObjects().first().value("cmd").toString(),
             QStringLiteral("send_data_req"));
    QCOMPARE(sendLines(*f->debug), 1);
}

void TestServerLinkQueue::downlinksWaitForLogin_data()
{
    QTest::addColumn<QString>("when");
    QTest::addRow("before the first login") << QStringLiteral("never connected");
    QTest::addRow("while the link is down after a drop") << QStringLiteral("dropped");
    QTest::addRow("while the login is being answered") << QStringLiteral("auth waiting");
    QTest::addRow("across a refused login") << QStringLiteral("refused");
}

void TestServerLinkQueue::downlinksWaitForLogin()
{
    QFETCH(QString, when);
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.reconnect = 200;
    f->makeLink(periods);
    const QString login = QStringLiteral("admin");
    if (when == QLatin1String("dropped")) {
        QVERIFY(f->login());
        f->fake->dropConnections();
        QTRY_COMPARE(f->seenStatuses().constLast(), 5);
        // Every attempt is refused until the test lets one log in.
        f->fake->setCredentials(login, QStringLiteral("other"));
    } else if (when == QLatin1String("auth waiting")) {
        f->fake->setAuthReplyEnabled(false);
        f->link->connectSlot(f->fake->url(), login, login);
        QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3}));
    } else if (when == QLatin1String("refused")) {
        f->fake->setCredentials(login, QStringLiteral("other"));
        f->link->connectSlot(f->fake->url(), login, login);
        QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 4}));
    }
    f->debug->clear();
    f->fake->clearReceived();

    const QStringList data{QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03")};
    f->link->sendData(QStringLiteral("dev-a"), data.at(0).toLatin1());
    f->link->sendData(QStringLiteral("dev-b"), data.at(1).toLatin1());
    f->link->sendData(QStringLiteral("dev-a"), data.at(2).toLatin1());
    QTRY_VERIFY(f->debug->count(Held) >= 1);
    // Nothing goes out: every downlink waits, counted per device.
    QVERIFY(!f->fake->waitForCommand(QStringLiteral("send_data_req"), 1, 300));
    QCOMPARE(sendLines(*f->debug), 0);
    QCOMPARE(f->fake->receivedCommands(QStringLiteral("send_data_req")).size(), 0);
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-a")), 2);
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-b")), 1);

    // The next accepted login sends them in their order, each once.
    f->fake->setAuthReplyEnabled(true);
    f->fake->setCredentials(login, login);
    if (when == QLatin1String("never connected") || when == QLatin1String("refused"))
        f->link->connectSlot(f->fake->url(), login, login);
    else if (when == QLatin1String("auth waiting"))
        f->fake->sendText(QStringLiteral(R"({"cmd":"auth_resp","status":true})"));
    QVERIFY(f->fake->waitForCommand(QStringLiteral("send_data_req"), 3));
    QVERIFY(!f->fake->waitForCommand(QStringLiteral("send_data_req"), 4, 500));
    const QList<QJsonObject> sent = f->fake->receivedCommands(QStringLiteral("send_data_req"));
    QStringList order;
    for (const QJsonObject &request : sent)
        order << request.value("data_list")[0]["devEui"].toString() + QLatin1Char('/')
                     + request.value("data_list")[0]["data"].toString();
    QCOMPARE(order, (QStringList{QStringLiteral("dev-a/01"), QStringLiteral("dev-b/02"),
                                 QStringLiteral("dev-a/03")}));
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-a")), 0);
    QCOMPARE(f->link->waitingDownlinks(QStringLiteral("dev-b")), 0);
}

void TestServerLinkQueue::requestsWaitForLogin_data()
{
    QTest::addColumn<QString>("when"); // where the next attempt is when the request's turn comes
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("expires"); // no login within the request's response time

    QTest::addRow("device list, turn in the probe wait")
        << QStringLiteral("probe") << QStringLiteral("get_devices_req") << false;
    QTest::addRow("device list, turn in the login wait")
        << QStringLiteral("login") << QStringLiteral("get_devices_req") << false;
    QTest::addRow("last packets, turn in the login wait")
        << QStringLiteral("login") << QStringLiteral("get_data_req") << false;
    QTest::addRow("device list, turn while the link is down")
        << QStringLiteral("down") << QStringLiteral("get_devices_req") << false;
    QTest::addRow("device list, no login within its response time")
        << QStringLiteral("login") << QStringLiteral("get_devices_req") << true;
}

void TestServerLinkQueue::requestsWaitForLogin()
{
    QFETCH(QString, when);
    QFETCH(QString, command);
    QFETCH(bool, expires);

    // The test ends the waits and opens the attempts itself, so each stays where it stops.
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    QVERIFY(f->login());
    // A last-packets request holds the queue for its response time; the others queue behind it.
    f->link->getDeviceLastPackets(QStringLiteral("a1"));
    QVERIFY(f->fake->waitForCommand(QStringLiteral("get_data_req")));
    f->link->sendData(QStringLiteral("dev-a"), "01");
    if (command == QLatin1String("get_devices_req"))
        QVERIFY(f->link->getDevicesList({QStringLiteral("F1")}));
    else
        f->link->getDeviceLastPackets(QStringLiteral("b2"));
    f->link->sendData(QStringLiteral("dev-b"), "02");

    // Lost; the next attempt stops where the row's turn comes.
    if (when == QLatin1String("probe"))
        f->fake->setProbeReply(NetServerCore::ProbeReply::None);
    else if (when == QLatin1String("login"))
        f->fake->setAuthReplyEnabled(false);
    else
        f->fake->setHandshake(NetServerCore::Handshake::RefuseAndClose);
    f->fake->dropConnections();
    QTRY_COMPARE(f->seenStatuses().mid(4), QList<int>{5});
    f->fake->clearReceived();
    QVERIFY(QMetaObject::invokeMethod(f->link.get(), "reconnectLastAuthData"));
    if (when == QLatin1String("probe"))
        QTRY_COMPARE(f->seenStatuses().mid(4), (QList<int>{5, 1}));
    else if (when == QLatin1String("login"))
        QTRY_COMPARE(f->seenStatuses().mid(4), (QList<int>{5, 1, 3}));
    else
        QTRY_VERIFY(f->fake->refusedHandshakes() >= 1);
    // The attempt's own messages have arrived before the turn is counted from them.
    if (when != QLatin1String("down"))
        QVERIFY(f->fake->waitForCommand(when == QLatin1String("probe") ? QStringLiteral("cmd")
                                                                      : QStringLiteral("auth_req")));

    // The request in flight ends its wait, so the next one's turn comes before any login.
    if (expires) {
        periods.response = 200;
        f->link->setIntervals(periods);
    }
    const int beforeTurn = f->fake->received().size();
    f->debug->clear();
    QVERIFY(QMetaObject::invokeMethod(f->link.get(), "waitingServerResponseTimeoutSlot"));
    QVERIFY(!f->fake->waitForTexts(beforeTurn + 1, 300));
    if (expires) {
        // Its response time over, it fails as an unanswered one does, and leaves the queue.
        QTRY_COMPARE(f->devicesSpy->count(), 1);
        QCOMPARE(f->devicesSpy->first().at(0).toBool(), false);
        QTRY_VERIFY(f->debug->contains(Held));
    } else {
        QCOMPARE(f->devicesSpy->count(), 0);
    }
    QCOMPARE(sendLines(*f->debug), 0);

    // The login: its real answer is taken, then the queue leaves in its order.
    if (when == QLatin1String("probe")) {
        f->fake->setProbeReply(NetServerCore::ProbeReply::WithErrString);
        f->fake->sendText(QStringLiteral(R"({"cmd":"cmd","err_string":"unknown_cmd"})"));
    } else if (when == QLatin1String("login")) {
        f->fake->answerHeldLogins();
    } else {
        f->fake->setHandshake(NetServerCore::Handshake::Accept);
        QVERIFY(QMetaObject::invokeMethod(f->link.get(), "reconnectLastAuthData"));
    }
    QTRY_COMPARE(f->seenStatuses().constLast(), 0);
    QCOMPARE(f->seenStatuses().mid(f->seenStatuses().size() - 3), (QList<int>{1, 3, 0}));
    QVERIFY(!f->seenStatuses().contains(4));
    if (command == QLatin1String("get_data_req") && !expires) {
        QVERIFY(f->fake->waitForCommand(command));
        QVERIFY(QMetaObject::invokeMethod(f->link.get(), "waitingServerResponseTimeoutSlot"));
    }
    QStringList expected{QStringLiteral("cmd"), QStringLiteral("auth_req"),
                         QStringLiteral("send_data_req")};
    if (!expires)
        expected << command;
    expected << QStringLiteral("send_data_req");
    QTRY_COMPARE(receivedCommands(*f->fake), expected);
    const QList<QJsonObject> downlinks = f->fake->receivedCommands(QStringLiteral("send_data_req"));
    QCOMPARE(downlinks.at(0).value("data_list")[0]["devEui"].toString(), QStringLiteral("dev-a"));
    QCOMPARE(downlinks.at(1).value("data_list")[0]["devEui"].toString(), QStringLiteral("dev-b"));
    if (command == QLatin1String("get_devices_req")) {
        // One answer only: the server's list, or the failure at the end of the response time.
        QTRY_COMPARE(f->devicesSpy->count(), 1);
        QCOMPARE(f->devicesSpy->first().at(0).toBool(), !expires);
    } else {
        QCOMPARE(f->fake->receivedCommands(command).first().value("devEui").toString(),
                 QStringLiteral("B2"));
    }
    QVERIFY(!f->fake->waitForTexts(expected.size() + 1, 300));
}

QTEST_GUILESS_MAIN(TestServerLinkQueue)
#include "tst_serverlink_queue.moc"
