// Uplink ingest throughput: uplinks of 1,000 registered climate sensors pushed through the
// registry's dispatch (decoding, scaling lookups, the blocking save), beside the storage-only rate
// of saving the same register data sets through the storage thread. Then the scale case: uplinks
// to 50 devices with 5,000 devices stored (their DevEUIs in lower case, as files of earlier
// versions hold them) against the same uplinks with only those 50 stored, and with the 5,000 stored
// in upper case. Storage and registry are process singletons, so each configuration of the scale
// case runs in a child process.
//
//   bench-ingest [--no-scale | --scale-only]      the whole bench, or one of its two parts
//   bench-ingest --stored N --receiving M [--lower] [--seconds S]
//                                                 one configuration, ends with a CASE line
//   bench-ingest --seed DIR --stored N [--lower] [--port P]
//                                                 leaves DIR/server.db with N stored devices
//
// Files are made in a temporary directory under TMPDIR (e.g. TMPDIR=/dev/shm for tmpfs).

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
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

constexpr int Devices = 1000;
constexpr int Uplinks = 20000;
constexpr int Rounds = 3;
constexpr int EventsEvery = 256;
const QString ClimateAppEui = QStringLiteral("AB12CD34EF560001");
const QString ClimateFile = QStringLiteral("climate-sensor.json");

// The scale case: its configurations, the child runs of each (alternating) and the rounds of a run.
constexpr int ScaleStored = 5000;
constexpr int ScaleReceiving = 50;
constexpr int ScaleRuns = 2;
constexpr int ScaleRounds = 5;
constexpr double ScaleRoundSeconds = 1.0;
constexpr int ScaleMinUplinks = 300;
constexpr int ScaleMaxUplinks = 20000;
constexpr int ChildTimeoutMs = 600000;

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

// Uplinks per second of a round that runs for at least `seconds` (and at least `minimum`
// uplinks), at most `maximum` uplinks; `count` is told how many it pushed.
double timedRate(const std::function<void(int)> &one, double seconds, int minimum, int maximum,
                 int &count)
{
    QElapsedTimer timer;
    timer.start();
    const qint64 limit = qint64(seconds * 1e9);
    int i = 0;
    while (i < maximum && (i < minimum || timer.nsecsElapsed() < limit)) {
        one(i);
        if (i % EventsEvery == EventsEvery - 1)
            QCoreApplication::processEvents();
        ++i;
    }
    QCoreApplication::processEvents();
    count = i;
    return i / (double(timer.nsecsElapsed()) / 1e9);
}

API::SApiDeviceData makeUplink(QRandomGenerator &random, const QString &devEui, int index,
                               quint32 fcnt)
{
    API::SApiDeviceData data;
    data.devEui = devEui;
    data.ts = 1700000000000ull + quint64(index) * 1000;
    data.gatewayId = QStringLiteral("00800000A0001234");
    data.fcnt = fcnt;
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

// The device number of receiving device k: spread evenly over the stored ones.
int receivingDevice(int k, int stored, int receiving)
{
    return k * (stored / receiving);
}

struct SOptions
{
    int stored = 0;
    int receiving = 0;
    bool lower = false;
    double seconds = ScaleRoundSeconds;
    QString seedDir;
    int port = 0;
    bool firstCase = true;
    bool scaleCase = true;
};

std::optional<SOptions> parseOptions(const QStringList &args)
{
    SOptions options;
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--lower")) {
            options.lower = true;
        } else if (arg == QLatin1String("--no-scale")) {
            options.scaleCase = false;
        } else if (arg == QLatin1String("--scale-only")) {
            options.firstCase = false;
        } else if (arg == QLatin1String("--stored") && hasValue) {
            options.stored = args.at(++i).toInt();
        } else if (arg == QLatin1String("--receiving") && hasValue) {
            options.receiving = args.at(++i).toInt();
        } else if (arg == QLatin1String("--seconds") && hasValue) {
            options.seconds = args.at(++i).toDouble();
        } else if (arg == QLatin1String("--seed") && hasValue) {
            options.seedDir = args.at(++i);
        } else if (arg == QLatin1String("--port") && hasValue) {
            options.port = args.at(++i).toInt();
        } else {
            return std::nullopt;
        }
    }
    if (options.stored < 0 || options.receiving < 0 || options.receiving > options.stored
        || (options.stored > 0 && options.receiving == 0 && options.seedDir.isEmpty())
        || (!options.seedDir.isEmpty() && options.stored == 0) || options.seconds <= 0
        || options.port < 0 || options.port > 65535 || (!options.firstCase && !options.scaleCase))
        return std::nullopt;
    return options;
}

// The port of a listening server that nobody else holds now.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}

// Ends a connection with the scope that holds what it captures.
struct SConnectionGuard
{
    QMetaObject::Connection connection;
    ~SConnectionGuard() { QObject::disconnect(connection); }
};

// The current directory holds the example template and the storage runs in its own thread.
struct SGateway
{
    CDataBaseHandler *storage = nullptr;
    QThread *storageThread = nullptr;
    CAllDeviceHandler *registry = nullptr;
    STemplateRegMap regMap;

    ~SGateway()
    {
        if (storageThread) {
            storageThread->quit();
            storageThread->wait();
            delete storageThread;
        }
    }
};

bool startGateway(SGateway &gateway)
{
    const QString target = QStringLiteral("deviceFolder/") + ClimateFile;
    if ((!QDir().exists(QStringLiteral("deviceFolder")) && !QDir().mkdir("deviceFolder"))
        || (!QFile::exists(target)
            && !QFile::copy(QStringLiteral(EXAMPLE_TEMPLATE_FOLDER "/") + ClimateFile, target))) {
        std::fprintf(stderr, "no working directory with the example template\n");
        return false;
    }
    CSettings::getInstance(QStringLiteral("settings.conf"));
    CLogFile::getInstance(QStringLiteral("history"), QString());
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");

    gateway.storage = CDataBaseHandler::getInstance();
    if (!gateway.storage) {
        std::fprintf(stderr, "storage not started: %s\n",
                     qPrintable(CDataBaseHandler::lastErrorText()));
        return false;
    }
    gateway.storageThread = startStorageThread(gateway.storage);

    gateway.registry = CAllDeviceHandler::getInstance();
    if (!gateway.registry->isDeviceTemplateExist(ClimateAppEui)) {
        std::fprintf(stderr, "example template not loaded\n");
        return false;
    }
    gateway.regMap = gateway.registry->getTemplateRegMap(ClimateAppEui);
    return true;
}

// A connection of its own to the storage's file, beside the storage's.
QSqlDatabase sideConnection()
{
    QSqlDatabase side
        = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("side"));
    side.setDatabaseName(QStringLiteral("server.db"));
    if (!side.open())
        std::fprintf(stderr, "side connection not opened: %s\n",
                     qPrintable(side.lastError().text()));
    return side;
}

// Stores `stored` devices through the storage, then, for `lower`, lowers their DevEUIs in the
// file as earlier versions stored them.
bool storeDevices(SGateway &gateway, const SOptions &options, quint16 port, QSqlDatabase &side)
{
    for (int device = 0; device < options.stored; ++device) {
        DB::SDeviceRegMapDescription info;
        info.devEui = devEuiOf(device);
        info.appEui = ClimateAppEui;
        info.name = QStringLiteral("sensor %1").arg(device);
        info.startAddr = startOf(device);
        info.registers = gateway.regMap.registers;
        info.port = port;
        if (!gateway.storage->registerNewDevice(info, ProtocolModbus)) {
            std::fprintf(stderr, "registration of device %d failed\n", device);
            return false;
        }
    }
    if (!options.lower)
        return true;
    QSqlQuery query(side);
    if (!query.exec(QStringLiteral("UPDATE devices SET dev_eui=lower(dev_eui);"))) {
        std::fprintf(stderr, "lowering failed: %s\n", qPrintable(query.lastError().text()));
        return false;
    }
    return true;
}

// Registers the stored devices with the registry by their stored spelling, as the main window
// does at start.
int registerStoredDevices(SGateway &gateway, QSqlDatabase &side)
{
    QSqlQuery query(side);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT dev_eui, app_eui, name, start_addr, port FROM devices ORDER BY device;")))
        return -1;
    int count = 0;
    while (query.next()) {
        DB::SDeviceRegMapDescription info;
        info.devEui = query.value(0).toString();
        info.appEui = query.value(1).toString();
        info.name = query.value(2).toString();
        info.startAddr = query.value(3).toInt();
        info.port = query.value(4).toInt();
        gateway.registry->addNewDevice(info, ProtocolModbus);
        ++count;
    }
    return count;
}

// One configuration of the scale case in this process.
int runCase(const SOptions &options)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    SGateway gateway;
    if (!startGateway(gateway))
        return 1;
    QSqlDatabase side = sideConnection();
    if (!side.isOpen())
        return 1;

    QElapsedTimer setup;
    setup.start();
    if (!storeDevices(gateway, options, freePort(), side))
        return 1;
    const double storeSeconds = double(setup.nsecsElapsed()) / 1e9;
    const int registered = registerStoredDevices(gateway, side);
    QCoreApplication::processEvents();
    const double registerSeconds = double(setup.nsecsElapsed()) / 1e9;
    if (registered != options.stored) {
        std::fprintf(stderr, "%d of %d stored devices registered\n", registered, options.stored);
        return 1;
    }

    // The DevEUIs in upper case, as the server sends them.
    QRandomGenerator random(20240611);
    QList<API::SApiDeviceData> uplinks;
    for (int i = 0; i < ScaleMaxUplinks; ++i) {
        const int device
            = receivingDevice(i % options.receiving, options.stored, options.receiving);
        uplinks.append(makeUplink(random, devEuiOf(device), i, quint32(i / options.receiving)));
    }

    int decoded = 0;
    const SConnectionGuard counting{QObject::connect(
        gateway.registry, &CAllDeviceHandler::newDataForDevice, [&decoded] { ++decoded; })};
    // Each round goes on where the one before stopped.
    qsizetype next = 0;
    const auto ingest = [&](int) {
        gateway.registry->newPacketReceivedSlot(uplinks.at(next));
        next = (next + 1) % uplinks.size();
    };
    double best = 0.0;
    int pushed = 0;
    for (int round = 0; round < ScaleRounds; ++round) {
        int count = 0;
        best = qMax(best,
                    timedRate(ingest, options.seconds, ScaleMinUplinks, ScaleMaxUplinks, count));
        pushed += count;
    }

    // Every receiving device got its values stored.
    QSqlQuery query(side);
    const int savedDevices
        = query.exec(QStringLiteral("SELECT COUNT(DISTINCT device) FROM dev_data WHERE value IS "
                                    "NOT NULL;"))
                  && query.next()
              ? query.value(0).toInt()
              : -1;
    query.finish();
    const bool complete = decoded == pushed && savedDevices == qMin(options.receiving, pushed);
    std::printf("CASE stored=%d lower=%d receiving=%d rate=%.1f store_s=%.3f register_s=%.3f "
                "pushed=%d decoded=%d saved_devices=%d %s\n",
                options.stored, options.lower ? 1 : 0, options.receiving, best, storeSeconds,
                registerSeconds, pushed, decoded, savedDevices, complete ? "ok" : "LOST");
    std::fflush(stdout);
    return complete ? 0 : 3;
}

// Leaves server.db with the stored devices in the given directory, for a run of the program.
int seed(const SOptions &options)
{
    if (!QDir::setCurrent(options.seedDir)) {
        std::fprintf(stderr, "no directory %s\n", qPrintable(options.seedDir));
        return 1;
    }
    SGateway gateway;
    if (!startGateway(gateway))
        return 1;
    QSqlDatabase side = sideConnection();
    if (!side.isOpen())
        return 1;
    const quint16 port = options.port > 0 ? quint16(options.port) : freePort();
    if (!storeDevices(gateway, options, port, side))
        return 1;
    std::printf("seeded %d devices (%s case) on port %d in %s\n", options.stored,
                options.lower ? "lower" : "upper", int(port), qPrintable(options.seedDir));
    return 0;
}

struct SCaseResult
{
    bool ran = false;
    bool complete = false;
    double rate = 0.0;
    double registerSeconds = 0.0;
    QString line;
};

// Runs one configuration in a child process and reads its CASE line.
SCaseResult runChild(int stored, int receiving, bool lower)
{
    QStringList args{QStringLiteral("--stored"), QString::number(stored),
                     QStringLiteral("--receiving"), QString::number(receiving)};
    if (lower)
        args.append(QStringLiteral("--lower"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    SCaseResult result;
    if (!child.waitForFinished(ChildTimeoutMs)) {
        child.kill();
        child.waitForFinished();
        std::fprintf(stderr, "child %s did not finish\n", qPrintable(args.join(QLatin1Char(' '))));
        return result;
    }
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    static const QRegularExpression caseLine(
        QStringLiteral("^CASE .*rate=([0-9.]+) .*register_s=([0-9.]+) .* (ok|LOST)$"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = caseLine.match(output);
    if (!match.hasMatch()) {
        std::fprintf(stderr, "child %s gave no CASE line (exit %d)\n",
                     qPrintable(args.join(QLatin1Char(' '))), child.exitCode());
        return result;
    }
    result.ran = true;
    result.rate = match.captured(1).toDouble();
    result.registerSeconds = match.captured(2).toDouble();
    result.complete = match.captured(3) == QLatin1String("ok");
    result.line = match.captured(0);
    return result;
}

// The best of each configuration's child runs; runs alternate between the configurations.
struct SScale
{
    SCaseResult few;
    SCaseResult lowerMany;
    SCaseResult upperMany;
};

SScale runScaleCase()
{
    SScale scale;
    const auto keepBest = [](SCaseResult &best, const SCaseResult &run) {
        if (!run.ran)
            return;
        std::printf("  run: %s\n", qPrintable(run.line));
        std::fflush(stdout);
        const bool completeBefore = best.complete;
        if (!best.ran || (run.complete && (!completeBefore || run.rate > best.rate))) {
            const double fastest
                = best.ran ? qMin(best.registerSeconds, run.registerSeconds) : run.registerSeconds;
            best = run;
            best.registerSeconds = fastest;
        } else {
            best.registerSeconds = qMin(best.registerSeconds, run.registerSeconds);
        }
    };
    for (int run = 0; run < ScaleRuns; ++run) {
        keepBest(scale.few, runChild(ScaleReceiving, ScaleReceiving, false));
        keepBest(scale.lowerMany, runChild(ScaleStored, ScaleReceiving, true));
        keepBest(scale.upperMany, runChild(ScaleStored, ScaleReceiving, false));
    }
    return scale;
}

QString rateText(const SCaseResult &result)
{
    if (!result.ran)
        return QStringLiteral("not run");
    if (!result.complete)
        return QStringLiteral("uplinks lost (not all decoded and stored)");
    return QStringLiteral("%1 uplinks/s").arg(result.rate, 0, 'f', 0);
}

// The 1,000-device case in this process; `ratio` is told ingest against storage only.
bool runFirstCase(double &ratio)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return false;
    }
    std::printf("working directory:     %s (set TMPDIR to choose)\n", qPrintable(dir.path()));
    std::fflush(stdout);
    SGateway gateway;
    if (!startGateway(gateway))
        return false;
    CDataBaseHandler *storage = gateway.storage;
    CAllDeviceHandler *registry = gateway.registry;
    const STemplateRegMap &regMap = gateway.regMap;
    const quint16 port = freePort();

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
            return false;
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
        uplinks.append(makeUplink(random, devEuiOf(i % Devices), i, quint32(i / Devices)));
        const auto set = TemplateDecoder::decode(
            climate, uplinks.last(), startOf(i % Devices),
            [](quint32) { return DB::SRegisterParam(); }, [](const QString &) {});
        if (!set) {
            std::fprintf(stderr, "uplink %d not decodable\n", i);
            return false;
        }
        registers += set->regValues.size();
        dataSets.append(*set);
    }

    int failedSaves = 0;
    int decoded = 0;
    const SConnectionGuard counting{QObject::connect(registry, &CAllDeviceHandler::newDataForDevice,
                                                     [&decoded] { ++decoded; })};
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
        return false;
    }

    std::printf("devices registered:    %d in %.2f s\n", Devices, registerSeconds);
    std::printf("uplinks per round:     %d (%.1f registers each), best of %d rounds\n", Uplinks,
                double(registers) / Uplinks, Rounds);
    std::printf("ingest (decode+store): %.0f uplinks/s\n", ingestRate);
    std::printf("storage only (save):   %.0f uplinks/s\n", storageRate);
    std::fflush(stdout);

    ratio = ingestRate / storageRate;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const std::optional<SOptions> options = parseOptions(QCoreApplication::arguments());
    if (!options) {
        std::fprintf(stderr,
                     "usage: bench-ingest [--no-scale | --scale-only]\n"
                     "       bench-ingest --stored N --receiving M [--lower] [--seconds S]\n"
                     "       bench-ingest --seed DIR --stored N [--lower] [--port P]\n");
        return 2;
    }
    if (!options->seedDir.isEmpty())
        return seed(*options);
    if (options->stored > 0)
        return runCase(*options);

    double ratio = 0.0;
    if (options->firstCase && !runFirstCase(ratio))
        return 1;
    if (!options->scaleCase) {
        std::printf("RESULT bench-ingest ratio=%.3f\n", ratio);
        return 0;
    }

    std::printf("scale case: uplinks to %d devices (upper-case DevEUIs), each configuration in "
                "a child process, best of %d runs x %d rounds of >= %.1f s\n",
                ScaleReceiving, ScaleRuns, ScaleRounds, ScaleRoundSeconds);
    std::printf("working directories under %s (set TMPDIR to choose)\n",
                qPrintable(QDir::tempPath()));
    std::fflush(stdout);
    QDir::setCurrent(QDir::tempPath());
    const SScale scale = runScaleCase();
    std::printf("%d stored:                     %s\n", ScaleReceiving,
                qPrintable(rateText(scale.few)));
    std::printf("%d stored, lower case:       %s\n", ScaleStored,
                qPrintable(rateText(scale.lowerMany)));
    std::printf("%d stored, upper case:       %s\n", ScaleStored,
                qPrintable(rateText(scale.upperMany)));
    std::printf("devices registered:    %d in %.2f s (lower case), %.2f s (upper case), "
                "storage and registry\n",
                ScaleStored, scale.lowerMany.registerSeconds, scale.upperMany.registerSeconds);
    if (scale.few.complete && scale.upperMany.complete)
        std::printf("upper-case ratio:      %.3f (%d upper-case stored / %d stored)\n",
                    scale.upperMany.rate / scale.few.rate, ScaleStored, ScaleReceiving);
    const bool scaleMeasured = scale.few.complete && scale.lowerMany.complete;
    const double scaleRatio = scaleMeasured ? scale.lowerMany.rate / scale.few.rate : 0.0;
    if (!scaleMeasured)
        std::printf("scale_ratio: 0 as the lower-case configuration lost uplinks or did not run\n");
    if (options->firstCase)
        std::printf("RESULT bench-ingest ratio=%.3f scale_ratio=%.3f\n", ratio, scaleRatio);
    else
        std::printf("RESULT bench-ingest scale_ratio=%.3f\n", scaleRatio);
    return scaleMeasured && scale.upperMany.complete ? 0 : 1;
}
