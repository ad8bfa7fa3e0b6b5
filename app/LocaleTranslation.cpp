#include "LocaleTranslation.h"

#include "SharedConstants.h"

#include <QCoreApplication>
#include <QTranslator>

bool wantsRussianTranslation(const QString &localeName)
{
    return localeName.contains(QStringLiteral("ru"), Qt::CaseSensitive);
}

bool installTranslation(QCoreApplication &app, QTranslator &translator, const QString &localeName)
{
    if (!wantsRussianTranslation(localeName))
        return false;
    if (!translator.load(FileNames::Translation))
        return false;
    return app.installTranslator(&translator);
}
