#pragma once

#include "SApiDeviceData.h"
#include "SServerDeviceInfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The JSON texts the link sends to the network server and the readers of the server's answers.
// Every outgoing text is one compact JSON object (keys in sorted order).
namespace ServerMessages {

QString toText(const QJsonObject &object);
// The object of a received text frame; false when the text is not a JSON object.
bool parseObject(const QString &text, QJsonObject *object);

QString probe();
QString authRequest(const QString &login, const QString &password);
QString devicesRequest();
QString lastPacketsRequest(const QString &devEui);
QString sendDataRequest(const QString &devEui, const QByteArray &hexText);

// The listed devices of a "get_devices_resp" in the order of its array; entries that lack a
// key are skipped, entries without an AppEUI are traced and dropped.
QList<API::SServerDeviceInfo> readDevicesList(const QJsonObject &answer);
// The first valid uplink of a "get_data_resp" with the answer's DevEUI (upper case); a record
// that is not valid when the answer holds none.
API::SApiDeviceData readFirstValidPacket(const QJsonObject &answer);

} // namespace ServerMessages
