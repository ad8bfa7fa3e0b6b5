#include "LinkFixture.h"
#include "LogCapture.h"
#include "TempWorkDir.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(NetServerCore::Handshake)
Q_DECLARE_METATYPE(NetServerCore::ProbeReply)

// Connection, probe, login and reconnection of the link against a fake network server.
class TestServerLinkLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loginFromClosedSocket();
    void probeWithoutErrString();
    void lateAnswer_data();
    void lateAnswer();
    void refusedLogin_data();
    void refusedLogin();
    void unreadFramesWhileAuth();
    void reconnectsUntilLoginAccepted();
    void invalidUrlKeepsLastValid();
    void refusedHandshakeIsRetried_data();
    void refusedHandshakeIsRetried();
    void stalledHandshakeIsRetried();
    void unacceptedConnectionIsRetried();
    void connectedAttemptIsKept_data();
    void connectedAttemptIsKept();
    void stalledAnswerIsGivenUp_data();
    void stalledAnswerIsGivenUp();
    void linkStateLines_data();
    void linkStateLines();
    void attemptReasons_data();
    void attemptReasons();
    void unreachableReasons_data();
    void unreachableReasons();
    void refusedLoginAfterConnect_data();
    void refusedLoginAfterConnect();

private:
    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<LinkFixture> f;
};

namespace {
CServerHandler::SIntervals withReconnect(int ms)
{
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.reconnect = ms;
    return periods;
}

const QString GivenUp = QStringLiteral("[CServerHandler::connectTimeoutSlot] Not connected within "
                                       "200 ms, attempt closed");

// Answers no connection attempt: either it accepts the TCP connection and never answers the
// upgrade, or it lets the kernel's accept queue fill up so that later connections stay unaccepted.
struct SilentServer
{
    explicit SilentServer(bool acceptTcp)
    {
        if (!acceptTcp)
            server.setListenBacklogSize(1);
        listening = server.listen(QHostAddress::LocalHost, 0);
        if (!acceptTcp && listening)
            server.pauseAccepting();
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this]() {
            while (QTcpSocket *tcp = server.nextPendingConnection()) {
                connections.append(tcp);
                QObject::connect(tcp, &QTcpSocket::readyRead, tcp,
                                 [this, tcp]() { requests += tcp->readAll(); });
                QObject::connect(tcp, &QTcpSocket::disconnected, tcp, [this]() { ++closed; });
                if (onConnection)
                    onConnection(connections.size());
            }
        });
        if (!acceptTcp) {
            // A backlog of one holds two connections; the next one is left without an answer.
            for (auto &filler : fillers) {
                filler = std::make_unique<QTcpSocket>();
                filler->connectToHost(QHostAddress::LocalHost, server.serverPort());
                listening = listening && filler->waitForConnected(5000);
            }
        }
    }
    QString url() const { return QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort()); }

    std::unique_ptr<QTcpSocket> fillers[2];
    bool listening = false;
    QList<QTcpSocket *> connections; // children of the server
    QByteArray requests;
    int closed = 0;
    std::function<void(int count)> onConnection;
    QTcpServer server; // last, so its sockets go before the counters their handlers touch
};

CServerHandler::SIntervals stallPeriods()
{
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.connectTimeout = 200;
    periods.reconnect = 300;
    return periods;
}
} // namespace

void TestServerLinkLogin::initTestCase()
{
    registerApiMetaTypes();
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    log = std::make_unique<LogCapture>();
}

void TestServerLinkLogin::init()
{
    f = std::make_unique<LinkFixture>();
    QVERIFY(f->fake->isListening());
    log->clear();
}

void TestServerLinkLogin::cleanup()
{
    f.reset();
}

void TestServerLinkLogin::loginFromClosedSocket()
{
    f->fake->setCredentials(QStringLiteral("operator"), QStringLiteral("p\"w"));
    f->link->connectSlot(f->fake->url(), QStringLiteral("operator"), QStringLiteral("p\"w"));

    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));
    const QStringList expected{R"({"cmd":"cmd"})",
                               R"({"cmd":"auth_req","login":"operator","password":"p\"w"})"};
    QCOMPARE(f->fake->received(), expected);

    // Verified: uplinks are read.
    f->fake->pushUplink({{"type", "CONF_UP"}, {"devEui", "0102"}, {"data", "01"}});
    QVERIFY(f->packetSpy->wait());
}

void TestServerLinkLogin::probeWithoutErrString()
{
    f->fake->setProbeReply(NetServerCore::ProbeReply::WithoutErrString);
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 2}));
    QVERIFY(f->debug->contains(
        QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=ping: unknown message")));
    QVERIFY(f->fake->receivedCommands(QStringLiteral("auth_req")).isEmpty());

    // Still waiting for the probe: a reply with "err_string", whatever its value, goes on.
    f->fake->sendText(QString::fromUtf8(R"({"err_string":null})"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 2, 3, 0}));
}

void TestServerLinkLogin::lateAnswer_data()
{
    QTest::addColumn<bool>("probeLate");
    QTest::addColumn<QList<int>>("beforeAnswer");
    QTest::addColumn<QList<int>>("afterAnswer");

    QTest::addRow("probe answered after the time-out")
        << true << QList<int>{5, 1, 2} << QList<int>{5, 1, 2, 3, 0};
    QTest::addRow("login answered after the time-out")
        << false << QList<int>{5, 1, 3, 4} << QList<int>{5, 1, 3, 4, 0};
}

void TestServerLinkLogin::lateAnswer()
{
    QFETCH(bool, probeLate);
    QFETCH(QList<int>, beforeAnswer);
    QFETCH(QList<int>, afterAnswer);

    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.pingTimeout = 50;
    f->makeLink(periods);
    if (probeLate)
        f->fake->setProbeReply(NetServerCore::ProbeReply::None);
    else
        f->fake->setAuthReplyEnabled(false);

    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QTRY_COMPARE(f->seenStatuses(), beforeAnswer);
    f->fake->sendText(probeLate ? QString::fromUtf8(R"({"err_string":"unknown_cmd"})")
                                : QString::fromUtf8(R"({"cmd":"auth_resp","status":true})"));
    QTRY_COMPARE(f->seenStatuses(), afterAnswer);
}

void TestServerLinkLogin::refusedLogin_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("trace");

    const QString prefix = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: ");
    QTest::addRow("no cmd") << R"({"status":true})" << prefix + "unknown message[1]";
    QTest::addRow("other cmd") << R"({"cmd":"auth_res","status":true})"
                               << prefix + "unknown message[2]";
    QTest::addRow("cmd not a text")
        << R"({"cmd":1,"status":true})" << prefix + "unknown message[2]";
    QTest::addRow("no status") << R"({"cmd":"auth_resp"})" << prefix + "unknown message[3]";
    QTest::addRow("status as text")
        << R"({"cmd":"auth_resp","status":"true"})" << prefix + "unknown message[4], err[]";
    QTest::addRow("status false without err_string")
        << R"({"cmd":"auth_resp","status":false})" << prefix + "unknown message[4], err[]";
    QTest::addRow("wrong credentials, the server's own answer")
        << QString() << prefix + "unknown message[4], err[invalid_login_or_password]";
}

void TestServerLinkLogin::refusedLogin()
{
    QFETCH(QString, answer);
    QFETCH(QString, trace);

    if (answer.isEmpty())
        f->fake->setCredentials(QStringLiteral("admin"), QStringLiteral("other"));
    else
        f->fake->setAuthReplyEnabled(false);
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QVERIFY(f->fake->waitForCommand(QStringLiteral("auth_req")));
    if (!answer.isEmpty())
        f->fake->sendText(answer);

    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 4}));
    QVERIFY2(f->debug->contains(trace), qPrintable(f->debug->messages().join('\n')));

    // Refused: the socket stays open and every later message is ignored.
    f->fake->sendText(QString::fromUtf8(R"({"cmd":"auth_resp","status":true})"));
    f->fake->sendText(
        QString::fromUtf8(R"({"cmd":"rx","type":"CONF_UP","devEui":"01","data":"01"})"));
    QVERIFY(f->barrier());
    QCOMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 4}));
    QCOMPARE(f->packetSpy->count(), 0);
    QCOMPARE(f->fake->connectionCount(), 1);
}

void TestServerLinkLogin::unreadFramesWhileAuth()
{
    f->fake->setAuthReplyEnabled(false);
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QVERIFY(f->fake->waitForCommand(QStringLiteral("auth_req")));

    const int before = f->debug->count(LinkFixture::NotAnObject);
    for (const char *text : {"not json", "[1,2]", "\"auth_resp\"", "{\"cmd\":\"auth_resp\",", ""})
        f->fake->sendText(QString::fromLatin1(text));
    f->fake->sendBinary(R"({"cmd":"auth_resp","status":false})");
    QTRY_COMPARE(f->debug->count(LinkFixture::NotAnObject), before + 5);

    // Still waiting for the login answer.
    f->fake->sendText(QString::fromUtf8(R"({"cmd":"auth_resp","status":true})"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));
}

void TestServerLinkLogin::reconnectsUntilLoginAccepted()
{
    f->makeLink(withReconnect(100));
    f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("pw"));
    f->link->connectSlot(f->fake->url(), QStringLiteral("op"), QStringLiteral("pw"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));

    // Dropped: reported once, then a new attempt with the same credentials one period later.
    f->fake->dropConnections();
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0, 5, 1, 3, 0}));
    QCOMPARE(f->fake->receivedCommands(QStringLiteral("auth_req")).size(), 2);

    // Refused logins on the reopened connections do not stop the period.
    QSignalSpy refusals(f->fake.get(), &NetServerCore::loginRefused);
    f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("changed"));
    f->fake->dropConnections();
    QTRY_VERIFY(refusals.count() >= 3);
    f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("pw"));
    QTRY_COMPARE(f->seenStatuses().constLast(), 0);
    for (const QJsonObject &request : f->fake->receivedCommands(QStringLiteral("auth_req")))
        QCOMPARE(request.value("password").toString(), QStringLiteral("pw"));

    // An accepted login stops the period: no further attempt comes.
    QSignalSpy attempts(f->fake.get(), &NetServerCore::clientConnected);
    QVERIFY(!attempts.wait(500));
    QCOMPARE(f->fake->connectionCount(), 1);
}

void TestServerLinkLogin::invalidUrlKeepsLastValid()
{
    f->makeLink(withReconnect(100));
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));

    f->link->connectSlot(QStringLiteral("ws://127.0.0.1:notaport"), QStringLiteral("other"),
                         QStringLiteral("other"));
    QVERIFY(log->waitForLine(QStringLiteral(
        "[CServerHandler::connectSlot] Invalid input URL [ws://127.0.0.1:notaport]")));
    // The close reports the disconnection, then connectSlot its own status; the period reopens
    // the last valid URL with the last valid credentials.
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0, 5, 5, 1, 3, 0}));
    const QList<QJsonObject> logins = f->fake->receivedCommands(QStringLiteral("auth_req"));
    QCOMPARE(logins.size(), 2);
    QCOMPARE(logins.last().value("login").toString(), QStringLiteral("admin"));
    QCOMPARE(logins.last().value("password").toString(), QStringLiteral("admin"));
}

void TestServerLinkLogin::refusedHandshakeIsRetried_data()
{
    QTest::addColumn<NetServerCore::Handshake>("refusal");
    QTest::addRow("403, connection kept open") << NetServerCore::Handshake::RefuseKeepOpen;
    QTest::addRow("403, connection closed") << NetServerCore::Handshake::RefuseAndClose;
}

void TestServerLinkLogin::refusedHandshakeIsRetried()
{
    QFETCH(NetServerCore::Handshake, refusal);

    f->makeLink(withReconnect(100));
    f->fake->setHandshake(refusal);
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));

    QTRY_VERIFY(f->fake->refusedHandshakes() >= 3);
    f->fake->setHandshake(NetServerCore::Handshake::Accept);
    QTRY_VERIFY(!f->seenStatuses().isEmpty() && f->seenStatuses().constLast() == 0);

    // connectSlot's 5, then exactly one 5 for each refused attempt, then the login.
    const QList<int> seen = f->seenStatuses();
    QList<int> expected(f->fake->refusedHandshakes() + 1, 5);
    expected << 1 << 3 << 0;
    QCOMPARE(seen, expected);
}

void TestServerLinkLogin::stalledHandshakeIsRetried()
{
    SilentServer silent(true);
    QVERIFY(silent.listening);
    CServerHandler::SIntervals periods = stallPeriods();
    f->makeLink(periods);

    QList<int> seenAtSecond;
    int closedAtSecond = -1;
    silent.onConnection = [&](int count) {
        if (count != 2)
            return;
        seenAtSecond = f->seenStatuses();
        closedAtSecond = silent.closed;
        // The second attempt ends on a long period, so the link stays quiet after it.
        periods.reconnect = 600000;
        f->link->setIntervals(periods);
    };
    f->link->connectSlot(silent.url(), QStringLiteral("admin"), QStringLiteral("admin"));

    // connectSlot's 5, then one 5 when the unanswered upgrade is given up and its connection
    // closed; the reconnection period then brings a new attempt, which ends the same way.
    QTRY_COMPARE(silent.connections.size(), 2);
    QVERIFY(silent.requests.contains("Upgrade: websocket"));
    QCOMPARE(seenAtSecond, (QList<int>{5, 5}));
    QCOMPARE(closedAtSecond, 1);
    QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 5, 5}));
    QTRY_COMPARE(silent.closed, 2);
    QCOMPARE(f->debug->count(GivenUp), 2);

    // The reopened attempt had set the probe state; its end leaves state 0, where even a
    // probe reply is ignored.
    QVERIFY(QMetaObject::invokeMethod(f->link.get(), "textMessageReceivedSlot",
                                      Q_ARG(QString, R"({"err_string":"unknown_cmd"})")));
    QCOMPARE(f->seenStatuses(), (QList<int>{5, 5, 5}));
}

void TestServerLinkLogin::unacceptedConnectionIsRetried()
{
    SilentServer silent(false);
    QVERIFY(silent.listening);
    f->makeLink(stallPeriods());
    f->link->connectSlot(silent.url(), QStringLiteral("admin"), QStringLiteral("admin"));

    // Given up before TCP is even connected: each attempt still reports its 5 exactly once, and
    // the period keeps trying.
    QTRY_VERIFY(f->debug->count(GivenUp) >= 2);
    const QList<int> seen = f->seenStatuses();
    QCOMPARE(seen, QList<int>(1 + f->debug->count(GivenUp), 5));
    QVERIFY(silent.connections.isEmpty());
}

void TestServerLinkLogin::connectedAttemptIsKept_data()
{
    QTest::addColumn<NetServerCore::ProbeReply>("probeReply");
    QTest::addColumn<bool>("authReply");
    QTest::addColumn<QList<int>>("expected");

    QTest::addRow("login accepted")
        << NetServerCore::ProbeReply::WithErrString << true << QList<int>{5, 1, 3, 0};
    QTest::addRow("probe unanswered")
        << NetServerCore::ProbeReply::None << true << QList<int>{5, 1};
    QTest::addRow("login unanswered")
        << NetServerCore::ProbeReply::WithErrString << false << QList<int>{5, 1, 3};
}

void TestServerLinkLogin::connectedAttemptIsKept()
{
    QFETCH(NetServerCore::ProbeReply, probeReply);
    QFETCH(bool, authReply);
    QFETCH(QList<int>, expected);

    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.connectTimeout = 100;
    f->makeLink(periods);
    f->fake->setProbeReply(probeReply);
    f->fake->setAuthReplyEnabled(authReply);
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QTRY_COMPARE(f->seenStatuses(), expected);

    // A completed handshake ends the connect time-out: long after it, nothing has changed.
    QVERIFY(!f->statusSpy->wait(5 * periods.connectTimeout));
    QCOMPARE(f->seenStatuses(), expected);
    QCOMPARE(f->fake->connectionCount(), 1);
    QCOMPARE(f->fake->connectionAttempts(), 1);
}

void TestServerLinkLogin::stalledAnswerIsGivenUp_data()
{
    QTest::addColumn<NetServerCore::ProbeReply>("probeReply");
    QTest::addColumn<bool>("authReply");
    QTest::addColumn<QList<int>>("stalled"); // statuses until the attempt is given up
    QTest::addColumn<QString>("line");

    QTest::addRow("probe never answered")
        << NetServerCore::ProbeReply::None << true << QList<int>{5, 1, 5}
        << QStringLiteral("No answer to the probe");
    QTest::addRow("probe answered without err_string")
        << NetServerCore::ProbeReply::WithoutErrString << true << QList<int>{5, 1, 2, 5}
        << QStringLiteral("No usable answer to the probe");
    QTest::addRow("login never answered") << NetServerCore::ProbeReply::WithErrString << false
                                          << QList<int>{5, 1, 3, 5}
                                          << QStringLiteral("No answer to the login");
}

void TestServerLinkLogin::stalledAnswerIsGivenUp()
{
    QFETCH(NetServerCore::ProbeReply, probeReply);
    QFETCH(bool, authReply);
    QFETCH(QList<int>, stalled);
    QFETCH(QString, line);
    // The abort leaves nothing to be written into the closed device.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QIODevice::write")));

    // Pings are answered by the server's WebSocket library all along: they keep nothing alive.
    CServerHandler::SIntervals periods = LinkUnderTest::longPeriods();
    periods.answerTimeout = 400;
    periods.reconnect = 2000;
    periods.keepAlivePing = 100;
    periods.keepAliveSilence = 2000;
    f->makeLink(periods);
    f->fake->setProbeReply(probeReply);
    f->fake->setAuthReplyEnabled(authReply);
    f->link->connectSlot(f->fake->url(), QStringLiteral("op"), QStringLiteral("secret"));
    f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("secret"));

    const QString expected = QStringLiteral("WARNING: [CServerHandler::answerTimeoutSlot] %1 "
                                            "from the server [%2] within 400 ms: connection given "
                                            "up. Next attempt in 2000 ms.")
                                 .arg(line, f->fake->url());
    QVERIFY(log->waitForLine(expected));
    QTRY_COMPARE(f->seenStatuses(), stalled);
    // Given up on the server's side too: the socket was aborted.
    QTRY_COMPARE(f->fake->connectionCount(), 0);

    // The next attempt, one period later, has the same address and login and now logs in.
    f->fake->setProbeReply(NetServerCore::ProbeReply::WithErrString);
    f->fake->setAuthReplyEnabled(true);
    QTRY_COMPARE(f->seenStatuses().constLast(), 0);
    QCOMPARE(f->fake->connectionAttempts(), 2);
    QCOMPARE(f->seenStatuses(), stalled + (QList<int>{1, 3, 0}));
    for (const QJsonObject &request : f->fake->receivedCommands(QStringLiteral("auth_req")))
        QCOMPARE(request.value("login").toString(), QStringLiteral("op"));
    QCOMPARE(log->count(QStringLiteral("[CServerHandler::answerTimeoutSlot]")), 1);
    // Logged in: the time-out is over and the link is kept.
    QVERIFY(!f->statusSpy->wait(3 * periods.answerTimeout));
    QCOMPARE(f->fake->connectionCount(), 1);
}

void TestServerLinkLogin::linkStateLines_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("line"); // %1 the server's address

    const QString failed = QStringLiteral("Connection to the server [%1] failed: ");
    QTest::addRow("accepted login")
        << QStringLiteral("accepted")
        << QStringLiteral("INFO: [CServerHandler::handleLoginAnswer] Logged in to the server "
                          "[%1] as [op]");
    QTest::addRow("the operator connects again while logged in")
        << QStringLiteral("reconnected")
        << QStringLiteral("INFO: [CServerHandler::handleLoginAnswer] Logged in to the server "
                          "[%1] as [op]");
    QTest::addRow("refused login")
        << QStringLiteral("refused")
        << QStringLiteral("WARNING: [CServerHandler::handleLoginAnswer] The server [%1] refused "
                          "the login [op]: invalid_login_or_password");
    QTest::addRow("link dropped, then handshakes refused")
        << QStringLiteral("dropped")
        << QStringLiteral("Connection to the server [%1] lost: ");
    QTest::addRow("link dropped, then logins refused")
        << QStringLiteral("dropped, refusing")
        << QStringLiteral("Connection to the server [%1] lost: ");
    QTest::addRow("connection refused")
        << QStringLiteral("no server") << failed + QStringLiteral("Connection refused. Next "
                                                                  "attempt in 200 ms.");
    QTest::addRow("handshake refused") << QStringLiteral("403") << failed;
}

void TestServerLinkLogin::linkStateLines()
{
    QFETCH(QString, event);
    QFETCH(QString, line);

    f->makeLink(withReconnect(200));
    f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("secret"));
    const QString url = f->fake->url();
    if (event == QLatin1String("refused"))
        f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("other"));
    if (event == QLatin1String("403"))
        f->fake->setHandshake(NetServerCore::Handshake::RefuseAndClose);
    if (event == QLatin1String("no server"))
        f->fake->close(); // the port refuses connections now
    f->link->connectSlot(url, QStringLiteral("op"), QStringLiteral("secret"));
    const bool dropped = event.startsWith(QLatin1String("dropped"));
    if (dropped) {
        QTRY_COMPARE(f->seenStatuses().constLast(), 0);
        if (event == QLatin1String("dropped"))
            f->fake->setHandshake(NetServerCore::Handshake::RefuseAndClose);
        else
            f->fake->setCredentials(QStringLiteral("op"), QStringLiteral("other"));
        f->fake->dropConnections();
    }
    const QString expected = line.arg(url);
    QVERIFY2(log->waitForLine(expected), qPrintable(log->lines().join('\n')));
    const QStringList first = log->lines().filter(QStringLiteral("[CServerHandler::"));
    QVERIFY2(first.constLast().contains(expected) && first.constLast().startsWith(
                 expected.startsWith(QLatin1String("INFO")) ? QStringLiteral("INFO: [")
                                                            : QStringLiteral("WARNING: [")),
             qPrintable(first.join('\n')));

    if (event == QLatin1String("reconnected")) {
        // The operator's own close is no loss: the new login is the only line that follows.
        f->link->connectSlot(url, QStringLiteral("op"), QStringLiteral("secret"));
        QTRY_COMPARE(log->count(expected), 2);
        QCOMPARE(log->lines().filter(QStringLiteral("[CServerHandler::")).size(), 2);
    }
    // The period goes on where it runs: a server that stays down costs one line an attempt.
    if (dropped || event == QLatin1String("no server") || event == QLatin1String("403")) {
        QTRY_VERIFY(f->seenStatuses().count(5) >= 5);
        // connectSlot's 5 has no line; each 5 after it ends an attempt, which has its line, and
        // no attempt has more than one (the login line aside).
        const QStringList lines = log->lines().filter(QStringLiteral("[CServerHandler::"));
        const int ended = f->seenStatuses().count(5) - 1;
        const int attempts = event == QLatin1String("no server") ? ended + 1
                                                                 : f->fake->connectionAttempts();
        QVERIFY2(lines.size() >= ended && lines.size() <= attempts + (dropped ? 1 : 0),
                 qPrintable(lines.join('\n')));
    }
    // Never the password.
    for (const QString &logged : log->lines())
        QVERIFY2(!logged.contains(QLatin1String("secret")), qPrintable(logged));
}

void TestServerLinkLogin::attemptReasons_data()
{
    QTest::addColumn<QStringList>("attempts"); // how the server meets each attempt in turn
    QTest::addColumn<QStringList>("lines");    // the link's log lines, %1 the server's address

    const QString loggedIn
        = QStringLiteral("INFO: [CServerHandler::handleLoginAnswer] Logged in to "
                         "the server [%1] as [admin]");
    const QString end
        = QStringLiteral("WARNING: [CServerHandler::%1] Connection to the server [%2] "
                         "%3: %4. Next attempt in 200 ms.");
    const QString forbidden
        = end.arg(QStringLiteral("socketErrorSlot"), QStringLiteral("%1"), QStringLiteral("failed"),
                  QStringLiteral("QWebSocketPrivate::processHandshake: Unhandled http status code: "
                                 "403 (Forbidden)"));
    const QString refused = end.arg(QStringLiteral("socketDisconnectedSlot"), QStringLiteral("%1"),
                                    QStringLiteral("failed"), QStringLiteral("Connection refused"));
    const QString dropped
        = end.arg(QStringLiteral("socketDisconnectedSlot"), QStringLiteral("%1"),
                  QStringLiteral("lost"), QStringLiteral("The remote host closed the connection"));
    const QString closed = end.arg(QStringLiteral("socketDisconnectedSlot"), QStringLiteral("%1"),
                                   QStringLiteral("lost"), QStringLiteral("closed by the server"));

    QTest::addRow("403, then a login, then a drop")
        << QStringList{"403", "drop"} << QStringList{forbidden, loggedIn, dropped};
    QTest::addRow("403, then a login, then a close by the server")
        << QStringList{"403", "close"} << QStringList{forbidden, loggedIn, closed};
    QTest::addRow("connection refused, then a login, then a drop")
        << QStringList{"refuse", "drop"} << QStringList{refused, loggedIn, dropped};
    QTest::addRow("a drop, then a 403")
        << QStringList{"drop", "403"} << QStringList{loggedIn, dropped, forbidden};
    QTest::addRow("a drop, then a connection refused")
        << QStringList{"drop", "refuse"} << QStringList{loggedIn, dropped, refused};
    QTest::addRow("403, then a connection refused")
        << QStringList{"403", "refuse"} << QStringList{forbidden, refused};
}

void TestServerLinkLogin::attemptReasons()
{
    QFETCH(QStringList, attempts);
    QFETCH(QStringList, lines);

    f->makeLink(withReconnect(200));
    const QString url = f->fake->url();
    const quint16 port = f->fake->port();
    // Sets the server up for the next attempt as each attempt ends; after the last one the
    // period is a long one, so no attempt follows.
    bool listening = true;
    QString loginEnd; // the current attempt: a login it gives ends with a "close" or a drop
    const auto prepare = [&]() {
        if (attempts.isEmpty()) {
            f->link->setIntervals(LinkUnderTest::longPeriods());
            return;
        }
        const QString attempt = attempts.takeFirst();
        if (attempt == QLatin1String("refuse"))
            f->fake->close();
        else if (!listening)
            QVERIFY(f->fake->listen(QHostAddress::LocalHost, port));
        listening = attempt != QLatin1String("refuse");
        f->fake->setHandshake(attempt == QLatin1String("403")
                                  ? NetServerCore::Handshake::RefuseAndClose
                                  : NetServerCore::Handshake::Accept);
        loginEnd = attempt;
    };
    bool started = false;
    // Declared last, so that the handler goes before what it refers to.
    QObject handlerScope;
    connect(f->link.get(), &CServerHandler::changeServerStatus, &handlerScope,
            [&](COMM::EServerStatus status) {
                if (status == COMM::Disconnected && started)
                    prepare();
                if (status != COMM::Success)
                    return;
                FakeNetworkServer *fake = f->fake.get();
                QTimer::singleShot(0, fake, [fake, close = loginEnd == QLatin1String("close")]() {
                    if (close)
                        fake->closeConnections();
                    else
                        fake->dropConnections();
                });
            });
    prepare();
    f->link->connectSlot(url, QStringLiteral("admin"), QStringLiteral("admin"));
    started = true;

    QStringList expected;
    for (const QString &line : lines)
        expected << line.arg(url);
    QTRY_COMPARE(log->lines().filter(QStringLiteral("[CServerHandler::")).size(), expected.size());
    QCOMPARE(log->lines().filter(QStringLiteral("[CServerHandler::")), expected);
}

void TestServerLinkLogin::unreachableReasons_data()
{
    QTest::addColumn<QString>("before");  // how an attempt at the server's address ends first
    QTest::addColumn<int>("unreachable"); // attempts at the unreachable address then
    QTest::addColumn<QStringList>("lines"); // with the addresses as [server] and [nowhere]

    const QString end = QStringLiteral("WARNING: [CServerHandler::socketDisconnectedSlot] "
                                       "Connection to the server [%1] %2: %3. Next attempt in %4 "
                                       "ms.");
    const QString unreachable = end.arg(QStringLiteral("nowhere"), QStringLiteral("failed"),
                                        QStringLiteral("Network unreachable"),
                                        QStringLiteral("200"));
    const QString loggedIn = QStringLiteral("INFO: [CServerHandler::handleLoginAnswer] Logged in "
                                            "to the server [server] as [admin]");
    const QString refused = end.arg(QStringLiteral("server"), QStringLiteral("failed"),
                                    QStringLiteral("Connection refused"), QStringLiteral("600000"));
    const QString closed
        = end.arg(QStringLiteral("server"), QStringLiteral("lost"),
                  QStringLiteral("closed by the server"), QStringLiteral("600000"));
    const QString dropped = end.arg(QStringLiteral("server"), QStringLiteral("lost"),
                                    QStringLiteral("The remote host closed the connection"),
                                    QStringLiteral("600000"));

    QTest::addRow("unreachable address, first attempt")
        << QString() << 1 << QStringList{unreachable};
    QTest::addRow("unreachable address, again at the next attempt")
        << QString() << 2 << QStringList{unreachable, unreachable};
    QTest::addRow("unreachable after a refused attempt")
        << QStringLiteral("refuse") << 1 << QStringList{refused, unreachable};
    QTest::addRow("unreachable after a connection the server closed")
        << QStringLiteral("close") << 1 << QStringList{loggedIn, closed, unreachable};
    QTest::addRow("unreachable after a dropped connection")
        << QStringLiteral("drop") << 1 << QStringList{loggedIn, dropped, unreachable};
}

void TestServerLinkLogin::unreachableReasons()
{
    QFETCH(QString, before);
    QFETCH(int, unreachable);
    QFETCH(QStringList, lines);

    // A multicast address: connect() fails at once with ENETUNREACH and nothing is sent.
    const QString url = f->fake->url();
    const QString nowhere = QStringLiteral("ws://224.0.0.1:%1").arg(f->fake->port());
    if (before == QLatin1String("refuse")) {
        f->fake->close();
        f->link->connectSlot(url, QStringLiteral("admin"), QStringLiteral("admin"));
        QVERIFY(log->waitForLine(QStringLiteral("failed: Connection refused")));
    } else if (!before.isEmpty()) {
        QVERIFY(f->login());
        if (before == QLatin1String("close"))
            f->fake->closeConnections();
        else
            f->fake->dropConnections();
        QVERIFY(log->waitForLine(QStringLiteral("] lost: ")));
    }

    // connectSlot's own 5 comes first; the attempts end with one each, and after the last one
    // the period is a long one.
    int ends = 0;
    QObject handlerScope;
    connect(f->link.get(), &CServerHandler::changeServerStatus, &handlerScope,
            [&](COMM::EServerStatus status) {
                if (status == COMM::Disconnected && ++ends == unreachable + 1)
                    f->link->setIntervals(LinkUnderTest::longPeriods());
            });
    f->link->setIntervals(withReconnect(200));
    f->link->connectSlot(nowhere, QStringLiteral("admin"), QStringLiteral("admin"));

    QStringList expected;
    for (QString line : lines)
        expected << line.replace(QLatin1String("[server]"), '[' + url + ']')
                        .replace(QLatin1String("[nowhere]"), '[' + nowhere + ']');
    QTRY_COMPARE(log->lines().filter(QStringLiteral("[CServerHandler::")).size(), expected.size());
    QCOMPARE(log->lines().filter(QStringLiteral("[CServerHandler::")), expected);
}

void TestServerLinkLogin::refusedLoginAfterConnect_data()
{
    QTest::addColumn<QString>("before"); // the link when Connect is pressed
    QTest::addColumn<bool>("retried");

    QTest::addRow("Connect while logged in: retried") << QStringLiteral("logged in") << true;
    QTest::addRow("Connect while a refused login's connection is open: retried")
        << QStringLiteral("refused") << true;
    QTest::addRow("first Connect of the run: not retried") << QString() << false;
}

void TestServerLinkLogin::refusedLoginAfterConnect()
{
    QFETCH(QString, before);
    QFETCH(bool, retried);

    f->makeLink(withReconnect(200));
    if (before == QLatin1String("logged in")) {
        QVERIFY(f->login());
    } else if (before == QLatin1String("refused")) {
        f->fake->setCredentials(QStringLiteral("admin"), QStringLiteral("other"));
        f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
        QTRY_COMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 4}));
    }
    const int attempts = f->fake->connectionAttempts();
    f->fake->setCredentials(QStringLiteral("admin"), QStringLiteral("other"));
    QSignalSpy refusals(f->fake.get(), &NetServerCore::loginRefused);
    f->link->connectSlot(f->fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    QVERIFY(refusals.wait());
    QTRY_COMPARE(f->seenStatuses().constLast(), 4);

    // The server keeps the refused connection open; closing the earlier one started the period.
    if (retried) {
        QVERIFY(refusals.wait());
        QCOMPARE(f->fake->connectionAttempts(), attempts + 2);
    } else {
        QVERIFY(!refusals.wait(1000));
        QCOMPARE(f->fake->connectionAttempts(), attempts + 1);
        QCOMPARE(f->fake->connectionCount(), 1);
    }
}

QTEST_GUILESS_MAIN(TestServerLinkLogin)
#include "tst_serverlink_login.moc"
