#include "CEditDeviceForm.h"

#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CLogFile.h"
#include "DbRecords.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QStackedLayout>
#include <QStandardItemModel>

namespace {
constexpr uint32_t NoStartAddress = 0xFFFFFFFF;
constexpr int ListPage = 1;
constexpr int DeviceColumnCount = 6;
} // namespace

CEditDeviceForm *CEditDeviceForm::self = nullptr;

CEditDeviceForm *CEditDeviceForm::getInstance()
{
    if (!self)
        self = new CEditDeviceForm();
    return self;
}

CEditDeviceForm::CEditDeviceForm()
{
    titleLabel->setText(tr("Edit device's parameters interface"));

    // The single device is shown without the name filter.
    QItemSelectionModel *filteredSelection = deviceList->selectionModel();
    filteredSelection->disconnect();
    deviceList->setModel(deviceModel);
    delete filteredSelection;
    connect(deviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CAbstractDeviceForm::deviceListSelectSlot);

    portEdit->setEnabled(false);
    startAddrEdit->setEnabled(false);
    devicesStack->setCurrentIndex(ListPage);
}

CEditDeviceForm::~CEditDeviceForm() = default;

void CEditDeviceForm::setOriginal(uint32_t _deviceId, QString _devEui, QString _devName,
                                  QString _appEui, uint16_t _port, uint32_t _startAddr)
{
    using namespace DB::DeviceCol;
    deviceModel->removeRows(0, deviceModel->rowCount());
    // A TCP showing leaves five columns; a start address needs the sixth.
    if (_startAddr < NoStartAddress && deviceModel->columnCount() < DeviceColumnCount)
        deviceModel->setColumnCount(DeviceColumnCount);
    deviceModel->insertRow(0);
    deviceModel->setData(deviceModel->index(0, Device), _deviceId, Qt::EditRole);
    deviceModel->setData(deviceModel->index(0, DevEui), _devEui, Qt::EditRole);
    deviceModel->setData(deviceModel->index(0, Name), _devName, Qt::EditRole);
    deviceModel->setData(deviceModel->index(0, AppEui), _appEui, Qt::EditRole);
    deviceModel->setData(deviceModel->index(0, Port), _port, Qt::EditRole);
    if (_startAddr < NoStartAddress)
        deviceModel->setData(deviceModel->index(0, StartAddr), _startAddr, Qt::EditRole);

    deviceList->setCurrentIndex(deviceModel->index(0, 0));

    portEdit->setText(QString::number(_port));
    if (_startAddr < NoStartAddress)
        startAddrEdit->setText(QString::number(_startAddr));
}

void CEditDeviceForm::deviceSearchNameSlot(QString _text)
{
    Q_UNUSED(_text)
}

void CEditDeviceForm::refresh()
{
    portErrorButton->hide();
    startAddrErrorButton->hide();
    rebuildTypeLegend();
}

void CEditDeviceForm::deviceListSelectSlot(QItemSelection item1, QItemSelection item2)
{
    Q_UNUSED(item1)
    Q_UNUSED(item2)
    registerModel->removeRows(0, registerModel->rowCount());
    if (deviceModel->rowCount() == 0)
        return;

    using namespace DB::DevDataCol;
    const QVariant deviceId = deviceModel->index(0, DB::DeviceCol::Device).data();
    const QVariant port = deviceModel->index(0, DB::DeviceCol::Port).data();
    QSqlQuery query = CDataBaseHandler::getInstance()->getRegisters(deviceId.toUInt());
    while (query.next()) {
        const int row = registerModel->rowCount();
        registerModel->insertRow(row);
        const auto set = [this, row](int column, const QVariant &value) {
            registerModel->setData(registerModel->index(row, column), value, Qt::EditRole);
        };
        set(Device, deviceId);
        set(Port, port);
        for (const int column : {RegAddr, StartValue, GratingPeriod, DataType, Name, Source, Unit})
            set(column, query.value(column));
    }
}

void CEditDeviceForm::reportFailure(const QString &logText)
{
    addLog(logText);
    QMessageBox box;
    box.setText(tr("Edit device status"));
    box.setIcon(QMessageBox::Critical);
    box.setInformativeText(tr("Device is not changed! See LOG-file for more details"));
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void CEditDeviceForm::addDeviceSlot()
{
    commitRegisterEditor();
    const quint32 deviceId = deviceModel->index(0, DB::DeviceCol::Device).data().toUInt();
    const quint16 oldPort
        = static_cast<quint16>(deviceModel->index(0, DB::DeviceCol::Port).data().toUInt());
    DB::SRegInfoUpdate update;
    update.deviceId = deviceId;
    update.port = oldPort;

    if (protocol == ProtocolTCP) {
        const std::optional<quint16> newPort = typedPort();
        if (!newPort) {
            portErrorButton->show();
            return;
        }
        portErrorButton->hide();
        // Also the device's own, unchanged port is held: by its own server. A server of the
        // gateway holds its port also while it waits to listen there.
        if (CAllDeviceHandler::getInstance()->getPortProtocol(*newPort) || !isPortFree(*newPort)) {
            portErrorButton->show();
            return;
        }
        portErrorButton->hide();

        update.port = *newPort;
        if (!CDataBaseHandler::getInstance()->updateTCPRegInfo(update)) {
            reportFailure(QStringLiteral(
                "ERROR: [CEditDeviceForm::updateDeviceSlot] device's port is not updated!"));
            return;
        }
        DB::SDeviceRegMapDescription moved;
        moved.devEui = deviceModel->index(0, DB::DeviceCol::DevEui).data().toString();
        moved.port = *newPort;
        moved.startAddr = 0;
        if (!CAllDeviceHandler::getInstance()->updatePortRegisteredDevice(moved, oldPort)) {
            // Storage goes back to the port the device is still served on.
            update.port = oldPort;
            if (!CDataBaseHandler::getInstance()->updateTCPRegInfo(update)) {
                // Served on the old port now, on the stored one after the next start.
                addLog(QStringLiteral("ERROR: [CEditDeviceForm::updateDeviceSlot] device's old "
                                      "port %1 is not stored again: port %2 stays stored.")
                           .arg(oldPort)
                           .arg(*newPort));
            }
            reportFailure(
                QStringLiteral("ERROR: [CEditDeviceForm::updateDeviceSlot] device's server is not "
                               "moved to the new port!"));
            return;
        }
    } else if (protocol == ProtocolModbus) {
        using namespace DB::DevDataCol;
        for (int row = 0; row < registerModel->rowCount(); ++row) {
            DB::SRegisterParam param;
            param.regAddr = registerModel->index(row, RegAddr).data().toUInt();
            param.extraValue = registerModel->index(row, StartValue).data().toDouble();
            param.multiplier = registerModel->index(row, GratingPeriod).data().toDouble();
            param.units = registerModel->index(row, Unit).data().toString();
            update.registers.append(param);
        }
        if (!CDataBaseHandler::getInstance()->updateRegInfo(update)) {
            reportFailure(QStringLiteral(
                "ERROR: [CEditDeviceForm::updateDeviceSlot] device's register update failed!"));
            return;
        }
    }

    addLog(QStringLiteral(
        "INFO: [CEditDeviceForm::updateDeviceSlot] device's register update successfully"));
    accept();
    if (protocol == ProtocolModbus)
        emit refreshDeviceList(QString());
    else if (protocol == ProtocolTCP)
        emit refreshDeviceTCPList(QString());
}
