#include "SServerKeyword.h"

#include "SharedConstants.h"

const QMap<QString, SServerKeyword> serverKeywordTable = {
    {QStringLiteral("devEui"), {QStringLiteral("devEui"), 64, DataType::Text}},
    {QStringLiteral("fcnt"), {QStringLiteral("fcnt"), 32, DataType::UInteger}},
    {QStringLiteral("gatewayId"), {QStringLiteral("gatewayId"), 64, DataType::Text}},
    {QStringLiteral("rssi"), {QStringLiteral("rssi"), 16, DataType::Integer}},
    {QStringLiteral("snr"), {QStringLiteral("snr"), 16, DataType::Integer}},
    {QStringLiteral("ts"), {QStringLiteral("ts"), 64, DataType::UInteger}},
};
