#include "MainWindow.h"

#include "CAbstractPanelButton.h"
#include "CAddNewDeviceForm.h"
#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CDeviceDelegat.h"
#include "CEditDeviceForm.h"
#include "CLeftPanel.h"
#include "CLogFile.h"
#include "CRegisterDelegat.h"
#include "CSearchEditWidget.h"
#include "CServerHandler.h"
#include "CSettings.h"
#include "DbRecords.h"
#include "GlobalSettingsWindow.h"
#include "HoverTracking.h"
#include "SharedConstants.h"

#include <QComboBox>
#include <QDebug>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSplitter>
#include <QSqlQueryModel>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString LogoImage = QStringLiteral(":/tarnmark_logo5_horizontal_gradient.png");
const QString ConnectionFailIcon = QStringLiteral(":/connectionFailIco.png");
const QString ConnectionGoodIcon = QStringLiteral(":/connectionGoodIco.png");
const QString SettingsIcon = QStringLiteral(":/flat/settingsFlatInvertIco.png");
const QString AddIcon = QStringLiteral(":/addIco.png");
const QString EditIcon = QStringLiteral(":/editIco.png");
const QString DeleteIcon = QStringLiteral(":/delete2Ico.png");

// Device lists are drawn on the page's background.
void makeTransparent(QListView *list)
{
    QPalette palette = list->palette();
    palette.setBrush(QPalette::All, QPalette::Base, QBrush(QColor(Qt::transparent)));
    list->setPalette(palette);
}

QHBoxLayout *tightRow(int spacing = 0)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

// A query model keeps only a first chunk of SQLite rows until asked for the rest.
void fetchAll(QSqlQueryModel *model)
{
    while (model->canFetchMore())
        model->fetchMore();
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(tr("%1").arg(::windowTitle()));
    setGeometry(10, 30, 1000, 640);
    setAnimated(true);

    auto *mainWidget = new QWidget(this);
    mainWidget->setObjectName(QStringLiteral("MainWidget"));
    auto *mainLayout = new QHBoxLayout(mainWidget);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    setCentralWidget(mainWidget);

    auto *leftColumn = new QVBoxLayout;
    leftColumn->setContentsMargins(0, 5, 0, 0);
    leftColumn->setSpacing(5);
    mainLayout->addLayout(leftColumn);

    auto *logoLabel = new QLabel(mainWidget);
    logoLabel->setFixedSize(250, 45);
    logoLabel->setAlignment(Qt::AlignCenter);
    logoLabel->setPixmap(QPixmap(LogoImage).scaledToHeight(45, Qt::SmoothTransformation));
    leftColumn->addWidget(logoLabel);

    auto *leftPanel = new CLeftPanel(mainWidget);
    leftPanel->setFixedWidth(250);
    leftColumn->addWidget(leftPanel);

    auto *serverButton = new CAbstractPanelButton(tr("Server authorization"),
                                                  QIcon(ConnectionFailIcon), leftPanel);
    serverButton->setPicAlign(Qt::AlignRight);
    serverButton->setIconSize(QSize(36, 36));
    serverButton->setFullView(true);
    connect(this, &MainWindow::setConnectStatusIco, serverButton, &CAbstractPanelButton::setIcon);
    leftPanel->addWidget(serverButton, 0);

    modbusButton = new CAbstractPanelButton(QStringLiteral("ModBus"), QIcon(), leftPanel);
    modbusButton->setPicAlign(Qt::AlignRight);
    modbusButton->setIconSize(QSize(36, 36));
    modbusButton->setFullView(true);
    modbusButton->setAutoExclusive(true);
    modbusButton->setChecked(true);
    leftPanel->addWidget(modbusButton, 0);

    tcpButton = new CAbstractPanelButton(QStringLiteral("TCP"), QIcon(), leftPanel);
    tcpButton->setPicAlign(Qt::AlignRight);
    tcpButton->setIconSize(QSize(36, 36));
    tcpButton->setFullView(true);
    tcpButton->setAutoExclusive(true);
    tcpButton->setChecked(false);
    leftPanel->addWidget(tcpButton, 0);

    settingsButton = new CAbstractPanelButton(QString(), QIcon(SettingsIcon), leftPanel);
    settingsButton->setIconSize(QSize(32, 32));
    connect(settingsButton, &QAbstractButton::pressed, this, &MainWindow::openGlobalSettings);
    leftPanel->addWidget(settingsButton, 0, Qt::AlignLeft | Qt::AlignBottom);

    // Server address and credentials, unfolded below the server button.
    auto *serverLayout = new QVBoxLayout;
    serverLayout->setContentsMargins(0, 0, 0, 0);
    serverLayout->setSpacing(5);

    QHBoxLayout *addressRow = tightRow();
    schemeCombo = new QComboBox;
    schemeCombo->addItems({QStringLiteral("ws"), QStringLiteral("wss")});
    addressRow->addWidget(schemeCombo);
    addressRow->addWidget(new QLabel(tr("://")));
    ipEdit = new QLineEdit;
    // The dots stay unescaped: any character separates the digit groups.
    ipEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{1,3}.[0-9]{1,3}.[0-9]{1,3}.[0-9]{1,3}")), ipEdit));
    addressRow->addWidget(ipEdit);
    addressRow->addWidget(new QLabel(tr(":")));
    portEdit = new QLineEdit;
    portEdit->setFixedWidth(50);
    portEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{5}")), portEdit));
    addressRow->addWidget(portEdit);
    serverLayout->addLayout(addressRow);

    QHBoxLayout *loginRow = tightRow();
    loginRow->addWidget(new QLabel(tr("Login:")));
    loginEdit = new QLineEdit;
    loginRow->addWidget(loginEdit);
    serverLayout->addLayout(loginRow);

    QHBoxLayout *passwordRow = tightRow();
    passwordRow->addWidget(new QLabel(tr("Password:")));
    passwordEdit = new QLineEdit;
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData
                                      | Qt::ImhNoPredictiveText);
    passwordRow->addWidget(passwordEdit);
    serverLayout->addLayout(passwordRow);

    connectionStateLabel = new QLabel(tr("Connection state..."));
    serverLayout->addWidget(connectionStateLabel);

    auto *connectButton = new QPushButton(tr("Connect"));
    connectButton->setObjectName(QStringLiteral("blueBtn"));
    connectButton->setFixedSize(75, 25);
    connect(connectButton, &QPushButton::clicked, this, &MainWindow::tryToConnectToServerSlot);
    serverLayout->addWidget(connectButton, 0, Qt::AlignCenter);
    serverButton->addLayout(serverLayout);

    pageStack = new QStackedLayout;
    pageStack->setContentsMargins(0, 0, 0, 0);
    pageStack->setSpacing(3);
    mainLayout->addLayout(pageStack, 0);
    modbusPage = new QWidget;
    tcpPage = new QWidget;
    pageStack->addWidget(modbusPage);
    pageStack->addWidget(tcpPage);
    connect(modbusButton, &QAbstractButton::clicked, this, &MainWindow::showModBusFields);
    connect(tcpButton, &QAbstractButton::clicked, this, &MainWindow::showTCPFields);

    buildModbusPage();
    buildTcpPage();
    pageStack->setCurrentIndex(0);

    if (CLogFile *log = CLogFile::instance())
        connect(log, &CLogFile::addLogSignal, this, &MainWindow::debugSlot);
    CServerHandler *link = CServerHandler::getInstance();
    connect(link, &CServerHandler::changeServerStatus, this, &MainWindow::changeServerStatusSlot,
            Qt::QueuedConnection);
    connect(this, &MainWindow::connectToServer, link, &CServerHandler::connectSlot,
            Qt::QueuedConnection);
    CAddNewDeviceForm *addForm = CAddNewDeviceForm::getInstance();
    connect(addForm, &CAbstractDeviceForm::refreshDeviceList, this, &MainWindow::refreshDevicesSlot,
            Qt::QueuedConnection);
    connect(addForm, &CAbstractDeviceForm::refreshDeviceTCPList, this,
            &MainWindow::refreshDevicesTCPSlot, Qt::QueuedConnection);
    // After an accepted TCP edit the window reloads the TCP list itself.
    connect(CEditDeviceForm::getInstance(), &CAbstractDeviceForm::refreshDeviceList, this,
            &MainWindow::refreshDevicesSlot, Qt::QueuedConnection);

    readSettings();
    tryToConnectToServerSlot();

    registerStoredDevices();

    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    connect(this, &MainWindow::disconnectDevice, registry, &CAllDeviceHandler::removeDevice,
            Qt::QueuedConnection);
    connect(registry, &CAllDeviceHandler::newDataForDevice, this, &MainWindow::newDataForDeviceSlot,
            Qt::QueuedConnection);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildModbusPage()
{
    auto *pageLayout = new QHBoxLayout(modbusPage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    auto *splitter = new QSplitter(Qt::Horizontal);
    pageLayout->addWidget(splitter);

    auto *leftPane = new QWidget;
    auto *leftLayout = new QVBoxLayout(leftPane);
    leftLayout->setContentsMargins(5, 5, 5, 5);
    leftLayout->setSpacing(5);

    auto *search = new CSearchEditWidget;
    connect(search, &CSearchEditWidget::textChangedSignal, this, &MainWindow::refreshDevicesSlot);
    leftLayout->addWidget(search);

    modbusDeviceList = new QListView;
    makeTransparent(modbusDeviceList);
    trackHover(modbusDeviceList);
    modbusDeviceList->setSpacing(1);
    modbusDeviceList->setItemDelegate(new CDeviceDelegat(this, ProtocolModbus));
    modbusDeviceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    modbusDeviceModel = new QSqlQueryModel(this);
    modbusDeviceList->setModel(modbusDeviceModel);
    connect(modbusDeviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::deviceSelectSlot);
    leftLayout->addWidget(modbusDeviceList, 50);

    QHBoxLayout *buttonRow = tightRow(5);
    modbusAddButton = addListButton(buttonRow, AddIcon, QStringLiteral("greenBtn"),
                                    tr("Add new device from server"));
    modbusEditButton = addListButton(buttonRow, EditIcon, QStringLiteral("greenBtn"),
                                     tr("Edit device parametrs"));
    modbusDeleteButton
        = addListButton(buttonRow, DeleteIcon, QStringLiteral("redBtn"), tr("Delete device"));
    buttonRow->addStretch(10);
    leftLayout->addLayout(buttonRow);
    connect(modbusAddButton, &QPushButton::clicked, this, &MainWindow::addNewItemSlot);
    connect(modbusEditButton, &QPushButton::clicked, this, &MainWindow::editItemSlot);
    connect(modbusDeleteButton, &QPushButton::clicked, this, &MainWindow::deleteItemSlot);

    auto *rightPane = new QWidget;
    auto *rightLayout = new QVBoxLayout(rightPane);
    rightLayout->setContentsMargins(5, 5, 5, 5);
    rightLayout->setSpacing(0);

    deviceTitleLabel = new QLabel(tr("Device [UNKNOWN]"));
    deviceTitleLabel->setObjectName(QStringLiteral("title2Lab"));
    rightLayout->addWidget(deviceTitleLabel, 0, Qt::AlignHCenter);

    parametersGroup = new QGroupBox(tr("ModBus-TCP parameters"));
    parametersGroup->hide();
    auto *parametersLayout = new QVBoxLayout(parametersGroup);
    parametersLayout->setContentsMargins(3, 3, 3, 3);
    parametersLayout->setSpacing(2);
    const auto addParameterRow = [parametersLayout](const QString &name, QLabel *value) {
        QHBoxLayout *row = tightRow(5);
        auto *nameLabel = new QLabel(name);
        nameLabel->setObjectName(QStringLiteral("modbusName"));
        value->setObjectName(QStringLiteral("modbusValue"));
        row->addWidget(nameLabel);
        row->addWidget(value);
        row->addStretch(20);
        parametersLayout->addLayout(row);
    };
    addParameterRow(tr("Device ID:"), new QLabel(tr("ANY VALID VALUE")));
    portValueLabel = new QLabel(tr(""));
    addParameterRow(tr("TCP port:"), portValueLabel);
    beginRegisterValueLabel = new QLabel(tr(""));
    addParameterRow(tr("Begin register:"), beginRegisterValueLabel);
    rightLayout->addWidget(parametersGroup);

    registerList = new QListView;
    makeTransparent(registerList);
    trackHover(registerList);
    registerDelegat = std::make_unique<CRegisterDelegat>();
    registerList->setItemDelegate(registerDelegat.get());
    registerList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    registerModel = new QSqlQueryModel(this);
    registerList->setModel(registerModel);
    rightLayout->addWidget(registerList, 50);

    splitter->addWidget(leftPane);
    splitter->addWidget(rightPane);
    const int width = modbusPage->width();
    splitter->setSizes({int(width * 0.4), int(width * 0.6)});
}

void MainWindow::buildTcpPage()
{
    auto *pageLayout = new QHBoxLayout(tcpPage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    auto *column = new QVBoxLayout;
    column->setContentsMargins(5, 5, 5, 5);
    column->setSpacing(5);
    pageLayout->addLayout(column);

    auto *search = new CSearchEditWidget;
    connect(search, &CSearchEditWidget::textChangedSignal, this,
            &MainWindow::refreshDevicesTCPSlot);
    column->addWidget(search);

    tcpDeviceList = new QListView;
    makeTransparent(tcpDeviceList);
    trackHover(tcpDeviceList);
    tcpDeviceList->setSpacing(1);
    tcpDeviceList->setItemDelegate(new CDeviceDelegat(this, ProtocolTCP));
    tcpDeviceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tcpDeviceModel = new QSqlQueryModel(this);
    tcpDeviceList->setModel(tcpDeviceModel);
    column->addWidget(tcpDeviceList, 50);

    QHBoxLayout *buttonRow = tightRow(5);
    tcpAddButton = addListButton(buttonRow, AddIcon, QStringLiteral("greenBtn"),
                                 tr("Add new device from server"));
    tcpEditButton = addListButton(buttonRow, EditIcon, QStringLiteral("greenBtn"),
                                  tr("Edit device parametrs"));
    tcpDeleteButton
        = addListButton(buttonRow, DeleteIcon, QStringLiteral("redBtn"), tr("Delete device"));
    buttonRow->addStretch(10);
    column->addLayout(buttonRow);
    connect(tcpAddButton, &QPushButton::clicked, this, &MainWindow::addNewTCPItemSlot);
    connect(tcpEditButton, &QPushButton::clicked, this, &MainWindow::editTCPItemSlot);
    connect(tcpDeleteButton, &QPushButton::clicked, this, &MainWindow::deleteTCPItemSlot);
}

QPushButton *MainWindow::addListButton(QLayout *row, const QString &icon, const QString &objectName,
                                       const QString &toolTip)
{
    auto *button = new QPushButton(QIcon(icon), QString());
    button->setObjectName(objectName);
    button->setFixedSize(40, 40);
    button->setIconSize(QSize(36, 36));
    button->setToolTip(toolTip);
    row->addWidget(button);
    return button;
}

QVariant MainWindow::currentCell(const QListView *list, int column)
{
    const QModelIndex current = list->currentIndex();
    return list->model()->index(current.row(), column).data();
}

void MainWindow::registerStoredDevices()
{
    using namespace DB::DeviceCol;
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();

    refreshDevicesSlot(QString());
    fetchAll(modbusDeviceModel);
    for (int row = 0; row < modbusDeviceModel->rowCount(); ++row) {
        const auto cell = [this, row](int column) {
            return modbusDeviceModel->index(row, column).data();
        };
        DB::SDeviceRegMapDescription device;
        device.devEui = cell(DevEui).toString();
        device.appEui = cell(AppEui).toString();
        device.name = cell(Name).toString();
        device.startAddr = cell(StartAddr).toInt();
        device.port = cell(Port).toInt();
        registry->addNewDevice(device, ProtocolModbus);
    }

    refreshDevicesTCPSlot(QString());
    fetchAll(tcpDeviceModel);
    for (int row = 0; row < tcpDeviceModel->rowCount(); ++row) {
        const auto cell = [this, row](int column) {
            return tcpDeviceModel->index(row, column).data();
        };
        DB::SDeviceRegMapDescription device;
        device.devEui = cell(DevEui).toString();
        device.appEui = cell(AppEui).toString();
        device.name = cell(Name).toString();
        device.startAddr = 0;
        device.port = cell(Port).toInt();
        registry->addNewDevice(device, ProtocolTCP);
    }
}

void MainWindow::debugSlot(QString text)
{
    qDebug() << text;
}

void MainWindow::readSettings()
{
    ipEdit->setText(CSettings::readValue(SettingsKey::ServerIp, QVariant()).toString());
    portEdit->setText(CSettings::readValue(SettingsKey::ServerPort, QVariant()).toString());
    loginEdit->setText(CSettings::readValue(SettingsKey::ServerLogin, QVariant()).toString());
    passwordEdit->setText(CSettings::readValue(SettingsKey::ServerPassword, QVariant()).toString());
}

void MainWindow::saveSettings()
{
    CSettings::writeValue(SettingsKey::ServerIp, ipEdit->text());
    CSettings::writeValue(SettingsKey::ServerPort, portEdit->text());
    CSettings::writeValue(SettingsKey::ServerLogin, loginEdit->text());
    CSettings::writeValue(SettingsKey::ServerPassword, passwordEdit->text());
}

void MainWindow::deviceSelectSlot(QItemSelection item1, QItemSelection item2)
{
    Q_UNUSED(item1)
    Q_UNUSED(item2)
    using namespace DB::DeviceCol;
    if (modbusDeviceModel->rowCount() < 1) {
        deviceTitleLabel->setText(tr("Device [UNKNOWN]"));
        parametersGroup->hide();
        registerModel->clear();
        return;
    }
    const SDeviceTypeInfo type = CAllDeviceHandler::getInstance()->getDeviceDescription(
        currentCell(modbusDeviceList, AppEui).toString());
    deviceTitleLabel->setText(
        tr("Device:%1 [%2]").arg(currentCell(modbusDeviceList, DevEui).toString(), type.devType));
    parametersGroup->show();
    portValueLabel->setText(QStringLiteral("%1").arg(currentCell(modbusDeviceList, Port).toUInt()));
    const QVariant startAddr = currentCell(modbusDeviceList, StartAddr);
    qDebug() << startAddr.toString() << startAddr.toUInt();
    beginRegisterValueLabel->setText(QStringLiteral("%1").arg(startAddr.toUInt()));
    refreshRegisterSlot();
}

void MainWindow::refreshRegisterSlot()
{
    const quint32 deviceId = currentCell(modbusDeviceList, DB::DeviceCol::Device).toUInt();
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage)
        return;
    registerModel->setQuery(storage->getRegisters(deviceId));
    if (registerModel->rowCount() > 0)
        registerList->setCurrentIndex(registerModel->index(0, 0));
}

void MainWindow::addNewItemSlot()
{
    CAddNewDeviceForm::getInstance()->showForm(tr("Add new ModBUS device interface"),
                                               ProtocolModbus);
}

void MainWindow::editItemSlot()
{
    using namespace DB::DeviceCol;
    CEditDeviceForm *form = CEditDeviceForm::getInstance();
    form->setOriginal(currentCell(modbusDeviceList, Device).toUInt(),
                      currentCell(modbusDeviceList, DevEui).toString(),
                      currentCell(modbusDeviceList, Name).toString(),
                      currentCell(modbusDeviceList, AppEui).toString(),
                      uint16_t(currentCell(modbusDeviceList, Port).toUInt()),
                      currentCell(modbusDeviceList, StartAddr).toUInt());
    if (form->showForm(QStringLiteral("Edit ModBUS device parameters"), ProtocolModbus)
        == QDialog::Accepted)
        refreshRegisterSlot();
}

void MainWindow::editTCPItemSlot()
{
    using namespace DB::DeviceCol;
    CEditDeviceForm *form = CEditDeviceForm::getInstance();
    form->setOriginal(
        currentCell(tcpDeviceList, Device).toUInt(), currentCell(tcpDeviceList, DevEui).toString(),
        currentCell(tcpDeviceList, Name).toString(), currentCell(tcpDeviceList, AppEui).toString(),
        uint16_t(currentCell(tcpDeviceList, Port).toUInt()));
    if (form->showForm(QStringLiteral("Edit TCP device parameters"), ProtocolTCP)
        == QDialog::Accepted)
        refreshDevicesTCPSlot(QString());
}

void MainWindow::deleteItemSlot()
{
    using namespace DB::DeviceCol;
    const uint16_t port = uint16_t(currentCell(modbusDeviceList, Port).toUInt());
    const QString devEui = currentCell(modbusDeviceList, DevEui).toString();
    const quint32 deviceId = currentCell(modbusDeviceList, Device).toUInt();
    // Storage first: a device it keeps stays listed and served.
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage || !storage->deleteDevice(deviceId, ProtocolModbus)) {
        addLog(QStringLiteral("ERROR: [MainWindow::deleteItemSlot] Device [%1] is not deleted! "
                              "It stays registered on port [%2]")
                   .arg(devEui, QString::number(port)));
        return;
    }
    emit disconnectDevice(devEui, port);
    refreshDevicesSlot(QString());
}

void MainWindow::deleteTCPItemSlot()
{
    using namespace DB::DeviceCol;
    const uint16_t port = uint16_t(currentCell(tcpDeviceList, Port).toUInt());
    const QString devEui = currentCell(tcpDeviceList, DevEui).toString();
    const quint32 deviceId = currentCell(tcpDeviceList, Device).toUInt();
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage || !storage->deleteDevice(deviceId, ProtocolTCP)) {
        addLog(QStringLiteral("ERROR: [MainWindow::deleteTCPItemSlot] Device [%1] is not deleted! "
                              "It stays registered on port [%2]")
                   .arg(devEui, QString::number(port)));
        return;
    }
    emit disconnectDevice(devEui, port);
    refreshDevicesTCPSlot(QString());
}

void MainWindow::addNewTCPItemSlot()
{
    CAddNewDeviceForm::getInstance()->showForm(tr("Add new TCP device interface"), ProtocolTCP);
}

void MainWindow::tryToConnectToServerSlot()
{
    if (ipEdit->text().isEmpty()) {
        addLog(QStringLiteral("[main] IP is empty"));
        return;
    }
    if (portEdit->text().isEmpty()) {
        addLog(QStringLiteral("[main] PORT is empty"));
        return;
    }
    if (loginEdit->text().isEmpty()) {
        addLog(QStringLiteral("[main] LOGIN is empty"));
        return;
    }
    if (passwordEdit->text().isEmpty()) {
        addLog(QStringLiteral("[main] PASSWORD is empty"));
        return;
    }
    const QString url = QStringLiteral("%1://%2:%3")
                            .arg(schemeCombo->currentText(), ipEdit->text(), portEdit->text());
    emit connectToServer(url, loginEdit->text(), passwordEdit->text());
}

void MainWindow::changeServerStatusSlot(COMM::EServerStatus _status)
{
    switch (_status) {
    case COMM::Success:
    case COMM::PingWaiting:
    case COMM::InvalidPing:
    case COMM::AuthWaiting:
    case COMM::InvalidAuth:
    case COMM::Disconnected:
        break;
    default:
        return;
    }
    connectionStateLabel->setText(COMM::serverStatusText(_status));
    const bool success = _status == COMM::Success;
    emit setConnectStatusIco(QIcon(success ? ConnectionGoodIcon : ConnectionFailIcon));
    // Credentials reach the settings file only once the server accepted them.
    if (success)
        saveSettings();
}

void MainWindow::showModBusFields(bool state)
{
    Q_UNUSED(state)
    pageStack->setCurrentIndex(0);
}

void MainWindow::showTCPFields(bool state)
{
    Q_UNUSED(state)
    pageStack->setCurrentIndex(1);
}

void MainWindow::openGlobalSettings()
{
    GlobalSettingsWindow settingsWindow;
    settingsWindow.exec();
}

void MainWindow::refreshDevicesSlot(QString _search)
{
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (storage)
        modbusDeviceModel->setQuery(storage->getDevices(_search, ProtocolModbus));
    if (modbusDeviceModel->rowCount() > 0) {
        modbusDeviceList->setCurrentIndex(modbusDeviceModel->index(0, 0));
        return;
    }
    deviceTitleLabel->setText(tr("Device [UNKNOWN]"));
    parametersGroup->hide();
    registerModel->clear();
}

void MainWindow::refreshDevicesTCPSlot(QString _search)
{
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (storage)
        tcpDeviceModel->setQuery(storage->getDevices(_search, ProtocolTCP));
    if (tcpDeviceModel->rowCount() > 0)
        tcpDeviceList->setCurrentIndex(tcpDeviceModel->index(0, 0));
}

void MainWindow::newDataForDeviceSlot(QString _devEui)
{
    // Uplinks carry the DevEUI in upper case; files written before may hold it in lower case.
    if (currentCell(modbusDeviceList, DB::DeviceCol::DevEui)
            .toString()
            .compare(_devEui, Qt::CaseInsensitive)
        == 0)
        refreshRegisterSlot();
}
