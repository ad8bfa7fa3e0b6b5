// Modbus-TCP throughput: the gateway's per-port server answering from its database, beside a
// reference server made with libmodbus (one thread, a select loop over every connection), both
// driven by the same libmodbus client load; then a second client's latency while one client
// floods, and the whole built gateway serving one device to 1 and to 8 clients.
//
//   bench-modbus            everything
//   bench-modbus --only on|off REGS CLIENTS SECONDS
//                           one in-process case, again and again for that long (for a profiler)
//   bench-modbus --seed P   (internal) stores the gateway case's device in ./server.db on port P

#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "CLogFile.h"
#include "CSettings.h"
#include "SharedConstants.h"
#include "StorageThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <modbus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Registers = 1000;
constexpr int RequestsPerCase = 8000;
constexpr int WarmUpRequests = 500;
// The whole gateway: one device of this many registers, read whole.
constexpr int GatewayRegisters = 16;
constexpr int GatewayRequests = 20000;
constexpr qsizetype FloodBytes = 5 * 1024 * 1024;
constexpr int PipelinedRequests = 40000;
const char *const Host = "127.0.0.1";

quint16 registerValue(int address)
{
    return quint16(address * 7 + 1);
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// CPU time of the calling thread, in microseconds.
double threadCpuUs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Runs the job on a thread of its own while this thread's event loop keeps serving.
void runAside(const std::function<void()> &job)
{
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create(job));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
}

// The libmodbus reference: holding registers in a mapping, one select loop for all clients.
class ReferenceServer
{
public:
    explicit ReferenceServer(quint16 port)
        : ctx(modbus_new_tcp(Host, port)), mapping(modbus_mapping_new(0, 0, Registers, Registers))
    {
        for (int a = 0; a < Registers; ++a) {
            mapping->tab_registers[a] = registerValue(a);
            mapping->tab_input_registers[a] = registerValue(a);
        }
        listenSocket = modbus_tcp_listen(ctx, 64);
        if (listenSocket >= 0)
            worker = std::thread([this] { serve(); });
    }

    ~ReferenceServer()
    {
        stop = true;
        if (worker.joinable())
            worker.join();
        for (int fd : clients)
            ::close(fd);
        if (listenSocket >= 0)
            ::close(listenSocket);
        modbus_mapping_free(mapping);
        modbus_free(ctx);
    }

    bool isListening() const { return listenSocket >= 0; }

    // CPU time its thread has used so far, in microseconds.
    double cpuUs() const
    {
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(threadId.load()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0.0;
        return stat.readAll().split(' ').value(0).toDouble() / 1000.0;
    }

private:
    void serve()
    {
        threadId = int(gettid());
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        while (!stop) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(listenSocket, &readable);
            int highest = listenSocket;
            for (int fd : clients) {
                FD_SET(fd, &readable);
                highest = std::max(highest, fd);
            }
            timeval timeout{0, 50000};
            if (select(highest + 1, &readable, nullptr, nullptr, &timeout) <= 0)
                continue;
            if (FD_ISSET(listenSocket, &readable)) {
                int fd = listenSocket;
                // modbus_tcp_accept takes the listening socket and gives back the client's.
                if (modbus_tcp_accept(ctx, &fd) >= 0)
                    clients.push_back(modbus_get_socket(ctx));
            }
            for (auto it = clients.begin(); it != clients.end();) {
                if (!FD_ISSET(*it, &readable)) {
                    ++it;
                    continue;
                }
                modbus_set_socket(ctx, *it);
                const int length = modbus_receive(ctx, query);
                if (length > 0) {
                    modbus_reply(ctx, query, length, mapping);
                    ++it;
                } else if (length == -1) {
                    ::close(*it);
                    it = clients.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }

    modbus_t *ctx = nullptr;
    modbus_mapping_t *mapping = nullptr;
    int listenSocket = -1;
    std::vector<int> clients;
    std::atomic<bool> stop{false};
    std::atomic<int> threadId{0};
    std::thread worker;
};

struct SResult
{
    double requestsPerSecond = 0.0;
    double meanLatencyUs = 0.0;
    // CPU time the calling thread (the one serving in-process) spent per request.
    double serverCpuUs = 0.0;
    int failures = 0;
};

// `clients` libmodbus clients, each reading `count` registers `requests / clients` times;
// `valueOf` gives the expected value of an address (none checked when empty).
SResult drive(quint16 port, int count, int clients, int requests, int addresses,
              const std::function<quint16(int)> &valueOf,
              const std::function<double()> &serverCpuUs = threadCpuUs)
{
    SResult result;
    std::atomic<long long> latencyNs{0};
    std::atomic<int> failures{0};
    Clock::duration wall{};
    const double cpuBefore = serverCpuUs();
    runAside([&] {
        std::vector<modbus_t *> contexts;
        for (int c = 0; c < clients; ++c) {
            modbus_t *ctx = modbus_new_tcp(Host, port);
            modbus_set_response_timeout(ctx, 10, 0);
            if (modbus_connect(ctx) != 0)
                ++failures;
            contexts.push_back(ctx);
        }
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                std::vector<uint16_t> values(static_cast<size_t>(count));
                long long own = 0;
                for (int i = 0; i < requests / clients; ++i) {
                    const int address = (i * 37 + c * 101) % (addresses - count + 1);
                    const auto sent = Clock::now();
                    const int rc
                        = modbus_read_registers(contexts[size_t(c)], address, count, values.data());
                    own += (Clock::now() - sent).count();
                    if (rc != count
                        || (valueOf
                            && (values[0] != valueOf(address)
                                || values[size_t(count - 1)] != valueOf(address + count - 1))))
                        ++failures;
                }
                latencyNs += own;
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        wall = Clock::now() - start;
        for (modbus_t *ctx : contexts) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    });
    const int done = requests / clients * clients;
    result.requestsPerSecond = done / std::chrono::duration<double>(wall).count();
    result.meanLatencyUs = double(latencyNs) / done / 1000.0;
    result.serverCpuUs = (serverCpuUs() - cpuBefore) / done;
    result.failures = failures;
    return result;
}

int connectRaw(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

struct SFloodResult
{
    int reads = 0;
    int failures = 0;
    double worstMs = 0.0;
    double meanMs = 0.0;
    double seconds = 0.0;
    long residentGrowthKb = 0;
};

// While `flood` runs on a thread of its own, a second client reads 10 registers again and
// again; its latencies are what the flood costs the others.
SFloodResult underFlood(quint16 port, const std::function<void()> &flood)
{
    SFloodResult result;
    const long residentBefore = residentKb();
    long residentPeak = residentBefore;
    std::atomic<bool> flooding{true};
    const auto start = Clock::now();
    runAside([&] {
        std::thread flooder([&] {
            flood();
            flooding = false;
        });
        modbus_t *ctx = modbus_new_tcp(Host, port);
        modbus_set_response_timeout(ctx, 30, 0);
        if (modbus_connect(ctx) != 0)
            ++result.failures;
        std::vector<uint16_t> values(10);
        double totalMs = 0.0;
        while (flooding) {
            const auto sent = Clock::now();
            if (modbus_read_registers(ctx, 0, 10, values.data()) != 10)
                ++result.failures;
            const double ms
                = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
            result.worstMs = std::max(result.worstMs, ms);
            totalMs += ms;
            ++result.reads;
            residentPeak = std::max(residentPeak, residentKb());
        }
        result.meanMs = result.reads > 0 ? totalMs / result.reads : 0.0;
        flooder.join();
        modbus_close(ctx);
        modbus_free(ctx);
    });
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.residentGrowthKb = residentPeak - residentBefore;
    return result;
}

// 6-byte frames with MBAP length 0: each is dropped with its own log line.
void floodEmptyFrames(quint16 port)
{
    const int fd = connectRaw(port);
    if (fd < 0)
        return;
    const std::vector<char> chunk(64 * 1024, 0);
    for (qsizetype sent = 0; sent < FloodBytes; sent += qsizetype(chunk.size())) {
        if (!sendAll(fd, chunk.data(), chunk.size()))
            break;
    }
    ::close(fd);
}

// Read requests sent without waiting for answers, which a second thread reads and drops.
void floodPipelined(quint16 port)
{
    const int fd = connectRaw(port);
    if (fd < 0)
        return;
    std::thread drain([fd] {
        std::vector<char> sink(64 * 1024);
        const size_t expected = size_t(PipelinedRequests) * (9 + 2 * 10);
        size_t received = 0;
        while (received < expected) {
            const ssize_t n = ::recv(fd, sink.data(), sink.size(), 0);
            if (n <= 0)
                break;
            received += size_t(n);
        }
    });
    std::vector<char> batch;
    for (int i = 0; i < 100; ++i) {
        const unsigned char request[]
            = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x0a};
        batch.insert(batch.end(), std::begin(request), std::end(request));
    }
    for (int sent = 0; sent < PipelinedRequests; sent += 100) {
        if (!sendAll(fd, batch.data(), batch.size()))
            break;
    }
    drain.join();
    ::close(fd);
}

// Debug traces of every request would measure the terminal; they are dropped here.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

DB::SDeviceRegMapDescription benchDevice(const QString &devEui, quint16 port, int registers,
                                         DB::SDbDeviceRegDataSet &values)
{
    DB::SDeviceRegMapDescription device;
    device.devEui = devEui;
    device.appEui = QStringLiteral("BENCH");
    device.name = QStringLiteral("bench");
    device.startAddr = 0;
    device.port = port;
    values.devEui = device.devEui;
    values.startAddr = 0;
    for (int a = 0; a < registers; ++a) {
        DB::SRegisterDescription reg;
        reg.name = QStringLiteral("reg%1").arg(a);
        reg.source = DB::SourceDevice;
        reg.regOffset = quint32(a);
        reg.bitSize = 16;
        reg.dataType = DataType::UInteger;
        device.registers.append(reg);
        const QString text = QStringLiteral("%1").arg(registerValue(a), 4, 16, QLatin1Char('0'));
        values.regValues.append({text, text, quint32(a)});
    }
    return device;
}

// Registers the device and saves its values; false on failure.
bool storeDevice(CDataBaseHandler *storage, const DB::SDeviceRegMapDescription &device,
                 const DB::SDbDeviceRegDataSet &values)
{
    return storage->registerNewDevice(device, ProtocolModbus)
           && QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                        Q_ARG(DB::SDbDeviceRegDataSet, values));
}

// The gateway case's database, made by this program run in the gateway's working directory.
int seed(quint16 port)
{
    CSettings::getInstance(SettingsKey::FileName);
    CLogFile::getInstance(QStringLiteral("seed"), QString());
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage)
        return 1;
    QThread *storageThread = startStorageThread(storage);
    DB::SDbDeviceRegDataSet values;
    const bool stored = storeDevice(
        storage, benchDevice(QStringLiteral("70B3D5E75E000016"), port, GatewayRegisters, values),
        values);
    storageThread->quit();
    storageThread->wait();
    return stored ? 0 : 1;
}

bool waitForListening(quint16 port, QProcess &process)
{
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline && process.state() != QProcess::NotRunning) {
        const int fd = connectRaw(port);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

struct SGatewayResult
{
    bool ran = false;
    SResult one;
    SResult eight;
};

// The built gateway in a working directory of its own, offscreen, with one stored device.
SGatewayResult runGateway(const QString &workDir)
{
    SGatewayResult result;
    QDir().mkpath(workDir);
    const quint16 port = freePort();
    QProcess seeding;
    seeding.setWorkingDirectory(workDir);
    seeding.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--seed"), QString::number(port)});
    if (!seeding.waitForFinished(60000) || seeding.exitCode() != 0) {
        std::fprintf(stderr, "gateway case: the database was not seeded\n");
        return result;
    }
    QProcess gateway;
    gateway.setWorkingDirectory(workDir);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gateway.setProcessEnvironment(environment);
    gateway.setStandardOutputFile(QProcess::nullDevice());
    gateway.setStandardErrorFile(QProcess::nullDevice());
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    if (!gateway.waitForStarted(30000) || !waitForListening(port, gateway)) {
        std::fprintf(stderr, "gateway case: %s does not serve port %u\n", GATEWAY_EXECUTABLE,
                     unsigned(port));
        return result;
    }
    drive(port, GatewayRegisters, 1, WarmUpRequests, GatewayRegisters, registerValue);
    result.one = drive(port, GatewayRegisters, 1, GatewayRequests, GatewayRegisters, registerValue);
    result.eight
        = drive(port, GatewayRegisters, 8, GatewayRequests, GatewayRegisters, registerValue);
    result.ran = true;
    gateway.kill();
    gateway.waitForFinished(10000);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--seed"))
        return seed(quint16(args.at(2).toUInt()));

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    CSettings::getInstance(SettingsKey::FileName);
    CLogFile::getInstance(QStringLiteral("history"), QStringLiteral("bench-modbus"));
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");

    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage) {
        std::fprintf(stderr, "storage not started: %s\n",
                     qPrintable(CDataBaseHandler::lastErrorText()));
        return 1;
    }
    QThread *storageThread = startStorageThread(storage);

    const quint16 ourPort = freePort();
    const quint16 referencePort = freePort();
    // One device holding the 1,000 registers of the port, all saved once.
    DB::SDbDeviceRegDataSet values;
    const DB::SDeviceRegMapDescription device
        = benchDevice(QStringLiteral("70B3D5E75E000001"), ourPort, Registers, values);
    if (!storeDevice(storage, device, values)) {
        std::fprintf(stderr, "registration failed\n");
        return 1;
    }

    CDeviceHandler ours(ourPort, ProtocolModbus, device.devEui);
    ours.appendDevice(device.devEui);
    ReferenceServer reference(referencePort);
    if (!ours.isListening() || !reference.isListening()) {
        std::fprintf(stderr, "servers not listening\n");
        return 1;
    }

    if (args.size() == 6 && args.at(1) == QLatin1String("--only")) {
        CSettings::writeValue(SettingsKey::UseLog, args.at(2) == QLatin1String("on"));
        const int count = args.at(3).toInt();
        const int clients = args.at(4).toInt();
        const auto end = Clock::now() + std::chrono::seconds(args.at(5).toInt());
        while (Clock::now() < end) {
            const SResult mine
                = drive(ourPort, count, clients, RequestsPerCase, Registers, registerValue);
            std::printf("%12.0f req/s %10.1f us %10.1f cpu us/req\n", mine.requestsPerSecond,
                        mine.meanLatencyUs, mine.serverCpuUs);
        }
        storageThread->quit();
        storageThread->wait();
        return 0;
    }

    std::printf("bench-modbus: %d registers on one port, %d requests per case (function 3)\n",
                Registers, RequestsPerCase);
    std::printf("(us: mean latency seen by a client; cpu: server thread's CPU time per request)\n");
    std::printf("%-4s %5s %8s %11s %11s %8s %8s %9s %9s %6s\n", "log", "regs", "clients",
                "ours req/s", "ref req/s", "ours us", "ref us", "ours cpu", "ref cpu", "ratio");
    double smallest[2] = {1e9, 1e9};
    int failures = 0;
    for (const bool useLog : {true, false}) {
        CSettings::writeValue(SettingsKey::UseLog, useLog);
        drive(ourPort, 10, 1, WarmUpRequests, Registers, registerValue);
        drive(referencePort, 10, 1, WarmUpRequests, Registers, registerValue);
        for (const int count : {10, 125}) {
            for (const int clients : {1, 8}) {
                const SResult mine
                    = drive(ourPort, count, clients, RequestsPerCase, Registers, registerValue);
                const SResult ref
                    = drive(referencePort, count, clients, RequestsPerCase, Registers,
                            registerValue, [&reference] { return reference.cpuUs(); });
                failures += mine.failures + ref.failures;
                const double ratio = mine.requestsPerSecond / ref.requestsPerSecond;
                smallest[useLog ? 0 : 1] = std::min(smallest[useLog ? 0 : 1], ratio);
                std::printf("%-4s %5d %8d %11.0f %11.0f %8.1f %8.1f %9.1f %9.1f %6.2f\n",
                            useLog ? "on" : "off", count, clients, mine.requestsPerSecond,
                            ref.requestsPerSecond, mine.meanLatencyUs, ref.meanLatencyUs,
                            mine.serverCpuUs, ref.serverCpuUs, ratio);
                std::fflush(stdout);
            }
        }
    }

    // Floods, with the log on as it ships.
    CSettings::writeValue(SettingsKey::UseLog, true);
    std::printf("\nflood (log on): a second client reads 10 registers while one client floods\n");
    std::printf("%-34s %8s %10s %10s %8s %10s\n", "flood", "reads", "worst ms", "mean ms",
                "seconds", "RSS +MiB");
    double worstFloodMs = 0.0;
    const auto reportFlood = [&](const char *name, const SFloodResult &flood) {
        failures += flood.failures;
        worstFloodMs = std::max(worstFloodMs, flood.worstMs);
        std::printf("%-34s %8d %10.1f %10.2f %8.2f %10.1f\n", name, flood.reads, flood.worstMs,
                    flood.meanMs, flood.seconds, double(flood.residentGrowthKb) / 1024.0);
        std::fflush(stdout);
    };
    reportFlood("5 MiB of length-0 frames",
                underFlood(ourPort, [ourPort] { floodEmptyFrames(ourPort); }));
    reportFlood("40000 pipelined reads of 10",
                underFlood(ourPort, [ourPort] { floodPipelined(ourPort); }));

    // The whole gateway, as a user runs it.
    const SGatewayResult gateway = runGateway(dir.filePath(QStringLiteral("gateway")));
    double scaling = 0.0;
    if (gateway.ran) {
        failures += gateway.one.failures + gateway.eight.failures;
        scaling = gateway.eight.requestsPerSecond / gateway.one.requestsPerSecond;
        std::printf("\nwhole gateway (log on, offscreen): one device of %d registers, read whole\n",
                    GatewayRegisters);
        std::printf("%8s %12s %10s\n", "clients", "req/s", "mean us");
        std::printf("%8d %12.0f %10.1f\n", 1, gateway.one.requestsPerSecond,
                    gateway.one.meanLatencyUs);
        std::printf("%8d %12.0f %10.1f\n", 8, gateway.eight.requestsPerSecond,
                    gateway.eight.meanLatencyUs);
    } else {
        ++failures;
    }

    if (failures > 0)
        std::printf("FAILED requests: %d\n", failures);
    std::printf("RESULT bench-modbus ratio_log_on=%.2f ratio_log_off=%.2f gateway_1=%.0f "
                "gateway_8=%.0f gateway_scaling=%.2f flood_worst_ms=%.1f\n",
                smallest[0], smallest[1], gateway.one.requestsPerSecond,
                gateway.eight.requestsPerSecond, scaling, worstFloodMs);
    storageThread->quit();
    storageThread->wait();
    return failures > 0 ? 1 : 0;
}
