#pragma once

#include <QStringList>

// The lines saveRegisterData logs for each register whose update fails, in the order given.
inline QStringList saveFailureLines(const QString &deviceId, const QStringList &addresses)
{
    const QString statement = QStringLiteral(
        "UPDATE dev_data SET value=:value, full_value=:full_value, time=:time WHERE "
        "device=:device AND reg_addr=:reg_addr;");
    QStringList lines;
    for (const QString &address : addresses)
        lines << QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request "
                                "[2]")
              << QStringLiteral("    Query [%1]").arg(statement)
              << QStringLiteral("    Set: deviceId[%1], regAddr[%2]").arg(deviceId, address);
    return lines;
}
