#include "CAddNewDeviceForm.h"
#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CServerHandler.h"
#include "DeviceFormProbe.h"
#include "FakeNetworkServer.h"
#include "FormFixture.h"
#include "LogCapture.h"
#include "ModbusClient.h"
#include "SideConnection.h"
#include "TempWorkDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace FormFixture;

namespace {
const QString D1 = QStringLiteral("0000000000000D01"); // sensor
const QString D2 = QStringLiteral("0000000000000D02"); // type without template
const QString D3 = QStringLiteral("0000000000000D03"); // pipe
const QString D4 = QStringLiteral("0000000000000D04"); // meter
const QString D5 = QStringLiteral("0000000000000D05"); // sensor, stored before the test
const QString D6 = QStringLiteral("0000000000000D06"); // sensor
const QString D7 = QStringLiteral("0000000000000D07"); // pipe
const QString D8 = QStringLiteral("0000000000000D08"); // sensor
const QString UnknownAppEui = QStringLiteral("70B3D5E75E00FFFF");

// What the server does with the device-list request of a showing.
enum ListAnswer { NoAnswerYet, TimedOut, EmptyList, NotLoggedIn };

QJsonObject serverDevice(const QString &devEui, const QString &name, const QString &appEui)
{
    return {{QStringLiteral("devEui"), devEui},
            {QStringLiteral("devName"), name},
            {QStringLiteral("OTAA"), QJsonObject{{QStringLiteral("appEui"), appEui}}}};
}

// Clicks into the field and types the text, as the operator does.
void typeInto(QLineEdit *edit, const QString &text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClicks(edit, text);
}

QJsonArray fullList()
{
    return {serverDevice(D1, QStringLiteral("Tank 1"), SensorAppEui),
            serverDevice(D2, QStringLiteral("Ghost 2"), UnknownAppEui),
            serverDevice(D3, QStringLiteral("Pipe 3"), PipeAppEui),
            serverDevice(D4, QStringLiteral("Meter 4"), MeterAppEui),
            serverDevice(D5, QStringLiteral("Stored 5"), SensorAppEui),
            serverDevice(D6, QStringLiteral("Tank 6"), SensorAppEui),
            serverDevice(D7, QStringLiteral("Pipe 7"), PipeAppEui)};
}

// A successful device-list answer as the server sends it.
QString devicesAnswer(const QJsonArray &list)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("get_devices_resp")},
                                  {QStringLiteral("status"), true},
                                  {QStringLiteral("devices_list"), list}})
            .toJson(QJsonDocument::Compact));
}

} // namespace

// The add-device form against a fake network server, real storage and the real registry.
class TestAddNewDeviceForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void notLoggedInShowsNoTypes();
    void listShowsNewDevicesOfTheKind();
    void registersFollowTheSelection();
    void laterAnswerKeepsTheChoice();
    void laterAnswerKeepsTheTypedScaling_data();
    void laterAnswerKeepsTheTypedScaling();
    void reopeningListsTheRegistersAgain();
    void searchFiltersTheList();
    void statusTexts_data();
    void statusTexts();
    void refusedInput_data();
    void refusedInput();
    void okStoresOnlyWhatThisShowingOffers_data();
    void okStoresOnlyWhatThisShowingOffers();
    void storedInOtherLetterCaseIsNotOffered_data();
    void storedInOtherLetterCaseIsNotOffered();
    void devEuiListedInLowerCaseIsStoredInUpperCase();
    void addModbusDevice();
    void secondModbusDeviceJoinsThePort();
    void addTcpDevice();
    void duplicateDevEuiShowsTheMessage();
    void noCurrentRowDoesNothing();
    void openEditorIsStoredOnOk_data();
    void openEditorIsStoredOnOk();
    void portOfAWaitingServer_data();
    void portOfAWaitingServer();

private:
    bool logIn();
    // Opens the form for the kind and waits for the list page.
    bool openWithList(ProtocolOption kind);
    // Logged in, answers held back: the form is opened, its request sent, closed and opened
    // again, so that the answer to the earlier request comes first. The count of device-list
    // requests before, or -1.
    int openWithEarlierRequestWaiting();
    QStringList shownDevEuis() const;
    QStringList shownRegisterNames() const;
    void expectNothingAdded(const QString &devEui);

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<FakeNetworkServer> server;
    QThread *storageThread = nullptr;
    CAddNewDeviceForm *form = nullptr;
    std::unique_ptr<DeviceFormProbe> probe;
    std::unique_ptr<QSignalSpy> modbusRefresh;
    std::unique_ptr<QSignalSpy> tcpRefresh;
    quint16 modbusPort = 0;
    quint16 tcpPort = 0;
    int editedDevices = 0;
    int earlierDevices = 0;
    COMM::EServerStatus linkStatus = COMM::Disconnected;
    int waitingRows = 0;
};

void TestAddNewDeviceForm::initTestCase()
{
    dir = std::make_unique<TempWorkDir>();
    QVERIFY(dir->isValid());
    writeTemplates(dir->path());
    log = std::make_unique<LogCapture>();
    storageThread = startStorage();
    QVERIFY(storageThread);

    DB::SDeviceRegMapDescription stored;
    stored.devEui = D5;
    stored.appEui = SensorAppEui;
    stored.name = QStringLiteral("Stored 5");
    stored.port = freePort();
    QVERIFY(CDataBaseHandler::getInstance()->registerNewDevice(stored, ProtocolModbus));

    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    CServerHandler *link = CServerHandler::getInstance();
    CServerHandler::SIntervals intervals;
    intervals.response = 1500;
    link->setIntervals(intervals);
    connect(link, &CServerHandler::newPacketReceived, registry,
            &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);
    form = CAddNewDeviceForm::getInstance();
    QCOMPARE(CAddNewDeviceForm::getInstance(), form);
    connect(link, &CServerHandler::getDevicesListResp, form,
            &CAddNewDeviceForm::getDevicesListRespSlot, Qt::QueuedConnection);
    connect(link, &CServerHandler::changeServerStatus, this,
            [this](COMM::EServerStatus status) { linkStatus = status; });
    probe = std::make_unique<DeviceFormProbe>(form);
    modbusRefresh = std::make_unique<QSignalSpy>(form, &CAbstractDeviceForm::refreshDeviceList);
    tcpRefresh = std::make_unique<QSignalSpy>(form, &CAbstractDeviceForm::refreshDeviceTCPList);

    server = std::make_unique<FakeNetworkServer>();
    QVERIFY(server->isListening());
}

void TestAddNewDeviceForm::init()
{
    server->setDevicesList(fullList());
    server->setDevicesReplyEnabled(true);
    modbusRefresh->clear();
    tcpRefresh->clear();
    log->clear();
}

void TestAddNewDeviceForm::cleanup()
{
    form->hide();
    probe->searchEdit()->clear();
}

void TestAddNewDeviceForm::cleanupTestCase()
{
    stopStorage(storageThread);
}

bool TestAddNewDeviceForm::logIn()
{
    CServerHandler::getInstance()->connectSlot(server->url(), QStringLiteral("admin"),
                                               QStringLiteral("admin"));
    return QTest::qWaitFor([this] { return linkStatus == COMM::Success; }, 10000);
}

bool TestAddNewDeviceForm::openWithList(ProtocolOption kind)
{
    const int requests = server->receivedCommands(QStringLiteral("get_devices_req")).size();
    probe->open(kind);
    if (probe->statusLabel()->text() != QStringLiteral("WAITING...") || probe->page() != 0)
        return false;
    if (!server->waitForCommand(QStringLiteral("get_devices_req"), requests + 1, 10000))
        return false;
    return QTest::qWaitFor([this] { return probe->page() == 1; }, 10000);
}

int TestAddNewDeviceForm::openWithEarlierRequestWaiting()
{
    if (!logIn())
        return -1;
    server->setDevicesReplyEnabled(false);
    const int requests = server->receivedCommands(QStringLiteral("get_devices_req")).size();
    probe->open(ProtocolModbus);
    if (!server->waitForCommand(QStringLiteral("get_devices_req"), requests + 1))
        return -1;
    QTest::mouseClick(probe->cancelButton(), Qt::LeftButton);
    probe->open(ProtocolModbus);
    return requests;
}

QStringList TestAddNewDeviceForm::shownDevEuis() const
{
    QStringList devEuis;
    for (int row = 0; row < probe->deviceList()->model()->rowCount(); ++row)
        devEuis << probe->shownDevice(row, 3);
    return devEuis;
}

QStringList TestAddNewDeviceForm::shownRegisterNames() const
{
    QStringList names;
    for (int row = 0; row < probe->registerModel()->rowCount(); ++row)
        names << probe->registerCell(row, 10).toString();
    return names;
}

void TestAddNewDeviceForm::expectNothingAdded(const QString &devEui)
{
    QVERIFY(form->isVisible());
    QVERIFY(form->result() != QDialog::Accepted);
    QVERIFY(!findDevice(devEui, ProtocolModbus));
    QVERIFY(!findDevice(devEui, ProtocolTCP));
    QCOMPARE(modbusRefresh->count(), 0);
    QCOMPARE(tcpRefresh->count(), 0);
}

void TestAddNewDeviceForm::notLoggedInShowsNoTypes()
{
    probe->open(ProtocolModbus);
    QCOMPARE(probe->statusLabel()->text(), QStringLiteral("EMPTY LIST OF\nKNOWN DEVICE TYPES"));
    QCOMPARE(probe->page(), 0);
    QCOMPARE(probe->legendTexts(),
             QStringList({QStringLiteral("Sensor"), QStringLiteral("Meter")}));
    QCoreApplication::processEvents();
    QCOMPARE(probe->page(), 0);
    QVERIFY(server->received().isEmpty());
}

void TestAddNewDeviceForm::listShowsNewDevicesOfTheKind()
{
    QVERIFY(logIn());
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({D1, D4, D6}));
    QCOMPARE(probe->shownDevice(0, 1), QStringLiteral("Tank 1"));
    QCOMPARE(probe->shownDevice(0, 2), SensorAppEui);
    QVERIFY(probe->shownDevice(0, 0).isEmpty());
    QVERIFY(probe->shownDevice(0, 4).isEmpty());
    QCOMPARE(probe->deviceList()->currentIndex().row(), 0);
    QCOMPARE(probe->selectedAppEui(), SensorAppEui);
    QCOMPARE(shownRegisterNames(), QStringList({QStringLiteral("RSSI"), QStringLiteral("Level"),
                                                QStringLiteral("Temp")}));

    QVERIFY(openWithList(ProtocolTCP));
    QCOMPARE(shownDevEuis(), QStringList({D3, D7}));
    QCOMPARE(probe->legendTexts(), QStringList({QStringLiteral("Pipe")}));
    QCOMPARE(probe->deviceModel()->columnCount(), 5);
}

void TestAddNewDeviceForm::registersFollowTheSelection()
{
    QVERIFY(openWithList(ProtocolModbus));
    // Name, source, offset, bit size, data type; extra value 0, multiplier 1, no units.
    const QList<QVariantList> sensorRows = {
        {QStringLiteral("RSSI"), 0, 0, 16, QStringLiteral("integer")},
        {QStringLiteral("Level"), 1, 1, 16, QStringLiteral("uinteger")},
        {QStringLiteral("Temp"), 1, 2, 16, QStringLiteral("integer")},
    };
    QCOMPARE(probe->registerModel()->rowCount(), sensorRows.size());
    for (int row = 0; row < sensorRows.size(); ++row) {
        const QVariantList &expected = sensorRows.at(row);
        QCOMPARE(probe->registerCell(row, 10).toString(), expected.at(0).toString());
        QCOMPARE(probe->registerCell(row, 13).toInt(), expected.at(1).toInt());
        QCOMPARE(probe->registerCell(row, 2).toInt(), expected.at(2).toInt());
        QCOMPARE(probe->registerCell(row, 5).toInt(), expected.at(3).toInt());
        QCOMPARE(probe->registerCell(row, 6).toString(), expected.at(4).toString());
        QCOMPARE(probe->registerCell(row, 3).toDouble(), 0.0);
        QCOMPARE(probe->registerCell(row, 4).toDouble(), 1.0);
        QVERIFY(probe->registerCell(row, 11).toString().isEmpty());
    }

    probe->deviceList()->setCurrentIndex(probe->deviceList()->model()->index(1, 0));
    QCOMPARE(probe->selectedAppEui(), MeterAppEui);
    QCOMPARE(shownRegisterNames(), QStringList({QStringLiteral("Count")}));

    // Another device of an already listed type keeps the rows (and their edits).
    probe->deviceList()->setCurrentIndex(probe->deviceList()->model()->index(0, 0));
    probe->registerModel()->setData(probe->registerModel()->index(0, 11), QStringLiteral("dB"));
    probe->deviceList()->setCurrentIndex(probe->deviceList()->model()->index(2, 0));
    QCOMPARE(shownRegisterNames().size(), 3);
    QCOMPARE(probe->registerCell(0, 11).toString(), QStringLiteral("dB"));
}

// The answer to an earlier showing's request comes first; the one to this showing's request
// must not move the operator's choice made in between.
void TestAddNewDeviceForm::laterAnswerKeepsTheChoice()
{
    const int requests = openWithEarlierRequestWaiting();
    QVERIFY(requests >= 0);
    const QString answer = devicesAnswer(fullList());
    QCOMPARE(server->sendText(answer), 1);
    QTRY_COMPARE(probe->page(), 1);
    QCOMPARE(shownDevEuis(), QStringList({D1, D4, D6}));
    probe->deviceList()->setCurrentIndex(probe->deviceList()->model()->index(1, 0));
    QCOMPARE(probe->selectedAppEui(), MeterAppEui);

    // This showing's own request leaves once the first is answered, and its answer comes.
    QVERIFY(server->waitForCommand(QStringLiteral("get_devices_req"), requests + 2));
    QCOMPARE(server->sendText(answer), 1);
    QTRY_COMPARE(probe->page(), 1);
    QTest::qWait(200);
    QCOMPARE(probe->deviceList()->currentIndex().row(), 1);
    QCOMPARE(probe->selectedAppEui(), MeterAppEui);
    QCOMPARE(shownRegisterNames(), QStringList({QStringLiteral("Count")}));
}

void TestAddNewDeviceForm::laterAnswerKeepsTheTypedScaling_data()
{
    QTest::addColumn<bool>("editorOpen");
    QTest::addColumn<bool>("chosenListedAgain");
    QTest::addColumn<double>("multiplier");
    QTest::addColumn<double>("extraValue");
    QTest::addRow("editor still open") << true << true << 2.5 << 7.0;
    QTest::addRow("editor closed by the next card's") << false << true << 2.5 << 7.0;
    // The choice falls to the first device, of another type: its template's registers.
    QTest::addRow("chosen device no longer listed") << false << false << 1.0 << 0.0;
}

// The operator types the scaling of the chosen device's register, then a further device-list
// answer comes (to an earlier showing's request): OK stores what was typed.
void TestAddNewDeviceForm::laterAnswerKeepsTheTypedScaling()
{
    QFETCH(bool, editorOpen);
    QFETCH(bool, chosenListedAgain);
    QFETCH(double, multiplier);
    QFETCH(double, extraValue);

    const QString devEui = QStringLiteral("0000000000000DB%1").arg(++editedDevices);
    const QJsonObject meter = serverDevice(D4, QStringLiteral("Meter 4"), MeterAppEui);
    const QJsonObject chosen = serverDevice(devEui, QStringLiteral("Scaled"), SensorAppEui);
    const int requests = openWithEarlierRequestWaiting();
    QVERIFY(requests >= 0);
    QCOMPARE(server->sendText(devicesAnswer({meter, chosen})), 1);
    QTRY_COMPARE(probe->page(), 1);
    QCOMPARE(shownDevEuis(), QStringList({D4, devEui}));
    probe->deviceList()->setCurrentIndex(probe->deviceList()->model()->index(1, 0));
    QCOMPARE(probe->selectedAppEui(), SensorAppEui);

    // Typing needs the focus, so the dialog is the active window, as the user's click makes it.
    QApplication::setActiveWindow(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
    CSimpleRegisterEditWidget *editor = probe->openRegisterEditor(1);
    QVERIFY(editor);
    QVERIFY(
        DeviceFormProbe::typeInto(editor, DeviceFormProbe::MultiplierField, QStringLiteral("2.5")));
    QVERIFY(
        DeviceFormProbe::typeInto(editor, DeviceFormProbe::ExtraValueField, QStringLiteral("7")));
    if (!editorOpen) {
        QVERIFY(probe->openRegisterEditor(2));
        QCOMPARE(probe->registerCell(1, DB::DevDataCol::GratingPeriod).toDouble(), 2.5);
    }

    QVERIFY(server->waitForCommand(QStringLiteral("get_devices_req"), requests + 2));
    QSignalSpy answered(CServerHandler::getInstance(), &CServerHandler::getDevicesListResp);
    const QJsonObject other = serverDevice(D6, QStringLiteral("Tank 6"), SensorAppEui);
    QCOMPARE(server->sendText(devicesAnswer(chosenListedAgain ? QJsonArray{meter, chosen}
                                                              : QJsonArray{meter, other})),
             1);
    QVERIFY(answered.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(probe->page(), 1);
    QCOMPARE(probe->selectedAppEui(), chosenListedAgain ? SensorAppEui : MeterAppEui);

    const quint16 port = freePort();
    probe->portEdit()->setText(QString::number(port));
    probe->startAddrEdit()->setText(QStringLiteral("400"));
    QTest::mouseClick(probe->okButton(), Qt::LeftButton);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    const std::optional<StoredDevice> device
        = findDevice(chosenListedAgain ? devEui : D4, ProtocolModbus);
    QVERIFY(device);
    const QVariantList row = registerRows(device->id).at(chosenListedAgain ? 1 : 0);
    QCOMPARE(row.at(DB::DevDataCol::GratingPeriod).toDouble(), multiplier);
    QCOMPARE(row.at(DB::DevDataCol::StartValue).toDouble(), extraValue);
    const QString stored = chosenListedAgain ? devEui : D4;
    QVERIFY(CDataBaseHandler::getInstance()->deleteDevice(device->id, ProtocolModbus));
    CAllDeviceHandler::getInstance()->removeDevice(stored, port);
}

void TestAddNewDeviceForm::reopeningListsTheRegistersAgain()
{
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(probe->selectedAppEui(), SensorAppEui);
    probe->portEdit()->setText(QStringLiteral("1234"));
    probe->startAddrEdit()->setText(QStringLiteral("5"));

    probe->open(ProtocolModbus);
    QCOMPARE(probe->registerModel()->rowCount(), 0);
    QVERIFY(probe->selectedAppEui().isEmpty());
    QVERIFY(probe->portEdit()->text().isEmpty());
    QVERIFY(probe->startAddrEdit()->text().isEmpty());
    // Nothing of the last answer is left to be chosen.
    QCOMPARE(probe->deviceModel()->rowCount(), 0);
    QVERIFY(!probe->deviceList()->currentIndex().isValid());
    QTRY_COMPARE_WITH_TIMEOUT(probe->page(), 1, 10000);
    QCOMPARE(shownRegisterNames().size(), 3);
}

void TestAddNewDeviceForm::searchFiltersTheList()
{
    QVERIFY(openWithList(ProtocolModbus));
    probe->searchEdit()->setText(QStringLiteral("TANK"));
    QCOMPARE(shownDevEuis(), QStringList({D1, D4, D6})); // typing alone does not filter
    probe->searchEdit()->textChangedSlot();
    QCOMPARE(shownDevEuis(), QStringList({D1, D6}));
    probe->searchEdit()->setText(QStringLiteral("er 4"));
    probe->searchEdit()->textChangedSlot();
    QCOMPARE(shownDevEuis(), QStringList({D4}));
    probe->searchEdit()->clear();
    QCOMPARE(shownDevEuis(), QStringList({D1, D4, D6}));
}

void TestAddNewDeviceForm::statusTexts_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QJsonArray>("list");
    QTest::addColumn<bool>("reply");
    QTest::addColumn<QString>("status");

    const QString notNew = QStringLiteral("NOT NEW DEVICES\nALL DEVICES ALREADY REGISTERED");
    QTest::addRow("empty list") << int(ProtocolModbus) << QJsonArray() << true
                                << QStringLiteral("EMPTY DEVICE LIST\nFROM SERVER");
    QTest::addRow("stored or without template")
        << int(ProtocolModbus)
        << QJsonArray{serverDevice(D2, QStringLiteral("Ghost 2"), UnknownAppEui),
                      serverDevice(D5, QStringLiteral("Stored 5"), SensorAppEui),
                      serverDevice(D3, QStringLiteral("Pipe 3"), PipeAppEui)}
        << true << notNew;
    QTest::addRow("no type of this kind")
        << int(ProtocolTCP)
        << QJsonArray{serverDevice(D1, QStringLiteral("Tank 1"), SensorAppEui),
                      serverDevice(D4, QStringLiteral("Meter 4"), MeterAppEui)}
        << true << notNew;
    QTest::addRow("AppEUI in other letter case")
        << int(ProtocolModbus)
        << QJsonArray{serverDevice(D1, QStringLiteral("Tank 1"), SensorAppEui.toLower())} << true
        << notNew;
    QTest::addRow("no answer") << int(ProtocolModbus) << fullList() << false
                               << QStringLiteral("SERVER TIMEOUT");
}

void TestAddNewDeviceForm::statusTexts()
{
    QFETCH(int, kind);
    QFETCH(QJsonArray, list);
    QFETCH(bool, reply);
    QFETCH(QString, status);

    server->setDevicesList(list);
    server->setDevicesReplyEnabled(reply);
    const int requests = server->receivedCommands(QStringLiteral("get_devices_req")).size();
    probe->open(ProtocolOption(kind));
    QCOMPARE(probe->statusLabel()->text(), QStringLiteral("WAITING..."));
    QVERIFY(server->waitForCommand(QStringLiteral("get_devices_req"), requests + 1, 10000));
    QTRY_COMPARE_WITH_TIMEOUT(probe->statusLabel()->text(), status, 10000);
    QCOMPARE(probe->page(), 0);
}

void TestAddNewDeviceForm::refusedInput_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("portMarker");
    QTest::addColumn<bool>("startMarker");

    QTest::addRow("empty port") << QString() << QStringLiteral("10") << true << false;
    QTest::addRow("empty start address") << QStringLiteral("free") << QString() << false << true;
    QTest::addRow("both empty") << QString() << QString() << true << true;
    QTest::addRow("port 0") << QStringLiteral("0") << QStringLiteral("10") << true << false;
    QTest::addRow("port above 65535")
        << QStringLiteral("70000") << QStringLiteral("10") << true << false;
    QTest::addRow("negative port")
        << QStringLiteral("-502") << QStringLiteral("10") << true << false;
    QTest::addRow("negative start address")
        << QStringLiteral("free") << QStringLiteral("-1") << false << true;
    QTest::addRow("start address above 65535")
        << QStringLiteral("free") << QStringLiteral("65536") << false << true;
    QTest::addRow("port of another program")
        << QStringLiteral("busy") << QStringLiteral("10") << true << false;
}

void TestAddNewDeviceForm::refusedInput()
{
    QFETCH(QString, port);
    QFETCH(QString, start);
    QFETCH(bool, portMarker);
    QFETCH(bool, startMarker);

    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::Any, 0));
    if (port == QLatin1String("busy"))
        port = QString::number(otherProgram.serverPort());
    else if (port == QLatin1String("free"))
        port = QString::number(freePort());

    QVERIFY(openWithList(ProtocolModbus));
    probe->portEdit()->setText(port);
    probe->startAddrEdit()->setText(start);
    form->addDeviceSlot();
    QCOMPARE(probe->portMarker()->isVisible(), portMarker);
    QCOMPARE(probe->startAddrMarker()->isVisible(), startMarker);
    expectNothingAdded(D1);
    // A marker goes when the next attempt no longer has its fault.
    probe->portEdit()->clear();
    probe->startAddrEdit()->setText(QStringLiteral("1"));
    form->addDeviceSlot();
    QVERIFY(!probe->startAddrMarker()->isVisible());
    QVERIFY(probe->portMarker()->isVisible());
}

void TestAddNewDeviceForm::okStoresOnlyWhatThisShowingOffers_data()
{
    QTest::addColumn<int>("kind"); // of the second showing
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("status");

    QTest::addRow("waiting") << int(ProtocolModbus) << int(NoAnswerYet)
                             << QStringLiteral("WAITING...");
    QTest::addRow("server timeout")
        << int(ProtocolModbus) << int(TimedOut) << QStringLiteral("SERVER TIMEOUT");
    QTest::addRow("empty device list") << int(ProtocolModbus) << int(EmptyList)
                                       << QStringLiteral("EMPTY DEVICE LIST\nFROM SERVER");
    QTest::addRow("empty list of known device types")
        << int(ProtocolModbus) << int(NotLoggedIn)
        << QStringLiteral("EMPTY LIST OF\nKNOWN DEVICE TYPES");
    QTest::addRow("tcp showing after a modbus one")
        << int(ProtocolTCP) << int(NoAnswerYet) << QStringLiteral("WAITING...");
}

// A device chosen in an earlier showing stays behind when the form is shown again.
void TestAddNewDeviceForm::okStoresOnlyWhatThisShowingOffers()
{
    QFETCH(int, kind);
    QFETCH(int, answer);
    QFETCH(QString, status);

    if (linkStatus != COMM::Success)
        QVERIFY(logIn());
    // A sensor of its own in each row: what one row wrongly stores does not change the next.
    const QString earlier = QStringLiteral("0000000000000D9%1").arg(++earlierDevices);
    server->setDevicesList({serverDevice(earlier, QStringLiteral("Earlier"), SensorAppEui)});
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({earlier}));
    QCOMPARE(probe->deviceList()->currentIndex().row(), 0);
    QTest::mouseClick(probe->cancelButton(), Qt::LeftButton);
    QVERIFY(!form->isVisible());

    server->setDevicesList(answer == EmptyList ? QJsonArray() : fullList());
    server->setDevicesReplyEnabled(answer == EmptyList);
    if (answer == NotLoggedIn) {
        server->dropConnections();
        QTRY_VERIFY_WITH_TIMEOUT(linkStatus != COMM::Success, 10000);
    }
    probe->open(ProtocolOption(kind));
    QTRY_COMPARE_WITH_TIMEOUT(probe->statusLabel()->text(), status, 10000);
    QCOMPARE(probe->page(), 0);

    // Typed as the operator types; Enter in the port field presses OK, the default button.
    QApplication::setActiveWindow(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
    const quint16 port = freePort();
    if (kind == ProtocolModbus)
        typeInto(probe->startAddrEdit(), QStringLiteral("7"));
    typeInto(probe->portEdit(), QString::number(port));
    MessageBoxCloser closer;
    QTest::keyClick(probe->portEdit(), Qt::Key_Return);
    expectNothingAdded(earlier);
    QTest::mouseClick(probe->okButton(), Qt::LeftButton);
    QCoreApplication::processEvents();

    expectNothingAdded(earlier);
    QCOMPARE(closer.closed, 0);
    QVERIFY(!log->contains(QStringLiteral("device created successfully")));
    QVERIFY(!CAllDeviceHandler::getInstance()->getPortProtocol(port));

    // Nothing of this showing is left to reach the next test.
    if (answer == NoAnswerYet)
        QTRY_COMPARE_WITH_TIMEOUT(probe->statusLabel()->text(), QStringLiteral("SERVER TIMEOUT"),
                                  10000);
    if (answer == NotLoggedIn)
        QVERIFY(logIn());
}

void TestAddNewDeviceForm::storedInOtherLetterCaseIsNotOffered_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("devEui");
    QTest::addColumn<bool>("lowerInFile"); // as files of earlier versions hold it
    QTest::addColumn<QString>("listed");

    QTest::addRow("listed in lower case")
        << int(ProtocolModbus) << "0000000000000DB1" << false << "0000000000000db1";
    QTest::addRow("stored in lower case")
        << int(ProtocolModbus) << "0000000000000DB2" << true << "0000000000000DB2";
    QTest::addRow("tcp, listed in mixed case")
        << int(ProtocolTCP) << "0000000000000DB3" << false << "0000000000000dB3";
    QTest::addRow("tcp, stored in lower case")
        << int(ProtocolTCP) << "0000000000000DB4" << true << "0000000000000Db4";
}

void TestAddNewDeviceForm::storedInOtherLetterCaseIsNotOffered()
{
    QFETCH(int, kind);
    QFETCH(QString, devEui);
    QFETCH(bool, lowerInFile);
    QFETCH(QString, listed);

    const QString appEui = kind == ProtocolTCP ? PipeAppEui : SensorAppEui;
    DB::SDeviceRegMapDescription stored;
    stored.devEui = devEui;
    stored.appEui = appEui;
    stored.name = QStringLiteral("Stored");
    stored.port = 1;
    QVERIFY(CDataBaseHandler::getInstance()->registerNewDevice(stored, ProtocolOption(kind)));
    if (lowerInFile) {
        SideConnection side;
        QVERIFY(side.exec(
            QStringLiteral("UPDATE %1 SET dev_eui='%2' WHERE dev_eui='%3';")
                .arg(kind == ProtocolTCP ? DB::DbNames::DevicesTcpTable : DB::DbNames::DevicesTable,
                     devEui.toLower(), devEui)));
    }

    server->setDevicesList({serverDevice(listed, QStringLiteral("Listed"), appEui)});
    const int requests = server->receivedCommands(QStringLiteral("get_devices_req")).size();
    probe->open(ProtocolOption(kind));
    QVERIFY(server->waitForCommand(QStringLiteral("get_devices_req"), requests + 1, 10000));
    QTRY_COMPARE_WITH_TIMEOUT(probe->statusLabel()->text(),
                              QStringLiteral("NOT NEW DEVICES\nALL DEVICES ALREADY REGISTERED"),
                              10000);
    QCOMPARE(probe->deviceModel()->rowCount(), 0);
}

// The server may list a DevEUI in lower case; its uplinks come in upper case.
void TestAddNewDeviceForm::devEuiListedInLowerCaseIsStoredInUpperCase()
{
    const QString listed = QStringLiteral("0000000000000dc1");
    const QString devEui = listed.toUpper();
    server->setDevicesList({serverDevice(listed, QStringLiteral("Tank c1"), SensorAppEui)});
    server->setLastPackets(
        devEui,
        QJsonArray{QJsonDocument::fromJson(uplinkJson(devEui, QStringLiteral("010102fffe"), -70))
                       .object()});
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({listed}));

    QApplication::setActiveWindow(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
    const quint16 port = freePort();
    typeInto(probe->startAddrEdit(), QStringLiteral("20"));
    typeInto(probe->portEdit(), QString::number(port));
    QTest::keyClick(probe->portEdit(), Qt::Key_Return);

    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(findDevice(devEui, ProtocolModbus));
    QVERIFY(!findDevice(listed, ProtocolModbus));
    // The last packet, asked for after the store, reaches the device's registers.
    QTRY_COMPARE_WITH_TIMEOUT(ModbusClient::readHoldingAside(port, 21, 2),
                              QList<quint16>({0x0102, 0xfffe}), 10000);

    // Deleted as the window deletes, by the DevEUI as stored, with a port it is not served on (as
    // a move whose write-back failed leaves it): its own port is freed.
    const std::optional<StoredDevice> stored = findDevice(devEui, ProtocolModbus);
    QVERIFY(CDataBaseHandler::getInstance()->deleteDevice(stored->id, ProtocolModbus));
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    registry->removeDevice(devEui, freePort());
    QVERIFY(!registry->getPortProtocol(port).has_value());
    QTRY_VERIFY(canListen(port));
}

void TestAddNewDeviceForm::addModbusDevice()
{
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(probe->shownDevice(0, 3), D1);
    const QJsonObject uplink
        = QJsonDocument::fromJson(uplinkJson(D1, QStringLiteral("01000AFFFE"), -70)).object();
    server->setLastPackets(D1, QJsonArray{uplink});
    const int dataRequests = server->receivedCommands(QStringLiteral("get_data_req")).size();

    // The register editor's columns: extra value, multiplier, units.
    QStandardItemModel *registers = probe->registerModel();
    QCOMPARE(registers->index(1, 10).data().toString(), QStringLiteral("Level"));
    registers->setData(registers->index(1, 3), 1.0);
    registers->setData(registers->index(1, 4), 2.5);
    registers->setData(registers->index(1, 11), QStringLiteral("cm"));

    modbusPort = freePort();
    probe->portEdit()->setText(QString::number(modbusPort));
    probe->startAddrEdit()->setText(QStringLiteral("100"));
    form->addDeviceSlot();

    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(!form->isVisible());
    QCOMPARE(modbusRefresh->count(), 1);
    QCOMPARE(modbusRefresh->first().first().toString(), QString());
    QCOMPARE(tcpRefresh->count(), 0);
    QVERIFY(log->waitForLine(
        QStringLiteral("INFO: [CAddNewDeviceForm::addDeviceSlot] device created successfully")));

    const std::optional<StoredDevice> device = findDevice(D1, ProtocolModbus);
    QVERIFY(device);
    QCOMPARE(device->name, QStringLiteral("Tank 1"));
    QCOMPARE(device->appEui, SensorAppEui);
    QCOMPARE(device->port, int(modbusPort));
    QCOMPARE(device->startAddr, 100);
    const QList<QVariantList> rows = registerRows(device->id);
    QCOMPARE(rows.size(), 3);
    const QStringList names
        = {QStringLiteral("RSSI"), QStringLiteral("Level"), QStringLiteral("Temp")};
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows.at(i).at(DB::DevDataCol::RegAddr).toInt(), 100 + i);
        QCOMPARE(rows.at(i).at(DB::DevDataCol::Name).toString(), names.at(i));
        QCOMPARE(rows.at(i).at(DB::DevDataCol::Source).toInt(), i == 0 ? 0 : 1);
    }
    QCOMPARE(rows.at(1).at(DB::DevDataCol::StartValue).toDouble(), 1.0);
    QCOMPARE(rows.at(1).at(DB::DevDataCol::GratingPeriod).toDouble(), 2.5);
    QCOMPARE(rows.at(1).at(DB::DevDataCol::Unit).toString(), QStringLiteral("cm"));
    QCOMPARE(rows.at(2).at(DB::DevDataCol::GratingPeriod).toDouble(), 1.0);

    QCOMPARE(CAllDeviceHandler::getInstance()->getPortProtocol(modbusPort),
             std::optional<ProtocolOption>(ProtocolModbus));
    QVERIFY(acceptsConnections(modbusPort));

    // The last packets are asked for, and the first one is decoded with the stored scaling.
    QVERIFY(server->waitForCommand(QStringLiteral("get_data_req"), dataRequests + 1, 10000));
    QCOMPARE(server->receivedCommands(QStringLiteral("get_data_req"))
                 .last()
                 .value(QStringLiteral("devEui"))
                 .toString(),
             D1);
    QTRY_COMPARE_WITH_TIMEOUT(ModbusClient::readHoldingAside(modbusPort, 100, 3),
                              QList<quint16>({0xFFBA, 26, 0xFFFE}), 10000);
}

void TestAddNewDeviceForm::secondModbusDeviceJoinsThePort()
{
    QVERIFY(modbusPort);
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({D4, D6}));
    probe->deviceList()->setCurrentIndex(probe->deviceList()->model()->index(1, 0));
    probe->portEdit()->setText(QString::number(modbusPort));
    probe->startAddrEdit()->setText(QStringLiteral("200"));
    form->addDeviceSlot();

    QCOMPARE(form->result(), int(QDialog::Accepted));
    QVERIFY(!probe->portMarker()->isVisible());
    QCOMPARE(modbusRefresh->count(), 1);
    const std::optional<StoredDevice> device = findDevice(D6, ProtocolModbus);
    QVERIFY(device);
    QCOMPARE(device->port, int(modbusPort));
    QCOMPARE(registerRows(device->id).size(), 3);
    QCOMPARE(ModbusClient::readHoldingAside(modbusPort, 200, 3), QList<quint16>({0, 0, 0}));
    QCOMPARE(ModbusClient::readHoldingAside(modbusPort, 100, 3),
             QList<quint16>({0xFFBA, 26, 0xFFFE}));
}

void TestAddNewDeviceForm::addTcpDevice()
{
    QVERIFY(modbusPort);
    QTcpServer otherProgram;
    QVERIFY(otherProgram.listen(QHostAddress::Any, 0));

    QVERIFY(openWithList(ProtocolTCP));
    QCOMPARE(shownDevEuis(), QStringList({D3, D7}));
    for (const QString &refused : {QString(), QStringLiteral("0"), QString::number(modbusPort),
                                   QString::number(otherProgram.serverPort())}) {
        probe->portEdit()->setText(refused);
        form->addDeviceSlot();
        QVERIFY2(probe->portMarker()->isVisible(), qPrintable(refused));
        QVERIFY(!probe->startAddrMarker()->isVisible());
        expectNothingAdded(D3);
    }

    const int dataRequests = server->receivedCommands(QStringLiteral("get_data_req")).size();
    tcpPort = freePort();
    probe->portEdit()->setText(QString::number(tcpPort));
    form->addDeviceSlot();
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QCOMPARE(tcpRefresh->count(), 1);
    QCOMPARE(tcpRefresh->first().first().toString(), QString());
    QCOMPARE(modbusRefresh->count(), 0);
    const std::optional<StoredDevice> device = findDevice(D3, ProtocolTCP);
    QVERIFY(device);
    QCOMPARE(device->name, QStringLiteral("Pipe 3"));
    QCOMPARE(device->port, int(tcpPort));
    QVERIFY(!findDevice(D3, ProtocolModbus));
    QCOMPARE(CAllDeviceHandler::getInstance()->getPortProtocol(tcpPort),
             std::optional<ProtocolOption>(ProtocolTCP));
    QVERIFY(acceptsConnections(tcpPort));
    QVERIFY(server->waitForCommand(QStringLiteral("get_data_req"), dataRequests + 1, 10000));

    // Nothing else may use the port of a transparent TCP device.
    tcpRefresh->clear();
    QVERIFY(openWithList(ProtocolTCP));
    QCOMPARE(shownDevEuis(), QStringList({D7}));
    probe->portEdit()->setText(QString::number(tcpPort));
    form->addDeviceSlot();
    QVERIFY(probe->portMarker()->isVisible());
    expectNothingAdded(D7);

    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({D4}));
    probe->portEdit()->setText(QString::number(tcpPort));
    probe->startAddrEdit()->setText(QStringLiteral("0"));
    form->addDeviceSlot();
    QVERIFY(probe->portMarker()->isVisible());
    expectNothingAdded(D4);
}

void TestAddNewDeviceForm::duplicateDevEuiShowsTheMessage()
{
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({D4}));
    // Stored behind the form's back after the list came.
    DB::SDeviceRegMapDescription sneaked;
    sneaked.devEui = D4;
    sneaked.appEui = MeterAppEui;
    sneaked.name = QStringLiteral("Meter 4");
    sneaked.port = 1;
    QVERIFY(CDataBaseHandler::getInstance()->registerNewDevice(sneaked, ProtocolModbus));

    const quint16 port = freePort();
    probe->portEdit()->setText(QString::number(port));
    probe->startAddrEdit()->setText(QStringLiteral("0"));
    MessageBoxCloser closer;
    form->addDeviceSlot();

    QCOMPARE(closer.closed, 1);
    QCOMPARE(closer.text, QStringLiteral("Add new device status"));
    QCOMPARE(closer.informativeText,
             QStringLiteral("Device is not added! See LOG-file for more details"));
    QCOMPARE(closer.icon, QMessageBox::Critical);
    QCOMPARE(closer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(form->isVisible());
    QVERIFY(form->result() != QDialog::Accepted);
    QCOMPARE(modbusRefresh->count(), 0);
    QVERIFY(log->waitForLine(
        QStringLiteral("ERROR: [CAddNewDeviceForm::addDeviceSlot] device is not created!")));
    QVERIFY(!log->contains(QStringLiteral("device created successfully")));
    QCOMPARE(findDevice(D4, ProtocolModbus)->port, 1);
    QVERIFY(!CAllDeviceHandler::getInstance()->getPortProtocol(port));
    QVERIFY(!acceptsConnections(port));
}

void TestAddNewDeviceForm::noCurrentRowDoesNothing()
{
    QJsonArray list = fullList();
    list.append(serverDevice(D8, QStringLiteral("Tank 8"), SensorAppEui));
    server->setDevicesList(list);
    QVERIFY(openWithList(ProtocolModbus));
    QCOMPARE(shownDevEuis(), QStringList({D8}));
    probe->searchEdit()->setText(QStringLiteral("no such name"));
    probe->searchEdit()->textChangedSlot();
    QVERIFY(!probe->deviceList()->currentIndex().isValid());

    probe->portEdit()->setText(QString::number(freePort()));
    probe->startAddrEdit()->setText(QStringLiteral("5"));
    MessageBoxCloser closer;
    form->addDeviceSlot();
    QCoreApplication::processEvents();
    QCOMPARE(closer.closed, 0);
    QVERIFY(!probe->portMarker()->isVisible());
    QVERIFY(!probe->startAddrMarker()->isVisible());
    expectNothingAdded(D8);
}

void TestAddNewDeviceForm::openEditorIsStoredOnOk_data()
{
    registerEditRows();
}

void TestAddNewDeviceForm::openEditorIsStoredOnOk()
{
    QFETCH(int, field);
    QFETCH(QString, typed);
    QFETCH(double, extraValue);
    QFETCH(double, multiplier);
    QFETCH(QString, units);
    QFETCH(QString, data);
    QFETCH(int, level);

    const QString devEui = QStringLiteral("0000000000000DA%1").arg(++editedDevices);
    server->setDevicesList({serverDevice(devEui, QStringLiteral("Edited"), SensorAppEui)});
    server->setLastPackets(
        devEui, QJsonArray{QJsonDocument::fromJson(uplinkJson(devEui, data, -70)).object()});
    QVERIFY(openWithList(ProtocolModbus));
    // Typing needs the focus, so the dialog is the active window, as the user's click makes it.
    QApplication::setActiveWindow(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
    QCOMPARE(shownDevEuis(), QStringList({devEui}));
    QCOMPARE(probe->registerCell(1, DB::DevDataCol::Name).toString(), QStringLiteral("Level"));

    CSimpleRegisterEditWidget *editor = probe->openRegisterEditor(1);
    QVERIFY(editor);
    QVERIFY(DeviceFormProbe::typeInto(editor, DeviceFormProbe::RegisterField(field), typed));
    const quint16 port = freePort();
    probe->portEdit()->setText(QString::number(port));
    probe->startAddrEdit()->setText(QStringLiteral("300"));
    QTest::mouseClick(probe->okButton(), Qt::LeftButton);

    QCOMPARE(form->result(), int(QDialog::Accepted));
    const std::optional<StoredDevice> device = findDevice(devEui, ProtocolModbus);
    QVERIFY(device);
    const QVariantList row = registerRows(device->id).at(1);
    QCOMPARE(row.at(DB::DevDataCol::RegAddr).toInt(), 301);
    QCOMPARE(row.at(DB::DevDataCol::StartValue).toDouble(), extraValue);
    QCOMPARE(row.at(DB::DevDataCol::GratingPeriod).toDouble(), multiplier);
    QCOMPARE(row.at(DB::DevDataCol::Unit).toString(), units);

    // The last packet, asked for after the store, is decoded with the typed scaling.
    QTRY_COMPARE_WITH_TIMEOUT(ModbusClient::readHoldingAside(port, 301, 1),
                              QList<quint16>({quint16(level)}), 10000);
}

void TestAddNewDeviceForm::portOfAWaitingServer_data()
{
    QTest::addColumn<int>("waitingKind");
    QTest::addColumn<bool>("portFreed");
    QTest::addColumn<int>("addedKind");
    QTest::addColumn<bool>("accepted");

    QTest::addRow("Modbus device, Modbus server, port still held")
        << int(ProtocolModbus) << false << int(ProtocolModbus) << true;
    QTest::addRow("Modbus device, Modbus server, port freed")
        << int(ProtocolModbus) << true << int(ProtocolModbus) << true;
    QTest::addRow("transparent device, Modbus server, port freed")
        << int(ProtocolModbus) << true << int(ProtocolTCP) << false;
    QTest::addRow("transparent device, transparent server, port freed")
        << int(ProtocolTCP) << true << int(ProtocolTCP) << false;
    QTest::addRow("Modbus device, transparent server, port freed")
        << int(ProtocolTCP) << true << int(ProtocolModbus) << false;
}

void TestAddNewDeviceForm::portOfAWaitingServer()
{
    QFETCH(int, waitingKind);
    QFETCH(bool, portFreed);
    QFETCH(int, addedKind);
    QFETCH(bool, accepted);

    // The gateway's server of the port waits for it: another program held it when the server
    // was made, and it tries again only after its retry period.
    auto otherProgram = std::make_unique<QTcpServer>();
    QVERIFY(otherProgram->listen(QHostAddress::Any, 0));
    const quint16 port = otherProgram->serverPort();
    ++waitingRows;
    DB::SDeviceRegMapDescription waiting;
    waiting.devEui = QStringLiteral("0000000000000DC%1").arg(waitingRows);
    waiting.appEui = waitingKind == ProtocolTCP ? PipeAppEui : SensorAppEui;
    waiting.port = port;
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    registry->addNewDevice(waiting, ProtocolOption(waitingKind));
    if (portFreed)
        otherProgram.reset();

    const QString devEui = QStringLiteral("0000000000000DE%1").arg(waitingRows);
    server->setDevicesList({serverDevice(devEui, QStringLiteral("Newcomer"),
                                         addedKind == ProtocolTCP ? PipeAppEui : SensorAppEui)});
    QVERIFY(openWithList(ProtocolOption(addedKind)));
    QCOMPARE(shownDevEuis(), QStringList({devEui}));
    probe->portEdit()->setText(QString::number(port));
    probe->startAddrEdit()->setText(QStringLiteral("400"));
    form->addDeviceSlot();

    if (accepted) {
        // It joins the waiting Modbus server.
        QCOMPARE(form->result(), int(QDialog::Accepted));
        QVERIFY(findDevice(devEui, ProtocolModbus));
        QVERIFY(log->waitForLine(
            QStringLiteral("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open")
                .arg(port)));
        registry->removeDevice(devEui, port);
    } else {
        QVERIFY(probe->portMarker()->isVisible());
        expectNothingAdded(devEui);
    }
    QCOMPARE(registry->getPortProtocol(port),
             std::optional<ProtocolOption>(ProtocolOption(waitingKind)));
    registry->removeDevice(waiting.devEui, port);
    QVERIFY(!registry->getPortProtocol(port));
}

QTEST_MAIN(TestAddNewDeviceForm)
#include "tst_addnewdeviceform.moc"
