#pragma once

#include "DbRecords.h"

#include <QStringList>

// A register image as "address=word" pairs, the words in four hexadecimal digits.
inline QString registerImageText(const DB::RegisterImage &image)
{
    QStringList parts;
    for (auto it = image.cbegin(); it != image.cend(); ++it)
        parts.append(
            QStringLiteral("%1=%2").arg(it.key()).arg(it.value(), 4, 16, QLatin1Char('0')));
    return parts.join(QLatin1Char(' '));
}
