#pragma once

#include "ProtocolOption.h"

#include <QDialog>
#include <QItemSelection>
#include <QString>
#include <QStringList>

#include <optional>

class CDeviceDelegat;
class CDeviceSearchModel;
class CSearchEditWidget;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedLayout;
class QStandardItemModel;

// Base of the add-device and edit-device dialogs: connection parameters with their warning
// markers, the device list with its name filter, the register list with its editor, the legend
// of device types and OK / Cancel. showForm adapts it to a device kind and runs it modally.
class CAbstractDeviceForm : public QDialog
{
    Q_OBJECT
public:
    ~CAbstractDeviceForm() override;

    Q_INVOKABLE int showForm(QString _title, ProtocolOption Protocol);

signals:
    void refreshDeviceList(QString _search = QString());
    void refreshDeviceTCPList(QString _search = QString());

public slots:
    virtual void deviceSearchNameSlot(QString) = 0;
    virtual void refresh() = 0;
    virtual void deviceListSelectSlot(QItemSelection item1, QItemSelection item2) = 0;
    virtual void addDeviceSlot() = 0;

protected:
    CAbstractDeviceForm();

    // showForm without running the dialog: adapts it to the kind, sets the title, refreshes.
    void prepareForm(const QString &title, ProtocolOption kind);

    // Refills typeLegendLayout with the device types of the current kind, five a row; returns
    // their AppEUIs in list order.
    QStringList rebuildTypeLegend();
    // The port typed in portEdit when it is a decimal number from 1 to 65535.
    std::optional<quint16> typedPort() const;
    // Whether a trial server can listen on the port (on every address).
    static bool isPortFree(quint16 port);
    // Stores a register editor still open in registerList into registerModel and closes it;
    // OK calls it before reading the registers.
    void commitRegisterEditor();

    QLabel *titleLabel = nullptr;
    QStackedLayout *devicesStack = nullptr;
    QLabel *statusLabel = nullptr;
    CSearchEditWidget *searchEdit = nullptr;
    QListView *deviceList = nullptr;
    QStandardItemModel *deviceModel = nullptr;
    CDeviceSearchModel *searchModel = nullptr;
    QListView *registerList = nullptr;
    QStandardItemModel *registerModel = nullptr;
    QString selectedAppEui;
    QLabel *startAddrLabel = nullptr;
    QLineEdit *portEdit = nullptr;
    QLineEdit *startAddrEdit = nullptr;
    QPushButton *portErrorButton = nullptr;
    QPushButton *startAddrErrorButton = nullptr;
    QGridLayout *typeLegendLayout = nullptr;
    QGroupBox *registersGroup = nullptr;
    ProtocolOption protocol = ProtocolModbus;
    CDeviceDelegat *modbusDeviceDelegat = nullptr;
    CDeviceDelegat *tcpDeviceDelegat = nullptr;

private:
    // Lets the widget tests read the dialog's parts.
    friend class DeviceFormProbe;
};
