#include "SApiDeviceData.h"

#include "EServerStatus.h"
#include "SServerDeviceInfo.h"
#include "SharedConstants.h"

#include <QDebug>
#include <QVariant>

namespace API {

SApiDeviceData::SApiDeviceData(const QJsonObject &object)
{
    using namespace Vocabulary;
    if (object.isEmpty())
        return;
    if (!object.contains(Key::type)) {
        qDebug() << "[SApiDeviceData] Uncknown JSON message format!";
        return;
    }
    const QString type = object.value(Key::type).toString();
    const QStringList parts = type.split(QLatin1Char('+'));
    if (!parts.contains(LoRaMessageTypeNames.at(0))
        && !parts.contains(LoRaMessageTypeNames.at(2))) {
        qDebug().noquote() << QStringLiteral("[SApiDeviceData] Not UPLINK message: ") + type;
        return;
    }
    if (!object.contains(Key::data)) {
        qDebug() << "[SApiDeviceData] DATA is not exist";
        return;
    }
    devEui = object.value(Key::devEui).toString().toUpper();
    ts = object.value(Key::ts).toVariant().toULongLong();
    gatewayId = object.value(Key::gatewayId).toString().split(QLatin1Char('+')).value(0).toUpper();
    ack = object.value(Key::ack).toBool(false);
    fcnt = object.value(Key::fcnt).toVariant().toUInt();
    port = static_cast<quint16>(object.value(Key::port).toInt(0));
    data = QByteArray::fromHex(object.value(Key::data).toString().toUtf8());
    freq = object.value(Key::freq).toVariant().toUInt();
    dr = static_cast<quint16>(object.value(Key::dr).toInt(0));
    rssi = static_cast<qint16>(object.value(Key::rssi).toInt(0));
    snr = object.value(Key::snr).toDouble(0.0);
    valid = true;
}

} // namespace API

void registerApiMetaTypes()
{
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    qRegisterMetaType<QList<API::SServerDeviceInfo>>("QList<API::SServerDeviceInfo>");
    qRegisterMetaType<API::SApiDeviceData>("API::SApiDeviceData");
}
