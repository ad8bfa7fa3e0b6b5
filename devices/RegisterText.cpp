#include "RegisterText.h"

#include <cmath>
#include <limits>

namespace RegisterText {

namespace {
constexpr double TwoPow63 = 9223372036854775808.0;
constexpr double TwoPow64 = 18446744073709551616.0;

// Truncated toward zero and kept inside [min, max]; NaN gives 0.
qint64 clampTruncate(double r, qint64 min, qint64 max)
{
    if (std::isnan(r))
        return 0;
    if (r >= double(max) + 1.0 || r >= TwoPow63)
        return max;
    if (r <= double(min) - 1.0 || r < -TwoPow63)
        return min;
    return qint64(r);
}

double addHalfAway(double y)
{
    return y >= 0 ? y + 0.5 : y - 0.5;
}
} // namespace

QString hexText(quint64 x, int width)
{
    return QString::number(x, 16).rightJustified(width, QLatin1Char('0'));
}

QString hexText(qint64 x, int width)
{
    if (x >= 0)
        return hexText(quint64(x), width);
    quint64 bits = quint64(x);
    if (width > 0 && width < 16)
        bits &= (quint64(1) << (4 * width)) - 1;
    return hexText(bits, width);
}

QString lastChars(const QString &text, int width)
{
    return text.right(width);
}

bool bytesInside(qsizetype payloadSize, qint64 offset, qint64 count)
{
    return offset >= 0 && count >= 0 && offset <= qint64(payloadSize)
           && count <= qint64(payloadSize) - offset;
}

quint64 readUnsigned(const QByteArray &data, qsizetype offset, int count, bool bigEndian)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype index = bigEndian ? offset + i : offset + count - 1 - i;
        value = (value << 8) | uchar(data.at(index));
    }
    return value;
}

qint64 signExtend(quint64 raw, int count)
{
    if (count >= 8)
        return qint64(raw);
    const int shift = 64 - 8 * count;
    return qint64(raw << shift) >> shift;
}

qint32 roundToInt32(double y)
{
    return qint32(clampTruncate(addHalfAway(y), std::numeric_limits<qint32>::min(),
                                std::numeric_limits<qint32>::max()));
}

qint64 roundToInt64(double y)
{
    return clampTruncate(addHalfAway(y), std::numeric_limits<qint64>::min(),
                         std::numeric_limits<qint64>::max());
}

quint64 truncateToUInt64(double y)
{
    if (std::isnan(y))
        return 0;
    if (y >= TwoPow64)
        return std::numeric_limits<quint64>::max();
    if (y >= TwoPow63)
        return quint64(y);
    return quint64(
        clampTruncate(y, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()));
}

} // namespace RegisterText
