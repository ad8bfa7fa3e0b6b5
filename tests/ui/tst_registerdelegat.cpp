#include "CRegisterDelegat.h"
#include "LogCapture.h"
#include "TempWorkDir.h"
#include "TextRecorder.h"
#include "UiTestSupport.h"

#include <QDateTime>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>

#include <memory>

namespace {
enum Column {
    RegAddr = 2,
    BitSize = 5,
    DataType = 6,
    FullValue = 8,
    Time = 9,
    Name = 10,
    Unit = 11,
};

const QString never = QStringLiteral("NEVER RECEIVING");

// One register row of the main window's list; an invalid full value or time stays unset (null).
struct RegisterRow
{
    QString name = QStringLiteral("Voltage");
    int regAddr = 100;
    int bitSize = 16;
    QString dataType = QStringLiteral("integer");
    QVariant fullValue;
    QVariant time;
    QString units;
};

QModelIndex addRow(QStandardItemModel &model, const RegisterRow &row)
{
    const int r = model.rowCount();
    model.insertRow(r);
    model.setData(model.index(r, RegAddr), row.regAddr);
    model.setData(model.index(r, BitSize), row.bitSize);
    model.setData(model.index(r, DataType), row.dataType);
    if (row.fullValue.isValid())
        model.setData(model.index(r, FullValue), row.fullValue);
    if (row.time.isValid())
        model.setData(model.index(r, Time), row.time);
    model.setData(model.index(r, Name), row.name);
    model.setData(model.index(r, Unit), row.units);
    return model.index(r, 0);
}

// Texts of one painted row, in drawing order: name, register label, time, value.
QStringList paintRow(const RegisterRow &row, TextRecorder *recorder = nullptr)
{
    QStandardItemModel model(0, 14);
    const QModelIndex index = addRow(model, row);
    TextRecorder own(QSize(300, 40));
    TextRecorder &target = recorder != nullptr ? *recorder : own;
    QPainter painter(&target);
    CRegisterDelegat().paint(&painter, itemOption(QRect(0, 0, 300, 40)), index);
    return target.strings();
}
} // namespace

// The register list delegate of the main window: value decoding by data type, the register
// label, the time of reception and the row colours.
class TestRegisterDelegat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void valueText_data();
    void valueText();
    void registerLabel_data();
    void registerLabel();
    void receiveTime();
    void unsupportedTypesLog_data();
    void unsupportedTypesLog();
    void layoutAndColours();
    void rowColours_data();
    void rowColours();
    void wrongColumnCount_data();
    void wrongColumnCount();

private:
    std::unique_ptr<TempWorkDir> workDir;
    std::unique_ptr<LogCapture> log;
};

void TestRegisterDelegat::initTestCase()
{
    workDir = std::make_unique<TempWorkDir>();
    QVERIFY(workDir->isValid());
    log = std::make_unique<LogCapture>();
}

void TestRegisterDelegat::valueText_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QVariant>("fullValue");
    QTest::addColumn<QString>("units");
    QTest::addColumn<QString>("expected");

    const auto hex = [](const char *text) {
        return QVariant(QString::fromLatin1(text));
    };
    QTest::addRow("integer 16 FFFE") << "integer" << 16 << hex("FFFE") << ""
                                     << "-2";
    QTest::addRow("integer 8 lower case") << "integer" << 8 << hex("fffe") << ""
                                          << "-2";
    QTest::addRow("integer 32 FFFFFFFE") << "integer" << 32 << hex("FFFFFFFE") << ""
                                         << "-2";
    QTest::addRow("integer 64 min") << "integer" << 64 << hex("8000000000000000") << ""
                                    << "-9223372036854775808";
    QTest::addRow("integer 16, 4 bytes: high word") << "integer" << 16 << hex("FFFE0001") << ""
                                                    << "-2";
    QTest::addRow("integer 24 reads 8 bytes") << "integer" << 24 << hex("00000000000100FF") << ""
                                              << "65791";
    QTest::addRow("integer 48 reads 8 bytes") << "integer" << 48 << hex("FFFFFFFFFFFFFFFF") << ""
                                              << "-1";
    QTest::addRow("integer with units") << "integer" << 16 << hex("00D7") << "V"
                                        << "215 [V]";
    // A full value shorter than the bit size asks for: the bytes present, sign-extended.
    QTest::addRow("integer 32, 2 bytes") << "integer" << 32 << hex("FFFE") << ""
                                         << "-2";
    QTest::addRow("integer 64, 2 bytes positive") << "integer" << 64 << hex("7FFF") << ""
                                                  << "32767";
    QTest::addRow("integer 64, 4 bytes") << "integer" << 64 << hex("FFFFFF85") << ""
                                         << "-123";
    QTest::addRow("integer 16, 1 byte") << "integer" << 16 << hex("80") << ""
                                        << "-128";
    QTest::addRow("integer, empty full value") << "integer" << 16 << hex("") << "V"
                                               << "0 [V]";
    QTest::addRow("integer never received") << "integer" << 16 << QVariant() << "V" << never;
    QTest::addRow("integer SQL null")
        << "integer" << 16 << QVariant(QMetaType(QMetaType::QString)) << "V" << never;
    QTest::addRow("uinteger FFFFFFFE") << "uinteger" << 32 << hex("FFFFFFFE") << ""
                                       << "4294967294";
    QTest::addRow("uinteger 64 max") << "uinteger" << 64 << hex("FFFFFFFFFFFFFFFF") << "s"
                                     << "18446744073709551615 [s]";
    QTest::addRow("uinteger not hex") << "uinteger" << 16 << hex("xyz") << ""
                                      << "0";
    QTest::addRow("uinteger too long") << "uinteger" << 64 << hex("1FFFFFFFFFFFFFFFF") << ""
                                       << "0";
    QTest::addRow("uinteger never received") << "uinteger" << 16 << QVariant() << "V" << never;
    QTest::addRow("text without units") << "text" << 64 << hex("ABCDEF01") << "V"
                                        << "ABCDEF01";
    QTest::addRow("text never received") << "text" << 64 << QVariant() << "V" << never;
    QTest::addRow("boolean") << "boolean" << 16 << hex("0001") << "V" << never;
    QTest::addRow("Integer capital") << "Integer" << 16 << hex("0001") << "V" << never;
}

void TestRegisterDelegat::valueText()
{
    QFETCH(QString, dataType);
    QFETCH(int, bitSize);
    QFETCH(QVariant, fullValue);
    QFETCH(QString, units);
    QFETCH(QString, expected);
    RegisterRow row;
    row.dataType = dataType;
    row.bitSize = bitSize;
    row.fullValue = fullValue;
    row.units = units;
    const QStringList texts = paintRow(row);
    QCOMPARE(texts.size(), 4);
    QCOMPARE(texts.at(3), expected);
}

void TestRegisterDelegat::registerLabel_data()
{
    QTest::addColumn<int>("bitSize");
    QTest::addColumn<QString>("label");
    QTest::addRow("8") << 8 << "ModBUS register[100]";
    QTest::addRow("16") << 16 << "ModBUS register[100]";
    QTest::addRow("17") << 17 << "ModBUS register[100..101]";
    QTest::addRow("24") << 24 << "ModBUS register[100..101]";
    QTest::addRow("32") << 32 << "ModBUS register[100..101]";
    QTest::addRow("48") << 48 << "ModBUS register[100..102]";
    QTest::addRow("64") << 64 << "ModBUS register[100..103]";
}

void TestRegisterDelegat::registerLabel()
{
    QFETCH(int, bitSize);
    QFETCH(QString, label);
    RegisterRow row;
    row.bitSize = bitSize;
    QCOMPARE(paintRow(row).at(1), label);
}

void TestRegisterDelegat::receiveTime()
{
    RegisterRow row;
    QCOMPARE(paintRow(row).at(2), never);
    row.time = 0;
    QCOMPARE(paintRow(row).at(2), never);
    row.time = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)).toMSecsSinceEpoch();
    QCOMPARE(paintRow(row).at(2), QStringLiteral("05-Mar-24 14:07:09"));
}

void TestRegisterDelegat::unsupportedTypesLog_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<QString>("line");
    QTest::addRow("boolean") << "boolean"
                             << "[CRegisterDelegat::paint] Unsupporting dataType: BOOLEAN";
    QTest::addRow("unknown") << "float"
                             << "[CRegisterDelegat::paint] Unknown data type! float";
}

void TestRegisterDelegat::unsupportedTypesLog()
{
    QFETCH(QString, dataType);
    QFETCH(QString, line);
    log->clear();
    RegisterRow row;
    row.dataType = dataType;
    row.fullValue = QStringLiteral("0001");
    row.time = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)).toMSecsSinceEpoch();
    const QStringList texts = paintRow(row);
    // The time of reception is still shown.
    QCOMPARE(texts.at(2), QStringLiteral("02-Jan-24 03:04:05"));
    QVERIFY(log->waitForLine(line));
    paintRow(row);
    QTRY_COMPARE(log->count(line), 2);
}

void TestRegisterDelegat::layoutAndColours()
{
    RegisterRow row;
    row.fullValue = QStringLiteral("00D7");
    row.units = QStringLiteral("V");
    TextRecorder recorder(QSize(300, 40));
    paintRow(row, &recorder);
    const DrawnText name = recorder.find(QStringLiteral("Voltage"));
    const DrawnText label = recorder.find(QStringLiteral("ModBUS register[100]"));
    const DrawnText time = recorder.find(never);
    const DrawnText value = recorder.find(QStringLiteral("215 [V]"));
    QCOMPARE(name.color, QColor(QStringLiteral("#0c3342")));
    QCOMPARE(label.color, QColor(QStringLiteral("#0c3342")));
    QCOMPARE(time.color, QColor(QStringLiteral("#501370")));
    QCOMPARE(value.color, QColor(QStringLiteral("#035b2c")));
    QCOMPARE(name.font.pixelSize(), 12);
    QCOMPARE(time.font.pixelSize(), 9);
    QCOMPARE(value.font.pixelSize(), 12);
    QVERIFY(name.font.bold() && time.font.bold() && value.font.bold());

    // Name and time left at 2 px, label and value right-aligned to 2 px before the edge.
    QCOMPARE(name.position.x(), 2.0);
    QCOMPARE(time.position.x(), 2.0);
    const auto rightEdge = [](const DrawnText &text) {
        return text.position.x() + QFontMetricsF(text.font).horizontalAdvance(text.text);
    };
    QVERIFY(qAbs(rightEdge(label) - 298) < 1.5);
    QVERIFY(qAbs(rightEdge(value) - 298) < 1.5);
    // The second line starts below the name's bounding rectangle.
    QVERIFY(time.position.y() > name.position.y());

    // An empty name: the second line starts 2 px below the top.
    row.name.clear();
    recorder.clear();
    paintRow(row, &recorder);
    const DrawnText shifted = recorder.find(never);
    QCOMPARE(shifted.position.y(), 2 + QFontMetricsF(shifted.font).ascent());

    QCOMPARE(CRegisterDelegat().sizeHint(itemOption(QRect()), QModelIndex()), QSize(100, 40));
}

void TestRegisterDelegat::rowColours_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("colour");
    QTest::addRow("row 0") << 0 << int(QStyle::State_None) << "#ffe7e8ea";
    QTest::addRow("row 1") << 1 << int(QStyle::State_None) << "#ffc4c6c9";
    QTest::addRow("row 2") << 2 << int(QStyle::State_None) << "#ffe7e8ea";
    QTest::addRow("row 1 selected") << 1 << int(QStyle::State_Selected) << "#ff94999d";
    QTest::addRow("row 2 hovered") << 2 << int(QStyle::State_MouseOver) << "#ff94999d";
}

void TestRegisterDelegat::rowColours()
{
    QFETCH(int, row);
    QFETCH(int, state);
    QFETCH(QString, colour);
    QStandardItemModel model(0, 14);
    for (int i = 0; i < 3; ++i)
        addRow(model, RegisterRow());
    QImage image = blankImage(300, 40);
    {
        QPainter painter(&image);
        CRegisterDelegat().paint(&painter, itemOption(QRect(0, 0, 300, 40), QStyle::State(state)),
                                 model.index(row, 0));
    }
    QCOMPARE(argbName(image.pixelColor(1, 20)), colour);
    QCOMPARE(argbName(image.pixelColor(150, 38)), colour);
    QCOMPARE(image.pixelColor(0, 0).alpha() < 255, true); // rounded corner
}

void TestRegisterDelegat::wrongColumnCount_data()
{
    QTest::addColumn<int>("columns");
    QTest::addRow("13") << 13;
    QTest::addRow("15") << 15;
}

void TestRegisterDelegat::wrongColumnCount()
{
    QFETCH(int, columns);
    QStandardItemModel model(1, columns);
    QImage image = blankImage(300, 40);
    QPainter painter(&image);
    const QPen pen(Qt::red);
    painter.setPen(pen);
    QTest::ignoreMessage(QtDebugMsg, "[CRegisterDelegat::paint] ERROR: invalid input data size!");
    CRegisterDelegat().paint(&painter, itemOption(QRect(0, 0, 300, 40)), model.index(0, 0));
    QCOMPARE(painter.pen(), pen);
    painter.end();
    QCOMPARE(image, blankImage(300, 40));
}

QTEST_MAIN(TestRegisterDelegat)
#include "tst_registerdelegat.moc"
