#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

namespace API {

// One uplink of a LoRaWAN device as the network server pushes it.
struct SApiDeviceData
{
    SApiDeviceData() = default;
    explicit SApiDeviceData(const QJsonObject &object);

    QString devEui;
    quint64 ts = 0;
    QString gatewayId;
    bool ack = false;
    quint32 fcnt = 0;
    quint16 port = 0;
    QByteArray data;
    quint32 freq = 0;
    quint16 dr = 0;
    qint16 rssi = 0;
    double snr = 0.0;
    bool valid = false;
};

} // namespace API

Q_DECLARE_METATYPE(API::SApiDeviceData)

// Registers the records that travel between the link, the registry and the forms.
void registerApiMetaTypes();
