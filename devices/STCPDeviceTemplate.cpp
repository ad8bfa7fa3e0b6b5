#include "STCPDeviceTemplate.h"

#include <QDebug>

namespace {
const QString AppEuiKey = QStringLiteral("app_eui");
const QString DevTypeKey = QStringLiteral("dev_type");
const QString ColorKey = QStringLiteral("color");
} // namespace

STCPDeviceTemplate::STCPDeviceTemplate(const QJsonObject &object)
{
    if (object.isEmpty()) {
        qDebug() << "[STCPDeviceTemplate] Empty input JSON";
        return;
    }
    const QStringList required = {AppEuiKey, DevTypeKey};
    if (!TemplateJson::containsAll(object, required)) {
        qDebug() << "[STCPDeviceTemplate] Invalid input JSON";
        return;
    }
    if (TemplateJson::anyNull(object, required)) {
        qDebug() << "[STCPDeviceTemplate] One or several values of input JSON is NULL";
        return;
    }
    appEui = object.value(AppEuiKey).toString().toUpper();
    devType = object.value(DevTypeKey).toString();
    if (object.contains(ColorKey))
        color = TemplateJson::readColor(object);
    valid = true;
}
