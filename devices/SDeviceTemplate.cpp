#include "SDeviceTemplate.h"

#include <QDebug>
#include <QJsonArray>

namespace {
const QString AppEuiKey = QStringLiteral("app_eui");
const QString DevTypeKey = QStringLiteral("dev_type");
const QString PacketsKey = QStringLiteral("device_packets");
const QString ServerDataKey = QStringLiteral("server_data");
const QString ColorKey = QStringLiteral("color");
} // namespace

SDeviceTemplate::SDeviceTemplate(const QJsonObject &object)
{
    if (object.isEmpty()) {
        qDebug() << "[SDeviceTemplate] Empty input JSON";
        return;
    }
    const QStringList required = {AppEuiKey, DevTypeKey};
    if (!TemplateJson::containsAll(object, required)) {
        qDebug() << "[SDeviceTemplate] Invalid input JSON";
        return;
    }
    if (TemplateJson::anyNull(object, required)) {
        qDebug() << "[SDeviceTemplate] One or several values of input JSON is NULL";
        return;
    }
    appEui = object.value(AppEuiKey).toString().toUpper();
    devType = object.value(DevTypeKey).toString();

    const QJsonArray packetArray = object.value(PacketsKey).toArray();
    for (const QJsonValue &element : packetArray) {
        SDevicePacket packet(element.toObject());
        if (packet.valid)
            packets.insert(packet.packetType, packet);
    }
    if (packets.isEmpty()) {
        qDebug() << "[SDeviceTemplate] Device packets array is empty";
        return;
    }
    valid = true;

    if (object.contains(ServerDataKey) && !object.value(ServerDataKey).isNull()) {
        const QJsonArray serverArray = object.value(ServerDataKey).toArray();
        for (const QJsonValue &element : serverArray) {
            SServerData data(element.toObject());
            if (data.valid)
                serverData.insert(data.dataCode, data);
        }
    }
    if (object.contains(ColorKey))
        color = TemplateJson::readColor(object);
}

STemplateRegMap SDeviceTemplate::toRegMap() const
{
    STemplateRegMap map;
    map.appEui = appEui;
    for (const SServerData &data : serverData) {
        DB::SRegisterDescription reg;
        reg.name = data.dataName;
        reg.source = DB::SourceServer;
        reg.regOffset = quint32(data.regMapBias);
        reg.bitSize = quint32(data.regBitSize);
        reg.dataType = data.type;
        map.registers.append(reg);
    }
    for (const SDevicePacket &packet : packets) {
        for (const SDevicePacketField &field : packet.fields) {
            DB::SRegisterDescription reg;
            reg.name = field.dataName;
            reg.source = DB::SourceDevice;
            reg.regOffset = quint32(field.regMapBias);
            reg.bitSize = quint32(field.regBitSize);
            reg.dataType = field.dataType;
            map.registers.append(reg);
        }
    }
    return map;
}
