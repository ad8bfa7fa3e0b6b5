// Modbus-TCP throughput: the gateway's per-port server answering from its database, beside a
// reference server made with libmodbus (one thread, a select loop over every connection), both
// driven by the same libmodbus client load; then a second client's latency while one client
// floods, the whole built gateway serving one device to 1 and to 8 clients, and the whole gateway
// under many connections that pipeline requests and never read the answers.
//
// Throughput: each case runs Rounds rounds of RequestsPerRound requests, ours then the
// reference, and the passes go over all cases in turn, so that a slow spell of the machine falls
// on both servers and on a few rounds of every case. A case's ratio is the median of its rounds'
// ratios (q1-q3: their quartiles); the RESULT's ratio_log_on and ratio_log_off are the smallest
// of those medians. Server and client threads are pinned to CPUs of their own meanwhile.
//
// Non-reading connections: the built gateway is started afresh (offscreen, one stored device); one
// honest libmodbus client connects and reads 10 registers again and again, then N connections
// (sockets as across a network: 1448-byte segments, 8 KiB buffers; the open-file limit is raised
// for this process and the gateway) each pipeline reads of 125 registers (function 3) and never
// read an answer, for NonReadingSeconds or until the gateway has closed them all; then they all
// close. The row gives the gateway's VmRSS in MiB (/proc/<pid>/status) before, at the end of the
// push, its growth per second over the push's second half, two seconds after the close, and its
// peak (VmHWM), with the honest client's worst and median read during the push. Figures only:
// nothing there fails the run. RESULT keys (also printed by --only nonreading) for 1000
// connections: nonreading_rss_mb (peak less before), nonreading_after_close_mb (after the close
// less before), nonreading_worst_ms, nonreading_median_ms and nonreading_late_rise_mb_s; the same
// as nonreading_2000_* for 2000. Unbounded buffering shows as a late rise well above 0: the
// gateway has not reached its peak within the push, which a longer one (--only nonreading 1000
// 120) shows.
//
//   bench-modbus            everything
//   bench-modbus --only on|off REGS CLIENTS SECONDS
//                           one in-process case, again and again for that long (for a profiler)
//   bench-modbus --only nonreading N [SECONDS]
//                           only the non-reading row, for N connections pushing SECONDS at most
//                           (default NonReadingSeconds)
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
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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
constexpr int Rounds = 25;
constexpr int RequestsPerRound = 3000;
constexpr int WarmUpRequests = 500;
// The whole gateway: one device of this many registers, read whole.
constexpr int GatewayRegisters = 16;
constexpr int GatewayRequests = 20000;
constexpr qsizetype FloodBytes = 5 * 1024 * 1024;
constexpr int PipelinedRequests = 40000;
// Non-reading connections: the rows run, how long they push at most, and the request they repeat.
constexpr int NonReadingCounts[] = {1000, 2000};
constexpr int NonReadingSeconds = 20;
constexpr int NonReadingQuantity = 125;
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

// A field of /proc/<pid>/status in kB ("VmRSS", "VmHWM"); pid 0 is this process.
long statusKb(qint64 pid = 0, const QByteArray &field = QByteArrayLiteral("VmRSS"))
{
    QFile status(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid)
                         : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = field + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

double mib(long kb)
{
    return double(kb) / 1024.0;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// The CPUs this process may use, and whether drive()'s clients are pinned to them.
std::vector<int> benchCpus;
std::atomic<bool> clientsPinned{false};

void pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Server threads run on the second CPU of this process; client `c` on the ones after it (with
// fewer than three CPUs nothing is pinned).
void pinServer()
{
    if (benchCpus.size() >= 3)
        pinTo(benchCpus[1]);
}

void pinClient(int c)
{
    if (clientsPinned && benchCpus.size() >= 3)
        pinTo(benchCpus[2 + size_t(c) % (benchCpus.size() - 2)]);
}

// While one exists, the calling thread serves on the server CPU and drive()'s clients run on
// CPUs of their own: no thread wanders between cores from round to round, which makes the
// one-client rounds (a ping-pong of wake-ups) far steadier.
class PinnedThreads
{
public:
    PinnedThreads()
    {
        pthread_getaffinity_np(pthread_self(), sizeof before, &before);
        pinServer();
        clientsPinned = true;
    }
    ~PinnedThreads()
    {
        clientsPinned = false;
        pthread_setaffinity_np(pthread_self(), sizeof before, &before);
    }
    PinnedThreads(const PinnedThreads &) = delete;
    PinnedThreads &operator=(const PinnedThreads &) = delete;

private:
    cpu_set_t before{};
};

void findCpus()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set))
            benchCpus.push_back(cpu);
    }
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
        pinServer();
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
                pinClient(c);
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

// A blocking client socket; `prepare` sets its options before it connects.
int connectRaw(quint16 port, const std::function<void(int)> &prepare = {})
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && prepare)
        prepare(fd);
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
    const long residentBefore = statusKb();
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
            residentPeak = std::max(residentPeak, statusKb());
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

// The built gateway in a working directory of its own, offscreen, with one stored device of
// GatewayRegisters registers; killed with this object.
class GatewayProcess
{
public:
    explicit GatewayProcess(const QString &workDir) : servedPort(freePort())
    {
        QDir().mkpath(workDir);
        QProcess seeding;
        seeding.setWorkingDirectory(workDir);
        seeding.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--seed"), QString::number(servedPort)});
        if (!seeding.waitForFinished(60000) || seeding.exitCode() != 0) {
            std::fprintf(stderr, "gateway case: the database was not seeded\n");
            return;
        }
        process.setWorkingDirectory(workDir);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
        serving = process.waitForStarted(30000) && waitForListening(servedPort, process);
        if (!serving)
            std::fprintf(stderr, "gateway case: %s does not serve port %u\n", GATEWAY_EXECUTABLE,
                         unsigned(servedPort));
    }

    ~GatewayProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    bool isServing() const { return serving; }
    quint16 port() const { return servedPort; }
    qint64 pid() const { return process.processId(); }

private:
    QProcess process;
    quint16 servedPort = 0;
    bool serving = false;
};

struct SGatewayResult
{
    bool ran = false;
    SResult one;
    SResult eight;
};

SGatewayResult runGateway(const QString &workDir)
{
    SGatewayResult result;
    const GatewayProcess gateway(workDir);
    if (!gateway.isServing())
        return result;
    const quint16 port = gateway.port();
    drive(port, GatewayRegisters, 1, WarmUpRequests, GatewayRegisters, registerValue);
    result.one = drive(port, GatewayRegisters, 1, GatewayRequests, GatewayRegisters, registerValue);
    result.eight
        = drive(port, GatewayRegisters, 8, GatewayRequests, GatewayRegisters, registerValue);
    result.ran = true;
    return result;
}

struct SNonReadingResult
{
    bool ran = false;
    int wanted = 0;
    int connected = 0;
    // Connections the gateway closed (or reset) while they pushed.
    int closedByGateway = 0;
    double sentMib = 0.0;
    double pushSeconds = 0.0;
    long beforeKb = 0;
    long peakKb = 0;
    long endKb = 0;
    long afterCloseKb = 0;
    // How fast the resident size grew over the second half of the push.
    double lateRiseMibPerS = 0.0;
    int reads = 0;
    // The honest client's read failed (it stops there; the failed read counts as its latency).
    bool honestFailed = false;
    double worstMs = 0.0;
    double medianMs = 0.0;
};

// Read requests of NonReadingQuantity registers from address 0, one after the other, in a buffer
// to send again and again.
std::vector<char> pipelinedRequests()
{
    std::vector<char> batch;
    for (int i = 0; i < 1024; ++i) {
        // Transaction i, protocol 0, length 6, unit 1, function 3, address 0, quantity.
        const char request[]
            = {char(i >> 8), char(i), 0, 0, 0, 6, 1, 3, 0, 0, 0, char(NonReadingQuantity)};
        batch.insert(batch.end(), std::begin(request), std::end(request));
    }
    return batch;
}

// Sends on every connection whatever it takes, never reading; a connection the gateway closes
// is left out from then on. Runs until `stop`.
void pushWithoutReading(const std::vector<int> &fds, const std::atomic<bool> &stop,
                        std::atomic<long long> &sentBytes, std::atomic<int> &closedByPeer)
{
    const std::vector<char> batch = pipelinedRequests();
    std::vector<pollfd> polls;
    for (int fd : fds)
        polls.push_back({fd, POLLOUT, 0});
    std::vector<size_t> offset(fds.size(), 0);
    while (!stop) {
        if (::poll(polls.data(), polls.size(), 100) <= 0)
            continue;
        for (size_t i = 0; i < polls.size(); ++i) {
            pollfd &entry = polls[i];
            if (entry.fd < 0 || entry.revents == 0)
                continue;
            bool lost = (entry.revents & (POLLERR | POLLHUP)) != 0;
            if (!lost) {
                const ssize_t sent = ::send(entry.fd, batch.data() + offset[i],
                                            batch.size() - offset[i], MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent > 0) {
                    offset[i] = (offset[i] + size_t(sent)) % batch.size();
                    sentBytes += sent;
                } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    lost = true;
                }
            }
            if (lost) {
                ++closedByPeer;
                entry.fd = -1; // poll skips it; closed with the others at the end
            }
        }
    }
}

// Segments of Ethernet size and small buffers, as for a client across a network: answers it does
// not read back up in the gateway rather than in the system (loopback's 64 KiB segments let the
// system hold over a megabyte per connection, which would hide the gateway's own buffering and
// strain the machine's socket memory).
void prepareNonReading(int fd)
{
    const int segment = 1448;
    const int bufferBytes = 8 * 1024;
    const timeval connectTimeout{5, 0};
    setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &connectTimeout, sizeof connectTimeout);
}

// N connections to a fresh gateway that pipeline valid reads and never read the answers, while
// one honest client, connected before them, reads 10 registers again and again.
SNonReadingResult runNonReading(const QString &workDir, int connections, int seconds)
{
    SNonReadingResult result;
    result.wanted = connections;
    GatewayProcess gateway(workDir);
    if (!gateway.isServing())
        return result;
    const quint16 port = gateway.port();
    const qint64 pid = gateway.pid();
    QThread::msleep(500);
    result.beforeKb = statusKb(pid);

    // Connected first: its socket number stays below FD_SETSIZE (libmodbus waits with select).
    modbus_t *honest = modbus_new_tcp(Host, port);
    modbus_set_response_timeout(honest, 10, 0);
    if (modbus_connect(honest) != 0 || modbus_get_socket(honest) >= FD_SETSIZE) {
        std::fprintf(stderr, "non-reading case: the honest client did not connect\n");
        modbus_free(honest);
        return result;
    }
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i) {
        // The gateway accepts slower than this connects: in small groups its listening queue
        // (50) does not overflow, which would cost a second per dropped connection request.
        if (i % 20 == 19)
            QThread::msleep(5);
        const int fd = connectRaw(port, prepareNonReading);
        if (fd < 0)
            continue;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fds.push_back(fd);
    }
    result.connected = int(fds.size());

    std::atomic<bool> stop{false};
    std::atomic<long long> sentBytes{0};
    std::atomic<int> closedByPeer{0};
    std::vector<double> latencies;
    std::thread honestReader([&] {
        std::vector<uint16_t> values(10);
        while (!stop) {
            const auto sent = Clock::now();
            const int rc = modbus_read_registers(honest, 0, 10, values.data());
            latencies.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            if (rc != 10) {
                result.honestFailed = true;
                break;
            }
        }
    });
    std::thread pusher([&] { pushWithoutReading(fds, stop, sentBytes, closedByPeer); });

    // Until the time is up or the gateway has closed every connection; the resident size half way
    // tells whether it still grows at the end.
    const auto start = Clock::now();
    const auto halfWay = start + std::chrono::milliseconds(seconds * 500);
    auto halfWayAt = Clock::time_point();
    long halfWayKb = 0;
    long sampledPeakKb = 0;
    while (Clock::now() - start < std::chrono::seconds(seconds)
           && closedByPeer < result.connected) {
        QThread::msleep(100);
        sampledPeakKb = std::max(sampledPeakKb, statusKb(pid));
        if (halfWayKb == 0 && Clock::now() >= halfWay) {
            halfWayAt = Clock::now();
            halfWayKb = statusKb(pid);
        }
    }
    const auto end = Clock::now();
    result.pushSeconds = std::chrono::duration<double>(end - start).count();
    result.endKb = statusKb(pid);
    if (halfWayKb > 0 && end > halfWayAt)
        result.lateRiseMibPerS = mib(result.endKb - halfWayKb)
                                 / std::chrono::duration<double>(end - halfWayAt).count();
    stop = true;
    pusher.join();
    honestReader.join();
    result.sentMib = double(sentBytes) / (1024.0 * 1024.0);
    result.closedByGateway = closedByPeer;
    for (int fd : fds)
        ::close(fd);
    QThread::msleep(2000);
    result.afterCloseKb = statusKb(pid);
    // VmHWM can lag the resident size by a little; the samples cover that.
    result.peakKb = std::max({statusKb(pid, QByteArrayLiteral("VmHWM")), sampledPeakKb,
                              result.endKb, result.afterCloseKb});
    modbus_close(honest);
    modbus_free(honest);

    result.reads = int(latencies.size());
    result.worstMs
        = latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end());
    result.medianMs = median(latencies);
    result.ran = true;
    return result;
}

void printNonReadingHeader()
{
    std::printf(
        "\nnon-reading connections (whole gateway, log on, offscreen): each pipelines reads "
        "of %d registers\nand never reads; an honest client connected before them reads "
        "10 registers meanwhile (RSS in MiB)\n",
        NonReadingQuantity);
    std::printf("%6s %6s %6s %8s %6s %8s %8s %7s %9s %8s %7s %7s %9s %9s\n", "conns", "made",
                "closed", "sent MiB", "secs", "RSS bef", "at end", "MiB/s", "closed+2s", "peak",
                "reads", "honest", "worst ms", "median ms");
}

void printNonReading(const SNonReadingResult &r)
{
    if (!r.ran) {
        std::printf("%6d  (gateway not started)\n", r.wanted);
        return;
    }
    std::printf("%6d %6d %6d %8.1f %6.1f %8.1f %8.1f %7.1f %9.1f %8.1f %7d %7s %9.1f %9.2f\n",
                r.wanted, r.connected, r.closedByGateway, r.sentMib, r.pushSeconds, mib(r.beforeKb),
                mib(r.endKb), r.lateRiseMibPerS, mib(r.afterCloseKb), mib(r.peakKb), r.reads,
                r.honestFailed ? "failed" : "ok", r.worstMs, r.medianMs);
    std::fflush(stdout);
}

// The row's RESULT keys; those of 1000 connections carry no count.
void printNonReadingKeys(const SNonReadingResult &r)
{
    const QByteArray key = r.wanted == 1000
                               ? QByteArrayLiteral("nonreading")
                               : QByteArrayLiteral("nonreading_") + QByteArray::number(r.wanted);
    const char *k = key.constData();
    std::printf(" %s_rss_mb=%.0f %s_after_close_mb=%.0f %s_worst_ms=%.1f %s_median_ms=%.2f "
                "%s_late_rise_mb_s=%.1f",
                k, mib(r.peakKb - r.beforeKb), k, mib(r.afterCloseKb - r.beforeKb), k, r.worstMs, k,
                r.medianMs, k, r.lateRiseMibPerS);
}

// One throughput case: its rounds' figures, then their medians.
struct SCase
{
    bool useLog = true;
    int count = 0;
    int clients = 0;
    std::vector<double> ratios;
    // Per round: ours req/s, us, cpu us; the reference's req/s, us, cpu us.
    std::vector<double> figures[6];
    int failures = 0;

    double median(int figure) const { return ::median(figures[figure]); }
    double ratio() const { return ::median(ratios); }
    double quartile(int quarter) const
    {
        std::vector<double> sorted = ratios;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty()
                   ? 0.0
                   : sorted[std::min(sorted.size() - 1, sorted.size() * size_t(quarter) / 4)];
    }
};

// Rounds passes over all cases, each case's round being ours then the reference: a slow spell of
// the machine falls on both servers, and on a few rounds of every case rather than on all rounds
// of one.
void runCases(std::vector<SCase> &cases, quint16 ourPort, quint16 referencePort,
              const ReferenceServer &reference)
{
    for (int round = 0; round < Rounds; ++round) {
        for (SCase &one : cases) {
            CSettings::writeValue(SettingsKey::UseLog, one.useLog);
            const SResult mine = drive(ourPort, one.count, one.clients, RequestsPerRound, Registers,
                                       registerValue);
            const SResult ref
                = drive(referencePort, one.count, one.clients, RequestsPerRound, Registers,
                        registerValue, [&reference] { return reference.cpuUs(); });
            one.failures += mine.failures + ref.failures;
            one.ratios.push_back(mine.requestsPerSecond / ref.requestsPerSecond);
            const double values[6] = {mine.requestsPerSecond, mine.meanLatencyUs, mine.serverCpuUs,
                                      ref.requestsPerSecond,  ref.meanLatencyUs,  ref.serverCpuUs};
            for (int f = 0; f < 6; ++f)
                one.figures[f].push_back(values[f]);
        }
    }
}

// Lets this process and the gateway it starts hold many sockets.
void raiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--seed"))
        return seed(quint16(args.at(2).toUInt()));
    findCpus();

    raiseFileLimit();
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    if ((args.size() == 4 || args.size() == 5) && args.at(1) == QLatin1String("--only")
        && args.at(2) == QLatin1String("nonreading")) {
        printNonReadingHeader();
        const SNonReadingResult only
            = runNonReading(dir.filePath(QStringLiteral("nonreading")), args.at(3).toInt(),
                            args.size() == 5 ? args.at(4).toInt() : NonReadingSeconds);
        printNonReading(only);
        std::printf("RESULT bench-modbus");
        printNonReadingKeys(only);
        std::printf("\n");
        return only.ran ? 0 : 1;
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
        const PinnedThreads pinned;
        const int count = args.at(3).toInt();
        const int clients = args.at(4).toInt();
        const auto end = Clock::now() + std::chrono::seconds(args.at(5).toInt());
        while (Clock::now() < end) {
            const SResult mine
                = drive(ourPort, count, clients, RequestsPerRound, Registers, registerValue);
            std::printf("%12.0f req/s %10.1f us %10.1f cpu us/req\n", mine.requestsPerSecond,
                        mine.meanLatencyUs, mine.serverCpuUs);
        }
        storageThread->quit();
        storageThread->wait();
        return 0;
    }

    std::printf("bench-modbus: %d registers on one port, %d rounds of %d requests per case "
                "(function 3)\n",
                Registers, Rounds, RequestsPerRound);
    std::printf("(medians of the rounds; us: mean latency seen by a client; cpu: server thread's "
                "CPU time per\nrequest; ratio: median of the rounds' ratios, q1-q3 their "
                "quartiles)\n");
    std::printf("%-4s %5s %8s %11s %11s %8s %8s %9s %9s %6s %11s\n", "log", "regs", "clients",
                "ours req/s", "ref req/s", "ours us", "ref us", "ours cpu", "ref cpu", "ratio",
                "q1-q3");
    std::vector<SCase> cases;
    for (const bool useLog : {true, false}) {
        for (const int count : {10, 125}) {
            for (const int clients : {1, 8}) {
                SCase one;
                one.useLog = useLog;
                one.count = count;
                one.clients = clients;
                cases.push_back(one);
            }
        }
    }
    for (const bool useLog : {true, false}) {
        CSettings::writeValue(SettingsKey::UseLog, useLog);
        drive(ourPort, 10, 1, WarmUpRequests, Registers, registerValue);
    }
    drive(referencePort, 10, 1, WarmUpRequests, Registers, registerValue);
    {
        const PinnedThreads pinned;
        runCases(cases, ourPort, referencePort, reference);
    }
    double smallest[2] = {1e9, 1e9};
    int failures = 0;
    for (const SCase &one : cases) {
        failures += one.failures;
        smallest[one.useLog ? 0 : 1] = std::min(smallest[one.useLog ? 0 : 1], one.ratio());
        std::printf("%-4s %5d %8d %11.0f %11.0f %8.1f %8.1f %9.1f %9.1f %6.2f %5.2f-%.2f\n",
                    one.useLog ? "on" : "off", one.count, one.clients, one.median(0), one.median(3),
                    one.median(1), one.median(4), one.median(2), one.median(5), one.ratio(),
                    one.quartile(1), one.quartile(3));
    }
    std::fflush(stdout);

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
                    flood.meanMs, flood.seconds, mib(flood.residentGrowthKb));
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

    printNonReadingHeader();
    std::vector<SNonReadingResult> nonReading;
    for (const int connections : NonReadingCounts) {
        nonReading.push_back(
            runNonReading(dir.filePath(QStringLiteral("nonreading-%1").arg(connections)),
                          connections, NonReadingSeconds));
        printNonReading(nonReading.back());
        if (!nonReading.back().ran)
            ++failures;
    }

    if (failures > 0)
        std::printf("FAILED requests: %d\n", failures);
    std::printf("RESULT bench-modbus ratio_log_on=%.2f ratio_log_off=%.2f gateway_1=%.0f "
                "gateway_8=%.0f gateway_scaling=%.2f flood_worst_ms=%.1f",
                smallest[0], smallest[1], gateway.one.requestsPerSecond,
                gateway.eight.requestsPerSecond, scaling, worstFloodMs);
    for (const SNonReadingResult &r : nonReading)
        printNonReadingKeys(r);
    std::printf("\n");
    storageThread->quit();
    storageThread->wait();
    return failures > 0 ? 1 : 0;
}
