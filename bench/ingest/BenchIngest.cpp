// Uplink ingest throughput: uplinks of 1,000 registered climate sensors pushed through the
// registry's dispatch (decoding, scaling lookups, the blocking save), beside the storage-only rate
// of saving the same register data sets through the storage thread.

#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CLogFile.h"
#include "CSettings.h"
#include "StorageThread.h"
#include "TemplateDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

constexpr int Devices = 1000;
constexpr int Uplinks = 20000;
constexpr int Rounds = 3;
constexpr int EventsEvery = 256;
const QString ClimateAppEui = QStringLiteral("AB12CD34EF560001");
const QString ClimateFile = QStringLiteral("climate-sensor.json");

QString devEuiOf(int device)
{
    return QStringLiteral("70B3D5E75E%1").arg(device, 6, 16, QLatin1Char('0')).toUpper();
}

int startOf(int device)
{
    return (device % 64) * 32;
}

// Uplinks per second of one round; queued log lines are delivered on the way, as the event loop
// does between uplinks.
double roundRate(const std::function<void(int)> &one)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Uplinks; ++i) {
        one(i);
        if (i % EventsEvery == EventsEvery - 1)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    return Uplinks / (double(timer.nsecsElapsed()) / 1e9);
}

API::SApiDeviceData makeUplink(QRandomGenerator &random, int index)
{
    API::SApiDeviceData data;
    data.devEui = devEuiOf(index % Devices);
    data.ts = 1700000000000ull + quint64(index) * 1000;
    data.gatewayId = QStringLiteral("00800000A0001234");
    data.fcnt = quint32(index / Devices);
    data.rssi = qint16(-int(random.bounded(120)));
    data.snr = double(random.bounded(400)) / 20.0 - 10.0;
    QByteArray payload;
    if (index % 4 == 3) { // status packet
        payload.append(char(2));
        for (int b = 0; b < 9; ++b)
            payload.append(char(random.bounded(256)));
    } else { // measurement packet
        payload.append(char(1));
        for (int b = 0; b < 11; ++b)
            payload.append(char(random.bounded(256)));
    }
    data.data = payload;
    data.valid = true;
    return data;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !QDir().mkdir("deviceFolder")
        || !QFile::copy(QStringLiteral(EXAMPLE_TEMPLATE_FOLDER "/") + ClimateFile,
                        "deviceFolder/" + ClimateFile)) {
        std::fprintf(stderr, "no working directory with the example template\n");
        return 1;
    }
    CSettings::getInstance(QStringLiteral("settings.conf"));
    CLogFile::getInstance(QStringLiteral("history"), QString());
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");

    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage) {
        std::fprintf(stderr, "storage not started: %s\n",
                     qPrintable(CDataBaseHandler::lastErrorText()));
        return 1;
    }
    QThread *storageThread = startStorageThread(storage);

    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    if (!registry->isDeviceTemplateExist(ClimateAppEui)) {
        std::fprintf(stderr, "example template not loaded\n");
        return 1;
    }
    const STemplateRegMap regMap = registry->getTemplateRegMap(ClimateAppEui);
    quint16 port = 0;
    {
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, 0))
            port = probe.serverPort();
    }

    QElapsedTimer setup;
    setup.start();
    for (int device = 0; device < Devices; ++device) {
        DB::SDeviceRegMapDescription info;
        info.devEui = devEuiOf(device);
        info.appEui = ClimateAppEui;
        info.name = QStringLiteral("sensor %1").arg(device);
        info.startAddr = startOf(device);
        info.registers = regMap.registers;
        info.port = port;
        if (!storage->registerNewDevice(info, ProtocolModbus)) {
            std::fprintf(stderr, "registration failed\n");
            return 1;
        }
        registry->addNewDevice(info, ProtocolModbus);
    }
    QCoreApplication::processEvents();
    const double registerSeconds = double(setup.nsecsElapsed()) / 1e9;

    // The same uplinks for both paths, and their register data sets for the storage-only one.
    QRandomGenerator random(20240611);
    QList<API::SApiDeviceData> uplinks;
    QList<DB::SDbDeviceRegDataSet> dataSets;
    QFile templateFile("deviceFolder/" + ClimateFile);
    templateFile.open(QIODevice::ReadOnly);
    const SDeviceTemplate climate(QJsonDocument::fromJson(templateFile.readAll()).object());
    qsizetype registers = 0;
    for (int i = 0; i < Uplinks; ++i) {
        uplinks.append(makeUplink(random, i));
        const auto set = TemplateDecoder::decode(
            climate, uplinks.last(), startOf(i % Devices),
            [](quint32) { return DB::SRegisterParam(); }, [](const QString &) {});
        if (!set) {
            std::fprintf(stderr, "uplink %d not decodable\n", i);
            return 1;
        }
        registers += set->regValues.size();
        dataSets.append(*set);
    }

    int failedSaves = 0;
    int decoded = 0;
    QObject::connect(registry, &CAllDeviceHandler::newDataForDevice, [&decoded] { ++decoded; });
    const auto saveOnly = [&](int i) {
        if (!QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                       Q_ARG(DB::SDbDeviceRegDataSet, dataSets.at(i))))
            ++failedSaves;
    };
    const auto ingest = [&](int i) {
        registry->newPacketReceivedSlot(uplinks.at(i));
    };
    // Rounds of the two paths alternate, so that drifts of the disk's speed hit both; the best
    // round of each counts.
    double storageRate = 0.0;
    double ingestRate = 0.0;
    for (int round = 0; round < Rounds; ++round) {
        storageRate = qMax(storageRate, roundRate(saveOnly));
        ingestRate = qMax(ingestRate, roundRate(ingest));
    }
    if (failedSaves > 0 || decoded != Uplinks * Rounds) {
        std::fprintf(stderr, "lost uplinks: %d failed saves, %d of %d decoded\n", failedSaves,
                     decoded, Uplinks * Rounds);
        return 1;
    }

    std::printf("devices registered:    %d in %.2f s\n", Devices, registerSeconds);
    std::printf("uplinks per round:     %d (%.1f registers each), best of %d rounds\n", Uplinks,
                double(registers) / Uplinks, Rounds);
    std::printf("ingest (decode+store): %.0f uplinks/s\n", ingestRate);
    std::printf("storage only (save):   %.0f uplinks/s\n", storageRate);
    std::printf("RESULT bench-ingest ratio=%.3f\n", ingestRate / storageRate);

    storageThread->quit();
    storageThread->wait();
    delete storageThread;
    return 0;
}
