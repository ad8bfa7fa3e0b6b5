#include "CAddNewDeviceForm.h"
#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CEditDeviceForm.h"
#include "CSearchEditWidget.h"
#include "CServerHandler.h"
#include "DeviceFormProbe.h"
#include "FormFixture.h"
#include "LogCapture.h"
#include "MainWindow.h"
#include "MainWindowProbe.h"
#include "ModbusClient.h"
#include "SharedConstants.h"
#include "TempWorkDir.h"
#include "UiTestSupport.h"

#include <QJsonDocument>
#include <QRegularExpressionValidator>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace FormFixture;

namespace {
const QString Alpha = QStringLiteral("00000000000A0001"); // sensor, start address 100
const QString Beta = QStringLiteral("00000000000A0002");  // sensor, start address 200
const QString Pipe = QStringLiteral("00000000000A0003");  // transparent TCP device

// Whether something listens on the port on every address, as the device servers do.
bool portHeld(quint16 port)
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::Any, port);
}

DB::SDeviceRegMapDescription sensor(const QString &devEui, const QString &name, quint16 port,
                                    int startAddr)
{
    DB::SDeviceRegMapDescription device;
    device.devEui = devEui;
    device.appEui = SensorAppEui;
    device.name = name;
    device.port = port;
    device.startAddr = startAddr;
    device.registers = CAllDeviceHandler::getInstance()->getTemplateRegMap(SensorAppEui).registers;
    return device;
}

void pushUplink(const QString &devEui, const QString &hexData)
{
    const QJsonObject object = QJsonDocument::fromJson(uplinkJson(devEui, hexData, -80)).object();
    emit CServerHandler::getInstance()->newPacketReceived(API::SApiDeviceData(object));
}

// A second connection to the database, to make storage refuse a delete.
class StorageSaboteur
{
public:
    StorageSaboteur()
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Name);
        db.setDatabaseName(QStringLiteral("server.db"));
        db.open();
    }
    ~StorageSaboteur()
    {
        QSqlDatabase::database(Name, false).close();
        QSqlDatabase::removeDatabase(Name);
    }
    bool exec(const QString &sql)
    {
        QSqlQuery query(QSqlDatabase::database(Name, false));
        return query.exec(sql);
    }
    int count(const QString &table)
    {
        QSqlQuery query(QSqlDatabase::database(Name, false));
        if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM %1;").arg(table)) || !query.next())
            return -1;
        return query.value(0).toInt();
    }

private:
    static inline const QString Name = QStringLiteral("saboteur");
};
} // namespace

// The main window built as start-up builds it, over stored devices of both kinds and without
// saved server credentials.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void startUpWithoutCredentials();
    void storedDevicesServedBeforeTheEventLoop();
    void firstDeviceShown();
    void addressValidators_data();
    void addressValidators();
    void portFieldTakesFiveDigits();
    void failedStatusesKeepSettings_data();
    void failedStatusesKeepSettings();
    void successSavesTheFields();
    void unknownStatusChangesNothing();
    void searchWithoutMatchAndClear();
    void freshDataRefreshesOnlyTheShownDevice();
    void freshDataOfDeviceStoredInLowerCase();
    void editModbusDevice();
    void editTcpDevice();
    void addFormsOpenForTheirKind_data();
    void addFormsOpenForTheirKind();
    void pagesFollowThePanelButtons();
    void hoveredCardsHighlighted_data();
    void hoveredCardsHighlighted();
    void settingsButtonOpensTheLogDialog();
    void refusedDeleteKeepsDevice_data();
    void refusedDeleteKeepsDevice();
    void deleteDetachesDevice_data();
    void deleteDetachesDevice();
    void deleteWithEmptyListChangesNothing();

private:
    QListView *listOf(ProtocolOption kind) const;

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<LogCapture> log;
    QThread *storageThread = nullptr;
    std::unique_ptr<QSignalSpy> statusSpy;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
    QMap<quint16, bool> heldAtConstruction;
    QStringList startUpLog;
    quint16 alphaPort = 0;
    quint16 betaPort = 0;
    quint16 pipePort = 0;
};

void TestMainWindow::initTestCase()
{
    dir = std::make_unique<TempWorkDir>();
    QVERIFY(dir->isValid());
    writeTemplates(dir->path());
    log = std::make_unique<LogCapture>();
    storageThread = startStorage();
    QVERIFY(storageThread);

    // The start-up order: link, storage, registry, forms, then the window.
    CServerHandler *link = CServerHandler::getInstance();
    statusSpy = std::make_unique<QSignalSpy>(link, &CServerHandler::changeServerStatus);
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    connect(link, &CServerHandler::newPacketReceived, registry,
            &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);
    connect(link, &CServerHandler::getDevicesListResp, CAddNewDeviceForm::getInstance(),
            &CAddNewDeviceForm::getDevicesListRespSlot, Qt::QueuedConnection);
    CEditDeviceForm::getInstance();

    alphaPort = freePort();
    betaPort = freePort();
    pipePort = freePort();
    QVERIFY(alphaPort && betaPort && pipePort);
    QVERIFY(alphaPort != betaPort && betaPort != pipePort && alphaPort != pipePort);
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    QVERIFY(storage->registerNewDevice(sensor(Beta, QStringLiteral("Beta"), betaPort, 200),
                                       ProtocolModbus));
    QVERIFY(storage->registerNewDevice(sensor(Alpha, QStringLiteral("Alpha"), alphaPort, 100),
                                       ProtocolModbus));
    DB::SDeviceRegMapDescription pipe;
    pipe.devEui = Pipe;
    pipe.appEui = PipeAppEui;
    pipe.name = QStringLiteral("Pipe");
    pipe.port = pipePort;
    QVERIFY(storage->registerNewDevice(pipe, ProtocolTCP));

    window = std::make_unique<MainWindow>();
    // No event has run since the constructor: the ports must already listen.
    for (quint16 port : {alphaPort, betaPort, pipePort})
        heldAtConstruction.insert(port, portHeld(port));
    probe = std::make_unique<MainWindowProbe>(window.get());
    window->show();
    startUpLog = log->lines();
}

void TestMainWindow::cleanupTestCase()
{
    window.reset();
    stopStorage(storageThread);
}

void TestMainWindow::init()
{
    log->clear();
}

void TestMainWindow::startUpWithoutCredentials()
{
    QVERIFY(startUpLog.contains(QStringLiteral("[main] IP is empty")));
    QCOMPARE(window->windowTitle(), QStringLiteral("LoRa Brindle 1.1.0"));
    for (QLineEdit *edit :
         {probe->ipEdit(), probe->portEdit(), probe->loginEdit(), probe->passwordEdit()})
        QVERIFY(edit->text().isEmpty());
    QCOMPARE(probe->connectionStateLabel()->text(), QStringLiteral("Connection state..."));
    // A connection attempt would report a status at once.
    QCoreApplication::processEvents();
    QCOMPARE(statusSpy->count(), 0);
    QCOMPARE(probe->pageStack()->currentIndex(), 0);
    QVERIFY(probe->modbusButton()->isChecked());
    QVERIFY(!probe->tcpButton()->isChecked());
}

void TestMainWindow::storedDevicesServedBeforeTheEventLoop()
{
    QVERIFY(heldAtConstruction.value(alphaPort));
    QVERIFY(heldAtConstruction.value(betaPort));
    QVERIFY(heldAtConstruction.value(pipePort));
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    QCOMPARE(registry->getPortProtocol(alphaPort), std::optional<ProtocolOption>(ProtocolModbus));
    QCOMPARE(registry->getPortProtocol(betaPort), std::optional<ProtocolOption>(ProtocolModbus));
    QCOMPARE(registry->getPortProtocol(pipePort), std::optional<ProtocolOption>(ProtocolTCP));
    QVERIFY(acceptsConnections(alphaPort));
    QVERIFY(acceptsConnections(pipePort));
}

void TestMainWindow::firstDeviceShown()
{
    // Ordered by name: Alpha comes first although Beta was stored first.
    QCOMPARE(probe->modbusDeviceModel()->rowCount(), 2);
    QCOMPARE(probe->modbusDeviceList()->currentIndex().row(), 0);
    QCOMPARE(probe->deviceTitleLabel()->text(), QStringLiteral("Device:%1 [Sensor]").arg(Alpha));
    QVERIFY(probe->parametersGroup()->isVisible());
    QCOMPARE(probe->portValueLabel()->text(), QString::number(alphaPort));
    QCOMPARE(probe->beginRegisterValueLabel()->text(), QStringLiteral("100"));

    QSqlQueryModel *registers = probe->registerModel();
    QCOMPARE(registers->rowCount(), 3);
    QCOMPARE(registers->columnCount(), 14);
    QCOMPARE(registers->index(0, DB::DevDataCol::RegAddr).data().toInt(), 100);
    QCOMPARE(registers->index(2, DB::DevDataCol::RegAddr).data().toInt(), 102);
    QCOMPARE(registers->index(1, DB::DevDataCol::Name).data().toString(), QStringLiteral("Level"));
    QCOMPARE(probe->registerList()->currentIndex().row(), 0);

    QCOMPARE(probe->tcpDeviceModel()->rowCount(), 1);
    QCOMPARE(probe->tcpDeviceModel()->columnCount(), 5);
    QCOMPARE(probe->tcpDeviceList()->currentIndex().row(), 0);
}

void TestMainWindow::addressValidators_data()
{
    QTest::addColumn<bool>("address");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QValidator::State>("state");
    QTest::addRow("dotted address") << true << "192.168.1.10" << QValidator::Acceptable;
    QTest::addRow("any separator") << true << "10x0-0_1" << QValidator::Acceptable;
    QTest::addRow("three groups") << true << "10.0.0" << QValidator::Intermediate;
    QTest::addRow("four-digit group") << true << "1000.0.0.1" << QValidator::Invalid;
    QTest::addRow("letters") << true << "host" << QValidator::Invalid;
    QTest::addRow("five digits") << false << "65535" << QValidator::Acceptable;
    QTest::addRow("four digits") << false << "8002" << QValidator::Intermediate;
    QTest::addRow("six digits") << false << "123456" << QValidator::Invalid;
    QTest::addRow("sign") << false << "-8002" << QValidator::Invalid;
}

void TestMainWindow::addressValidators()
{
    QFETCH(bool, address);
    QFETCH(QString, text);
    QFETCH(QValidator::State, state);
    QLineEdit *edit = address ? probe->ipEdit() : probe->portEdit();
    QVERIFY(edit->validator());
    int position = 0;
    QCOMPARE(edit->validator()->validate(text, position), state);
}

void TestMainWindow::portFieldTakesFiveDigits()
{
    QLineEdit *edit = probe->portEdit();
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("123456"));
    QCOMPARE(edit->text(), QStringLiteral("12345"));
    edit->clear();
}

void TestMainWindow::failedStatusesKeepSettings_data()
{
    QTest::addColumn<COMM::EServerStatus>("status");
    QTest::addColumn<QString>("text");
    QTest::addRow("1") << COMM::PingWaiting << "PING WAITING";
    QTest::addRow("2") << COMM::InvalidPing << "INVALID PING";
    QTest::addRow("3") << COMM::AuthWaiting << "AUTH WAITING";
    QTest::addRow("4") << COMM::InvalidAuth << "INVALID AUTH";
    QTest::addRow("5") << COMM::Disconnected << "DISCONNECTED";
}

void TestMainWindow::failedStatusesKeepSettings()
{
    QFETCH(COMM::EServerStatus, status);
    QFETCH(QString, text);
    probe->ipEdit()->setText(QStringLiteral("10.1.2.3"));
    probe->portEdit()->setText(QStringLiteral("18002"));
    probe->loginEdit()->setText(QStringLiteral("operator"));
    probe->passwordEdit()->setText(QStringLiteral("secret"));
    const QByteArray before = dir->readFile(SettingsKey::FileName);
    QSignalSpy icons(window.get(), &MainWindow::setConnectStatusIco);

    window->changeServerStatusSlot(status);
    QCOMPARE(probe->connectionStateLabel()->text(), text);
    QCOMPARE(icons.count(), 1);
    const QIcon icon = icons.first().first().value<QIcon>();
    QCOMPARE(icon.pixmap(36).toImage(),
             QIcon(QStringLiteral(":/connectionFailIco.png")).pixmap(36).toImage());
    QCOMPARE(dir->readFile(SettingsKey::FileName), before);
    QVERIFY(!before.contains("operator"));
}

void TestMainWindow::successSavesTheFields()
{
    probe->ipEdit()->setText(QStringLiteral("10.1.2.3"));
    probe->portEdit()->setText(QStringLiteral("18002"));
    probe->loginEdit()->setText(QStringLiteral("operator"));
    probe->passwordEdit()->setText(QStringLiteral("secret"));
    QSignalSpy icons(window.get(), &MainWindow::setConnectStatusIco);

    window->changeServerStatusSlot(COMM::Success);
    QCOMPARE(probe->connectionStateLabel()->text(), QStringLiteral("SUCCESS"));
    QCOMPARE(icons.count(), 1);
    QCOMPARE(icons.first().first().value<QIcon>().pixmap(36).toImage(),
             QIcon(QStringLiteral(":/connectionGoodIco.png")).pixmap(36).toImage());

    QSettings file(dir->filePath(SettingsKey::FileName), QSettings::IniFormat);
    QCOMPARE(file.value(SettingsKey::ServerIp).toString(), QStringLiteral("10.1.2.3"));
    QCOMPARE(file.value(SettingsKey::ServerPort).toString(), QStringLiteral("18002"));
    QCOMPARE(file.value(SettingsKey::ServerLogin).toString(), QStringLiteral("operator"));
    QCOMPARE(file.value(SettingsKey::ServerPassword).toString(), QStringLiteral("secret"));

    // The scheme is not kept; the saved fields come back as they were written.
    for (QLineEdit *edit :
         {probe->ipEdit(), probe->portEdit(), probe->loginEdit(), probe->passwordEdit()})
        edit->clear();
    window->readSettings();
    QCOMPARE(probe->loginEdit()->text(), QStringLiteral("operator"));
    QCOMPARE(probe->portEdit()->text(), QStringLiteral("18002"));
}

void TestMainWindow::unknownStatusChangesNothing()
{
    window->changeServerStatusSlot(COMM::InvalidAuth);
    QSignalSpy icons(window.get(), &MainWindow::setConnectStatusIco);
    window->changeServerStatusSlot(static_cast<COMM::EServerStatus>(6));
    window->changeServerStatusSlot(static_cast<COMM::EServerStatus>(-1));
    QCOMPARE(probe->connectionStateLabel()->text(), QStringLiteral("INVALID AUTH"));
    QCOMPARE(icons.count(), 0);
}

void TestMainWindow::searchWithoutMatchAndClear()
{
    auto *search = probe->modbusPage()->findChild<CSearchEditWidget *>();
    QVERIFY(search);
    search->setText(QStringLiteral("Bet"));
    search->textChangedSlot();
    QCOMPARE(probe->modbusDeviceModel()->rowCount(), 1);
    QCOMPARE(probe->deviceTitleLabel()->text(), QStringLiteral("Device:%1 [Sensor]").arg(Beta));
    QCOMPARE(probe->beginRegisterValueLabel()->text(), QStringLiteral("200"));
    QCOMPARE(probe->registerModel()->index(0, DB::DevDataCol::RegAddr).data().toInt(), 200);

    search->setText(QStringLiteral("nothing like it"));
    search->textChangedSlot();
    QCOMPARE(probe->modbusDeviceModel()->rowCount(), 0);
    QCOMPARE(probe->deviceTitleLabel()->text(), QStringLiteral("Device [UNKNOWN]"));
    QVERIFY(probe->parametersGroup()->isHidden());
    QCOMPARE(probe->registerModel()->rowCount(), 0);

    search->clear();
    QCOMPARE(probe->modbusDeviceModel()->rowCount(), 2);
    QCOMPARE(probe->modbusDeviceList()->currentIndex().row(), 0);
    QCOMPARE(probe->deviceTitleLabel()->text(), QStringLiteral("Device:%1 [Sensor]").arg(Alpha));
    QVERIFY(probe->parametersGroup()->isVisible());
    QCOMPARE(probe->registerModel()->rowCount(), 3);
}

void TestMainWindow::freshDataRefreshesOnlyTheShownDevice()
{
    QCOMPARE(MainWindowProbe::currentText(probe->modbusDeviceList(), DB::DeviceCol::DevEui), Alpha);
    QSignalSpy newData(CAllDeviceHandler::getInstance(), &CAllDeviceHandler::newDataForDevice);
    QSignalSpy reloads(probe->registerModel(), &QAbstractItemModel::modelReset);

    // Level 0x0102, Temp -2.
    pushUplink(Beta, QStringLiteral("010102fffe"));
    QVERIFY(newData.wait());
    QCOMPARE(newData.last().first().toString(), Beta);
    QCoreApplication::processEvents();
    QCOMPARE(reloads.count(), 0);
    QVERIFY(probe->registerModel()->index(1, DB::DevDataCol::Time).data().isNull());

    pushUplink(Alpha, QStringLiteral("0100c8ffec"));
    QTRY_COMPARE(reloads.count(), 1);
    QSqlQueryModel *registers = probe->registerModel();
    QCOMPARE(registers->rowCount(), 3);
    QVERIFY(registers->index(1, DB::DevDataCol::Time).data().toULongLong() > 0);
    QCOMPARE(probe->registerList()->currentIndex().row(), 0);

    // Each device was handed to the registry with its own start address.
    const QList<quint16> alpha = ModbusClient::runAside([this] {
        ModbusClient client(QStringLiteral("127.0.0.1"), alphaPort);
        return client.connectToServer()
                   ? client.readHoldingRegisters(101, 2).value_or(QList<quint16>())
                   : QList<quint16>();
    });
    QCOMPARE(alpha, (QList<quint16>{0x00c8, 0xffec}));
    const QList<quint16> beta = ModbusClient::runAside([this] {
        ModbusClient client(QStringLiteral("127.0.0.1"), betaPort);
        return client.connectToServer()
                   ? client.readHoldingRegisters(201, 2).value_or(QList<quint16>())
                   : QList<quint16>();
    });
    QCOMPARE(beta, (QList<quint16>{0x0102, 0xfffe}));
}

// Files of earlier versions may hold a DevEUI in lower case; uplinks carry it in upper case.
void TestMainWindow::freshDataOfDeviceStoredInLowerCase()
{
    StorageSaboteur file;
    const QString rewrite = QStringLiteral("UPDATE devices SET dev_eui='%1' WHERE dev_eui='%2';");
    QVERIFY(file.exec(rewrite.arg(Alpha.toLower(), Alpha)));
    const auto restore = qScopeGuard([&] {
        file.exec(rewrite.arg(Alpha, Alpha.toLower()));
        window->refreshDevicesSlot(QString());
    });
    window->refreshDevicesSlot(QString());
    QCOMPARE(MainWindowProbe::currentText(probe->modbusDeviceList(), DB::DeviceCol::DevEui),
             Alpha.toLower());
    QCoreApplication::processEvents();
    QSignalSpy reloads(probe->registerModel(), &QAbstractItemModel::modelReset);

    // Level 0x0033.
    pushUplink(Alpha, QStringLiteral("010033fffd"));
    QTRY_COMPARE(reloads.count(), 1);
    QCOMPARE(probe->registerModel()->index(1, DB::DevDataCol::Value).data().toString(),
             QStringLiteral("0033"));
}

void TestMainWindow::editModbusDevice()
{
    QSignalSpy reloads(probe->registerModel(), &QAbstractItemModel::modelReset);
    {
        ModalWatcher cancel(&ModalWatcher::reject);
        window->editItemSlot();
        QCOMPARE(cancel.title, QStringLiteral("Edit ModBUS device parameters"));
    }
    QCoreApplication::processEvents();
    QCOMPARE(reloads.count(), 0);

    {
        ModalWatcher accept([](QDialog *dialog) {
            auto *form = qobject_cast<CEditDeviceForm *>(dialog);
            DeviceFormProbe formProbe(form);
            // The form holds the shown device.
            if (formProbe.deviceModel()->index(0, DB::DeviceCol::DevEui).data() == Alpha)
                form->addDeviceSlot();
            else
                dialog->reject();
        });
        window->editItemSlot();
        QCOMPARE(accept.title, QStringLiteral("Edit ModBUS device parameters"));
    }
    QVERIFY(reloads.count() >= 1);
    QVERIFY(log->waitForLine(
        QStringLiteral("INFO: [CEditDeviceForm::updateDeviceSlot] device's register update "
                       "successfully")));
    QCOMPARE(probe->registerModel()->rowCount(), 3);
}

void TestMainWindow::editTcpDevice()
{
    const quint16 newPort = freePort();
    QVERIFY(newPort);
    {
        ModalWatcher accept([newPort](QDialog *dialog) {
            auto *form = qobject_cast<CEditDeviceForm *>(dialog);
            DeviceFormProbe(form).portEdit()->setText(QString::number(newPort));
            form->addDeviceSlot();
        });
        window->editTCPItemSlot();
        QCOMPARE(accept.title, QStringLiteral("Edit TCP device parameters"));
    }
    QCOMPARE(probe->tcpDeviceModel()->rowCount(), 1);
    QCOMPARE(probe->tcpDeviceModel()->index(0, DB::DeviceCol::Port).data().toUInt(), newPort);
    QCOMPARE(probe->tcpDeviceList()->currentIndex().row(), 0);
    QTRY_VERIFY(!portHeld(pipePort));
    QVERIFY(portHeld(newPort));
    pipePort = newPort;
}

void TestMainWindow::addFormsOpenForTheirKind_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<QString>("title");
    QTest::addRow("modbus") << ProtocolModbus << "Add new ModBUS device interface";
    QTest::addRow("tcp") << ProtocolTCP << "Add new TCP device interface";
}

void TestMainWindow::addFormsOpenForTheirKind()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, title);
    ProtocolOption shown = ProtocolOption(0);
    ModalWatcher cancel([&shown](QDialog *dialog) {
        auto *form = qobject_cast<CAddNewDeviceForm *>(dialog);
        if (form)
            shown = DeviceFormProbe(form).protocol();
        dialog->reject();
    });
    if (kind == ProtocolModbus)
        window->addNewItemSlot();
    else
        window->addNewTCPItemSlot();
    QCOMPARE(cancel.title, title);
    QCOMPARE(cancel.className, QStringLiteral("CAddNewDeviceForm"));
    QCOMPARE(shown, kind);
}

void TestMainWindow::pagesFollowThePanelButtons()
{
    probe->tcpButton()->click();
    QCOMPARE(probe->pageStack()->currentIndex(), 1);
    QVERIFY(probe->tcpButton()->isChecked());
    QVERIFY(!probe->modbusButton()->isChecked());
    probe->modbusButton()->click();
    QCOMPARE(probe->pageStack()->currentIndex(), 0);
    QVERIFY(!probe->tcpButton()->isChecked());
}

void TestMainWindow::hoveredCardsHighlighted_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("hovered");
    // Device cards: the type colour divided by 1.3 at alpha 60, itself at alpha 150 under the
    // pointer (sensor #40a0e0, pipe #e0a040).
    QTest::addRow("template devices") << 0 << 1 << "#3c317bac"
                                      << "#9640a0e0";
    QTest::addRow("registers") << 1 << 1 << "#ffc4c6c9"
                               << "#ff94999d";
    QTest::addRow("transparent devices") << 2 << 0 << "#3cac7b31"
                                         << "#96e0a040";
}

void TestMainWindow::hoveredCardsHighlighted()
{
    QFETCH(int, list);
    QFETCH(int, row);
    QFETCH(QString, plain);
    QFETCH(QString, hovered);
    QListView *const lists[]
        = {probe->modbusDeviceList(), probe->registerList(), probe->tcpDeviceList()};
    (list == 2 ? probe->tcpButton() : probe->modbusButton())->click();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    const HoverShots shots = hoverShots(lists[list], row);
    probe->modbusButton()->click();
    QVERIFY(shots.background.isValid());
    QCOMPARE(argbName(shots.plain), argbName(composed(shots.background, QColor(plain))));
    QCOMPARE(argbName(shots.hovered), argbName(composed(shots.background, QColor(hovered))));
    QCOMPARE(argbName(shots.left), argbName(shots.plain));
}

void TestMainWindow::settingsButtonOpensTheLogDialog()
{
    ModalWatcher cancel(&ModalWatcher::reject);
    probe->settingsButton()->click();
    QCOMPARE(cancel.className, QStringLiteral("GlobalSettingsWindow"));
}

void TestMainWindow::refusedDeleteKeepsDevice_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("slot");
    QTest::addRow("modbus") << ProtocolModbus << "devices"
                            << "deleteItemSlot";
    QTest::addRow("tcp") << ProtocolTCP << "devicesTCP"
                         << "deleteTCPItemSlot";
}

void TestMainWindow::refusedDeleteKeepsDevice()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, table);
    QFETCH(QString, slot);
    QListView *list = listOf(kind);
    const QString devEui = MainWindowProbe::currentText(list, DB::DeviceCol::DevEui);
    const quint16 port = quint16(MainWindowProbe::currentText(list, DB::DeviceCol::Port).toUInt());
    const int rows = list->model()->rowCount();
    StorageSaboteur saboteur;
    QVERIFY(saboteur.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE DELETE ON %1 BEGIN "
                                         "SELECT RAISE(ABORT, 'refused'); END;")
                              .arg(table)));
    QSignalSpy detached(window.get(), &MainWindow::disconnectDevice);

    QVERIFY(QMetaObject::invokeMethod(window.get(), slot.toLatin1().constData()));
    QVERIFY(log->waitForLine(
        QStringLiteral("ERROR: [MainWindow::%1] Device [%2] is not deleted!").arg(slot, devEui)));
    QVERIFY(saboteur.exec(QStringLiteral("DROP TRIGGER refuse;")));
    QCOMPARE(detached.count(), 0);
    QCOMPARE(list->model()->rowCount(), rows);
    QCOMPARE(MainWindowProbe::currentText(list, DB::DeviceCol::DevEui), devEui);
    QVERIFY(findDevice(devEui, kind));
    QVERIFY(portHeld(port));
    QCOMPARE(CAllDeviceHandler::getInstance()->getPortProtocol(port),
             std::optional<ProtocolOption>(kind));
}

void TestMainWindow::deleteDetachesDevice_data()
{
    QTest::addColumn<ProtocolOption>("kind");
    QTest::addColumn<QString>("slot");
    QTest::addRow("modbus") << ProtocolModbus << "deleteItemSlot";
    QTest::addRow("tcp") << ProtocolTCP << "deleteTCPItemSlot";
}

void TestMainWindow::deleteDetachesDevice()
{
    QFETCH(ProtocolOption, kind);
    QFETCH(QString, slot);
    QListView *list = listOf(kind);
    const QString devEui = MainWindowProbe::currentText(list, DB::DeviceCol::DevEui);
    const quint16 port = quint16(MainWindowProbe::currentText(list, DB::DeviceCol::Port).toUInt());
    const int rows = list->model()->rowCount();
    QSignalSpy detached(window.get(), &MainWindow::disconnectDevice);

    // The list shows every device again, even with a search text left in the field.
    if (kind == ProtocolModbus)
        window->refreshDevicesSlot(devEui == Alpha ? QStringLiteral("Alpha")
                                                   : QStringLiteral("Beta"));
    QVERIFY(QMetaObject::invokeMethod(window.get(), slot.toLatin1().constData()));
    QCOMPARE(detached.count(), 1);
    QCOMPARE(detached.first().at(0).toString(), devEui);
    QCOMPARE(detached.first().at(1).value<uint16_t>(), port);
    QVERIFY(!findDevice(devEui, kind));
    QCOMPARE(list->model()->rowCount(), rows - 1);
    QTRY_VERIFY(!portHeld(port));
    QVERIFY(!CAllDeviceHandler::getInstance()->getPortProtocol(port));
    if (kind == ProtocolModbus) {
        QCOMPARE(MainWindowProbe::currentText(list, DB::DeviceCol::DevEui), Beta);
        QCOMPARE(probe->deviceTitleLabel()->text(), QStringLiteral("Device:%1 [Sensor]").arg(Beta));
    }
}

void TestMainWindow::deleteWithEmptyListChangesNothing()
{
    QCOMPARE(probe->tcpDeviceModel()->rowCount(), 0);
    QVERIFY(!probe->tcpDeviceList()->currentIndex().isValid());
    StorageSaboteur side;
    const int modbusRows = side.count(QStringLiteral("devices"));
    const int registerRows = side.count(QStringLiteral("dev_data"));
    QCOMPARE(modbusRows, 1);
    QSignalSpy detached(window.get(), &MainWindow::disconnectDevice);

    window->deleteTCPItemSlot();
    QCOMPARE(side.count(QStringLiteral("devices")), modbusRows);
    QCOMPARE(side.count(QStringLiteral("devicesTCP")), 0);
    QCOMPARE(side.count(QStringLiteral("dev_data")), registerRows);
    QCOMPARE(detached.count(), 1);
    QCOMPARE(detached.first().at(0).toString(), QString());
    QCOMPARE(detached.first().at(1).value<uint16_t>(), uint16_t(0));
    QCoreApplication::processEvents();
    QVERIFY(portHeld(betaPort));
    QCOMPARE(probe->modbusDeviceModel()->rowCount(), 1);
}

QListView *TestMainWindow::listOf(ProtocolOption kind) const
{
    return kind == ProtocolModbus ? probe->modbusDeviceList() : probe->tcpDeviceList();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
