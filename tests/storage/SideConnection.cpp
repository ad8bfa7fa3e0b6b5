#include "SideConnection.h"

#include "CDataBaseHandler.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUuid>

SideConnection::SideConnection(const QString &file)
    : name(QStringLiteral("side-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    if (!db.open())
        error = db.lastError().text();
}

SideConnection::~SideConnection()
{
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

bool SideConnection::isOpen() const
{
    return QSqlDatabase::database(name, false).isOpen();
}

bool SideConnection::exec(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(name, false));
    if (query.exec(sql))
        return true;
    error = query.lastError().text();
    return false;
}

QVariant SideConnection::scalar(const QString &sql)
{
    const QList<QVariantList> all = rows(sql);
    return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
}

QList<QVariantList> SideConnection::rows(const QString &sql)
{
    QList<QVariantList> result;
    QSqlQuery query(QSqlDatabase::database(name, false));
    if (!query.exec(sql)) {
        error = query.lastError().text();
        return result;
    }
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row.append(query.value(i));
        result.append(row);
    }
    return result;
}

QStringList SideConnection::column(const QString &sql)
{
    QStringList values;
    for (const QVariantList &row : rows(sql))
        values.append(row.value(0).toString());
    return values;
}

void SideConnection::waitUntilSeen()
{
    QThread::msleep(quint64(CDataBaseHandler::OutsideChangeCheckMs) + 5);
}
