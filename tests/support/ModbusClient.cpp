#include "ModbusClient.h"

#include <QEventLoop>
#include <QThread>

#include <modbus.h>

#include <cerrno>
#include <memory>

ModbusClient::ModbusClient(const QString &host, quint16 port)
    : ctx(modbus_new_tcp(host.toLatin1().constData(), port))
{
    setResponseTimeout(ResponseTimeoutMs);
}

ModbusClient::~ModbusClient()
{
    if (ctx) {
        modbus_close(ctx);
        modbus_free(ctx);
    }
}

bool ModbusClient::check(int rc)
{
    if (rc >= 0)
        return true;
    error = errno;
    return false;
}

bool ModbusClient::connectToServer()
{
    return ctx && check(modbus_connect(ctx));
}

void ModbusClient::close()
{
    if (ctx)
        modbus_close(ctx);
}

void ModbusClient::setResponseTimeout(int milliseconds)
{
    if (ctx)
        modbus_set_response_timeout(ctx, uint32_t(milliseconds / 1000),
                                    uint32_t(milliseconds % 1000) * 1000);
}

std::optional<QList<quint16>> ModbusClient::read(int function, int address, int count)
{
    QList<quint16> values(qMax(count, 1));
    const int rc = function == 3 ? modbus_read_registers(ctx, address, count, values.data())
                                 : modbus_read_input_registers(ctx, address, count, values.data());
    if (!check(rc))
        return std::nullopt;
    values.resize(rc);
    return values;
}

std::optional<QList<quint16>> ModbusClient::readHoldingRegisters(int address, int count)
{
    return read(3, address, count);
}

std::optional<QList<quint16>> ModbusClient::readInputRegisters(int address, int count)
{
    return read(4, address, count);
}

bool ModbusClient::readCoils(int address, int count)
{
    QByteArray bits(qMax(count, 1), '\0');
    return check(modbus_read_bits(ctx, address, count, reinterpret_cast<uint8_t *>(bits.data())));
}

bool ModbusClient::writeRegister(int address, quint16 value)
{
    return check(modbus_write_register(ctx, address, value));
}

bool ModbusClient::sendRaw(const QByteArray &unitAndPdu)
{
    return check(modbus_send_raw_request(
        ctx, reinterpret_cast<const uint8_t *>(unitAndPdu.constData()), int(unitAndPdu.size())));
}

QByteArray ModbusClient::receiveRaw()
{
    QByteArray answer(MODBUS_TCP_MAX_ADU_LENGTH, '\0');
    const int rc = modbus_receive_confirmation(ctx, reinterpret_cast<uint8_t *>(answer.data()));
    if (!check(rc))
        return QByteArray();
    answer.resize(rc);
    return answer;
}

QString ModbusClient::lastError() const
{
    return QString::fromLocal8Bit(modbus_strerror(error));
}

void ModbusClient::runOnThread(const std::function<void()> &job)
{
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create(job));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
}

QList<quint16> ModbusClient::readHoldingAside(quint16 port, int address, int count)
{
    return runAside([=] {
        ModbusClient client(QStringLiteral("127.0.0.1"), port);
        if (!client.connectToServer())
            return QList<quint16>();
        return client.readHoldingRegisters(address, count).value_or(QList<quint16>());
    });
}
