#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "SDeviceTemplate.h"
#include "TcpChunkWord.h"
#include "TempWorkDir.h"
#include "TemplateDecoder.h"
#include "TestRegister.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// Log lines that carry text from outside (packet bytes, DevEUIs, template names, file names)
// show it as it is: a "%1" in it takes no later argument's place and no marker stays unfilled.
class tst_OutsideText : public QObject
{
    Q_OBJECT

public:
    enum class Source { PipeSend, PipeDamaged, Registry, TemplateFile, Decoder, Storage };
    Q_ENUM(Source)

private slots:
    void initTestCase();
    void init();

    void loggedAsItIs_data();
    void loggedAsItIs();

private:
    QStringList pipeLines(const QString &devEui, const QByteArray &chunk, quint32 word,
                          quint16 *port);
    QStringList registryLines(const QString &devEui, quint16 *port);
    QStringList templateFileLines(const QString &baseName, QString *path);
    QStringList decoderLines(const QString &name);
    QStringList storageLines(const QString &devEui);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
};

namespace {

const QString PlainEui = QStringLiteral("70B3D5E75E000042");

// Waits until the log has as many lines as expected, then returns them.
QStringList settledLines(LogCapture &log, int expected)
{
    // On a time-out the comparison shows what came.
    if (!QTest::qWaitFor([&] { return log.lines().size() >= expected; }, 5000))
        qWarning() << "fewer log lines than expected";
    return log.lines();
}

// One packet of three bytes; field "name" lies past its end, field "kind" has the data type.
QByteArray decoderTemplate(const QString &name, const QString &kind)
{
    QJsonObject outside{{"packet_bias", 5},        {"data_bit_bias", 0}, {"data_bit_size", 16},
                        {"data_type", "uinteger"}, {"reg_map_bias", 0},  {"reg_bit_bias", 0},
                        {"reg_bit_size", 16},      {"data_name", name}};
    QJsonObject typed = outside;
    typed["packet_bias"] = 1;
    typed["data_type"] = kind;
    typed["reg_map_bias"] = 1;
    typed["data_name"] = QStringLiteral("typed");
    const QJsonObject packet{
        {"packet_type", 1}, {"packet_size", 3}, {"packet_fields", QJsonArray{outside, typed}}};
    const QJsonObject root{{"app_eui", "C1"},
                           {"dev_type", "decoder"},
                           {"server_data", QJsonArray{}},
                           {"device_packets", QJsonArray{packet}}};
    return QJsonDocument(root).toJson();
}

} // namespace

void tst_OutsideText::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
    QVERIFY(CDataBaseHandler::getInstance());
    QVERIFY(CAllDeviceHandler::getInstance());
}

void tst_OutsideText::init()
{
    log->clear();
}

void tst_OutsideText::loggedAsItIs_data()
{
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("text");

    const QMetaEnum sources = QMetaEnum::fromType<Source>();
    // Markers in order, out of order, and the doubled percent sign.
    for (const QString &text :
         {QStringLiteral("A%1B%2C!"), QStringLiteral("%2%1"), QStringLiteral("100%%")})
        for (int i = 0; i < sources.keyCount(); ++i)
            QTest::addRow("%s %s", sources.key(i), qPrintable(text))
                << Source(sources.value(i)) << text;
}

void tst_OutsideText::loggedAsItIs()
{
    QFETCH(Source, source);
    QFETCH(QString, text);

    quint16 port = 0;
    QString path;
    QStringList lines;
    QStringList expected;
    switch (source) {
    case Source::PipeSend:
        lines = pipeLines(PlainEui, text.toUtf8(), TcpChunkWord::pack(1, 1, quint16(text.size())),
                          &port);
        expected = {"INFO: [CDeviceHandler::sendTCPDataToSocket] Send data [" + text
                    + "] for a TCP socket in port " + QString::number(port) + "."};
        break;
    case Source::PipeDamaged:
        lines = pipeLines(text, "a", TcpChunkWord::pack(1, 1, 2), &port);
        expected = {"ERROR: [CDeviceHandler::sendTCPData] Package from device " + text
                    + " has been damaged or lost! Total packet size is [2], received packet size "
                      "is [1]. Data discarded."};
        break;
    case Source::Registry:
        lines = registryLines(text, &port);
        expected = {"[CAllDeviceHandler::addNewDevice] New device: DevEUI[" + text + "], port["
                        + QString::number(port) + "]",
                    "WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Device DevEUI[" + text
                        + "] is already on port [" + QString::number(port) + "]!"};
        break;
    case Source::TemplateFile: {
        lines = templateFileLines(text, &path);
        QJsonParseError error;
        QJsonDocument::fromJson("{", &error);
        expected = {"ERROR: [CAllDeviceHandler] Invalid parsing JSON file [" + path + "]: error["
                    + error.errorString() + "], row[" + QString::number(error.offset) + "]"};
        break;
    }
    case Source::Decoder:
        lines = decoderLines(text);
        expected = {"WARNING: [CAllDeviceHandler::processDataSlot] Field [" + text
                        + "] lies outside the packet: bias [5], size [2], real [3]",
                    "WARNING: [CAllDeviceHandler::processDataSlot] Unsupport data type [" + text
                        + "] for size [2]"};
        break;
    case Source::Storage:
        lines = storageLines(text);
        expected = {"WARNING: [CDataBaseHandler::registerNewDevice] Register [0x00ff] for device ["
                    + text + "] already exist!"};
        break;
    }
    QCOMPARE(lines, expected);
}

// A transparent server of the DevEUI with one client, fed one chunk.
QStringList tst_OutsideText::pipeLines(const QString &devEui, const QByteArray &chunk, quint32 word,
                                       quint16 *port)
{
    *port = freePort();
    CDeviceHandler server(*port, ProtocolTCP, devEui);
    server.appendDevice(devEui);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, *port);
    if (!client.waitForConnected(5000)
        || !QTest::qWaitFor([&] { return server.connectionCount() == 1; }, 5000))
        return {QStringLiteral("no client")};
    log->clear();
    server.sendTCPData(chunk, word);
    return settledLines(*log, 1);
}

QStringList tst_OutsideText::registryLines(const QString &devEui, quint16 *port)
{
    *port = freePort();
    DB::SDeviceRegMapDescription info;
    info.devEui = devEui;
    info.appEui = QStringLiteral("T1");
    info.name = devEui;
    info.port = *port;
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    registry->addNewDevice(info, ProtocolTCP);
    registry->updatePortRegisteredDevice(info, *port);
    const QStringList lines = settledLines(*log, 2);
    registry->removeDevice(devEui, *port);
    return lines;
}

// A broken template file of that name, loaded from a folder of its own.
QStringList tst_OutsideText::templateFileLines(const QString &baseName, QString *path)
{
    TempWorkDir other;
    if (!other.isValid())
        return {QStringLiteral("no folder")};
    other.writeFile("deviceFolder/" + baseName + ".json", "{");
    *path = QDir::currentPath() + "/deviceFolder/" + baseName + ".json";
    QMetaObject::invokeMethod(CAllDeviceHandler::getInstance(), "init", Qt::DirectConnection);
    return settledLines(*log, 1);
}

QStringList tst_OutsideText::decoderLines(const QString &name)
{
    const SDeviceTemplate deviceTemplate(
        QJsonDocument::fromJson(decoderTemplate(name, name)).object());
    if (!deviceTemplate.valid)
        return {QStringLiteral("invalid template")};
    API::SApiDeviceData uplink;
    uplink.devEui = PlainEui;
    uplink.data = QByteArray::fromHex("010203");
    QStringList lines;
    TemplateDecoder::decode(
        deviceTemplate, uplink, 0, [](quint32) { return DB::SRegisterParam(); },
        [&](const QString &line) { lines.append(line); });
    return lines;
}

// A Modbus device whose template gives register offset 255 twice.
QStringList tst_OutsideText::storageLines(const QString &devEui)
{
    DB::SDeviceRegMapDescription info;
    info.devEui = devEui;
    info.appEui = QStringLiteral("C1");
    info.name = devEui;
    info.port = 502;
    info.registers = {testRegister(255), testRegister(255)};
    if (!CDataBaseHandler::getInstance()->registerNewDevice(info, ProtocolModbus))
        return {QStringLiteral("not registered")};
    return settledLines(*log, 1);
}

QTEST_GUILESS_MAIN(tst_OutsideText)
#include "tst_outsidetext.moc"
