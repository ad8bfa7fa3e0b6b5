#pragma once

#include "SDevicePacket.h"
#include "SServerData.h"
#include "TemplateJson.h"

#include <QColor>
#include <QJsonObject>
#include <QMap>
#include <QString>

// A transparent TCP device type, one entry of "TCP.json"; it has no registers, so the two maps
// stay empty.
struct STCPDeviceTemplate
{
    STCPDeviceTemplate() = default;
    explicit STCPDeviceTemplate(const QJsonObject &object);

    bool valid = false;
    QString appEui;
    QString devType;
    QColor color = TemplateJson::DefaultTypeColor;
    QMap<QString, SServerData> serverData;
    QMap<quint32, SDevicePacket> packets;
};
