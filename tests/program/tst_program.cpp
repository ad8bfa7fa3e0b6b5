#include "FreePort.h"
#include "ModbusClient.h"
#include "ProgramFixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace ProgramFixture;

namespace {
const QString Login = QStringLiteral("gateway");
const QString Password = QStringLiteral("s3cret");

// Climate-sensor packet 1: temperature 250, humidity 55, pressure 100000, battery 1000
// (little-endian on the air), CO2 400.
const QString ClimatePacket = QStringLiteral("0100fa37000186a0e8030190");
const QList<quint16> ClimateRegisters = {250, 55, 0x0001, 0x86a0, 1000, 400};
constexpr int ClimateFirstRegister = ModbusStartAddr + 10;

// One transparent chunk (type 3, total 5 bytes, length 5, chunk 0 of 1) carrying "Hello".
const QByteArray TcpPacket = QByteArrayLiteral("Hello");
const QString TcpChunk = QStringLiteral("03000005050001") + QString::fromLatin1(TcpPacket.toHex());

QJsonObject serverDevice(const QString &devEui, const QString &name, const QString &appEui)
{
    return {{QStringLiteral("devEui"), devEui},
            {QStringLiteral("devName"), name},
            {QStringLiteral("OTAA"), QJsonObject{{QStringLiteral("appEui"), appEui}}}};
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(content) == content.size();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
} // namespace

// The built gateway in a working directory of its own, logged in to netserver-sim: uplinks are
// decoded and served over Modbus-TCP, a transparent device's packet reaches its TCP client and
// the client's reply goes back as a downlink.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void wholeProgram_data();
    void wholeProgram();
    void portHeldAtTheStart();
};

void TestProgram::wholeProgram_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("connectText");
    QTest::addRow("en_US") << "en_US.UTF-8" << QString();
    QTest::addRow("ru_RU") << "ru_RU.UTF-8" << QStringLiteral("Подлкючиться");
}

void TestProgram::wholeProgram()
{
    QFETCH(QString, lang);
    QFETCH(QString, connectText);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const quint16 simPort = freePort();
    const quint16 modbusPort = freePort();
    const quint16 tcpPort = freePort();
    QVERIFY(simPort && modbusPort && tcpPort);
    QVERIFY(simPort != modbusPort && modbusPort != tcpPort && simPort != tcpPort);
    const QString prepared = prepareWorkDir(dir.path(), modbusPort, tcpPort);
    QVERIFY2(prepared.isEmpty(), qPrintable(prepared));
    {
        QSettings settings(dir.filePath(QStringLiteral("settings.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("server/ip"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("server/port"), QString::number(simPort));
        settings.setValue(QStringLiteral("server/login"), Login);
        settings.setValue(QStringLiteral("server/password"), Password);
    }
    const QJsonArray devices{serverDevice(ModbusDevEui, ModbusName, ClimateAppEui),
                             serverDevice(TcpDevEui, TcpName, SerialAppEui)};
    QVERIFY(
        writeFile(dir.filePath(QStringLiteral("devices.json")), QJsonDocument(devices).toJson()));
    const QByteArray uplinks
        = QJsonDocument(uplink(ModbusDevEui, ClimatePacket, -87)).toJson(QJsonDocument::Compact)
          + '\n' + QJsonDocument(uplink(TcpDevEui, TcpChunk, -95)).toJson(QJsonDocument::Compact)
          + '\n';
    QVERIFY(writeFile(dir.filePath(QStringLiteral("uplinks.jsonl")), uplinks));

    QProcess simulator;
    simulator.start(QStringLiteral(NETSERVER_SIM),
                    {QStringLiteral("--port"), QString::number(simPort), QStringLiteral("--login"),
                     Login, QStringLiteral("--password"), Password, QStringLiteral("--devices"),
                     dir.filePath(QStringLiteral("devices.json")), QStringLiteral("--uplinks"),
                     dir.filePath(QStringLiteral("uplinks.jsonl")), QStringLiteral("--period"),
                     QStringLiteral("200")});
    QVERIFY2(simulator.waitForStarted(10000), qPrintable(simulator.errorString()));
    QTRY_VERIFY2_WITH_TIMEOUT(outputOf(simulator).contains(QStringLiteral("listening on")),
                              qPrintable(outputOf(simulator)), 30000);

    QProcessEnvironment env = cleanEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LANG"), lang);
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TRANSLATION_PROBE));
    // A sanitizer runtime may not come first once the probe is preloaded.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               (asan.isEmpty() ? QString() : asan + QLatin1Char(':'))
                   + QStringLiteral("verify_asan_link_order=0"));
    QProcess gateway;
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));

    // Logged in: the simulator accepted the saved credentials and the log shows decoded uplinks.
    QTRY_VERIFY2_WITH_TIMEOUT(
        outputOf(simulator).contains(QStringLiteral("login of \"%1\" accepted").arg(Login)),
        qPrintable(outputOf(simulator).right(2000) + outputOf(gateway).right(2000)), 30000);
    const QString logFile = dir.filePath(QStringLiteral("history.log"));
    const QString decoded
        = QStringLiteral("INFO: [CAllDeviceHandler::processDataSlot] Recived data "
                         "[%1] from device [%2].")
              .arg(ClimatePacket, ModbusDevEui);
    QTRY_VERIFY2_WITH_TIMEOUT(readFile(logFile).contains(decoded),
                              qPrintable(outputOf(gateway).right(4000)), 30000);

    // The translation: installed only for a Russian locale, and it covers the main window.
    const QString probeLine
        = QStringLiteral("[translation-probe] installed: MainWindow \"Connect\" "
                         "-> \"%1\"")
              .arg(connectText);
    if (connectText.isEmpty())
        QVERIFY2(!outputOf(gateway).contains(QStringLiteral("[translation-probe]")),
                 qPrintable(outputOf(gateway).right(4000)));
    else
        QVERIFY2(outputOf(gateway).contains(probeLine), qPrintable(outputOf(gateway).right(4000)));

    ModbusClient modbus(QStringLiteral("127.0.0.1"), modbusPort);
    QVERIFY2(modbus.connectToServer(), qPrintable(modbus.lastError()));
    QCOMPARE(modbus.readHoldingRegisters(ClimateFirstRegister, ClimateRegisters.size()),
             std::optional<QList<quint16>>(ClimateRegisters));
    QCOMPARE(modbus.readInputRegisters(ClimateFirstRegister, ClimateRegisters.size()),
             std::optional<QList<quint16>>(ClimateRegisters));
    modbus.close();

    // A chunk is passed on only while a client is connected; the simulator repeats it.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, tcpPort);
    QVERIFY2(client.waitForConnected(10000), qPrintable(client.errorString()));
    QByteArray received;
    QTRY_VERIFY2_WITH_TIMEOUT((received += client.readAll()).contains(TcpPacket),
                              qPrintable(outputOf(gateway).right(4000)), 30000);
    QVERIFY(received.startsWith(TcpPacket));

    client.write(QByteArray::fromHex("0102"));
    QVERIFY(client.waitForBytesWritten(10000));
    const QString downlink = QStringLiteral("downlink devEui=%1 ").arg(TcpDevEui);
    QTRY_VERIFY2_WITH_TIMEOUT(outputOf(simulator).contains(downlink),
                              qPrintable(outputOf(gateway).right(4000)), 30000);
    const QString simulatorOutput = outputOf(simulator);
    const QString line = simulatorOutput.mid(simulatorOutput.indexOf(downlink)).section('\n', 0, 0);
    QVERIFY2(line.endsWith(QStringLiteral(" data=040102")), qPrintable(line));

    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
    simulator.kill();
    QVERIFY(simulator.waitForFinished(10000));
}

// Another program holds the Modbus port when the gateway starts and lets it go later: the gateway
// says so, listens once the port is free and answers a master there. The retry period is
// shortened through the gateway's test variable.
void TestProgram::portHeldAtTheStart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    quint16 modbusPort = 0;
    quint16 tcpPort = 0;
    const QString prepared = prepareWorkDirOnFreePorts(dir.path(), modbusPort, tcpPort);
    QVERIFY2(prepared.isEmpty(), qPrintable(prepared));
    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::Any, modbusPort));

    QProcessEnvironment env = cleanEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LORA_BRINDLE_LISTEN_RETRY_MS"), QStringLiteral("300"));
    QProcess gateway;
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));

    const QString refused = QStringLiteral("WARNING: [CDeviceHandler::listenOnPort] Port %1 can't "
                                           "be listened on: ")
                                .arg(modbusPort);
    const QString logFile = dir.filePath(QStringLiteral("history.log"));
    QTRY_VERIFY2_WITH_TIMEOUT(readFile(logFile).contains(refused),
                              qPrintable(outputOf(gateway).right(4000)), 30000);
    // Standard error is read as its bytes come.
    QTRY_VERIFY(outputOf(gateway).contains(refused));
    // Tried again without a further line while the port stays held.
    QTest::qWait(1000);
    QCOMPARE(readFile(logFile).count(refused), 1);
    otherProgram.close();

    const QString listens = QStringLiteral("INFO: [CDeviceHandler::listenOnPort] Port %1 is "
                                           "listened on now: clients can reach the devices of "
                                           "this port.")
                                .arg(modbusPort);
    QTRY_VERIFY2_WITH_TIMEOUT(readFile(logFile).contains(listens),
                              qPrintable(outputOf(gateway).right(4000)), 30000);
    QTRY_VERIFY(outputOf(gateway).contains(listens));
    ModbusClient modbus(QStringLiteral("127.0.0.1"), modbusPort);
    QVERIFY2(modbus.connectToServer(), qPrintable(modbus.lastError()));
    // No uplink has come: the device's registers read 0.
    QCOMPARE(modbus.readHoldingRegisters(ClimateFirstRegister, ClimateRegisters.size()),
             std::optional<QList<quint16>>(QList<quint16>(ClimateRegisters.size(), 0)));
    modbus.close();

    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
