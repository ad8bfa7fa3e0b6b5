#pragma once

#include <QString>
#include <QStringList>

namespace DB {

// Fills a statement template: %1 takes the first name, %2 the second, and so on; a number that
// occurs several times is replaced everywhere.
QString fillTemplate(const QString &statementTemplate, const QStringList &names);

} // namespace DB
