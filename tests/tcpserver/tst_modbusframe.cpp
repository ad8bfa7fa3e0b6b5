#include "ModbusFrame.h"

#include <QtTest>

#include <utility>

// Modbus-TCP framing over bytes: the frame loop over a receive buffer and the answers it builds.
// Expected answers are written from the protocol's tables.
class tst_ModbusFrame : public QObject
{
    Q_OBJECT

private slots:
    void takeFrames_data();
    void takeFrames();
    void anySplitGivesTheSameAnswers();
    void readAnswerTakesRequestedAddresses_data();
    void readAnswerTakesRequestedAddresses();
    void portionsGiveTheSameSteps_data();
    void portionsGiveTheSameSteps();
    void headersNeedTheirBytes();
};

namespace {

// A register source whose register at address a holds 0xa000 | (a & 0x0fff); records its calls.
struct FakeSource
{
    bool failing = false;
    QStringList calls;

    ModbusFrame::RegisterSource function()
    {
        return [this](quint16 start, quint16 quantity, bool *ok) {
            calls.append(QStringLiteral("%1/%2").arg(start).arg(quantity));
            DB::RegisterImage image;
            *ok = !failing;
            if (failing)
                return image;
            for (int i = 0; i < quantity; ++i) {
                const quint16 address = quint16(start + i);
                image.insert(address, quint16(0xa000 | (address & 0x0fff)));
            }
            return image;
        };
    }
};

QString describe(const ModbusFrame::SFrameStep &step)
{
    switch (step.kind) {
    case ModbusFrame::SFrameStep::Answer:
        return QStringLiteral("ans ") + QString::fromLatin1(step.answer.toHex());
    case ModbusFrame::SFrameStep::IncompleteMbap:
        return QStringLiteral("[1]");
    case ModbusFrame::SFrameStep::IncompleteFrame:
        return QStringLiteral("[2]");
    case ModbusFrame::SFrameStep::ShortFrame:
        return QStringLiteral("[3]");
    }
    return QString();
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray answersOf(const QList<ModbusFrame::SFrameStep> &steps)
{
    QByteArray all;
    for (const ModbusFrame::SFrameStep &step : steps)
        all += step.answer;
    return all;
}

} // namespace

void tst_ModbusFrame::takeFrames_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("failing");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QStringList>("calls");

    const QStringList none;
    QTest::addRow("function 3, 2 registers")
        << hex("000100000006010300100002") << false << QStringList{"ans 000100000007010304a010a011"}
        << QByteArray() << QStringList{"16/2"};
    QTest::addRow("function 4 reads the same registers")
        << hex("000200000006010400100001") << false << QStringList{"ans 000200000005010402a010"}
        << QByteArray() << QStringList{"16/1"};
    QTest::addRow("quantity 0") << hex("000300000006010300100000") << false
                                << QStringList{"ans 000300000003010300"} << QByteArray()
                                << QStringList{"16/0"};
    QString full = QStringLiteral("ans 0004000000fd0103fa");
    for (int a = 0; a < 125; ++a)
        full += QStringLiteral("a%1").arg(a, 3, 16, QLatin1Char('0'));
    QTest::addRow("quantity 125") << hex("00040000000601030000007d") << false << QStringList{full}
                                  << QByteArray() << QStringList{"0/125"};
    QTest::addRow("quantity 126: illegal data value")
        << hex("00050000000601030000007e") << false << QStringList{"ans 000500000003018303"}
        << QByteArray() << none;
    QTest::addRow("quantity 65535: illegal data value")
        << hex("00050000000601040000ffff") << false << QStringList{"ans 000500000003018403"}
        << QByteArray() << none;
    QTest::addRow("storage failure: server device failure")
        << hex("000600000006010300000002") << true << QStringList{"ans 000600000003018304"}
        << QByteArray() << QStringList{"0/2"};
    QTest::addRow("storage failure for quantity 0")
        << hex("000600000006010400000000") << true << QStringList{"ans 000600000003018404"}
        << QByteArray() << QStringList{"0/0"};
    QTest::addRow("function 6: illegal function")
        << hex("000700000006010600010003") << false << QStringList{"ans 000700000003018601"}
        << QByteArray() << none;
    QTest::addRow("function 1: illegal function")
        << hex("000800000006010100000008") << false << QStringList{"ans 000800000003018101"}
        << QByteArray() << none;
    QTest::addRow("function 16 with data: illegal function")
        << hex("000900000009011000000001021234") << false << QStringList{"ans 000900000003019001"}
        << QByteArray() << none;
    QTest::addRow("unit and protocol ids echoed")
        << hex("abcd12340006f70300100001") << false << QStringList{"ans abcd12340005f70302a010"}
        << QByteArray() << QStringList{"16/1"};
    QTest::addRow("further request bytes ignored")
        << hex("000a00000008010300100001ffff") << false << QStringList{"ans 000a00000005010302a010"}
        << QByteArray() << QStringList{"16/1"};
    QTest::addRow("range wrapping past 65535 keeps request order")
        << hex("0010000000060103ffff0002") << false << QStringList{"ans 001000000007010304afffa000"}
        << QByteArray() << QStringList{"65535/2"};
    QTest::addRow("MBAP length 2 dropped")
        << hex("000b000000020103") << false << QStringList{"[3]", "[1]"} << QByteArray() << none;
    QTest::addRow("MBAP length 5 dropped, then a request")
        << hex("000c000000050103001000"
               "000d00000006010300100001")
        << false << QStringList{"[3]", "ans 000d00000005010302a010"} << QByteArray()
        << QStringList{"16/1"};
    QTest::addRow("two requests, answered in order")
        << hex("000100000006010300100001"
               "000200000006010400110001")
        << false << QStringList{"ans 000100000005010302a010", "ans 000200000005010402a011"}
        << QByteArray() << QStringList{"16/1", "17/1"};
    QTest::addRow("request and 7 bytes of the next")
        << hex("000100000006010300100001"
               "000e0000000601")
        << false << QStringList{"ans 000100000005010302a010", "[2]"} << hex("000e0000000601")
        << QStringList{"16/1"};
    QTest::addRow("request and 3 bytes of the next")
        << hex("000100000006010300100001"
               "000f00")
        << false << QStringList{"ans 000100000005010302a010", "[1]"} << hex("000f00")
        << QStringList{"16/1"};
    QTest::addRow("empty buffer") << QByteArray() << false << QStringList{"[1]"} << QByteArray()
                                  << none;
    QTest::addRow("5 bytes") << hex("0001000000") << false << QStringList{"[1]"}
                             << hex("0001000000") << none;
    QTest::addRow("8 of 12 bytes") << hex("0001000000060103") << false << QStringList{"[2]"}
                                   << hex("0001000000060103") << none;
    QTest::addRow("length 65535 waits for its bytes")
        << hex("00110000ffff0103") << false << QStringList{"[2]"} << hex("00110000ffff0103")
        << none;
}

void tst_ModbusFrame::takeFrames()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, failing);
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, left);
    QFETCH(QStringList, calls);

    FakeSource source;
    source.failing = failing;
    QByteArray buffer = input;
    QStringList taken;
    for (const ModbusFrame::SFrameStep &step : ModbusFrame::takeFrames(buffer, source.function()))
        taken.append(describe(step));
    QCOMPARE(taken, steps);
    QCOMPARE(buffer.toHex(), left.toHex());
    QCOMPARE(source.calls, calls);
}

// However the stream is cut into segments, the same answers come out in the same order, and the
// buffer never holds more than the start of one frame between segments.
void tst_ModbusFrame::anySplitGivesTheSameAnswers()
{
    const QByteArray stream = hex("000100000006010300100002"
                                  "000b000000020103"
                                  "000200000006010600010003"
                                  "000a00000008010300100001ffff"
                                  "0000000000050103001000"
                                  "000300000006010400200000");
    FakeSource source;
    QByteArray whole = stream;
    const QByteArray expected = answersOf(ModbusFrame::takeFrames(whole, source.function()));
    QCOMPARE(whole, QByteArray());
    QCOMPARE(expected.toHex(), QByteArray("000100000007010304a010a011"
                                          "000200000003018601"
                                          "000a00000005010302a010"
                                          "000300000003010400"));

    const auto feed = [&source](const QList<QByteArray> &segments) {
        QByteArray buffer;
        QByteArray answers;
        for (const QByteArray &segment : segments) {
            buffer += segment;
            answers += answersOf(ModbusFrame::takeFrames(buffer, source.function()));
            const qsizetype frame = ModbusFrame::frameSize(buffer);
            if (!buffer.isEmpty() && frame > 0 && buffer.size() >= frame)
                return QByteArray("complete frame left behind");
        }
        return buffer.isEmpty() ? answers : QByteArray("bytes left over");
    };
    for (qsizetype cut = 0; cut <= stream.size(); ++cut)
        QCOMPARE(feed({stream.left(cut), stream.mid(cut)}).toHex(), expected.toHex());
    QList<QByteArray> bytes;
    for (char c : stream)
        bytes.append(QByteArray(1, c));
    QCOMPARE(feed(bytes).toHex(), expected.toHex());
}

void tst_ModbusFrame::readAnswerTakesRequestedAddresses_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<DB::RegisterImage>("image");
    QTest::addColumn<QByteArray>("values");

    QTest::addRow("the range") << 10 << DB::RegisterImage{{10, 0x0102}, {11, 0x0304}}
                               << hex("04"
                                      "0102"
                                      "0304");
    QTest::addRow("address missing in the middle")
        << 10 << DB::RegisterImage{{10, 0x0102}, {12, 0x0506}}
        << hex("04"
               "0102"
               "0000");
    QTest::addRow("addresses before the start")
        << 10 << DB::RegisterImage{{3, 0x0909}, {10, 0x0102}}
        << hex("04"
               "0102"
               "0000");
    QTest::addRow("wrapping past 65535")
        << 65534 << DB::RegisterImage{{0, 0x0003}, {65534, 0x0001}, {65535, 0x0002}}
        << hex("06"
               "0001"
               "0002"
               "0003");
    QTest::addRow("empty image") << 10 << DB::RegisterImage{} << hex("00");
}

// One value per entry of the image, for the addresses from the request's start on; an address
// the image lacks reads 0.
void tst_ModbusFrame::readAnswerTakesRequestedAddresses()
{
    QFETCH(int, start);
    QFETCH(DB::RegisterImage, image);
    QFETCH(QByteArray, values);

    QByteArray request = hex("000100000006010300000000");
    request[8] = char(start >> 8);
    request[9] = char(start & 0xff);
    const QByteArray answer = ModbusFrame::readAnswer(
        ModbusFrame::SModbusMBAP(request), ModbusFrame::SModbusTcpPacketHeader(request), image);
    QCOMPARE(answer.mid(8).toHex(), values.toHex());
    QCOMPARE(answer.size(), 8 + values.size());
}

void tst_ModbusFrame::portionsGiveTheSameSteps_data()
{
    QTest::addColumn<QByteArray>("stream");
    const QByteArray frames = hex("000100000006010300100002"
                                  "000b000000020103"
                                  "000200000006010600010003"
                                  "000000000000"
                                  "000a00000008010300100001ffff"
                                  "000300000006010400200000");
    QTest::addRow("ending with a whole frame") << frames;
    QTest::addRow("ending in a frame's first bytes") << frames + hex("000e0000000601");
    QTest::addRow("ending in an MBAP's first bytes") << frames + hex("000f00");
}

// Taken a few frames at a time, as a connection is served turn by turn, a buffer gives the same
// steps in the same order as taken at once, and a portion ends only where another whole frame
// waits.
void tst_ModbusFrame::portionsGiveTheSameSteps()
{
    QFETCH(QByteArray, stream);
    FakeSource source;
    QByteArray whole = stream;
    QStringList expected;
    for (const ModbusFrame::SFrameStep &step : ModbusFrame::takeFrames(whole, source.function()))
        expected.append(describe(step));

    // Takes the stream turn by turn with the given limits; the steps and the number of turns.
    const auto takeInPortions
        = [&stream, &source, &whole](int maxFrames, qsizetype maxAnswerBytes) {
              QByteArray buffer = stream;
              QStringList taken;
              int turns = 0;
              do {
                  ++turns;
                  ModbusFrame::takeFrames(
                      buffer, source.function(),
                      [&taken](const ModbusFrame::SFrameStep &step) {
                          taken.append(describe(step));
                          return true;
                      },
                      maxFrames, maxAnswerBytes);
              } while (ModbusFrame::hasWholeFrame(buffer) && turns < 100);
              // What stays is what stays when everything is taken at once.
              if (buffer != whole)
                  taken.append(QStringLiteral("left: ") + QString::fromLatin1(buffer.toHex()));
              return std::make_pair(taken, turns);
          };
    for (int maxFrames = 1; maxFrames <= 4; ++maxFrames) {
        const auto [taken, turns] = takeInPortions(maxFrames, 0);
        QCOMPARE(taken, expected);
        QCOMPARE(turns, (6 + maxFrames - 1) / maxFrames);
    }
    // The same when a portion ends by the bytes of its answers (9 bytes for an exception, more
    // for a read; the short frame answers nothing).
    for (const qsizetype maxAnswerBytes : {1, 9, 20, 1000}) {
        const auto [taken, turns] = takeInPortions(0, maxAnswerBytes);
        QCOMPARE(taken, expected);
        QCOMPARE(turns > 1, maxAnswerBytes < 1000);
    }
}

void tst_ModbusFrame::headersNeedTheirBytes()
{
    const QByteArray request = hex("1234abcd0006f7031122fffe");
    const ModbusFrame::SModbusMBAP mbap(request);
    QCOMPARE(mbap.transactionId, quint16(0x1234));
    QCOMPARE(mbap.protocolId, quint16(0xabcd));
    QCOMPARE(mbap.length, quint16(6));
    const ModbusFrame::SModbusTcpPacketHeader header(request);
    QCOMPARE(header.unitId, quint8(0xf7));
    QCOMPARE(header.function, quint8(3));
    QCOMPARE(header.startAddr, quint16(0x1122));
    QCOMPARE(header.quantity, quint16(0xfffe));

    const ModbusFrame::SModbusMBAP shortMbap(request.left(5));
    QCOMPARE(shortMbap.transactionId + shortMbap.protocolId + shortMbap.length, 0);
    const ModbusFrame::SModbusTcpPacketHeader shortHeader(request.left(11));
    QCOMPARE(shortHeader.unitId + shortHeader.function + shortHeader.startAddr
                 + shortHeader.quantity,
             0);
}

QTEST_GUILESS_MAIN(tst_ModbusFrame)
#include "tst_modbusframe.moc"
