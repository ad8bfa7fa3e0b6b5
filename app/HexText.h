#pragma once

#include <QByteArray>
#include <QString>

// Bytes as lower-case hexadecimal text without separators, as every log line shows them.
inline QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}
