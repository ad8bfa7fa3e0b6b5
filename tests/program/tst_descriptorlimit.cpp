#include "CDescriptorLimit.h"
#include "FakeNetworkServer.h"
#include "FreePort.h"
#include "ProgramFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace ProgramFixture;

namespace {

constexpr int ReservedDescriptors = CDescriptorLimit::ReservedDescriptors;
// The child's exit code when its descriptor limit could not be set.
constexpr int LimitNotSet = 97;
// Function 3 for the six climate registers at 110, and what they hold once the packet below is
// stored (see tst_program).
const QByteArray ClimateRequest = QByteArray::fromHex("0007000000060103006e0006");
const QByteArray ClimateAnswer = QByteArray::fromHex("00070000000f01030c00fa00370001"
                                                     "86a003e80190");
const QString ClimatePacket = QStringLiteral("0100fa37000186a0e8030190");
// Function 3 for one register: what every master asks once.
const QByteArray PollRequest = QByteArray::fromHex("000100000006010300640001");
const QString BoundLine = QStringLiteral("WARNING: [CDeviceHandler::incomingConnection] %1 client "
                                         "connections are open");
const QString ResumeLine = QStringLiteral("INFO: [CDeviceHandler::connectionClosed]");

// All log files of the run, joined.
QString allLogs(const QString &dir)
{
    QString text;
    const QDir folder(dir);
    for (const QString &name : folder.entryList({QStringLiteral("history*.log")}, QDir::Files)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

// Log files written so far: one more at each rotation.
int logFiles(const QString &dir)
{
    return int(QDir(dir).entryList({QStringLiteral("history*.log")}, QDir::Files).size());
}

// CPU seconds the process has used so far, from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / sysconf(_SC_CLK_TCK);
}

int openDescriptors(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot).size());
}

// A Modbus master that polls once when connected and keeps what comes back.
struct Master
{
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    quint16 port = 0;
    QByteArray received;
    // Its poll has been answered.
    bool counted = false;
};

} // namespace

// The built gateway started with a low descriptor limit and crowds of Modbus masters: it serves
// as many as the limit allows, lets the others wait in the listen backlog without spinning,
// stores uplinks, rotates its log and survives a link drop meanwhile, and serves the waiting
// masters once others leave. The soft limit is raised to the hard one.
class TestDescriptorLimit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void crowdOfMasters_data();
    void crowdOfMasters();
};

void TestDescriptorLimit::initTestCase()
{
    // The masters' sockets are this process's descriptors.
    CDescriptorLimit::raiseToHardLimit();
}

void TestDescriptorLimit::crowdOfMasters_data()
{
    QTest::addColumn<int>("soft");
    QTest::addColumn<int>("hard");
    QTest::addColumn<int>("masters");
    QTest::addColumn<bool>("linkDrop");
    // Modbus ports, the masters spread over them; one transparent port besides.
    QTest::addColumn<int>("modbusPorts");
    // Beyond the bound, no more masters than the listen backlogs (50 each) hold: the others would
    // wait for the system's retried handshakes, a minute and more apart.
    QTest::addRow("limit 256, masters beyond the bound, link drop")
        << 256 << 256 << 230 << true << 1;
    QTest::addRow("soft 1024 raised to hard 4096, 1500 masters")
        << 1024 << 4096 << 1500 << false << 1;
    // Their listening sockets need 121 of the 192 descriptors beside the reserve.
    QTest::addRow("limit 256, 120 ports, masters beyond the bound")
        << 256 << 256 << 110 << false << 120;
}

void TestDescriptorLimit::crowdOfMasters()
{
    QFETCH(int, soft);
    QFETCH(int, hard);
    QFETCH(int, masters);
    QFETCH(bool, linkDrop);
    QFETCH(int, modbusPorts);
    rlimit own{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &own) == 0);
    if (own.rlim_max < rlim_t(hard) || own.rlim_cur < rlim_t(masters + 200))
        QSKIP("The descriptor limit of the test process is too low for this row.");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QList<quint16> ports;
    while (ports.size() < modbusPorts + 1) {
        const quint16 port = freePort();
        QVERIFY(port);
        if (!ports.contains(port))
            ports.append(port);
    }
    const quint16 tcpPort = ports.takeLast();
    const quint16 modbusPort = ports.first();
    const QString prepared = prepareWorkDir(dir.path(), modbusPort, tcpPort, ports.mid(1));
    QVERIFY2(prepared.isEmpty(), qPrintable(prepared));

    FakeNetworkServer fake;
    QVERIFY(fake.isListening());
    {
        QSettings settings(dir.filePath(QStringLiteral("settings.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("server/ip"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("server/port"), QString::number(fake.port()));
        settings.setValue(QStringLiteral("server/login"), QStringLiteral("admin"));
        settings.setValue(QStringLiteral("server/password"), QStringLiteral("admin"));
        // Small files: the log rotates again and again while the masters poll.
        settings.setValue(QStringLiteral("file_max_size"), 20000);
        settings.setValue(QStringLiteral("max_files_counter"), 100000);
    }

    QProcessEnvironment env = cleanEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    QProcess gateway;
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.setChildProcessModifier([soft, hard] {
        const rlimit limit{rlim_t(soft), rlim_t(hard)};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(LimitNotSet);
    });
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));
    const qint64 pid = gateway.processId();
    QTRY_VERIFY2_WITH_TIMEOUT(fake.loggedInCount() == 1 || gateway.state() == QProcess::NotRunning,
                              qPrintable(outputOf(gateway).right(4000)), 30000);
    QVERIFY2(gateway.state() == QProcess::Running,
             gateway.exitCode() == LimitNotSet ? "The child's descriptor limit could not be set"
                                               : qPrintable(outputOf(gateway).right(4000)));
    const int atStart = openDescriptors(pid);

    // Every listening port holds a descriptor of its own.
    const int bound = hard - ReservedDescriptors - (modbusPorts + 1);
    const int served = qMin(masters, bound);
    std::vector<Master> crowd(masters);
    int answered = 0;
    for (size_t i = 0; i < crowd.size(); ++i) {
        Master &master = crowd[i];
        master.port = ports.at(int(i % ports.size()));
        QTcpSocket *socket = master.socket.get();
        connect(socket, &QTcpSocket::connected, socket, [socket] { socket->write(PollRequest); });
        connect(socket, &QTcpSocket::readyRead, socket, [&master, &answered] {
            master.received += master.socket->readAll();
            if (!master.counted && master.received.size() >= 11) {
                master.counted = true;
                ++answered;
            }
        });
        socket->connectToHost(QHostAddress::LocalHost, master.port);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(answered == served,
                              qPrintable(QStringLiteral("%1 answered").arg(answered)), 60000);
    QCOMPARE(gateway.state(), QProcess::Running);

    if (masters < bound) {
        QVERIFY(!allLogs(dir.path()).contains(BoundLine.arg(bound)));
        qInfo("limit %d/%d: %d masters answered, %d descriptors open (%d at start)", soft, hard,
              answered, openDescriptors(pid), atStart);
    } else {
        QTRY_VERIFY(allLogs(dir.path()).contains(BoundLine.arg(bound)));
        QCOMPARE(allLogs(dir.path()).count(BoundLine.arg(bound)), 1);

        // While masters wait: an uplink is stored and read back by a master that is in, and the
        // log rotates on.
        const int files = logFiles(dir.path());
        std::vector<Master *> in;
        for (Master &master : crowd)
            if (master.counted)
                in.push_back(&master);
        Master &reader = *in.at(0);
        // The device of the reader's port sends.
        const int portIndex = int(ports.indexOf(reader.port));
        QCOMPARE(fake.pushUplink(uplink(portIndex == 0 ? ModbusDevEui
                                                       : extraModbusDevEui(portIndex - 1),
                                        ClimatePacket, -80)),
                 1);
        QTRY_VERIFY_WITH_TIMEOUT(allLogs(dir.path()).contains(ClimatePacket), 30000);
        // Asked again until the save has been made.
        const auto readBack = [&reader] {
            if (reader.received == ClimateAnswer)
                return true;
            if (reader.received.size() >= ClimateAnswer.size()) {
                reader.received.clear();
                reader.socket->write(ClimateRequest);
            }
            return false;
        };
        reader.received.clear();
        reader.socket->write(ClimateRequest);
        QTRY_VERIFY_WITH_TIMEOUT(readBack(), 30000);
        // Polls enough to fill the log file more than once.
        Master &poller = *in.at(1);
        poller.socket->write(PollRequest.repeated(500));
        QTRY_VERIFY_WITH_TIMEOUT(poller.received.size() >= 501 * 11, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(logFiles(dir.path()) > files + 1, 30000);
        QVERIFY(!allLogs(dir.path()).contains(QStringLiteral("Invalid SQL request")));
        QCOMPARE(answered, served);

        // What the waiting masters cost is reported, not asserted.
        const double cpuBefore = cpuSeconds(pid);
        QElapsedTimer elapsed;
        elapsed.start();
        if (linkDrop) {
            // The link drops; the gateway lives on and logs in again after its reconnect period.
            fake.dropConnections();
            QTRY_VERIFY_WITH_TIMEOUT(fake.loggedInCount() == 0, 10000);
            QTRY_VERIFY2_WITH_TIMEOUT(fake.loggedInCount() == 1,
                                      qPrintable(outputOf(gateway).right(4000)), 90000);
            QCOMPARE(gateway.state(), QProcess::Running);
            QCOMPARE(fake.pushUplink(uplink(ModbusDevEui, ClimatePacket, -80)), 1);
        }
        if (!linkDrop)
            QTest::qWait(4000);
        qInfo("limit %d/%d, %d ports, at the bound of %d with %d masters waiting: %.2f s of CPU "
              "in %.1f s, %d descriptors open (%d at start)",
              soft, hard, modbusPorts + 1, bound, masters - served, cpuSeconds(pid) - cpuBefore,
              elapsed.elapsed() / 1000.0, openDescriptors(pid), atStart);

        // Masters leave: those waiting in the backlog are served.
        int leaving = masters - served;
        for (Master &master : crowd) {
            if (leaving > 0 && master.counted) {
                master.socket->abort();
                --leaving;
            }
        }
        QTRY_VERIFY2_WITH_TIMEOUT(answered == masters,
                                  qPrintable(QStringLiteral("%1 answered").arg(answered)), 60000);
        QVERIFY(allLogs(dir.path()).contains(ResumeLine));
    }

    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestDescriptorLimit)
#include "tst_descriptorlimit.moc"
