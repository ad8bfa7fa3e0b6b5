#include "LogCapture.h"
#include "SDevicePacket.h"
#include "SDevicePacketField.h"
#include "SDeviceTemplate.h"
#include "SServerData.h"
#include "SServerKeyword.h"
#include "STCPDeviceTemplate.h"
#include "TempWorkDir.h"

#include <QJsonDocument>
#include <QtTest>

#include <memory>

// Parsing of device templates, their packets, fields and server data, and the TCP device types.
class tst_DeviceTemplate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void field_data();
    void field();
    void fieldValues();
    void packet_data();
    void packet();
    void serverData_data();
    void serverData();
    void deviceTemplate_data();
    void deviceTemplate();
    void laterRecordWins();
    void tcpTemplate_data();
    void tcpTemplate();
    void regMap();

private:
    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
};

namespace {

QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonObject validField()
{
    return parse(R"({"packet_bias":1,"data_bit_bias":0,"data_bit_size":16,"data_type":"uinteger",
                     "reg_map_bias":3,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"level"})");
}

const QStringList FieldKeys = {"packet_bias",  "data_bit_bias", "data_bit_size", "data_type",
                               "reg_map_bias", "reg_bit_bias",  "reg_bit_size",  "data_name"};

QJsonObject validServerData()
{
    return parse(R"({"data_code":"rssi","reg_map_bias":2,"reg_bit_bias":0,"reg_bit_size":16,
                     "data_name":"RSSI"})");
}

const QStringList ServerDataKeys
    = {"data_code", "reg_map_bias", "reg_bit_bias", "reg_bit_size", "data_name"};

QJsonObject validPacket()
{
    QJsonObject packet = parse(R"({"packet_type":1,"packet_size":3})");
    packet.insert("packet_fields", QJsonArray{validField()});
    return packet;
}

QJsonObject withTemplateKeys(const QByteArray &json)
{
    QJsonObject object = parse(json);
    object.insert("device_packets", QJsonArray{validPacket()});
    return object;
}

} // namespace

void tst_DeviceTemplate::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
}

void tst_DeviceTemplate::field_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("endianness");
    QTest::addColumn<QString>("message");

    const QString invalidOrder
        = R"([SDevicePacketField] Invalid endianness field value, can be "le" or "be")";
    auto withOrder = [](const QJsonValue &order) {
        QJsonObject object = validField();
        object.insert("endianness", order);
        return object;
    };

    QTest::addRow("no endianness is little") << validField() << true << 0 << QString();
    QTest::addRow("le") << withOrder("le") << true << 0 << QString();
    QTest::addRow("be") << withOrder("be") << true << 1 << QString();
    QTest::addRow("BE in capitals") << withOrder("BE") << true << 1 << QString();
    QTest::addRow("mixed case Le") << withOrder("Le") << true << 0 << QString();
    QTest::addRow("other word") << withOrder("big") << false << 0 << invalidOrder;
    QTest::addRow("endianness null") << withOrder(QJsonValue()) << false << 0 << invalidOrder;
    QTest::addRow("endianness number") << withOrder(1) << false << 0 << invalidOrder;
    {
        QJsonObject object = withOrder("middle");
        object.remove("data_name");
        QTest::addRow("bad order reported before a missing key")
            << object << false << 0 << invalidOrder;
    }
    QTest::addRow("empty object") << QJsonObject() << false << 0
                                  << "[SDevicePacketField] Empty input JSON";
    for (const QString &key : FieldKeys) {
        QJsonObject missing = validField();
        missing.remove(key);
        QTest::addRow("missing %s", qPrintable(key))
            << missing << false << 0 << "[SDevicePacketField] Invalid input JSON";
        QJsonObject null = validField();
        null.insert(key, QJsonValue());
        QTest::addRow("null %s", qPrintable(key))
            << null << false << 0
            << "[SDevicePacketField] One or several values of input JSON is NULL";
    }
}

void tst_DeviceTemplate::field()
{
    QFETCH(QJsonObject, object);
    QFETCH(bool, valid);
    QFETCH(int, endianness);
    QFETCH(QString, message);

    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const SDevicePacketField field(object);
    QCOMPARE(field.valid, valid);
    if (valid)
        QCOMPARE(field.endianness, endianness);
}

void tst_DeviceTemplate::fieldValues()
{
    const SDevicePacketField field(
        parse(R"({"packet_bias":2.5,"data_bit_bias":8,"data_bit_size":"32","data_type":7,
                  "reg_map_bias":-4,"reg_bit_bias":1,"reg_bit_size":32,"data_name":"n"})"));
    QVERIFY(field.valid);
    QCOMPARE(field.packetBias, 0); // a fraction reads as 0
    QCOMPARE(field.dataBitBias, 8);
    QCOMPARE(field.dataBitSize, 0);      // a string reads as 0
    QCOMPARE(field.dataType, QString()); // a non-string reads as empty
    QCOMPARE(field.regMapBias, -4);
    QCOMPARE(field.regBitBias, 1);
    QCOMPARE(field.regBitSize, 32);
    QCOMPARE(field.dataName, QString("n"));
}

void tst_DeviceTemplate::packet_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("packetType");
    QTest::addColumn<quint32>("packetSize");
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<QString>("message");

    QTest::addRow("valid") << validPacket() << true << 1u << 3u << 1 << QString();
    QTest::addRow("empty object") << QJsonObject() << false << 0u << 0u << 0 << QString();
    for (const QString key : {"packet_type", "packet_fields"}) {
        QJsonObject missing = validPacket();
        missing.remove(key);
        QTest::addRow("missing %s", qPrintable(key))
            << missing << false << 0u << 0u << 0 << "[SDevicePacket] Invalid input JSON";
        QJsonObject null = validPacket();
        null.insert(key, QJsonValue());
        QTest::addRow("null %s", qPrintable(key))
            << null << false << 0u << 0u << 0
            << "[SDevicePacket] One or several values of input JSON is NULL";
    }
    {
        QJsonObject object = validPacket();
        object.remove("packet_size");
        QTest::addRow("size absent") << object << true << 1u << 0u << 1 << QString();
        object.insert("packet_size", QJsonValue());
        QTest::addRow("size null") << object << true << 1u << 0u << 1 << QString();
    }
    {
        QJsonObject object = validPacket();
        object.insert("packet_type", 2.5);
        QTest::addRow("fractional type reads 0") << object << true << 0u << 3u << 1 << QString();
    }
    {
        QJsonObject object = validPacket();
        object.insert("packet_fields", QJsonArray());
        QTest::addRow("empty fields")
            << object << false << 1u << 3u << 0 << "[SDevicePacket] Packet fields array is empty";
        object.insert("packet_fields", "text");
        QTest::addRow("fields not an array")
            << object << false << 1u << 3u << 0 << "[SDevicePacket] Packet fields array is empty";
    }
    {
        QJsonObject bad = validField();
        bad.remove("data_type");
        QJsonObject object = validPacket();
        object.insert("packet_fields", QJsonArray{bad, bad});
        QTest::addRow("only invalid fields") << object << false << 1u << 3u << 0 << QString();
        object.insert("packet_fields", QJsonArray{bad, validField(), bad, validField()});
        QTest::addRow("invalid fields dropped") << object << true << 1u << 3u << 2 << QString();
    }
}

void tst_DeviceTemplate::packet()
{
    QFETCH(QJsonObject, object);
    QFETCH(bool, valid);
    QFETCH(quint32, packetType);
    QFETCH(quint32, packetSize);
    QFETCH(int, fieldCount);
    QFETCH(QString, message);

    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const SDevicePacket packet(object);
    QCOMPARE(packet.valid, valid);
    QCOMPARE(packet.fields.size(), fieldCount);
    if (valid) {
        QCOMPARE(packet.packetType, packetType);
        QCOMPARE(packet.packetSize, packetSize);
    }
}

void tst_DeviceTemplate::serverData_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logLine");

    QTest::addRow("rssi") << validServerData() << true << "[rssi] - bitSize[16], type[integer]"
                          << QString();
    QTest::addRow("empty object") << QJsonObject() << false << "[SServerData] Empty input JSON"
                                  << QString();
    for (const QString &key : ServerDataKeys) {
        QJsonObject missing = validServerData();
        missing.remove(key);
        QTest::addRow("missing %s", qPrintable(key))
            << missing << false << "[SServerData] Invalid input JSON" << QString();
        QJsonObject null = validServerData();
        null.insert(key, QJsonValue());
        QTest::addRow("null %s", qPrintable(key))
            << null << false << "[SServerData] One or several values of input JSON is NULL"
            << QString();
    }
    QJsonObject capitals = validServerData();
    capitals.insert("data_code", "RSSI");
    QTest::addRow("RSSI in capitals is unknown")
        << capitals << false << QString()
        << "ERROR: [SServerData] Server keyword [RSSI] is unknown!";
}

void tst_DeviceTemplate::serverData()
{
    QFETCH(QJsonObject, object);
    QFETCH(bool, valid);
    QFETCH(QString, message);
    QFETCH(QString, logLine);

    log->clear();
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const SServerData data(object);
    QCOMPARE(data.valid, valid);
    if (!logLine.isEmpty())
        QVERIFY(log->waitForLine(logLine));
    if (valid) {
        QCOMPARE(data.dataCode, QString("rssi"));
        QCOMPARE(data.bitSize, 16); // from the keyword table, not the file
        QCOMPARE(data.type, QString("integer"));
        QCOMPARE(data.regMapBias, 2);
        QCOMPARE(data.regBitSize, 16);
        QCOMPARE(data.dataName, QString("RSSI"));
    }
}

void tst_DeviceTemplate::deviceTemplate_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("appEui");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QString>("message");

    const QColor grey("#94999D");
    QTest::addRow("lower-case EUI upper-cased")
        << withTemplateKeys(R"({"app_eui":"70b3d5aa","dev_type":"Meter"})") << true << "70B3D5AA"
        << grey << QString();
    QTest::addRow("empty object") << QJsonObject() << false << QString() << grey
                                  << "[SDeviceTemplate] Empty input JSON";
    QTest::addRow("missing app_eui") << withTemplateKeys(R"({"dev_type":"Meter"})") << false
                                     << QString() << grey << "[SDeviceTemplate] Invalid input JSON";
    QTest::addRow("missing dev_type")
        << withTemplateKeys(R"({"app_eui":"01"})") << false << QString() << grey
        << "[SDeviceTemplate] Invalid input JSON";
    QTest::addRow("null app_eui")
        << withTemplateKeys(R"({"app_eui":null,"dev_type":"Meter"})") << false << QString() << grey
        << "[SDeviceTemplate] One or several values of input JSON is NULL";
    QTest::addRow("null dev_type")
        << withTemplateKeys(R"({"app_eui":"01","dev_type":null})") << false << QString() << grey
        << "[SDeviceTemplate] One or several values of input JSON is NULL";
    QTest::addRow("no device_packets")
        << parse(R"({"app_eui":"01","dev_type":"Meter"})") << false << "01" << grey
        << "[SDeviceTemplate] Device packets array is empty";
    QTest::addRow("device_packets not an array")
        << parse(R"({"app_eui":"01","dev_type":"Meter","device_packets":{}})") << false << "01"
        << grey << "[SDeviceTemplate] Device packets array is empty";
    {
        QJsonObject badPacket = validPacket();
        QJsonObject badField = validField();
        badField.insert("endianness", "xx");
        badPacket.insert("packet_fields", QJsonArray{badField});
        QJsonObject object = parse(R"({"app_eui":"01","dev_type":"Meter"})");
        object.insert("device_packets", QJsonArray{badPacket, QJsonObject()});
        QTest::addRow("only invalid packets")
            << object << false << "01" << grey << "[SDeviceTemplate] Device packets array is empty";
    }
    QTest::addRow("colour name") << withTemplateKeys(
        R"({"app_eui":"01","dev_type":"M","color":"#1e90ff"})")
                                 << true << "01" << QColor(0x1e, 0x90, 0xff) << QString();
    QTest::addRow("colour keyword")
        << withTemplateKeys(R"({"app_eui":"01","dev_type":"M","color":"teal"})") << true << "01"
        << QColor(0, 0x80, 0x80) << QString();
    QTest::addRow("colour with alpha")
        << withTemplateKeys(R"({"app_eui":"01","dev_type":"M","color":"#80112233"})") << true
        << "01" << QColor(0x11, 0x22, 0x33, 0x80) << QString();
    QTest::addRow("bad colour keeps grey")
        << withTemplateKeys(R"({"app_eui":"01","dev_type":"M","color":"notacolour"})") << true
        << "01" << grey << "[SDeviceTemplate] Invalid color name [notacolour]";
}

void tst_DeviceTemplate::deviceTemplate()
{
    QFETCH(QJsonObject, object);
    QFETCH(bool, valid);
    QFETCH(QString, appEui);
    QFETCH(QColor, color);
    QFETCH(QString, message);

    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const SDeviceTemplate deviceTemplate(object);
    QCOMPARE(deviceTemplate.valid, valid);
    if (valid) {
        QCOMPARE(deviceTemplate.appEui, appEui);
        QCOMPARE(deviceTemplate.color, color);
        QCOMPARE(deviceTemplate.packets.size(), 1);
    }
}

void tst_DeviceTemplate::laterRecordWins()
{
    const SDeviceTemplate deviceTemplate(parse(R"JSON({
        "app_eui": "ab", "dev_type": "T",
        "device_packets": [
            {"packet_type": 7, "packet_size": 3, "packet_fields": [
                {"packet_bias":1,"data_bit_bias":0,"data_bit_size":16,"data_type":"uinteger",
                 "reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"first"}]},
            {"packet_type": 7, "packet_size": 5, "packet_fields": [
                {"packet_bias":1,"data_bit_bias":0,"data_bit_size":32,"data_type":"uinteger",
                 "reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"second"}]}
        ],
        "server_data": [
            {"data_code":"fcnt","reg_map_bias":10,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"a"},
            {"data_code":"fcnt","reg_map_bias":20,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"b"},
            {"data_code":"nope","reg_map_bias":30,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"c"}
        ]
    })JSON"));
    QVERIFY(deviceTemplate.valid);
    QCOMPARE(deviceTemplate.packets.size(), 1);
    QCOMPARE(deviceTemplate.packets.value(7).packetSize, 5u);
    QCOMPARE(deviceTemplate.packets.value(7).fields.at(0).dataName, QString("second"));
    QCOMPARE(deviceTemplate.serverData.keys(), QStringList{"fcnt"});
    QCOMPARE(deviceTemplate.serverData.value("fcnt").regMapBias, 20);
}

void tst_DeviceTemplate::tcpTemplate_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("appEui");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QString>("message");

    const QColor grey("#94999D");
    QTest::addRow("valid") << parse(R"({"app_eui":"ab01","dev_type":"Pipe","color":"red"})") << true
                           << "AB01" << QColor(Qt::red) << QString();
    QTest::addRow("no colour") << parse(R"({"app_eui":"ab01","dev_type":"Pipe"})") << true << "AB01"
                               << grey << QString();
    QTest::addRow("bad colour keeps the entry")
        << parse(R"({"app_eui":"ab01","dev_type":"Pipe","color":"#12"})") << true << "AB01" << grey
        << "[SDeviceTemplate] Invalid color name [#12]";
    QTest::addRow("empty") << QJsonObject() << false << QString() << grey
                           << "[STCPDeviceTemplate] Empty input JSON";
    QTest::addRow("missing dev_type") << parse(R"({"app_eui":"ab01"})") << false << QString()
                                      << grey << "[STCPDeviceTemplate] Invalid input JSON";
    QTest::addRow("null app_eui")
        << parse(R"({"app_eui":null,"dev_type":"Pipe"})") << false << QString() << grey
        << "[STCPDeviceTemplate] One or several values of input JSON is NULL";
}

void tst_DeviceTemplate::tcpTemplate()
{
    QFETCH(QJsonObject, object);
    QFETCH(bool, valid);
    QFETCH(QString, appEui);
    QFETCH(QColor, color);
    QFETCH(QString, message);

    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const STCPDeviceTemplate tcpTemplate(object);
    QCOMPARE(tcpTemplate.valid, valid);
    if (valid) {
        QCOMPARE(tcpTemplate.appEui, appEui);
        QCOMPARE(tcpTemplate.color, color);
        QVERIFY(tcpTemplate.packets.isEmpty());
        QVERIFY(tcpTemplate.serverData.isEmpty());
    }
}

void tst_DeviceTemplate::regMap()
{
    const SDeviceTemplate deviceTemplate(parse(R"JSON({
        "app_eui": "cafe", "dev_type": "T",
        "device_packets": [
            {"packet_type": 9, "packet_size": 3, "packet_fields": [
                {"packet_bias":1,"data_bit_bias":0,"data_bit_size":16,"data_type":"integer",
                 "reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"temp"}]},
            {"packet_type": 2, "packet_size": 5, "packet_fields": [
                {"packet_bias":1,"data_bit_bias":0,"data_bit_size":32,"data_type":"uinteger",
                 "reg_map_bias":4,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"count"},
                {"packet_bias":1,"data_bit_bias":0,"data_bit_size":8,"data_type":"text",
                 "reg_map_bias":1,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"tag"}]}
        ],
        "server_data": [
            {"data_code":"ts","reg_map_bias":10,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"time"},
            {"data_code":"devEui","reg_map_bias":20,"reg_bit_bias":0,"reg_bit_size":64,"data_name":"eui"}
        ]
    })JSON"));
    QVERIFY(deviceTemplate.valid);
    const STemplateRegMap map = deviceTemplate.toRegMap();
    QCOMPARE(map.appEui, QString("CAFE"));

    // Server data first (by code), then the packets by type and their fields in file order.
    const QStringList names = {"eui", "time", "count", "tag", "temp"};
    const QList<quint32> sources = {0, 0, 1, 1, 1};
    const QList<quint32> offsets = {20, 10, 4, 1, 0};
    const QList<quint32> bitSizes = {64, 32, 32, 16, 16};
    const QStringList types = {"text", "uinteger", "uinteger", "text", "integer"};
    QCOMPARE(map.registers.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        const DB::SRegisterDescription &reg = map.registers.at(i);
        QCOMPARE(reg.name, names.at(i));
        QCOMPARE(reg.source, sources.at(i));
        QCOMPARE(reg.regOffset, offsets.at(i));
        QCOMPARE(reg.bitSize, bitSizes.at(i));
        QCOMPARE(reg.dataType, types.at(i));
        QCOMPARE(reg.extraValue, 0.0);
        QCOMPARE(reg.multiplier, 1.0);
        QVERIFY(reg.units.isEmpty());
    }
}

QTEST_GUILESS_MAIN(tst_DeviceTemplate)
#include "tst_devicetemplate.moc"
