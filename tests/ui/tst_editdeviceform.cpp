#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CEditDeviceForm.h"
#include "DeviceFormProbe.h"
#include "FormFixture.h"
#include "LogCapture.h"
#include "ModbusClient.h"
#include "SideConnection.h"
#include "TempWorkDir.h"

#include <QJsonDocument>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace FormFixture;

namespace {
const QString ModbusEui = QStringLiteral("00000000000E0001");
const QString PipeEui = QStringLiteral("00000000000E0002");
const QString OtherPipeEui = QStringLiteral("00000000000E0003");
const QString UnservedPipeEui = QStringLiteral("00000000000E0004");
const QString SuccessLine = QStringLiteral(
    "INFO: [CEditDeviceForm::updateDeviceSlot] device's register update successfully");
const QString ErrorPrefix = QStringLiteral("ERROR: [CEditDeviceForm::updateDeviceSlot] ");

} // namespace

// The edit-device form over real storage and the real registry with its TCP servers.
class TestEditDeviceForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void construction();
    void setOriginalLoadsTheDevice();
    void modbusScalingIsStoredAndUsed();
    void openEditorIsStoredOnOk_data();
    void openEditorIsStoredOnOk();
    void tcpPortRefused_data();
    void tcpPortRefused();
    void tcpPortMoves();
    void storageFailureKeepsTheDialogOpen_data();
    void storageFailureKeepsTheDialogOpen();
    void halfFailedEditStoresNothing_data();
    void halfFailedEditStoresNothing();
    void registryFailureRestoresStorage();
    void failedWriteBackStillFreesThePort_data();
    void failedWriteBackStillFreesThePort();

private:
    // Stores the device and, unless told otherwise, registers it with the registry.
    StoredDevice addDevice(const QString &devEui, const QString &appEui, ProtocolOption kind,
                           quint16 port, int startAddr, bool serve = true);
    void loadModbus();
    void loadPipe(const StoredDevice &device, const QString &devEui);
    void expectNothingChanged();

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<LogCapture> log;
    QThread *storageThread = nullptr;
    CEditDeviceForm *form = nullptr;
    std::unique_ptr<DeviceFormProbe> probe;
    std::unique_ptr<QSignalSpy> modbusRefresh;
    std::unique_ptr<QSignalSpy> tcpRefresh;
    StoredDevice modbus;
    StoredDevice pipe;
    StoredDevice otherPipe;
    StoredDevice unservedPipe;
    int edits = 0;
};

StoredDevice TestEditDeviceForm::addDevice(const QString &devEui, const QString &appEui,
                                           ProtocolOption kind, quint16 port, int startAddr,
                                           bool serve)
{
    DB::SDeviceRegMapDescription info;
    info.devEui = devEui;
    info.appEui = appEui;
    info.name = QStringLiteral("Device ") + devEui.right(1);
    info.port = port;
    info.startAddr = startAddr;
    if (kind == ProtocolModbus)
        info.registers = CAllDeviceHandler::getInstance()->getTemplateRegMap(appEui).registers;
    if (!CDataBaseHandler::getInstance()->registerNewDevice(info, kind))
        return {};
    if (serve)
        CAllDeviceHandler::getInstance()->addNewDevice(info, kind);
    return findDevice(devEui, kind).value_or(StoredDevice());
}

void TestEditDeviceForm::initTestCase()
{
    dir = std::make_unique<TempWorkDir>();
    QVERIFY(dir->isValid());
    writeTemplates(dir->path());
    log = std::make_unique<LogCapture>();
    storageThread = startStorage();
    QVERIFY(storageThread);
    QVERIFY(CAllDeviceHandler::getInstance());

    modbus = addDevice(ModbusEui, SensorAppEui, ProtocolModbus, freePort(), 10);
    pipe = addDevice(PipeEui, PipeAppEui, ProtocolTCP, freePort(), 0);
    otherPipe = addDevice(OtherPipeEui, PipeAppEui, ProtocolTCP, freePort(), 0);
    unservedPipe = addDevice(UnservedPipeEui, PipeAppEui, ProtocolTCP, freePort(), 0, false);
    QVERIFY(modbus.id && pipe.id && otherPipe.id && unservedPipe.id);
    QVERIFY(acceptsConnections(quint16(pipe.port)));

    form = CEditDeviceForm::getInstance();
    QCOMPARE(CEditDeviceForm::getInstance(), form);
    probe = std::make_unique<DeviceFormProbe>(form);
    modbusRefresh = std::make_unique<QSignalSpy>(form, &CAbstractDeviceForm::refreshDeviceList);
    tcpRefresh = std::make_unique<QSignalSpy>(form, &CAbstractDeviceForm::refreshDeviceTCPList);
}

void TestEditDeviceForm::init()
{
    modbusRefresh->clear();
    tcpRefresh->clear();
    log->clear();
}

void TestEditDeviceForm::cleanup()
{
    form->hide();
}

void TestEditDeviceForm::cleanupTestCase()
{
    stopStorage(storageThread);
}

void TestEditDeviceForm::loadModbus()
{
    form->setOriginal(modbus.id, ModbusEui, modbus.name, modbus.appEui, quint16(modbus.port),
                      quint32(modbus.startAddr));
    probe->open(ProtocolModbus, QStringLiteral("Edit ModBUS device parameters"));
}

void TestEditDeviceForm::loadPipe(const StoredDevice &device, const QString &devEui)
{
    form->setOriginal(device.id, devEui, device.name, device.appEui, quint16(device.port));
    probe->open(ProtocolTCP, QStringLiteral("Edit TCP device parameters"));
}

void TestEditDeviceForm::expectNothingChanged()
{
    QVERIFY(form->isVisible());
    QVERIFY(form->result() != QDialog::Accepted);
    QCOMPARE(modbusRefresh->count(), 0);
    QCOMPARE(tcpRefresh->count(), 0);
    QVERIFY(!log->contains(SuccessLine));
}

void TestEditDeviceForm::construction()
{
    QCOMPARE(probe->titleLabel()->text(), QStringLiteral("Edit device's parameters interface"));
    QCOMPARE(probe->deviceList()->model(), probe->deviceModel());
    QCOMPARE(probe->page(), 1);
    QVERIFY(!probe->portEdit()->isEnabled());
    QVERIFY(!probe->startAddrEdit()->isEnabled());

    // The search field has no effect on the single device.
    loadModbus();
    probe->searchEdit()->setText(QStringLiteral("no such device"));
    probe->searchEdit()->textChangedSlot();
    QCOMPARE(probe->deviceList()->model()->rowCount(), 1);
    QCOMPARE(probe->legendTexts(),
             QStringList({QStringLiteral("Sensor"), QStringLiteral("Meter")}));
    probe->searchEdit()->clear();
}

void TestEditDeviceForm::setOriginalLoadsTheDevice()
{
    loadModbus();
    QStandardItemModel *device = probe->deviceModel();
    QCOMPARE(device->rowCount(), 1);
    QCOMPARE(device->index(0, 0).data().toUInt(), modbus.id);
    QCOMPARE(device->index(0, 1).data().toString(), modbus.name);
    QCOMPARE(device->index(0, 2).data().toString(), SensorAppEui);
    QCOMPARE(device->index(0, 3).data().toString(), ModbusEui);
    QCOMPARE(device->index(0, 4).data().toInt(), modbus.port);
    QCOMPARE(device->index(0, 5).data().toInt(), 10);
    QCOMPARE(probe->deviceList()->currentIndex(), device->index(0, 0));
    QCOMPARE(probe->portEdit()->text(), QString::number(modbus.port));
    QCOMPARE(probe->startAddrEdit()->text(), QStringLiteral("10"));

    const QStringList names
        = {QStringLiteral("RSSI"), QStringLiteral("Level"), QStringLiteral("Temp")};
    const QStringList types
        = {QStringLiteral("integer"), QStringLiteral("uinteger"), QStringLiteral("integer")};
    QCOMPARE(probe->registerModel()->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(probe->registerCell(row, 0).toUInt(), modbus.id);
        QCOMPARE(probe->registerCell(row, 1).toInt(), modbus.port);
        QCOMPARE(probe->registerCell(row, 2).toInt(), 10 + row);
        QCOMPARE(probe->registerCell(row, 6).toString(), types.at(row));
        QCOMPARE(probe->registerCell(row, 10).toString(), names.at(row));
        QCOMPARE(probe->registerCell(row, 13).toInt(), row == 0 ? 0 : 1);
        for (int empty : {5, 7, 8, 9, 12})
            QVERIFY(!probe->registerCell(row, empty).isValid());
    }

    // A transparent device has no start address: the field keeps its text.
    loadPipe(pipe, PipeEui);
    QCOMPARE(probe->deviceModel()->rowCount(), 1);
    QCOMPARE(probe->deviceModel()->columnCount(), 5);
    QCOMPARE(probe->deviceModel()->index(0, 3).data().toString(), PipeEui);
    QCOMPARE(probe->portEdit()->text(), QString::number(pipe.port));
    QCOMPARE(probe->startAddrEdit()->text(), QStringLiteral("10"));
    QVERIFY(probe->portEdit()->isEnabled());
    QCOMPARE(probe->legendTexts(), QStringList({QStringLiteral("Pipe")}));

    // A Modbus device after a transparent one gets its start address column back.
    loadModbus();
    QCOMPARE(probe->deviceModel()->columnCount(), 6);
    QCOMPARE(probe->deviceModel()->index(0, 5).data().toInt(), 10);
}

void TestEditDeviceForm::modbusScalingIsStoredAndUsed()
{
    loadModbus();
    QStandardItemModel *registers = probe->registerModel();
    registers->setData(registers->index(1, 3), 1.0);
    registers->setData(registers->index(1, 4), 2.5);
    registers->setData(registers->index(1, 11), QStringLiteral("cm"));
    registers->setData(registers->index(2, 11), QStringLiteral("C"));
    form->addDeviceSlot();

    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(!form->isVisible());
    QCOMPARE(modbusRefresh->count(), 1);
    QCOMPARE(modbusRefresh->first().first().toString(), QString());
    QCOMPARE(tcpRefresh->count(), 0);
    QVERIFY(log->waitForLine(SuccessLine));
    const QList<QVariantList> rows = registerRows(modbus.id);
    QCOMPARE(rows.at(1).at(DB::DevDataCol::StartValue).toDouble(), 1.0);
    QCOMPARE(rows.at(1).at(DB::DevDataCol::GratingPeriod).toDouble(), 2.5);
    QCOMPARE(rows.at(1).at(DB::DevDataCol::Unit).toString(), QStringLiteral("cm"));
    QCOMPARE(rows.at(2).at(DB::DevDataCol::Unit).toString(), QStringLiteral("C"));
    QCOMPARE(rows.at(0).at(DB::DevDataCol::GratingPeriod).toDouble(), 1.0);
    // The port was not read.
    QCOMPARE(findDevice(ModbusEui, ProtocolModbus)->port, modbus.port);

    // The next uplink is decoded with the new scaling: 10 * 2.5 + 1.
    const API::SApiDeviceData uplink(
        QJsonDocument::fromJson(uplinkJson(ModbusEui, QStringLiteral("01000AFFFE"), -70)).object());
    QVERIFY(uplink.valid);
    CAllDeviceHandler::getInstance()->newPacketReceivedSlot(uplink);
    QTRY_COMPARE_WITH_TIMEOUT(ModbusClient::readHoldingAside(quint16(modbus.port), 10, 3),
                              QList<quint16>({0xFFBA, 26, 0xFFFE}), 10000);

    // Unchanged registers are written again and reported as a success.
    modbusRefresh->clear();
    log->clear();
    loadModbus();
    QCOMPARE(probe->registerCell(1, 4).toDouble(), 2.5);
    form->addDeviceSlot();
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QCOMPARE(modbusRefresh->count(), 1);
    QVERIFY(log->waitForLine(SuccessLine));
    QCOMPARE(registerRows(modbus.id).at(1).at(DB::DevDataCol::GratingPeriod).toDouble(), 2.5);
}

void TestEditDeviceForm::openEditorIsStoredOnOk_data()
{
    registerEditRows();
}

void TestEditDeviceForm::openEditorIsStoredOnOk()
{
    QFETCH(int, field);
    QFETCH(QString, typed);
    QFETCH(double, extraValue);
    QFETCH(double, multiplier);
    QFETCH(QString, units);
    QFETCH(QString, data);
    QFETCH(int, level);

    // Level (register 11) back to the template's scaling.
    const quint32 levelAddr = quint32(modbus.startAddr) + 1;
    DB::SRegInfoUpdate reset;
    reset.deviceId = modbus.id;
    reset.port = quint16(modbus.port);
    reset.registers.append(DB::SRegisterParam{levelAddr, 0.0, 1.0, QString()});
    QVERIFY(CDataBaseHandler::getInstance()->updateRegInfo(reset));

    loadModbus();
    // Typing needs the focus, so the dialog is the active window, as the user's click makes it.
    QApplication::setActiveWindow(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
    QCOMPARE(probe->registerCell(1, DB::DevDataCol::Name).toString(), QStringLiteral("Level"));
    CSimpleRegisterEditWidget *editor = probe->openRegisterEditor(1);
    QVERIFY(editor);
    QVERIFY(DeviceFormProbe::typeInto(editor, DeviceFormProbe::RegisterField(field), typed));
    QTest::mouseClick(probe->okButton(), Qt::LeftButton);

    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(log->waitForLine(SuccessLine));
    const QVariantList row = registerRows(modbus.id).at(1);
    QCOMPARE(row.at(DB::DevDataCol::RegAddr).toUInt(), levelAddr);
    QCOMPARE(row.at(DB::DevDataCol::StartValue).toDouble(), extraValue);
    QCOMPARE(row.at(DB::DevDataCol::GratingPeriod).toDouble(), multiplier);
    QCOMPARE(row.at(DB::DevDataCol::Unit).toString(), units);

    const API::SApiDeviceData uplink(
        QJsonDocument::fromJson(uplinkJson(ModbusEui, data, -70)).object());
    QVERIFY(uplink.valid);
    CAllDeviceHandler::getInstance()->newPacketReceivedSlot(uplink);
    QTRY_COMPARE_WITH_TIMEOUT(ModbusClient::readHoldingAside(quint16(modbus.port), levelAddr, 1),
                              QList<quint16>({quint16(level)}), 10000);
}

void TestEditDeviceForm::tcpPortRefused_data()
{
    QTest::addColumn<QString>("port");
    QTest::addRow("own unchanged port") << QStringLiteral("own");
    QTest::addRow("port of a Modbus device") << QStringLiteral("modbus");
    QTest::addRow("port of another TCP device") << QStringLiteral("other");
    QTest::addRow("port of another program") << QStringLiteral("busy");
    // Servers of the gateway waiting for a port that another program held at their start.
    QTest::addRow("port freed for a waiting Modbus server") << QStringLiteral("waiting modbus");
    QTest::addRow("port freed for a waiting TCP server") << QStringLiteral("waiting tcp");
    QTest::addRow("empty") << QString();
    QTest::addRow("zero") << QStringLiteral("0");
    QTest::addRow("above 65535") << QStringLiteral("70000");
    QTest::addRow("negative") << QStringLiteral("-80");
}

void TestEditDeviceForm::tcpPortRefused()
{
    QFETCH(QString, port);
    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::Any, 0));
    if (port == QLatin1String("own"))
        port = QString::number(pipe.port);
    else if (port == QLatin1String("modbus"))
        port = QString::number(modbus.port);
    else if (port == QLatin1String("other"))
        port = QString::number(otherPipe.port);
    else if (port == QLatin1String("busy"))
        port = QString::number(otherProgram.serverPort());
    DB::SDeviceRegMapDescription waiting;
    if (port.startsWith(QLatin1String("waiting"))) {
        const bool modbusWaits = port == QLatin1String("waiting modbus");
        waiting.devEui = QStringLiteral("00000000000E00F1");
        waiting.appEui = modbusWaits ? SensorAppEui : PipeAppEui;
        waiting.port = otherProgram.serverPort();
        CAllDeviceHandler::getInstance()->addNewDevice(waiting,
                                                       modbusWaits ? ProtocolModbus : ProtocolTCP);
        otherProgram.close();
        port = QString::number(waiting.port);
    }

    loadPipe(pipe, PipeEui);
    probe->portEdit()->setText(port);
    // Refused by the marker alone, not by a failure message.
    MessageBoxCloser closer;
    form->addDeviceSlot();
    QCOMPARE(closer.closed, 0);
    QVERIFY(probe->portMarker()->isVisible());
    expectNothingChanged();
    QCOMPARE(findDevice(PipeEui, ProtocolTCP)->port, pipe.port);
    QCOMPARE(CAllDeviceHandler::getInstance()->getPortProtocol(quint16(pipe.port)),
             std::optional<ProtocolOption>(ProtocolTCP));
    QVERIFY(acceptsConnections(quint16(pipe.port)));
    if (!waiting.devEui.isEmpty())
        CAllDeviceHandler::getInstance()->removeDevice(waiting.devEui, quint16(waiting.port));
}

void TestEditDeviceForm::tcpPortMoves()
{
    loadPipe(pipe, PipeEui);
    const quint16 oldPort = quint16(pipe.port);
    const quint16 newPort = freePort();
    probe->portEdit()->setText(QString::number(newPort));
    form->addDeviceSlot();

    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(!probe->portMarker()->isVisible());
    QCOMPARE(tcpRefresh->count(), 1);
    QCOMPARE(tcpRefresh->first().first().toString(), QString());
    QCOMPARE(modbusRefresh->count(), 0);
    QVERIFY(log->waitForLine(SuccessLine));
    QCOMPARE(findDevice(PipeEui, ProtocolTCP)->port, int(newPort));
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    QCOMPARE(registry->getPortProtocol(newPort), std::optional<ProtocolOption>(ProtocolTCP));
    QVERIFY(!registry->getPortProtocol(oldPort));
    QTRY_VERIFY(!acceptsConnections(oldPort));
    QVERIFY(acceptsConnections(newPort));
    pipe.port = newPort;

    // The port field stays editable for a later Modbus edit; its text is not used there.
    loadModbus();
    QVERIFY(probe->portEdit()->isEnabled());
}

void TestEditDeviceForm::storageFailureKeepsTheDialogOpen_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("table");
    QTest::addRow("Modbus registers") << int(ProtocolModbus) << QStringLiteral("dev_data");
    QTest::addRow("TCP port") << int(ProtocolTCP) << QStringLiteral("devicesTCP");
}

void TestEditDeviceForm::storageFailureKeepsTheDialogOpen()
{
    QFETCH(int, kind);
    QFETCH(QString, table);

    SideConnection side;
    QVERIFY(side.isOpen());
    QVERIFY2(side.exec(QStringLiteral("CREATE TRIGGER forced_failure BEFORE UPDATE ON %1 "
                                      "BEGIN SELECT RAISE(ABORT, 'forced'); END;")
                           .arg(table)),
             qPrintable(side.lastError()));

    const quint16 newPort = freePort();
    if (kind == ProtocolModbus) {
        loadModbus();
        probe->registerModel()->setData(probe->registerModel()->index(0, 4), 4.0);
    } else {
        loadPipe(pipe, PipeEui);
        probe->portEdit()->setText(QString::number(newPort));
    }
    MessageBoxCloser closer;
    form->addDeviceSlot();
    QVERIFY(side.exec(QStringLiteral("DROP TRIGGER forced_failure;")));

    QCOMPARE(closer.closed, 1);
    QCOMPARE(closer.text, QStringLiteral("Edit device status"));
    QCOMPARE(closer.informativeText,
             QStringLiteral("Device is not changed! See LOG-file for more details"));
    QCOMPARE(closer.icon, QMessageBox::Critical);
    QCOMPARE(closer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(log->waitForLine(ErrorPrefix));
    expectNothingChanged();

    if (kind == ProtocolModbus) {
        QCOMPARE(registerRows(modbus.id).at(0).at(DB::DevDataCol::GratingPeriod).toDouble(), 1.0);
    } else {
        QCOMPARE(findDevice(PipeEui, ProtocolTCP)->port, pipe.port);
        QCOMPARE(CAllDeviceHandler::getInstance()->getPortProtocol(quint16(pipe.port)),
                 std::optional<ProtocolOption>(ProtocolTCP));
        QVERIFY(!CAllDeviceHandler::getInstance()->getPortProtocol(newPort));
        QVERIFY(acceptsConnections(quint16(pipe.port)));
    }
}

void TestEditDeviceForm::halfFailedEditStoresNothing_data()
{
    QTest::addColumn<QString>("raise");
    QTest::addRow("third update aborted") << QStringLiteral("ABORT");
    QTest::addRow("third update fails") << QStringLiteral("FAIL");
    // SQLite ends the whole transaction itself.
    QTest::addRow("third update rolls back") << QStringLiteral("ROLLBACK");
}

// The register updates of one OK are stored whole or not at all, as the message tells.
void TestEditDeviceForm::halfFailedEditStoresNothing()
{
    QFETCH(QString, raise);

    const QList<QVariantList> before = registerRows(modbus.id);
    QCOMPARE(before.size(), 3);
    SideConnection side;
    QVERIFY2(side.exec(QStringLiteral("CREATE TRIGGER forced_failure BEFORE UPDATE ON dev_data "
                                      "WHEN NEW.reg_addr = %1 BEGIN SELECT RAISE(%2, 'forced'); "
                                      "END;")
                           .arg(QString::number(modbus.startAddr + 2), raise)),
             qPrintable(side.lastError()));
    const QString dropTrigger = QStringLiteral("DROP TRIGGER IF EXISTS forced_failure;");
    const auto dropped = qScopeGuard([&side, &dropTrigger] { side.exec(dropTrigger); });

    // Values that no earlier row stored.
    const double base = 10.0 * ++edits;
    loadModbus();
    QStandardItemModel *registers = probe->registerModel();
    for (int row = 0; row < 3; ++row) {
        registers->setData(registers->index(row, DB::DevDataCol::GratingPeriod), base + row);
        registers->setData(registers->index(row, DB::DevDataCol::Unit),
                           QStringLiteral("u%1").arg(base + row));
    }
    MessageBoxCloser closer;
    QTest::mouseClick(probe->okButton(), Qt::LeftButton);

    QCOMPARE(closer.closed, 1);
    QCOMPARE(closer.informativeText,
             QStringLiteral("Device is not changed! See LOG-file for more details"));
    QVERIFY(log->waitForLine(ErrorPrefix));
    expectNothingChanged();
    QCOMPARE(registerRows(modbus.id), before);

    // Once the fault is gone, OK stores the whole edit.
    QVERIFY(side.exec(dropTrigger));
    QTest::mouseClick(probe->okButton(), Qt::LeftButton);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(log->waitForLine(SuccessLine));
    const QList<QVariantList> after = registerRows(modbus.id);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(after.at(row).at(DB::DevDataCol::GratingPeriod).toDouble(), base + row);
        QCOMPARE(after.at(row).at(DB::DevDataCol::Unit).toString(),
                 QStringLiteral("u%1").arg(base + row));
    }
}

void TestEditDeviceForm::registryFailureRestoresStorage()
{
    // Stored, but the registry serves no such device: the move cannot happen there.
    loadPipe(unservedPipe, UnservedPipeEui);
    const quint16 newPort = freePort();
    probe->portEdit()->setText(QString::number(newPort));
    MessageBoxCloser closer;
    form->addDeviceSlot();

    QCOMPARE(closer.closed, 1);
    QCOMPARE(closer.icon, QMessageBox::Critical);
    QVERIFY(log->waitForLine(ErrorPrefix));
    expectNothingChanged();
    QCOMPARE(findDevice(UnservedPipeEui, ProtocolTCP)->port, unservedPipe.port);
    QVERIFY(!CAllDeviceHandler::getInstance()->getPortProtocol(newPort));
}

void TestEditDeviceForm::failedWriteBackStillFreesThePort_data()
{
    QTest::addColumn<bool>("modbusOnStoredPort");
    QTest::addRow("stored port free") << false;
    QTest::addRow("stored port taken by a Modbus device since") << true;
}

// A move that fails (another program took the new port after the form's check), and whose old
// port cannot be written back, leaves the new port stored while the server stays on the old
// one. The form's own checks leave no gap to take the port in, so its steps are taken here as it
// takes them. Deleting the device still frees the port it is served on.
void TestEditDeviceForm::failedWriteBackStillFreesThePort()
{
    QFETCH(bool, modbusOnStoredPort);
    const QString devEui = modbusOnStoredPort ? QStringLiteral("00000000000E0006")
                                              : QStringLiteral("00000000000E0005");
    const quint16 served = freePort();
    const StoredDevice device = addDevice(devEui, PipeAppEui, ProtocolTCP, served, 0);
    QVERIFY(device.id);
    auto otherProgram = std::make_unique<QTcpServer>();
    const quint16 stored = freePort();
    QVERIFY(otherProgram->listen(QHostAddress::Any, stored));

    SideConnection side;
    const QString dropTrigger = QStringLiteral("DROP TRIGGER IF EXISTS no_write_back;");
    const auto dropAtEnd = qScopeGuard([&] { side.exec(dropTrigger); });
    QVERIFY2(side.exec(QStringLiteral("CREATE TRIGGER no_write_back BEFORE UPDATE ON devicesTCP "
                                      "WHEN NEW.port=%1 BEGIN SELECT RAISE(ABORT, 'forced'); END;")
                           .arg(served)),
             qPrintable(side.lastError()));
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    DB::SRegInfoUpdate update;
    update.deviceId = device.id;
    update.port = stored;
    QVERIFY(storage->updateTCPRegInfo(update));
    DB::SDeviceRegMapDescription moved;
    moved.devEui = devEui;
    moved.port = stored;
    QVERIFY(!registry->updatePortRegisteredDevice(moved, served));
    update.port = served;
    QVERIFY(!storage->updateTCPRegInfo(update));
    QVERIFY(side.exec(dropTrigger));
    QCOMPARE(findDevice(devEui, ProtocolTCP)->port, int(stored));
    QCOMPARE(registry->getPortProtocol(served), std::optional<ProtocolOption>(ProtocolTCP));

    StoredDevice joined;
    if (modbusOnStoredPort) {
        otherProgram.reset();
        joined = addDevice(QStringLiteral("00000000000E0007"), SensorAppEui, ProtocolModbus, stored,
                           0);
        QVERIFY(joined.id);
        QVERIFY(acceptsConnections(stored));
    }

    // As the window deletes: storage first, then the registry with the stored port.
    log->clear();
    QVERIFY(storage->deleteDevice(device.id, ProtocolTCP));
    registry->removeDevice(devEui, stored);
    QVERIFY(log->waitForLine(QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] Device "
                                            "DevEUI[%1] is not registered on port [%2]: it is "
                                            "removed from its port [%3].")
                                 .arg(devEui)
                                 .arg(stored)
                                 .arg(served)));
    QVERIFY(!registry->getPortProtocol(served).has_value());
    QTRY_VERIFY(canListen(served));
    QVERIFY(!log->contains(QStringLiteral("uncknown port")));
    if (modbusOnStoredPort) {
        // The device that took the stored port stays served.
        QCOMPARE(registry->getPortProtocol(stored), std::optional<ProtocolOption>(ProtocolModbus));
        QVERIFY(acceptsConnections(stored));
        QVERIFY(storage->deleteDevice(joined.id, ProtocolModbus));
        registry->removeDevice(QStringLiteral("00000000000E0007"), stored);
        QVERIFY(!registry->getPortProtocol(stored).has_value());
    }
}

QTEST_MAIN(TestEditDeviceForm)
#include "tst_editdeviceform.moc"
