#include "SServerData.h"

#include "CLogFile.h"
#include "SServerKeyword.h"
#include "TemplateJson.h"

#include <QDebug>

namespace {
const QStringList RequiredKeys = {
    QStringLiteral("data_code"),    QStringLiteral("reg_map_bias"), QStringLiteral("reg_bit_bias"),
    QStringLiteral("reg_bit_size"), QStringLiteral("data_name"),
};
} // namespace

SServerData::SServerData(const QJsonObject &object)
{
    if (object.isEmpty()) {
        qDebug() << "[SServerData] Empty input JSON";
        return;
    }
    if (!TemplateJson::containsAll(object, RequiredKeys)) {
        qDebug() << "[SServerData] Invalid input JSON";
        return;
    }
    if (TemplateJson::anyNull(object, RequiredKeys)) {
        qDebug() << "[SServerData] One or several values of input JSON is NULL";
        return;
    }
    dataCode = object.value(RequiredKeys.at(0)).toString();
    const auto keyword = serverKeywordTable.constFind(dataCode);
    if (keyword == serverKeywordTable.constEnd()) {
        addLog(QStringLiteral("ERROR: [SServerData] Server keyword [%1] is unknown!").arg(dataCode),
               CLogFile::LogInfo);
        return;
    }
    bitSize = keyword->bitSize;
    type = keyword->type;
    qDebug().noquote() << QStringLiteral("[%1] - bitSize[%2], type[%3]")
                              .arg(dataCode, QString::number(bitSize), type);
    regMapBias = object.value(RequiredKeys.at(1)).toInt(0);
    regBitBias = object.value(RequiredKeys.at(2)).toInt(0);
    regBitSize = object.value(RequiredKeys.at(3)).toInt(0);
    dataName = object.value(RequiredKeys.at(4)).toString();
    valid = true;
}
