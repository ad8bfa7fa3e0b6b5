#include "TemplateDecoder.h"

#include "HexText.h"
#include "RegisterText.h"
#include "SServerKeyword.h"
#include "SharedConstants.h"

namespace TemplateDecoder {

namespace {

using namespace RegisterText;

const QString Prefix = QStringLiteral("[CAllDeviceHandler::processDataSlot] ");

void appendRegister(DB::SDbDeviceRegDataSet &set, const QString &value, qint64 offset,
                    const QString &fullValue)
{
    if (value.isEmpty())
        return;
    set.regValues.append({value, fullValue, quint32(offset)});
}

QString typeByteText(uchar type)
{
    return QStringLiteral("%1").arg(uint(type), 2, 10, QLatin1Char('0'));
}

// A 32-bit value over one or two registers: two when the register area is wider than 16 bits.
void appendWords32(DB::SDbDeviceRegDataSet &set, const QString &t, qint64 reg, int areaBits)
{
    int k = 0;
    if (areaBits > 16) {
        appendRegister(set, t.mid(0, 4), reg, t.mid(0, 8));
        k = 1;
    }
    appendRegister(set, t.mid(4, 4), reg + k, k == 1 ? QString() : t.mid(4, 4));
}

// An EUI text over one to four registers, its last characters always.
void appendEuiText(DB::SDbDeviceRegDataSet &set, const QString &s, qint64 reg, int areaBits)
{
    int k = 0;
    if (areaBits > 48) {
        appendRegister(set, s.mid(0, 4), reg, s);
        k = 1;
    }
    if (areaBits > 32) {
        appendRegister(set, s.mid(4, 4), reg + k, k > 0 ? QString() : s.mid(4, 12));
        ++k;
    }
    if (areaBits > 16) {
        appendRegister(set, s.mid(8, 4), reg + k, k > 0 ? QString() : s.mid(8, 8));
        ++k;
    }
    appendRegister(set, s.mid(12, 4), reg + k, k > 0 ? QString() : s.mid(12, 4));
}

void appendServerData(DB::SDbDeviceRegDataSet &set, const SServerData &data,
                      const API::SApiDeviceData &uplink, const LogSink &log)
{
    const qint64 reg = data.regMapBias;
    const QString &code = data.dataCode;
    if (!serverKeywordTable.contains(code)) {
        log(QStringLiteral("WARNING: ") + Prefix
            + QStringLiteral("Uncknown DataCode [%1]!").arg(code));
        return;
    }
    if (code == QLatin1String("ts")) {
        const QString t = hexText(quint64(uplink.ts / 1000), 8);
        appendRegister(set, t.left(4), reg, t);
        appendRegister(set, t.right(4), reg + 1, QString());
    } else if (code == QLatin1String("rssi")) {
        const QString t = lastChars(hexText(qint64(uplink.rssi), 4), 4);
        appendRegister(set, t, reg, t);
    } else if (code == QLatin1String("snr")) {
        const QString t = lastChars(hexText(qint64(roundToInt32(uplink.snr)), 8), 8);
        appendWords32(set, t, reg, data.regBitSize);
    } else if (code == QLatin1String("fcnt")) {
        const QString t = lastChars(hexText(quint64(uplink.fcnt), 8), 8);
        appendWords32(set, t, reg, data.regBitSize);
    } else if (code == QLatin1String("gatewayId")) {
        appendEuiText(set, uplink.gatewayId, reg, data.regBitSize);
    } else if (code == QLatin1String("devEui")) {
        appendEuiText(set, uplink.devEui, reg, data.regBitSize);
    }
}

// The register text of a numeric field of n bytes after scaling.
QString numberText(quint64 raw, int n, bool isSigned, const DB::SRegisterParam &p)
{
    const qint64 signedRaw = isSigned ? signExtend(raw, n) : qint64(raw);
    // Default scaling keeps the raw number exact, also for 64-bit values a double cannot hold.
    const bool identity = p.multiplier == 1.0 && p.extraValue == 0.0;
    if (n == 8 && !isSigned) {
        const quint64 value
            = identity ? raw : truncateToUInt64(double(raw) * p.multiplier + p.extraValue);
        return lastChars(hexText(value, 16), 16);
    }
    const double y = (isSigned ? double(signedRaw) : double(raw)) * p.multiplier + p.extraValue;
    if (n <= 2) {
        const qint32 value = identity ? qint32(signedRaw) : roundToInt32(y);
        return lastChars(hexText(qint64(value), 4), 4);
    }
    const qint64 value = identity ? signedRaw : roundToInt64(y);
    const int width = n == 4 ? 8 : 16;
    return lastChars(hexText(value, width), width);
}

void appendField(DB::SDbDeviceRegDataSet &set, const SDevicePacketField &field,
                 const API::SApiDeviceData &uplink, int startAddr, const ScalingLookup &scaling,
                 const LogSink &log)
{
    const qint64 reg = field.regMapBias;
    if (field.dataBitBias % 8 != 0 || field.dataBitSize % 8 != 0) {
        log(QStringLiteral("ERROR: ") + Prefix + QStringLiteral("Unsupport functional"));
        return;
    }
    const int n = field.dataBitSize / 8;
    if (n != 1 && n != 2 && n != 4 && n != 8) {
        log(QStringLiteral("WARNING: ") + Prefix
            + QStringLiteral("Unsupport size of data [%1]").arg(n));
        return;
    }
    const QByteArray &payload = uplink.data;
    if (!bytesInside(payload.size(), field.packetBias, n)) {
        log(QStringLiteral("WARNING: ") + Prefix
            + QStringLiteral("Field [%1] lies outside the packet: bias [%2], size [%3], real [%4]")
                  .arg(field.dataName, QString::number(field.packetBias), QString::number(n),
                       QString::number(payload.size())));
        return;
    }

    QString text;
    if (field.dataType == DataType::Integer || field.dataType == DataType::UInteger) {
        const quint64 raw = readUnsigned(payload, field.packetBias, n, field.endianness == 1);
        const DB::SRegisterParam p = scaling(quint32(startAddr) + quint32(field.regMapBias));
        text = numberText(raw, n, field.dataType == DataType::Integer, p);
    } else if (field.dataType == DataType::Text) {
        text = QString::fromUtf8(payload.mid(field.packetBias, n));
    } else {
        log(QStringLiteral("WARNING: ") + Prefix
            + QStringLiteral("Unsupport data type [%1] for size [%2]")
                  .arg(field.dataType, QString::number(n)));
        return;
    }

    if (n <= 2) {
        appendRegister(set, text, reg, text);
        return;
    }
    appendRegister(set, text.mid(0, 4), reg, text);
    for (int k = 1; k < n / 2; ++k)
        appendRegister(set, text.mid(4 * k, 4), reg + k, QString());
}

} // namespace

std::optional<DB::SDbDeviceRegDataSet> decode(const SDeviceTemplate &deviceTemplate,
                                              const API::SApiDeviceData &uplink, int startAddr,
                                              const ScalingLookup &scaling, const LogSink &log)
{
    DB::SDbDeviceRegDataSet set;
    set.devEui = uplink.devEui;
    set.startAddr = startAddr;

    for (const SServerData &data : deviceTemplate.serverData)
        appendServerData(set, data, uplink, log);

    const QByteArray &payload = uplink.data;
    const uchar type = payload.isEmpty() ? 0 : uchar(payload.at(0));
    const auto packet = deviceTemplate.packets.constFind(type);
    if (payload.isEmpty() || packet == deviceTemplate.packets.constEnd()) {
        log(QStringLiteral("WARNING: ") + Prefix
            + QStringLiteral("Uncknown packet type [%1]").arg(typeByteText(type)));
        return std::nullopt;
    }
    if (qint64(packet->packetSize) != qint64(payload.size())) {
        log(QStringLiteral("WARNING: ") + Prefix
            + QStringLiteral("Invalid size of packet [%1][%2]. Expect [%3], real [%4]")
                  .arg(typeByteText(type), hexText(payload), QString::number(packet->packetSize),
                       QString::number(payload.size())));
        return std::nullopt;
    }
    for (const SDevicePacketField &field : packet->fields)
        appendField(set, field, uplink, startAddr, scaling, log);
    return set;
}

} // namespace TemplateDecoder
