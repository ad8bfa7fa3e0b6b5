#include "CAllDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "TempWorkDir.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// Loading of the template folder, the type getters, and the devices with their real TCP ports.
class tst_DeviceRegistry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void loading();
    void typeGetters();
    void folderMissingOrEmpty_data();
    void folderMissingOrEmpty();
    void sharedModbusPort();
    void portProtocol();
    void movePort();
    void moveRefused_data();
    void moveRefused();
    void removalTakesTheDevicesOwnKind_data();
    void removalTakesTheDevicesOwnKind();
    void twoSpellingsOfOneDevEui_data();
    void twoSpellingsOfOneDevEui();

private:
    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    CAllDeviceHandler *registry = nullptr;
};

namespace {

const QByteArray BrokenJson = R"({ "app_eui": "01", "dev_type": })";

QByteArray templateJson(const QString &appEui, const QString &devType, const QString &color = {})
{
    const QString colorPart
        = color.isEmpty() ? QString() : QStringLiteral(R"("color":"%1",)").arg(color);
    return QStringLiteral(R"({"app_eui":"%1","dev_type":"%2",%3
        "server_data":[{"data_code":"ts","reg_map_bias":4,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"time"}],
        "device_packets":[{"packet_type":1,"packet_size":3,"packet_fields":[
            {"packet_bias":1,"data_bit_bias":0,"data_bit_size":16,"data_type":"uinteger",
             "reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"level"}]}]})")
        .arg(appEui, devType, colorPart)
        .toUtf8();
}

DB::SDeviceRegMapDescription device(const QString &devEui, quint16 port)
{
    DB::SDeviceRegMapDescription info;
    info.devEui = devEui;
    info.appEui = QStringLiteral("A1");
    info.name = devEui;
    info.port = port;
    return info;
}

} // namespace

void tst_DeviceRegistry::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    // Name order decides between the two files of AppEUI A1.
    work->writeFile("deviceFolder/a-first.json", templateJson("a1", "First", "#102030"));
    work->writeFile("deviceFolder/b-second.json", templateJson("A1", "Second"));
    work->writeFile("deviceFolder/c-broken.json", BrokenJson);
    work->writeFile("deviceFolder/d-invalid.json", R"({"app_eui":"D4","dev_type":"no packets"})");
    work->writeFile("deviceFolder/e-meter.json", templateJson("e5", "Meter"));
    work->writeFile("deviceFolder/notes.txt", templateJson("F6", "not a json name"));
    work->writeFile("deviceFolder/pipesTCP.json", R"({"data":[
        {"app_eui":"t1","dev_type":"Pipe","color":"navy"},
        {"app_eui":"T1","dev_type":"Pipe again"},
        {"dev_type":"no eui"},
        {"app_eui":"t2","dev_type":"Bridge"}]})");
    log = std::make_unique<LogCapture>();
    registry = CAllDeviceHandler::getInstance();
    QVERIFY(registry);
    QCOMPARE(CAllDeviceHandler::getInstance(), registry);
}

void tst_DeviceRegistry::loading()
{
    QVERIFY(log->waitForLine("Device [A1] inited SUCCESSULLY"));
    QCOMPARE(log->count("Device [A1] inited SUCCESSULLY"), 1);
    QVERIFY(log->contains("Device [A1] already inited. Skip"));
    QVERIFY(log->contains("Device [E5] inited SUCCESSULLY"));
    QVERIFY(!log->contains("F6"));
    QVERIFY(!log->contains("D4"));

    QJsonParseError error;
    QJsonDocument::fromJson(BrokenJson, &error);
    QVERIFY(error.error != QJsonParseError::NoError);
    QVERIFY(log->contains(
        QStringLiteral("ERROR: [CAllDeviceHandler] Invalid parsing JSON file "
                       "[%1]: error[%2], row[%3]")
            .arg(QDir::currentPath() + "/deviceFolder/c-broken.json", error.errorString())
            .arg(error.offset)));

    // The longer name ending in "TCP.json" holds transparent device types, not a template.
    QVERIFY(log->contains("TCP device [T1] inited SUCCESSULLY"));
    QVERIFY(log->contains("TCP device [T1] already inited. Skip"));
    QVERIFY(log->contains("TCP device [T2] inited SUCCESSULLY"));
    QVERIFY(!registry->isDeviceTemplateExist("T1"));
}

void tst_DeviceRegistry::typeGetters()
{
    const QList<SDeviceTypeInfo> types = registry->getDeviceTypeList();
    QCOMPARE(types.size(), 2);
    QCOMPARE(types.at(0).appEui, QString("A1"));
    QCOMPARE(types.at(0).devType, QString("First"));
    QCOMPARE(types.at(0).color, QColor(0x10, 0x20, 0x30));
    QCOMPARE(types.at(1).appEui, QString("E5"));
    QCOMPARE(types.at(1).color, QColor("#94999D"));

    const QList<SDeviceTypeInfo> tcpTypes = registry->getTCPDeviceTypeList();
    QCOMPARE(tcpTypes.size(), 2);
    QCOMPARE(tcpTypes.at(0).devType, QString("Pipe"));
    QCOMPARE(tcpTypes.at(0).color, QColor("navy"));
    QCOMPARE(tcpTypes.at(1).appEui, QString("T2"));

    QVERIFY(registry->isDeviceTemplateExist("E5"));
    QVERIFY(!registry->isDeviceTemplateExist("e5")); // keys are upper case, compared exactly
    QVERIFY(registry->isTCPTemplateExist("T2"));
    QVERIFY(!registry->isTCPTemplateExist("A1"));

    QCOMPARE(registry->getDeviceDescription("E5").devType, QString("Meter"));
    QCOMPARE(registry->getTCPDeviceDescription("T1").devType, QString("Pipe"));
    for (const SDeviceTypeInfo &unknown :
         {registry->getDeviceDescription("T1"), registry->getTCPDeviceDescription("A1")}) {
        QVERIFY(unknown.appEui.isEmpty());
        QVERIFY(unknown.devType.isEmpty());
        QVERIFY(!unknown.color.isValid());
        QCOMPARE(unknown.color.red(), 0);
        QCOMPARE(unknown.color.green(), 0);
        QCOMPARE(unknown.color.blue(), 0);
    }

    const STemplateRegMap map = registry->getTemplateRegMap("A1");
    QCOMPARE(map.appEui, QString("A1"));
    QCOMPARE(map.registers.size(), 2);
    QCOMPARE(map.registers.at(0).name, QString("time"));
    const STemplateRegMap none = registry->getTemplateRegMap("ZZ");
    QVERIFY(none.appEui.isEmpty());
    QVERIFY(none.registers.isEmpty());
}

void tst_DeviceRegistry::folderMissingOrEmpty_data()
{
    QTest::addColumn<bool>("makeFolder");
    QTest::addColumn<QString>("line");
    QTest::addRow("missing") << false
                             << "[CAllDeviceHandler::init] Dirrectory with device signature is not "
                                "existed";
    QTest::addRow("no json files")
        << true << "[CAllDeviceHandler::init] Dirrectory with device signature is empty";
}

void tst_DeviceRegistry::folderMissingOrEmpty()
{
    QFETCH(bool, makeFolder);
    QFETCH(QString, line);

    TempWorkDir other;
    QVERIFY(other.isValid());
    if (makeFolder)
        other.writeFile("deviceFolder/readme.txt", "{}");
    log->clear();
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("\"%1\"").arg(line)));
    QVERIFY(QMetaObject::invokeMethod(registry, "init", Qt::DirectConnection));
    QVERIFY(log->waitForLine(line));
    QCOMPARE(registry->getDeviceTypeList().size(), 2); // nothing added, nothing lost
}

void tst_DeviceRegistry::sharedModbusPort()
{
    const quint16 port = freePort();
    QVERIFY(port);
    log->clear();
    registry->addNewDevice(device("AA01", port), ProtocolModbus);
    registry->addNewDevice(device("AA02", port), ProtocolModbus);
    QVERIFY(log->waitForLine(
        QStringLiteral("[CAllDeviceHandler::addNewDevice] New device: DevEUI[AA02], port[%1]")
            .arg(port)));
    QCOMPARE(log->count(QStringLiteral("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is "
                                       "already open")
                            .arg(port)),
             1);
    QVERIFY(acceptsConnections(port));
    QCOMPARE(registry->getPortProtocol(port), std::optional<ProtocolOption>(ProtocolModbus));

    QTest::ignoreMessage(
        QtDebugMsg, qPrintable(QStringLiteral("[CAllDeviceHandler::removeDevice] Delete device: "
                                              "DevEUI[AA01], port[%1]")
                                   .arg(port)));
    registry->removeDevice("AA01", port);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(acceptsConnections(port)); // the second device keeps the server
    QCOMPARE(registry->getPortProtocol(port), std::optional<ProtocolOption>(ProtocolModbus));

    registry->removeDevice("AA02", port);
    QVERIFY(!registry->getPortProtocol(port).has_value());
    QTRY_VERIFY(canListen(port)); // the server is gone once its deferred deletion ran

    log->clear();
    registry->removeDevice("AA02", port);
    QVERIFY(log->waitForLine(
        QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] uncknown port [%1]!")
            .arg(port)));
}

void tst_DeviceRegistry::portProtocol()
{
    const quint16 modbusPort = freePort();
    registry->addNewDevice(device("BB01", modbusPort), ProtocolModbus);
    const quint16 tcpPort = freePort();
    registry->addNewDevice(device("BB02", tcpPort), ProtocolTCP);
    const quint16 free = freePort();

    QCOMPARE(registry->getPortProtocol(modbusPort), std::optional<ProtocolOption>(ProtocolModbus));
    QCOMPARE(registry->getPortProtocol(tcpPort), std::optional<ProtocolOption>(ProtocolTCP));
    QVERIFY(!registry->getPortProtocol(free).has_value());
    QVERIFY(acceptsConnections(tcpPort));

    registry->removeDevice("BB01", modbusPort);
    registry->removeDevice("BB02", tcpPort);
    QVERIFY(!registry->getPortProtocol(modbusPort).has_value());
    QVERIFY(!registry->getPortProtocol(tcpPort).has_value());
    QTRY_VERIFY(canListen(tcpPort));
}

void tst_DeviceRegistry::movePort()
{
    const quint16 oldPort = freePort();
    registry->addNewDevice(device("CC01", oldPort), ProtocolTCP);
    const quint16 newPort = freePort();
    QVERIFY(newPort != oldPort);

    log->clear();
    QVERIFY(registry->updatePortRegisteredDevice(device("CC01", newPort), oldPort));
    QVERIFY(log->waitForLine(QStringLiteral("[CAllDeviceHandler::addNewDevice] Device DevEUI[CC01] "
                                            "updated is new port[%1]!")
                                 .arg(newPort)));
    QCOMPARE(registry->getPortProtocol(newPort), std::optional<ProtocolOption>(ProtocolTCP));
    QVERIFY(!registry->getPortProtocol(oldPort).has_value());
    QVERIFY(acceptsConnections(newPort));
    QVERIFY(canListen(oldPort));

    // The device is now known under its new port only.
    registry->removeDevice("CC01", newPort);
    QVERIFY(!registry->getPortProtocol(newPort).has_value());
    QTRY_VERIFY(canListen(newPort));
}

void tst_DeviceRegistry::moveRefused_data()
{
    QTest::addColumn<QString>("devEui");
    // 0 the device's port, 1 a port without server, 2 the port of another transparent device
    QTest::addColumn<int>("oldPortChoice");
    // 0 same as old, 1 free, 2 held by a Modbus server, 3 held by another program
    QTest::addColumn<int>("newPortChoice");
    QTest::addColumn<QString>("line");

    QTest::addRow("unregistered device")
        << "DD99" << 0 << 1
        << "[CAllDeviceHandler::addNewDevice] Device DevEUI[DD99] is not registered!";
    QTest::addRow("old port without server")
        << "DD01" << 1 << 1
        << "WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] No TCP server on old port";
    QTest::addRow("old port of another transparent device")
        << "DD01" << 2 << 1
        << "WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Old port [%2] is not the "
           "port [%1] of device DevEUI[DD01]!";
    QTest::addRow("same port") << "DD01" << 0 << 0
                               << "WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Device "
                                  "DevEUI[DD01] is already on port";
    QTest::addRow("new port held by a Modbus server")
        << "DD01" << 0 << 2 << "WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Port [";
    QTest::addRow("new port held by another program")
        << "DD01" << 0 << 3
        << "WARNING: [CDeviceHandler::appendDevice] Port %3 can't be listened on: ";
}

void tst_DeviceRegistry::moveRefused()
{
    QFETCH(QString, devEui);
    QFETCH(int, oldPortChoice);
    QFETCH(int, newPortChoice);
    QFETCH(QString, line);

    const quint16 tcpPort = freePort();
    registry->addNewDevice(device("DD01", tcpPort), ProtocolTCP);
    const quint16 otherTcpPort = freePort();
    registry->addNewDevice(device("DD03", otherTcpPort), ProtocolTCP);
    const quint16 modbusPort = freePort();
    registry->addNewDevice(device("DD02", modbusPort), ProtocolModbus);
    const quint16 free = freePort();
    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::Any, 0));
    const quint16 held = otherProgram.serverPort();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, tcpPort);
    QVERIFY(client.waitForConnected(5000));

    const quint16 oldPort = QList<quint16>{tcpPort, free, otherTcpPort}.at(oldPortChoice);
    const quint16 newPort = QList<quint16>{oldPort, free, modbusPort, held}.at(newPortChoice);
    log->clear();
    QVERIFY(!registry->updatePortRegisteredDevice(device(devEui, newPort), oldPort));
    // %1 the device's port, %2 the other transparent device's, %3 the other program's.
    line.replace(QLatin1String("%1"), QString::number(tcpPort))
        .replace(QLatin1String("%2"), QString::number(otherTcpPort))
        .replace(QLatin1String("%3"), QString::number(held));
    QVERIFY(log->waitForLine(line));

    // Nothing moved: every server stays where it was and still serves, the device's client too.
    QCOMPARE(registry->getPortProtocol(tcpPort), std::optional<ProtocolOption>(ProtocolTCP));
    QCOMPARE(registry->getPortProtocol(otherTcpPort), std::optional<ProtocolOption>(ProtocolTCP));
    QCOMPARE(registry->getPortProtocol(modbusPort), std::optional<ProtocolOption>(ProtocolModbus));
    QVERIFY(!registry->getPortProtocol(free).has_value());
    QVERIFY(!registry->getPortProtocol(held).has_value());
    for (quint16 port : {tcpPort, otherTcpPort, modbusPort})
        QVERIFY(acceptsConnections(port));
    API::SApiDeviceData uplink;
    uplink.devEui = QStringLiteral("DD01");
    uplink.data = QByteArray::fromHex("03000005050001") + "Hello";
    registry->newPacketReceivedSlot(uplink);
    QByteArray received;
    QTRY_VERIFY((received += client.readAll()).size() >= 5);
    QCOMPARE(received, QByteArrayLiteral("Hello"));

    registry->removeDevice("DD01", tcpPort);
    registry->removeDevice("DD03", otherTcpPort);
    registry->removeDevice("DD02", modbusPort);
    QVERIFY(!registry->getPortProtocol(tcpPort).has_value());
    QTRY_VERIFY(canListen(tcpPort));
}

void tst_DeviceRegistry::removalTakesTheDevicesOwnKind_data()
{
    QTest::addColumn<int>("removedKind");
    QTest::addRow("the transparent device") << int(ProtocolTCP);
    QTest::addRow("the Modbus device") << int(ProtocolModbus);
}

void tst_DeviceRegistry::removalTakesTheDevicesOwnKind()
{
    QFETCH(int, removedKind);

    // A Modbus server waits for the port another program held at its start; once the port is
    // free, a transparent device's server listens there before the Modbus one tries again.
    auto otherProgram = std::make_unique<QTcpServer>();
    QVERIFY(otherProgram->listen(QHostAddress::Any, 0));
    const quint16 port = otherProgram->serverPort();
    log->clear();
    registry->addNewDevice(device("EE01", port), ProtocolModbus);
    QVERIFY(log->waitForLine(
        QStringLiteral("WARNING: [CDeviceHandler::listenOnPort] Port %1 can't be listened on")
            .arg(port)));
    otherProgram.reset();
    registry->addNewDevice(device("EE02", port), ProtocolTCP);
    QVERIFY(acceptsConnections(port));

    const bool tcpRemoved = removedKind == ProtocolTCP;
    registry->removeDevice(tcpRemoved ? "EE02" : "EE01", port);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(registry->getPortProtocol(port), std::optional<ProtocolOption>(ProtocolOption(
                                                  tcpRemoved ? ProtocolModbus : ProtocolTCP)));
    // The transparent server went with its device, or it still serves the port.
    if (tcpRemoved)
        QTRY_VERIFY(canListen(port));
    else
        QVERIFY(acceptsConnections(port));

    registry->removeDevice(tcpRemoved ? "EE01" : "EE02", port);
    QVERIFY(!registry->getPortProtocol(port).has_value());
    QTRY_VERIFY(canListen(port));
}

void tst_DeviceRegistry::twoSpellingsOfOneDevEui_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("onePort");
    QTest::addRow("Modbus, one port") << int(ProtocolModbus) << true;
    QTest::addRow("Modbus, two ports") << int(ProtocolModbus) << false;
    QTest::addRow("transparent, two ports") << int(ProtocolTCP) << false;
}

// A file of an earlier version holds one DevEUI twice, in two spellings: removing one leaves the
// other served.
void tst_DeviceRegistry::twoSpellingsOfOneDevEui()
{
    QFETCH(int, kind);
    QFETCH(bool, onePort);
    const auto protocol = ProtocolOption(kind);
    const quint16 lowerPort = freePort();
    const quint16 upperPort = onePort ? lowerPort : freePort();
    QVERIFY(lowerPort && upperPort);
    const QString lower = kind == ProtocolTCP ? QStringLiteral("ff0a") : QStringLiteral("ff0b");
    registry->addNewDevice(device(lower, lowerPort), protocol);
    registry->addNewDevice(device(lower.toUpper(), upperPort), protocol);

    registry->removeDevice(lower, lowerPort);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(registry->getPortProtocol(upperPort), std::optional<ProtocolOption>(protocol));
    QVERIFY(acceptsConnections(upperPort));
    if (!onePort)
        QTRY_VERIFY(canListen(lowerPort));

    registry->removeDevice(lower.toUpper(), upperPort);
    QVERIFY(!registry->getPortProtocol(upperPort).has_value());
    QTRY_VERIFY(canListen(upperPort));
}

QTEST_GUILESS_MAIN(tst_DeviceRegistry)
#include "tst_deviceregistry.moc"
