// Arbitrary uplink payloads through the chunk header parser and the registry's dispatch of a
// transparent TCP device, and arbitrary chunks with arbitrary words into the reassembly of a
// port with one connected client.

#include "CAllDeviceHandler.h"
#include "CDeviceHandler.h"
#include "CLogFile.h"
#include "CSettings.h"
#include "SharedConstants.h"
#include "TcpChunk.h"
#include "TcpChunkWord.h"

#include <QCoreApplication>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

const QString DevEui = QStringLiteral("70B3D5E75E00F001");

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

struct SWorld
{
    SWorld()
    {
        static int argc = 1;
        static char name[] = "fuzz-transparent";
        static char *argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
        qInstallMessageHandler(dropMessages);
        // The settings, the log and the (empty) template folder live in a directory of their
        // own; the fuzzer's own paths stay relative to the directory it was started in.
        dir = new QTemporaryDir;
        const QString started = QDir::currentPath();
        QDir::setCurrent(dir->path());
        CSettings::getInstance(dir->filePath(SettingsKey::FileName));
        CSettings::writeValue(SettingsKey::UseLog, false);
        CLogFile::instance();
        registry = CAllDeviceHandler::getInstance();
        QDir::setCurrent(started);

        DB::SDeviceRegMapDescription info;
        info.devEui = DevEui;
        info.port = freePort();
        registry->addNewDevice(info, ProtocolTCP);

        server = new CDeviceHandler(freePort(), ProtocolTCP, DevEui);
        client = new QTcpSocket;
        client->connectToHost(QHostAddress::LocalHost, server->getPort());
        require(client->waitForConnected(5000));
        for (int i = 0; i < 1000 && server->connectionCount() == 0; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        require(server->connectionCount() == 1);
    }

    QCoreApplication *app = nullptr;
    QTemporaryDir *dir = nullptr;
    CAllDeviceHandler *registry = nullptr;
    CDeviceHandler *server = nullptr;
    QTcpSocket *client = nullptr;
};

SWorld &world()
{
    static SWorld *instance = new SWorld;
    return *instance;
}

// The header read again, independently of the parser.
void checkParse(const QByteArray &payload)
{
    const std::optional<TcpChunk::SChunk> chunk = TcpChunk::parse(payload);
    const quint8 type = payload.isEmpty() ? 0 : quint8(payload.at(0));
    const qsizetype at = type == 5 ? 4 : 0;
    const bool chunkType = type == 3 || type == 5 || type == 6 || type == 13;
    const bool fits = chunkType && payload.size() >= 7 + at
                      && payload.size() >= 7 + at + quint8(payload.at(4 + at));
    require(chunk.has_value() == fits);
    if (!chunk)
        return;
    const auto byte = [&](qsizetype i) {
        return quint8(payload.at(i + at));
    };
    require(chunk->data == payload.mid(7 + at, byte(4)));
    require(TcpChunkWord::total(chunk->word) == ((byte(2) << 8) | byte(3)));
    require(TcpChunkWord::number(chunk->word) == quint8(byte(5) + 1));
    require(TcpChunkWord::count(chunk->word) == byte(6));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SWorld &w = world();
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const bool direct = input.ConsumeBool();
        const QByteArray bytes = QByteArray::fromStdString(input.ConsumeRandomLengthString(700));
        if (direct) {
            w.server->sendTCPData(bytes, input.ConsumeIntegral<quint32>());
            continue;
        }
        checkParse(bytes);
        API::SApiDeviceData uplink;
        uplink.devEui = DevEui;
        uplink.data = bytes;
        uplink.valid = true;
        w.registry->newPacketReceivedSlot(uplink);
        if (const std::optional<TcpChunk::SChunk> chunk = TcpChunk::parse(bytes))
            w.server->sendTCPData(chunk->data, chunk->word);
    }
    // Let the writes and the queued log calls run; the client takes whatever arrives.
    QCoreApplication::processEvents();
    w.client->readAll();
    return 0;
}
