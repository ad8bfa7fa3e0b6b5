#include "CClientBudget.h"
#include "CDeviceHandler.h"
#include "CServerHandler.h"
#include "FakeNetworkServer.h"
#include "FakeServerLogin.h"
#include "FreePort.h"
#include "LogCapture.h"
#include "TcpChunkWord.h"
#include "TempWorkDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

// The transparent pipe of a TCP port over real sockets: chunk reassembly to every client, the
// reassembly time-out, and client bytes to the fake network server as downlinks.
class tst_TransparentPipe : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void reassembly_data();
    void reassembly();
    void noClientDropsSilently();
    void endlessPacketStaysBounded();
    void duplicateOnlyWhileUnsent_data();
    void duplicateOnlyWhileUnsent();
    void waitingTimeout();
    void clientBytesBecomeDownlink();
    void portMoveDropsClients();

private:
    // A server on a free port with `count` clients, all accepted.
    bool startServer(int clientCount);
    bool connectClients(quint16 port, int count);
    // Every client has received exactly these bytes.
    bool clientsReceived(const QByteArray &expected);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<FakeNetworkServer> fake;
    std::unique_ptr<CDeviceHandler> server;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    std::vector<QByteArray> receivedBytes;
};

namespace {

const QString DevEui = QStringLiteral("70B3D5E75E000042");
const QString SocketLine = QStringLiteral("INFO: [CDeviceHandler::sendTCPDataToSocket] Send data");

struct SChunkIn
{
    QByteArray data;
    quint32 word = 0;
};
using Chunks = QList<SChunkIn>;

SChunkIn chunk(const QByteArray &data, int number, int count, int total)
{
    return {data, TcpChunkWord::pack(quint8(number), quint8(count), quint16(total))};
}

QByteArray filled(int size, char c)
{
    return QByteArray(size, c);
}

// Sent after each case: it passes only when the case left the buffer empty, and shows that
// nothing else reached the clients before it.
const SChunkIn Marker{QByteArrayLiteral("END"), TcpChunkWord::pack(1, 1, 3)};

} // namespace

Q_DECLARE_METATYPE(Chunks)

void tst_TransparentPipe::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
    fake = std::make_unique<FakeNetworkServer>();
    QVERIFY(fake->isListening());

    CServerHandler *link = CServerHandler::getInstance();
    QVERIFY(logInToFake(link, *fake));
}

void tst_TransparentPipe::init()
{
    log->clear();
    fake->clearReceived();
}

void tst_TransparentPipe::cleanup()
{
    clients.clear();
    receivedBytes.clear();
    server.reset();
    CDeviceHandler::setWaitingTimeoutForNewServers(CDeviceHandler::WaitingTimeoutMs);
}

bool tst_TransparentPipe::connectClients(quint16 port, int count)
{
    const int before = server->connectionCount();
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        const size_t index = clients.size();
        receivedBytes.emplace_back();
        connect(socket.get(), &QTcpSocket::readyRead, this,
                [this, index] { receivedBytes[index].append(clients[index]->readAll()); });
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!socket->waitForConnected(5000))
            return false;
        clients.push_back(std::move(socket));
    }
    return QTest::qWaitFor([&] { return server->connectionCount() == before + count; }, 5000);
}

bool tst_TransparentPipe::startServer(int clientCount)
{
    const quint16 port = freePort();
    server = std::make_unique<CDeviceHandler>(port, ProtocolTCP, DevEui);
    server->appendDevice(DevEui);
    return server->isListening() && connectClients(port, clientCount);
}

bool tst_TransparentPipe::clientsReceived(const QByteArray &expected)
{
    const auto allDone = [&] {
        for (const QByteArray &bytes : receivedBytes)
            if (bytes.size() < expected.size())
                return false;
        return true;
    };
    if (!QTest::qWaitFor(allDone, 5000))
        return false;
    for (const QByteArray &bytes : receivedBytes)
        if (bytes != expected) {
            qWarning() << "received" << bytes.toHex() << "expected" << expected.toHex();
            return false;
        }
    return true;
}

void tst_TransparentPipe::reassembly_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QByteArray>("delivered");
    QTest::addColumn<QString>("error");

    const QByteArray a = QByteArrayLiteral("ab"), b = QByteArrayLiteral("cd"),
                     c = QByteArrayLiteral("ef");
    QTest::addRow("one chunk") << Chunks{chunk("hello", 1, 1, 5)} << QByteArray("hello")
                               << QString();
    QTest::addRow("three chunks, one write")
        << Chunks{chunk(a, 1, 3, 6), chunk(b, 2, 3, 6), chunk(c, 3, 3, 6)} << QByteArray("abcdef")
        << QString();
    QTest::addRow("lost middle chunk")
        << Chunks{chunk(a, 1, 3, 6), chunk(c, 3, 3, 6)} << QByteArray()
        << QStringLiteral("ERROR: [CDeviceHandler::sendTCPData] Package from device %1 has been "
                          "damaged or lost! Total packet size is [6], received packet size is "
                          "[4]. Data discarded.")
               .arg(DevEui);
    QTest::addRow("chunks kept in arrival order")
        << Chunks{chunk(b, 2, 3, 6), chunk(a, 1, 3, 6), chunk(c, 3, 3, 6)} << QByteArray("cdabef")
        << QString();
    QTest::addRow("number above the count ignored")
        << Chunks{chunk(a, 1, 2, 4), chunk("zz", 3, 2, 4), chunk(b, 2, 2, 4)} << QByteArray("abcd")
        << QString();
    QTest::addRow("600 bytes pass")
        << Chunks{chunk(filled(200, 'x'), 1, 3, 600), chunk(filled(200, 'y'), 2, 3, 600),
                  chunk(filled(200, 'z'), 3, 3, 600)}
        << (filled(200, 'x') + filled(200, 'y') + filled(200, 'z')) << QString();
    const QString exceeded = QStringLiteral("ERROR: [CDeviceHandler::sendTCPData] Package size "
                                            "from device %1 is exceeded! The maximum size should "
                                            "be no more than 600 bytes.")
                                 .arg(DevEui);
    QTest::addRow("601 bytes exceeded")
        << Chunks{chunk(filled(200, 'x'), 1, 3, 601), chunk(filled(200, 'y'), 2, 3, 601),
                  chunk(filled(201, 'z'), 3, 3, 601)}
        << QByteArray() << exceeded;
    QTest::addRow("601 bytes exceeded whatever the total")
        << Chunks{chunk(filled(300, 'x'), 1, 2, 600), chunk(filled(301, 'y'), 2, 2, 600)}
        << QByteArray() << exceeded;
    QTest::addRow("single chunk shorter than its total")
        << Chunks{chunk("a", 1, 1, 2)} << QByteArray()
        << QStringLiteral("ERROR: [CDeviceHandler::sendTCPData] Package from device %1 has been "
                          "damaged or lost! Total packet size is [2], received packet size is "
                          "[1]. Data discarded.")
               .arg(DevEui);
}

void tst_TransparentPipe::reassembly()
{
    QFETCH(Chunks, chunks);
    QFETCH(QByteArray, delivered);
    QFETCH(QString, error);

    QVERIFY(startServer(2));
    for (const SChunkIn &in : chunks)
        server->sendTCPData(in.data, in.word);
    server->sendTCPData(Marker.data, Marker.word);

    QVERIFY(clientsReceived(delivered + Marker.data));
    // One write per client and packet.
    QCOMPARE(log->count(SocketLine), delivered.isEmpty() ? 2 : 4);
    if (!error.isEmpty())
        QCOMPARE(log->count(error), 1);
    QCOMPARE(log->count(QStringLiteral("ERROR: [CDeviceHandler::")), error.isEmpty() ? 0 : 1);
}

void tst_TransparentPipe::noClientDropsSilently()
{
    QVERIFY(startServer(0));
    // Would make the later packet too long if it were kept.
    server->sendTCPData("abc", TcpChunkWord::pack(1, 2, 3));
    server->sendTCPData("x", TcpChunkWord::pack(2, 2, 3));
    QVERIFY(connectClients(server->getPort(), 1));
    server->sendTCPData("def", TcpChunkWord::pack(1, 1, 3));

    QVERIFY(clientsReceived("def"));
    QCOMPARE(log->count(QStringLiteral("[CDeviceHandler::")), 1);
}

void tst_TransparentPipe::duplicateOnlyWhileUnsent_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QByteArray>("delivered");
    QTest::addRow("empty packet") << Chunks{chunk("", 1, 1, 0)} << QByteArray();
    QTest::addRow("packet, then an empty one")
        << Chunks{chunk("ab", 1, 1, 2), chunk("", 1, 1, 0)} << QByteArray("ab");
    QTest::addRow("empty packet, then one") << Chunks{chunk("", 1, 1, 0), chunk("cd", 1, 1, 2)}
                                            << QByteArray("cd");
}

void tst_TransparentPipe::duplicateOnlyWhileUnsent()
{
    QFETCH(Chunks, chunks);
    QFETCH(QByteArray, delivered);

    const auto openDescriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size();
    };
    QVERIFY(startServer(2));
    const qsizetype before = openDescriptors();
    const int counted = CClientBudget::shared().openConnections();
    for (const SChunkIn &in : chunks)
        server->sendTCPData(in.data, in.word);
    // The specified line stands for every packet, empty or not.
    QCOMPARE(log->count(SocketLine), 2 * int(chunks.size()));
    QVERIFY(clientsReceived(delivered));
    // Once Qt has written everything, no client holds a second descriptor.
    QTRY_COMPARE(CClientBudget::shared().openConnections(), counted);
    QTRY_COMPARE(openDescriptors(), before);
    QCOMPARE(server->connectionCount(), 2);
}

void tst_TransparentPipe::endlessPacketStaysBounded()
{
    QVERIFY(startServer(1));
    // A device that never sends its last chunk: what is kept stays one byte over the limit.
    for (int i = 0; i < 100; ++i)
        server->sendTCPData(filled(100, 'q'), TcpChunkWord::pack(1, 2, 600));
    QCOMPARE(server->pendingBytes(), qsizetype(CDeviceHandler::MaxPacketSize + 1));
    server->sendTCPData(filled(100, 'r'), TcpChunkWord::pack(2, 2, 600));
    QVERIFY(log->waitForLine(QStringLiteral("ERROR: [CDeviceHandler::sendTCPData] Package size "
                                            "from device %1 is exceeded!")
                                 .arg(DevEui)));
    QCOMPARE(server->pendingBytes(), qsizetype(0));
    server->sendTCPData(Marker.data, Marker.word);
    QVERIFY(clientsReceived(Marker.data));
}

void tst_TransparentPipe::waitingTimeout()
{
    CDeviceHandler::setWaitingTimeoutForNewServers(50);
    QVERIFY(startServer(1));
    server->sendTCPData("ab", TcpChunkWord::pack(1, 2, 4));
    QVERIFY(log->waitForLine(QStringLiteral("ERROR: [CDeviceHandler::waitingTimeout] Package from "
                                            "device %1 has been damaged or lost! Waiting "
                                            "timeout. Data discarded.")
                                 .arg(DevEui)));
    // The buffer is empty: a last chunk of the whole size alone goes out.
    server->sendTCPData("wxyz", TcpChunkWord::pack(2, 2, 4));
    QVERIFY(clientsReceived("wxyz"));
    QCOMPARE(log->count(QStringLiteral("[CDeviceHandler::waitingTimeout]")), 1);
}

void tst_TransparentPipe::clientBytesBecomeDownlink()
{
    QVERIFY(startServer(1));
    clients.front()->write(QByteArray::fromHex("0102"));
    QVERIFY(fake->waitForCommand(QStringLiteral("send_data_req")));

    const QList<QJsonObject> requests = fake->receivedCommands(QStringLiteral("send_data_req"));
    QCOMPARE(requests.size(), 1);
    const QJsonArray entries = requests.front().value(QStringLiteral("data_list")).toArray();
    QCOMPARE(entries.size(), 1);
    const QJsonObject entry = entries.first().toObject();
    QCOMPARE(entry.value(QStringLiteral("data")).toString(), QStringLiteral("040102"));
    QCOMPARE(entry.value(QStringLiteral("devEui")).toString(), DevEui);
    QVERIFY(log->contains(QStringLiteral("INFO: [CDeviceHandler::incomingTCPDataHandler] Recived "
                                         "data [0102] from a TCP socket from a port %1.")
                              .arg(server->getPort())));
}

void tst_TransparentPipe::portMoveDropsClients()
{
    QVERIFY(startServer(2));
    const quint16 oldPort = server->getPort();
    // A packet under reassembly ends with the move.
    server->sendTCPData("ab", TcpChunkWord::pack(1, 2, 4));

    const quint16 newPort = freePort();
    server->appendDevice(newPort);
    QCOMPARE(server->getPort(), newPort);
    QCOMPARE(server->connectionCount(), 0);
    for (const auto &client : clients)
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);

    QTcpSocket oldPortClient;
    oldPortClient.connectToHost(QHostAddress::LocalHost, oldPort);
    QVERIFY(!oldPortClient.waitForConnected(5000));

    clients.clear();
    receivedBytes.clear();
    QVERIFY(connectClients(newPort, 1));
    server->sendTCPData("wxyz", TcpChunkWord::pack(2, 2, 4));
    QVERIFY(clientsReceived("wxyz"));
    QVERIFY(log->contains(
        QStringLiteral("Send data [wxyz] for a TCP socket in port %1.").arg(newPort)));
}

QTEST_GUILESS_MAIN(tst_TransparentPipe)
#include "tst_transparentpipe.moc"
