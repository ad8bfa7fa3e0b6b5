#include "CConnectionHandler.h"
#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "ModbusClient.h"
#include "SideConnection.h"
#include "StorageThread.h"
#include "TempWorkDir.h"
#include "TestDevice.h"
#include "TestRegister.h"

#include <QScopeGuard>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <modbus.h>

#include <memory>
#include <vector>

// The per-port servers and the Modbus-TCP connection over real sockets and a real database,
// with libmodbus as the client for well-formed requests and a raw socket for the others.
class tst_TcpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void readsSavedValues_data();
    void readsSavedValues();
    void readsInsideWideValues_data();
    void readsInsideWideValues();
    void wireFrames_data();
    void wireFrames();
    void unsupportedFunctions();
    void storageFailure();
    void sharedPortServesUntilLastDevice();
    void connectionOutlivesServer();
    void portMoveDropsClients();
    void hundredClients();

private:
    void addDevice(const QString &devEui, quint16 port, int startAddr,
                   const QList<DB::SRegisterDescription> &registers);
    void save(const QString &devEui, int startAddr, const QList<DB::SDbRegValue> &values);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<SideConnection> side;
    CDataBaseHandler *storage = nullptr;
    QThread *storageThread = nullptr;
    // Devices A (start 100) and B (start 200) share this port and its server.
    quint16 mainPort = 0;
    CDeviceHandler *mainServer = nullptr;
    // Devices C (start 0) and D (start 10), served by servers the tests make.
    quint16 sharedPort = 0;
};

namespace {

const QString DestructorLine
    = QStringLiteral("Destructor CConnectionHandler::CConnectionHandler has been called");
int destroyedConnections = 0;
QtMessageHandler previousHandler = nullptr;

// Counts destroyed connections; keeps the per-request traces out of the test output.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text == DestructorLine)
        ++destroyedConnections;
    if (type == QtDebugMsg && text.startsWith(QStringLiteral("REQ: ")))
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QString req(const char *hexText)
{
    return QStringLiteral("INFO: [CConnectionHandler] REQ: < %1 >").arg(QLatin1String(hexText));
}

QString ans(const char *hexText)
{
    return QStringLiteral("INFO: [CConnectionHandler] ANS: < %1 >").arg(QLatin1String(hexText));
}

const QString Incomplete1
    = QStringLiteral("[CConnectionHandler] Incomplete packet [1]. Wait for continue...");
const QString Incomplete2
    = QStringLiteral("[CConnectionHandler] Incomplete packet [2]. Wait for continue...");
const QString Incomplete3
    = QStringLiteral("[CConnectionHandler] Incomplete packet [3]. Clear buffer...");
using Values = QList<quint16>;

} // namespace

void tst_TcpServer::initTestCase()
{
    previousHandler = qInstallMessageHandler(messageHandler);
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");

    // As start-up does: made in this thread, then moved to a thread of its own.
    storage = CDataBaseHandler::getInstance();
    QVERIFY(storage);
    storageThread = startStorageThread(storage);
    side = std::make_unique<SideConnection>();
    QVERIFY(side->isOpen());

    mainPort = freePort();
    sharedPort = freePort();
    QVERIFY(mainPort && sharedPort && mainPort != sharedPort);
    addDevice(QStringLiteral("A0000001"), mainPort, 100,
              {testRegister(0, 16), testRegister(1, 32), testRegister(3, 64), testRegister(7, 16)});
    addDevice(QStringLiteral("B0000001"), mainPort, 200, {testRegister(0, 16)});
    addDevice(QStringLiteral("C0000001"), sharedPort, 0, {testRegister(0, 16)});
    addDevice(QStringLiteral("D0000001"), sharedPort, 10, {testRegister(0, 16)});
    // Register 107 is never saved.
    save(QStringLiteral("A0000001"), 100,
         {{"1234", "1234", 0},
          {"0001", "000100FF", 1},
          {"00FF", "", 2},
          {"0102", "0102030405060708", 3},
          {"0304", "", 4},
          {"0506", "", 5},
          {"0708", "", 6}});
    save(QStringLiteral("B0000001"), 200, {{"BEEF", "BEEF", 0}});
    save(QStringLiteral("C0000001"), 0, {{"0C0C", "0C0C", 0}});
    save(QStringLiteral("D0000001"), 10, {{"0D0D", "0D0D", 0}});
    // Wide values on the main port: W (start 310) and X, whose register lies inside W's last
    // 64-bit value and is read after it.
    addDevice(QStringLiteral("W0000001"), mainPort, 310,
              {testRegister(0, 16), testRegister(2, 32), testRegister(4, 64), testRegister(8, 16),
               testRegister(10, 64)});
    addDevice(QStringLiteral("X0000001"), mainPort, 322, {testRegister(0, 16)});
    save(QStringLiteral("W0000001"), 310,
         {{"1111", "1111", 0},
          {"0001", "000186A0", 2},
          {"86A0", "", 3},
          {"1122", "1122334455667788", 4},
          {"3344", "", 5},
          {"5566", "", 6},
          {"7788", "", 7},
          {"2222", "2222", 8},
          {"0102", "0102030405060708", 10},
          {"0304", "", 11},
          {"0506", "", 12},
          {"0708", "", 13}});
    save(QStringLiteral("X0000001"), 322, {{"ABCD", "ABCD", 0}});

    mainServer = new CDeviceHandler(mainPort, ProtocolModbus, QStringLiteral("A0000001"));
    mainServer->appendDevice(QStringLiteral("A0000001"));
    mainServer->appendDevice(QStringLiteral("B0000001"));
    mainServer->appendDevice(QStringLiteral("W0000001"));
    mainServer->appendDevice(QStringLiteral("X0000001"));
    QVERIFY(mainServer->isListening());
    QCOMPARE(log->lines(), QStringList());
}

void tst_TcpServer::cleanupTestCase()
{
    delete mainServer;
    storageThread->quit();
    QVERIFY(storageThread->wait());
    delete storageThread;
    qInstallMessageHandler(previousHandler);
}

void tst_TcpServer::init()
{
    // Clients of the previous test are gone on the server side too.
    QTRY_COMPARE(mainServer->connectionCount(), 0);
    log->clear();
}

void tst_TcpServer::addDevice(const QString &devEui, quint16 port, int startAddr,
                              const QList<DB::SRegisterDescription> &registers)
{
    QVERIFY(
        storage->registerNewDevice(testDevice(devEui, port, startAddr, registers), ProtocolModbus));
}

void tst_TcpServer::save(const QString &devEui, int startAddr, const QList<DB::SDbRegValue> &values)
{
    QVERIFY(saveTestValues(storage, devEui, startAddr, values));
}

void tst_TcpServer::readsSavedValues_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<Values>("values");

    QTest::addRow("16-bit register") << 3 << 100 << 1 << Values{0x1234};
    QTest::addRow("32-bit register, high word first") << 3 << 101 << 2 << Values{0x0001, 0x00ff};
    QTest::addRow("64-bit register by function 4")
        << 4 << 103 << 4 << Values{0x0102, 0x0304, 0x0506, 0x0708};
    QTest::addRow("never saved register reads 0") << 3 << 107 << 1 << Values{0};
    QTest::addRow("whole device") << 4 << 100 << 9 << Values{0x1234, 0x0001, 0x00ff, 0x0102, 0x0304,
                                                             0x0506, 0x0708, 0,      0};
    QTest::addRow("second device in the same address space")
        << 3 << 199 << 3 << Values{0, 0xbeef, 0};
    Values both(125, 0);
    both[0] = 0x1234;
    both[1] = 0x0001;
    both[2] = 0x00ff;
    both[3] = 0x0102;
    both[4] = 0x0304;
    both[5] = 0x0506;
    both[6] = 0x0708;
    both[100] = 0xbeef;
    QTest::addRow("125 registers over both devices") << 3 << 100 << 125 << both;
}

void tst_TcpServer::readsSavedValues()
{
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(Values, values);

    ModbusClient client(QStringLiteral("127.0.0.1"), mainPort);
    const std::optional<Values> read = ModbusClient::runAside([&]() -> std::optional<Values> {
        if (!client.connectToServer())
            return std::nullopt;
        return function == 3 ? client.readHoldingRegisters(address, count)
                             : client.readInputRegisters(address, count);
    });
    QVERIFY2(read.has_value(), qPrintable(client.lastError()));
    QCOMPARE(*read, values);
}

void tst_TcpServer::readsInsideWideValues_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<Values>("values");

    QTest::addRow("32-bit value whole") << 312 << 2 << Values{0x0001, 0x86a0};
    QTest::addRow("low word of a 32-bit value alone") << 313 << 1 << Values{0x86a0};
    QTest::addRow("low word and one register into the next value")
        << 313 << 2 << Values{0x86a0, 0x1122};
    QTest::addRow("gap and one register into a value") << 311 << 2 << Values{0, 0x0001};
    QTest::addRow("second word of a 64-bit value alone") << 315 << 1 << Values{0x3344};
    QTest::addRow("middle of a 64-bit value") << 315 << 2 << Values{0x3344, 0x5566};
    QTest::addRow("last word of a 64-bit value and the register after")
        << 317 << 2 << Values{0x7788, 0x2222};
    QTest::addRow("one register before a device") << 309 << 2 << Values{0, 0x1111};
    QTest::addRow("register read later wins inside a 64-bit value")
        << 320 << 4 << Values{0x0102, 0x0304, 0xabcd, 0x0708};
    QTest::addRow("overlapped 64-bit value from its middle")
        << 321 << 3 << Values{0x0304, 0xabcd, 0x0708};
    QTest::addRow("last word behind the overlapping register") << 323 << 1 << Values{0x0708};
    QTest::addRow("one register past a 64-bit value") << 324 << 1 << Values{0};
    QTest::addRow("whole device") << 309 << 16
                                  << Values{0,      0x1111, 0,      0x0001, 0x86a0, 0x1122,
                                            0x3344, 0x5566, 0x7788, 0x2222, 0,      0x0102,
                                            0x0304, 0xabcd, 0x0708, 0};
}

// Every range gets each word of a wide value that lies in it, by both functions, whether the
// image is cut from the port's cached rows or read by the range statement.
void tst_TcpServer::readsInsideWideValues()
{
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(Values, values);

    const auto cacheBack = qScopeGuard([this] { storage->setImageCacheEnabled(true); });
    for (const bool cached : {true, false}) {
        storage->setImageCacheEnabled(cached);
        ModbusClient client(QStringLiteral("127.0.0.1"), mainPort);
        const auto reads = ModbusClient::runAside([&]() -> std::optional<QList<Values>> {
            if (!client.connectToServer())
                return std::nullopt;
            const auto holding = client.readHoldingRegisters(address, count);
            const auto input = client.readInputRegisters(address, count);
            if (!holding || !input)
                return std::nullopt;
            return QList<Values>{*holding, *input};
        });
        QVERIFY2(reads.has_value(), qPrintable(client.lastError()));
        QCOMPARE(reads->at(0), values);
        QCOMPARE(reads->at(1), values);
    }
}

void tst_TcpServer::wireFrames_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QStringList>("lines");

    QTest::addRow("request split 8 + 4")
        << QList<QByteArray>{hex("0001000000060103"), hex("00640001")}
        << hex("0001000000050103021234")
        << QStringList{req("0001000000060103"), Incomplete2, req("000100000006010300640001"),
                       ans("0001000000050103021234")};
    QTest::addRow("two requests in one segment")
        << QList<QByteArray>{hex("000200000006010300640001000300000006010400c80001")}
        << hex("0002000000050103021234000300000005010402beef")
        << QStringList{req("000200000006010300640001000300000006010400c80001"),
                       ans("0002000000050103021234"), ans("000300000005010402beef")};
    QTest::addRow("MBAP length 2 dropped, nothing sent")
        << QList<QByteArray>{hex("0004000000020103")} << QByteArray()
        << QStringList{req("0004000000020103"), Incomplete3, Incomplete1};
    QTest::addRow("5 bytes wait") << QList<QByteArray>{hex("0005000000"), hex("06010300640001")}
                                  << hex("0005000000050103021234")
                                  << QStringList{req("0005000000"), Incomplete1,
                                                 req("000500000006010300640001"),
                                                 ans("0005000000050103021234")};
    QTest::addRow("odd unit and protocol ids echoed")
        << QList<QByteArray>{hex("abcd5a5a0006f70300640001")} << hex("abcd5a5a0005f703021234")
        << QStringList{req("abcd5a5a0006f70300640001"), ans("abcd5a5a0005f703021234")};
    {
        // A long declared frame arriving in pieces: each REQ line shows only its first 260 bytes.
        QByteArray frame = hex("0007000003e80103006400010000");
        frame.append(QByteArray(1006 - frame.size(), '\x5a'));
        const QByteArray first = frame.left(300);
        const QString shownFirst = QString::fromLatin1(first.left(260).toHex()) + "...";
        const QString shownFrame = QString::fromLatin1(frame.left(260).toHex()) + "...";
        QTest::addRow("long frame logged by its start")
            << QList<QByteArray>{first, frame.mid(300)} << hex("0007000000050103021234")
            << QStringList{req(shownFirst.toLatin1().constData()), Incomplete2,
                           req(shownFrame.toLatin1().constData()), ans("0007000000050103021234")};
    }
    QTest::addRow("quantity 126: exception 3")
        << QList<QByteArray>{hex("00060000000601030064007e")} << hex("000600000003018303")
        << QStringList{req("00060000000601030064007e"), ans("000600000003018303")};
}

void tst_TcpServer::wireFrames()
{
    QFETCH(QList<QByteArray>, segments);
    QFETCH(QByteArray, answers);
    QFETCH(QStringList, lines);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, mainPort);
    QVERIFY(client.waitForConnected());
    client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    int requests = 0;
    for (const QByteArray &segment : segments) {
        client.write(segment);
        ++requests;
        // The next segment goes only after the server has taken this one.
        QTRY_COMPARE(log->count(QStringLiteral("] REQ: <")), requests);
    }
    // A final request marks the end: everything before its answer belongs to the row.
    const QByteArray probe = hex("ffff00000006010300c80001");
    const QByteArray probeAnswer = hex("ffff00000005010302beef");
    client.write(probe);
    QTRY_COMPARE(client.bytesAvailable(), answers.size() + probeAnswer.size());
    QCOMPARE(client.readAll().toHex(), (answers + probeAnswer).toHex());
    QStringList logged = log->lines();
    QCOMPARE(logged.mid(logged.size() - 2),
             (QStringList{req("ffff00000006010300c80001"), ans("ffff00000005010302beef")}));
    QCOMPARE(logged.mid(0, logged.size() - 2), lines);
}

void tst_TcpServer::unsupportedFunctions()
{
    ModbusClient client(QStringLiteral("127.0.0.1"), mainPort);
    const QList<int> errors = ModbusClient::runAside([&client] {
        QList<int> result;
        if (!client.connectToServer())
            return result;
        result.append(client.readCoils(0, 8) ? 0 : client.lastErrno());
        result.append(client.writeRegister(100, 7) ? 0 : client.lastErrno());
        return result;
    });
    QCOMPARE(errors, (QList<int>{EMBXILFUN, EMBXILFUN}));
    QVERIFY(log->waitForLine(ans("000100000003ff8101")));
    QVERIFY(log->waitForLine(ans("000200000003ff8601")));
}

void tst_TcpServer::storageFailure()
{
    QVERIFY2(side->exec(QStringLiteral("ALTER TABLE dev_data RENAME TO dev_data_away;")),
             qPrintable(side->lastError()));
    SideConnection::waitUntilSeen();
    ModbusClient client(QStringLiteral("127.0.0.1"), mainPort);
    const auto failed = ModbusClient::runAside([&client] {
        return client.connectToServer() ? client.readHoldingRegisters(100, 2) : std::nullopt;
    });
    const int error = client.lastErrno();
    QVERIFY2(side->exec(QStringLiteral("ALTER TABLE dev_data_away RENAME TO dev_data;")),
             qPrintable(side->lastError()));
    SideConnection::waitUntilSeen();
    QVERIFY(!failed.has_value());
    QCOMPARE(error, EMBXSFAIL);
    QVERIFY(log->contains(
        QStringLiteral("ERROR: [CDataBaseHandler::getRegisterData] Invalid SQL request [1]")));
    QVERIFY(log->contains(ans("000100000003ff8304")));

    // The same connection reads again once the table is back.
    const auto read
        = ModbusClient::runAside([&client] { return client.readHoldingRegisters(100, 2); });
    QVERIFY2(read.has_value(), qPrintable(client.lastError()));
    QCOMPARE(*read, (Values{0x1234, 0x0001}));
}

void tst_TcpServer::sharedPortServesUntilLastDevice()
{
    auto *server = new CDeviceHandler(sharedPort, ProtocolModbus, QStringLiteral("C0000001"));
    QVERIFY(server->isListening());
    server->appendDevice(QStringLiteral("C0000001"));
    server->appendDevice(QStringLiteral("D0000001"));
    QTest::ignoreMessage(QtDebugMsg,
                         "[CDeviceHandler::appendDevice] Device [D0000001] already exist!");
    server->appendDevice(QStringLiteral("D0000001"));
    QCOMPARE(server->getServedDevices(),
             (QStringList{QStringLiteral("C0000001"), QStringLiteral("D0000001")}));

    ModbusClient client(QStringLiteral("127.0.0.1"), sharedPort);
    const auto readBoth = [&client] {
        const auto c = client.readHoldingRegisters(0, 1);
        const auto d = client.readHoldingRegisters(10, 1);
        return c && d ? Values{c->at(0), d->at(0)} : Values{};
    };
    QVERIFY(ModbusClient::runAside([&client] { return client.connectToServer(); }));
    QCOMPARE(ModbusClient::runAside(readBoth), (Values{0x0c0c, 0x0d0d}));

    server->removeDevice(QStringLiteral("C0000001"));
    QCOMPARE(server->getServedDevices(), QStringList{QStringLiteral("D0000001")});
    QCOMPARE(ModbusClient::runAside(readBoth), (Values{0x0c0c, 0x0d0d}));
    QCOMPARE(server->connectionCount(), 1);

    // As the registry does after the last device: the server goes, and its clients with it.
    const int destroyedBefore = destroyedConnections;
    server->removeDevice(QStringLiteral("D0000001"));
    QVERIFY(server->getServedDevices().isEmpty());
    QPointer<CDeviceHandler> guard(server);
    server->deleteLater();
    QTRY_VERIFY(guard.isNull());
    QTRY_COMPARE(destroyedConnections, destroyedBefore + 1);
    QCOMPARE(ModbusClient::runAside(readBoth), Values{});
    ModbusClient late(QStringLiteral("127.0.0.1"), sharedPort);
    QVERIFY(!ModbusClient::runAside([&late] { return late.connectToServer(); }));
}

// The connection is deleted only after its server: it must leave the server's list alone.
void tst_TcpServer::connectionOutlivesServer()
{
    auto *server = new CDeviceHandler(sharedPort, ProtocolModbus, QStringLiteral("C0000001"));
    server->appendDevice(QStringLiteral("C0000001"));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, sharedPort);
    QVERIFY(client.waitForConnected());
    QTRY_COMPARE(server->connectionCount(), 1);

    const int destroyedBefore = destroyedConnections;
    delete server;
    QCOMPARE(destroyedConnections, destroyedBefore);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(destroyedConnections, destroyedBefore + 1);
}

void tst_TcpServer::portMoveDropsClients()
{
    const quint16 newPort = freePort();
    auto *server = new CDeviceHandler(sharedPort, ProtocolTCP, QStringLiteral("E0000001"));
    server->appendDevice(QStringLiteral("E0000001"));
    QTcpSocket first;
    QTcpSocket second;
    for (QTcpSocket *client : {&first, &second}) {
        client->connectToHost(QHostAddress::LocalHost, sharedPort);
        QVERIFY(client->waitForConnected());
    }
    QTRY_COMPARE(server->connectionCount(), 2);
    // A transparent port takes clients and reads nothing from them yet.
    first.write("abc");
    QVERIFY(first.waitForBytesWritten());

    QTest::ignoreMessage(QtDebugMsg,
                         qPrintable(QStringLiteral("[CDeviceHandler::appendDevice] Port [%1] is "
                                                   "listening!")
                                        .arg(sharedPort)));
    server->appendDevice(sharedPort);
    QCOMPARE(server->connectionCount(), 2);
    QCOMPARE(first.state(), QAbstractSocket::ConnectedState);

    const int destroyedBefore = destroyedConnections;
    server->appendDevice(newPort);
    QCOMPARE(server->getPort(), newPort);
    QCOMPARE(server->connectionCount(), 0);
    QVERIFY(server->isListening());
    QCOMPARE(server->serverPort(), newPort);
    QTcpSocket moved;
    moved.connectToHost(QHostAddress::LocalHost, newPort);
    QVERIFY(moved.waitForConnected());
    QTRY_COMPARE(server->connectionCount(), 1);

    // The dropped connections are deleted later, after the server is gone.
    delete server;
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(moved.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(destroyedConnections, destroyedBefore + 3);
    QTcpSocket old;
    old.connectToHost(QHostAddress::LocalHost, sharedPort);
    QVERIFY(!old.waitForConnected());
}

// A client that sends requests but never reads must neither hold up other clients nor make the
// gateway buffer without end.
void tst_TcpServer::hundredClients()
{
    constexpr int Clients = 100;
    std::vector<std::unique_ptr<ModbusClient>> clients;
    for (int i = 0; i < Clients; ++i)
        clients.push_back(std::make_unique<ModbusClient>(QStringLiteral("127.0.0.1"), mainPort));
    // All connect, then all send, then all answers are read.
    const QStringList failures = ModbusClient::runAside([&clients] {
        QStringList result;
        for (auto &client : clients) {
            if (!client->connectToServer())
                result.append(QStringLiteral("connect: ") + client->lastError());
        }
        for (auto &client : clients) {
            if (!client->sendRaw(hex("010300640002")))
                result.append(QStringLiteral("send: ") + client->lastError());
        }
        for (auto &client : clients) {
            const QByteArray answer = client->receiveRaw();
            if (answer.mid(4) != hex("000701030412340001"))
                result.append(QStringLiteral("answer: ") + QString::fromLatin1(answer.toHex()));
        }
        return result;
    });
    QCOMPARE(failures, QStringList());
    QCOMPARE(mainServer->connectionCount(), Clients);
}

QTEST_GUILESS_MAIN(tst_TcpServer)
#include "tst_tcpserver.moc"
