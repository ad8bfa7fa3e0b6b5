#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cstdint>

// Records, table names and column layout of the gateway database.
namespace DB {

namespace DbNames {
inline const QString SqlDriver = QStringLiteral("QSQLITE");
inline const QString ConnectionName = QStringLiteral("server");
inline const QString DatabaseFile = QStringLiteral("server.db");
inline const QString DevicesTable = QStringLiteral("devices");
inline const QString DevicesTcpTable = QStringLiteral("devicesTCP");
inline const QString DevDataTable = QStringLiteral("dev_data");
} // namespace DbNames

// Columns of "devices" in table order; "devicesTCP" has the first five.
inline const QStringList DeviceColumns = {
    QStringLiteral("device"),  QStringLiteral("name"), QStringLiteral("app_eui"),
    QStringLiteral("dev_eui"), QStringLiteral("port"), QStringLiteral("start_addr"),
};

// Column indexes of DeviceColumns (the views read device rows by index).
namespace DeviceCol {
enum Index : int {
    Device = 0,
    Name = 1,
    AppEui = 2,
    DevEui = 3,
    Port = 4,
    StartAddr = 5,
};
} // namespace DeviceCol

// Columns of "dev_data" in table order.
inline const QStringList DevDataColumns = {
    QStringLiteral("device"),      QStringLiteral("port"),           QStringLiteral("reg_addr"),
    QStringLiteral("start_value"), QStringLiteral("grating_period"), QStringLiteral("bit_size"),
    QStringLiteral("data_type"),   QStringLiteral("value"),          QStringLiteral("full_value"),
    QStringLiteral("time"),        QStringLiteral("name"),           QStringLiteral("unit"),
    QStringLiteral("parent"),      QStringLiteral("source"),
};

// Column indexes of DevDataColumns (the views read register rows by index).
namespace DevDataCol {
enum Index : int {
    Device = 0,
    Port = 1,
    RegAddr = 2,
    StartValue = 3,
    GratingPeriod = 4,
    BitSize = 5,
    DataType = 6,
    Value = 7,
    FullValue = 8,
    Time = 9,
    Name = 10,
    Unit = 11,
    Parent = 12,
    Source = 13,
};
} // namespace DevDataCol

// One index of a table: its name and its columns in index order.
struct DbIndexDefinition
{
    QString name;
    QStringList columns;
};

// The indexes made at opening, one list per table.
namespace DbIndexLists {
inline const QList<DbIndexDefinition> Devices = {
    {QStringLiteral("idx_eui"), {DeviceColumns.at(DeviceCol::DevEui)}},
    {QStringLiteral("idx_device"), {DeviceColumns.at(DeviceCol::Device)}},
};
inline const QList<DbIndexDefinition> DevicesTcp = {
    {QStringLiteral("idx_euiTCP"), {DeviceColumns.at(DeviceCol::DevEui)}},
    {QStringLiteral("idx_deviceTCP"), {DeviceColumns.at(DeviceCol::Device)}},
};
inline const QList<DbIndexDefinition> DevData = {
    {QStringLiteral("idx_dev_parent"),
     {DevDataColumns.at(DevDataCol::Device), DevDataColumns.at(DevDataCol::Parent)}},
    {QStringLiteral("idx_dev_regaddr"),
     {DevDataColumns.at(DevDataCol::Device), DevDataColumns.at(DevDataCol::RegAddr)}},
    {QStringLiteral("idx_port_regaddr"),
     {DevDataColumns.at(DevDataCol::Port), DevDataColumns.at(DevDataCol::RegAddr)}},
};
// The gateway's own indexes beside those above, made after them: DevEUIs are looked up without
// regard to letter case, by upper(dev_eui), which the index on dev_eui cannot serve.
inline const QString DevEuiKey
    = QStringLiteral("upper(%1)").arg(DeviceColumns.at(DeviceCol::DevEui));
inline const QList<DbIndexDefinition> DevicesLookup
    = {{QStringLiteral("idx_eui_upper"), {DevEuiKey}}};
inline const QList<DbIndexDefinition> DevicesTcpLookup
    = {{QStringLiteral("idx_euiTCP_upper"), {DevEuiKey}}};
} // namespace DbIndexLists

// Where a register's value comes from.
enum RegisterSource : quint32 {
    SourceServer = 0, // uplink metadata
    SourceDevice = 1, // field of the device packet
};

struct SRegisterDescription
{
    QString name;
    quint32 source = 0;
    quint32 regOffset = 0;
    quint32 bitSize = 0;
    QString dataType;
    double extraValue = 0.0;
    double multiplier = 1.0;
    QString units;
};

struct SDeviceRegMapDescription
{
    QString devEui;
    QString appEui;
    QString name;
    int startAddr = 0;
    QList<SRegisterDescription> registers;
    int port = 0;
};

struct SRegisterParam
{
    quint32 regAddr = 0;
    double extraValue = 0.0;
    double multiplier = 1.0;
    QString units;
};

struct SRegInfoUpdate
{
    quint32 deviceId = 0;
    quint16 port = 0;
    QList<SRegisterParam> registers;
};

struct SDbRegValue
{
    QString value;
    QString fullValue;
    quint32 regOffset = 0;
};

struct SDbDeviceRegDataSet
{
    QString devEui;
    int startAddr = 0;
    QList<SDbRegValue> regValues;
};

// Register address -> 16-bit register value.
using RegisterImage = QMap<uint16_t, uint16_t>;

} // namespace DB

Q_DECLARE_METATYPE(DB::SDbDeviceRegDataSet)
Q_DECLARE_METATYPE(DB::SDeviceRegMapDescription)
