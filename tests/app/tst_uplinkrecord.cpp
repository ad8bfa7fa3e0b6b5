#include "SApiDeviceData.h"

#include "EServerStatus.h"
#include "SServerDeviceInfo.h"

#include <QJsonDocument>
#include <QTest>

// Reading one uplink object of the network server.
class TestUplinkRecord : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void fields();
    void metaTypeNames();
};

void TestUplinkRecord::parse_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<QString>("gatewayId");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("rssi");

    QTest::addRow("conf up") << QByteArray(R"({"type":"CONF_UP","devEui":"70b3d5","data":"0a0B"})")
                             << true << "70B3D5"
                             << "" << QByteArray("\x0a\x0b") << 0 << 0;
    QTest::addRow("unconf up with suffix")
        << QByteArray(R"({"type":"UNCONF_UP+MAC_LINKCHECK_REQ","data":"01"})") << true << ""
        << "" << QByteArray("\x01") << 0 << 0;
    QTest::addRow("uplink as a later part")
        << QByteArray(R"({"type":"MAC_LINKADR_ANS+CONF_UP","data":""})") << true << ""
        << "" << QByteArray() << 0 << 0;
    QTest::addRow("lower-case type refused")
        << QByteArray(R"({"type":"conf_up","data":"01"})") << false << ""
        << "" << QByteArray() << 0 << 0;
    QTest::addRow("downlink refused")
        << QByteArray(R"({"type":"UNCONF_DOWN","data":"01"})") << false << ""
        << "" << QByteArray() << 0 << 0;
    QTest::addRow("missing type") << QByteArray(R"({"devEui":"01","data":"01"})") << false << ""
                                  << "" << QByteArray() << 0 << 0;
    QTest::addRow("missing data") << QByteArray(R"({"type":"CONF_UP","devEui":"01"})") << false
                                  << ""
                                  << "" << QByteArray() << 0 << 0;
    QTest::addRow("empty object") << QByteArray("{}") << false << ""
                                  << "" << QByteArray() << 0 << 0;
    QTest::addRow("gateway split and case")
        << QByteArray(R"({"type":"CONF_UP","data":"","gatewayId":"0011aabbccddeeff+rx2"})") << true
        << ""
        << "0011AABBCCDDEEFF" << QByteArray() << 0 << 0;
    QTest::addRow("empty gateway")
        << QByteArray(R"({"type":"CONF_UP","data":"","gatewayId":""})") << true << ""
        << "" << QByteArray() << 0 << 0;
    QTest::addRow("odd hex digits and junk")
        << QByteArray(R"({"type":"CONF_UP","data":"0a:0bz1"})") << true << ""
        << "" << QByteArray::fromHex("0a:0bz1") << 0 << 0;
    QTest::addRow("port kept in 16 bits")
        << QByteArray(R"({"type":"CONF_UP","data":"","port":65537})") << true << ""
        << "" << QByteArray() << 1 << 0;
    QTest::addRow("negative rssi")
        << QByteArray(R"({"type":"CONF_UP","data":"","rssi":-120})") << true << ""
        << "" << QByteArray() << 0 << -120;
    QTest::addRow("wrong value types") << QByteArray(
        R"({"type":"CONF_UP","data":7,"devEui":[1],"gatewayId":{},"port":"9","rssi":true})")
                                       << true << ""
                                       << "" << QByteArray() << 0 << 0;
    QTest::addRow("type not a string") << QByteArray(R"({"type":3,"data":"01"})") << false << ""
                                       << "" << QByteArray() << 0 << 0;
}

void TestUplinkRecord::parse()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, valid);
    QFETCH(QString, devEui);
    QFETCH(QString, gatewayId);
    QFETCH(QByteArray, data);
    QFETCH(int, port);
    QFETCH(int, rssi);

    const API::SApiDeviceData record(QJsonDocument::fromJson(json).object());
    QCOMPARE(record.valid, valid);
    QCOMPARE(record.devEui, devEui);
    QCOMPARE(record.gatewayId, gatewayId);
    QCOMPARE(record.data, data);
    QCOMPARE(int(record.port), port);
    QCOMPARE(int(record.rssi), rssi);
}

void TestUplinkRecord::fields()
{
    const QByteArray json = R"({"type":"UNCONF_UP","devEui":"aa","ts":1733821234567,"ack":true,
        "fcnt":4294967295,"port":2,"data":"ff","freq":868100000,"dr":5,"rssi":-7,"snr":-7.5})";
    const API::SApiDeviceData record(QJsonDocument::fromJson(json).object());
    QVERIFY(record.valid);
    QCOMPARE(record.ts, Q_UINT64_C(1733821234567));
    QCOMPARE(record.ack, true);
    QCOMPARE(record.fcnt, 4294967295u);
    QCOMPARE(record.freq, 868100000u);
    QCOMPARE(int(record.dr), 5);
    QCOMPARE(record.snr, -7.5);

    QTest::ignoreMessage(QtDebugMsg, "[SApiDeviceData] Not UPLINK message: JOIN_REQ");
    QVERIFY(
        !API::SApiDeviceData(QJsonDocument::fromJson(R"({"type":"JOIN_REQ","data":""})").object())
             .valid);
    QTest::ignoreMessage(QtDebugMsg, "[SApiDeviceData] Uncknown JSON message format!");
    QVERIFY(!API::SApiDeviceData(QJsonDocument::fromJson(R"({"data":""})").object()).valid);
    QTest::ignoreMessage(QtDebugMsg, "[SApiDeviceData] DATA is not exist");
    QVERIFY(!API::SApiDeviceData(QJsonDocument::fromJson(R"({"type":"CONF_UP"})").object()).valid);

    const API::SApiDeviceData empty;
    QVERIFY(!empty.valid);
    QVERIFY(empty.devEui.isEmpty() && empty.data.isEmpty() && empty.ts == 0 && empty.snr == 0.0);
}

void TestUplinkRecord::metaTypeNames()
{
    registerApiMetaTypes();
    for (const char *name :
         {"COMM::EServerStatus", "QList<API::SServerDeviceInfo>", "API::SApiDeviceData"})
        QVERIFY2(QMetaType::fromName(name).isValid(), name);
    QCOMPARE(QMetaType::fromName("API::SApiDeviceData"),
             QMetaType::fromType<API::SApiDeviceData>());
}

QTEST_GUILESS_MAIN(TestUplinkRecord)
#include "tst_uplinkrecord.moc"
