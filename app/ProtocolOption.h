#pragma once

#include <QMetaType>

// The kind of a device: decoded by a template and served over Modbus-TCP, or a transparent TCP
// pipe.
enum ProtocolOption : int {
    ProtocolModbus = 1,
    ProtocolTCP = 2,
};

Q_DECLARE_METATYPE(ProtocolOption)
