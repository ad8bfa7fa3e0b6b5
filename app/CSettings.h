#pragma once

#include <QSettings>
#include <QVariant>

// The process-wide INI settings file; the first access decides which file it is.
class CSettings : public QSettings
{
public:
    ~CSettings() override;

    static CSettings *getInstance(const QString &fileName);
    static QVariant readValue(const QString &key, const QVariant &defaultValue = QVariant());
    static bool writeValue(const QString &key, const QVariant &value);

private:
    explicit CSettings(const QString &fileName);

    static CSettings *instance;
};
