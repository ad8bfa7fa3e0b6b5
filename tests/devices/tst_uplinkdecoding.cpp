#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "ModbusClient.h"
#include "SideConnection.h"
#include "StorageThread.h"
#include "TempWorkDir.h"
#include "TemplateDecoder.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

// Uplinks through the registry's dispatch and decoder into the real database, and on to a
// Modbus-TCP client.
class tst_UplinkDecoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void decode_data();
    void decode();
    void registerSplit_data();
    void registerSplit();
    void ignoredUplinks();
    void mainRoad();

private:
    void registerDevice(const QString &devEui, const QString &appEui, int startAddr);
    QStringList storedValues(const QString &devEui);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<SideConnection> side;
    CDataBaseHandler *storage = nullptr;
    QThread *storageThread = nullptr;
    CAllDeviceHandler *registry = nullptr;
    QMap<QString, int> startAddresses;
};

namespace {

// Metadata only, and one packet.
const QByteArray MetaTemplate = R"JSON({
    "app_eui": "d0000001", "dev_type": "meta",
    "server_data": [
        {"data_code":"ts","reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"ts"},
        {"data_code":"rssi","reg_map_bias":2,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"rssi"},
        {"data_code":"snr","reg_map_bias":3,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"snr"},
        {"data_code":"fcnt","reg_map_bias":5,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"fcnt"},
        {"data_code":"devEui","reg_map_bias":7,"reg_bit_bias":0,"reg_bit_size":64,"data_name":"eui"},
        {"data_code":"gatewayId","reg_map_bias":11,"reg_bit_bias":0,"reg_bit_size":64,"data_name":"gw"}
    ],
    "device_packets": [{"packet_type":1,"packet_size":2,"packet_fields":[
        {"packet_bias":1,"data_bit_bias":0,"data_bit_size":8,"data_type":"uinteger",
         "reg_map_bias":20,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"value"}]}]
})JSON";

// The short register areas of the metadata.
const QByteArray ShortMetaTemplate = R"JSON({
    "app_eui": "D0000002", "dev_type": "short meta",
    "server_data": [
        {"data_code":"fcnt","reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"fcnt"},
        {"data_code":"devEui","reg_map_bias":1,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"eui"},
        {"data_code":"snr","reg_map_bias":2,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"snr"}
    ],
    "device_packets": [{"packet_type":1,"packet_size":2,"packet_fields":[
        {"packet_bias":1,"data_bit_bias":0,"data_bit_size":8,"data_type":"uinteger",
         "reg_map_bias":20,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"value"}]}]
})JSON";

QString field(int bias, int bits, const char *type, int reg, const char *order = nullptr,
              int bitBias = 0)
{
    const QString orderPart
        = order ? QStringLiteral(R"("endianness":"%1",)").arg(QLatin1String(order)) : QString();
    return QStringLiteral(R"({%1"packet_bias":%2,"data_bit_bias":%3,"data_bit_size":%4,
        "data_type":"%5","reg_map_bias":%6,"reg_bit_bias":0,"reg_bit_size":%7,"data_name":"r%6"})")
        .arg(orderPart)
        .arg(bias)
        .arg(bitBias)
        .arg(bits)
        .arg(QLatin1String(type))
        .arg(reg)
        .arg(qMax(bits, 16));
}

QString packet(int type, int size, const QStringList &fields)
{
    const QString sizePart
        = size < 0 ? QString() : QStringLiteral(R"("packet_size":%1,)").arg(size);
    return QStringLiteral(R"({"packet_type":%1,%2"packet_fields":[%3]})")
        .arg(type)
        .arg(sizePart, fields.join(','));
}

// Packet fields of every kind, no metadata.
QByteArray packetTemplate()
{
    const QStringList packets = {
        packet(1, 3, {field(1, 16, "uinteger", 0, "be")}),
        packet(2, 3, {field(1, 16, "uinteger", 1, "le")}),
        packet(3, 2, {field(1, 8, "integer", 2)}),
        packet(4, 3, {field(1, 16, "integer", 3, "BE")}),
        packet(5, 5, {field(1, 32, "uinteger", 4, "be")}),
        packet(6, 9, {field(1, 64, "uinteger", 6, "be")}),
        packet(7, 9, {field(1, 64, "integer", 10, "le")}),
        packet(8, 3, {field(1, 8, "boolean", 14), field(2, 8, "uinteger", 15)}),
        packet(9, -1, {field(1, 8, "uinteger", 16)}),
        packet(144, 2, {field(1, 8, "uinteger", 17)}),
        packet(10, 4,
               {field(-1, 16, "integer", 18), field(2, 32, "uinteger", 19, "be"),
                field(3, 8, "uinteger", 20)}),
        packet(11, 2, {field(1, 8, "boolean", 21)}),
        packet(12, 5, {field(1, 32, "text", 22)}),
        packet(13, 4,
               {field(1, 8, "integer", 23, nullptr, 4), field(1, 24, "integer", 24),
                field(3, 8, "uinteger", 25)}),
    };
    return QStringLiteral(R"({"app_eui":"D0000003","dev_type":"packets","device_packets":[%1]})")
        .arg(packets.join(','))
        .toUtf8();
}

const QString MetaEui = QStringLiteral("70B3D5E75E00A001");
const QString ShortEui = QStringLiteral("70B3D5E75E00B002");
const QString PacketEui = QStringLiteral("70B3D5E75E00C003");
const QString ClimateEui = QStringLiteral("70B3D5E75E00D004");
const QString TcpEui = QStringLiteral("70B3D5E75E00E005");

API::SApiDeviceData uplink(const QString &devEui, const QByteArray &hexPayload)
{
    API::SApiDeviceData data;
    data.devEui = devEui;
    data.ts = 1700000000123ull; // 0x6553f100 seconds
    data.gatewayId = QStringLiteral("00800000A0001234");
    data.fcnt = 0x12345;
    data.rssi = -100;
    data.snr = -7.5;
    data.data = QByteArray::fromHex(hexPayload);
    data.valid = true;
    return data;
}

QStringList metaRows()
{
    return {"0=6553|6553f100",         "2=ff9c|ff9c",
            "3=ffff|fffffff8",         "5=0001|00012345",
            "7=70B3|70B3D5E75E00A001", "11=0080|00800000A0001234"};
}

} // namespace

void tst_UplinkDecoding::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    work->writeFile("deviceFolder/meta.json", MetaTemplate);
    work->writeFile("deviceFolder/short-meta.json", ShortMetaTemplate);
    work->writeFile("deviceFolder/packets.json", packetTemplate());
    const QDir examples(QStringLiteral(EXAMPLE_TEMPLATE_FOLDER));
    for (const QString &name : examples.entryList({"*.json"}, QDir::Files))
        QVERIFY(QFile::copy(examples.filePath(name), work->filePath("deviceFolder/" + name)));

    log = std::make_unique<LogCapture>();
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");
    storage = CDataBaseHandler::getInstance();
    QVERIFY(storage);
    storageThread = startStorageThread(storage);
    side = std::make_unique<SideConnection>();
    QVERIFY(side->isOpen());

    registry = CAllDeviceHandler::getInstance();
    QVERIFY(registry->isDeviceTemplateExist("D0000001"));
    QVERIFY(registry->isDeviceTemplateExist("D0000002"));
    QVERIFY(registry->isDeviceTemplateExist("D0000003"));
    QVERIFY(registry->isDeviceTemplateExist("AB12CD34EF560001"));
    QVERIFY(registry->isDeviceTemplateExist("AB12CD34EF560002"));
    QVERIFY(registry->isTCPTemplateExist("AB12CD34EF560100"));

    registerDevice(MetaEui, "D0000001", 100);
    registerDevice(ShortEui, "D0000002", 0);
    registerDevice(PacketEui, "D0000003", 300);
}

void tst_UplinkDecoding::registerDevice(const QString &devEui, const QString &appEui, int startAddr)
{
    DB::SDeviceRegMapDescription info;
    info.devEui = devEui;
    info.appEui = appEui;
    info.name = devEui;
    info.startAddr = startAddr;
    info.registers = registry->getTemplateRegMap(appEui).registers;
    info.port = freePort();
    QVERIFY(!info.registers.isEmpty());
    QVERIFY(storage->registerNewDevice(info, ProtocolModbus));
    registry->addNewDevice(info, ProtocolModbus);
    startAddresses.insert(devEui, startAddr);
}

void tst_UplinkDecoding::init()
{
    QVERIFY2(side->exec("UPDATE dev_data SET value=NULL, full_value=NULL, time=NULL, "
                        "grating_period=1.0, start_value=0.0"),
             qPrintable(side->lastError()));
    log->clear();
}

// "offset=value|full value" of every register of the device that holds a value, by address.
QStringList tst_UplinkDecoding::storedValues(const QString &devEui)
{
    QStringList values;
    const auto rows = side->rows(QStringLiteral("SELECT reg_addr, value, full_value FROM dev_data "
                                                "WHERE device=(SELECT device FROM devices WHERE "
                                                "dev_eui='%1') AND value IS NOT NULL "
                                                "ORDER BY reg_addr")
                                     .arg(devEui));
    for (const QVariantList &row : rows) {
        const QString full = row.at(2).isNull() ? QStringLiteral("NULL") : row.at(2).toString();
        values.append(QStringLiteral("%1=%2|%3")
                          .arg(row.at(0).toInt() - startAddresses.value(devEui))
                          .arg(row.at(1).toString(), full));
    }
    return values;
}

void tst_UplinkDecoding::decode_data()
{
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<double>("snr");
    QTest::addColumn<int>("scaledOffset"); // register whose scaling is set, -1 for none
    QTest::addColumn<double>("multiplier");
    QTest::addColumn<double>("extraValue");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<bool>("signal");
    QTest::addColumn<QStringList>("lines");

    const QString warn = QStringLiteral("WARNING: [CAllDeviceHandler::processDataSlot] ");

    QTest::addRow("metadata: ts, rssi -100, snr -7.5, fcnt 32-bit, EUIs 64-bit")
        << MetaEui << QByteArray("012a") << -7.5 << -1 << 1.0 << 0.0
        << (metaRows() << "20=002a|002a") << true
        << QStringList{"INFO: [CAllDeviceHandler::processDataSlot] Recived data [012a] from "
                       "device [70B3D5E75E00A001]."};
    QTest::addRow("snr 2.5 rounds to 3") << MetaEui << QByteArray("0100") << 2.5 << -1 << 1.0 << 0.0
                                         << QStringList{"0=6553|6553f100",
                                                        "2=ff9c|ff9c",
                                                        "3=0000|00000003",
                                                        "5=0001|00012345",
                                                        "7=70B3|70B3D5E75E00A001",
                                                        "11=0080|00800000A0001234",
                                                        "20=0000|0000"}
                                         << true << QStringList();
    QTest::addRow("unknown packet type stores nothing, metadata included")
        << MetaEui << QByteArray("552a") << -7.5 << -1 << 1.0 << 0.0 << QStringList() << false
        << QStringList{warn + "Uncknown packet type [85]"};
    QTest::addRow("wrong size stores nothing")
        << MetaEui << QByteArray("012a00") << -7.5 << -1 << 1.0 << 0.0 << QStringList() << false
        << QStringList{warn + "Invalid size of packet [01][012a00]. Expect [2], real [3]"};
    QTest::addRow("fcnt, devEui and snr in 16 bits")
        << ShortEui << QByteArray("012a") << -7.5 << -1 << 1.0 << 0.0
        << QStringList{"0=2345|2345", "1=B002|B002", "2=fff8|fff8", "20=002a|002a"} << true
        << QStringList();
    QTest::addRow("2 bytes BE") << PacketEui << QByteArray("010102") << 0.0 << -1 << 1.0 << 0.0
                                << QStringList{"0=0102|0102"} << true << QStringList();
    QTest::addRow("2 bytes LE") << PacketEui << QByteArray("020102") << 0.0 << -1 << 1.0 << 0.0
                                << QStringList{"1=0201|0201"} << true << QStringList();
    QTest::addRow("1 byte -1") << PacketEui << QByteArray("03ff") << 0.0 << -1 << 1.0 << 0.0
                               << QStringList{"2=ffff|ffff"} << true << QStringList();
    QTest::addRow("scaled 2.5 becomes 3")
        << PacketEui << QByteArray("040001") << 0.0 << 3 << 2.5 << 0.0 << QStringList{"3=0003|0003"}
        << true << QStringList();
    QTest::addRow("scaled -2.5 becomes -3")
        << PacketEui << QByteArray("04ffff") << 0.0 << 3 << 2.5 << 0.0 << QStringList{"3=fffd|fffd"}
        << true << QStringList();
    QTest::addRow("scaled 70000 written as 1170")
        << PacketEui << QByteArray("046d60") << 0.0 << 3 << 2.5 << 0.0 << QStringList{"3=1170|1170"}
        << true << QStringList();
    QTest::addRow("extra value added")
        << PacketEui << QByteArray("040001") << 0.0 << 3 << 1.0 << -10.4
        << QStringList{"3=fff7|fff7"} << true << QStringList();
    QTest::addRow("first byte 5 decoded normally, 4 bytes BE")
        << PacketEui << QByteArray("051234abcd") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"4=1234|1234abcd"} << true << QStringList();
    QTest::addRow("8 bytes unsigned BE")
        << PacketEui << QByteArray("060123456789abcdef") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"6=0123|0123456789abcdef"} << true << QStringList();
    QTest::addRow("8 bytes unsigned maximum kept exact")
        << PacketEui << QByteArray("06ffffffffffffffff") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"6=ffff|ffffffffffffffff"} << true << QStringList();
    QTest::addRow("8 bytes signed LE -2")
        << PacketEui << QByteArray("07feffffffffffffff") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"10=ffff|fffffffffffffffe"} << true << QStringList();
    QTest::addRow("boolean unsupported, next field decoded")
        << PacketEui << QByteArray("0801ff") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"15=00ff|00ff"} << true
        << QStringList{warn + "Unsupport data type [boolean] for size [1]"};
    QTest::addRow("packet size absent")
        << PacketEui << QByteArray("0901") << 0.0 << -1 << 1.0 << 0.0 << QStringList() << false
        << QStringList{warn + "Invalid size of packet [09][0901]. Expect [0], real [2]"};
    QTest::addRow("first byte 0x90 is type 144")
        << PacketEui << QByteArray("9007") << 0.0 << -1 << 1.0 << 0.0 << QStringList{"17=0007|0007"}
        << true << QStringList();
    QTest::addRow("fields outside the payload skipped")
        << PacketEui << QByteArray("0a112233") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"20=0033|0033"} << true
        << QStringList{warn + "Field [r18] lies outside the packet: bias [-1], size [2], real [4]",
                       warn + "Field [r19] lies outside the packet: bias [2], size [4], real [4]"};
    QTest::addRow("no register still saves and signals")
        << PacketEui << QByteArray("0b01") << 0.0 << -1 << 1.0 << 0.0 << QStringList() << true
        << QStringList{"INFO: [CDataBaseHandler::saveRegisterData] Empty input data"};
    QTest::addRow("text field") << PacketEui << QByteArray("0c41423344") << 0.0 << -1 << 1.0 << 0.0
                                << QStringList{"22=AB3D|AB3D"} << true << QStringList();
    QTest::addRow("bit bias and odd size skipped")
        << PacketEui << QByteArray("0d010203") << 0.0 << -1 << 1.0 << 0.0
        << QStringList{"25=0003|0003"} << true
        << QStringList{"ERROR: [CAllDeviceHandler::processDataSlot] Unsupport functional",
                       warn + "Unsupport size of data [3]"};
}

void tst_UplinkDecoding::decode()
{
    QFETCH(QString, devEui);
    QFETCH(QByteArray, payload);
    QFETCH(double, snr);
    QFETCH(int, scaledOffset);
    QFETCH(double, multiplier);
    QFETCH(double, extraValue);
    QFETCH(QStringList, stored);
    QFETCH(bool, signal);
    QFETCH(QStringList, lines);

    if (scaledOffset >= 0)
        QVERIFY(side->exec(QStringLiteral("UPDATE dev_data SET grating_period=%1, start_value=%2 "
                                          "WHERE reg_addr=%3")
                               .arg(multiplier)
                               .arg(extraValue)
                               .arg(startAddresses.value(devEui) + scaledOffset)));

    QSignalSpy spy(registry, &CAllDeviceHandler::newDataForDevice);
    API::SApiDeviceData data = uplink(devEui, payload);
    data.snr = snr;
    // The payload bytes alone in a buffer of their own size, so that the sanitizer sees any read
    // outside them.
    const std::vector<char> exact(data.data.cbegin(), data.data.cend());
    data.data = QByteArray::fromRawData(exact.data(), qsizetype(exact.size()));
    registry->newPacketReceivedSlot(data);

    QCOMPARE(storedValues(devEui), stored);
    QCOMPARE(spy.size(), signal ? 1 : 0);
    if (signal)
        QCOMPARE(spy.at(0).at(0).toString(), devEui);
    for (const QString &line : lines) {
        QVERIFY2(log->waitForLine(line), qPrintable(line));
        QCOMPARE(log->count(line), 1);
    }
}

void tst_UplinkDecoding::registerSplit_data()
{
    QTest::addColumn<QByteArray>("templateJson");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("registers");

    QTest::addRow("metadata of 32 and 64 bits, by data code")
        << MetaTemplate << QByteArray("0100")
        << QStringList{"7=70B3|70B3D5E75E00A001",
                       "8=D5E7|",
                       "9=5E00|",
                       "10=A001|",
                       "5=0001|00012345",
                       "6=2345|",
                       "11=0080|00800000A0001234",
                       "12=0000|",
                       "13=A000|",
                       "14=1234|",
                       "2=ff9c|ff9c",
                       "3=ffff|fffffff8",
                       "4=fff8|",
                       "0=6553|6553f100",
                       "1=f100|",
                       "20=0000|0000"};
    QTest::addRow("4 bytes") << packetTemplate() << QByteArray("051234abcd")
                             << QStringList{"4=1234|1234abcd", "5=abcd|"};
    QTest::addRow("8 bytes") << packetTemplate() << QByteArray("060123456789abcdef")
                             << QStringList{"6=0123|0123456789abcdef", "7=4567|", "8=89ab|",
                                            "9=cdef|"};
    QTest::addRow("text of four characters in one register")
        << packetTemplate() << QByteArray("0c41423344") << QStringList{"22=AB3D|AB3D"};
}

void tst_UplinkDecoding::registerSplit()
{
    QFETCH(QByteArray, templateJson);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, registers);

    const SDeviceTemplate deviceTemplate(QJsonDocument::fromJson(templateJson).object());
    QVERIFY(deviceTemplate.valid);
    const auto result = TemplateDecoder::decode(
        deviceTemplate, uplink(MetaEui, payload), 0,
        [](quint32 regAddr) {
            DB::SRegisterParam param;
            param.regAddr = regAddr;
            return param;
        },
        [](const QString &line) { QFAIL(qPrintable(line)); });
    QVERIFY(result);
    QStringList decoded;
    for (const DB::SDbRegValue &reg : result->regValues)
        decoded.append(QStringLiteral("%1=%2|%3").arg(reg.regOffset).arg(reg.value, reg.fullValue));
    QCOMPARE(decoded, registers);
}

void tst_UplinkDecoding::ignoredUplinks()
{
    QSignalSpy spy(registry, &CAllDeviceHandler::newDataForDevice);
    registry->newPacketReceivedSlot(uplink("FFFFFFFFFFFFFFFF", "010102")); // unknown device
    registry->newPacketReceivedSlot(uplink(PacketEui, ""));                // empty payload

    // A transparent device's uplink never reaches the decoder, chunk type or not.
    DB::SDeviceRegMapDescription tcpDevice;
    tcpDevice.devEui = TcpEui;
    tcpDevice.appEui = "AB12CD34EF560100";
    tcpDevice.port = freePort();
    registry->addNewDevice(tcpDevice, ProtocolTCP);
    registry->newPacketReceivedSlot(uplink(TcpEui, "0300000501000102030405"));
    registry->newPacketReceivedSlot(uplink(TcpEui, "010102"));
    registry->removeDevice(TcpEui, quint16(tcpDevice.port));

    QCOMPARE(spy.size(), 0);
    QVERIFY(!log->contains("[CAllDeviceHandler::processDataSlot] Recived data"));
    QVERIFY(storedValues(PacketEui).isEmpty());
}

void tst_UplinkDecoding::mainRoad()
{
    // A climate sensor of the example templates, registered as the add-device form does.
    const int startAddr = 200;
    DB::SDeviceRegMapDescription info;
    info.devEui = ClimateEui;
    info.appEui = "AB12CD34EF560001";
    info.name = "greenhouse";
    info.startAddr = startAddr;
    info.registers = registry->getTemplateRegMap(info.appEui).registers;
    info.port = freePort();
    QVERIFY(info.port);
    for (DB::SRegisterDescription &reg : info.registers)
        if (reg.name == "Humidity") {
            reg.multiplier = 10.0;
            reg.extraValue = 5.0;
        }
    QVERIFY(storage->registerNewDevice(info, ProtocolModbus));
    registry->addNewDevice(info, ProtocolModbus);

    // Temperature 235 (BE), humidity 45, pressure 100000 (BE), battery 3600 (LE), CO2 420 (BE).
    QSignalSpy spy(registry, &CAllDeviceHandler::newDataForDevice);
    registry->newPacketReceivedSlot(uplink(ClimateEui, "0100eb2d000186a0100e01a4"));
    QCOMPARE(spy.size(), 1);

    ModbusClient client("127.0.0.1", quint16(info.port));
    QVERIFY(ModbusClient::runAside([&] { return client.connectToServer(); }));
    const auto words
        = ModbusClient::runAside([&] { return client.readHoldingRegisters(startAddr, 26); });
    QVERIFY2(words.has_value(), qPrintable(client.lastError()));
    QList<quint16> expected(26, 0);
    expected[0] = 0x6553; // time in seconds, high word first
    expected[1] = 0xf100;
    expected[2] = 0xff9c; // RSSI -100
    expected[3] = 0xffff; // SNR -8
    expected[4] = 0xfff8;
    expected[5] = 0x0001; // frame counter 0x12345
    expected[6] = 0x2345;
    expected[10] = 235;
    expected[11] = 45 * 10 + 5;
    expected[12] = 0x0001; // 100000
    expected[13] = 0x86a0;
    expected[14] = 3600;
    expected[15] = 420;
    QCOMPARE(*words, expected);

    // The status packet of the same device overwrites only its own registers.
    registry->newPacketReceivedSlot(uplink(ClimateEui, "02efcdab8967452301fe"));
    const auto status
        = ModbusClient::runAside([&] { return client.readInputRegisters(startAddr + 20, 5); });
    QVERIFY2(status.has_value(), qPrintable(client.lastError()));
    QCOMPARE(*status, (QList<quint16>{0x0123, 0x4567, 0x89ab, 0xcdef, 0xfffe}));
    const auto temperature
        = ModbusClient::runAside([&] { return client.readHoldingRegisters(startAddr + 10, 1); });
    QVERIFY(temperature.has_value());
    QCOMPARE(temperature->value(0), quint16(235));
}

QTEST_GUILESS_MAIN(tst_UplinkDecoding)
#include "tst_uplinkdecoding.moc"
