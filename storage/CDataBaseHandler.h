#pragma once

#include "DbRecords.h"
#include "ProtocolOption.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <QString>
#include <QStringList>
#include <tuple>

// Owner of the SQLite database "server.db": devices of both kinds, their register descriptions
// and the last value of every register. Lives on a thread of its own; only saveRegisterData runs
// there, every other operation is a direct call. One mutex serialises all operations.
class CDataBaseHandler : public QObject
{
    Q_OBJECT
public:
    // nullptr once after a failed construction (the file can't be opened, is no database, or
    // has tables with other columns); the next call tries the database again. A connection
    // named DB::DbNames::ConnectionName that exists already is used as it is set up: tests open
    // the file read-only that way (connect option QSQLITE_OPEN_READONLY).
    static CDataBaseHandler *getInstance();
    // The reason of the last failed construction (empty when none failed).
    static QString lastErrorText();

    // A file that another program holds locked (a backup, a database browser) is not refused at
    // once: when the first read gives up on the lock after the connection's busy time-out, a
    // warning is logged and the read is tried again for this long before the file is refused.
    static constexpr int LockWaitMs = 60000;
    // Seam for tests: the lock wait of handlers made from now on (LockWaitMs unless changed).
    static void setLockWaitForNewHandlers(int milliseconds);
    static int lockWaitForNewHandlers() { return lockWaitMs; }
    // The statements that look a device up by DevEUI, with their placeholders, so that their
    // query plans can be checked: each must search an index, whatever the number of devices.
    static QStringList devEuiLookups();

    ~CDataBaseHandler() override;

    // True when the file was opened but can't be written (a read-only file, folder or mount): every
    // read works, every write fails with its own log lines.
    bool isReadOnly() const;

    bool registerNewDevice(const DB::SDeviceRegMapDescription &devInfo, ProtocolOption protocol);
    bool deleteDevice(quint32 deviceId, ProtocolOption protocol);
    QSqlQuery getDevices(QString searchText, ProtocolOption protocol);
    QStringList getRegisteredDevices(ProtocolOption protocol);
    QSqlQuery getRegisters(quint32 deviceId);
    bool updateRegInfo(DB::SRegInfoUpdate info);
    bool updateTCPRegInfo(DB::SRegInfoUpdate info);
    DB::SRegisterParam getRegisterParam(QString devEui, quint32 regAddr);
    // A change committed by another connection reaches getRegisterData at most this much later;
    // the handler's own writes are seen by the very next read.
    static constexpr qint64 OutsideChangeCheckMs = 50;
    // The registers of the range on the port, 0 where no value lies; a wide value gives its
    // words high word first, also to a range that begins inside it. Where rows overlap, they are
    // laid down by address, then in registration order: the one laid down last wins.
    // *ok is false when the query failed; an empty image for count 0 is a success.
    DB::RegisterImage getRegisterData(quint32 port, quint32 startAddr, quint32 count,
                                      bool *ok = nullptr);
    // On by default. Off, every read runs the range statement, as when the version check fails:
    // a seam for tests that compare the two ways of reading.
    void setImageCacheEnabled(bool enabled);

public slots:
    // Reached by name with Qt::BlockingQueuedConnection; runs on the storage thread.
    void saveRegisterData(DB::SDbDeviceRegDataSet regData);

private:
    CDataBaseHandler();

    void failConstruction(const QString &text, const QString &reason);
    // The first read of the file, waiting out a lock held by another program.
    bool readSchema(QSqlQuery &query);
    // Column names of a table in the open file, in table order; empty when there is no such table.
    QStringList existingColumns(const QString &table);
    bool refusesWrites();
    bool createIndexes(const QList<DB::DbIndexDefinition> &indexes, const QString &table);
    // The gateway's own indexes: a failure is a warning, the lookups work without them.
    void createLookupIndexes(const QList<DB::DbIndexDefinition> &indexes, const QString &table);

    bool checkNewDevice(QSqlQuery &query, const QString &table, const QString &devEui);
    bool insertDeviceRow(QSqlQuery &query, const QString &table,
                         const DB::SDeviceRegMapDescription &devInfo, ProtocolOption protocol);
    bool selectDeviceId(QSqlQuery &query, const QString &table, const QString &devEui,
                        quint32 &deviceId);
    bool insertDeviceRegisters(QSqlQuery &query, quint32 deviceId,
                               const DB::SDeviceRegMapDescription &devInfo);
    // One operation's transaction: begun, then committed when it succeeded and rolled back
    // otherwise (or when the commit fails); failures are logged with the operation's name.
    bool beginTransaction(const char *method);
    bool endTransaction(bool done, const char *method);

    QSqlDatabase db;
    QMutex mutex;
    bool readOnly = false;
    // The register-image read runs for every Modbus request and the scaling lookup for every
    // decoded field, so their statements are kept prepared.
    QSqlQuery registerDataQuery;
    bool registerDataPrepared = false;
    QSqlQuery registerParamQuery;
    bool registerParamPrepared = false;
    // One register row as the register image needs it.
    struct SImageRow
    {
        bool comparable = false; // a number, as SQLite compares reg_addr with a range
        bool isReal = false;
        qint64 intAddr = 0;
        double realAddr = 0.0;
        quint32 address = 0;
        qint64 firstWord = 0; // the address of the row's first word, for words before a range
        int bits = 0;
        QByteArray bytes;

        bool inRange(qint64 first, qint64 last) const;
    };
    static SImageRow imageRowOf(const QSqlQuery &query);
    void forgetImages();

    // The rows of each port read so far, in the order they were read; every range of the port
    // is cut from them. Cleared together with the images below.
    QHash<quint32, QList<SImageRow>> portRows;
    QSqlQuery portRowsQuery;
    bool portRowsPrepared = false;
    // Register images already read, by (port, start address, count). Cleared by every write of
    // this object and when another connection has changed the database file; such a change is
    // looked for at most once per OutsideChangeCheckMs, so it may be served that much later.
    bool imageCacheUsable();
    bool imageCacheEnabled = true;
    QMap<std::tuple<quint32, quint32, quint32>, DB::RegisterImage> imageCache;
    QSqlQuery dataVersionQuery;
    bool dataVersionPrepared = false;
    qint64 cachedDataVersion = -1;
    QElapsedTimer dataVersionAge;

    static CDataBaseHandler *self;
    static bool failed;
    static QString lastError;
    static int lockWaitMs;
};
