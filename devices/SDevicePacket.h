#pragma once

#include "SDevicePacketField.h"

#include <QJsonObject>
#include <QList>

// One packet type of a device: the payload starting with byte packetType and packetSize long.
struct SDevicePacket
{
    SDevicePacket() = default;
    explicit SDevicePacket(const QJsonObject &object);

    quint32 packetType = 0;
    quint32 packetSize = 0; // whole payload, type byte included; 0 when the template gives none
    QList<SDevicePacketField> fields;
    bool valid = false;
};
