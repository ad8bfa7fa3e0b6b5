#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CServerHandler.h"
#include "FakeNetworkServer.h"
#include "FakeServerLogin.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "ModbusClient.h"
#include "SideConnection.h"
#include "StorageThread.h"
#include "TempWorkDir.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {
constexpr int StartAddr = 40;
} // namespace

// In process, wired as at start-up: the fake network server pushes "rx" messages to the link,
// the registry decodes them, and clients on the device ports see the results.
class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void modbusDeviceServesPushedUplink();
    void transparentDeviceBothWays();
    void deviceStoredInOtherLetterCase_data();
    void deviceStoredInOtherLetterCase();
    void oneDevEuiInTwoSpellings_data();
    void oneDevEuiInTwoSpellings();

private:
    // Stores the device and hands it to the registry. With `inFile`, the stored DevEUI is
    // rewritten to that spelling first, as files of earlier versions hold it, and the registry
    // gets it so, as start-up reads it from the file.
    void registerDevice(const QString &devEui, const QString &appEui, quint16 port,
                        ProtocolOption protocol, const QString &inFile = QString(),
                        int startAddr = StartAddr);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<FakeNetworkServer> fake;
    CDataBaseHandler *storage = nullptr;
    CAllDeviceHandler *registry = nullptr;
};

namespace {

const QString ModbusEui = QStringLiteral("70B3D5E75E0E2E01");
const QString TcpEui = QStringLiteral("70B3D5E75E0E2E02");
const QString ModbusAppEui = QStringLiteral("E2E0000000000001");
const QString TcpAppEui = QStringLiteral("E2E0000000000002");

// Packet 1 of five bytes: an unsigned and a signed big-endian 16-bit field.
const QByteArray ModbusTemplate = R"JSON({
    "app_eui": "e2e0000000000001", "dev_type": "end to end",
    "device_packets": [{"packet_type": 1, "packet_size": 5, "packet_fields": [
        {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger",
         "endianness": "be", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16,
         "data_name": "level"},
        {"packet_bias": 3, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer",
         "endianness": "be", "reg_map_bias": 1, "reg_bit_bias": 0, "reg_bit_size": 16,
         "data_name": "offset"}]}]})JSON";

const QByteArray TcpTemplate
    = R"JSON({"data": [{"app_eui": "e2e0000000000002", "dev_type": "bridge"}]})JSON";

QJsonObject rx(const QString &devEui, const char *hexPayload)
{
    return {{"type", "CONF_UP"}, {"devEui", devEui}, {"ts", 1700000000123.0},
            {"fcnt", 7},         {"port", 2},        {"data", QLatin1String(hexPayload)}};
}

} // namespace

void tst_EndToEnd::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    work->writeFile("deviceFolder/end-to-end.json", ModbusTemplate);
    work->writeFile("deviceFolder/TCP.json", TcpTemplate);
    log = std::make_unique<LogCapture>();
    registerApiMetaTypes();
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");

    CServerHandler *link = CServerHandler::getInstance();
    storage = CDataBaseHandler::getInstance();
    QVERIFY(storage);
    startStorageThread(storage);

    registry = CAllDeviceHandler::getInstance();
    QVERIFY(registry->isDeviceTemplateExist(ModbusAppEui));
    QVERIFY(registry->isTCPTemplateExist(TcpAppEui));
    connect(link, &CServerHandler::newPacketReceived, registry,
            &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);

    fake = std::make_unique<FakeNetworkServer>();
    QVERIFY(fake->isListening());
    QVERIFY(logInToFake(link, *fake));
    QTRY_COMPARE(fake->loggedInCount(), 1);
}

void tst_EndToEnd::registerDevice(const QString &devEui, const QString &appEui, quint16 port,
                                  ProtocolOption protocol, const QString &inFile, int startAddr)
{
    DB::SDeviceRegMapDescription info;
    info.devEui = devEui;
    info.appEui = appEui;
    info.name = devEui;
    info.startAddr = protocol == ProtocolModbus ? startAddr : 0;
    if (protocol == ProtocolModbus)
        info.registers = registry->getTemplateRegMap(appEui).registers;
    info.port = port;
    QVERIFY(storage->registerNewDevice(info, protocol));
    if (!inFile.isEmpty()) {
        SideConnection side;
        QVERIFY(side.exec(QStringLiteral("UPDATE %1 SET dev_eui='%2' WHERE dev_eui='%3';")
                              .arg(protocol == ProtocolTCP ? DB::DbNames::DevicesTcpTable
                                                           : DB::DbNames::DevicesTable,
                                   inFile, devEui)));
        info.devEui = inFile;
    }
    registry->addNewDevice(info, protocol);
}

void tst_EndToEnd::modbusDeviceServesPushedUplink()
{
    const quint16 port = freePort();
    registerDevice(ModbusEui, ModbusAppEui, port, ProtocolModbus);
    QSignalSpy stored(registry, &CAllDeviceHandler::newDataForDevice);

    QCOMPARE(fake->pushUplink(rx(ModbusEui, "0101f4ff9c")), 1);
    QVERIFY(stored.wait(10000));
    QCOMPARE(stored.front().at(0).toString(), ModbusEui);

    const std::optional<QList<quint16>> values = ModbusClient::runAside([port] {
        ModbusClient client(QStringLiteral("127.0.0.1"), port);
        return client.connectToServer() ? client.readHoldingRegisters(StartAddr, 2)
                                        : std::optional<QList<quint16>>();
    });
    QVERIFY(values);
    QCOMPARE(*values, (QList<quint16>{500, 0xff9c}));
}

void tst_EndToEnd::transparentDeviceBothWays()
{
    const quint16 port = freePort();
    registerDevice(TcpEui, TcpAppEui, port, ProtocolTCP);
    QCOMPARE(registry->getPortProtocol(port), std::optional<ProtocolOption>(ProtocolTCP));

    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, this, [&] { received.append(client.readAll()); });
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));

    // Client to device: one downlink with the bytes behind "04". Its arrival also shows that
    // the gateway has accepted the client before any chunk comes.
    client.write("hi");
    QVERIFY(fake->waitForCommand(QStringLiteral("send_data_req")));
    const QJsonObject entry = fake->receivedCommands(QStringLiteral("send_data_req"))
                                  .front()
                                  .value(QStringLiteral("data_list"))
                                  .toArray()
                                  .first()
                                  .toObject();
    QCOMPARE(entry.value(QStringLiteral("devEui")).toString(), TcpEui);
    QCOMPARE(entry.value(QStringLiteral("data")).toString(), QStringLiteral("046869"));

    // Device to client: type 3 and type 5 chunks of a 9-byte packet, total big-endian.
    QCOMPARE(fake->pushUplink(rx(TcpEui, "03000009030003616263")), 1);
    QCOMPARE(fake->pushUplink(rx(TcpEui, "050102030405000903010364656699")), 1);
    // Too short for the length it states: dropped, the packet stays under reassembly.
    QCOMPARE(fake->pushUplink(rx(TcpEui, "0d00000904020367")), 1);
    QVERIFY(log->waitForLine(
        QStringLiteral("ERROR: [CAllDeviceHandler::Parse_Data_from_Device] Payload size [8] is "
                       "less than the chunk header size [7] plus the chunk length [4] of device "
                       "[%1]. Data discarded.")
            .arg(TcpEui)));
    QCOMPARE(fake->pushUplink(rx(TcpEui, "0d000009030203676869")), 1);
    QTRY_COMPARE(received, QByteArray("abcdefghi"));
    QVERIFY(log->contains(
        QStringLiteral("INFO: [CAllDeviceHandler::Parse_Data_from_Device] Recived data "
                       "[03000009030003616263] from device [%1].")
            .arg(TcpEui)));
}

void tst_EndToEnd::deviceStoredInOtherLetterCase_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<QString>("inFile");

    QTest::addRow("modbus, lower case") << ProtocolModbus << "70b3d5e75e0e2e1a";
    QTest::addRow("modbus, mixed case") << ProtocolModbus << "70B3d5E75e0E2e1B";
    QTest::addRow("transparent, lower case") << ProtocolTCP << "70b3d5e75e0e2e1c";
}

// Uplinks carry the DevEUI in upper case, whatever the server's device list gave.
void tst_EndToEnd::deviceStoredInOtherLetterCase()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, inFile);

    const QString devEui = inFile.toUpper();
    const quint16 port = freePort();
    QTcpSocket client;
    if (kind == ProtocolModbus) {
        registerDevice(devEui, ModbusAppEui, port, kind, inFile);
        QSignalSpy stored(registry, &CAllDeviceHandler::newDataForDevice);
        QCOMPARE(fake->pushUplink(rx(devEui, "010102fffe")), 1);
        QVERIFY(stored.wait(10000));
        QCOMPARE(ModbusClient::readHoldingAside(port, StartAddr, 2),
                 (QList<quint16>{0x0102, 0xfffe}));
    } else {
        registerDevice(devEui, TcpAppEui, port, kind, inFile);
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(5000));
        QCOMPARE(fake->pushUplink(rx(devEui, "03000003030001616263")), 1);
        QTRY_COMPARE(client.bytesAvailable(), 3);
        QCOMPARE(client.readAll(), QByteArray("abc"));
    }

    // Removed with the DevEUI as the file holds it, it frees its port.
    registry->removeDevice(inFile, port);
    QVERIFY(!registry->getPortProtocol(port).has_value());
    QTRY_VERIFY([port] {
        QTcpServer probe;
        return probe.listen(QHostAddress::Any, port);
    }());
}

void tst_EndToEnd::oneDevEuiInTwoSpellings_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    // Stored in this order (the first is the older row); copy 1 has start address 80, copy 2
    // start address 40.
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("onePort");
    // Which copy the registry is handed first (start-up hands them over in name order).
    QTest::addColumn<int>("addedFirst");
    // The copy whose uplinks are decoded and stored, before and after copy `removed` (0: none)
    // is deleted as the window deletes it.
    QTest::addColumn<int>("servedBefore");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("servedAfter");

    QTest::addRow("neither upper case, handed over newer first")
        << ProtocolModbus << "70b3d5e75e0e2e2a"
        << "70B3d5e75e0e2e2A" << false << 2 << 2 << 0 << 0;
    QTest::addRow("neither upper case, one port, newer removed")
        << ProtocolModbus << "70b3d5e75e0e2e2b"
        << "70B3d5e75e0e2e2B" << true << 2 << 2 << 2 << 1;
    QTest::addRow("upper copy removed, other port")
        << ProtocolModbus << "70b3d5e75e0e2e2c"
        << "70B3D5E75E0E2E2C" << false << 1 << 2 << 2 << 1;
    QTest::addRow("upper copy removed, same port")
        << ProtocolModbus << "70b3d5e75e0e2e2d"
        << "70B3D5E75E0E2E2D" << true << 1 << 2 << 2 << 1;
    QTest::addRow("lower copy removed, other port")
        << ProtocolModbus << "70b3d5e75e0e2e2e"
        << "70B3D5E75E0E2E2E" << false << 1 << 2 << 1 << 2;
    QTest::addRow("transparent, upper copy removed")
        << ProtocolTCP << "70b3d5e75e0e2e2f"
        << "70B3D5E75E0E2E2F" << false << 1 << 2 << 2 << 1;
    QTest::addRow("transparent, lower copy removed")
        << ProtocolTCP << "70b3d5e75e0e2e30"
        << "70B3D5E75E0E2E30" << false << 1 << 2 << 1 << 2;
}

// A file of an earlier version may hold one DevEUI twice, in two spellings: uplinks are decoded
// and stored for one and the same copy, and once one copy is deleted the other gets them.
void tst_EndToEnd::oneDevEuiInTwoSpellings()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, onePort);
    QFETCH(int, addedFirst);
    QFETCH(int, servedBefore);
    QFETCH(int, removed);
    QFETCH(int, servedAfter);

    const QString devEui = first.toUpper();
    const QString table
        = kind == ProtocolTCP ? DB::DbNames::DevicesTcpTable : DB::DbNames::DevicesTable;
    const QStringList spellings{first, second};
    const QList<int> starts{80, 40};
    QList<quint16> ports{freePort()};
    ports.append(onePort ? ports.first() : freePort());
    QList<DB::SDeviceRegMapDescription> copies;
    SideConnection side;
    for (int i = 0; i < 2; ++i) {
        // Stored under a stand-in, then given its spelling, as an earlier version stored it.
        DB::SDeviceRegMapDescription info;
        info.devEui = QStringLiteral("STAND-IN");
        info.appEui = kind == ProtocolTCP ? TcpAppEui : ModbusAppEui;
        info.name = spellings.at(i);
        info.startAddr = kind == ProtocolModbus ? starts.at(i) : 0;
        if (kind == ProtocolModbus)
            info.registers = registry->getTemplateRegMap(ModbusAppEui).registers;
        info.port = ports.at(i);
        QVERIFY(storage->registerNewDevice(info, kind));
        QVERIFY(side.exec(QStringLiteral("UPDATE %1 SET dev_eui='%2' WHERE dev_eui='STAND-IN';")
                              .arg(table, spellings.at(i))));
        info.devEui = spellings.at(i);
        copies.append(info);
    }
    registry->addNewDevice(copies.at(addedFirst - 1), kind);
    registry->addNewDevice(copies.at(2 - addedFirst), kind);

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    if (kind == ProtocolTCP) {
        for (quint16 port : ports) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(clients.back()->waitForConnected(5000));
        }
    }
    // Pushes an uplink and checks that copy `served` got it, the other not.
    const auto expectServed = [&](int served, const char *payload, QList<quint16> words) {
        if (kind == ProtocolTCP) {
            QCOMPARE(fake->pushUplink(rx(devEui, "03000003030001616263")), 1);
            QTcpSocket &client = *clients.at(size_t(served - 1));
            QTRY_COMPARE(client.bytesAvailable(), 3);
            QCOMPARE(client.readAll(), QByteArray("abc"));
            return;
        }
        QSignalSpy stored(registry, &CAllDeviceHandler::newDataForDevice);
        QCOMPARE(fake->pushUplink(rx(devEui, payload)), 1);
        QVERIFY(stored.wait(10000));
        QVERIFY(!log->contains(QStringLiteral("Uncknown DevEUI")));
        QCOMPARE(ModbusClient::readHoldingAside(ports.at(served - 1), starts.at(served - 1), 2),
                 words);
        const int other = 2 - served;
        if (other + 1 != removed)
            QCOMPARE(ModbusClient::readHoldingAside(ports.at(other), starts.at(other), 2),
                     (QList<quint16>{0, 0}));
    };
    log->clear();
    expectServed(servedBefore, "010102fffe", {0x0102, 0xfffe});
    if (removed == 0 || QTest::currentTestFailed())
        return;

    // As the window deletes: storage first, then the registry, by the DevEUI as stored.
    const QString gone = spellings.at(removed - 1);
    const quint32 id
        = side.scalar(QStringLiteral("SELECT device FROM %1 WHERE dev_eui='%2';").arg(table, gone))
              .toUInt();
    QVERIFY(id > 0);
    QVERIFY(storage->deleteDevice(id, kind));
    registry->removeDevice(gone, ports.at(removed - 1));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const quint16 keptPort = ports.at(servedAfter - 1);
    QCOMPARE(registry->getPortProtocol(keptPort), std::optional<ProtocolOption>(kind));
    if (!onePort)
        QTRY_VERIFY(canListen(ports.at(removed - 1)));
    expectServed(servedAfter, "010304fffd", {0x0304, 0xfffd});
    if (QTest::currentTestFailed())
        return;

    registry->removeDevice(spellings.at(servedAfter - 1), keptPort);
    QVERIFY(!registry->getPortProtocol(keptPort).has_value());
    QTRY_VERIFY(canListen(keptPort));
}

QTEST_GUILESS_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
