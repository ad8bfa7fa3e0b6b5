#include "CConnectionHandler.h"
#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "CLogFile.h"
#include "CModbusSession.h"
#include "CPipeTurns.h"
#include "CServerHandler.h"
#include "CSettings.h"
#include "CTransparentPipe.h"
#include "FakeNetworkServer.h"
#include "FakeServerLogin.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "ModbusClient.h"
#include "QuietTraces.h"
#include "RawClient.h"
#include "SharedConstants.h"
#include "StorageThread.h"
#include "TcpChunkWord.h"
#include "TempWorkDir.h"
#include "TestDevice.h"
#include "TestRegister.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// What one client can make the gateway hold or lose: a half-closed stream is answered to its end,
// a client that does not read is slowed or closed rather than buffered without end, and client
// bytes leave as bounded downlinks in order.
class tst_ClientBounds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void halfClose_data();
    void halfClose();
    void modbusBackPressure_data();
    void modbusBackPressure();
    void teardownWhilePausedAndLingering();
    void transparentClientsTakeTurns();
    void halfCloseWithUnsentAnswers_data();
    void halfCloseWithUnsentAnswers();
    void transparentClientThatDoesNotRead();
    void clientBytesToDownlinks_data();
    void clientBytesToDownlinks();
    void closingTransparentClient_data();
    void closingTransparentClient();
    void streamingClientWithUnsentPackets();
    void closedClientsBeyondTheBound();
    void portMoveKeepsWhatWasRead();

private:
    std::unique_ptr<QuietTraces> quiet;
    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<FakeNetworkServer> fake;
    CDataBaseHandler *storage = nullptr;
    QThread *storageThread = nullptr;
    std::unique_ptr<CDeviceHandler> modbusServer;
    quint16 modbusPort = 0;
};

namespace {

const QString DevEui = QStringLiteral("70B3D5E75E000077");

// Function 3 for `quantity` registers at 100, with its own transaction id.
QByteArray readRequest(quint16 transactionId, quint16 quantity)
{
    QByteArray frame = QByteArray::fromHex("000000000006010300640000");
    frame[0] = char(transactionId >> 8);
    frame[1] = char(transactionId & 0xff);
    frame[10] = char(quantity >> 8);
    frame[11] = char(quantity & 0xff);
    return frame;
}

// The answer to readRequest(): registers 100 and 101 hold 0x1234 and 0x0001, the others 0.
QByteArray readAnswer(quint16 transactionId, quint16 quantity)
{
    QByteArray answer;
    answer.append(char(transactionId >> 8)).append(char(transactionId & 0xff));
    answer.append(2, '\0');
    const quint16 length = quint16(2 * quantity + 3);
    answer.append(char(length >> 8)).append(char(length & 0xff));
    answer.append(char(1)).append(char(3)).append(char(2 * quantity));
    QByteArray values(2 * quantity, '\0');
    values.replace(0, 4, QByteArray::fromHex("12340001"));
    return answer + values;
}

// The bytes of `count` answers to requests numbered from 0 (transaction ids wrap at `cycle`).
QByteArray answers(qint64 count, quint16 quantity, int cycle = 0x10000)
{
    QByteArray all;
    for (qint64 i = 0; i < count; ++i)
        all += readAnswer(quint16(i % cycle), quantity);
    return all;
}

// Runs the event loop until the condition holds; unlike QTest::qWaitFor it does not sleep between
// passes, so a busy connection is served at full speed.
bool runUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    poll.start(2);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!condition())
        loop.exec();
    return condition();
}

QByteArray patternBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

// Bytes of one half of the byte values, so that the downlinks of two clients can be told apart.
QByteArray halfPatternBytes(qsizetype size, bool upperHalf)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((upperHalf ? 128 : 0) + i % 127);
    return bytes;
}

// Keeps the link's queue from moving: a device-list request that the fake server leaves
// unanswered is in flight until release() answers it, so downlinks wait meanwhile.
class LinkHold
{
public:
    LinkHold(CServerHandler *link_, FakeNetworkServer &fake_) : link(link_), fake(fake_)
    {
        fake.setDevicesReplyEnabled(false);
        held = link->getDevicesList({QStringLiteral("0000000000000001")})
               && fake.waitForCommand(QStringLiteral("get_devices_req"));
    }
    ~LinkHold() { release(); }
    bool isHeld() const { return held; }
    void release()
    {
        fake.setDevicesReplyEnabled(true);
        if (held)
            fake.sendText(
                QStringLiteral(R"({"cmd":"get_devices_resp","status":true,"devices_list":[]})"));
        held = false;
    }

private:
    CServerHandler *link;
    FakeNetworkServer &fake;
    bool held = false;
};

// A transparent port of the device with downlinks 5 ms apart; the client bytes of each downlink
// the fake server receives go to `received`.
struct QuickPipe
{
    QuickPipe(NetServerCore &fake, std::function<void(const QByteArray &)> received)
        : port(freePort()), server(port, ProtocolTCP, DevEui)
    {
        CServerHandler::SIntervals periods;
        periods.sendDataResponse = 5;
        CServerHandler::getInstance()->setIntervals(periods);
        server.appendDevice(DevEui);
        QObject::connect(&fake, &NetServerCore::downlinkReceived, &receiving,
                         [received](const QString &, const QString &data) {
                             received(QByteArray::fromHex(data.mid(2).toLatin1()));
                         });
    }

    const quint16 port;
    CDeviceHandler server;
    QObject receiving;
};

} // namespace

void tst_ClientBounds::initTestCase()
{
    quiet = std::make_unique<QuietTraces>(
        QStringList{QStringLiteral("REQ: "), QStringLiteral("send:"),
                    QStringLiteral("Destructor CConnectionHandler"),
                    QStringLiteral("[CServerHandler::newTaskSlot]"),
                    QStringLiteral("[CDeviceHandler::sendTCPData] Build data")});
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");
    storage = CDataBaseHandler::getInstance();
    QVERIFY(storage);
    storageThread = startStorageThread(storage);

    modbusPort = freePort();
    QVERIFY(modbusPort);
    const QString devEui = QStringLiteral("A0000001");
    QVERIFY(storage->registerNewDevice(
        testDevice(devEui, modbusPort, 100, {testRegister(0, 16), testRegister(1, 16)}),
        ProtocolModbus));
    QVERIFY(saveTestValues(storage, devEui, 100, {{"1234", "1234", 0}, {"0001", "0001", 1}}));
    modbusServer = std::make_unique<CDeviceHandler>(modbusPort, ProtocolModbus, devEui);
    modbusServer->appendDevice(devEui);
    QVERIFY(modbusServer->isListening());

    fake = std::make_unique<FakeNetworkServer>();
    QVERIFY(fake->isListening());
    CServerHandler *link = CServerHandler::getInstance();
    QVERIFY(logInToFake(link, *fake));
}

void tst_ClientBounds::cleanupTestCase()
{
    modbusServer.reset();
    storageThread->quit();
    QVERIFY(storageThread->wait());
    delete storageThread;
    quiet.reset();
}

void tst_ClientBounds::init()
{
    QTRY_COMPARE(modbusServer->connectionCount(), 0);
    log->clear();
    fake->clearReceived();
}

void tst_ClientBounds::cleanup()
{
    CSettings::writeValue(SettingsKey::UseLog, true);
    CServerHandler::getInstance()->setIntervals(CServerHandler::SIntervals());
}

void tst_ClientBounds::halfClose_data()
{
    QTest::addColumn<int>("requests");
    QTest::addColumn<QByteArray>("tail");
    QTest::addRow("10 requests") << 10 << QByteArray();
    // More than one portion of frames.
    QTest::addRow("129 requests") << 129 << QByteArray();
    QTest::addRow("5000 requests") << 5000 << QByteArray();
    QTest::addRow("129 requests and the start of one more") << 129 << readRequest(0, 2).left(7);
}

void tst_ClientBounds::halfClose()
{
    QFETCH(int, requests);
    QFETCH(QByteArray, tail);

    QByteArray stream;
    for (int i = 0; i < requests; ++i)
        stream += readRequest(quint16(i), 2);
    stream += tail;
    // Everything is written and the sending side shut before a single answer is read.
    const QByteArray received = ModbusClient::runAside([this, &stream] {
        RawClient client(modbusPort);
        std::thread writer([&client, &stream] {
            client.send(stream);
            client.shutdownWrite();
        });
        QByteArray all = client.readToEnd();
        writer.join();
        return all;
    });
    const QByteArray expected = answers(requests, 2);
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
}

void tst_ClientBounds::modbusBackPressure_data()
{
    QTest::addColumn<int>("clients");
    QTest::addColumn<int>("quantity");
    QTest::addRow("one client, 2 registers") << 1 << 2;
    QTest::addRow("one client, 125 registers") << 1 << 125;
    QTest::addRow("20 clients, 125 registers") << 20 << 125;
}

void tst_ClientBounds::modbusBackPressure()
{
    QFETCH(int, clients);
    QFETCH(int, quantity);
    // Two log lines per request would only slow the test down.
    CSettings::writeValue(SettingsKey::UseLog, false);

    constexpr int Cycle = 256;
    // Far more than the system buffers for a connection.
    constexpr qint64 MaxPatterns = 20000;
    QByteArray pattern;
    for (int i = 0; i < Cycle; ++i)
        pattern += readRequest(quint16(i), quint16(quantity));

    // Clients that pipeline requests and read nothing, until told to stop.
    std::vector<std::unique_ptr<RawClient>> slow;
    std::vector<std::atomic<qint64>> patternsSent(clients);
    std::atomic<bool> stop{false};
    std::vector<std::thread> senders;
    for (int i = 0; i < clients; ++i) {
        slow.push_back(std::make_unique<RawClient>(modbusPort, 8 * 1024));
        QVERIFY(slow.back()->isConnected());
    }
    QTRY_COMPARE(modbusServer->connectionCount(), clients);
    for (int i = 0; i < clients; ++i) {
        senders.emplace_back([&, i] {
            while (!stop && patternsSent[size_t(i)] < MaxPatterns && slow[size_t(i)]->send(pattern))
                ++patternsSent[size_t(i)];
            slow[size_t(i)]->shutdownWrite();
        });
    }

    // What the gateway holds for each connection, watched all along.
    qint64 mostUnsent = 0;
    qint64 mostHeld = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        for (const CConnectionHandler *connection : modbusServer->getConnections()) {
            mostUnsent = qMax(mostUnsent, connection->bytesToWrite());
            mostHeld = qMax(mostHeld, connection->bytesAvailable());
        }
    });
    watch.start(5);

    // Every connection comes to hold unsent answers: from then on the gateway reads nothing more
    // from it (and stops answering past the pause bound).
    QVERIFY(runUntil(
        [this, clients] {
            const QList<CConnectionHandler *> &connections = modbusServer->getConnections();
            return connections.size() == clients
                   && std::all_of(connections.cbegin(), connections.cend(),
                                  [](const CConnectionHandler *connection) {
                                      return connection->bytesToWrite() > 0;
                                  });
        },
        60000));

    // Meanwhile a master that reads is answered as usual.
    ModbusClient master(QStringLiteral("127.0.0.1"), modbusPort);
    const QString failure = ModbusClient::runAside([&master] {
        if (!master.connectToServer())
            return master.lastError();
        for (int i = 0; i < 20; ++i) {
            const auto values = master.readHoldingRegisters(100, 2);
            if (values != QList<quint16>{0x1234, 0x0001})
                return QStringLiteral("read %1: %2").arg(i).arg(master.lastError());
        }
        return QString();
    });
    QCOMPARE(failure, QString());
    master.close();

    // Unsent answers stay within the pause bound and one answer, read requests within the read
    // buffer: the rest waits in the system's buffers.
    const qint64 answerBytes = readAnswer(0, quint16(quantity)).size();
    QVERIFY2(mostUnsent <= CModbusSession::PauseUnsentBytes + answerBytes,
             qPrintable(QString::number(mostUnsent)));
    QVERIFY2(mostHeld <= CModbusSession::ReadBufferBytes, qPrintable(QString::number(mostHeld)));

    // Once they read, every request sent is answered, in order, and the connections end.
    stop = true;
    const QList<QByteArray> received = ModbusClient::runAside([&] {
        QList<QByteArray> all;
        std::vector<std::thread> readers;
        for (int i = 0; i < clients; ++i)
            all.append(QByteArray());
        for (int i = 0; i < clients; ++i)
            readers.emplace_back([&, i] { all[i] = slow[size_t(i)]->readToEnd(); });
        for (std::thread &reader : readers)
            reader.join();
        for (std::thread &sender : senders)
            sender.join();
        return all;
    });
    for (int i = 0; i < clients; ++i) {
        const QByteArray expected
            = answers(patternsSent[size_t(i)] * Cycle, quint16(quantity), Cycle);
        QCOMPARE(received.at(i).size(), expected.size());
        QVERIFY(received.at(i) == expected);
    }
}

// Servers deleted while a Modbus connection is paused, another has frames waiting and a
// transparent client lingers: the connections end and the lingering bytes still leave.
void tst_ClientBounds::teardownWhilePausedAndLingering()
{
    CSettings::writeValue(SettingsKey::UseLog, true);
    CServerHandler *link = CServerHandler::getInstance();
    CServerHandler::SIntervals periods;
    periods.sendDataResponse = 50;
    link->setIntervals(periods);

    const quint16 port = freePort();
    auto *modbus = new CDeviceHandler(port, ProtocolModbus, QStringLiteral("A0000001"));
    modbus->appendDevice(QStringLiteral("A0000001"));
    QByteArray pattern;
    for (int i = 0; i < 256; ++i)
        pattern += readRequest(quint16(i), 125);
    RawClient stalled(port, 8 * 1024);
    RawClient pipelining(port);
    QTRY_COMPARE(modbus->connectionCount(), 2);
    int alive = 2;
    for (CConnectionHandler *connection : modbus->getConnections())
        connect(connection, &QObject::destroyed, this, [&alive] { --alive; });
    std::thread flood([&] { stalled.sendUntilFull(pattern, 4 << 20); });
    QVERIFY(
        runUntil([&] { return modbus->getConnections().first()->bytesToWrite() > 4096; }, 20000));
    flood.join();
    QVERIFY(pipelining.send(pattern + pattern + pattern));
    QTest::qWait(5);

    const quint16 tport = freePort();
    auto *transparent = new CDeviceHandler(tport, ProtocolTCP, DevEui);
    transparent->appendDevice(DevEui);
    QByteArray arrived;
    QObject receiving;
    connect(fake.get(), &NetServerCore::downlinkReceived, &receiving,
            [&](const QString &, const QString &data) {
                arrived += QByteArray::fromHex(data.mid(2).toLatin1());
            });
    const QByteArray bytes = patternBytes(6000);
    {
        RawClient goneEarly(tport);
        QTRY_COMPARE(transparent->connectionCount(), 1);
        connect(transparent->getConnections().first(), &QObject::destroyed, this,
                [&alive] { --alive; });
        ++alive;
        QVERIFY(goneEarly.send(bytes));
    }
    QTRY_COMPARE(transparent->connectionCount(), 0);

    delete modbus;
    delete transparent;
    // Every connection ends, even those whose clients read nothing, and the bytes of the client
    // gone early still reach the device.
    QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), bytes.size(), 20000);
    QVERIFY(arrived == bytes);
    QTRY_COMPARE_WITH_TIMEOUT(alive, 0, 10000);
    // The clients get their ends of stream.
    ModbusClient::runAside([&] {
        stalled.shutdownWrite();
        pipelining.shutdownWrite();
        stalled.readToEnd();
        pipelining.readToEnd();
        return 0;
    });
}

// A client of a transparent port that floods does not keep another from being heard.
void tst_ClientBounds::transparentClientsTakeTurns()
{
    CServerHandler *link = CServerHandler::getInstance();
    CServerHandler::SIntervals periods;
    periods.sendDataResponse = 10;
    link->setIntervals(periods);
    const quint16 port = freePort();
    CDeviceHandler server(port, ProtocolTCP, DevEui);
    server.appendDevice(DevEui);
    QByteArray arrived;
    QObject receiving;
    connect(fake.get(), &NetServerCore::downlinkReceived, &receiving,
            [&](const QString &, const QString &data) {
                arrived += QByteArray::fromHex(data.mid(2).toLatin1());
            });
    RawClient flooder(port);
    QTRY_COMPARE(server.connectionCount(), 1);
    RawClient quiet(port);
    QTRY_COMPARE(server.connectionCount(), 2);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const QByteArray block(6000, 'a');
        for (int i = 0; i < 1000 && !stop; ++i)
            flooder.send(block);
    });
    QTest::qWait(500);
    QVERIFY(quiet.send(QByteArrayLiteral("BBBBBBBBBB")));
    const bool seen = runUntil([&] { return arrived.contains("BBBBBBBBBB"); }, 8000);
    stop = true;
    flooder.shutdownWrite();
    writer.join();
    QVERIFY(seen);
}

void tst_ClientBounds::halfCloseWithUnsentAnswers_data()
{
    QTest::addColumn<int>("moreRequests");
    // Every request answered, some answers still in Qt's write buffer.
    QTest::addRow("unsent answers") << 0;
    // Then as many requests again as pass the pause bound with their answers.
    QTest::addRow("unsent answers, then 16 more requests") << 16;
}

// A client that does not read until it has half-closed, when the system buffers between it and
// the gateway are full: every request is answered all the same.
void tst_ClientBounds::halfCloseWithUnsentAnswers()
{
    QFETCH(int, moreRequests);
    CSettings::writeValue(SettingsKey::UseLog, false);
    constexpr quint16 Quantity = 125;

    RawClient client(modbusPort, 4096);
    QVERIFY(client.isConnected());
    QTRY_COMPARE(modbusServer->connectionCount(), 1);
    const CConnectionHandler *connection = modbusServer->getConnections().first();
    // One request at a time, each answered before the next, until Qt holds answers unsent.
    int sent = 0;
    while (sent < 5000 && connection->bytesToWrite() == 0) {
        QVERIFY(client.send(readRequest(quint16(sent), Quantity)));
        ++sent;
        QTest::qWait(3);
    }
    QVERIFY(connection->bytesToWrite() > 0);
    QByteArray more;
    for (int i = 0; i < moreRequests; ++i)
        more += readRequest(quint16(sent + i), Quantity);
    QVERIFY(client.send(more));
    sent += moreRequests;
    QTest::qWait(100);
    client.shutdownWrite();
    QTest::qWait(100);
    const QByteArray received = ModbusClient::runAside([&client] { return client.readToEnd(); });
    const QByteArray expected = answers(sent, Quantity);
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
}

void tst_ClientBounds::transparentClientThatDoesNotRead()
{
    const quint16 port = freePort();
    CDeviceHandler server(port, ProtocolTCP, DevEui);
    server.appendDevice(DevEui);
    QTcpSocket reader;
    QByteArray read;
    connect(&reader, &QTcpSocket::readyRead, this, [&] { read += reader.readAll(); });
    reader.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(reader.waitForConnected(5000));
    RawClient stalled(port, 4096);
    QVERIFY(stalled.isConnected());
    QTRY_COMPARE(server.connectionCount(), 2);

    const QString closing = QStringLiteral("WARNING: [CDeviceHandler::sendTCPDataToSocket] A TCP "
                                           "client in port %1 does not read: ")
                                .arg(port);
    QByteArray sent;
    QByteArray packet;
    qint64 mostUnsent = 0;
    for (int i = 0; i < 100000 && server.connectionCount() == 2; ++i) {
        packet = QByteArray::number(i).rightJustified(600, '.');
        server.sendTCPData(packet, TcpChunkWord::pack(1, 1, 600));
        sent += packet;
        for (const CConnectionHandler *connection : server.getConnections())
            mostUnsent = qMax(mostUnsent, connection->bytesToWrite());
        if (i % 32 == 0)
            QCoreApplication::processEvents();
    }
    QCOMPARE(server.connectionCount(), 1);
    QVERIFY(mostUnsent <= CTransparentPipe::MaxUnsentPacketBytes);
    QVERIFY(log->waitForLine(closing));
    const QStringList lines = log->lines().filter(closing);
    QCOMPARE(lines.size(), 1);
    // The line names the bytes that would have waited: more than the bound.
    const qint64 unsent = lines.first()
                              .mid(lines.first().indexOf(closing) + closing.size())
                              .section(QLatin1Char(' '), 0, 0)
                              .toLongLong();
    QVERIFY2(unsent > CTransparentPipe::MaxUnsentPacketBytes, qPrintable(lines.first()));
    // The packet refused to it is logged as sent only to the client that reads.
    QCOMPARE(log->count(QStringLiteral("Send data [%1]").arg(QString::fromLatin1(packet))), 1);

    // The other client has every packet, exactly.
    QTRY_COMPARE_WITH_TIMEOUT(read.size(), sent.size(), 20000);
    QVERIFY(read == sent);
}

void tst_ClientBounds::clientBytesToDownlinks_data()
{
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("bytesPerWrite");
    QTest::addColumn<int>("responseMs");
    QTest::addColumn<bool>("closeAfterWriting");
    QTest::addRow("2000 bytes in one write") << 1 << 2000 << 100 << false;
    QTest::addRow("18000 one-byte writes") << 18000 << 1 << 100 << false;
    // The real 100 ms would take an hour here; what matters is the size of every message.
    QTest::addRow("1 MB in one write") << 1 << 1000000 << 0 << false;
    // The client is gone before the link has taken its last bytes.
    QTest::addRow("5000 bytes in one write, then closed") << 1 << 5000 << 100 << true;
}

void tst_ClientBounds::clientBytesToDownlinks()
{
    QFETCH(int, writes);
    QFETCH(int, bytesPerWrite);
    QFETCH(int, responseMs);
    QFETCH(bool, closeAfterWriting);

    CServerHandler *link = CServerHandler::getInstance();
    CServerHandler::SIntervals periods;
    periods.sendDataResponse = responseMs;
    link->setIntervals(periods);
    QSignalSpy status(link, &CServerHandler::changeServerStatus);

    const quint16 port = freePort();
    CDeviceHandler server(port, ProtocolTCP, DevEui);
    server.appendDevice(DevEui);

    QByteArray arrived;
    int downlinks = 0;
    qsizetype longest = 0;
    int mostWaiting = 0;
    QStringList wrong;
    QObject receiving;
    connect(fake.get(), &NetServerCore::downlinkReceived, &receiving,
            [&](const QString &devEui, const QString &data) {
                ++downlinks;
                longest = qMax(longest, data.size());
                mostWaiting = qMax(mostWaiting, link->waitingDownlinks(DevEui));
                if (devEui != DevEui || !data.startsWith(QStringLiteral("04")))
                    wrong.append(devEui + QLatin1Char(' ') + data.left(20));
                arrived += QByteArray::fromHex(data.mid(2).toLatin1());
            });

    const QByteArray data = patternBytes(qsizetype(writes) * bytesPerWrite);
    QElapsedTimer clock;
    clock.start();
    RawClient client(port);
    QVERIFY(client.isConnected());
    std::thread writer([&] {
        for (int i = 0; i < writes; ++i)
            client.send(data.mid(qsizetype(i) * bytesPerWrite, bytesPerWrite));
        if (closeAfterWriting)
            client.finish();
    });
    QTRY_VERIFY_WITH_TIMEOUT(arrived.size() >= data.size(), 60000);
    const qint64 elapsedMs = clock.elapsed();
    writer.join();

    QCOMPARE(wrong, QStringList());
    QCOMPARE(arrived.size(), data.size());
    QVERIFY(arrived == data);
    // "04" and at most 600 bytes as hexadecimal text.
    QVERIFY2(longest <= 2 + 2 * CTransparentPipe::MaxDownlinkBytes,
             qPrintable(QString::number(longest)));
    QVERIFY(mostWaiting <= CTransparentPipe::MaxWaitingDownlinks);
    if (writes > 1)
        QVERIFY2(downlinks < writes / 10, qPrintable(QString::number(downlinks)));
    QCOMPARE(status.count(), 0);
    if (closeAfterWriting)
        QTRY_COMPARE(server.connectionCount(), 0);
    qInfo("%d bytes in %d writes arrived in %lld ms as %d downlinks", int(data.size()), writes,
          elapsedMs, downlinks);
}

void tst_ClientBounds::closingTransparentClient_data()
{
    QTest::addColumn<int>("clientBytes");
    // Packets the client leaves unread: it closes with a reset instead of an end of stream.
    QTest::addColumn<int>("packetsBeforeClose");
    QTest::addColumn<int>("packetsAfterClose");
    // A second client of the device that stays, sends bytes of its own and reads every packet.
    QTest::addColumn<bool>("withBystander");
    // 2400 bytes go to the four waiting downlinks; Qt holds up to 2400 more, the system the rest.
    QTest::addRow("4000 bytes, packets after the close") << 4000 << 0 << 3 << false;
    QTest::addRow("6000 bytes, packets after the close") << 6000 << 0 << 3 << false;
    QTest::addRow("20000 bytes, packets after the close") << 20000 << 0 << 3 << false;
    QTest::addRow("6000 bytes, no packets") << 6000 << 0 << 0 << false;
    QTest::addRow("6000 bytes, closed with a packet unread") << 6000 << 1 << 3 << false;
    QTest::addRow("20000 bytes, closed with a packet unread") << 20000 << 1 << 3 << false;
    QTest::addRow("6000 bytes beside a client that stays") << 6000 << 0 << 3 << true;
    QTest::addRow("20000 bytes, closed with a packet unread, beside a client that stays")
        << 20000 << 1 << 3 << true;
}

// A transparent client sends more than the link takes at once and closes, while device packets
// are written to it: every byte it sent still reaches the device, in order.
void tst_ClientBounds::closingTransparentClient()
{
    QFETCH(int, clientBytes);
    QFETCH(int, packetsBeforeClose);
    QFETCH(int, packetsAfterClose);
    QFETCH(bool, withBystander);

    CServerHandler *link = CServerHandler::getInstance();
    QByteArray fromClosing;
    QByteArray fromBystander;
    int downlinks = 0;
    QuickPipe pipe(*fake, [&](const QByteArray &bytes) {
        ++downlinks;
        // One downlink carries the bytes of one client.
        (bytes.isEmpty() || quint8(bytes.at(0)) < 128 ? fromClosing : fromBystander) += bytes;
    });
    const quint16 port = pipe.port;
    CDeviceHandler &server = pipe.server;

    QTcpSocket bystander;
    QByteArray bystanderRead;
    connect(&bystander, &QTcpSocket::readyRead, this,
            [&] { bystanderRead += bystander.readAll(); });
    if (withBystander) {
        bystander.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(bystander.waitForConnected(5000));
        QTRY_COMPARE(server.connectionCount(), 1);
    }
    auto closing = std::make_unique<RawClient>(port);
    QVERIFY(closing->isConnected());
    QTRY_COMPARE(server.connectionCount(), withBystander ? 2 : 1);
    const QPointer<CConnectionHandler> closingConnection = server.getConnections().last();

    LinkHold hold(link, *fake);
    QVERIFY(hold.isHeld());
    const QByteArray bytes = halfPatternBytes(clientBytes, false);
    QVERIFY(closing->send(bytes));
    // The waiting downlinks are full and Qt has read ahead as far as it may.
    const qint64 queued
        = CTransparentPipe::MaxWaitingDownlinks * CTransparentPipe::MaxDownlinkBytes;
    const qint64 readAhead = qMin<qint64>(queued, clientBytes - queued);
    QTRY_COMPARE(link->waitingDownlinks(DevEui), CTransparentPipe::MaxWaitingDownlinks);
    QTRY_COMPARE(closingConnection->bytesAvailable(), readAhead);

    const QByteArray bystanderBytes = halfPatternBytes(1500, true);
    if (withBystander) {
        bystander.write(bystanderBytes);
        QTRY_COMPARE(server.getConnections().first()->bytesAvailable(), bystanderBytes.size());
    }

    QByteArray packets;
    const auto writePacket = [&](int number) {
        const QByteArray packet = QByteArray::number(number).rightJustified(300, 'p');
        server.sendTCPData(packet, TcpChunkWord::pack(1, 1, quint16(packet.size())));
        packets += packet;
    };
    int written = 0;
    for (; written < packetsBeforeClose; ++written) {
        writePacket(written);
        QTRY_COMPARE(closingConnection->bytesToWrite(), 0);
    }
    closing.reset();
    for (int i = 0; i < packetsAfterClose; ++i, ++written) {
        writePacket(written);
        // Each packet handed to the system (or dropped with the socket) before the next.
        QTRY_VERIFY(
            std::all_of(server.getConnections().cbegin(), server.getConnections().cend(),
                        [](const CConnectionHandler *c) { return c->bytesToWrite() == 0; }));
        if (withBystander)
            QTRY_COMPARE(bystanderRead.size(), packets.size());
    }

    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(fromClosing.size(), bytes.size(), 20000);
    QVERIFY(fromClosing == bytes);
    QTRY_VERIFY(closingConnection.isNull());
    QCOMPARE(server.connectionCount(), withBystander ? 1 : 0);
    if (withBystander) {
        QTRY_COMPARE(fromBystander.size(), bystanderBytes.size());
        QVERIFY(fromBystander == bystanderBytes);
        QVERIFY(bystanderRead == packets);
    }
    // One line for every downlink, and nothing dropped.
    QCOMPARE(log->count(QStringLiteral("[CDeviceHandler::incomingTCPDataHandler] Recived data [")),
             downlinks);
    QCOMPARE(log->count(QStringLiteral("WARNING:")), 0);
}

// A client that does not read its packets while it keeps sending small pieces: what the system
// holds for it is Qt's to read while the socket is open, so the turns of the device go on serving
// it (they once went round for ever without reading) and every byte arrives in order.
void tst_ClientBounds::streamingClientWithUnsentPackets()
{
    QByteArray arrived;
    QuickPipe pipe(*fake, [&](const QByteArray &bytes) { arrived += bytes; });
    RawClient client(pipe.port, 8192);
    QVERIFY(client.isConnected());
    QTRY_COMPARE(pipe.server.connectionCount(), 1);
    CConnectionHandler *connection = pipe.server.getConnections().first();
    // Packets wait unsent for it all along.
    for (int i = 0; connection->bytesToWrite() < 50000 && i < 1500; ++i) {
        pipe.server.sendTCPData(QByteArray::number(i).rightJustified(600, 'p'),
                                TcpChunkWord::pack(1, 1, 600));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    QVERIFY(connection->bytesToWrite() > 0);

    constexpr int Pieces = 15000;
    const QByteArray bytes = halfPatternBytes(10 * Pieces, false);
    std::thread sender([&] {
        for (int k = 0; k < Pieces; ++k) {
            client.send(bytes.mid(k * 10, 10));
            QThread::usleep(60);
        }
    });
    const bool complete = QTest::qWaitFor([&] { return arrived.size() >= bytes.size(); }, 30000);
    sender.join();
    QVERIFY2(complete, qPrintable(QString::number(arrived.size())));
    QVERIFY(arrived == bytes);
    QVERIFY(connection->bytesToWrite() > 0);
}

// More closed clients with bytes left than may wait: the one past the bound is discarded and named,
// the others reach the device.
void tst_ClientBounds::closedClientsBeyondTheBound()
{
    CServerHandler *link = CServerHandler::getInstance();
    QHash<char, int> fromClosed;
    qsizetype fromFiller = 0;
    QuickPipe pipe(*fake, [&](const QByteArray &bytes) {
        for (char byte : bytes) {
            if (quint8(byte) < 128)
                ++fromClosed[byte];
            else
                ++fromFiller;
        }
    });
    const quint16 port = pipe.port;
    CDeviceHandler &server = pipe.server;

    LinkHold hold(link, *fake);
    QVERIFY(hold.isHeld());
    // Fills the waiting downlinks and stays.
    RawClient filler(port);
    const QByteArray fillerBytes = halfPatternBytes(2400, true);
    QVERIFY(filler.send(fillerBytes));
    QTRY_COMPARE(link->waitingDownlinks(DevEui), CTransparentPipe::MaxWaitingDownlinks);

    constexpr int Closing = CPipeTurns::MaxLingeringConnections + 1;
    constexpr int BytesEach = 100;
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < Closing; ++i) {
        clients.push_back(std::make_unique<RawClient>(port));
        QVERIFY(clients.back()->isConnected());
        QVERIFY(clients.back()->send(QByteArray(BytesEach, char(i))));
        // Accepted in groups, within the server's backlog.
        if (i % 16 == 15 || i == Closing - 1)
            QTRY_COMPARE(server.connectionCount(), 1 + i + 1);
    }
    clients.clear();
    QTRY_COMPARE(server.connectionCount(), 1);
    const QString discarded
        = QStringLiteral("WARNING: [CDeviceHandler::disconnectedSlot] A TCP client in port %1 "
                         "closed with %2 bytes not yet sent to the device, and too many closed "
                         "clients wait already. Data discarded.")
              .arg(port)
              .arg(BytesEach);
    QVERIFY(log->waitForLine(discarded));

    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(fromClosed.size(), Closing - 1, 20000);
    QTRY_COMPARE(fromFiller, fillerBytes.size());
    for (auto it = fromClosed.cbegin(); it != fromClosed.cend(); ++it)
        QCOMPARE(it.value(), BytesEach);
    QCOMPARE(log->count(discarded), 1);
    QCOMPARE(log->count(QStringLiteral("WARNING:")), 1);
}

// A port move drops the clients: what Qt had read of a client's bytes still reaches the device,
// what the system held is named as dropped.
void tst_ClientBounds::portMoveKeepsWhatWasRead()
{
    CServerHandler *link = CServerHandler::getInstance();
    QByteArray arrived;
    QuickPipe pipe(*fake, [&](const QByteArray &bytes) { arrived += bytes; });
    const quint16 port = pipe.port;
    CDeviceHandler &server = pipe.server;

    LinkHold hold(link, *fake);
    QVERIFY(hold.isHeld());
    RawClient client(port);
    QTRY_COMPARE(server.connectionCount(), 1);
    const QPointer<CConnectionHandler> connection = server.getConnections().first();
    const QByteArray bytes = patternBytes(6000);
    QVERIFY(client.send(bytes));
    const qint64 queued
        = CTransparentPipe::MaxWaitingDownlinks * CTransparentPipe::MaxDownlinkBytes;
    QTRY_COMPARE(link->waitingDownlinks(DevEui), CTransparentPipe::MaxWaitingDownlinks);
    QTRY_COMPARE(connection->bytesAvailable(), queued);

    server.appendDevice(freePort());
    QCOMPARE(server.connectionCount(), 0);
    const qint64 read = 2 * queued;
    QVERIFY(log->waitForLine(QStringLiteral("WARNING: [CDeviceHandler::disconnectedSlot] A TCP "
                                            "client in port %1 was closed with %2 bytes it had "
                                            "sent not yet read. Data discarded.")
                                 .arg(port)
                                 .arg(bytes.size() - read)));
    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), read, 20000);
    QVERIFY(arrived == bytes.left(read));
    QTRY_VERIFY(connection.isNull());
}

QTEST_GUILESS_MAIN(tst_ClientBounds)
#include "tst_clientbounds.moc"
