#include "TemplateJson.h"

#include <QDebug>

namespace TemplateJson {

bool containsAll(const QJsonObject &object, const QStringList &keys)
{
    for (const QString &key : keys)
        if (!object.contains(key))
            return false;
    return true;
}

bool anyNull(const QJsonObject &object, const QStringList &keys)
{
    for (const QString &key : keys)
        if (object.value(key).isNull())
            return true;
    return false;
}

QColor readColor(const QJsonObject &object)
{
    const QString name = object.value(QStringLiteral("color")).toString();
    const QColor color(name);
    if (!color.isValid()) {
        qDebug().noquote() << QStringLiteral("[SDeviceTemplate] Invalid color name [%1]").arg(name);
        return DefaultTypeColor;
    }
    return color;
}

} // namespace TemplateJson
