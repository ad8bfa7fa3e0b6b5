#include "CClientBudget.h"
#include "CConnectionHandler.h"
#include "CDescriptorLimit.h"
#include "CDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "QuietTraces.h"
#include "TempWorkDir.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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
    void closedWindowIsDropped();
    void listeningPortsNarrowTheBound();
    void descriptorsUsedUp_data();
    void descriptorsUsedUp();
    void waitingPortStaysIdle_data();
    void waitingPortStaysIdle();
    void waitingPortJoinsAtTheBound();
    void stallEndsWithoutAccept_data();
    void stallEndsWithoutAccept();

private:
    // A server of the kind listening on a free port: its port, 0 when it could not listen.
    quint16 startServer(ProtocolOption kind);

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

// Runs the event loop for `ms`, out of reach of the sanitizer's type check (here and in the slot
// call it would compile into this file): the check reads memory through a pipe of its own, which
// cannot be made while every descriptor is taken.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
void runEventLoopFor(int ms)
{
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, SLOT(quit()));
    wait.exec();
}

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

// CPU seconds of the whole process so far.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds the event loop takes while it runs for `ms`.
double cpuWhileIdle(int ms)
{
    const double before = cpuSeconds();
    runEventLoopFor(ms);
    return cpuSeconds() - before;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

// Another program on a port: its port, kept until `holder` goes.
quint16 holdPort(std::unique_ptr<QTcpServer> &holder)
{
    holder = std::make_unique<QTcpServer>();
    // Below the range of connecting sockets, so no client takes it once it is let go.
    const quint16 port = freePort();
    return port && holder->listen(QHostAddress::Any, port) ? port : 0;
}

// Every descriptor left taken by the test process, under a soft limit just above those open now;
// all given back, with the limit, when it goes.
class TakenDescriptors
{
public:
    TakenDescriptors()
    {
        if (getrlimit(RLIMIT_NOFILE, &saved) != 0)
            return;
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(openDescriptors()) + 32;
        lowered_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
        if (lowered_)
            takeRest();
    }
    ~TakenDescriptors() { releaseAll(); }
    TakenDescriptors(const TakenDescriptors &) = delete;
    TakenDescriptors &operator=(const TakenDescriptors &) = delete;

    bool isValid() const { return lowered_ && !taken.empty(); }
    size_t count() const { return taken.size(); }
    // Takes what has come free since.
    void takeRest()
    {
        for (int fd; (fd = ::fcntl(0, F_DUPFD_CLOEXEC, 0)) >= 0;)
            taken.push_back(fd);
    }
    void release(int descriptors)
    {
        for (; descriptors > 0 && !taken.empty(); --descriptors) {
            ::close(taken.back());
            taken.pop_back();
        }
    }
    void releaseAll()
    {
        release(int(taken.size()));
        if (lowered_)
            setrlimit(RLIMIT_NOFILE, &saved);
        lowered_ = false;
    }

private:
    rlimit saved{};
    bool lowered_ = false;
    std::vector<int> taken;
};

const QString ShortageLine = QStringLiteral("WARNING: [CDeviceHandler::acceptErrorSlot]");
const QString FreeAgainLine = QStringLiteral("descriptors are free again, the ports accept clients "
                                             "again.");

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
    QTRY_COMPARE(CClientBudget::shared().openConnections(), 0);
    QVERIFY(!CClientBudget::shared().isAcceptingPaused());
    QVERIFY(!CClientBudget::shared().isAcceptingStalled());
    CClientBudget::shared().setConnectionBound(0);
    CDeviceHandler::setKeepAliveForNewConnections(CDeviceHandler::SKeepAlive());
    CDeviceHandler::setListenRetryPeriodForNewServers(CDeviceHandler::ListenRetryPeriodMs);
}

quint16 tst_Descriptors::startServer(ProtocolOption kind)
{
    const quint16 port = freePort();
    if (!port)
        return 0;
    servers.push_back(std::make_unique<CDeviceHandler>(port, kind, DevEui));
    return servers.back()->isListening() ? port : 0;
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

    CClientBudget::shared().setConnectionBound(bound);
    QList<quint16> ports;
    for (int kind : std::as_const(kinds)) {
        ports.append(startServer(ProtocolOption(kind)));
        QVERIFY(ports.last());
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
    QTRY_COMPARE(CClientBudget::shared().openConnections(), first);
    turnEventLoop();
    QCOMPARE(CClientBudget::shared().openConnections(), first);
    const bool full = clients >= bound;
    QCOMPARE(CClientBudget::shared().isAcceptingPaused(), full);
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
        QCOMPARE(CClientBudget::shared().openConnections(), first);
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
    QTRY_COMPARE(CClientBudget::shared().openConnections(), second);
    turnEventLoop();
    QCOMPARE(CClientBudget::shared().openConnections(), second);
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
    QTRY_COMPARE(CClientBudget::shared().openConnections(), 0);
    QVERIFY(!CClientBudget::shared().isAcceptingPaused());
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
    // Unacknowledged answers are given up on as soon as an idle link would be.
    QCOMPARE(option(IPPROTO_TCP, TCP_USER_TIMEOUT),
             (expected.idleSeconds + expected.intervalSeconds * expected.probes) * 1000);
    if (!shortened) {
        QCOMPARE(expected.idleSeconds, 60);
        QCOMPARE(expected.intervalSeconds, 10);
        QCOMPARE(expected.probes, 6);
        QCOMPARE(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
    } else {
        QCOMPARE(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 5000);
    }
}

// A master that sends on and never reads closes its receive window: unacknowledged answers end
// the connection after the user time-out, though the master acknowledges every probe.
void tst_Descriptors::closedWindowIsDropped()
{
    const CDeviceHandler::SKeepAlive shortened{1, 1, 2};
    CDeviceHandler::setKeepAliveForNewConnections(shortened);
    const quint16 port = freePort();
    QVERIFY(port);
    servers.push_back(std::make_unique<CDeviceHandler>(port, ProtocolModbus, DevEui));
    QTcpSocket master;
    master.setReadBufferSize(1);
    master.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    master.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(master.waitForConnected(5000));
    QTRY_COMPARE(CClientBudget::shared().openConnections(), 1);
    // Requests for 125 registers: their answers fill the master's window at once.
    const QByteArray wide = QByteArray::fromHex("00010000000601030000007d");
    QElapsedTimer elapsed;
    elapsed.start();
    // The master keeps sending while it can, and reads nothing.
    const auto flood = [&] {
        if (master.bytesToWrite() < 4096)
            master.write(wide.repeated(64));
        return CClientBudget::shared().openConnections() == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(flood(), 30000);
    qInfo("dropped after %.1f s", elapsed.elapsed() / 1000.0);
    QVERIFY(elapsed.elapsed() >= shortened.userTimeoutMs() - 500);
}

void tst_Descriptors::listeningPortsNarrowTheBound()
{
    // Each listening port holds a descriptor the clients cannot have.
    const int none = CClientBudget::shared().connectionBound();
    for (int i = 1; i <= 3; ++i) {
        const quint16 port = freePort();
        QVERIFY(port);
        servers.push_back(std::make_unique<CDeviceHandler>(port, ProtocolModbus, DevEui));
        QVERIFY(servers.back()->isListening());
        QCOMPARE(CClientBudget::shared().portDescriptors(), i);
        if (CDescriptorLimit::softLimit() > 0)
            QCOMPARE(CClientBudget::shared().connectionBound(), none - i);
    }
    servers.pop_back();
    QCOMPARE(CClientBudget::shared().portDescriptors(), 2);
    if (CDescriptorLimit::softLimit() > 0) {
        QCOMPARE(CClientBudget::shared().connectionBound(), none - 2);
        QCOMPARE(CDescriptorLimit::connectionBound(2),
                 int(CDescriptorLimit::softLimit()) - CDescriptorLimit::ReservedDescriptors - 2);
    }
}

void tst_Descriptors::descriptorsUsedUp_data()
{
    QTest::addColumn<QList<int>>("kinds");
    // A few descriptors come free first, and a port opened then ends the stall with its client.
    QTest::addColumn<bool>("endedElsewhere");
    QTest::addRow("one port") << QList<int>{ProtocolModbus} << false;
    QTest::addRow("three ports, one transparent")
        << QList<int>{ProtocolModbus, ProtocolTCP, ProtocolModbus} << false;
    QTest::addRow("stall ended by a port opened meanwhile")
        << QList<int>{ProtocolModbus, ProtocolModbus} << true;
}

// Descriptors run out beyond what the bound foresaw (here the test process takes them): the
// ports pause without spinning and all serve again once descriptors are free.
void tst_Descriptors::descriptorsUsedUp()
{
    QFETCH(QList<int>, kinds);
    QFETCH(bool, endedElsewhere);
    // The bound is not what stops them here.
    CClientBudget::shared().setConnectionBound(1000);

    QList<quint16> ports;
    for (int kind : std::as_const(kinds)) {
        ports.append(startServer(ProtocolOption(kind)));
        QVERIFY(ports.last());
    }
    // Two clients a port, connected in the system before the servers' turn.
    std::vector<Client> all(2 * ports.size());
    for (size_t i = 0; i < all.size(); ++i) {
        all[i].kind = ProtocolOption(kinds.at(int(i) % kinds.size()));
        all[i].socket->connectToHost(QHostAddress::LocalHost, ports.at(int(i) % ports.size()));
        QVERIFY(all[i].socket->waitForConnected(5000));
        all[i].socket->write(all[i].kind == ProtocolModbus ? ReadRequest
                                                           : QByteArray::fromHex("0102"));
        QVERIFY(all[i].socket->flush());
    }

    // Every descriptor left is taken.
    TakenDescriptors taken;
    QVERIFY(taken.isValid());

    const double cpuBefore = cpuSeconds();
    QElapsedTimer elapsed;
    elapsed.start();
    // Two retry periods pass; the accept fails each time, logged once.
    runEventLoopFor(2 * CClientBudget::AcceptRetryMs + 500);
    const double cpu = cpuSeconds() - cpuBefore;
    const bool stalled = CClientBudget::shared().isAcceptingStalled();
    const int accepted = CClientBudget::shared().openConnections();
    QVERIFY(stalled);
    QCOMPARE(accepted, 0);
    if (endedElsewhere) {
        QVERIFY(taken.count() > 16);
        taken.release(8);
        const quint16 port = freePort();
        QVERIFY(port);
        servers.push_back(std::make_unique<CDeviceHandler>(port, ProtocolModbus, DevEui));
        QVERIFY(servers.back()->isListening());
        Client late;
        late.socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(late.socket->waitForConnected(5000));
        late.socket->write(ReadRequest);
        QTRY_COMPARE(servers.back()->connectionCount(), 1);
        all.push_back(std::move(late));
    }
    taken.releaseAll();
    QCOMPARE(log->count(QStringLiteral("WARNING: [CDeviceHandler::acceptErrorSlot]")),
             endedElsewhere ? log->count(QStringLiteral("free again, the ports accept")) : 1);
    QVERIFY(log->contains(QStringLiteral("can't accept a client: Too many open files. 0 client "
                                         "connections are open: no port accepts further clients "
                                         "until descriptors are free again.")));
    qInfo("%.3f s of CPU in %.1f s while no descriptor was left", cpu, elapsed.elapsed() / 1000.0);
    // A spinning accept would take the whole time.
    QVERIFY2(cpu < 0.5 * elapsed.elapsed() / 1000.0, qPrintable(QString::number(cpu)));

    // Every port serves again within a retry period.
    QTRY_COMPARE(CClientBudget::shared().openConnections(), int(all.size()));
    for (Client &client : all)
        if (client.kind == ProtocolModbus)
            QTRY_VERIFY(client.answered());
    QVERIFY(!CClientBudget::shared().isAcceptingStalled());
    QCOMPARE(log->count(QStringLiteral("descriptors are free again, the ports accept clients "
                                       "again.")),
             log->count(QStringLiteral("WARNING: [CDeviceHandler::acceptErrorSlot]")));
    // Qt reports the old error again whenever a port's queue runs empty: the ports go on
    // accepting all the same.
    const int warnings = log->count(QStringLiteral("WARNING: [CDeviceHandler::acceptErrorSlot]"));
    std::vector<Client> later(ports.size());
    for (int i = 0; i < ports.size(); ++i) {
        later[i].kind = ProtocolOption(kinds.at(i));
        later[i].socket->connectToHost(QHostAddress::LocalHost, ports.at(i));
        QVERIFY(later[i].socket->waitForConnected(5000));
        if (later[i].kind == ProtocolModbus)
            later[i].socket->write(ReadRequest);
    }
    QTRY_COMPARE(CClientBudget::shared().openConnections(), int(all.size() + later.size()));
    for (Client &client : later)
        if (client.kind == ProtocolModbus)
            QTRY_VERIFY(client.answered());
    QCOMPARE(log->count(QStringLiteral("WARNING: [CDeviceHandler::acceptErrorSlot]")), warnings);
}

namespace {

// How all ports are paused and then resumed while another port waits for its listen retry.
enum Resumed { BoundLeft, StallEndedByAccept, StalledPortRemoved };

} // namespace

void tst_Descriptors::waitingPortStaysIdle_data()
{
    QTest::addColumn<int>("resumed");
    QTest::addRow("bound reached and left") << int(BoundLeft);
    QTest::addRow("stall ended by an accept") << int(StallEndedByAccept);
    QTest::addRow("stall ended by its port's removal") << int(StalledPortRemoved);
}

// A port held by another program waits for its listen retry beside one that listens: pausing
// and resuming the ports leave the waiting one alone, and the event loop idles afterwards.
void tst_Descriptors::waitingPortStaysIdle()
{
    QFETCH(int, resumed);
    // The waiting port is not tried again within the window measured.
    CDeviceHandler::setListenRetryPeriodForNewServers(6000);
    CClientBudget::shared().setConnectionBound(resumed == BoundLeft ? 2 : 1000);
    std::unique_ptr<QTcpServer> holder;
    const quint16 held = holdPort(holder);
    const quint16 port = startServer(ProtocolModbus);
    QVERIFY(held && port);
    servers.push_back(std::make_unique<CDeviceHandler>(held, ProtocolModbus, DevEui));
    QVERIFY(!servers.back()->isListening());

    std::vector<Client> clients(2);
    for (Client &client : clients) {
        client.socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.socket->waitForConnected(5000));
        client.socket->write(ReadRequest);
        QVERIFY(client.socket->flush());
    }
    if (resumed == BoundLeft) {
        QTRY_VERIFY(CClientBudget::shared().isAcceptingPaused());
        clients.front().socket->disconnectFromHost();
        QTRY_VERIFY(!CClientBudget::shared().isAcceptingPaused());
    } else {
        TakenDescriptors taken;
        QVERIFY(taken.isValid());
        // The retry fails as the first accept did.
        runEventLoopFor(CClientBudget::AcceptRetryMs + 300);
        QVERIFY(CClientBudget::shared().isAcceptingStalled());
        if (resumed == StalledPortRemoved)
            servers.erase(servers.begin());
        taken.releaseAll();
        if (resumed == StallEndedByAccept)
            QTRY_COMPARE(CClientBudget::shared().openConnections(), 2);
    }

    const double cpu = cpuWhileIdle(2000);
    qInfo("%.3f s of CPU in 2 s after the ports resumed", cpu);
    QVERIFY2(cpu < 0.2, qPrintable(QString::number(cpu)));
    QVERIFY(!servers.back()->isListening());
    QVERIFY(!CClientBudget::shared().isAcceptingStalled());
}

// A port that waits for its listen retry holds no descriptor. Once the other program lets go it
// listens at its retry, and at the bound it waits with the others until connections close.
void tst_Descriptors::waitingPortJoinsAtTheBound()
{
    CDeviceHandler::setListenRetryPeriodForNewServers(100);
    std::unique_ptr<QTcpServer> holder;
    const quint16 held = holdPort(holder);
    const quint16 port = startServer(ProtocolModbus);
    QVERIFY(held && port);
    const int descriptors = openDescriptors();
    servers.push_back(std::make_unique<CDeviceHandler>(held, ProtocolModbus, DevEui));
    CDeviceHandler &waiting = *servers.back();
    QVERIFY(!waiting.isListening());
    QCOMPARE(waiting.socketDescriptor(), qintptr(-1));
    QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(CClientBudget::shared().portDescriptors(), 1);
    if (CDescriptorLimit::softLimit() > 0)
        QCOMPARE(CClientBudget::shared().connectionBound(), CDescriptorLimit::connectionBound(1));

    CClientBudget::shared().setConnectionBound(2);
    std::vector<Client> first(2);
    for (Client &client : first) {
        client.socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.socket->waitForConnected(5000));
    }
    QTRY_VERIFY(CClientBudget::shared().isAcceptingPaused());
    holder.reset();
    QTRY_VERIFY(waiting.isListening());
    QCOMPARE(CClientBudget::shared().portDescriptors(), 2);

    Client late;
    late.socket->connectToHost(QHostAddress::LocalHost, held);
    QVERIFY(late.socket->waitForConnected(5000));
    late.socket->write(ReadRequest);
    runEventLoopFor(300);
    QCOMPARE(waiting.connectionCount(), 0);
    QVERIFY(!late.answered());

    first.front().socket->disconnectFromHost();
    QTRY_COMPARE(waiting.connectionCount(), 1);
    QTRY_VERIFY(late.answered());
}

void tst_Descriptors::stallEndsWithoutAccept_data()
{
    QTest::addColumn<bool>("moved");
    QTest::addRow("stalled port's device removed") << false;
    QTest::addRow("stalled port moved while no client waits elsewhere") << true;
}

// The clients a failed accept left waiting go with their port, removed or moved: the stall ends
// without a line, and a later shortage is told again, once, and ends at its accept.
void tst_Descriptors::stallEndsWithoutAccept()
{
    QFETCH(bool, moved);
    CClientBudget::shared().setConnectionBound(1000);
    const quint16 stalledPort = startServer(ProtocolModbus);
    const quint16 otherPort = startServer(ProtocolModbus);
    // Closed while the second shortage still has its client waiting.
    const quint16 sparePort = startServer(ProtocolModbus);
    const quint16 newPort = freePort();
    QVERIFY(stalledPort && otherPort && sparePort && newPort);
    CDeviceHandler *const stalled = servers.front().get();
    const auto removeServer = [this](const CDeviceHandler *server) {
        for (auto it = servers.begin(); it != servers.end(); ++it)
            if (it->get() == server)
                return void(servers.erase(it));
    };
    const CDeviceHandler *const spare = servers.back().get();

    std::vector<Client> waiting(2);
    for (Client &client : waiting) {
        client.socket->connectToHost(QHostAddress::LocalHost, stalledPort);
        QVERIFY(client.socket->waitForConnected(5000));
        client.socket->write(ReadRequest);
        QVERIFY(client.socket->flush());
    }
    TakenDescriptors taken;
    QVERIFY(taken.isValid());
    runEventLoopFor(CClientBudget::AcceptRetryMs + 300);
    QVERIFY(CClientBudget::shared().isAcceptingStalled());
    QCOMPARE(log->count(ShortageLine), 1);

    quint16 nextPort = otherPort;
    if (moved) {
        // Room for the move alone.
        taken.release(2);
        QVERIFY(stalled->appendDevice(newPort));
        nextPort = newPort;
    } else {
        removeServer(stalled);
    }
    taken.takeRest();
    QVERIFY(!CClientBudget::shared().isAcceptingStalled());
    runEventLoopFor(CClientBudget::AcceptRetryMs + 300);
    QVERIFY(!CClientBudget::shared().isAcceptingStalled());
    QCOMPARE(log->count(FreeAgainLine), 0);
    QCOMPARE(CClientBudget::shared().openConnections(), 0);

    // A second shortage: a client comes and finds no descriptor.
    taken.release(4);
    Client next;
    next.socket->connectToHost(QHostAddress::LocalHost, nextPort);
    QVERIFY(next.socket->waitForConnected(5000));
    next.socket->write(ReadRequest);
    QVERIFY(next.socket->flush());
    taken.takeRest();
    runEventLoopFor(CClientBudget::AcceptRetryMs + 300);
    QVERIFY(CClientBudget::shared().isAcceptingStalled());
    QCOMPARE(log->count(ShortageLine), 2);
    // Its client still waits: another port closing ends nothing.
    removeServer(spare);
    taken.takeRest();
    QVERIFY(CClientBudget::shared().isAcceptingStalled());
    runEventLoopFor(CClientBudget::AcceptRetryMs + 300);
    QVERIFY(CClientBudget::shared().isAcceptingStalled());
    QCOMPARE(log->count(ShortageLine), 2);
    QCOMPARE(log->count(FreeAgainLine), 0);

    taken.releaseAll();
    QTRY_COMPARE(CClientBudget::shared().openConnections(), 1);
    QTRY_VERIFY(next.answered());
    QVERIFY(!CClientBudget::shared().isAcceptingStalled());
    QCOMPARE(log->count(FreeAgainLine), 1);
    QCOMPARE(log->count(ShortageLine), 2);
}

QTEST_GUILESS_MAIN(tst_Descriptors)
#include "tst_descriptors.moc"
