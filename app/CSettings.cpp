#include "CSettings.h"

#include <QDebug>

CSettings *CSettings::instance = nullptr;

CSettings::CSettings(const QString &fileName) : QSettings(fileName, QSettings::IniFormat) {}

CSettings::~CSettings() = default;

CSettings *CSettings::getInstance(const QString &fileName)
{
    if (instance)
        return instance;
    if (fileName.isEmpty()) {
        qDebug() << "ERROR: [CSettings::getInstance] Invalid fileName";
        return nullptr;
    }
    instance = new CSettings(fileName);
    return instance;
}

QVariant CSettings::readValue(const QString &key, const QVariant &defaultValue)
{
    if (!instance)
        instance = new CSettings(QString());
    if (!instance) {
        qDebug() << "ERROR: [CSettings::readValue] Invalid object";
        return QVariant();
    }
    return instance->value(key, defaultValue);
}

bool CSettings::writeValue(const QString &key, const QVariant &value)
{
    if (!instance)
        instance = new CSettings(QString());
    if (!instance) {
        qDebug() << "ERROR: [CSettings::writeValue] Invalid object";
        return false;
    }
    instance->setValue(key, value);
    instance->sync();
    return true;
}
