#pragma once

#include <QJsonObject>
#include <QString>

// One field of a device packet: where its bytes lie in the payload and which registers it fills.
struct SDevicePacketField
{
    SDevicePacketField() = default;
    explicit SDevicePacketField(const QJsonObject &object);

    int packetBias = 0;
    int dataBitBias = 0;
    int dataBitSize = 0;
    QString dataType;
    int regMapBias = 0;
    int regBitBias = 0;
    int regBitSize = 0;
    QString dataName;
    bool valid = false;
    int endianness = 0; // 0 little-endian, 1 big-endian
};
