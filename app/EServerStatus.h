#pragma once

#include <QMetaType>
#include <QString>

namespace COMM {

// The state of the network-server link as the operator sees it.
enum EServerStatus : int {
    Success = 0,
    PingWaiting = 1,
    InvalidPing = 2,
    AuthWaiting = 3,
    InvalidAuth = 4,
    Disconnected = 5,
};

inline QString serverStatusText(EServerStatus status)
{
    switch (status) {
    case Success:
        return QStringLiteral("SUCCESS");
    case PingWaiting:
        return QStringLiteral("PING WAITING");
    case InvalidPing:
        return QStringLiteral("INVALID PING");
    case AuthWaiting:
        return QStringLiteral("AUTH WAITING");
    case InvalidAuth:
        return QStringLiteral("INVALID AUTH");
    case Disconnected:
        return QStringLiteral("DISCONNECTED");
    }
    return QString();
}

} // namespace COMM

Q_DECLARE_METATYPE(COMM::EServerStatus)
