#include "CDataBaseHandler.h"
#include "LogCapture.h"
#include "SideConnection.h"
#include "TempWorkDir.h"
#include "TestRegister.h"

#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QtTest>

#include <memory>

using DeviceList = QList<DB::SDeviceRegMapDescription>;

// Device records: registering, listing, searching, deleting and editing devices of both kinds.
class tst_StorageDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void registerDevice_data();
    void registerDevice();
    void storedColumns();
    void duplicateDevEui_data();
    void duplicateDevEui();
    void failedRegistrationLeavesNothing_data();
    void failedRegistrationLeavesNothing();
    void quotesInTexts();
    void searchDevices_data();
    void searchDevices();
    void deleteDevice_data();
    void deleteDevice();
    void failedDeleteLeavesDevice();
    void updateRegInfo_data();
    void updateRegInfo();
    void failedUpdateChangesNothing_data();
    void failedUpdateChangesNothing();
    void updateTCPRegInfo();
    void writesWhileListIsOpen();
    void otherKind();

private:
    quint32 idOf(const QString &devEui, ProtocolOption kind);
    int rowCount(const QString &table);

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<SideConnection> side;
    CDataBaseHandler *storage = nullptr;
};

namespace {

DB::SDeviceRegMapDescription device(const QString &devEui, const QString &name = QString(),
                                    int startAddr = 100, const QList<quint32> &offsets = {},
                                    int port = 5020)
{
    DB::SDeviceRegMapDescription d;
    d.devEui = devEui;
    d.appEui = QStringLiteral("APP-") + devEui;
    d.name = name.isEmpty() ? QStringLiteral("dev ") + devEui : name;
    d.startAddr = startAddr;
    for (quint32 offset : offsets)
        d.registers.append(testRegister(offset));
    d.port = port;
    return d;
}

QStringList rowsOf(QSqlQuery &query, int column)
{
    QStringList values;
    while (query.next())
        values.append(query.value(column).toString());
    return values;
}

const QString &tableOf(ProtocolOption kind)
{
    return kind == ProtocolTCP ? DB::DbNames::DevicesTcpTable : DB::DbNames::DevicesTable;
}

const QString InsertRegisterStatement = QStringLiteral(
    "INSERT INTO dev_data (device, port, reg_addr, start_value, grating_period, bit_size, "
    "data_type, name, parent, source, unit) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ? ) ");

} // namespace

void tst_StorageDevices::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    log = std::make_unique<LogCapture>();
    storage = CDataBaseHandler::getInstance();
    QVERIFY(storage);
    side = std::make_unique<SideConnection>();
    QVERIFY(side->isOpen());
}

void tst_StorageDevices::init()
{
    for (const QString &table :
         {DB::DbNames::DevicesTable, DB::DbNames::DevicesTcpTable, DB::DbNames::DevDataTable})
        QVERIFY2(side->exec(QStringLiteral("DELETE FROM %1;").arg(table)),
                 qPrintable(side->lastError()));
    for (const QString &trigger :
         side->column(QStringLiteral("SELECT name FROM sqlite_master WHERE type='trigger';")))
        QVERIFY(side->exec(QStringLiteral("DROP TRIGGER %1;").arg(trigger)));
    log->clear();
}

quint32 tst_StorageDevices::idOf(const QString &devEui, ProtocolOption kind)
{
    return side
        ->scalar(
            QStringLiteral("SELECT device FROM %1 WHERE dev_eui='%2';").arg(tableOf(kind), devEui))
        .toUInt();
}

int tst_StorageDevices::rowCount(const QString &table)
{
    return side->scalar(QStringLiteral("SELECT COUNT(*) FROM %1;").arg(table)).toInt();
}

void tst_StorageDevices::registerDevice_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<int>("startAddr");
    QTest::addColumn<QList<quint32>>("offsets");
    QTest::addColumn<QStringList>("addresses"); // reg_addr of the rows written, ascending
    QTest::addColumn<QString>("warning");

    QTest::addRow("modbus with registers") << ProtocolModbus << 100 << QList<quint32>{0, 1, 5}
                                           << QStringList{"100", "101", "105"} << QString();
    QTest::addRow("modbus without registers")
        << ProtocolModbus << 100 << QList<quint32>{} << QStringList{} << QString();
    QTest::addRow("repeated offset")
        << ProtocolModbus << 0 << QList<quint32>{255, 1, 255} << QStringList{"1", "255"}
        << QStringLiteral("WARNING: [CDataBaseHandler::registerNewDevice] Register [0x00ff] for "
                          "device [70B3D5E75E000001] already exist!");
    QTest::addRow("tcp keeps no start address nor registers")
        << ProtocolTCP << 100 << QList<quint32>{0, 1} << QStringList{} << QString();
}

void tst_StorageDevices::registerDevice()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(int, startAddr);
    QFETCH(QList<quint32>, offsets);
    QFETCH(QStringList, addresses);
    QFETCH(QString, warning);

    const QString devEui = QStringLiteral("70B3D5E75E000001");
    QVERIFY(storage->registerNewDevice(device(devEui, QString(), startAddr, offsets), kind));
    QCOMPARE(log->lines(), warning.isEmpty() ? QStringList() : QStringList{warning});

    QCOMPARE(rowCount(tableOf(kind)), 1);
    QCOMPARE(rowCount(tableOf(kind == ProtocolTCP ? ProtocolModbus : ProtocolTCP)), 0);
    QSqlQuery devices = storage->getDevices(QString(), kind);
    QVERIFY(devices.isActive());
    QVERIFY(devices.next());
    QCOMPARE(devices.record().count(), kind == ProtocolTCP ? 5 : 6);
    QCOMPARE(devices.value(DB::DeviceCol::DevEui).toString(), devEui);
    if (kind == ProtocolModbus)
        QCOMPARE(devices.value(DB::DeviceCol::StartAddr).toInt(), startAddr);

    QSqlQuery registers = storage->getRegisters(idOf(devEui, kind));
    QVERIFY(registers.isActive());
    QCOMPARE(rowsOf(registers, DB::DevDataCol::RegAddr),
             kind == ProtocolTCP ? QStringList() : addresses);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), kind == ProtocolTCP ? 0 : addresses.size());
}

// Every field lands in its column; the views read them by index.
void tst_StorageDevices::storedColumns()
{
    DB::SDeviceRegMapDescription d = device(QStringLiteral("AB01"), QStringLiteral("Meter"), 40);
    d.port = 5021;
    DB::SRegisterDescription r = testRegister(3, 32);
    r.name = QStringLiteral("energy");
    r.source = DB::SourceServer;
    r.dataType = QStringLiteral("integer");
    r.extraValue = 0.5;
    r.multiplier = 0.01;
    r.units = QStringLiteral("kWh");
    d.registers = {r};
    QVERIFY(storage->registerNewDevice(d, ProtocolModbus));

    QSqlQuery devices = storage->getDevices(QString(), ProtocolModbus);
    QVERIFY(devices.next());
    const quint32 id = devices.value(DB::DeviceCol::Device).toUInt();
    QVERIFY(id > 0);
    QCOMPARE(devices.value(DB::DeviceCol::Name).toString(), QStringLiteral("Meter"));
    QCOMPARE(devices.value(DB::DeviceCol::AppEui).toString(), QStringLiteral("APP-AB01"));
    QCOMPARE(devices.value(DB::DeviceCol::Port).toInt(), 5021);
    QCOMPARE(devices.value(DB::DeviceCol::StartAddr).toInt(), 40);

    QSqlQuery registers = storage->getRegisters(id);
    QVERIFY(registers.next());
    QCOMPARE(registers.record().count(), 14);
    QCOMPARE(registers.value(DB::DevDataCol::Device).toUInt(), id);
    QCOMPARE(registers.value(DB::DevDataCol::Port).toInt(), 5021);
    QCOMPARE(registers.value(DB::DevDataCol::RegAddr).toInt(), 43);
    QCOMPARE(registers.value(DB::DevDataCol::StartValue).toDouble(), 0.5);
    QCOMPARE(registers.value(DB::DevDataCol::GratingPeriod).toDouble(), 0.01);
    QCOMPARE(registers.value(DB::DevDataCol::BitSize).toInt(), 32);
    QCOMPARE(registers.value(DB::DevDataCol::DataType).toString(), QStringLiteral("integer"));
    QVERIFY(registers.value(DB::DevDataCol::Value).isNull());
    QVERIFY(registers.value(DB::DevDataCol::FullValue).isNull());
    QVERIFY(registers.value(DB::DevDataCol::Time).isNull());
    QCOMPARE(registers.value(DB::DevDataCol::Name).toString(), QStringLiteral("energy"));
    QCOMPARE(registers.value(DB::DevDataCol::Unit).toString(), QStringLiteral("kWh"));
    QCOMPARE(registers.value(DB::DevDataCol::Parent).toInt(), 1);
    QCOMPARE(registers.value(DB::DevDataCol::Source).toInt(), 0);
    QVERIFY(!registers.next());

    // Numbers are stored as numbers, so lookups by id and address find them.
    QCOMPARE(side->column(QStringLiteral("SELECT typeof(device) || typeof(port) || "
                                         "typeof(reg_addr) || typeof(parent) FROM dev_data;")),
             QStringList{QStringLiteral("integerintegerintegerinteger")});
}

void tst_StorageDevices::duplicateDevEui_data()
{
    QTest::addColumn<ProtocolOption>("firstKind");
    QTest::addColumn<QString>("firstEui");
    QTest::addColumn<ProtocolOption>("secondKind");
    QTest::addColumn<QString>("secondEui");
    // The first device's DevEUI rewritten in lower case, as files of earlier versions hold it.
    QTest::addColumn<bool>("lowerInFile");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("registered"); // getRegisteredDevices(secondKind), sorted

    QTest::addRow("modbus twice") << ProtocolModbus << "70B3D5" << ProtocolModbus << "70B3D5"
                                  << false << false << QStringList{"70B3D5"};
    QTest::addRow("tcp twice") << ProtocolTCP << "70B3D5" << ProtocolTCP << "70B3D5" << false
                               << false << QStringList{"70B3D5"};
    QTest::addRow("once in each table") << ProtocolModbus << "70B3D5" << ProtocolTCP << "70B3D5"
                                        << false << true << QStringList{"70B3D5"};
    QTest::addRow("letter case differs") << ProtocolModbus << "70b3d5" << ProtocolModbus << "70B3D5"
                                         << false << false << QStringList{"70B3D5"};
    QTest::addRow("letter case differs tcp")
        << ProtocolTCP << "70B3D5AB" << ProtocolTCP << "70b3D5aB" << false << false
        << QStringList{"70B3D5AB"};
    QTest::addRow("stored in lower case before")
        << ProtocolModbus << "70B3D5EF" << ProtocolModbus << "70B3D5EF" << true << false
        << QStringList{"70B3D5EF"};
    QTest::addRow("stored in lower case before tcp")
        << ProtocolTCP << "70B3D5EF" << ProtocolTCP << "70b3d5EF" << true << false
        << QStringList{"70B3D5EF"};
}

void tst_StorageDevices::duplicateDevEui()
{
    QFETCH(ProtocolOption, firstKind);
    QFETCH(QString, firstEui);
    QFETCH(ProtocolOption, secondKind);
    QFETCH(QString, secondEui);
    QFETCH(bool, lowerInFile);
    QFETCH(bool, accepted);
    QFETCH(QStringList, registered);

    QVERIFY(
        storage->registerNewDevice(device(firstEui, QStringLiteral("first"), 0, {0}), firstKind));
    // Stored in upper case, as uplinks carry it.
    QCOMPARE(side->column(QStringLiteral("SELECT dev_eui FROM %1;").arg(tableOf(firstKind))),
             QStringList{firstEui.toUpper()});
    if (lowerInFile)
        QVERIFY(side->exec(
            QStringLiteral("UPDATE %1 SET dev_eui=lower(dev_eui);").arg(tableOf(firstKind))));
    log->clear();
    QCOMPARE(storage->registerNewDevice(device(secondEui, QStringLiteral("second"), 10, {0}),
                                        secondKind),
             accepted);
    if (accepted) {
        QCOMPARE(log->lines(), QStringList());
    } else {
        QCOMPARE(log->lines(),
                 QStringList{QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Device "
                                            "[%1] already exist!")
                                 .arg(secondEui.toUpper())});
        QCOMPARE(rowCount(tableOf(secondKind)), 1);
        QCOMPARE(side->scalar(QStringLiteral("SELECT name FROM %1;").arg(tableOf(secondKind)))
                     .toString(),
                 QStringLiteral("first"));
        QCOMPARE(rowCount(DB::DbNames::DevDataTable), firstKind == ProtocolModbus ? 1 : 0);
    }
    QStringList devEuis = storage->getRegisteredDevices(secondKind);
    devEuis.sort();
    QCOMPARE(devEuis, registered);
}

void tst_StorageDevices::failedRegistrationLeavesNothing_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QStringList>("lines");

    const QString failOnRegister = QStringLiteral(
        "CREATE TRIGGER fail BEFORE INSERT ON dev_data WHEN NEW.reg_addr = %1 BEGIN SELECT "
        "RAISE(ABORT, 'forced'); END;");
    const QStringList registerFailed
        = {QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [4]"),
           InsertRegisterStatement};
    QTest::addRow("device row") << ProtocolModbus
                                << QStringLiteral("CREATE TRIGGER fail BEFORE INSERT ON devices "
                                                  "BEGIN SELECT RAISE(ABORT, 'forced'); END;")
                                << QStringList{QStringLiteral(
                                       "[CDataBaseHandler::registerNewDevice] Invalid SQL "
                                       "request [2]")};
    QTest::addRow("tcp device row")
        << ProtocolTCP
        << QStringLiteral("CREATE TRIGGER fail BEFORE INSERT ON devicesTCP BEGIN SELECT "
                          "RAISE(ABORT, 'forced'); END;")
        << QStringList{
               QStringLiteral("[CDataBaseHandler::registerNewDevice] Invalid SQL request [2]")};
    QTest::addRow("first register") << ProtocolModbus << failOnRegister.arg(100) << registerFailed;
    QTest::addRow("last register") << ProtocolModbus << failOnRegister.arg(102) << registerFailed;
}

// A registration that fails half-way writes nothing, so the device can be registered again.
void tst_StorageDevices::failedRegistrationLeavesNothing()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, trigger);
    QFETCH(QStringList, lines);

    const DB::SDeviceRegMapDescription d
        = device(QStringLiteral("AA01"), QString(), 100, {0, 1, 2});
    QVERIFY2(side->exec(trigger), qPrintable(side->lastError()));
    QVERIFY(!storage->registerNewDevice(d, kind));
    QCOMPARE(log->lines(), lines);
    QCOMPARE(rowCount(tableOf(kind)), 0);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 0);

    QVERIFY(side->exec(QStringLiteral("DROP TRIGGER fail;")));
    log->clear();
    QVERIFY(storage->registerNewDevice(d, kind));
    QCOMPARE(log->lines(), QStringList());
    QCOMPARE(rowCount(tableOf(kind)), 1);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), kind == ProtocolModbus ? 3 : 0);
}

// Quotes in a DevEUI, a name or a search text are plain characters.
void tst_StorageDevices::quotesInTexts()
{
    const QString devEui = QStringLiteral("AB'CD\"EF");
    const QString name = QStringLiteral("O'Neil \"big\"");
    for (ProtocolOption kind : {ProtocolModbus, ProtocolTCP}) {
        QVERIFY(storage->registerNewDevice(device(devEui, name, 0, {0}), kind));
        QVERIFY(!storage->registerNewDevice(device(devEui, name, 0, {0}), kind));
        QCOMPARE(storage->getRegisteredDevices(kind), QStringList{devEui});
        for (const QString &search : {QStringLiteral("'"), QStringLiteral("\""), name}) {
            QSqlQuery found = storage->getDevices(search, kind);
            QVERIFY(found.isActive());
            QCOMPARE(rowsOf(found, DB::DeviceCol::Name), QStringList{name});
        }
    }
    QCOMPARE(log->count(QStringLiteral("Invalid SQL request")), 0);
    log->clear();
    storage->getRegisterParam(devEui, 0);
    QCOMPARE(log->lines(), QStringList());
}

void tst_StorageDevices::searchDevices_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("names");

    const QStringList all
        = {"100% valve", "Abc meter", "Pump 1", "Tank-2", "Tank_2", "plain", "xaBy"};
    for (ProtocolOption kind : {ProtocolModbus, ProtocolTCP}) {
        const char *k = kind == ProtocolModbus ? "modbus" : "tcp";
        QTest::addRow("%s: no text lists all by name", k) << kind << QString() << all;
        QTest::addRow("%s: letter case ignored", k)
            << kind << QStringLiteral("AB") << QStringList{"Abc meter", "xaBy"};
        QTest::addRow("%s: percent is a wildcard", k)
            << kind << QStringLiteral("p%1") << QStringList{"Pump 1"};
        QTest::addRow("%s: percent alone", k) << kind << QStringLiteral("%") << all;
        QTest::addRow("%s: underscore is a wildcard", k)
            << kind << QStringLiteral("k_2") << QStringList{"Tank-2", "Tank_2"};
        QTest::addRow("%s: leading digit", k)
            << kind << QStringLiteral("1") << QStringList{"100% valve", "Pump 1"};
        QTest::addRow("%s: no match", k) << kind << QStringLiteral("3") << QStringList{};
    }
}

void tst_StorageDevices::searchDevices()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, search);
    QFETCH(QStringList, names);

    const QStringList stored
        = {"plain", "Tank_2", "xaBy", "Abc meter", "Tank-2", "Pump 1", "100% valve"};
    for (int i = 0; i < stored.size(); ++i)
        QVERIFY(storage->registerNewDevice(device(QString::number(i), stored.at(i)), kind));

    QSqlQuery found = storage->getDevices(search, kind);
    QVERIFY(found.isActive());
    QCOMPARE(rowsOf(found, DB::DeviceCol::Name), names);
    QCOMPARE(log->lines(), QStringList());
}

void tst_StorageDevices::deleteDevice_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addRow("modbus") << ProtocolModbus;
    QTest::addRow("tcp") << ProtocolTCP;
}

void tst_StorageDevices::deleteDevice()
{
    QFETCH(ProtocolOption, kind);

    QVERIFY(storage->registerNewDevice(device(QStringLiteral("M1"), QString(), 0, {0, 1}),
                                       ProtocolModbus));
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("T1")), ProtocolTCP));
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("KIND")), kind));
    const quint32 id = idOf(QStringLiteral("KIND"), kind);
    const quint32 modbusId = idOf(QStringLiteral("M1"), ProtocolModbus);

    // A TCP id never touches register rows, even when a Modbus device has the same number.
    QVERIFY(storage->deleteDevice(modbusId, ProtocolTCP));
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 2);
    QCOMPARE(rowCount(DB::DbNames::DevicesTable), kind == ProtocolModbus ? 2 : 1);

    QVERIFY(storage->deleteDevice(id, kind));
    QVERIFY(storage->deleteDevice(id, kind));
    QCOMPARE(idOf(QStringLiteral("KIND"), kind), 0u);
    QVERIFY(storage->deleteDevice(modbusId, ProtocolModbus));
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 0);
    QCOMPARE(rowCount(DB::DbNames::DevicesTable), 0);
    QCOMPARE(log->lines(), QStringList());

    // A deleted id is never handed out again.
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("KIND")), kind));
    QVERIFY(idOf(QStringLiteral("KIND"), kind) > id);
}

// The device row and its register rows go together: a failed register delete keeps both.
void tst_StorageDevices::failedDeleteLeavesDevice()
{
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("M1"), QString(), 0, {0, 1}),
                                       ProtocolModbus));
    const quint32 id = idOf(QStringLiteral("M1"), ProtocolModbus);
    QVERIFY(side->exec(QStringLiteral("CREATE TRIGGER fail BEFORE DELETE ON dev_data BEGIN "
                                      "SELECT RAISE(ABORT, 'forced'); END;")));
    QVERIFY(!storage->deleteDevice(id, ProtocolModbus));
    QCOMPARE(log->lines(), QStringList{QStringLiteral(
                               "[CDataBaseHandler::deleteDevice] Invalid SQL request [2]")});
    QCOMPARE(idOf(QStringLiteral("M1"), ProtocolModbus), id);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 2);

    QVERIFY(side->exec(QStringLiteral("DROP TRIGGER fail;")));
    QVERIFY(storage->deleteDevice(id, ProtocolModbus));
    QCOMPARE(rowCount(DB::DbNames::DevicesTable), 0);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 0);
}

void tst_StorageDevices::updateRegInfo_data()
{
    QTest::addColumn<bool>("sameDevice");
    QTest::addColumn<QList<quint32>>("addresses");
    QTest::addColumn<QStringList>("expected"); // "addr extra multiplier units", by address

    const QStringList untouched = {"100 0 1.0 ", "101 0 1.0 ", "102 0 1.0 "};
    QTest::addRow("two of three registers")
        << true << QList<quint32>{100, 102}
        << QStringList{"100 1.5 0.1 V", "101 0 1.0 ", "102 2.5 0.2 V"};
    QTest::addRow("no registers") << true << QList<quint32>{} << untouched;
    QTest::addRow("address not registered") << true << QList<quint32>{103} << untouched;
    QTest::addRow("other device") << false << QList<quint32>{100} << untouched;
}

void tst_StorageDevices::updateRegInfo()
{
    QFETCH(bool, sameDevice);
    QFETCH(QList<quint32>, addresses);
    QFETCH(QStringList, expected);

    QVERIFY(storage->registerNewDevice(device(QStringLiteral("M1"), QString(), 100, {0, 1, 2}),
                                       ProtocolModbus));
    DB::SRegInfoUpdate update;
    update.deviceId = idOf(QStringLiteral("M1"), ProtocolModbus) + (sameDevice ? 0 : 1);
    update.port = 1234;
    for (int i = 0; i < addresses.size(); ++i)
        update.registers.append({addresses.at(i), 1.5 + i, 0.1 * (i + 1), QStringLiteral("V")});
    log->clear();
    QVERIFY(storage->updateRegInfo(update));
    QCOMPARE(log->lines(), QStringList());
    QCOMPARE(side->column(QStringLiteral(
                 "SELECT reg_addr || ' ' || start_value || ' ' || grating_period || ' ' || "
                 "ifnull(unit, '') FROM dev_data ORDER BY reg_addr;")),
             expected);
    QCOMPARE(side->scalar(QStringLiteral("SELECT port FROM devices;")).toInt(), 5020);
}

void tst_StorageDevices::failedUpdateChangesNothing_data()
{
    QTest::addColumn<QString>("trigger");

    const QString trigger = QStringLiteral("CREATE TRIGGER fail BEFORE UPDATE ON dev_data WHEN "
                                           "NEW.reg_addr = %1 BEGIN SELECT RAISE(%2, 'forced'); "
                                           "END;");
    QTest::addRow("third register aborted") << trigger.arg(102).arg(QStringLiteral("ABORT"));
    QTest::addRow("second register aborted") << trigger.arg(101).arg(QStringLiteral("ABORT"));
    QTest::addRow("third register fails") << trigger.arg(102).arg(QStringLiteral("FAIL"));
    // SQLite ends the whole transaction itself.
    QTest::addRow("third register rolls back") << trigger.arg(102).arg(QStringLiteral("ROLLBACK"));
}

// An edit is stored whole or not at all.
void tst_StorageDevices::failedUpdateChangesNothing()
{
    QFETCH(QString, trigger);

    QVERIFY(storage->registerNewDevice(device(QStringLiteral("M1"), QString(), 100, {0, 1, 2}),
                                       ProtocolModbus));
    QVERIFY2(side->exec(trigger), qPrintable(side->lastError()));
    DB::SRegInfoUpdate update;
    update.deviceId = idOf(QStringLiteral("M1"), ProtocolModbus);
    for (quint32 address : {100, 101, 102})
        update.registers.append({address, 7.0, 2.0, QStringLiteral("A")});
    log->clear();
    QVERIFY(!storage->updateRegInfo(update));
    QCOMPARE(log->lines(),
             QStringList({QStringLiteral("ERROR: [CDataBaseHandler::updateRegInfo] Invalid SQL "
                                         "request [1]"),
                          QStringLiteral("UPDATE dev_data SET start_value=:start_value, "
                                         "grating_period=:grating_period, unit=:unit WHERE "
                                         "device=:device AND reg_addr=:reg_addr;")}));
    const QString unitsSql = QStringLiteral(
        "SELECT ifnull(unit, '-') || ' ' || grating_period FROM dev_data ORDER BY reg_addr;");
    QCOMPARE(side->column(unitsSql), QStringList({"- 1.0", "- 1.0", "- 1.0"}));

    // Nothing is left open: the same edit goes through once the fault is gone.
    QVERIFY(side->exec(QStringLiteral("DROP TRIGGER fail;")));
    log->clear();
    QVERIFY(storage->updateRegInfo(update));
    QCOMPARE(log->lines(), QStringList());
    QCOMPARE(side->column(unitsSql), QStringList({"A 2.0", "A 2.0", "A 2.0"}));
}

void tst_StorageDevices::updateTCPRegInfo()
{
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("T1"), QString(), 0, {}, 4001),
                                       ProtocolTCP));
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("T2"), QString(), 0, {}, 4002),
                                       ProtocolTCP));
    DB::SRegInfoUpdate update;
    update.deviceId = idOf(QStringLiteral("T1"), ProtocolTCP);
    update.port = 65535;
    QVERIFY(storage->updateTCPRegInfo(update));
    QCOMPARE(side->column(QStringLiteral("SELECT port FROM devicesTCP ORDER BY dev_eui;")),
             QStringList({"65535", "4002"}));

    QVERIFY(side->exec(QStringLiteral("CREATE TRIGGER fail BEFORE UPDATE ON devicesTCP BEGIN "
                                      "SELECT RAISE(ABORT, 'forced'); END;")));
    log->clear();
    update.port = 4003;
    QVERIFY(!storage->updateTCPRegInfo(update));
    QCOMPARE(log->lines(),
             QStringList({QStringLiteral("ERROR: [CDataBaseHandler::updateRegInfo] Invalid SQL "
                                         "request [1]"),
                          QStringLiteral("UPDATE devicesTCP SET port=:port WHERE "
                                         "device=:device;")}));
    QCOMPARE(side->column(QStringLiteral("SELECT port FROM devicesTCP ORDER BY dev_eui;")),
             QStringList({"65535", "4002"}));
}

// The device list keeps its query open while it fetches rows; writes still go through.
void tst_StorageDevices::writesWhileListIsOpen()
{
    for (int i = 0; i < 300; ++i)
        QVERIFY(storage->registerNewDevice(device(QStringLiteral("D%1").arg(i)), ProtocolModbus));
    QSqlQueryModel model;
    model.setQuery(storage->getDevices(QString(), ProtocolModbus));
    QVERIFY(model.canFetchMore());

    QVERIFY(storage->registerNewDevice(device(QStringLiteral("NEW"), QString(), 0, {0, 1}),
                                       ProtocolModbus));
    QVERIFY(storage->deleteDevice(idOf(QStringLiteral("D0"), ProtocolModbus), ProtocolModbus));
    QCOMPARE(log->lines(), QStringList());
    QCOMPARE(rowCount(DB::DbNames::DevicesTable), 300);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 2);
}

// Kinds other than the two known ones.
void tst_StorageDevices::otherKind()
{
    const auto other = ProtocolOption(3);
    QVERIFY(storage->registerNewDevice(device(QStringLiteral("M1"), QString(), 0, {0}),
                                       ProtocolModbus));
    log->clear();
    QVERIFY(!storage->registerNewDevice(device(QStringLiteral("X1")), other));
    QCOMPARE(log->lines(),
             QStringList{QStringLiteral("ERROR: [CDataBaseHandler::registerNewDevice] Unknown "
                                        "protocol [3]!")});
    QCOMPARE(rowCount(DB::DbNames::DevicesTable) + rowCount(DB::DbNames::DevicesTcpTable), 1);

    log->clear();
    QSqlQuery none = storage->getDevices(QString(), other);
    QVERIFY(!none.isActive());
    QCOMPARE(log->lines(),
             QStringList{QStringLiteral("[CDataBaseHandler::getDevices] Invalid SQL request [1]")});

    QCOMPARE(storage->getRegisteredDevices(other), QStringList{QStringLiteral("M1")});
    // Deleting with another kind removes the device row only.
    QVERIFY(storage->deleteDevice(idOf(QStringLiteral("M1"), ProtocolModbus), other));
    QCOMPARE(rowCount(DB::DbNames::DevicesTable), 0);
    QCOMPARE(rowCount(DB::DbNames::DevDataTable), 1);
}

QTEST_GUILESS_MAIN(tst_StorageDevices)
#include "tst_storage_devices.moc"
