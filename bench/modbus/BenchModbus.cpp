// Modbus-TCP throughput: the gateway's per-port server answering from its database, beside a
// reference server made with libmodbus (one thread, a select loop over every connection), both
// driven by the same libmodbus client load.

#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "CLogFile.h"
#include "CSettings.h"
#include "SharedConstants.h"
#include "StorageThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <modbus.h>

#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int Registers = 1000;
constexpr int RequestsPerCase = 8000;
constexpr int WarmUpRequests = 500;
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

private:
    void serve()
    {
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
    std::thread worker;
};

struct SResult
{
    double requestsPerSecond = 0.0;
    double meanLatencyUs = 0.0;
    int failures = 0;
};

// `clients` libmodbus clients, each reading `count` registers `requests / clients` times.
SResult drive(quint16 port, int count, int clients, int requests)
{
    SResult result;
    std::atomic<long long> latencyNs{0};
    std::atomic<int> failures{0};
    std::chrono::steady_clock::duration wall{};
    runAside([&] {
        std::vector<modbus_t *> contexts;
        for (int c = 0; c < clients; ++c) {
            modbus_t *ctx = modbus_new_tcp(Host, port);
            modbus_set_response_timeout(ctx, 10, 0);
            if (modbus_connect(ctx) != 0)
                ++failures;
            contexts.push_back(ctx);
        }
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                std::vector<uint16_t> values(static_cast<size_t>(count));
                long long own = 0;
                for (int i = 0; i < requests / clients; ++i) {
                    const int address = (i * 37 + c * 101) % (Registers - count + 1);
                    const auto sent = std::chrono::steady_clock::now();
                    const int rc
                        = modbus_read_registers(contexts[size_t(c)], address, count, values.data());
                    own += (std::chrono::steady_clock::now() - sent).count();
                    if (rc != count || values[0] != registerValue(address)
                        || values[size_t(count - 1)] != registerValue(address + count - 1))
                        ++failures;
                }
                latencyNs += own;
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        wall = std::chrono::steady_clock::now() - start;
        for (modbus_t *ctx : contexts) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    });
    const int done = requests / clients * clients;
    result.requestsPerSecond = done / std::chrono::duration<double>(wall).count();
    result.meanLatencyUs = double(latencyNs) / done / 1000.0;
    result.failures = failures;
    return result;
}

// Debug traces of every request would measure the terminal; they are dropped here.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
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
    DB::SDeviceRegMapDescription device;
    device.devEui = QStringLiteral("70B3D5E75E000001");
    device.appEui = QStringLiteral("BENCH");
    device.name = QStringLiteral("bench");
    device.startAddr = 0;
    device.port = ourPort;
    DB::SDbDeviceRegDataSet values;
    values.devEui = device.devEui;
    values.startAddr = 0;
    for (int a = 0; a < Registers; ++a) {
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
    if (!storage->registerNewDevice(device, ProtocolModbus)
        || !QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                      Q_ARG(DB::SDbDeviceRegDataSet, values))) {
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

    std::printf("bench-modbus: %d registers on one port, %d requests per case (function 3)\n",
                Registers, RequestsPerCase);
    std::printf("%-4s %5s %8s %14s %14s %12s %12s %7s\n", "log", "regs", "clients", "ours req/s",
                "ref req/s", "ours us", "ref us", "ratio");
    double smallest[2] = {1e9, 1e9};
    int failures = 0;
    for (const bool useLog : {true, false}) {
        CSettings::writeValue(SettingsKey::UseLog, useLog);
        drive(ourPort, 10, 1, WarmUpRequests);
        drive(referencePort, 10, 1, WarmUpRequests);
        for (const int count : {10, 125}) {
            for (const int clients : {1, 8}) {
                const SResult mine = drive(ourPort, count, clients, RequestsPerCase);
                const SResult ref = drive(referencePort, count, clients, RequestsPerCase);
                failures += mine.failures + ref.failures;
                const double ratio = mine.requestsPerSecond / ref.requestsPerSecond;
                smallest[useLog ? 0 : 1] = std::min(smallest[useLog ? 0 : 1], ratio);
                std::printf("%-4s %5d %8d %14.0f %14.0f %12.1f %12.1f %7.2f\n",
                            useLog ? "on" : "off", count, clients, mine.requestsPerSecond,
                            ref.requestsPerSecond, mine.meanLatencyUs, ref.meanLatencyUs, ratio);
                std::fflush(stdout);
            }
        }
    }
    CSettings::writeValue(SettingsKey::UseLog, true);
    if (failures > 0)
        std::printf("FAILED requests: %d\n", failures);
    std::printf("RESULT bench-modbus ratio_log_on=%.2f ratio_log_off=%.2f\n", smallest[0],
                smallest[1]);
    storageThread->quit();
    storageThread->wait();
    return failures > 0 ? 1 : 0;
}
