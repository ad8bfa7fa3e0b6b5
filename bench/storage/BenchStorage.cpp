// Storage throughput: uplinks saved through the storage thread and register images read, each
// beside the same statements issued straight through one QSqlQuery loop.

#include "CDataBaseHandler.h"
#include "CLogFile.h"
#include "CSettings.h"
#include "StorageThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

constexpr int Devices = 1000;
constexpr int RegistersPerDevice = 14;
constexpr int Ports = 50;
constexpr int FirstPort = 5000;
constexpr int Uplinks = 2000;
constexpr int Reads = 20000;
constexpr int Rounds = 3;

QString devEuiOf(int device)
{
    return QStringLiteral("70B3D5E75E%1").arg(device, 6, 16, QLatin1Char('0')).toUpper();
}

int portOf(int device)
{
    return FirstPort + device % Ports;
}

int startOf(int device)
{
    return device / Ports * RegistersPerDevice;
}

// Operations per second of the best of several rounds.
double bestRate(int operations, const std::function<void()> &run)
{
    double best = 0.0;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        run();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        best = qMax(best, operations / seconds);
    }
    return best;
}

struct SRead
{
    quint32 port = 0;
    quint32 start = 0;
};

// The register image straight from one prepared query.
DB::RegisterImage directImage(QSqlQuery &query, const SRead &read, quint32 count)
{
    query.bindValue(QStringLiteral(":port"), qint64(read.port));
    query.bindValue(QStringLiteral(":first"), qint64(read.start));
    query.bindValue(QStringLiteral(":last"), qint64(read.start + count - 1));
    DB::RegisterImage image;
    if (!query.exec())
        return image;
    for (quint32 i = 0; i < count; ++i)
        image.insert(uint16_t(read.start + i), 0);
    while (query.next()) {
        const QByteArray bytes
            = QByteArray::fromHex(query.value(DB::DevDataCol::FullValue).toString().toLatin1());
        const uint16_t word
            = bytes.size() >= 2 ? uint16_t(uchar(bytes.at(0)) << 8 | uchar(bytes.at(1))) : 0;
        const auto it = image.find(uint16_t(query.value(DB::DevDataCol::RegAddr).toInt()));
        if (it != image.end())
            it.value() = word;
    }
    query.finish();
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
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

    QElapsedTimer setup;
    setup.start();
    for (int device = 0; device < Devices; ++device) {
        DB::SDeviceRegMapDescription d;
        d.devEui = devEuiOf(device);
        d.appEui = QStringLiteral("APP");
        d.name = QStringLiteral("device %1").arg(device);
        d.startAddr = startOf(device);
        d.port = portOf(device);
        for (int r = 0; r < RegistersPerDevice; ++r) {
            DB::SRegisterDescription reg;
            reg.name = QStringLiteral("r%1").arg(r);
            reg.regOffset = quint32(r);
            reg.bitSize = 16;
            reg.dataType = QStringLiteral("uinteger");
            d.registers.append(reg);
        }
        if (!storage->registerNewDevice(d, ProtocolModbus)) {
            std::fprintf(stderr, "registration failed\n");
            return 1;
        }
    }
    const double registerSeconds = double(setup.nsecsElapsed()) / 1e9;

    QRandomGenerator random(20240611);
    QList<DB::SDbDeviceRegDataSet> uplinks;
    for (int i = 0; i < Uplinks; ++i) {
        const int device = int(random.bounded(Devices));
        DB::SDbDeviceRegDataSet set;
        set.devEui = devEuiOf(device);
        set.startAddr = startOf(device);
        for (int r = 0; r < RegistersPerDevice; ++r) {
            const QString word
                = QStringLiteral("%1").arg(random.bounded(0x10000), 4, 16, QLatin1Char('0'));
            set.regValues.append({word, word, quint32(r)});
        }
        uplinks.append(set);
    }
    const auto readsOf = [&random](quint32 count) {
        QList<SRead> reads;
        const quint32 span = quint32(Devices / Ports * RegistersPerDevice);
        for (int i = 0; i < Reads; ++i)
            reads.append({quint32(FirstPort + int(random.bounded(Ports))),
                          random.bounded(span - count + 1)});
        return reads;
    };
    const QList<SRead> reads10 = readsOf(10);
    const QList<SRead> reads125 = readsOf(125);

    // The direct path: its own connection to the same file, statements prepared once.
    QSqlDatabase direct
        = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("direct"));
    direct.setDatabaseName(QStringLiteral("server.db"));
    if (!direct.open()) {
        std::fprintf(stderr, "direct open failed: %s\n", qPrintable(direct.lastError().text()));
        return 1;
    }
    QSqlQuery selectId(direct);
    selectId.prepare(QStringLiteral("SELECT device FROM devices WHERE dev_eui=:dev_eui;"));
    QSqlQuery update(direct);
    update.prepare(QStringLiteral("UPDATE dev_data SET value=:value, full_value=:full_value, "
                                  "time=:time WHERE device=:device AND reg_addr=:reg_addr;"));
    QSqlQuery select(direct);
    select.setForwardOnly(true);
    select.prepare(QStringLiteral("SELECT * FROM dev_data WHERE port=:port AND reg_addr BETWEEN "
                                  ":first AND :last;"));

    const double saveOurs = bestRate(Uplinks, [&] {
        for (const DB::SDbDeviceRegDataSet &set : uplinks)
            QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                      Q_ARG(DB::SDbDeviceRegDataSet, set));
    });
    const double saveDirect = bestRate(Uplinks, [&] {
        for (const DB::SDbDeviceRegDataSet &set : uplinks) {
            direct.transaction();
            selectId.bindValue(QStringLiteral(":dev_eui"), set.devEui);
            selectId.exec();
            const quint32 id = selectId.next() ? selectId.value(0).toUInt() : 0;
            selectId.finish();
            for (const DB::SDbRegValue &reg : set.regValues) {
                update.bindValue(QStringLiteral(":value"), reg.value);
                update.bindValue(QStringLiteral(":full_value"), reg.fullValue);
                update.bindValue(QStringLiteral(":time"), QDateTime::currentMSecsSinceEpoch());
                update.bindValue(QStringLiteral(":device"), id);
                update.bindValue(QStringLiteral(":reg_addr"),
                                 int(set.startAddr + int(reg.regOffset)));
                update.exec();
            }
            direct.commit();
        }
    });

    quint64 sink = 0;
    const auto readOurs = [&](const QList<SRead> &reads, quint32 count) {
        return bestRate(Reads, [&] {
            for (const SRead &read : reads)
                sink += storage->getRegisterData(read.port, read.start, count).size();
        });
    };
    const auto readDirect = [&](const QList<SRead> &reads, quint32 count) {
        return bestRate(Reads, [&] {
            for (const SRead &read : reads)
                sink += directImage(select, read, count).size();
        });
    };
    const double read10Ours = readOurs(reads10, 10);
    const double read10Direct = readDirect(reads10, 10);
    const double read125Ours = readOurs(reads125, 125);
    const double read125Direct = readDirect(reads125, 125);

    const double saveRatio = saveOurs / saveDirect;
    const double readRatio = qMin(read10Ours / read10Direct, read125Ours / read125Direct);
    std::printf("bench-storage: %d devices x %d registers on %d ports (registered in %.2f s)\n",
                Devices, RegistersPerDevice, Ports, registerSeconds);
    std::printf("%-34s %14s %14s %7s\n", "measure", "storage /s", "direct /s", "ratio");
    std::printf("%-34s %14.0f %14.0f %7.2f\n", "(a) uplinks saved (14 registers)", saveOurs,
                saveDirect, saveRatio);
    std::printf("%-34s %14.0f %14.0f %7.2f\n", "(b) reads of 10 registers", read10Ours,
                read10Direct, read10Ours / read10Direct);
    std::printf("%-34s %14.0f %14.0f %7.2f\n", "(b) reads of 125 registers", read125Ours,
                read125Direct, read125Ours / read125Direct);
    std::printf("(read_ratio is the lower of the two read ratios; %llu words read)\n",
                static_cast<unsigned long long>(sink));
    std::printf("RESULT bench-storage save_ratio=%.2f read_ratio=%.2f\n", saveRatio, readRatio);

    storageThread->quit();
    storageThread->wait();
    delete storageThread;
    return 0;
}
