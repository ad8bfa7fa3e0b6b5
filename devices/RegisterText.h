#pragma once

#include <QByteArray>
#include <QString>

// Plain helpers that turn decoded numbers into register texts.
namespace RegisterText {

// x in base 16, lower-case, at least width digits (zeros on the left).
QString hexText(quint64 x, int width);
// As above; a negative x is written as its two's complement in 4 * width bits.
QString hexText(qint64 x, int width);
// The last width characters of a text (all of it when shorter).
QString lastChars(const QString &text, int width);

// True when the count bytes from offset all lie inside a payload of payloadSize bytes.
bool bytesInside(qsizetype payloadSize, qint64 offset, qint64 count);
// The count (1 to 8) bytes from offset as an unsigned number; the bytes must lie inside data.
quint64 readUnsigned(const QByteArray &data, qsizetype offset, int count, bool bigEndian);
// A count-byte number read as two's complement.
qint64 signExtend(quint64 raw, int count);

// Rounding half away from zero (add 0.5 when y >= 0, else subtract 0.5, then truncate); values
// outside the target range saturate, NaN gives 0.
qint32 roundToInt32(double y);
qint64 roundToInt64(double y);
// Truncation toward zero into 64 unsigned bits: a negative value keeps its two's complement,
// values outside the range saturate, NaN gives 0.
quint64 truncateToUInt64(double y);

} // namespace RegisterText
