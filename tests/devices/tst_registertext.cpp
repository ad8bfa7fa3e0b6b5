#include "RegisterText.h"

#include <QtTest>

#include <limits>

// The number-to-register-text helpers of the decoder.
class tst_RegisterText : public QObject
{
    Q_OBJECT

private slots:
    void hexText_data();
    void hexText();
    void readInteger_data();
    void readInteger();
    void bytesInside_data();
    void bytesInside();
    void rounding_data();
    void rounding();
    void truncateUnsigned_data();
    void truncateUnsigned();
};

void tst_RegisterText::hexText_data()
{
    QTest::addColumn<qint64>("x");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("last");

    QTest::addRow("zero padded") << qint64(0x12) << 4 << "0012"
                                 << "0012";
    QTest::addRow("lower case") << qint64(0xABCD) << 4 << "abcd"
                                << "abcd";
    QTest::addRow("wider than W keeps digits") << qint64(70000) << 4 << "11170"
                                               << "1170";
    QTest::addRow("-1 over 16 bits") << qint64(-1) << 4 << "ffff"
                                     << "ffff";
    QTest::addRow("rssi -100") << qint64(-100) << 4 << "ff9c"
                               << "ff9c";
    QTest::addRow("snr -8 over 32 bits") << qint64(-8) << 8 << "fffffff8"
                                         << "fffffff8";
    QTest::addRow("-70000 over 16 bits") << qint64(-70000) << 4 << "ee90"
                                         << "ee90";
    QTest::addRow("-1 over 64 bits") << qint64(-1) << 16 << "ffffffffffffffff"
                                     << "ffffffffffffffff";
    QTest::addRow("int64 min") << std::numeric_limits<qint64>::min() << 16 << "8000000000000000"
                               << "8000000000000000";
    QTest::addRow("fcnt over 32 bits") << qint64(0x12345) << 8 << "00012345"
                                       << "00012345";
    QTest::addRow("33 bits over 32") << qint64(0x100000001) << 8 << "100000001"
                                     << "00000001";
}

void tst_RegisterText::hexText()
{
    QFETCH(qint64, x);
    QFETCH(int, width);
    QFETCH(QString, text);
    QFETCH(QString, last);

    QCOMPARE(RegisterText::hexText(x, width), text);
    QCOMPARE(RegisterText::lastChars(RegisterText::hexText(x, width), width), last);
    if (x >= 0)
        QCOMPARE(RegisterText::hexText(quint64(x), width), text);
}

void tst_RegisterText::readInteger_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<quint64>("unsignedValue");
    QTest::addColumn<qint64>("signedValue");

    const QByteArray data = QByteArray::fromHex("0001021234abcdff80");
    QTest::addRow("2 bytes BE") << data << 1 << 2 << true << quint64(0x0102) << qint64(0x0102);
    QTest::addRow("2 bytes LE") << data << 1 << 2 << false << quint64(0x0201) << qint64(0x0201);
    QTest::addRow("1 byte 0xff") << data << 7 << 1 << true << quint64(0xff) << qint64(-1);
    QTest::addRow("1 byte order ignored") << data << 7 << 1 << false << quint64(0xff) << qint64(-1);
    QTest::addRow("4 bytes BE") << data << 3 << 4 << true << quint64(0x1234abcd)
                                << qint64(0x1234abcd);
    QTest::addRow("4 bytes LE negative")
        << data << 5 << 4 << false << quint64(0x80ffcdab) << qint64(qint32(0x80ffcdab));
    QTest::addRow("8 bytes BE") << data << 1 << 8 << true << quint64(0x01021234abcdff80)
                                << qint64(0x01021234abcdff80);
    QTest::addRow("8 bytes LE negative")
        << data << 1 << 8 << false << quint64(0x80ffcdab34120201) << qint64(0x80ffcdab34120201);
}

void tst_RegisterText::readInteger()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, offset);
    QFETCH(int, count);
    QFETCH(bool, bigEndian);
    QFETCH(quint64, unsignedValue);
    QFETCH(qint64, signedValue);

    const quint64 raw = RegisterText::readUnsigned(bytes, offset, count, bigEndian);
    QCOMPARE(raw, unsignedValue);
    QCOMPARE(RegisterText::signExtend(raw, count), signedValue);
}

void tst_RegisterText::bytesInside_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<bool>("inside");

    QTest::addRow("last byte") << qint64(5) << qint64(4) << qint64(1) << true;
    QTest::addRow("whole payload") << qint64(5) << qint64(0) << qint64(5) << true;
    QTest::addRow("one past the end") << qint64(5) << qint64(4) << qint64(2) << false;
    QTest::addRow("starts at the end") << qint64(5) << qint64(5) << qint64(1) << false;
    QTest::addRow("negative bias") << qint64(5) << qint64(-1) << qint64(2) << false;
    QTest::addRow("huge bias") << qint64(5) << qint64(std::numeric_limits<int>::max()) << qint64(8)
                               << false;
    QTest::addRow("empty payload") << qint64(0) << qint64(0) << qint64(1) << false;
}

void tst_RegisterText::bytesInside()
{
    QFETCH(qint64, size);
    QFETCH(qint64, offset);
    QFETCH(qint64, count);
    QFETCH(bool, inside);
    QCOMPARE(RegisterText::bytesInside(size, offset, count), inside);
}

void tst_RegisterText::rounding_data()
{
    QTest::addColumn<double>("y");
    QTest::addColumn<qint32>("to32");
    QTest::addColumn<qint64>("to64");

    QTest::addRow("2.5 up") << 2.5 << 3 << qint64(3);
    QTest::addRow("-2.5 down") << -2.5 << -3 << qint64(-3);
    QTest::addRow("2.4") << 2.4 << 2 << qint64(2);
    QTest::addRow("-7.5") << -7.5 << -8 << qint64(-8);
    QTest::addRow("-0.4 is 0") << -0.4 << 0 << qint64(0);
    QTest::addRow("above int32 saturates")
        << 3e9 << std::numeric_limits<qint32>::max() << qint64(3000000000);
    QTest::addRow("below int32 saturates")
        << -3e9 << std::numeric_limits<qint32>::min() << qint64(-3000000000);
    QTest::addRow("above int64 saturates")
        << 1e30 << std::numeric_limits<qint32>::max() << std::numeric_limits<qint64>::max();
    QTest::addRow("below int64 saturates")
        << -1e30 << std::numeric_limits<qint32>::min() << std::numeric_limits<qint64>::min();
    QTest::addRow("infinity") << std::numeric_limits<double>::infinity()
                              << std::numeric_limits<qint32>::max()
                              << std::numeric_limits<qint64>::max();
    QTest::addRow("NaN is 0") << std::numeric_limits<double>::quiet_NaN() << 0 << qint64(0);
}

void tst_RegisterText::rounding()
{
    QFETCH(double, y);
    QFETCH(qint32, to32);
    QFETCH(qint64, to64);
    QCOMPARE(RegisterText::roundToInt32(y), to32);
    QCOMPARE(RegisterText::roundToInt64(y), to64);
}

void tst_RegisterText::truncateUnsigned_data()
{
    QTest::addColumn<double>("y");
    QTest::addColumn<quint64>("value");

    QTest::addRow("2.9 truncated, no half added") << 2.9 << quint64(2);
    QTest::addRow("above 2^63") << 1.5e19 << quint64(15000000000000000000ull);
    QTest::addRow("2^64 saturates")
        << 18446744073709551616.0 << std::numeric_limits<quint64>::max();
    QTest::addRow("negative keeps two's complement") << -3.7 << quint64(-3);
    QTest::addRow("NaN is 0") << std::numeric_limits<double>::quiet_NaN() << quint64(0);
}

void tst_RegisterText::truncateUnsigned()
{
    QFETCH(double, y);
    QFETCH(quint64, value);
    QCOMPARE(RegisterText::truncateToUInt64(y), value);
}

QTEST_GUILESS_MAIN(tst_RegisterText)
#include "tst_registertext.moc"
