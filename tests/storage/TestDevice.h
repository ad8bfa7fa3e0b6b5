#pragma once

#include "DbRecords.h"

#include <QList>
#include <QString>

class CDataBaseHandler;

// A Modbus device of the given registers as the add-device form stores it: AppEUI "APP", named
// after its DevEUI.
DB::SDeviceRegMapDescription testDevice(const QString &devEui, quint16 port, int startAddr,
                                        const QList<DB::SRegisterDescription> &registers);

// Saves the values as a decoded uplink does: on the storage's own thread, waiting for the end.
bool saveTestValues(CDataBaseHandler *storage, const QString &devEui, int startAddr,
                    const QList<DB::SDbRegValue> &values);
