#include "SqlTemplate.h"

namespace DB {

QString fillTemplate(const QString &statementTemplate, const QStringList &names)
{
    QString text = statementTemplate;
    // arg() replaces the lowest-numbered placeholder left, so one call per name fills them in
    // order.
    for (const QString &name : names)
        text = text.arg(name);
    return text;
}

} // namespace DB
