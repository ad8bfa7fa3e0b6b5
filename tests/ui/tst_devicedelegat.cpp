#include "CAllDeviceHandler.h"
#include "CDeviceDelegat.h"
#include "LogCapture.h"
#include "TempWorkDir.h"
#include "TextRecorder.h"
#include "UiTestSupport.h"

#include <QPainter>
#include <QStandardItemModel>
#include <QTest>

#include <memory>

namespace {
constexpr int Modbus = 1;
constexpr int Tcp = 2;

QByteArray deviceTemplate(const char *appEui, const char *devType, const char *color)
{
    return QByteArray(R"({"app_eui": ")") + appEui + R"(", "dev_type": ")" + devType
           + R"(", "color": ")" + color + R"JSON(",
        "device_packets": [{"packet_type": 1, "packet_size": 3, "packet_fields": [
            {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer",
             "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "t"}]}]})JSON";
}

const QByteArray tcpTemplates = R"JSON({"data": [
    {"app_eui": "BB01", "dev_type": "Pipe", "color": "#3296c8"},
    {"app_eui": "CC01", "dev_type": "Both-TCP", "color": "#00ff00"},
    {"app_eui": "EE01", "dev_type": "Reverse-TCP", "color": "#0000ff"}
]})JSON";

struct DeviceRow
{
    QString name = QStringLiteral("Meter 1");
    QString appEui;
    QString devEui = QStringLiteral("0011223344556677");
    QString port = QStringLiteral("5020");
};

// A device model of the given width with one row.
std::unique_ptr<QStandardItemModel> deviceModel(int columns, const DeviceRow &row)
{
    auto model = std::make_unique<QStandardItemModel>(1, columns);
    const QStringList cells{QStringLiteral("1"), row.name, row.appEui,
                            row.devEui,          row.port, QStringLiteral("0")};
    for (int column = 0; column < columns && column < cells.size(); ++column)
        model->setData(model->index(0, column), cells.at(column));
    return model;
}

int rowColumns(int mode)
{
    return mode == Tcp ? 5 : 6;
}

QImage paintCard(int mode, const DeviceRow &row, QStyle::State state = QStyle::State_None)
{
    auto model = deviceModel(rowColumns(mode), row);
    CDeviceDelegat delegate(nullptr, mode);
    QImage image = blankImage(100, 30);
    QPainter painter(&image);
    delegate.paint(&painter, itemOption(QRect(0, 0, 100, 30), state), model->index(0, 0));
    return image;
}

void recordCard(int mode, const DeviceRow &row, TextRecorder &recorder)
{
    auto model = deviceModel(rowColumns(mode), row);
    CDeviceDelegat delegate(nullptr, mode);
    QPainter painter(&recorder);
    delegate.paint(&painter, itemOption(QRect(0, 0, 100, 30)), model->index(0, 0));
}

// A card pixel where no text is drawn.
QColor cardFill(const QImage &image)
{
    return image.pixelColor(1, 15);
}

bool near(const QColor &actual, const QColor &expected)
{
    return actual.alpha() == expected.alpha() && qAbs(actual.red() - expected.red()) <= 2
           && qAbs(actual.green() - expected.green()) <= 2
           && qAbs(actual.blue() - expected.blue()) <= 2;
}
} // namespace

// The device list delegate: the card colour from the device type, the shared type cache, the
// texts of both kinds and the refusal of a model of the wrong width.
class TestDeviceDelegat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cardColour_data();
    void cardColour();
    void cacheDecidesBothLists_data();
    void cacheDecidesBothLists();
    void texts_data();
    void texts();
    void emptyName();
    void wrongColumnCount_data();
    void wrongColumnCount();

private:
    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
};

void TestDeviceDelegat::initTestCase()
{
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    workDir->writeFile(QStringLiteral("deviceFolder/meter.json"),
                       deviceTemplate("aa01", "Meter", "#64c8ff"));
    workDir->writeFile(QStringLiteral("deviceFolder/shared.json"),
                       deviceTemplate("CC01", "Both-Modbus", "#ff0000"));
    workDir->writeFile(QStringLiteral("deviceFolder/reverse.json"),
                       deviceTemplate("EE01", "Reverse-Modbus", "#ffff00"));
    workDir->writeFile(QStringLiteral("deviceFolder/TCP.json"), tcpTemplates);
    log = std::make_unique<LogCapture>();
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    QCOMPARE(registry->getDeviceDescription(QStringLiteral("AA01")).devType,
             QStringLiteral("Meter"));
    QCOMPARE(registry->getTCPDeviceDescription(QStringLiteral("BB01")).devType,
             QStringLiteral("Pipe"));
}

void TestDeviceDelegat::cardColour_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("appEui");
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("expected");
    // #64c8ff = (100, 200, 255): each channel / 1.3, truncated, at alpha 60.
    QTest::addRow("known type") << Modbus << "AA01" << int(QStyle::State_None)
                                << QColor(76, 153, 196, 60);
    QTest::addRow("known type, selected")
        << Modbus << "AA01" << int(QStyle::State_Selected) << QColor(100, 200, 255, 150);
    QTest::addRow("known type, hovered")
        << Modbus << "AA01" << int(QStyle::State_MouseOver) << QColor(100, 200, 255, 150);
    // #3296c8 = (50, 150, 200).
    QTest::addRow("TCP type") << Tcp << "BB01" << int(QStyle::State_None)
                              << QColor(38, 115, 153, 60);
    QTest::addRow("unknown") << Modbus << "ZZ99" << int(QStyle::State_None) << QColor(0, 0, 0, 60);
    QTest::addRow("unknown, selected")
        << Tcp << "ZZ98" << int(QStyle::State_Selected) << QColor(0, 0, 0, 150);
    QTest::addRow("other letter case")
        << Modbus << "aa01" << int(QStyle::State_None) << QColor(0, 0, 0, 60);
}

void TestDeviceDelegat::cardColour()
{
    QFETCH(int, mode);
    QFETCH(QString, appEui);
    QFETCH(int, state);
    QFETCH(QColor, expected);
    DeviceRow row;
    row.appEui = appEui;
    const QImage image = paintCard(mode, row, QStyle::State(state));
    QVERIFY2(near(cardFill(image), expected),
             qPrintable(argbName(cardFill(image)) + " != " + argbName(expected)));
    QVERIFY(image.pixelColor(0, 0).alpha() < expected.alpha()); // rounded corner
}

void TestDeviceDelegat::cacheDecidesBothLists_data()
{
    QTest::addColumn<QString>("appEui");
    QTest::addColumn<int>("firstMode");
    QTest::addColumn<QString>("devType");
    QTest::addColumn<QColor>("selectedColour");
    QTest::addRow("Modbus list first")
        << "CC01" << Modbus << "Both-Modbus" << QColor(255, 0, 0, 150);
    QTest::addRow("TCP list first") << "EE01" << Tcp << "Reverse-TCP" << QColor(0, 0, 255, 150);
}

void TestDeviceDelegat::cacheDecidesBothLists()
{
    QFETCH(QString, appEui);
    QFETCH(int, firstMode);
    QFETCH(QString, devType);
    QFETCH(QColor, selectedColour);
    DeviceRow row;
    row.appEui = appEui;
    paintCard(firstMode, row);
    for (int mode : {Modbus, Tcp}) {
        TextRecorder recorder(QSize(100, 30));
        recordCard(mode, row, recorder);
        QCOMPARE(recorder.strings().last(), devType);
        QVERIFY(near(cardFill(paintCard(mode, row, QStyle::State_Selected)), selectedColour));
    }
}

void TestDeviceDelegat::texts_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("expected");
    QTest::addRow("Modbus") << Modbus << QStringList{"Meter 1", "0011223344556677", "Meter"};
    QTest::addRow("TCP") << Tcp << QStringList{"Meter 1", "5020", "0011223344556677", "Pipe"};
}

void TestDeviceDelegat::texts()
{
    QFETCH(int, mode);
    QFETCH(QStringList, expected);
    DeviceRow row;
    row.appEui = mode == Tcp ? QStringLiteral("BB01") : QStringLiteral("AA01");
    TextRecorder recorder(QSize(100, 30));
    recordCard(mode, row, recorder);
    QCOMPARE(recorder.strings(), expected);

    const QList<DrawnText> &drawn = recorder.texts();
    const auto rightEdge = [](const DrawnText &text) {
        return text.position.x() + QFontMetricsF(text.font).horizontalAdvance(text.text);
    };
    const DrawnText &name = drawn.first();
    const DrawnText &devEui = drawn.at(drawn.size() - 2);
    const DrawnText &type = drawn.last();
    QCOMPARE(name.position.x(), 2.0);
    QCOMPARE(name.font.pixelSize(), 12);
    QCOMPARE(name.color, QColor(QStringLiteral("#0c3342")));
    QCOMPARE(devEui.position.x(), 2.0);
    QCOMPARE(devEui.font.pixelSize(), 9);
    QCOMPARE(devEui.color, QColor(QStringLiteral("#501370")));
    QCOMPARE(type.color, QColor(QStringLiteral("#501370")));
    QVERIFY(name.font.bold() && devEui.font.bold() && type.font.bold());
    QVERIFY(qAbs(rightEdge(type) - 98) < 1.5);
    QVERIFY(devEui.position.y() > name.position.y());
    if (mode == Tcp) {
        const DrawnText &port = drawn.at(1);
        QCOMPARE(port.font.pixelSize(), 12);
        QCOMPARE(port.color, QColor(QStringLiteral("#0c3342")));
        QVERIFY(qAbs(rightEdge(port) - 98) < 1.5);
        QCOMPARE(port.position.y(), name.position.y());
    }

    CDeviceDelegat delegate(nullptr, mode);
    QCOMPARE(delegate.sizeHint(itemOption(QRect()), QModelIndex()), QSize(100, 30));
}

void TestDeviceDelegat::emptyName()
{
    DeviceRow row;
    row.appEui = QStringLiteral("AA01");
    row.name.clear();
    TextRecorder recorder(QSize(100, 30));
    recordCard(Modbus, row, recorder);
    const DrawnText devEui = recorder.find(row.devEui);
    QCOMPARE(devEui.position.y(), 2 + QFontMetricsF(devEui.font).ascent());
}

void TestDeviceDelegat::wrongColumnCount_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("message");
    const QString text
        = QStringLiteral("[CDeviceDelegat::paintAllRow] ERROR: invalid input data size!");
    QTest::addRow("Modbus on 5") << Modbus << 5 << "6 5 " + text;
    QTest::addRow("Modbus on 7") << Modbus << 7 << "6 7 " + text;
    QTest::addRow("TCP on 6") << Tcp << 6 << "5 6 " + text;
    QTest::addRow("default mode") << 0 << 5 << "0 5 " + text;
}

void TestDeviceDelegat::wrongColumnCount()
{
    QFETCH(int, mode);
    QFETCH(int, columns);
    QFETCH(QString, message);
    DeviceRow row;
    row.appEui = QStringLiteral("AA01");
    auto model = deviceModel(columns, row);
    CDeviceDelegat delegate(nullptr, mode);
    QImage image = blankImage(100, 30);
    QPainter painter(&image);
    const QPen pen(Qt::red);
    painter.setPen(pen);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    delegate.paint(&painter, itemOption(QRect(0, 0, 100, 30)), model->index(0, 0));
    QCOMPARE(painter.pen(), pen);
    painter.end();
    QCOMPARE(image, blankImage(100, 30));
}

QTEST_MAIN(TestDeviceDelegat)
#include "tst_devicedelegat.moc"
