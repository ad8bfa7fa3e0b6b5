#include "CDataBaseHandler.h"
#include "RegisterImageText.h"
#include "SaveFailureLines.h"
#include "StorageFixture.h"
#include "TestDevice.h"
#include "TestRegister.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QtTest>

#include <memory>

// Register values: saving an uplink on the storage thread, the scaling lookup and the register
// image of a port.
class tst_StorageValues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void registerImage_data();
    void registerImage();
    void saveWritesLastValues();
    void saveRejected_data();
    void saveRejected();
    void saveGoesOnAfterFailingRegister();
    void failingRegisterKeepsOldValue_data();
    void failingRegisterKeepsOldValue();
    void registerParam_data();
    void registerParam();
    void readFailureLine_data();
    void readFailureLine();
    void deviceFoundInAnyLetterCase_data();
    void deviceFoundInAnyLetterCase();
    void failedStatements();
    void repeatedReadFollowsEveryChange();

private:
    void save(const DB::SDbDeviceRegDataSet &set);
    void addDevice(const QString &devEui, int port, int startAddr,
                   const QList<DB::SRegisterDescription> &registers,
                   ProtocolOption kind = ProtocolModbus);

    std::unique_ptr<StorageFixture> fixture;
    LogCapture *log = nullptr;
    SideConnection *side = nullptr;
    CDataBaseHandler *storage = nullptr;
};

namespace {

DB::SDbDeviceRegDataSet uplink(const QString &devEui, int startAddr,
                               const QList<DB::SDbRegValue> &values)
{
    DB::SDbDeviceRegDataSet set;
    set.devEui = devEui;
    set.startAddr = startAddr;
    set.regValues = values;
    return set;
}

const QString ValuesSql = QStringLiteral(
    "SELECT d.dev_eui, r.reg_addr, ifnull(r.value, '-'), ifnull(r.full_value, '-'), "
    "typeof(r.time) FROM dev_data r JOIN devices d ON d.device = r.device ORDER BY d.dev_eui, "
    "r.reg_addr;");

const QString RegisterParamStatement = QStringLiteral(
    "SELECT * FROM dev_data WHERE dev_data.device = ( SELECT COALESCE(( SELECT devices.device "
    "FROM devices WHERE devices.dev_eui=:dev_eui ORDER BY devices.device LIMIT 1 ), ( SELECT "
    "devices.device FROM devices WHERE upper(devices.dev_eui)=upper(:dev_eui) ORDER BY "
    "devices.device LIMIT 1 )) ) AND dev_data.reg_addr=:reg_addr;");

} // namespace

void tst_StorageValues::initTestCase()
{
    fixture = std::make_unique<StorageFixture>();
    QVERIFY(fixture->isValid());
    log = &fixture->log;
    side = fixture->side.get();
    storage = fixture->storage;
    QVERIFY(!storage->isReadOnly());

    // Register image fixture: ports 5020 and 5021.
    DB::SRegisterDescription scaled = testRegister(0, 32);
    scaled.extraValue = -2.5;
    scaled.multiplier = 0.1;
    scaled.units = QStringLiteral("°C");
    addDevice(QStringLiteral("A0000001"), 5020, 10,
              {scaled, testRegister(10, 64), testRegister(20), testRegister(21, 8),
               testRegister(30), testRegister(40, 32), testRegister(65525), testRegister(65526)});
    addDevice(QStringLiteral("B0000001"), 5020, 0, {testRegister(0), testRegister(40)});
    addDevice(QStringLiteral("C0000001"), 5021, 10, {testRegister(0)});
    addDevice(QStringLiteral("F0000001"), 5022, 0, {testRegister(0)}, ProtocolTCP);
    save(uplink(QStringLiteral("A0000001"), 10,
                {{"0001", "000100FF", 0},
                 {"00FF", "", 1},
                 {"0102", "0102030405060708", 10},
                 {"0304", "", 11},
                 {"0506", "", 12},
                 {"0708", "", 13},
                 {"AB", "AB", 21},
                 {"1111", "1111", 30},
                 {"0001", "0001AB", 40},
                 {"FFFE", "FFFE", 65525},
                 {"0007", "0007", 65526}}));
    save(uplink(QStringLiteral("B0000001"), 0, {{"9999", "9999", 0}, {"2222", "2222", 40}}));
    save(uplink(QStringLiteral("C0000001"), 10, {{"5555", "5555", 0}}));
    QCOMPARE(log->lines(), QStringList());
}

void tst_StorageValues::cleanupTestCase()
{
    fixture.reset();
}

void tst_StorageValues::init()
{
    log->clear();
}

// The decoder's way in: by name, blocking, onto the storage thread.
void tst_StorageValues::save(const DB::SDbDeviceRegDataSet &set)
{
    QVERIFY(QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                      Q_ARG(DB::SDbDeviceRegDataSet, set)));
}

void tst_StorageValues::addDevice(const QString &devEui, int port, int startAddr,
                                  const QList<DB::SRegisterDescription> &registers,
                                  ProtocolOption kind)
{
    QVERIFY(
        storage->registerNewDevice(testDevice(devEui, quint16(port), startAddr, registers), kind));
}

void tst_StorageValues::registerImage_data()
{
    QTest::addColumn<quint32>("port");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("count");
    QTest::addColumn<QString>("image");

    QTest::addRow("32-bit value whole") << 5020u << 10u << 2u << "10=0001 11=00ff";
    QTest::addRow("32-bit value first word") << 5020u << 10u << 1u << "10=0001";
    QTest::addRow("32-bit value second word alone") << 5020u << 11u << 1u << "11=00ff";
    QTest::addRow("64-bit value from its middle") << 5020u << 21u << 2u << "21=0304 22=0506";
    QTest::addRow("64-bit value") << 5020u << 20u << 4u << "20=0102 21=0304 22=0506 23=0708";
    QTest::addRow("range ends inside a value") << 5020u << 19u << 3u << "19=0000 20=0102 21=0304";
    QTest::addRow("never saved, one byte, uncovered")
        << 5020u << 29u << 4u << "29=0000 30=0000 31=ab00 32=0000";
    QTest::addRow("trailing odd byte dropped") << 5020u << 50u << 2u << "50=0001 51=0000";
    QTest::addRow("two devices at one address") << 5020u << 40u << 1u << "40=2222";
    QTest::addRow("other port") << 5021u << 10u << 2u << "10=5555 11=0000";
    QTest::addRow("port without devices") << 6000u << 0u << 2u << "0=0000 1=0000";
    QTest::addRow("count 0") << 5020u << 10u << 0u << "";
    QTest::addRow("wrap at 65535") << 5020u << 65535u << 2u << "0=0007 65535=fffe";
    QTest::addRow("row at 65536 outside") << 5020u << 65534u << 2u << "65534=0000 65535=fffe";
}

void tst_StorageValues::registerImage()
{
    QFETCH(quint32, port);
    QFETCH(quint32, start);
    QFETCH(quint32, count);
    QFETCH(QString, image);

    // Cut from the port's cached rows and read by the range statement alike.
    QCOMPARE(registerImageBothWays(storage, port, start, count), image);
    QCOMPARE(log->lines(), QStringList());
}

void tst_StorageValues::saveWritesLastValues()
{
    addDevice(QStringLiteral("D0000001"), 5030, 0,
              {testRegister(0), testRegister(1, 32), testRegister(3)});
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    save(uplink(QStringLiteral("D0000001"), 0,
                {{"0001", "0001", 0},
                 {"0002", "00020003", 1},
                 {"0003", "", 2},
                 {"0004", "", 3},
                 {"0005", "0005", 9}}));
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(log->lines(), QStringList());

    const QString sql = QStringLiteral(
        "SELECT reg_addr, ifnull(value, '-'), ifnull(full_value, 'NULL'), typeof(time), time FROM "
        "dev_data WHERE port=5030 ORDER BY reg_addr;");
    QList<QVariantList> rows = side->rows(sql);
    QCOMPARE(rows.size(), 3);
    const QStringList expected
        = {"0 0001 0001 integer", "1 0002 00020003 integer", "3 0004 NULL integer"};
    for (int i = 0; i < rows.size(); ++i) {
        const QVariantList &row = rows.at(i);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(row.at(0).toString(), row.at(1).toString(), row.at(2).toString(),
                          row.at(3).toString()),
                 expected.at(i));
        QVERIFY(row.at(4).toLongLong() >= before && row.at(4).toLongLong() <= after);
    }

    // The next uplink replaces the last values.
    save(uplink(QStringLiteral("D0000001"), 0, {{"00AA", "", 0}}));
    rows = side->rows(sql);
    QCOMPARE(rows.first().at(1).toString(), QStringLiteral("00AA"));
    QCOMPARE(rows.first().at(2).toString(), QStringLiteral("NULL"));
    QCOMPARE(rows.at(1).at(1).toString(), QStringLiteral("0002"));
}

void tst_StorageValues::saveRejected_data()
{
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<bool>("withValues");
    QTest::addColumn<QString>("line");

    QTest::addRow("no values") << "A0000001" << false
                               << "INFO: [CDataBaseHandler::saveRegisterData] Empty input data";
    QTest::addRow("unknown DevEUI")
        << "0000000000000000" << true
        << "ERROR: [CDataBaseHandler::saveRegisterData] Uncknown DevEUI [0000000000000000]";
    QTest::addRow("tcp device") << "F0000001" << true
                                << "ERROR: [CDataBaseHandler::saveRegisterData] Uncknown DevEUI "
                                   "[F0000001]";
    QTest::addRow("quote in DevEUI")
        << "A0'01" << true << "ERROR: [CDataBaseHandler::saveRegisterData] Uncknown DevEUI [A0'01]";
}

void tst_StorageValues::saveRejected()
{
    QFETCH(QString, devEui);
    QFETCH(bool, withValues);
    QFETCH(QString, line);

    const QList<QVariantList> before = side->rows(ValuesSql);
    save(uplink(devEui, 10,
                withValues ? QList<DB::SDbRegValue>{{"7777", "7777", 0}}
                           : QList<DB::SDbRegValue>{}));
    QCOMPARE(log->lines(), QStringList{line});
    QCOMPARE(side->rows(ValuesSql), before);
}

// A register whose update fails is logged and left; the others of the uplink are saved.
void tst_StorageValues::saveGoesOnAfterFailingRegister()
{
    addDevice(QStringLiteral("G0000001"), 5040, 0,
              {testRegister(0), testRegister(1), testRegister(2)});
    const QString id
        = side->scalar(QStringLiteral("SELECT device FROM devices WHERE dev_eui='G0000001';"))
              .toString();
    QVERIFY(side->exec(QStringLiteral("CREATE TRIGGER fail BEFORE UPDATE ON dev_data WHEN "
                                      "NEW.reg_addr = 1 BEGIN SELECT RAISE(ABORT, 'forced'); "
                                      "END;")));
    log->clear();
    save(uplink(QStringLiteral("G0000001"), 0,
                {{"0001", "0001", 0}, {"0002", "0002", 1}, {"0003", "0003", 2}}));
    QVERIFY(side->exec(QStringLiteral("DROP TRIGGER fail;")));
    QCOMPARE(log->lines(), saveFailureLines(id, {QStringLiteral("1")}));
    QCOMPARE(side->column(QStringLiteral(
                 "SELECT ifnull(value, '-') FROM dev_data WHERE port=5040 ORDER BY reg_addr;")),
             QStringList({"0001", "-", "0003"}));
}

void tst_StorageValues::failingRegisterKeepsOldValue_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("when");
    // What the trigger selects for a failing register.
    QTest::addColumn<QString>("raise");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QStringList>("values");

    const QString rollback = QStringLiteral("RAISE(ROLLBACK, 'forced')");
    const QString abort = QStringLiteral("RAISE(ABORT, 'forced')");
    const QString fail = QStringLiteral("RAISE(FAIL, 'forced')");
    QTest::addRow("rollback first")
        << 5050 << "BEFORE" << rollback << "0" << QStringList{"0001", "0002", "0002"};
    QTest::addRow("rollback middle")
        << 5051 << "BEFORE" << rollback << "1" << QStringList{"0002", "0001", "0002"};
    QTest::addRow("rollback last")
        << 5052 << "BEFORE" << rollback << "2" << QStringList{"0002", "0002", "0001"};
    QTest::addRow("rollback first and last")
        << 5053 << "BEFORE" << rollback << "0, 2" << QStringList{"0001", "0002", "0001"};
    QTest::addRow("rollback after the update")
        << 5054 << "AFTER" << rollback << "1" << QStringList{"0002", "0001", "0002"};
    QTest::addRow("abort middle") << 5055 << "BEFORE" << abort << "1"
                                  << QStringList{"0002", "0001", "0002"};
    QTest::addRow("fail middle") << 5056 << "BEFORE" << fail << "1"
                                 << QStringList{"0002", "0001", "0002"};
    // FAIL keeps what its statement changed before: the row's own update.
    QTest::addRow("fail after the update")
        << 5057 << "AFTER" << fail << "1" << QStringList{"0002", "0001", "0002"};
    QTest::addRow("abort first, rollback last")
        << 5058 << "BEFORE"
        << QStringLiteral("CASE NEW.reg_addr WHEN 0 THEN %1 ELSE %2 END").arg(abort, rollback)
        << "0, 2" << QStringList{"0001", "0002", "0001"};
}

// A register whose update fails keeps its old value and the others of the uplink are saved,
// whether SQLite undoes only the failing statement (ABORT, FAIL) or the whole transaction
// (ROLLBACK).
void tst_StorageValues::failingRegisterKeepsOldValue()
{
    QFETCH(int, port);
    QFETCH(QString, when);
    QFETCH(QString, raise);
    QFETCH(QString, failing);
    QFETCH(QStringList, values);

    const QString devEui = QStringLiteral("H%1").arg(port);
    addDevice(devEui, port, 0, {testRegister(0), testRegister(1), testRegister(2)});
    save(uplink(devEui, 0, {{"0001", "0001", 0}, {"0001", "0001", 1}, {"0001", "0001", 2}}));
    const QString id
        = side->scalar(QStringLiteral("SELECT device FROM devices WHERE dev_eui='%1';").arg(devEui))
              .toString();
    QVERIFY(side->exec(QStringLiteral("CREATE TRIGGER fail %1 UPDATE ON dev_data WHEN NEW.port = "
                                      "%2 AND NEW.reg_addr IN (%3) BEGIN SELECT %4; END;")
                           .arg(when)
                           .arg(port)
                           .arg(failing, raise)));
    log->clear();
    save(uplink(devEui, 0, {{"0002", "0002", 0}, {"0002", "0002", 1}, {"0002", "0002", 2}}));
    QVERIFY(side->exec(QStringLiteral("DROP TRIGGER fail;")));

    const QString valuesSql
        = QStringLiteral("SELECT value FROM dev_data WHERE port=%1 ORDER BY reg_addr;").arg(port);
    QCOMPARE(side->column(valuesSql), values);
    const QStringList expectedLog = saveFailureLines(id, failing.split(QStringLiteral(", ")));
    QCOMPARE(log->lines(), expectedLog);

    // The storage is still usable afterwards.
    save(uplink(devEui, 0, {{"0003", "0003", 0}, {"0003", "0003", 1}, {"0003", "0003", 2}}));
    QCOMPARE(side->column(valuesSql), QStringList({"0003", "0003", "0003"}));
    QCOMPARE(log->lines(), expectedLog);
}

void tst_StorageValues::registerParam_data()
{
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<quint32>("regAddr");
    QTest::addColumn<bool>("found");

    QTest::addRow("registered") << "A0000001" << 10u << true;
    QTest::addRow("address not registered") << "A0000001" << 11u << false;
    QTest::addRow("DevEUI in other letter case") << "a0000001" << 10u << true;
    QTest::addRow("tcp device") << "F0000001" << 0u << false;
}

void tst_StorageValues::registerParam()
{
    QFETCH(QString, devEui);
    QFETCH(quint32, regAddr);
    QFETCH(bool, found);

    const DB::SRegisterParam param = storage->getRegisterParam(devEui, regAddr);
    if (found) {
        QCOMPARE(param.regAddr, regAddr);
        QCOMPARE(param.extraValue, -2.5);
        QCOMPARE(param.multiplier, 0.1);
        QCOMPARE(param.units, QStringLiteral("°C"));
        QCOMPARE(log->lines(), QStringList());
    } else {
        QCOMPARE(param.regAddr, 0u);
        QCOMPARE(param.extraValue, 0.0);
        QCOMPARE(param.multiplier, 1.0);
        QCOMPARE(param.units, QString());
        QCOMPARE(log->lines(),
                 QStringList({QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] "
                                             "Register is not exist!"),
                              RegisterParamStatement}));
    }
}

void tst_StorageValues::readFailureLine_data()
{
    QTest::addColumn<bool>("cached");
    QTest::addColumn<quint32>("port");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("count");
    QTest::addColumn<QString>("statement");

    QTest::addRow("port statement")
        << true << 5020u << 10u << 2u
        << "SELECT * FROM dev_data WHERE port=5020 ORDER BY reg_addr, rowid;";
    // It reads from three registers below the range, for wide values that begin there.
    QTest::addRow("range statement")
        << false << 5020u << 10u << 2u
        << "SELECT * FROM dev_data WHERE port=5020 AND reg_addr BETWEEN 7 AND 11 ORDER BY "
           "reg_addr, rowid;";
    QTest::addRow("range statement below address 0")
        << false << 5020u << 1u << 1u
        << "SELECT * FROM dev_data WHERE port=5020 AND reg_addr BETWEEN -2 AND 1 ORDER BY "
           "reg_addr, rowid;";
    QTest::addRow("range end not cut to 16 bits")
        << false << 70000u << 65535u << 2u
        << "SELECT * FROM dev_data WHERE port=70000 AND reg_addr BETWEEN 65532 AND 65536 ORDER BY "
           "reg_addr, rowid;";
}

// A read whose statement fails (a table renamed behind the handler's back) is told apart from an
// empty result, and its lines give the statement that ran, with the numbers it was given.
void tst_StorageValues::readFailureLine()
{
    QFETCH(bool, cached);
    QFETCH(quint32, port);
    QFETCH(quint32, start);
    QFETCH(quint32, count);
    QFETCH(QString, statement);

    const auto cacheBack = qScopeGuard([this] { storage->setImageCacheEnabled(true); });
    storage->setImageCacheEnabled(cached);
    QVERIFY(side->exec(QStringLiteral("ALTER TABLE dev_data RENAME TO dev_data_away;")));
    bool ok = true;
    {
        const auto tableBack = qScopeGuard([this] {
            QVERIFY(side->exec(QStringLiteral("ALTER TABLE dev_data_away RENAME TO dev_data;")));
        });
        SideConnection::waitUntilSeen();
        QVERIFY(storage->getRegisterData(port, start, count, &ok).isEmpty());
        QVERIFY(!ok);
    }
    QCOMPARE(log->lines(),
             QStringList({QStringLiteral("ERROR: [CDataBaseHandler::getRegisterData] Invalid SQL "
                                         "request [1]"),
                          statement}));

    // The statement is prepared anew once the table is back.
    SideConnection::waitUntilSeen();
    QCOMPARE(registerImageText(storage->getRegisterData(5020, 10, 2, &ok)),
             QStringLiteral("10=0001 11=00ff"));
    QVERIFY(ok);
}

void tst_StorageValues::deviceFoundInAnyLetterCase_data()
{
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QString>("inFile"); // the DevEUI as the file holds it
    QTest::addColumn<QString>("uplinkEui");
    QTest::addColumn<QString>("twin"); // an older row of the same DevEUI in another spelling

    QTest::addRow("stored in lower case") << quint16(5061) << "abcd0001"
                                          << "ABCD0001"
                                          << "";
    QTest::addRow("stored in mixed case") << quint16(5062) << "AbCd0002"
                                          << "ABCD0002"
                                          << "";
    QTest::addRow("uplink in lower case") << quint16(5063) << "ABCD0003"
                                          << "abcd0003"
                                          << "";
    QTest::addRow("exact spelling before an older twin") << quint16(5064) << "ABCD0004"
                                                         << "ABCD0004"
                                                         << "abcd0004";
}

// Files of earlier versions hold DevEUIs as the server listed them; uplinks carry upper case.
void tst_StorageValues::deviceFoundInAnyLetterCase()
{
    QFETCH(quint16, port);
    QFETCH(QString, inFile);
    QFETCH(QString, uplinkEui);
    QFETCH(QString, twin);

    const quint16 twinPort = port + 100;
    const auto storeAs = [this](const QString &spelling, quint16 onPort) {
        addDevice(QStringLiteral("NEW"), onPort, 10, {testRegister(0)});
        return side->exec(
            QStringLiteral("UPDATE devices SET dev_eui='%1' WHERE dev_eui='NEW';").arg(spelling));
    };
    if (!twin.isEmpty())
        QVERIFY(storeAs(twin, twinPort));
    QVERIFY(storeAs(inFile, port));
    QVERIFY(side->exec(QStringLiteral("UPDATE dev_data SET grating_period=0.5, unit='kPa' WHERE "
                                      "port=%1;")
                           .arg(port)));
    SideConnection::waitUntilSeen();

    save(uplink(uplinkEui, 10, {{"1234", "1234", 0}}));
    QCOMPARE(log->lines(), QStringList());
    QCOMPARE(registerImageText(storage->getRegisterData(port, 10, 1)), QStringLiteral("10=1234"));
    const DB::SRegisterParam param = storage->getRegisterParam(uplinkEui, 10);
    QCOMPARE(param.regAddr, 10u);
    QCOMPARE(param.multiplier, 0.5);
    QCOMPARE(param.units, QStringLiteral("kPa"));
    if (!twin.isEmpty())
        QCOMPARE(registerImageText(storage->getRegisterData(twinPort, 10, 1)), QStringLiteral("10=0000"));
}

// Statements that fail (a table renamed behind the handler's back) change nothing.
void tst_StorageValues::failedStatements()
{
    QVERIFY(side->exec(QStringLiteral("ALTER TABLE dev_data RENAME TO dev_data_away;")));
    SideConnection::waitUntilSeen();
    const DB::SRegisterParam param = storage->getRegisterParam(QStringLiteral("A0000001"), 10);
    QCOMPARE(param.multiplier, 1.0);
    QCOMPARE(param.units, QString());
    save(uplink(QStringLiteral("A0000001"), 10, {{"0009", "0009", 0}}));
    QVERIFY(side->exec(QStringLiteral("ALTER TABLE dev_data_away RENAME TO dev_data;")));
    const QStringList lines = log->lines();
    QCOMPARE(lines.mid(0, 2),
             QStringList({QStringLiteral("ERROR: [CDataBaseHandler::getRegisterParam] Invalid SQL "
                                         "request [1]"),
                          RegisterParamStatement}));
    QCOMPARE(lines.value(2), QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid "
                                            "SQL request [2]"));

    QVERIFY(side->exec(QStringLiteral("ALTER TABLE devices RENAME TO devices_away;")));
    log->clear();
    save(uplink(QStringLiteral("A0000001"), 10, {{"0009", "0009", 0}}));
    QVERIFY(side->exec(QStringLiteral("ALTER TABLE devices_away RENAME TO devices;")));
    QCOMPARE(log->lines(),
             QStringList{QStringLiteral("ERROR: [CDataBaseHandler::saveRegisterData] Invalid SQL "
                                        "request [1]")});

    // Back to normal, and the failed saves changed nothing.
    bool ok = false;
    QCOMPARE(registerImageText(storage->getRegisterData(5020, 10, 2, &ok)),
             QStringLiteral("10=0001 11=00ff"));
    QVERIFY(ok);
}

// The same range read again reflects every change: at once the handler's own, within a few
// milliseconds another connection's.
void tst_StorageValues::repeatedReadFollowsEveryChange()
{
    const auto read = [this] {
        bool ok = false;
        const DB::RegisterImage image = storage->getRegisterData(5040, 0, 2, &ok);
        return ok ? image.value(0) * 0x10000u + image.value(1) : 0xDEADu;
    };
    addDevice(QStringLiteral("E0000001"), 5040, 0, {testRegister(0), testRegister(1)});
    QCOMPARE(read(), 0u);
    save(uplink(QStringLiteral("E0000001"), 0, {{"0011", "0011", 0}, {"0022", "0022", 1}}));
    QCOMPARE(read(), 0x00110022u);
    save(uplink(QStringLiteral("E0000001"), 0, {{"0033", "0033", 1}}));
    QCOMPARE(read(), 0x00110033u);

    // A second device on the port at the same address: its never-saved row is read last.
    addDevice(QStringLiteral("E0000002"), 5040, 1, {testRegister(0)});
    QCOMPARE(read(), 0x00110000u);
    const quint32 second
        = side->scalar(QStringLiteral("SELECT device FROM devices WHERE dev_eui='E0000002';"))
              .toUInt();
    QVERIFY(storage->deleteDevice(second, ProtocolModbus));
    QCOMPARE(read(), 0x00110033u);

    // Another connection's change, and a table gone and back.
    QVERIFY(side->exec(QStringLiteral("UPDATE dev_data SET full_value='0044' WHERE port=5040 AND "
                                      "reg_addr=0;")));
    SideConnection::waitUntilSeen();
    QCOMPARE(read(), 0x00440033u);
    QVERIFY(side->exec(QStringLiteral("ALTER TABLE dev_data RENAME TO dev_data_away;")));
    SideConnection::waitUntilSeen();
    QCOMPARE(read(), 0xDEADu);
    QVERIFY(side->exec(QStringLiteral("ALTER TABLE dev_data_away RENAME TO dev_data;")));
    SideConnection::waitUntilSeen();
    QCOMPARE(read(), 0x00440033u);

    // A low word read alone follows every change of the value whose row begins before it.
    addDevice(QStringLiteral("E0000003"), 5041, 0, {testRegister(0, 32)});
    const auto lowWord = [this] {
        return storage->getRegisterData(5041, 1, 1).value(1, 0xDEAD);
    };
    QCOMPARE(lowWord(), 0u);
    save(uplink(QStringLiteral("E0000003"), 0, {{"0001", "000186A0", 0}, {"86A0", "", 1}}));
    QCOMPARE(lowWord(), 0x86a0u);
    QVERIFY(
        side->exec(QStringLiteral("UPDATE dev_data SET full_value='00020003' WHERE port=5041;")));
    SideConnection::waitUntilSeen();
    QCOMPARE(lowWord(), 0x0003u);
    log->clear();
}

QTEST_GUILESS_MAIN(tst_StorageValues)
#include "tst_storage_values.moc"
