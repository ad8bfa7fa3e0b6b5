#pragma once

#include <QColor>
#include <QString>

// A known device type as the forms and lists show it.
struct SDeviceTypeInfo
{
    QString appEui;
    QString devType;
    QColor color; // invalid for a type no template defines
};
