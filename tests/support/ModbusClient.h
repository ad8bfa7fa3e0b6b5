#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <type_traits>

typedef struct _modbus modbus_t;

// A libmodbus Modbus-TCP client. Its calls block; when the server under test runs in the calling
// thread, make them inside runAside() so that the thread's event loop keeps serving.
class ModbusClient
{
public:
    // Answers that take longer than this count as lost.
    static constexpr int ResponseTimeoutMs = 10000;

    ModbusClient(const QString &host, quint16 port);
    ~ModbusClient();
    ModbusClient(const ModbusClient &) = delete;
    ModbusClient &operator=(const ModbusClient &) = delete;

    bool connectToServer();
    void close();
    void setResponseTimeout(int milliseconds);

    // Functions 3 and 4; nothing on failure, lastErrno() then tells why (EMBXILVAL and the like
    // for an exception answer).
    std::optional<QList<quint16>> readHoldingRegisters(int address, int count);
    std::optional<QList<quint16>> readInputRegisters(int address, int count);
    // Functions 1 and 6, for the answers to unsupported functions.
    bool readCoils(int address, int count);
    bool writeRegister(int address, quint16 value);

    // Sends unit id and PDU as given, behind an MBAP header with the next transaction id.
    bool sendRaw(const QByteArray &unitAndPdu);
    // The next whole answer (MBAP header included); empty on failure.
    QByteArray receiveRaw();

    int lastErrno() const { return error; }
    QString lastError() const;

    // Runs the job on a thread of its own while the calling thread's event loop keeps running;
    // returns what the job returns.
    template<typename Job> static auto runAside(Job job) -> decltype(job())
    {
        using Result = decltype(job());
        if constexpr (std::is_void_v<Result>) {
            runOnThread(job);
        } else {
            std::optional<Result> result;
            runOnThread([&result, &job] { result.emplace(job()); });
            return std::move(*result);
        }
    }

    // Holding registers of a server on 127.0.0.1, read by a client of its own beside the
    // calling thread's event loop; empty when the read fails.
    static QList<quint16> readHoldingAside(quint16 port, int address, int count);

private:
    static void runOnThread(const std::function<void()> &job);
    bool check(int rc);
    std::optional<QList<quint16>> read(int function, int address, int count);

    modbus_t *ctx = nullptr;
    int error = 0;
};
