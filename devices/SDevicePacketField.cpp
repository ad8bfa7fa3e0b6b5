#include "SDevicePacketField.h"

#include "TemplateJson.h"

#include <QDebug>

namespace {
const QString EndiannessKey = QStringLiteral("endianness");
const QStringList RequiredKeys = {
    QStringLiteral("packet_bias"),   QStringLiteral("data_bit_bias"),
    QStringLiteral("data_bit_size"), QStringLiteral("data_type"),
    QStringLiteral("reg_map_bias"),  QStringLiteral("reg_bit_bias"),
    QStringLiteral("reg_bit_size"),  QStringLiteral("data_name"),
};
} // namespace

SDevicePacketField::SDevicePacketField(const QJsonObject &object)
{
    if (object.isEmpty()) {
        qDebug() << "[SDevicePacketField] Empty input JSON";
        return;
    }
    if (object.contains(EndiannessKey)) {
        const QString order = object.value(EndiannessKey).toString().toLower();
        if (order == QLatin1String("le")) {
            endianness = 0;
        } else if (order == QLatin1String("be")) {
            endianness = 1;
        } else {
            qDebug()
                << "[SDevicePacketField] Invalid endianness field value, can be \"le\" or \"be\"";
            return;
        }
    }
    if (!TemplateJson::containsAll(object, RequiredKeys)) {
        qDebug() << "[SDevicePacketField] Invalid input JSON";
        return;
    }
    if (TemplateJson::anyNull(object, RequiredKeys)) {
        qDebug() << "[SDevicePacketField] One or several values of input JSON is NULL";
        return;
    }
    packetBias = object.value(RequiredKeys.at(0)).toInt(0);
    dataBitBias = object.value(RequiredKeys.at(1)).toInt(0);
    dataBitSize = object.value(RequiredKeys.at(2)).toInt(0);
    dataType = object.value(RequiredKeys.at(3)).toString();
    regMapBias = object.value(RequiredKeys.at(4)).toInt(0);
    regBitBias = object.value(RequiredKeys.at(5)).toInt(0);
    regBitSize = object.value(RequiredKeys.at(6)).toInt(0);
    dataName = object.value(RequiredKeys.at(7)).toString();
    valid = true;
}
