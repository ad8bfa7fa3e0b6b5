#include "RegisterImageText.h"

#include "CDataBaseHandler.h"

#include <QStringList>

QString registerImageText(const DB::RegisterImage &image)
{
    QStringList parts;
    for (auto it = image.cbegin(); it != image.cend(); ++it)
        parts.append(
            QStringLiteral("%1=%2").arg(it.key()).arg(it.value(), 4, 16, QLatin1Char('0')));
    return parts.join(QLatin1Char(' '));
}

QString registerImageBothWays(CDataBaseHandler *storage, quint32 port, quint32 start, quint32 count)
{
    QStringList texts;
    for (const bool cached : {true, false}) {
        storage->setImageCacheEnabled(cached);
        bool ok = false;
        const QString text = registerImageText(storage->getRegisterData(port, start, count, &ok));
        texts.append(ok ? text : QStringLiteral("failed"));
    }
    storage->setImageCacheEnabled(true);
    return texts.first() == texts.last()
               ? texts.first()
               : QStringLiteral("cached: %1, range statement: %2").arg(texts.first(), texts.last());
}
