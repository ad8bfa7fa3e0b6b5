#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

namespace API {

// One entry of the network server's device list.
struct SServerDeviceInfo
{
    QString devEui;
    QString appEui;
    QString devName;
};

} // namespace API

Q_DECLARE_METATYPE(API::SServerDeviceInfo)
Q_DECLARE_METATYPE(QList<API::SServerDeviceInfo>)
