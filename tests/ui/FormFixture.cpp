#include "FormFixture.h"

#include "CDataBaseHandler.h"
#include "CLogFile.h"
#include "DeviceFormProbe.h"
#include "FreePort.h"
#include "SApiDeviceData.h"
#include "StorageThread.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QThread>

namespace FormFixture {

namespace {
void write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}
} // namespace

void writeTemplates(const QString &workDir)
{
    const QString folder = workDir + QStringLiteral("/deviceFolder");
    QDir().mkpath(folder);
    write(folder + QStringLiteral("/sensor.json"), R"JSON({
        "app_eui": "70b3d5e75e00a001", "dev_type": "Sensor", "color": "#40a0e0",
        "server_data": [{"data_code": "rssi", "reg_map_bias": 0, "reg_bit_bias": 0,
                         "reg_bit_size": 16, "data_name": "RSSI"}],
        "device_packets": [{"packet_type": 1, "packet_size": 5, "packet_fields": [
            {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger",
             "endianness": "be", "reg_map_bias": 1, "reg_bit_bias": 0, "reg_bit_size": 16,
             "data_name": "Level"},
            {"packet_bias": 3, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "integer",
             "endianness": "be", "reg_map_bias": 2, "reg_bit_bias": 0, "reg_bit_size": 16,
             "data_name": "Temp"}]}]})JSON");
    write(folder + QStringLiteral("/meter.json"), R"JSON({
        "app_eui": "70B3D5E75E00B002", "dev_type": "Meter",
        "device_packets": [{"packet_type": 2, "packet_size": 3, "packet_fields": [
            {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger",
             "endianness": "be", "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16,
             "data_name": "Count"}]}]})JSON");
    write(folder + QStringLiteral("/TCP.json"), R"JSON({"data": [
        {"app_eui": "70b3d5e75e00c003", "dev_type": "Pipe", "color": "#e0a040"}]})JSON");
}

QThread *startStorage()
{
    qRegisterMetaType<CLogFile::ELogMessageType>("CLogFile::ELogMessageType");
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");
    registerApiMetaTypes();
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage)
        return nullptr;
    return startStorageThread(storage);
}

void stopStorage(QThread *thread)
{
    if (!thread)
        return;
    thread->quit();
    thread->wait();
}

std::optional<StoredDevice> findDevice(const QString &devEui, ProtocolOption kind)
{
    QSqlQuery query = CDataBaseHandler::getInstance()->getDevices(QString(), kind);
    while (query.next()) {
        if (query.value(DB::DeviceCol::DevEui).toString() != devEui)
            continue;
        StoredDevice device;
        device.id = query.value(DB::DeviceCol::Device).toUInt();
        device.name = query.value(DB::DeviceCol::Name).toString();
        device.appEui = query.value(DB::DeviceCol::AppEui).toString();
        device.port = query.value(DB::DeviceCol::Port).toInt();
        if (query.record().count() > DB::DeviceCol::StartAddr)
            device.startAddr = query.value(DB::DeviceCol::StartAddr).toInt();
        return device;
    }
    return std::nullopt;
}

QList<QVariantList> registerRows(quint32 deviceId)
{
    QList<QVariantList> rows;
    QSqlQuery query = CDataBaseHandler::getInstance()->getRegisters(deviceId);
    while (query.next()) {
        QVariantList row;
        for (int column = 0; column < query.record().count(); ++column)
            row.append(query.value(column));
        rows.append(row);
    }
    return rows;
}

QByteArray uplinkJson(const QString &devEui, const QString &hexData, int rssi)
{
    return QStringLiteral(R"JSON({"cmd": "rx", "type": "UNCONF_UP", "devEui": "%1",
        "ts": 1700000000000, "gatewayId": "AA00000000000001", "ack": false, "fcnt": 7,
        "port": 2, "data": "%2", "freq": 868100000, "dr": 5, "rssi": %3, "snr": 7.5})JSON")
        .arg(devEui, hexData)
        .arg(rssi)
        .toUtf8();
}

void registerEditRows()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("extraValue");
    QTest::addColumn<double>("multiplier");
    QTest::addColumn<QString>("units");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("level");

    // Each uplink gives Level another raw value, so a row's reading is not the last row's.
    QTest::addRow("multiplier") << int(DeviceFormProbe::MultiplierField) << QStringLiteral("3.0")
                                << 0.0 << 3.0 << QString() << QStringLiteral("01000CFFFE") << 36;
    QTest::addRow("offset") << int(DeviceFormProbe::ExtraValueField) << QStringLiteral("7.0") << 7.0
                            << 1.0 << QString() << QStringLiteral("010014FFFE") << 27;
    QTest::addRow("units") << int(DeviceFormProbe::UnitsField) << QStringLiteral("cm") << 0.0 << 1.0
                           << QStringLiteral("cm") << QStringLiteral("010011FFFE") << 17;
}

} // namespace FormFixture
