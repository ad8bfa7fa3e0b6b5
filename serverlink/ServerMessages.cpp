#include "ServerMessages.h"

#include "SharedConstants.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace ServerMessages {

using namespace Vocabulary;

namespace {
// The direction word of the last-packets selection and the number of packets asked for.
const QString UplinkDirection = QStringLiteral("UPLINK");
constexpr int LastPacketsLimit = 10;
// Downlinks to transparent TCP devices always go to this application port, confirmed.
constexpr int DownlinkPort = 2;
} // namespace

QString toText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

bool parseObject(const QString &text, QJsonObject *object)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return false;
    *object = document.object();
    return true;
}

QString probe()
{
    return toText(QJsonObject{{Key::cmd, Key::cmd}});
}

QString authRequest(const QString &login, const QString &password)
{
    return toText(
        QJsonObject{{Key::cmd, Cmd::auth_req}, {Key::login, login}, {Key::password, password}});
}

QString devicesRequest()
{
    return toText(QJsonObject{{Key::cmd, Cmd::get_devices_req}});
}

QString lastPacketsRequest(const QString &devEui)
{
    const QJsonObject select{{Key::direction, UplinkDirection}, {Key::limit, LastPacketsLimit}};
    return toText(QJsonObject{
        {Key::cmd, Cmd::get_data_req}, {Key::devEui, devEui.toUpper()}, {Key::select, select}});
}

QString sendDataRequest(const QString &devEui, const QByteArray &hexText)
{
    const QJsonObject entry{{Key::ack, true},
                            {Key::data, QString::fromUtf8(hexText)},
                            {Key::devEui, devEui},
                            {Key::port, DownlinkPort}};
    return toText(QJsonObject{{Key::cmd, Cmd::send_data_req}, {Key::data_list, QJsonArray{entry}}});
}

QList<API::SServerDeviceInfo> readDevicesList(const QJsonObject &answer)
{
    QList<API::SServerDeviceInfo> list;
    const QJsonArray devices = answer.value(Key::devices_list).toArray();
    for (const QJsonValue &value : devices) {
        const QJsonObject entry = value.toObject();
        if (!entry.contains(Key::devEui) || !entry.contains(Key::devName)
            || !entry.contains(Key::OTAA))
            continue;
        API::SServerDeviceInfo info;
        info.devEui = entry.value(Key::devEui).toString();
        info.appEui = entry.value(Key::OTAA).toObject().value(Key::appEui).toString();
        info.devName = entry.value(Key::devName).toString();
        qDebug() << "Recived from server: " << info.appEui << info.devEui << info.devName;
        if (!info.appEui.isEmpty())
            list.append(info);
    }
    return list;
}

API::SApiDeviceData readFirstValidPacket(const QJsonObject &answer)
{
    API::SApiDeviceData record{QJsonObject()};
    if (!answer.value(Key::status).toBool())
        return record;
    const QString devEui = answer.value(Key::devEui).toString().toUpper();
    if (devEui.isEmpty() || !answer.contains(Key::data_list))
        return record;
    const QJsonArray packets = answer.value(Key::data_list).toArray();
    for (const QJsonValue &value : packets) {
        record = API::SApiDeviceData(value.toObject());
        record.devEui = devEui;
        if (record.valid)
            break;
    }
    return record;
}

} // namespace ServerMessages
