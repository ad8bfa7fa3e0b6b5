#pragma once

#include "DbRecords.h"
#include "FreePort.h"
#include "ProtocolOption.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

class QThread;

// What the device-form tests share: the template files, storage on its own thread as at
// start-up, reading stored devices and registers, and port checks.
namespace FormFixture {

// AppEUIs of the templates written by writeTemplates (upper case, as the registry keeps them).
inline const QString SensorAppEui = QStringLiteral("70B3D5E75E00A001");
inline const QString MeterAppEui = QStringLiteral("70B3D5E75E00B002");
inline const QString PipeAppEui = QStringLiteral("70B3D5E75E00C003");

// "deviceFolder" with two device templates and TCP.json with one transparent type:
// sensor: rssi at offset 0 (server), Level uinteger at 1, Temp integer at 2 (packet 1, 5 bytes);
// meter: Count uinteger at offset 0 (packet 2, 3 bytes).
void writeTemplates(const QString &workDir);

// Registers the meta-types start-up registers and moves storage to a started thread.
QThread *startStorage();
void stopStorage(QThread *thread);

struct StoredDevice
{
    quint32 id = 0;
    QString name;
    QString appEui;
    int port = 0;
    int startAddr = -1; // -1 for a transparent TCP device
};
std::optional<StoredDevice> findDevice(const QString &devEui, ProtocolOption kind);

// The stored register rows of a device, by register address; each row holds the 14 columns.
QList<QVariantList> registerRows(quint32 deviceId);

// An uplink object as the network server sends it.
QByteArray uplinkJson(const QString &devEui, const QString &hexData, int rssi);

// Rows of an edit typed into the open register editor of the sensor's Level register, which starts
// at extra value 0, multiplier 1 and no units: "field" (a DeviceFormProbe::RegisterField), "typed",
// the stored "extraValue", "multiplier" and "units", and an uplink's "data" with the Modbus value
// of Level it gives ("level").
void registerEditRows();

} // namespace FormFixture
