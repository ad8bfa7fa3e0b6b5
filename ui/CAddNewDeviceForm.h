#pragma once

#include "CAbstractDeviceForm.h"
#include "SServerDeviceInfo.h"

#include <QList>

// Adds a device that the network server lists but the gateway does not store yet: asks the
// link for the server's device list on every showing, checks the chosen port, stores the device
// with its template registers and hands it to the device registry.
class CAddNewDeviceForm : public CAbstractDeviceForm
{
    Q_OBJECT
public:
    // Created on the first call, never destroyed.
    static CAddNewDeviceForm *getInstance();
    ~CAddNewDeviceForm() override;

public slots:
    void deviceSearchNameSlot(QString _text) override;
    void refresh() override;
    void deviceListSelectSlot(QItemSelection item1, QItemSelection item2) override;
    void addDeviceSlot() override;
    void getDevicesListRespSlot(bool status, QList<API::SServerDeviceInfo> _regInfoList);

private:
    CAddNewDeviceForm();

    void showStatus(const QString &text);

    // The device list is being rebuilt from an answer: selection changes are not choices.
    bool rebuildingList = false;

    static CAddNewDeviceForm *self;
};
