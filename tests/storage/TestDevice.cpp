#include "TestDevice.h"

#include "CDataBaseHandler.h"

#include <QMetaObject>

DB::SDeviceRegMapDescription testDevice(const QString &devEui, quint16 port, int startAddr,
                                        const QList<DB::SRegisterDescription> &registers)
{
    DB::SDeviceRegMapDescription device;
    device.devEui = devEui;
    device.appEui = QStringLiteral("APP");
    device.name = devEui;
    device.startAddr = startAddr;
    device.registers = registers;
    device.port = port;
    return device;
}

bool saveTestValues(CDataBaseHandler *storage, const QString &devEui, int startAddr,
                    const QList<DB::SDbRegValue> &values)
{
    DB::SDbDeviceRegDataSet set;
    set.devEui = devEui;
    set.startAddr = startAddr;
    set.regValues = values;
    return QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                     Q_ARG(DB::SDbDeviceRegDataSet, set));
}
