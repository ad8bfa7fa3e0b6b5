#include "LinkFixture.h"
#include "LogCapture.h"
#include "TempWorkDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <memory>

// The texts the verified link sends and its reading of what the server sends.
class TestServerLinkMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void outgoingTexts();
    void uplinkDispatch_data();
    void uplinkDispatch();
    void devicesListAnswer_data();
    void devicesListAnswer();
    void lastPacketsFirstValidEntry();
    void lastPacketsIgnored_data();
    void lastPacketsIgnored();
    void badFramesWhileVerified();

private:
    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<LinkFixture> f;
};

namespace {
using DeviceList = QList<API::SServerDeviceInfo>;

const QString NoCommand = QStringLiteral(
    "[CServerHandler::textMessageReceivedSlot] State=verified: unknown message[1]");
const QString Unscheduled = QStringLiteral(
    "[CServerHandler::textMessageReceivedSlot] State=verified: unsheduled packet from server");

QString text(const char *json)
{
    return QString::fromUtf8(json);
}

API::SServerDeviceInfo info(const char *devEui, const char *appEui, const char *name)
{
    return {QString::fromLatin1(devEui), QString::fromLatin1(appEui), QString::fromLatin1(name)};
}

QJsonObject packet(const char *type, const char *data, int fcnt)
{
    QJsonObject object{{"type", QLatin1String(type)}, {"fcnt", fcnt}};
    if (data)
        object.insert("data", QLatin1String(data));
    return object;
}
} // namespace

void TestServerLinkMessages::initTestCase()
{
    registerApiMetaTypes();
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    log = std::make_unique<LogCapture>();
}

void TestServerLinkMessages::init()
{
    f = std::make_unique<LinkFixture>();
    QVERIFY(f->fake->isListening());
    QVERIFY(f->login());
    f->fake->clearReceived();
    log->clear();
}

void TestServerLinkMessages::cleanup()
{
    f.reset();
}

void TestServerLinkMessages::outgoingTexts()
{
    // Queued together: the downlink frees the queue after its 100 ms, the answered device list
    // at once, then the last-packets request goes.
    f->link->sendData(QStringLiteral("70b3d5e75e00Ab01"), "0a0B");
    QVERIFY(f->link->getDevicesList({QStringLiteral("ANY")}));
    f->link->getDeviceLastPackets(QStringLiteral("70b3d5e75e00ab01"));

    QVERIFY(f->fake->waitForTexts(3));
    const QStringList expected{
        R"({"cmd":"send_data_req","data_list":[{"ack":true,"data":"0a0B","devEui":"70b3d5e75e00Ab01","port":2}]})",
        R"({"cmd":"get_devices_req"})",
        R"({"cmd":"get_data_req","devEui":"70B3D5E75E00AB01","select":{"direction":"UPLINK","limit":10}})"};
    QCOMPARE(f->fake->received(), expected);
}

void TestServerLinkMessages::uplinkDispatch_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("emitted");

    QTest::addRow("confirmed uplink")
        << text(R"({"cmd":"rx","type":"CONF_UP","devEui":"70b3d5e75e000001","data":"0a0B",)"
                R"("port":2,"fcnt":7,"gatewayId":"0016c001ff10a235+1"})")
        << true;
    QTest::addRow("unconfirmed uplink with a MAC part")
        << text(R"({"cmd":"rx","type":"UNCONF_UP+MAC_LINKCHECK_REQ","devEui":"70b3d5e75e000001",)"
                R"("data":"0a0b","port":2,"fcnt":7,"gatewayId":"0016C001FF10A235"})")
        << true;
    QTest::addRow("downlink type")
        << text(R"({"cmd":"rx","type":"UNCONF_DOWN","devEui":"70b3d5e75e000001","data":"0a0b"})")
        << false;
    QTest::addRow("join request") << text(
        R"({"cmd":"rx","type":"JOIN_REQ","devEui":"70b3d5e75e000001","data":"0a0b"})")
                                  << false;
    QTest::addRow("command in upper case")
        << text(R"({"cmd":"RX","type":"CONF_UP","devEui":"70b3d5e75e000001","data":"0a0b"})")
        << false;
    QTest::addRow("no data") << text(R"({"cmd":"rx","type":"CONF_UP","devEui":"70b3d5e75e000001"})")
                             << false;
    QTest::addRow("no DevEUI") << text(R"({"cmd":"rx","type":"CONF_UP","data":"0a0b"})") << false;
    QTest::addRow("no command") << text(
        R"({"type":"CONF_UP","devEui":"70b3d5e75e000001","data":"0a0b"})")
                                << false;
    QTest::addRow("answer to a downlink")
        << text(R"({"cmd":"send_data_resp","status":true})") << false;
}

void TestServerLinkMessages::uplinkDispatch()
{
    QFETCH(QString, message);
    QFETCH(bool, emitted);

    f->fake->sendText(message);
    QVERIFY(f->uplinkBarrier());
    QCOMPARE(f->packetSpy->count(), emitted ? 2 : 1);
    QCOMPARE(f->debug->contains(NoCommand), !message.contains(QLatin1String("\"cmd\"")));
    if (!emitted)
        return;
    const auto uplink = f->packetSpy->first().at(0).value<API::SApiDeviceData>();
    QCOMPARE(uplink.devEui, QStringLiteral("70B3D5E75E000001"));
    QCOMPARE(uplink.data, QByteArray::fromHex("0a0b"));
    QCOMPARE(uplink.fcnt, 7u);
    QCOMPARE(uplink.port, quint16(2));
    QCOMPARE(uplink.gatewayId, QStringLiteral("0016C001FF10A235"));
    QVERIFY(uplink.valid);
}

void TestServerLinkMessages::devicesListAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("status");
    QTest::addColumn<DeviceList>("devices");
    QTest::addColumn<int>("traced");

    QTest::addRow("entry rules") << text(
        R"({"cmd":"get_devices_resp","status":true,"devices_list":[)"
        R"({"devEui":"a1","devName":"first","OTAA":{"appEui":"F1"}},)"
        R"({"devEui":"a2","devName":"no OTAA"},)"
        R"({"devEui":"a3","devName":"no appEui","OTAA":{}},)"
        R"({"devName":"no devEui","OTAA":{"appEui":"F1"}},)"
        R"({"devEui":"a5","OTAA":{"appEui":"F1"}},)"
        R"("not an object",7,null,)"
        R"({"devEui":"a8","devName":"OTAA not an object","OTAA":"F1"},)"
        R"({"devEui":"A9","devName":"last","OTAA":{"appEui":"f9"}}]})")
                                 << true
                                 << DeviceList{info("a1", "F1", "first"), info("A9", "f9", "last")}
                                 << 4;
    QTest::addRow("no devices_list")
        << text(R"({"cmd":"get_devices_resp","status":true})") << true << DeviceList{} << 0;
    QTest::addRow("devices_list not an array")
        << text(R"({"cmd":"get_devices_resp","status":true,"devices_list":{"devEui":"a1"}})")
        << true << DeviceList{} << 0;
    QTest::addRow("refused") << text(
        R"({"cmd":"get_devices_resp","status":false,"devices_list":[)"
        R"({"devEui":"a1","devName":"first","OTAA":{"appEui":"F1"}}]})")
                             << false << DeviceList{} << 0;
    QTest::addRow("status as text")
        << text(R"({"cmd":"get_devices_resp","status":"true","devices_list":[]})") << false
        << DeviceList{} << 0;
}

void TestServerLinkMessages::devicesListAnswer()
{
    QFETCH(QString, answer);
    QFETCH(bool, status);
    QFETCH(DeviceList, devices);
    QFETCH(int, traced);

    f->fake->setDevicesReplyEnabled(false);
    QVERIFY(f->link->getDevicesList({QStringLiteral("F1")}));
    QVERIFY(f->fake->waitForCommand(QStringLiteral("get_devices_req")));
    f->debug->clear();
    f->fake->sendText(answer);
    QVERIFY(f->devicesSpy->wait());
    QCOMPARE(f->devicesSpy->first().at(0).toBool(), status);
    const auto list = f->devicesSpy->first().at(1).value<DeviceList>();
    QCOMPARE(list.size(), devices.size());
    for (int i = 0; i < list.size(); ++i) {
        QCOMPARE(list.at(i).devEui, devices.at(i).devEui);
        QCOMPARE(list.at(i).appEui, devices.at(i).appEui);
        QCOMPARE(list.at(i).devName, devices.at(i).devName);
    }
    QCOMPARE(f->debug->count(QStringLiteral("Recived from server: ")), traced);

    // The answer ended the wait: the next request goes out at once.
    f->link->sendData(QStringLiteral("A1"), "01");
    QVERIFY(f->fake->waitForCommand(QStringLiteral("send_data_req")));

    // A second answer to the same request is not scheduled.
    f->fake->sendText(answer);
    QVERIFY(log->waitForLine(Unscheduled));
    QVERIFY(f->uplinkBarrier());
    QCOMPARE(f->devicesSpy->count(), 1);
    QCOMPARE(log->count(Unscheduled), 1);
}

void TestServerLinkMessages::lastPacketsFirstValidEntry()
{
    // The third entry is the first valid one; its own DevEUI gives way to the answer's.
    QJsonObject third = packet("UNCONF_UP", "0a0b", 3);
    third.insert("devEui", "ffffffffffffffff");
    QJsonArray dataList{packet("UNCONF_DOWN", "01", 1), packet("CONF_UP", nullptr, 2), third};
    for (int fcnt = 4; fcnt <= 10; ++fcnt)
        dataList.append(packet("CONF_UP", "ffff", fcnt));
    f->fake->setLastPackets(QStringLiteral("70b3d5e75e0000aa"), dataList);

    f->link->getDeviceLastPackets(QStringLiteral("70b3d5e75e0000aa"));
    QVERIFY(f->packetSpy->wait());
    QVERIFY(f->uplinkBarrier());
    QCOMPARE(f->packetSpy->count(), 2);
    const auto uplink = f->packetSpy->first().at(0).value<API::SApiDeviceData>();
    QVERIFY(uplink.valid);
    QCOMPARE(uplink.fcnt, 3u);
    QCOMPARE(uplink.data, QByteArray::fromHex("0a0b"));
    QCOMPARE(uplink.devEui, QStringLiteral("70B3D5E75E0000AA"));
}

void TestServerLinkMessages::lastPacketsIgnored_data()
{
    QTest::addColumn<QString>("answer");
    const char *valid = R"({"type":"CONF_UP","data":"01"})";

    QTest::addRow("refused") << text(R"({"cmd":"get_data_resp","status":false,"devEui":"a1",)")
                                    + text(R"("data_list":[)") + text(valid) + text("]}");
    QTest::addRow("status as text")
        << text(R"({"cmd":"get_data_resp","status":"true","devEui":"a1","data_list":[)")
               + text(valid) + text("]}");
    QTest::addRow("no DevEUI") << text(R"({"cmd":"get_data_resp","status":true,"data_list":[)")
                                      + text(valid) + text("]}");
    QTest::addRow("DevEUI not a text")
        << text(R"({"cmd":"get_data_resp","status":true,"devEui":12,"data_list":[)") + text(valid)
               + text("]}");
    QTest::addRow("no data_list") << text(R"({"cmd":"get_data_resp","status":true,"devEui":"a1"})");
    QTest::addRow("no valid entry")
        << text(R"({"cmd":"get_data_resp","status":true,"devEui":"a1","data_list":[)"
                R"({"type":"CONF_DOWN","data":"01"},{"data":"01"},[],"x"]})");
}

void TestServerLinkMessages::lastPacketsIgnored()
{
    // Also shows that an answer that nobody asked for is read like an awaited one.
    QFETCH(QString, answer);
    f->fake->sendText(answer);
    QVERIFY(f->uplinkBarrier());
    QCOMPARE(f->packetSpy->count(), 1);

    QString accepted = answer;
    accepted.replace(text(R"("status":false)"), text(R"("status":true)"));
    if (accepted == answer)
        return;
    f->fake->sendText(accepted);
    QVERIFY(f->packetSpy->wait());
    QCOMPARE(f->packetSpy->last().at(0).value<API::SApiDeviceData>().devEui, QStringLiteral("A1"));
}

void TestServerLinkMessages::badFramesWhileVerified()
{
    QString huge = text(R"({"cmd":"get_data_resp","status":true,"devEui":"a1","data_list":[)");
    for (int i = 0; i < 100000; ++i)
        huge += text(R"({"type":"CONF_DOWN","data":"01"},)");
    huge += QStringLiteral("1]}");

    const QStringList frames{text(R"({"cmd":5})"),
                             text(R"({"cmd":["rx"],"type":"CONF_UP","devEui":"a1","data":"01"})"),
                             text(R"({"cmd":"rx","type":5,"devEui":"a1","data":[1]})"),
                             text(R"({"cmd":"rx","type":"CONF_UP","devEui":{},"data":"01"})"),
                             text(R"({"cmd":"get_devices_resp","status":true,"devices_list":7})"),
                             text(R"({"cmd":"get_data_resp","status":true,"devEui":"a1",)"
                                  R"("data_list":{"type":"CONF_UP","data":"01"}})"),
                             text("[]"),
                             text("{"),
                             text("\xff\xfe"),
                             huge};
    for (const QString &frame : frames)
        f->fake->sendText(frame);
    f->fake->sendBinary(R"({"cmd":"rx","type":"CONF_UP","devEui":"a1","data":"01"})");
    QVERIFY(f->uplinkBarrier());
    QCOMPARE(f->packetSpy->count(), 1);
    QVERIFY(!f->debug->contains(NoCommand));
    QCOMPARE(f->debug->count(LinkFixture::NotAnObject), 3);
    QCOMPARE(f->seenStatuses(), (QList<int>{5, 1, 3, 0}));
}

QTEST_GUILESS_MAIN(TestServerLinkMessages)
#include "tst_serverlink_messages.moc"
