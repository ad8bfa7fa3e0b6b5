#include "CAddNewDeviceForm.h"

#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CDeviceSearchModel.h"
#include "CLogFile.h"
#include "CServerHandler.h"
#include "DbRecords.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStackedLayout>
#include <QStandardItemModel>

namespace {
constexpr int StatusPage = 0;
constexpr int ListPage = 1;
constexpr int MaxStartAddress = 65535;

void appendRegisterRow(QStandardItemModel *model, const DB::SRegisterDescription &reg)
{
    using namespace DB::DevDataCol;
    const int row = model->rowCount();
    model->insertRow(row);
    model->setData(model->index(row, Name), reg.name, Qt::EditRole);
    model->setData(model->index(row, Source), reg.source, Qt::EditRole);
    model->setData(model->index(row, RegAddr), reg.regOffset, Qt::EditRole);
    model->setData(model->index(row, BitSize), reg.bitSize, Qt::EditRole);
    model->setData(model->index(row, StartValue), reg.extraValue, Qt::EditRole);
    model->setData(model->index(row, GratingPeriod), reg.multiplier, Qt::EditRole);
    model->setData(model->index(row, DataType), reg.dataType, Qt::EditRole);
}

DB::SRegisterDescription registerOfRow(const QStandardItemModel *model, int row)
{
    using namespace DB::DevDataCol;
    const auto cell = [model, row](int column) {
        return model->index(row, column).data();
    };
    DB::SRegisterDescription reg;
    reg.name = cell(Name).toString();
    reg.source = cell(Source).toUInt();
    reg.regOffset = cell(RegAddr).toUInt();
    reg.bitSize = cell(BitSize).toUInt();
    reg.dataType = cell(DataType).toString();
    reg.extraValue = cell(StartValue).toDouble();
    reg.multiplier = cell(GratingPeriod).toDouble();
    reg.units = cell(Unit).toString();
    return reg;
}
} // namespace

CAddNewDeviceForm *CAddNewDeviceForm::self = nullptr;

CAddNewDeviceForm *CAddNewDeviceForm::getInstance()
{
    if (!self)
        self = new CAddNewDeviceForm();
    return self;
}

CAddNewDeviceForm::CAddNewDeviceForm() = default;

CAddNewDeviceForm::~CAddNewDeviceForm() = default;

void CAddNewDeviceForm::showStatus(const QString &text)
{
    statusLabel->setText(text);
    devicesStack->setCurrentIndex(StatusPage);
}

void CAddNewDeviceForm::deviceSearchNameSlot(QString _text)
{
    searchModel->setSearchValue(_text);
}

void CAddNewDeviceForm::refresh()
{
    portErrorButton->hide();
    startAddrErrorButton->hide();
    portEdit->clear();
    startAddrEdit->clear();

    const QStringList appEuis = rebuildTypeLegend();

    if (protocol == ProtocolModbus) {
        registerModel->removeRows(0, registerModel->rowCount());
        selectedAppEui.clear();
    }
    // Only the answer to this showing may offer devices.
    deviceModel->removeRows(0, deviceModel->rowCount());

    devicesStack->setCurrentIndex(StatusPage);
    if (CServerHandler::getInstance()->getDevicesList(appEuis))
        statusLabel->setText(QStringLiteral("WAITING..."));
    else
        statusLabel->setText(QStringLiteral("EMPTY LIST OF\nKNOWN DEVICE TYPES"));
}

void CAddNewDeviceForm::getDevicesListRespSlot(bool status,
                                               QList<API::SServerDeviceInfo> _regInfoList)
{
    qDebug() << "device list received" << _regInfoList.size();
    if (!status) {
        showStatus(QStringLiteral("SERVER TIMEOUT"));
        return;
    }
    if (_regInfoList.isEmpty()) {
        showStatus(QStringLiteral("EMPTY DEVICE LIST\nFROM SERVER"));
        return;
    }

    // A further answer (to a request of an earlier showing, or one repeated) keeps the device the
    // operator has chosen meanwhile.
    QString chosen;
    if (devicesStack->currentIndex() == ListPage && deviceList->currentIndex().isValid())
        chosen = searchModel->index(deviceList->currentIndex().row(), DB::DeviceCol::DevEui)
                     .data()
                     .toString();

    const QStringList registered = CDataBaseHandler::getInstance()->getRegisteredDevices(protocol);
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    // The selection goes with the rows: the registers (and the scaling the operator typed) stay
    // until a device of another type is chosen below.
    rebuildingList = true;
    deviceModel->removeRows(0, deviceModel->rowCount());
    for (const API::SServerDeviceInfo &info : _regInfoList) {
        if (registered.contains(info.devEui, Qt::CaseInsensitive))
            continue;
        const bool known = protocol == ProtocolTCP ? registry->isTCPTemplateExist(info.appEui)
                                                   : registry->isDeviceTemplateExist(info.appEui);
        if (!known)
            continue;
        const int row = deviceModel->rowCount();
        deviceModel->insertRow(row);
        deviceModel->setData(deviceModel->index(row, DB::DeviceCol::DevEui), info.devEui,
                             Qt::EditRole);
        deviceModel->setData(deviceModel->index(row, DB::DeviceCol::Name), info.devName,
                             Qt::EditRole);
        deviceModel->setData(deviceModel->index(row, DB::DeviceCol::AppEui), info.appEui,
                             Qt::EditRole);
        qDebug() << info.devEui << info.devName << info.appEui;
    }
    rebuildingList = false;

    if (deviceModel->rowCount() == 0) {
        showStatus(QStringLiteral("NOT NEW DEVICES\nALL DEVICES ALREADY REGISTERED"));
        return;
    }
    devicesStack->setCurrentIndex(ListPage);
    int current = 0;
    for (int row = 0; !chosen.isEmpty() && row < searchModel->rowCount(); ++row) {
        if (searchModel->index(row, DB::DeviceCol::DevEui).data().toString() == chosen) {
            current = row;
            break;
        }
    }
    deviceList->setCurrentIndex(searchModel->index(current, 0));
}

void CAddNewDeviceForm::deviceListSelectSlot(QItemSelection item1, QItemSelection item2)
{
    Q_UNUSED(item1)
    Q_UNUSED(item2)
    if (rebuildingList)
        return;
    const QModelIndex current = deviceList->currentIndex();
    const QString appEui
        = current.isValid()
              ? searchModel->index(current.row(), DB::DeviceCol::AppEui).data().toString()
              : QString();
    if (appEui == selectedAppEui)
        return;

    selectedAppEui = appEui;
    registerModel->removeRows(0, registerModel->rowCount());
    const STemplateRegMap regMap = CAllDeviceHandler::getInstance()->getTemplateRegMap(appEui);
    for (const DB::SRegisterDescription &reg : regMap.registers)
        appendRegisterRow(registerModel, reg);
}

void CAddNewDeviceForm::addDeviceSlot()
{
    commitRegisterEditor();
    const bool portEmpty = portEdit->text().isEmpty();
    portErrorButton->setVisible(portEmpty);
    if (protocol == ProtocolModbus) {
        if (startAddrEdit->text().isEmpty()) {
            startAddrErrorButton->show();
            return;
        }
        startAddrErrorButton->hide();
    }
    if (portEmpty)
        return;

    // Ports outside 1..65535 and negative or too large start addresses would be stored as typed
    // but served elsewhere, so they are refused like port 0.
    const std::optional<quint16> port = typedPort();
    const int start = startAddrEdit->text().toInt();
    if (!port) {
        portErrorButton->show();
        return;
    }
    if (protocol == ProtocolModbus && (start < 0 || start > MaxStartAddress)) {
        startAddrErrorButton->show();
        return;
    }

    // A server of the gateway holds its port also while it waits to listen there (another
    // program held it). A Modbus device may join a Modbus server; nothing else shares a port.
    const std::optional<ProtocolOption> holder
        = CAllDeviceHandler::getInstance()->getPortProtocol(*port);
    const bool joins = protocol == ProtocolModbus && holder == ProtocolModbus;
    if (holder ? !joins : !isPortFree(*port)) {
        portErrorButton->show();
        return;
    }
    portErrorButton->hide();

    // A device is chosen only on the list page, from the list this showing's answer brought.
    const QModelIndex current = deviceList->currentIndex();
    if (devicesStack->currentIndex() != ListPage || !current.isValid())
        return;

    DB::SDeviceRegMapDescription devInfo;
    devInfo.devEui = searchModel->index(current.row(), DB::DeviceCol::DevEui).data().toString();
    devInfo.name = searchModel->index(current.row(), DB::DeviceCol::Name).data().toString();
    devInfo.appEui = selectedAppEui;
    devInfo.startAddr = start;
    devInfo.port = *port;
    for (int row = 0; row < registerModel->rowCount(); ++row)
        devInfo.registers.append(registerOfRow(registerModel, row));

    if (!CDataBaseHandler::getInstance()->registerNewDevice(devInfo, protocol)) {
        addLog(QStringLiteral("ERROR: [CAddNewDeviceForm::addDeviceSlot] device is not created!"));
        QMessageBox box;
        box.setText(QStringLiteral("Add new device status"));
        box.setIcon(QMessageBox::Critical);
        box.setInformativeText(
            QStringLiteral("Device is not added! See LOG-file for more details"));
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        return;
    }

    // The registry gets the DevEUI as stored, so that a later removal names the same device.
    DB::SDeviceRegMapDescription served = devInfo;
    served.devEui = devInfo.devEui.toUpper();
    CAllDeviceHandler::getInstance()->addNewDevice(served, protocol);
    addLog(QStringLiteral("INFO: [CAddNewDeviceForm::addDeviceSlot] device created successfully"));
    accept();
    if (!QMetaObject::invokeMethod(CServerHandler::getInstance(), "getDeviceLastPackets",
                                   Qt::QueuedConnection, Q_ARG(QString, devInfo.devEui)))
        addLog(QStringLiteral("ERROR[%1-%2]: invalid invokeMethod creation!")
                   .arg(QLatin1String(Q_FUNC_INFO), QString::number(__LINE__)),
               CLogFile::LogError);
    if (protocol == ProtocolModbus)
        emit refreshDeviceList(QString());
    else if (protocol == ProtocolTCP)
        emit refreshDeviceTCPList(QString());
}
