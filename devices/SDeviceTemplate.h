#pragma once

#include "SDevicePacket.h"
#include "SServerData.h"
#include "STemplateRegMap.h"
#include "TemplateJson.h"

#include <QColor>
#include <QJsonObject>
#include <QMap>
#include <QString>

// A device type read from one template file: its metadata registers and its packet types.
struct SDeviceTemplate
{
    SDeviceTemplate() = default;
    explicit SDeviceTemplate(const QJsonObject &object);

    // The register list offered for a new device of this type.
    STemplateRegMap toRegMap() const;

    bool valid = false;
    QString appEui;
    QString devType;
    QColor color = TemplateJson::DefaultTypeColor;
    QMap<QString, SServerData> serverData;
    QMap<quint32, SDevicePacket> packets;
};
