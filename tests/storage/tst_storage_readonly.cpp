#include "CDataBaseHandler.h"
#include "LogCapture.h"
#include "SaveFailureLines.h"
#include "TempWorkDir.h"
#include "TestRegister.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QtTest>

#include <memory>

// A database file that SQLite opens for reading only, as it does a read-only file or one on a
// read-only mount: the storage is made and serves what the file holds, and every write fails and
// leaves the file as it was. The tests run as root, whom file permissions do not stop, so the
// file is opened with the connect option QSQLITE_OPEN_READONLY.
class tst_StorageReadOnly : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void servesStoredValues();
    void saveStoresNothing();
    void deviceChangesFail();

private:
    DB::RegisterImage image();

    std::unique_ptr<TempWorkDir> work;
    std::unique_ptr<LogCapture> log;
    CDataBaseHandler *storage = nullptr;
    QByteArray bytes;
};

namespace {

const QString DevEui = QStringLiteral("R0000001");
constexpr quint32 Port = 5060;

} // namespace

void tst_StorageReadOnly::initTestCase()
{
    work = std::make_unique<TempWorkDir>();
    QVERIFY(work->isValid());
    // The device and its values, stored by a writable storage of another process.
    QProcess seed;
    seed.setWorkingDirectory(work->path());
    seed.start(QStringLiteral(OPEN_DATABASE_HELPER),
               {DevEui, QString::number(Port), QStringLiteral("1234"), QStringLiteral("5678")});
    QVERIFY(seed.waitForFinished(60000));
    QCOMPARE(seed.exitCode(), 0);
    QCOMPARE(seed.readAllStandardOutput(), QByteArray());
    bytes = work->readFile(DB::DbNames::DatabaseFile);
    QVERIFY(!bytes.isEmpty());

    log = std::make_unique<LogCapture>();
    QSqlDatabase::addDatabase(DB::DbNames::SqlDriver, DB::DbNames::ConnectionName)
        .setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    storage = CDataBaseHandler::getInstance();
    QVERIFY(storage);
    QVERIFY(storage->isReadOnly());
    // The tables and indexes are all there: opening wrote nothing and logged nothing.
    QCOMPARE(log->lines(), QStringList());
}

void tst_StorageReadOnly::init()
{
    log->clear();
}

void tst_StorageReadOnly::cleanup()
{
    QCOMPARE(work->readFile(DB::DbNames::DatabaseFile), bytes);
    const DB::RegisterImage expected{{0, 0x1234}, {1, 0x5678}};
    QCOMPARE(image(), expected);
}

DB::RegisterImage tst_StorageReadOnly::image()
{
    bool ok = false;
    const DB::RegisterImage result = storage->getRegisterData(Port, 0, 2, &ok);
    return ok ? result : DB::RegisterImage();
}

void tst_StorageReadOnly::servesStoredValues()
{
    const DB::RegisterImage expected{{0, 0x1234}, {1, 0x5678}};
    QCOMPARE(image(), expected);
    QCOMPARE(storage->getRegisterParam(DevEui, 1).regAddr, 1u);
    QCOMPARE(storage->getRegisteredDevices(ProtocolModbus), QStringList{DevEui});
    QSqlQuery registers = storage->getRegisters(1);
    QVERIFY(registers.next());
    QCOMPARE(registers.value(DB::DevDataCol::Value).toString(), QStringLiteral("1234"));
    QCOMPARE(log->lines(), QStringList());
}

// Every register's update fails with the usual lines; the values stay.
void tst_StorageReadOnly::saveStoresNothing()
{
    DB::SDbDeviceRegDataSet set;
    set.devEui = DevEui;
    set.regValues = {{"0001", "0001", 0}, {"0002", "0002", 1}};
    storage->saveRegisterData(set);
    QCOMPARE(log->lines(),
             saveFailureLines(QStringLiteral("1"), {QStringLiteral("0"), QStringLiteral("1")}));
}

void tst_StorageReadOnly::deviceChangesFail()
{
    DB::SDeviceRegMapDescription device;
    device.devEui = QStringLiteral("R0000002");
    device.port = int(Port);
    device.registers = {testRegister(0)};
    QVERIFY(!storage->registerNewDevice(device, ProtocolModbus));
    QVERIFY(!storage->deleteDevice(1, ProtocolModbus));
    DB::SRegInfoUpdate update;
    update.deviceId = 1;
    update.registers = {DB::SRegisterParam{0, 1.5, 2.0, QStringLiteral("V")}};
    QVERIFY(!storage->updateRegInfo(update));
    QCOMPARE(storage->getRegisteredDevices(ProtocolModbus), QStringList{DevEui});
}

QTEST_GUILESS_MAIN(tst_StorageReadOnly)
#include "tst_storage_readonly.moc"
