#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// A second connection to a database file, for reading rows behind the handler's back and for
// forcing failures (triggers, renamed tables).
class SideConnection
{
public:
    explicit SideConnection(const QString &file = QStringLiteral("server.db"));
    ~SideConnection();
    SideConnection(const SideConnection &) = delete;
    SideConnection &operator=(const SideConnection &) = delete;

    bool isOpen() const;
    // Runs one statement; on failure the error is kept in lastError().
    bool exec(const QString &sql);
    QString lastError() const { return error; }
    // First column of the first row (invalid when there is none).
    QVariant scalar(const QString &sql);
    // All rows, each as its column values.
    QList<QVariantList> rows(const QString &sql);
    // First column of every row, as text.
    QStringList column(const QString &sql);

    // Waits until register-image reads of the storage object are sure to see what another
    // connection changed: it looks for such changes only every few milliseconds.
    static void waitUntilSeen();

private:
    QString name;
    QString error;
};
