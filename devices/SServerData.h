#pragma once

#include <QJsonObject>
#include <QString>

// A register filled from the uplink's metadata (one of serverKeywordTable's values).
struct SServerData
{
    SServerData() = default;
    explicit SServerData(const QJsonObject &object);

    QString dataCode;
    int bitSize = 0;
    QString type;
    int regMapBias = 0;
    int regBitBias = 0;
    int regBitSize = 0;
    QString dataName;
    bool valid = false;
};
