#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>

class QProcess;

// What the whole-program tests share: the stored devices, the working directory of a run and
// the environment the gateway starts in.
namespace ProgramFixture {

// The devices the seed helper stores, with types of the example templates.
inline const QString ModbusDevEui = QStringLiteral("70B3D5E75E00F001");
inline const QString ModbusName = QStringLiteral("Greenhouse climate");
inline const QString ClimateAppEui = QStringLiteral("AB12CD34EF560001");
inline const QString TcpDevEui = QStringLiteral("70B3D5E75E00F002");
inline const QString TcpName = QStringLiteral("Serial bridge");
inline const QString SerialAppEui = QStringLiteral("AB12CD34EF560100");
constexpr int ModbusStartAddr = 100;

// The DevEUI of the further climate device number `index` (from 0).
inline QString extraModbusDevEui(int index)
{
    return QStringLiteral("70B3D5E75E01%1").arg(index, 4, 16, QLatin1Char('0')).toUpper();
}

// Fills dir with "deviceFolder" (the example templates) and a "server.db" holding the two
// devices on the given ports, and a further climate device on each of `extraModbusPorts`.
// Returns an empty text on success, else what went wrong.
QString prepareWorkDir(const QString &dir, quint16 modbusPort, quint16 tcpPort,
                       const QList<quint16> &extraModbusPorts = {});
// The same on two distinct ports that are free now, which it stores in the arguments.
QString prepareWorkDirOnFreePorts(const QString &dir, quint16 &modbusPort, quint16 &tcpPort);

// An uplink of the device as the network server sends it.
QJsonObject uplink(const QString &devEui, const QString &data, int rssi);

// The test's environment without the locale variables (they decide the translation).
QProcessEnvironment cleanEnvironment();

// Everything the process wrote to both channels so far (the channels stay readable).
QString outputOf(QProcess &process);

} // namespace ProgramFixture
