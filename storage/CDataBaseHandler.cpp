#include "CDataBaseHandler.h"

#include "CLogFile.h"
#include "SqlTemplate.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSet>
#include <QSqlError>
#include <QThread>
#include <QVariant>

#include <tuple>

CDataBaseHandler *CDataBaseHandler::self = nullptr;
bool CDataBaseHandler::failed = false;
QString CDataBaseHandler::lastError;
int CDataBaseHandler::lockWaitMs = CDataBaseHandler::LockWaitMs;

namespace {

const QString IndexContext = QStringLiteral("CDataBaseHandler::{ctor}::<lambda_1>::operator ()");

// Column name of a table, by index.
const QString &devCol(DB::DeviceCol::Index index)
{
    return DB::DeviceColumns.at(index);
}

const QString &dataCol(DB::DevDataCol::Index index)
{
    return DB::DevDataColumns.at(index);
}

QString placeholder(const QString &column)
{
    return QLatin1Char(':') + column;
}

const QString &deviceTableFor(ProtocolOption protocol)
{
    return protocol == ProtocolTCP ? DB::DbNames::DevicesTcpTable : DB::DbNames::DevicesTable;
}

// The id of the device with the DevEUI bound to :dev_eui, NULL when there is none. Compared
// without regard to letter case: files written before hold DevEUIs as the server listed them. Of
// two spellings of one DevEUI in such a file the exact one is taken, else the older row. Each
// part searches an index in its order, the exact one first, as nearly every lookup is.
QString deviceIdSelect(const QString &table)
{
    return DB::fillTemplate(
        QStringLiteral("SELECT COALESCE(( SELECT %1.%2 FROM %1 WHERE %1.%3=:%3 ORDER BY %1.%2 "
                       "LIMIT 1 ), ( SELECT %1.%2 FROM %1 WHERE upper(%1.%3)=upper(:%3) ORDER BY "
                       "%1.%2 LIMIT 1 ))"),
        {table, devCol(DB::DeviceCol::Device), devCol(DB::DeviceCol::DevEui)});
}

// The count of devices of the table with the DevEUI bound to :dev_eui, in any letter case.
QString duplicateCount(const QString &table)
{
    return DB::fillTemplate(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE upper(%2)=upper(:%2);"),
                            {table, devCol(DB::DeviceCol::DevEui)});
}

// The register at :reg_addr of the device that deviceIdSelect finds.
QString registerParamSelect()
{
    using DB::DevDataCol::Index;
    return DB::fillTemplate(QStringLiteral("SELECT * FROM %1 WHERE %1.%2 = ( %3 ) AND %1.%4=:%4;"),
                            {DB::DbNames::DevDataTable, dataCol(Index::Device),
                             deviceIdSelect(DB::DbNames::DevicesTable), dataCol(Index::RegAddr)});
}

QString indexStatement(const QString &table, const DB::DbIndexDefinition &index)
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 ( %3 );")
        .arg(index.name, table, index.columns.join(QStringLiteral(", ")));
}

QVariant nullText()
{
    return QVariant(QMetaType::fromType<QString>());
}

// One register word from the value bytes: high byte first, a missing byte counts as 0.
uint16_t wordAt(const QByteArray &bytes, qsizetype first)
{
    const uint16_t high = first < bytes.size() ? uchar(bytes.at(first)) : 0;
    const uint16_t low = first + 1 < bytes.size() ? uchar(bytes.at(first + 1)) : 0;
    return uint16_t(high << 8 | low);
}

// Column lists compared as SQLite compares names: ASCII letters match in either case.
bool sameColumns(const QStringList &found, const QStringList &expected)
{
    const auto folded = [](QString name) {
        for (QChar &c : name) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + (u'a' - u'A'));
        }
        return name;
    };
    if (found.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (folded(found.at(i)) != folded(expected.at(i)))
            return false;
    }
    return true;
}

// SQLite's result code for a write to a database it opened for reading only (SQLITE_READONLY),
// and the mask that takes an extended result code back to its primary code.
constexpr int SqliteReadOnly = 8;
constexpr int PrimaryResultMask = 0xff;
// SQLite's result code for a file that another connection holds locked (SQLITE_BUSY).
constexpr int SqliteBusy = 5;

bool isLockedOut(const QSqlError &error)
{
    return (error.nativeErrorCode().toInt() & PrimaryResultMask) == SqliteBusy;
}

// Pause between two reads of a locked file when SQLite gave up at once, without waiting.
constexpr int LockRetryPauseMs = 100;

// SQLite's own words for a failure, else Qt's.
QString errorReason(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// Addresses wrap at 16 bits, so no range is longer than this.
constexpr quint32 AddressSpace = 0x10000;
// Distinct Modbus read ranges remembered before the image cache starts over.
constexpr int MaxCachedImages = 1024;
// A decoded value is at most 64 bits wide, so a row that begins this many registers before a
// range may still have words inside it.
constexpr qint64 WordsBeforeRange = 3;

} // namespace

QStringList CDataBaseHandler::devEuiLookups()
{
    using DB::DbNames::DevicesTable;
    using DB::DbNames::DevicesTcpTable;
    return {deviceIdSelect(DevicesTable) + QLatin1Char(';'),
            deviceIdSelect(DevicesTcpTable) + QLatin1Char(';'), duplicateCount(DevicesTable),
            duplicateCount(DevicesTcpTable), registerParamSelect()};
}

CDataBaseHandler::CDataBaseHandler() : QObject(nullptr)
{
    using namespace DB;

    // A handler that failed before leaves its named connection behind; take it up again.
    db = QSqlDatabase::contains(DbNames::ConnectionName)
             ? QSqlDatabase::database(DbNames::ConnectionName, false)
             : QSqlDatabase::addDatabase(DbNames::SqlDriver, DbNames::ConnectionName);
    db.setDatabaseName(DbNames::DatabaseFile);
    if (!db.open()) {
        const QString reason = db.lastError().text();
        failConstruction(QStringLiteral("CRITICAL_ERROR! Data base hasn't been created/opened! "
                                        "Error_text[%1]. DataBaseHandler is not running!")
                             .arg(reason),
                         reason);
        return;
    }

    // SQLite opens any file and finds out only on the first read whether it holds a database:
    // read the schema now, so that any other file is refused before anything is written to it.
    QSqlQuery schemaRead(db);
    if (!readSchema(schemaRead)) {
        const QString reason = errorReason(schemaRead.lastError());
        failConstruction(QStringLiteral("ERROR! The data base file can't be read: %1! "
                                        "DataBaseHandler is not running!")
                             .arg(reason),
                         reason);
        return;
    }
    schemaRead.finish();

    struct STableDefinition
    {
        QString name;
        QString statementTemplate;
        QStringList columns;
        int expectedColumns = 0;
    };
    const QList<STableDefinition> tables = {
        {DbNames::DevicesTable,
         QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ( %2 INTEGER PRIMARY KEY AUTOINCREMENT NOT "
                        "NULL UNIQUE, %3 TEXT, %4 TEXT, %5 TEXT, %6 INTEGER, %7 INTEGER ); "),
         DeviceColumns, 6},
        {DbNames::DevicesTcpTable,
         QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ( %2 INTEGER PRIMARY KEY AUTOINCREMENT NOT "
                        "NULL UNIQUE, %3 TEXT, %4 TEXT, %5 TEXT, %6 INTEGER ); "),
         DeviceColumns.mid(0, 5), 6},
        {DbNames::DevDataTable,
         QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ( %2 INTEGER NOT NULL, %3 INTEGER, %4 "
                        "INTEGER, %5 INTEGER, %6 REAL, %7 REAL, %8 TEXT, %9 TEXT DEFAULT NULL, "
                        "%10 TEXT DEFAULT NULL, %11 INTEGER DEFAULT NULL, %12 TEXT DEFAULT NULL, "
                        "%13 TEXT DEFAULT NULL, %14 INTEGER, %15 INTEGER ); "),
         DevDataColumns, 14},
    };

    // Rows are read by column index, so a table made with other columns would be misread: refuse
    // the file before anything is written to it.
    for (const STableDefinition &table : tables) {
        const QStringList found = existingColumns(table.name);
        if (found.isEmpty() || sameColumns(found, table.columns))
            continue;
        const QString reason
            = QStringLiteral("Table \"%1\" has unexpected columns [%2], expected [%3]")
                  .arg(table.name, found.join(QStringLiteral(", ")),
                       table.columns.join(QStringLiteral(", ")));
        failConstruction(QStringLiteral("ERROR! %1! DataBaseHandler is not running!").arg(reason),
                         reason);
        return;
    }
    readOnly = refusesWrites();

    QSqlQuery query(db);
    for (const STableDefinition &table : tables) {
        const int listSize
            = table.name == DbNames::DevDataTable ? DevDataColumns.size() : DeviceColumns.size();
        if (listSize != table.expectedColumns) {
            const QString text = QStringLiteral("ERROR! Invalid size of colums in table \"%1\"! "
                                                "DataBaseHandler is not running!")
                                     .arg(table.name);
            failConstruction(text, text);
            return;
        }
        if (!query.exec(
                fillTemplate(table.statementTemplate, QStringList{table.name} + table.columns))) {
            const QString text
                = QStringLiteral("ERROR! Table \"%1\" is not created!").arg(table.name);
            qDebug().noquote() << text;
            addLog(text);
        }
    }

    if (createIndexes(DbIndexLists::Devices, DbNames::DevicesTable)
        && createIndexes(DbIndexLists::DevicesTcp, DbNames::DevicesTcpTable)
        && createIndexes(DbIndexLists::DevData, DbNames::DevDataTable)) {
        createLookupIndexes(DbIndexLists::DevicesLookup, DbNames::DevicesTable);
        createLookupIndexes(DbIndexLists::DevicesTcpLookup, DbNames::DevicesTcpTable);
    }
}

CDataBaseHandler::~CDataBaseHandler() = default;

CDataBaseHandler *CDataBaseHandler::getInstance()
{
    if (!self)
        self = new CDataBaseHandler();
    if (failed) {
        // The failed object removes itself through deleteLater(); the next call starts over.
        self = nullptr;
        failed = false;
        return nullptr;
    }
    return self;
}

QString CDataBaseHandler::lastErrorText()
{
    return lastError;
}

void CDataBaseHandler::setLockWaitForNewHandlers(int milliseconds)
{
    lockWaitMs = milliseconds;
}

bool CDataBaseHandler::readSchema(QSqlQuery &query)
{
    const QString statement = QStringLiteral("SELECT COUNT(*) FROM sqlite_master;");
    if (query.exec(statement))
        return true;
    if (!isLockedOut(query.lastError()))
        return false;

    const int waitMs = lockWaitMs;
    addLogAndPrint(QStringLiteral("WARNING: [CDataBaseHandler::readSchema] The data base file "
                                  "\"%1\" is locked by another program: waiting up to %2 s for "
                                  "it to be released.")
                       .arg(QDir::current().absoluteFilePath(DB::DbNames::DatabaseFile),
                            QString::number(waitMs / 1000.0)),
                   CLogFile::LogError);
    // Start-up waits in the log's thread: let the line reach the file now, not after the wait.
    if (CLogFile *log = CLogFile::instance(); log && log->thread() == QThread::currentThread())
        QCoreApplication::sendPostedEvents(log, QEvent::MetaCall);

    // Each read waits inside SQLite for the rest of the wait; the connection's own busy time-out
    // is put back afterwards.
    QSqlQuery setting(db);
    const int busyTimeout = setting.exec(QStringLiteral("PRAGMA busy_timeout;")) && setting.next()
                                ? setting.value(0).toInt()
                                : -1;
    setting.finish();
    QElapsedTimer waited;
    waited.start();
    bool done = false;
    for (qint64 left = waitMs; !done && left > 0; left = waitMs - waited.elapsed()) {
        setting.exec(QStringLiteral("PRAGMA busy_timeout = %1;").arg(left));
        setting.finish();
        QElapsedTimer attempt;
        attempt.start();
        done = query.exec(statement);
        if (!done && !isLockedOut(query.lastError()))
            break;
        if (!done && attempt.elapsed() < LockRetryPauseMs)
            QThread::msleep(quint64(qMin<qint64>(LockRetryPauseMs, left)));
    }
    if (busyTimeout >= 0)
        setting.exec(QStringLiteral("PRAGMA busy_timeout = %1;").arg(busyTimeout));
    return done;
}

void CDataBaseHandler::failConstruction(const QString &text, const QString &reason)
{
    qDebug().noquote() << text;
    addLog(text);
    lastError = reason;
    failed = true;
    deleteLater();
}

bool CDataBaseHandler::isReadOnly() const
{
    return readOnly;
}

bool CDataBaseHandler::refusesWrites()
{
    // A write that is always rolled back: it leaves the file as it is, but SQLite refuses it at
    // once when it opened the file for reading only or can't make a journal beside it.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version;")) || !query.next())
        return false;
    const QString version = query.value(0).toString();
    query.finish();
    if (!db.transaction())
        return false;
    const bool refused
        = !query.exec(QStringLiteral("PRAGMA user_version = %1;").arg(version))
          && (query.lastError().nativeErrorCode().toInt() & PrimaryResultMask) == SqliteReadOnly;
    db.rollback();
    return refused;
}

QStringList CDataBaseHandler::existingColumns(const QString &table)
{
    // table_xinfo also lists generated columns, which SELECT * returns as well.
    QSqlQuery query(db);
    QStringList columns;
    if (!query.exec(QStringLiteral("PRAGMA table_xinfo(%1);").arg(table)))
        return columns;
    while (query.next())
        columns.append(query.value(1).toString());
    return columns;
}

bool CDataBaseHandler::createIndexes(const QList<DB::DbIndexDefinition> &indexes,
                                     const QString &table)
{
    if (indexes.isEmpty()) {
        addLog(QStringLiteral("WARNING: [%1-%2] Empty input index list for <%3>")
                   .arg(IndexContext, QString::number(208), table),
               CLogFile::LogError);
        return false;
    }
    QSqlQuery query(db);
    for (const DB::DbIndexDefinition &index : indexes) {
        const QString text = indexStatement(table, index);
        if (!query.exec(text)) {
            addLog(QStringLiteral("ERROR [%1-%2]: invalid sql request 3 for <%3.%4>!")
                       .arg(IndexContext, QString::number(232), table, index.name),
                   CLogFile::LogError);
            addLog(text, CLogFile::LogError);
            return false;
        }
    }
    return true;
}

void CDataBaseHandler::createLookupIndexes(const QList<DB::DbIndexDefinition> &indexes,
                                           const QString &table)
{
    QSqlQuery query(db);
    for (const DB::DbIndexDefinition &index : indexes) {
        // Without it every lookup reads the whole table, but it still finds the device.
        if (!query.exec(indexStatement(table, index)))
            addLog(QStringLiteral("WARNING: [CDataBaseHandler::createLookupIndexes] Index <%1.%2> "
                                  "is not created: %3. Each DevEUI lookup reads the whole table.")
                       .arg(table, index.name, errorReason(query.lastError())));
    }
}

bool CDataBaseHandler::registerNewDevice(const DB::SDeviceRegMapDescription &devInfo,
                                         ProtocolOption protocol)
{
    QMutexLocker locker(&mutex);
    forgetImages();
    if (protocol != ProtocolModbus && protocol != ProtocolTCP) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Unknown protocol [%1]!")
                   .arg(int(protocol)));
        return false;
    }
    if (!beginTransaction("registerNewDevice"))
        return false;

    // DevEUIs are stored in upper case, as uplinks carry them.
    DB::SDeviceRegMapDescription device = devInfo;
    device.devEui = devInfo.devEui.toUpper();
    const QString &table = deviceTableFor(protocol);
    QSqlQuery query(db);
    quint32 deviceId = 0;
    bool done = checkNewDevice(query, table, device.devEui)
                && insertDeviceRow(query, table, device, protocol)
                && selectDeviceId(query, table, device.devEui, deviceId)
                && (protocol != ProtocolModbus || insertDeviceRegisters(query, deviceId, device));
    query.finish();
    return endTransaction(done, "registerNewDevice");
}

bool CDataBaseHandler::checkNewDevice(QSqlQuery &query, const QString &table, const QString &devEui)
{
    const QString &devEuiCol = devCol(DB::DeviceCol::DevEui);
    query.prepare(duplicateCount(table));
    query.bindValue(placeholder(devEuiCol), devEui);
    if (!query.exec()) {
        addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [1]"));
        return false;
    }
    if (query.next() && query.value(0).toInt() > 0) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] already "
                              "exist!")
                   .arg(devEui));
        return false;
    }
    return true;
}

bool CDataBaseHandler::insertDeviceRow(QSqlQuery &query, const QString &table,
                                       const DB::SDeviceRegMapDescription &devInfo,
                                       ProtocolOption protocol)
{
    using DB::DeviceCol::Index;
    QString text = DB::fillTemplate(
        QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5) VALUES (:%2, :%3, :%4, :%5);"),
        {table, devCol(Index::Name), devCol(Index::AppEui), devCol(Index::DevEui),
         devCol(Index::Port)});
    const QString &startAddrCol = devCol(Index::StartAddr);
    if (protocol == ProtocolModbus) {
        text.replace(QStringLiteral(");"), QStringLiteral(", :%1);").arg(startAddrCol));
        text.replace(QStringLiteral(") VALUES"), QStringLiteral(", %1) VALUES").arg(startAddrCol));
    }
    query.prepare(text);
    if (protocol == ProtocolModbus)
        query.bindValue(placeholder(startAddrCol), devInfo.startAddr);
    query.bindValue(placeholder(devCol(Index::Name)), devInfo.name);
    query.bindValue(placeholder(devCol(Index::AppEui)), devInfo.appEui);
    query.bindValue(placeholder(devCol(Index::DevEui)), devInfo.devEui);
    query.bindValue(placeholder(devCol(Index::Port)), devInfo.port);
    if (!query.exec()) {
        addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [2]"));
        return false;
    }
    return true;
}

bool CDataBaseHandler::selectDeviceId(QSqlQuery &query, const QString &table, const QString &devEui,
                                      quint32 &deviceId)
{
    query.prepare(deviceIdSelect(table) + QLatin1Char(';'));
    query.bindValue(placeholder(devCol(DB::DeviceCol::DevEui)), devEui);
    if (!query.exec()) {
        addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [3]"));
        return false;
    }
    if (!query.next() || query.isNull(0)) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] is not "
                              "created!")
                   .arg(devEui));
        return false;
    }
    deviceId = query.value(0).toUInt();
    if (deviceId == 0) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device [%1] is not "
                              "created [NULL ID]!")
                   .arg(devEui));
        return false;
    }
    return true;
}

bool CDataBaseHandler::insertDeviceRegisters(QSqlQuery &query, quint32 deviceId,
                                             const DB::SDeviceRegMapDescription &devInfo)
{
    using DB::DevDataCol::Index;
    query.prepare(DB::fillTemplate(
        QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8, %9, %10, %11, %12) VALUES ( ?, "
                       "?, ?, ?, ?, ?, ?, ?, ?, ?, ? ) "),
        {DB::DbNames::DevDataTable, dataCol(Index::Device), dataCol(Index::Port),
         dataCol(Index::RegAddr), dataCol(Index::StartValue), dataCol(Index::GratingPeriod),
         dataCol(Index::BitSize), dataCol(Index::DataType), dataCol(Index::Name),
         dataCol(Index::Parent), dataCol(Index::Source), dataCol(Index::Unit)}));

    QSet<quint32> written;
    for (const DB::SRegisterDescription &reg : devInfo.registers) {
        const quint32 address = quint32(devInfo.startAddr) + reg.regOffset;
        if (written.contains(address)) {
            addLog(QStringLiteral("WARNING: [CDataBaseHandler::registerNewDevice] Register [0x%1] "
                                  "for device [%2] already exist!")
                       .arg(QString::number(address, 16).rightJustified(4, QLatin1Char('0')),
                            devInfo.devEui));
            continue;
        }
        query.addBindValue(deviceId);
        query.addBindValue(devInfo.port);
        query.addBindValue(int(address));
        query.addBindValue(reg.extraValue);
        query.addBindValue(reg.multiplier);
        query.addBindValue(int(reg.bitSize));
        query.addBindValue(reg.dataType);
        query.addBindValue(reg.name);
        query.addBindValue(1);
        query.addBindValue(int(reg.source));
        query.addBindValue(reg.units);
        written.insert(address);
        if (!query.exec()) {
            addLog(QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [4]"));
            addLog(query.lastQuery());
            return false;
        }
    }
    return true;
}

bool CDataBaseHandler::deleteDevice(quint32 deviceId, ProtocolOption protocol)
{
    QMutexLocker locker(&mutex);
    forgetImages();
    const QString statement = QStringLiteral("DELETE FROM %1 WHERE %2=:%2;");
    const QString &deviceCol = devCol(DB::DeviceCol::Device);
    // The device row and its register rows go together or not at all.
    if (!beginTransaction("deleteDevice"))
        return false;
    QSqlQuery query(db);
    query.prepare(DB::fillTemplate(statement, {deviceTableFor(protocol), deviceCol}));
    query.bindValue(placeholder(deviceCol), deviceId);
    bool done = query.exec();
    if (!done)
        addLog(QStringLiteral("[CDataBaseHandler::deleteDevice] Invalid SQL request [1]"));
    if (done && protocol == ProtocolModbus) {
        const QString &dataDeviceCol = dataCol(DB::DevDataCol::Device);
        query.prepare(DB::fillTemplate(statement, {DB::DbNames::DevDataTable, dataDeviceCol}));
        query.bindValue(placeholder(dataDeviceCol), deviceId);
        done = query.exec();
        if (!done)
            addLog(QStringLiteral("[CDataBaseHandler::deleteDevice] Invalid SQL request [2]"));
    }
    return endTransaction(done, "deleteDevice");
}

QSqlQuery CDataBaseHandler::getDevices(QString searchText, ProtocolOption protocol)
{
    QMutexLocker locker(&mutex);
    QSqlQuery query(db);
    if (protocol != ProtocolModbus && protocol != ProtocolTCP) {
        addLog(QStringLiteral("[CDataBaseHandler::getDevices] Invalid SQL request [1]"));
        return query;
    }
    const QString &nameCol = devCol(DB::DeviceCol::Name);
    const QString filter
        = searchText.isEmpty()
              ? QString()
              : DB::fillTemplate(QStringLiteral("WHERE %1 LIKE :pattern"), {nameCol});
    query.prepare(DB::fillTemplate(QStringLiteral("SELECT * FROM %1 %2 ORDER BY %3 ASC;"),
                                   {deviceTableFor(protocol), filter, nameCol}));
    if (!searchText.isEmpty())
        query.bindValue(QStringLiteral(":pattern"),
                        QLatin1Char('%') + searchText + QLatin1Char('%'));
    if (!query.exec())
        addLog(QStringLiteral("[CDataBaseHandler::getDevices] Invalid SQL request [1]"));
    return query;
}

QStringList CDataBaseHandler::getRegisteredDevices(ProtocolOption protocol)
{
    QMutexLocker locker(&mutex);
    QSqlQuery query(db);
    QStringList devEuis;
    if (!query.exec(DB::fillTemplate(QStringLiteral("SELECT %2 FROM %1;"),
                                     {deviceTableFor(protocol), devCol(DB::DeviceCol::DevEui)}))) {
        addLog(QStringLiteral("[CDataBaseHandler::getRegisteredDevices] Invalid SQL request [1]"));
        return devEuis;
    }
    while (query.next())
        devEuis.append(query.value(0).toString().toUpper());
    return devEuis;
}

QSqlQuery CDataBaseHandler::getRegisters(quint32 deviceId)
{
    using DB::DevDataCol::Index;
    QMutexLocker locker(&mutex);
    QSqlQuery query(db);
    const QString &deviceCol = dataCol(Index::Device);
    query.prepare(DB::fillTemplate(
        QStringLiteral("SELECT * FROM %1 WHERE %2=:%2 AND %3=1 ORDER BY %4 ASC;"),
        {DB::DbNames::DevDataTable, deviceCol, dataCol(Index::Parent), dataCol(Index::RegAddr)}));
    query.bindValue(placeholder(deviceCol), deviceId);
    if (!query.exec())
        addLog(QStringLiteral("[CDataBaseHandler::getRegisters] Invalid SQL request [1]"));
    return query;
}

bool CDataBaseHandler::updateRegInfo(DB::SRegInfoUpdate info)
{
    using DB::DevDataCol::Index;
    QMutexLocker locker(&mutex);
    forgetImages();
    const QString &startValueCol = dataCol(Index::StartValue);
    const QString &gratingCol = dataCol(Index::GratingPeriod);
    const QString &unitCol = dataCol(Index::Unit);
    const QString &deviceCol = dataCol(Index::Device);
    const QString &regAddrCol = dataCol(Index::RegAddr);
    if (info.registers.isEmpty())
        return true;
    // One edit is stored whole or not at all.
    if (!beginTransaction("updateRegInfo"))
        return false;
    QSqlQuery query(db);
    query.prepare(DB::fillTemplate(
        QStringLiteral("UPDATE %1 SET %2=:%2, %3=:%3, %4=:%4 WHERE %5=:%5 AND %6=:%6;"),
        {DB::DbNames::DevDataTable, startValueCol, gratingCol, unitCol, deviceCol, regAddrCol}));
    bool done = true;
    for (const DB::SRegisterParam &reg : info.registers) {
        query.bindValue(placeholder(startValueCol), reg.extraValue);
        query.bindValue(placeholder(gratingCol), reg.multiplier);
        query.bindValue(placeholder(unitCol), reg.units);
        query.bindValue(placeholder(deviceCol), info.deviceId);
        query.bindValue(placeholder(regAddrCol), reg.regAddr);
        if (!query.exec()) {
            addLog(
                QStringLiteral("ERROR: [CDataBaseHandler::updateRegInfo] Invalid SQL request [1]"));
            addLog(query.lastQuery());
            done = false;
            break;
        }
    }
    query.finish();
    return endTransaction(done, "updateRegInfo");
}

bool CDataBaseHandler::updateTCPRegInfo(DB::SRegInfoUpdate info)
{
    QMutexLocker locker(&mutex);
    forgetImages();
    const QString &portCol = devCol(DB::DeviceCol::Port);
    const QString &deviceCol = devCol(DB::DeviceCol::Device);
    QSqlQuery query(db);
    query.prepare(DB::fillTemplate(QStringLiteral("UPDATE %1 SET %2=:%2 WHERE %3=:%3;"),
                                   {DB::DbNames::DevicesTcpTable, portCol, deviceCol}));
    query.bindValue(placeholder(portCol), int(info.port));
    query.bindValue(placeholder(deviceCol), info.deviceId);
    if (!query.exec()) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::updateRegInfo] Invalid SQL request [1]"));
        addLog(query.lastQuery());
        return false;
    }
    return true;
}

DB::SRegisterParam CDataBaseHandler::getRegisterParam(QString devEui, quint32 regAddr)
{
    using DB::DevDataCol::Index;
    DB::SRegisterParam param;
    QMutexLocker locker(&mutex);
    const QString &devEuiCol = devCol(DB::DeviceCol::DevEui);
    const QString &regAddrCol = dataCol(Index::RegAddr);
    static const QString statement = registerParamSelect();
    QSqlQuery &query = registerParamQuery;
    if (!registerParamPrepared) {
        query = QSqlQuery(db);
        query.setForwardOnly(true);
        registerParamPrepared = query.prepare(statement);
    }
    if (registerParamPrepared) {
        query.bindValue(placeholder(devEuiCol), devEui);
        query.bindValue(placeholder(regAddrCol), regAddr);
    }
    if (!registerParamPrepared || !query.exec()) {
        // Prepared anew next time, e.g. after the table is back.
        registerParamPrepared = false;
        query.finish();
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Invalid SQL request [1]"));
        addLog(statement);
        return param;
    }
    if (!query.next()) {
        query.finish();
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Register is not exist!"));
        addLog(statement);
        return param;
    }
    param.multiplier = query.value(Index::GratingPeriod).toDouble();
    param.extraValue = query.value(Index::StartValue).toDouble();
    param.units = query.value(Index::Unit).toString();
    param.regAddr = regAddr;
    query.finish();
    return param;
}

CDataBaseHandler::SImageRow CDataBaseHandler::imageRowOf(const QSqlQuery &query)
{
    using DB::DevDataCol::Index;
    SImageRow row;
    const QVariant regAddr = query.value(Index::RegAddr);
    // As SQLite compares: NULL, text and blobs lie in no range of numbers.
    switch (regAddr.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        row.comparable = true;
        row.intAddr = regAddr.toLongLong();
        break;
    case QMetaType::Double:
        row.comparable = true;
        row.isReal = true;
        row.realAddr = regAddr.toDouble();
        break;
    default:
        break;
    }
    row.firstWord = regAddr.toLongLong();
    row.bits = query.value(Index::BitSize).toInt();
    row.address = row.bits > 16 ? regAddr.toUInt() : quint32(regAddr.toInt());
    row.bytes = QByteArray::fromHex(query.value(Index::FullValue).toString().toLatin1());
    return row;
}

bool CDataBaseHandler::SImageRow::inRange(qint64 first, qint64 last) const
{
    if (!comparable)
        return false;
    return isReal ? realAddr >= double(first) && realAddr <= double(last)
                  : intAddr >= first && intAddr <= last;
}

DB::RegisterImage CDataBaseHandler::getRegisterData(quint32 port, quint32 startAddr, quint32 count,
                                                    bool *ok)
{
    using DB::DevDataCol::Index;
    DB::RegisterImage image;
    if (ok)
        *ok = count == 0;
    if (count == 0)
        return image;

    QMutexLocker locker(&mutex);
    const auto key = std::make_tuple(port, startAddr, count);
    const bool cacheUsable = imageCacheUsable();
    if (cacheUsable) {
        const auto cached = imageCache.constFind(key);
        if (cached != imageCache.constEnd()) {
            if (ok)
                *ok = true;
            return cached.value();
        }
    }
    const qint64 first = qint64(startAddr);
    const qint64 last = qint64(quint32(startAddr + count - 1));
    // Wide values that begin before the range serve their words inside it.
    const qint64 lowest = first - WordsBeforeRange;

    // While images can be kept, all rows of the port are read once and every range is cut
    // from them; otherwise only the rows of the range are read. Both read in the order of the
    // port and address index, by address and then in registration (rowid) order, whatever plan
    // SQLite chooses, so that overlapping rows give one answer.
    const QString &portCol = dataCol(Index::Port);
    // The statement with placeholders to prepare, or with the numbers bound, to log.
    const auto statement = [&portCol](bool wholePort, const QString &portValue,
                                      const QString &firstValue, const QString &lastValue) {
        QStringList names{DB::DbNames::DevDataTable, portCol, portValue, dataCol(Index::RegAddr)};
        if (wholePort)
            return DB::fillTemplate(
                QStringLiteral("SELECT * FROM %1 WHERE %2=%3 ORDER BY %4, rowid;"), names);
        names << firstValue << lastValue;
        return DB::fillTemplate(
            QStringLiteral(
                "SELECT * FROM %1 WHERE %2=%3 AND %4 BETWEEN %5 AND %6 ORDER BY %4, rowid;"),
            names);
    };
    QList<SImageRow> readRows;
    const QList<SImageRow> *rows = &readRows;
    if (cacheUsable) {
        const auto known = portRows.constFind(port);
        if (known != portRows.constEnd())
            rows = &known.value();
    }
    if (rows == &readRows) {
        QSqlQuery &query = cacheUsable ? portRowsQuery : registerDataQuery;
        bool &prepared = cacheUsable ? portRowsPrepared : registerDataPrepared;
        if (!prepared) {
            query = QSqlQuery(db);
            query.setForwardOnly(true);
            prepared = query.prepare(statement(cacheUsable, placeholder(portCol),
                                               QStringLiteral(":first"), QStringLiteral(":last")));
        }
        if (prepared) {
            query.bindValue(placeholder(portCol), qint64(port));
            if (!cacheUsable) {
                query.bindValue(QStringLiteral(":first"), lowest);
                query.bindValue(QStringLiteral(":last"), last);
            }
        }
        if (!prepared || !query.exec()) {
            // Prepared anew next time, e.g. after the table is back.
            prepared = false;
            query.finish();
            addLog(QStringLiteral(
                "ERROR: [CDataBaseHandler::getRegisterData] Invalid SQL request [1]"));
            addLog(statement(cacheUsable, QString::number(port), QString::number(lowest),
                             QString::number(last)));
            return image;
        }
        while (query.next())
            readRows.append(imageRowOf(query));
        query.finish();
        if (cacheUsable)
            rows = &portRows.insert(port, std::move(readRows)).value();
    }

    // A range longer than the address space only repeats addresses already filled.
    const quint32 filled = qMin(count, AddressSpace);
    for (quint32 i = 0; i < filled; ++i)
        image.insert(image.cend(), uint16_t(startAddr + i), 0);

    const auto store = [&image](uint16_t address, uint16_t word) {
        const auto it = image.find(address);
        if (it != image.end())
            it.value() = word;
    };
    // In the order the rows were read: where rows overlap, the one read last wins.
    for (const SImageRow &row : *rows) {
        if (!row.inRange(lowest, last))
            continue;
        // Words of a row that begins before the range count from the first one inside it.
        const quint32 before = quint32(qMax<qint64>(first - row.firstWord, 0));
        if (row.bits > 16) {
            const quint32 words = qMin((quint32(row.bits) + 15) / 16, AddressSpace);
            for (quint32 k = before; k < words; ++k) {
                const qsizetype at = qsizetype(2 * k);
                store(uint16_t(row.address + k),
                      row.bytes.size() >= at + 2 ? wordAt(row.bytes, at) : 0);
            }
        } else if (before == 0) {
            store(uint16_t(row.address), wordAt(row.bytes, 0));
        }
    }
    if (cacheUsable) {
        if (imageCache.size() >= MaxCachedImages)
            imageCache.clear();
        imageCache.insert(key, image);
    }
    if (ok)
        *ok = true;
    return image;
}

void CDataBaseHandler::forgetImages()
{
    imageCache.clear();
    portRows.clear();
}

void CDataBaseHandler::setImageCacheEnabled(bool enabled)
{
    QMutexLocker locker(&mutex);
    imageCacheEnabled = enabled;
    forgetImages();
    dataVersionAge.invalidate();
}

bool CDataBaseHandler::imageCacheUsable()
{
    if (!imageCacheEnabled)
        return false;
    // Checking the version takes a file lock and reads the file header: not on every request.
    if (dataVersionAge.isValid() && !dataVersionAge.hasExpired(OutsideChangeCheckMs))
        return true;
    if (!dataVersionPrepared) {
        dataVersionQuery = QSqlQuery(db);
        dataVersionQuery.setForwardOnly(true);
        dataVersionPrepared = dataVersionQuery.prepare(QStringLiteral("PRAGMA data_version;"));
    }
    // The version changes whenever another connection has committed to the file.
    if (!dataVersionPrepared || !dataVersionQuery.exec() || !dataVersionQuery.next()) {
        dataVersionPrepared = false;
        dataVersionQuery.finish();
        dataVersionAge.invalidate();
        forgetImages();
        return false;
    }
    dataVersionAge.start();
    const qint64 version = dataVersionQuery.value(0).toLongLong();
    dataVersionQuery.finish();
    if (version != cachedDataVersion) {
        forgetImages();
        cachedDataVersion = version;
    }
    return true;
}

void CDataBaseHandler::saveRegisterData(DB::SDbDeviceRegDataSet regData)
{
    using DB::DevDataCol::Index;
    if (regData.regValues.isEmpty()) {
        addLog(QStringLiteral("INFO: [CDataBaseHandler::saveRegisterData] Empty input data"));
        return;
    }
    QMutexLocker locker(&mutex);
    forgetImages();
    QSqlQuery query(db);
    query.prepare(deviceIdSelect(DB::DbNames::DevicesTable) + QLatin1Char(';'));
    query.bindValue(placeholder(devCol(DB::DeviceCol::DevEui)), regData.devEui);
    if (!query.exec()) {
        addLog(
            QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request [1]"));
        return;
    }
    if (!query.next() || query.isNull(0)) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Uncknown DevEUI [%1]")
                   .arg(regData.devEui));
        return;
    }
    const quint32 deviceId = query.value(0).toUInt();
    if (deviceId == 0) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Uncknown DevEUI [ID=0] "
                              "[%1]")
                   .arg(regData.devEui));
        return;
    }
    query.finish();

    // One uplink is one transaction: all of its registers become new together. Each update runs
    // under a savepoint, so that a failing one is undone alone, whatever its triggers did before
    // they failed. Some failures (a RAISE(ROLLBACK) trigger, disk, I/O, memory and lock errors)
    // make SQLite roll back the whole transaction, savepoints included; the uplink is then saved
    // again in a new transaction without the registers that failed, so only those keep their old
    // values.
    const QString &valueCol = dataCol(Index::Value);
    const QString &fullValueCol = dataCol(Index::FullValue);
    const QString &timeCol = dataCol(Index::Time);
    const QString &deviceCol = dataCol(Index::Device);
    const QString &regAddrCol = dataCol(Index::RegAddr);
    query.prepare(DB::fillTemplate(
        QStringLiteral("UPDATE %1 SET %2=:%2, %3=:%3, %4=:%4 WHERE %5=:%5 AND %6=:%6;"),
        {DB::DbNames::DevDataTable, valueCol, fullValueCol, timeCol, deviceCol, regAddrCol}));
    QSqlQuery savepoint(db);
    savepoint.prepare(QStringLiteral("SAVEPOINT reg;"));
    QSqlQuery release(db);
    release.prepare(QStringLiteral("RELEASE reg;"));
    QSqlQuery rollbackTo(db);
    rollbackTo.prepare(QStringLiteral("ROLLBACK TO reg;"));
    QSet<qsizetype> failedRegs;
    bool rolledBack = true;
    while (rolledBack) {
        if (!beginTransaction("saveRegisterData"))
            return;
        rolledBack = false;
        for (qsizetype i = 0; i < regData.regValues.size() && !rolledBack; ++i) {
            if (failedRegs.contains(i))
                continue;
            const DB::SDbRegValue &reg = regData.regValues.at(i);
            const int regAddr = int(quint32(regData.startAddr) + reg.regOffset);
            query.bindValue(placeholder(valueCol), reg.value);
            query.bindValue(placeholder(fullValueCol),
                            reg.fullValue.isEmpty() ? nullText() : QVariant(reg.fullValue));
            query.bindValue(placeholder(timeCol), QDateTime::currentMSecsSinceEpoch());
            query.bindValue(placeholder(deviceCol), deviceId);
            query.bindValue(placeholder(regAddrCol), regAddr);
            savepoint.exec();
            if (query.exec()) {
                release.exec();
                continue;
            }
            addLog(QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL request "
                                  "[2]"));
            addLog(QStringLiteral("    Query [%1]").arg(query.lastQuery()));
            addLog(QStringLiteral("    Set: deviceId[%1], regAddr[%2]").arg(deviceId).arg(regAddr));
            failedRegs.insert(i);
            // "no such savepoint": SQLite has ended the whole transaction.
            rolledBack = !rollbackTo.exec() || !release.exec();
        }
        if (rolledBack)
            db.rollback();
    }
    query.finish();
    endTransaction(true, "saveRegisterData");
}

bool CDataBaseHandler::beginTransaction(const char *method)
{
    if (db.transaction())
        return true;
    addLog(
        QStringLiteral("ERROR: [CDataBaseHandler::%1] Transaction is not started! Error_text[%2]")
            .arg(QLatin1String(method), db.lastError().text()));
    return false;
}

bool CDataBaseHandler::endTransaction(bool done, const char *method)
{
    if (done && !db.commit()) {
        addLog(QStringLiteral("ERROR: [CDataBaseHandler::%1] Transaction is not committed! "
                              "Error_text[%2]")
                   .arg(QLatin1String(method), db.lastError().text()));
        done = false;
    }
    if (!done)
        db.rollback();
    return done;
}
