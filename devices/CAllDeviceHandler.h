#pragma once

#include "DbRecords.h"
#include "ProtocolOption.h"
#include "SApiDeviceData.h"
#include "SDeviceTemplate.h"
#include "SDeviceTypeInfo.h"
#include "STCPDeviceTemplate.h"
#include "STemplateRegMap.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class CDeviceHandler;

// Registry of the device types read from "deviceFolder" and of the registered devices of both
// kinds with the TCP servers of their ports; routes every uplink to its decoder or TCP server.
class CAllDeviceHandler : public QObject
{
    Q_OBJECT
public:
    // Created, with the templates loaded, on the first call.
    static CAllDeviceHandler *getInstance();
    ~CAllDeviceHandler() override;

    STemplateRegMap getTemplateRegMap(QString appEui);
    SDeviceTypeInfo getDeviceDescription(QString appEui);
    SDeviceTypeInfo getTCPDeviceDescription(QString appEui);
    QList<SDeviceTypeInfo> getDeviceTypeList();
    QList<SDeviceTypeInfo> getTCPDeviceTypeList();
    bool isDeviceTemplateExist(QString key);
    bool isTCPTemplateExist(QString key);
    // The kind of the registry's server on the port, also while it waits to listen there; no
    // value when the registry has none there.
    std::optional<ProtocolOption> getPortProtocol(quint16 port);

signals:
    void newDataForDevice(QString _devEui);

protected slots:
    void init();
    void initTCP(QString FilePath);
    void processDataSlot(API::SApiDeviceData _devData);
    void parsingDataFromDevice(API::SApiDeviceData _devData);

public slots:
    void addNewDevice(DB::SDeviceRegMapDescription _devInfo, ProtocolOption Protocol);
    void removeDevice(QString _devEui, uint16_t _port);
    void newPacketReceivedSlot(API::SApiDeviceData _devData);
    // Moves a transparent TCP device and its server to the port of _devInfo; false when nothing
    // was moved (unknown device, no server on OldPort, OldPort not the device's, the same port, a
    // port already held, or one that cannot be listened on).
    bool updatePortRegisteredDevice(DB::SDeviceRegMapDescription _devInfo, uint16_t OldPort);

private:
    using Registrations = QList<DB::SDeviceRegMapDescription>;

    CAllDeviceHandler();

    QMap<quint16, CDeviceHandler *> &serversOf(ProtocolOption kind);
    QHash<QString, Registrations> &registrationsOf(ProtocolOption kind);
    // Enters the registration chosen among those of `key` into modbusDevices or tcpDevices, or
    // removes the key there when none is left.
    void chooseRegistration(ProtocolOption kind, const QString &key);
    // Removes registration `index` of `key`, and the DevEUI from its port's server when no other
    // registration of it is on that port; the server goes with its last DevEUI.
    void removeRegistration(ProtocolOption kind, const QString &key, qsizetype index);

    QMap<QString, SDeviceTemplate> deviceTemplates;
    QMap<quint16, CDeviceHandler *> modbusServers;
    QMap<QString, DB::SDeviceRegMapDescription> modbusDevices;
    QMap<QString, STCPDeviceTemplate> tcpTemplates;
    QMap<quint16, CDeviceHandler *> tcpServers;
    QMap<QString, int> tcpDevices;
    // Every registration of a DevEUI key by kind, in the order added, each with the DevEUI as
    // stored: a file of an earlier version may hold one DevEUI in two spellings. The one in
    // modbusDevices or tcpDevices is chosen among them; removing one leaves the others served.
    QHash<QString, Registrations> modbusRegistrations;
    QHash<QString, Registrations> tcpRegistrations;
    QMutex mutex;

    static CAllDeviceHandler *self;
};
