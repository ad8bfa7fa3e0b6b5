#include "TcpChunk.h"
#include "TcpChunkWord.h"

#include <QtTest>

// The chunk header of transparent TCP device uplinks, as wire bytes in and chunk plus word out.
class tst_TcpChunk : public QObject
{
    Q_OBJECT

private slots:
    void headers_data();
    void headers();
    void dropped_data();
    void dropped();
    void wordPacking();
};

namespace {

QByteArray dataBytes(int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data.append(char(i * 7 + 1));
    return data;
}

} // namespace

void tst_TcpChunk::headers_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("total");

    const QByteArray five = QByteArray::fromHex("1122334455");
    // type, ignored, total (big-endian), length, index, count, data
    QTest::addRow("type 3, one chunk of 5")
        << QByteArray::fromHex("03ff00050500011122334455") << five << 1 << 1 << 5;
    QTest::addRow("type 6") << QByteArray::fromHex("06000005050001112233445599") << five << 1 << 1
                            << 5;
    QTest::addRow("type 13, big-endian total")
        << QByteArray::fromHex("0d000258050203112233445599") << five << 3 << 3 << 600;
    QTest::addRow("type 5, fields four bytes on")
        << QByteArray::fromHex("05aabbccddee01f40501021122334455") << five << 2 << 2 << 500;
    QTest::addRow("index 0 is number 1")
        << QByteArray::fromHex("030000020200040102") << QByteArray::fromHex("0102") << 1 << 4 << 2;
    QTest::addRow("index 255 keeps 8 bits") << QByteArray::fromHex("03000001"
                                                                   "01ff01"
                                                                   "aa")
                                            << QByteArray::fromHex("aa") << 0 << 1 << 1;
    QTest::addRow("length 0") << QByteArray::fromHex("03000000000001") << QByteArray() << 1 << 1
                              << 0;
    QTest::addRow("length 200 (unsigned)")
        << (QByteArray::fromHex("030000c8c80001") + dataBytes(200)) << dataBytes(200) << 1 << 1
        << 200;
    QTest::addRow("type 5, length 200") << (QByteArray::fromHex("050000000000"
                                                                "00c8c80001")
                                            + dataBytes(200) + "tail")
                                        << dataBytes(200) << 1 << 1 << 200;
}

void tst_TcpChunk::headers()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, chunk);
    QFETCH(int, number);
    QFETCH(int, count);
    QFETCH(int, total);

    QString error;
    const std::optional<TcpChunk::SChunk> parsed = TcpChunk::parse(payload, &error);
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(parsed->data, chunk);
    QCOMPARE(int(TcpChunkWord::number(parsed->word)), number);
    QCOMPARE(int(TcpChunkWord::count(parsed->word)), count);
    QCOMPARE(int(TcpChunkWord::total(parsed->word)), total);
}

void tst_TcpChunk::dropped_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("why");

    QTest::addRow("empty") << QByteArray() << QStringLiteral("Empty payload");
    QTest::addRow("not a chunk type") << QByteArray::fromHex("04000005050001112233445566")
                                      << QStringLiteral("Uncknown chunk type [4]");
    QTest::addRow("type 3, header cut")
        << QByteArray::fromHex("030000050500") << QStringLiteral("chunk header size [7]");
    QTest::addRow("type 5, header of type 3 only")
        << QByteArray::fromHex("05000005050001112233") << QStringLiteral("chunk header size [11]");
    QTest::addRow("type 3, one data byte missing") << QByteArray::fromHex("0300000505000111223344")
                                                   << QStringLiteral("plus the chunk length [5]");
    QTest::addRow("type 13, length 200 with 199 bytes")
        << (QByteArray::fromHex("0d0000c8c80001") + dataBytes(199))
        << QStringLiteral("Payload size [206] is less than the chunk header size [7] plus the "
                          "chunk length [200]");
    QTest::addRow("type 5, length 1 with none") << QByteArray::fromHex("0500000000000001010001")
                                                << QStringLiteral("plus the chunk length [1]");
}

void tst_TcpChunk::dropped()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, why);

    QString error;
    QVERIFY(!TcpChunk::parse(payload, &error));
    QVERIFY2(error.contains(why), qPrintable(error));
}

void tst_TcpChunk::wordPacking()
{
    // Bits 0-7 number, 8-15 count, 16-31 total.
    QCOMPARE(TcpChunkWord::pack(3, 3, 600), 0x02580303u);
    QCOMPARE(TcpChunkWord::pack(1, 1, 0xffff), 0xffff0101u);
    QCOMPARE(TcpChunkWord::total(0x12345678u), quint16(0x1234));
    QCOMPARE(TcpChunkWord::count(0x12345678u), quint8(0x56));
    QCOMPARE(TcpChunkWord::number(0x12345678u), quint8(0x78));
}

QTEST_GUILESS_MAIN(tst_TcpChunk)
#include "tst_tcpchunk.moc"
