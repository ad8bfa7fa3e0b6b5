#include "SDevicePacket.h"

#include "TemplateJson.h"

#include <QDebug>
#include <QJsonArray>

namespace {
const QString TypeKey = QStringLiteral("packet_type");
const QString FieldsKey = QStringLiteral("packet_fields");
const QString SizeKey = QStringLiteral("packet_size");
} // namespace

SDevicePacket::SDevicePacket(const QJsonObject &object)
{
    if (object.isEmpty())
        return;
    const QStringList required = {TypeKey, FieldsKey};
    if (!TemplateJson::containsAll(object, required)) {
        qDebug() << "[SDevicePacket] Invalid input JSON";
        return;
    }
    if (TemplateJson::anyNull(object, required)) {
        qDebug() << "[SDevicePacket] One or several values of input JSON is NULL";
        return;
    }
    packetType = quint32(object.value(TypeKey).toInt(0));
    if (object.contains(SizeKey) && !object.value(SizeKey).isNull())
        packetSize = quint32(object.value(SizeKey).toInt(0));

    const QJsonArray array = object.value(FieldsKey).toArray();
    if (array.isEmpty()) {
        qDebug() << "[SDevicePacket] Packet fields array is empty";
        return;
    }
    for (const QJsonValue &element : array) {
        SDevicePacketField field(element.toObject());
        if (field.valid)
            fields.append(field);
    }
    valid = !fields.isEmpty();
}
