#include "LinkUnderTest.h"
#include "LogCapture.h"
#include "TempWorkDir.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The simulator program, driven by the gateway's own link.
class TestNetServerSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void usage_data();
    void usage();
    void gatewayAgainstSimulator();

private:
    // Starts the simulator on a free port and returns its URL (empty when it did not start).
    QString startSimulator(const QStringList &arguments);

    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<QProcess> simulator;
    QByteArray standardOutput;
    QByteArray standardError;
};

void TestNetServerSim::initTestCase()
{
    registerApiMetaTypes();
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    log = std::make_unique<LogCapture>();
}

void TestNetServerSim::cleanup()
{
    if (simulator && simulator->state() != QProcess::NotRunning) {
        simulator->kill();
        simulator->waitForFinished();
    }
    simulator.reset();
    standardOutput.clear();
    standardError.clear();
}

QString TestNetServerSim::startSimulator(const QStringList &arguments)
{
    simulator = std::make_unique<QProcess>();
    connect(simulator.get(), &QProcess::readyReadStandardOutput, this,
            [this]() { standardOutput += simulator->readAllStandardOutput(); });
    connect(simulator.get(), &QProcess::readyReadStandardError, this,
            [this]() { standardError += simulator->readAllStandardError(); });
    simulator->start(QStringLiteral(NETSERVER_SIM), arguments);
    const QRegularExpression listening(QStringLiteral("listening on (ws://127\\.0\\.0\\.1:\\d+)"));
    QRegularExpressionMatch match;
    const bool ended = QTest::qWaitFor(
        [&]() {
            match = listening.match(QString::fromUtf8(standardError));
            return match.hasMatch() || simulator->state() == QProcess::NotRunning;
        },
        10000);
    return ended ? match.captured(1) : QString();
}

void TestNetServerSim::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("uplinks");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::addRow("help") << QStringList{"--help"} << QString() << 0 << "--uplinks <file>";
    QTest::addRow("login missing") << QStringList{"--password", "pw"} << QString() << 2
                                   << "--login and --password are required";
    QTest::addRow("bad port") << QStringList{"--login", "op", "--password", "pw", "--port", "x"}
                              << QString() << 2 << "invalid port";
    QTest::addRow("bad uplink line")
        << QStringList{"--login", "op", "--password", "pw", "--port", "0", "--uplinks"}
        << "{\"type\":\"CONF_UP\"}\n{broken\n"
        << 1 << "line 2 is not a JSON object";
}

void TestNetServerSim::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, uplinks);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    if (!uplinks.isEmpty())
        arguments << workDir->writeFile(QStringLiteral("bad.jsonl"), uplinks.toUtf8());
    QProcess process;
    process.start(QStringLiteral(NETSERVER_SIM), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    const QString printed
        = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    QVERIFY2(printed.contains(output), qPrintable(printed));
}

void TestNetServerSim::gatewayAgainstSimulator()
{
    const QString devices = workDir->writeFile(QStringLiteral("devices.json"), R"JSON(
        {"devices_list": [
            {"devEui": "70b3d5e75e000011", "devName": "meter", "OTAA": {"appEui": "AA01"}},
            {"devEui": "70b3d5e75e000012", "devName": "pipe", "OTAA": {"appEui": "AA02"}}
        ]})JSON");
    const QString uplinks = workDir->writeFile(QStringLiteral("uplinks.jsonl"), R"JSON(
# two uplinks of the meter
{"type": "UNCONF_UP", "devEui": "70b3d5e75e000011", "port": 2, "data": "0100fa"}

{"type": "CONF_UP", "devEui": "70b3d5e75e000011", "port": 2, "data": "0100fb", "fcnt": 40}
)JSON");
    const QString url
        = startSimulator({"--port", "0", "--login", "op", "--password", "pw", "--devices", devices,
                          "--uplinks", uplinks, "--period", "50", "--once"});
    QVERIFY2(!url.isEmpty(), standardError.constData());

    LinkUnderTest link;
    QSignalSpy status(&link, &CServerHandler::changeServerStatus);
    QSignalSpy packets(&link, &CServerHandler::newPacketReceived);
    QSignalSpy deviceList(&link, &CServerHandler::getDevicesListResp);
    link.connectSlot(url, QStringLiteral("op"), QStringLiteral("pw"));
    QTRY_COMPARE(statuses(status), (QList<int>{5, 1, 3, 0}));

    QVERIFY(link.getDevicesList({QStringLiteral("AA01")}));
    QVERIFY(deviceList.wait());
    const auto list = deviceList.first().at(1).value<QList<API::SServerDeviceInfo>>();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(1).devEui, QStringLiteral("70b3d5e75e000012"));
    QCOMPARE(list.at(1).appEui, QStringLiteral("AA02"));

    // The sequence, once, in order, with the missing time stamp and frame counter filled.
    QTRY_COMPARE(packets.count(), 2);
    const auto first = packets.at(0).at(0).value<API::SApiDeviceData>();
    const auto second = packets.at(1).at(0).value<API::SApiDeviceData>();
    QCOMPARE(first.devEui, QStringLiteral("70B3D5E75E000011"));
    QCOMPARE(first.data, QByteArray::fromHex("0100fa"));
    QVERIFY(first.ts > 0);
    QCOMPARE(first.fcnt, 0u);
    QCOMPARE(second.data, QByteArray::fromHex("0100fb"));
    QCOMPARE(second.fcnt, 40u);
    QTRY_VERIFY(standardError.contains("every uplink pushed once"));

    link.sendData(QStringLiteral("70b3d5e75e000012"), "0102");
    QTRY_VERIFY(standardOutput.contains("downlink devEui=70b3d5e75e000012 port=2 ack=true "
                                        "data=0102\n"));

    // Last packets are the uplinks pushed, the newest first.
    link.getDeviceLastPackets(QStringLiteral("70b3d5e75e000011"));
    QTRY_COMPARE(packets.count(), 3);
    QCOMPARE(packets.at(2).at(0).value<API::SApiDeviceData>().fcnt, 40u);
}

QTEST_GUILESS_MAIN(TestNetServerSim)
#include "tst_netserver_sim.moc"
