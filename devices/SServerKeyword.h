#pragma once

#include <QMap>
#include <QString>

// One uplink metadata value that a template may map onto registers.
struct SServerKeyword
{
    QString name;
    int bitSize = 0;
    QString type;
};

// The metadata values a template's "server_data" may name, by their case-sensitive code.
extern const QMap<QString, SServerKeyword> serverKeywordTable;
