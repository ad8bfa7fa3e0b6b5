#include "CDataBaseHandler.h"
#include "LogCapture.h"
#include "NonDatabaseFiles.h"
#include "SideConnection.h"
#include "TempWorkDir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Construction of the storage: tables, indexes, open failures and the retry of getInstance.
class tst_StorageSchema : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void openFailureThenRetry();
    void firstRunCreatesSchema();
    void secondRunChangesNothing();
    void missingIndexesComeBack();
    void failedTableStatement();
    void devEuiLookupsSearchAnIndex_data();
    void devEuiLookupsSearchAnIndex();
    void unopenableFileOnDebugStream();
    void foreignColumns_data();
    void foreignColumns();
    void notADatabase_data();
    void notADatabase();
    void lockAtStart_data();
    void lockAtStart();

private:
    struct SRun
    {
        int exitCode = -1;
        QStringList log;
        QString debug;
    };
    static SRun openIn(const QString &dir);
    // Refused: exit code 1, the one line in the log and on the debug stream, the file as it was.
    static void verifyRefused(const SRun &run, const QString &line, const QString &file,
                              const QByteArray &bytes);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
};

namespace {

const QString OpenFailure
    = QStringLiteral("CRITICAL_ERROR! Data base hasn't been created/opened! Error_text[");

// "name type notnull default pk" of every column, in table order.
QStringList tableColumns(SideConnection &side, const QString &table)
{
    QStringList columns;
    for (const QVariantList &row : side.rows(QStringLiteral("PRAGMA table_info(%1);").arg(table)))
        columns.append(QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(row.at(1).toString(), row.at(2).toString(), row.at(3).toString(),
                                row.at(4).isNull() ? QStringLiteral("-") : row.at(4).toString(),
                                row.at(5).toString()));
    return columns;
}

// "index table: columns" of the indexes we create (not SQLite's own), by name.
QStringList indexes(SideConnection &side)
{
    QStringList result;
    const QList<QVariantList> rows = side.rows(QStringLiteral(
        "SELECT name, tbl_name FROM sqlite_master WHERE type='index' AND name NOT LIKE "
        "'sqlite_%' ORDER BY name;"));
    for (const QVariantList &row : rows) {
        const QStringList columns
            = side.column(QStringLiteral("SELECT name FROM pragma_index_info('%1') ORDER BY seqno;")
                              .arg(row.at(0).toString()));
        result.append(
            QStringLiteral("%1 %2: %3")
                .arg(row.at(0).toString(), row.at(1).toString(), columns.join(QLatin1Char(','))));
    }
    return result;
}

QStringList tables(SideConnection &side)
{
    return side.column(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND "
                                      "name NOT LIKE 'sqlite_%' ORDER BY name;"));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString DeviceList = QStringLiteral("device, name, app_eui, dev_eui, port, start_addr");
const QString DeviceTcpList = QStringLiteral("device, name, app_eui, dev_eui, port");
const QString DevDataList = QStringLiteral(
    "device, port, reg_addr, start_value, grating_period, bit_size, data_type, value, full_value, "
    "time, name, unit, parent, source");

const QStringList ExpectedIndexes = {
    QStringLiteral("idx_dev_parent dev_data: device,parent"),
    QStringLiteral("idx_dev_regaddr dev_data: device,reg_addr"),
    QStringLiteral("idx_device devices: device"),
    QStringLiteral("idx_deviceTCP devicesTCP: device"),
    QStringLiteral("idx_eui devices: dev_eui"),
    QStringLiteral("idx_euiTCP devicesTCP: dev_eui"),
    QStringLiteral("idx_euiTCP_upper devicesTCP: "),
    QStringLiteral("idx_eui_upper devices: "),
    QStringLiteral("idx_port_regaddr dev_data: port,reg_addr"),
};

} // namespace

void tst_StorageSchema::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
}

tst_StorageSchema::SRun tst_StorageSchema::openIn(const QString &dir)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStringLiteral(OPEN_DATABASE_HELPER), {});
    SRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.log = QString::fromUtf8(process.readAllStandardOutput())
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.debug = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void tst_StorageSchema::verifyRefused(const SRun &run, const QString &line, const QString &file,
                                      const QByteArray &bytes)
{
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.log, QStringList{line});
    QVERIFY2(run.debug.contains(line), qPrintable(run.debug));
    QCOMPARE(fileBytes(file), bytes);
}

// Runs first: the singleton of this process is still unmade.
void tst_StorageSchema::openFailureThenRetry()
{
    QVERIFY(QDir().mkdir(QStringLiteral("server.db")));
    QCOMPARE(CDataBaseHandler::getInstance(), nullptr);
    QVERIFY(log->waitForLine(OpenFailure));
    QVERIFY(log->contains(QStringLiteral("]. DataBaseHandler is not running!")));
    QVERIFY(!CDataBaseHandler::lastErrorText().isEmpty());

    // Each call tries the database again.
    QCOMPARE(CDataBaseHandler::getInstance(), nullptr);
    QTRY_COMPARE(log->count(OpenFailure), 2);

    QVERIFY(QDir().rmdir(QStringLiteral("server.db")));
    CDataBaseHandler *handler = CDataBaseHandler::getInstance();
    QVERIFY(handler);
    QCOMPARE(CDataBaseHandler::getInstance(), handler);
    SideConnection side;
    QCOMPARE(tables(side), QStringList({QStringLiteral("dev_data"), QStringLiteral("devices"),
                                        QStringLiteral("devicesTCP")}));
    QCOMPARE(indexes(side), ExpectedIndexes);
}

void tst_StorageSchema::firstRunCreatesSchema()
{
    QTemporaryDir dir;
    const SRun run = openIn(dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.log, QStringList());

    SideConnection side(dir.filePath(QStringLiteral("server.db")));
    QVERIFY(side.isOpen());
    QCOMPARE(tables(side), QStringList({QStringLiteral("dev_data"), QStringLiteral("devices"),
                                        QStringLiteral("devicesTCP")}));
    const QStringList deviceColumns = {
        QStringLiteral("device INTEGER 1 - 1"), QStringLiteral("name TEXT 0 - 0"),
        QStringLiteral("app_eui TEXT 0 - 0"),   QStringLiteral("dev_eui TEXT 0 - 0"),
        QStringLiteral("port INTEGER 0 - 0"),   QStringLiteral("start_addr INTEGER 0 - 0"),
    };
    QCOMPARE(tableColumns(side, QStringLiteral("devices")), deviceColumns);
    QCOMPARE(tableColumns(side, QStringLiteral("devicesTCP")), deviceColumns.mid(0, 5));
    QCOMPARE(tableColumns(side, QStringLiteral("dev_data")),
             QStringList({
                 QStringLiteral("device INTEGER 1 - 0"),
                 QStringLiteral("port INTEGER 0 - 0"),
                 QStringLiteral("reg_addr INTEGER 0 - 0"),
                 QStringLiteral("start_value INTEGER 0 - 0"),
                 QStringLiteral("grating_period REAL 0 - 0"),
                 QStringLiteral("bit_size REAL 0 - 0"),
                 QStringLiteral("data_type TEXT 0 - 0"),
                 QStringLiteral("value TEXT 0 NULL 0"),
                 QStringLiteral("full_value TEXT 0 NULL 0"),
                 QStringLiteral("time INTEGER 0 NULL 0"),
                 QStringLiteral("name TEXT 0 NULL 0"),
                 QStringLiteral("unit TEXT 0 NULL 0"),
                 QStringLiteral("parent INTEGER 0 - 0"),
                 QStringLiteral("source INTEGER 0 - 0"),
             }));
    QCOMPARE(indexes(side), ExpectedIndexes);
    QVERIFY(
        side.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name='devices';"))
            .toString()
            .contains(QStringLiteral("device INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL UNIQUE")));

    // The index lists follow the column-name lists, so the column headers match them.
    QCOMPARE(DB::DeviceColumns.size(), 6);
    QCOMPARE(DB::DevDataColumns.size(), 14);
    QCOMPARE(DB::DeviceColumns.at(DB::DeviceCol::StartAddr), QStringLiteral("start_addr"));
    QCOMPARE(DB::DevDataColumns.at(DB::DevDataCol::Unit), QStringLiteral("unit"));
    QCOMPARE(DB::DevDataColumns.at(DB::DevDataCol::Source), QStringLiteral("source"));
}

void tst_StorageSchema::secondRunChangesNothing()
{
    QTemporaryDir dir;
    QCOMPARE(openIn(dir.path()).exitCode, 0);
    const QString file = dir.filePath(QStringLiteral("server.db"));
    const QString schemaSql = QStringLiteral(
        "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name;");
    QList<QVariantList> schemaBefore;
    QList<QVariantList> rowsBefore;
    {
        SideConnection side(file);
        QVERIFY2(side.exec(QStringLiteral("INSERT INTO devices (name, app_eui, dev_eui, port, "
                                          "start_addr) VALUES ('kept', 'A1', 'E1', 502, 7);")),
                 qPrintable(side.lastError()));
        schemaBefore = side.rows(schemaSql);
        rowsBefore = side.rows(QStringLiteral("SELECT * FROM devices;"));
    }

    const SRun run = openIn(dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.log, QStringList());
    SideConnection side(file);
    QCOMPARE(side.rows(schemaSql), schemaBefore);
    QCOMPARE(side.rows(QStringLiteral("SELECT * FROM devices;")), rowsBefore);
}

void tst_StorageSchema::missingIndexesComeBack()
{
    QTemporaryDir dir;
    QCOMPARE(openIn(dir.path()).exitCode, 0);
    const QString file = dir.filePath(QStringLiteral("server.db"));
    {
        SideConnection side(file);
        QVERIFY(side.exec(QStringLiteral("DROP INDEX idx_port_regaddr;")));
        QVERIFY(side.exec(QStringLiteral("DROP INDEX idx_euiTCP;")));
        QCOMPARE(indexes(side).size(), ExpectedIndexes.size() - 2);
    }
    QCOMPARE(openIn(dir.path()).exitCode, 0);
    SideConnection side(file);
    QCOMPARE(indexes(side), ExpectedIndexes);
}

// An index named "devices" makes the devices table statement fail: the other tables are still
// made, no index at all, and the handler is still made.
void tst_StorageSchema::failedTableStatement()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("server.db"));
    {
        SideConnection side(file);
        QVERIFY(side.exec(QStringLiteral("CREATE TABLE other (a INTEGER);")));
        QVERIFY(side.exec(QStringLiteral("CREATE INDEX devices ON other (a);")));
    }
    const SRun run = openIn(dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.log,
             QStringList({
                 QStringLiteral("ERROR! Table \"devices\" is not created!"),
                 QStringLiteral("ERROR [CDataBaseHandler::{ctor}::<lambda_1>::operator ()-232]: "
                                "invalid sql request 3 for <devices.idx_eui>!"),
                 QStringLiteral("CREATE INDEX IF NOT EXISTS idx_eui ON devices ( dev_eui );"),
             }));
    QVERIFY(run.debug.contains(QStringLiteral("ERROR! Table \"devices\" is not created!")));
    SideConnection side(file);
    QCOMPARE(tables(side), QStringList({QStringLiteral("dev_data"), QStringLiteral("devicesTCP"),
                                        QStringLiteral("other")}));
    QCOMPARE(indexes(side), QStringList({QStringLiteral("devices other: a")}));
}

void tst_StorageSchema::devEuiLookupsSearchAnIndex_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<bool>("earlierFile");
    QTest::addColumn<bool>("analyzed");
    QTest::addRow("new file") << 0 << false << false;
    QTest::addRow("new file, 5000 devices, analyzed") << 5000 << false << true;
    QTest::addRow("earlier file, 5000 lower-case devices") << 5000 << true << false;
    QTest::addRow("earlier file, 5000 lower-case devices, analyzed") << 5000 << true << true;
    QTest::addRow("earlier file, 50 lower-case devices, analyzed") << 50 << true << true;
}

// Every lookup by DevEUI searches an index, so an uplink costs the same whatever the number of
// stored devices, also in a file of an earlier version that holds its DevEUIs in lower case.
void tst_StorageSchema::devEuiLookupsSearchAnIndex()
{
    QFETCH(int, devices);
    QFETCH(bool, earlierFile);
    QFETCH(bool, analyzed);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("server.db"));
    if (!earlierFile)
        QCOMPARE(openIn(dir.path()).exitCode, 0);
    {
        SideConnection side(file);
        if (earlierFile) {
            // As an earlier version made it: the tables and indexes, but no index of
            // upper(dev_eui).
            QCOMPARE(openIn(dir.path()).exitCode, 0);
            QVERIFY(side.exec(QStringLiteral("DROP INDEX idx_eui_upper;")));
            QVERIFY(side.exec(QStringLiteral("DROP INDEX idx_euiTCP_upper;")));
        }
        for (const QString &table : {QStringLiteral("devices"), QStringLiteral("devicesTCP")}) {
            const QString spelling
                = earlierFile ? QStringLiteral("lower") : QStringLiteral("upper");
            QVERIFY2(side.exec(QStringLiteral(
                                   "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
                                   "WHERE x < %1) INSERT INTO %2 (name, app_eui, dev_eui, port) "
                                   "SELECT 'd' || x, 'A1', %3(printf('70b3d5e75e%06x', x)), 502 "
                                   "FROM n;")
                                   .arg(devices)
                                   .arg(table, spelling)),
                     qPrintable(side.lastError()));
        }
        if (analyzed)
            QVERIFY(side.exec(QStringLiteral("ANALYZE;")));
    }
    const SRun run = openIn(dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.log, QStringList());

    SideConnection side(file);
    QCOMPARE(indexes(side), ExpectedIndexes);
    const QStringList lookups = CDataBaseHandler::devEuiLookups();
    QCOMPARE(lookups.size(), 5);
    for (const QString &lookup : lookups) {
        const QString table = lookup.contains(QLatin1String("devicesTCP"))
                                  ? QStringLiteral("devicesTCP")
                                  : QStringLiteral("devices");
        // The side connection binds nothing: an uplink's values stand in for the placeholders.
        QString statement = lookup;
        statement.replace(QLatin1String(":dev_eui"), QLatin1String("'70B3D5E75E00002A'"))
            .replace(QLatin1String(":reg_addr"), QLatin1String("3"));
        QStringList plan;
        for (const QVariantList &row : side.rows(QStringLiteral("EXPLAIN QUERY PLAN ") + statement))
            plan.append(row.last().toString());
        const QString steps = plan.join(QLatin1String(" | "));
        QVERIFY2(!plan.isEmpty(), qPrintable(lookup + QLatin1String(": ") + side.lastError()));
        QVERIFY2(!plan.contains(QStringLiteral("SCAN %1").arg(table)),
                 qPrintable(lookup + QLatin1String(": ") + steps));
        // Each part reads its rows in the order asked for, without sorting them.
        QVERIFY2(!steps.contains(QLatin1String("TEMP B-TREE")),
                 qPrintable(lookup + QLatin1String(": ") + steps));
        QVERIFY2(steps.contains(QStringLiteral("SEARCH %1 USING INDEX %2_upper")
                                    .arg(table, table == QLatin1String("devices")
                                                    ? QStringLiteral("idx_eui")
                                                    : QStringLiteral("idx_euiTCP"))),
                 qPrintable(lookup + QLatin1String(": ") + steps));
    }
}

void tst_StorageSchema::unopenableFileOnDebugStream()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("server.db")));
    const SRun run = openIn(dir.path());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.log.size(), 1);
    QVERIFY(run.log.first().startsWith(OpenFailure));
    QVERIFY(run.debug.contains(OpenFailure));
}

void tst_StorageSchema::foreignColumns_data()
{
    QTest::addColumn<QString>("table");
    // Column definitions of the table found in the file, in order.
    QTest::addColumn<QStringList>("columns");
    // The list the refusal names; empty when the file is accepted.
    QTest::addColumn<QString>("found");

    const QStringList devData = DevDataList.split(QStringLiteral(", "));
    QStringList extraInMiddle = devData;
    extraInMiddle.insert(1, QStringLiteral("extra"));
    QStringList generated = devData;
    generated.insert(1, QStringLiteral("extra INTEGER GENERATED ALWAYS AS (1)"));
    QStringList renamed = DeviceList.split(QStringLiteral(", "));
    renamed[3] = QStringLiteral("deveui");

    QTest::addRow("dev_data extra column after device")
        << "dev_data" << extraInMiddle
        << "device, extra, port, reg_addr, start_value, grating_period, bit_size, data_type, "
           "value, full_value, time, name, unit, parent, source";
    QTest::addRow("dev_data generated column after device")
        << "dev_data" << generated
        << "device, extra, port, reg_addr, start_value, grating_period, bit_size, data_type, "
           "value, full_value, time, name, unit, parent, source";
    QTest::addRow("dev_data without source")
        << "dev_data" << devData.mid(0, 13)
        << "device, port, reg_addr, start_value, grating_period, bit_size, data_type, value, "
           "full_value, time, name, unit, parent";
    QTest::addRow("dev_data extra trailing column")
        << "dev_data" << devData + QStringList{QStringLiteral("note")} << DevDataList + ", note";
    QTest::addRow("devices dev_eui renamed")
        << "devices" << renamed << "device, name, app_eui, deveui, port, start_addr";
    QTest::addRow("devicesTCP with start_addr")
        << "devicesTCP" << DeviceList.split(QStringLiteral(", ")) << DeviceList;
    // Names compare as SQLite compares them, and declared types do not matter.
    QTest::addRow("other letter case and types accepted")
        << "devices"
        << QStringList{"DEVICE INTEGER PRIMARY KEY",
                       "Name BLOB",
                       "app_eui",
                       "dev_eui TEXT",
                       "port TEXT",
                       "start_addr REAL"}
        << "";
}

// A table made with other columns would be read by index into the wrong fields: the file is left
// as it is and the storage is not made.
void tst_StorageSchema::foreignColumns()
{
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    QFETCH(QString, found);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("server.db"));
    {
        SideConnection side(file);
        QVERIFY2(side.exec(QStringLiteral("CREATE TABLE %1 (%2);")
                               .arg(table, columns.join(QStringLiteral(", ")))),
                 qPrintable(side.lastError()));
    }
    const QByteArray bytes = fileBytes(file);

    const SRun run = openIn(dir.path());
    if (found.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.log, QStringList());
        // The indexes name the columns as the table spells them.
        SideConnection side(file);
        QCOMPARE(indexes(side).join(QLatin1Char('\n')).toLower(),
                 ExpectedIndexes.join(QLatin1Char('\n')).toLower());
        return;
    }
    const QString expected = table == QLatin1String("dev_data")  ? DevDataList
                             : table == QLatin1String("devices") ? DeviceList
                                                                 : DeviceTcpList;
    const QString line = QStringLiteral("ERROR! Table \"%1\" has unexpected columns [%2], "
                                        "expected [%3]! DataBaseHandler is not running!")
                             .arg(table, found, expected);
    verifyRefused(run, line, file, bytes);
    SideConnection side(file);
    QCOMPARE(tables(side), QStringList{table});
}

void tst_StorageSchema::notADatabase_data()
{
    QTest::addColumn<QByteArray>("content");
    // SQLite's reason; empty when the file is accepted.
    QTest::addColumn<QString>("reason");

    for (const SNonDatabaseFile &file : nonDatabaseFiles())
        QTest::addRow("%s", file.name) << file.bytes << QString::fromLatin1(file.reason);

    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.db"));
    {
        SideConnection side(real);
        QVERIFY(side.exec(QStringLiteral("CREATE TABLE t (a);")));
    }
    QTest::addRow("database cut after its header")
        << fileBytes(real).left(100) << QStringLiteral("database disk image is malformed");
    // SQLite takes an empty file for a new database.
    QTest::addRow("empty file") << QByteArray() << QString();
}

// A file that SQLite can't read as a database is refused untouched, before anything is written.
void tst_StorageSchema::notADatabase()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("server.db"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(content), content.size());
    out.close();

    const SRun run = openIn(dir.path());
    if (reason.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.log, QStringList());
        SideConnection side(file);
        QCOMPARE(indexes(side), ExpectedIndexes);
        return;
    }
    const QString line = QStringLiteral("ERROR! The data base file can't be read: %1! "
                                        "DataBaseHandler is not running!")
                             .arg(reason);
    verifyRefused(run, line, file, content);
    // No journal was left beside it either.
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("server.db*")}, QDir::Files),
             QStringList{QStringLiteral("server.db")});
}

void tst_StorageSchema::lockAtStart_data()
{
    // The transaction another connection holds on the file while the storage opens it.
    QTest::addColumn<QString>("lock");
    QTest::addColumn<int>("waitMs");
    // The wait as the warning states it; empty when no warning is expected.
    QTest::addColumn<QString>("waitText");
    // The lock ends as soon as the warning is out; otherwise it is kept until the helper ends.
    QTest::addColumn<bool>("release");
    QTest::addColumn<bool>("opened");

    QTest::addRow("exclusive lock released during the wait")
        << "BEGIN EXCLUSIVE;" << CDataBaseHandler::LockWaitMs << "60" << true << true;
    QTest::addRow("exclusive lock kept past the wait")
        << "BEGIN EXCLUSIVE;" << 200 << "0.2" << false << false;
    // Reading passes another writer's lock: nothing to wait for.
    QTest::addRow("write lock of another writer")
        << "BEGIN IMMEDIATE;" << 200 << "" << false << true;
}

// A lock is no verdict on the file: the storage warns once and waits for it, and refuses the file
// only when the lock outlasts the wait. The helper's busy time-out is short, so SQLite's own wait
// gives up quickly before the storage's starts.
void tst_StorageSchema::lockAtStart()
{
    QFETCH(QString, lock);
    QFETCH(int, waitMs);
    QFETCH(QString, waitText);
    QFETCH(bool, release);
    QFETCH(bool, opened);

    QTemporaryDir dir;
    QCOMPARE(openIn(dir.path()).exitCode, 0);
    const QString file = dir.filePath(QStringLiteral("server.db"));
    // Read before the lock is taken: closing a file of this process drops its locks on the file.
    const QByteArray bytes = fileBytes(file);
    SideConnection side(file);
    QVERIFY2(side.exec(lock), qPrintable(side.lastError()));

    QProcess helper;
    helper.setWorkingDirectory(dir.path());
    helper.start(
        QStringLiteral(OPEN_DATABASE_HELPER),
        {QStringLiteral("--busy-timeout=50"), QStringLiteral("--lock-wait=%1").arg(waitMs)});
    QVERIFY2(helper.waitForStarted(10000), qPrintable(helper.errorString()));
    const QString warning
        = QStringLiteral("WARNING: [CDataBaseHandler::readSchema] The data base file \"%1\" is "
                         "locked by another program: waiting up to %2 s for it to be released.")
              .arg(QFileInfo(file).canonicalFilePath(), waitText);
    QByteArray debug;
    if (release) {
        QTRY_VERIFY2_WITH_TIMEOUT(
            (debug += helper.readAllStandardError()).contains(warning.toUtf8()), debug.constData(),
            30000);
        QVERIFY2(side.exec(QStringLiteral("COMMIT;")), qPrintable(side.lastError()));
    }
    QVERIFY(helper.waitForFinished(60000));
    debug += helper.readAllStandardError();
    if (!release)
        QVERIFY2(side.exec(QStringLiteral("ROLLBACK;")), qPrintable(side.lastError()));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);

    QStringList expected;
    if (!waitText.isEmpty())
        expected << warning;
    if (!opened)
        expected << QStringLiteral("ERROR! The data base file can't be read: database is locked! "
                                   "DataBaseHandler is not running!");
    const QStringList log = QString::fromUtf8(helper.readAllStandardOutput())
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(log, expected);
    for (const QString &line : expected)
        QVERIFY2(debug.contains(line.toUtf8()), debug.constData());
    QCOMPARE(helper.exitCode(), opened ? 0 : 1);
    if (!opened)
        QCOMPARE(fileBytes(file), bytes);
    QCOMPARE(tables(side), QStringList({QStringLiteral("dev_data"), QStringLiteral("devices"),
                                        QStringLiteral("devicesTCP")}));
}

QTEST_GUILESS_MAIN(tst_StorageSchema)
#include "tst_storage_schema.moc"
