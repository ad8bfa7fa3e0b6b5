#pragma once

#include "CAbstractDeviceForm.h"

#include <cstdint>

// Changes a stored device: the scaling of a Modbus device's registers, or the TCP port of a
// transparent TCP device (in storage and in the device registry).
class CEditDeviceForm : public CAbstractDeviceForm
{
    Q_OBJECT
public:
    // Created on the first call, never destroyed.
    static CEditDeviceForm *getInstance();
    ~CEditDeviceForm() override;

public slots:
    // 0xFFFFFFFF as _startAddr stands for a device without a start address.
    void setOriginal(uint32_t _deviceId, QString _devEui, QString _devName, QString _appEui,
                     uint16_t _port, uint32_t _startAddr = 0xFFFFFFFF);

    void deviceSearchNameSlot(QString _text) override;
    void refresh() override;
    void deviceListSelectSlot(QItemSelection item1, QItemSelection item2) override;
    void addDeviceSlot() override;

private:
    CEditDeviceForm();

    // Logs the failure and tells the operator; the dialog stays open.
    void reportFailure(const QString &logText);

    static CEditDeviceForm *self;
};
