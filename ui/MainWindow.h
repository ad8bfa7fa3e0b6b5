#pragma once

#include "EServerStatus.h"

#include <QIcon>
#include <QItemSelection>
#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>

class CAbstractPanelButton;
class CRegisterDelegat;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSqlQueryModel;
class QStackedLayout;
class QVariant;

// The operator's window: the left panel with the server login and the page buttons, the Modbus
// and transparent TCP device pages with their lists, and the registers of the selected device.
// Built after every back-end singleton exists; the constructor registers the stored devices with
// the device registry, which opens their ports.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void setConnectStatusIco(QIcon);
    void connectToServer(QString _origin, QString _login, QString _password);
    void disconnectDevice(QString _devEui, uint16_t _port);

public slots:
    void debugSlot(QString);
    void readSettings();
    void saveSettings();
    void deviceSelectSlot(QItemSelection item1, QItemSelection item2);
    void refreshRegisterSlot();
    void addNewItemSlot();
    void editItemSlot();
    void editTCPItemSlot();
    void deleteItemSlot();
    void deleteTCPItemSlot();
    void addNewTCPItemSlot();
    void tryToConnectToServerSlot();
    void changeServerStatusSlot(COMM::EServerStatus _status);
    void showModBusFields(bool state);
    void showTCPFields(bool state);
    void openGlobalSettings();
    void refreshDevicesSlot(QString _search = QString());
    void refreshDevicesTCPSlot(QString _search = QString());
    void newDataForDeviceSlot(QString);

private:
    void buildModbusPage();
    void buildTcpPage();
    QPushButton *addListButton(QLayout *row, const QString &icon, const QString &objectName,
                               const QString &toolTip);
    // Cell of the list's current row; an empty value when the list has no current index.
    static QVariant currentCell(const QListView *list, int column);
    void registerStoredDevices();

    CAbstractPanelButton *modbusButton = nullptr;
    CAbstractPanelButton *tcpButton = nullptr;
    CAbstractPanelButton *settingsButton = nullptr;
    QComboBox *schemeCombo = nullptr;
    QLineEdit *ipEdit = nullptr;
    QLineEdit *portEdit = nullptr;
    QLineEdit *loginEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QLabel *connectionStateLabel = nullptr;
    QStackedLayout *pageStack = nullptr;
    QWidget *modbusPage = nullptr;
    QWidget *tcpPage = nullptr;
    QListView *modbusDeviceList = nullptr;
    QListView *tcpDeviceList = nullptr;
    QSqlQueryModel *modbusDeviceModel = nullptr;
    QSqlQueryModel *tcpDeviceModel = nullptr;
    QPushButton *modbusAddButton = nullptr;
    QPushButton *modbusEditButton = nullptr;
    QPushButton *modbusDeleteButton = nullptr;
    QPushButton *tcpAddButton = nullptr;
    QPushButton *tcpEditButton = nullptr;
    QPushButton *tcpDeleteButton = nullptr;
    QLabel *deviceTitleLabel = nullptr;
    QGroupBox *parametersGroup = nullptr;
    QLabel *portValueLabel = nullptr;
    QLabel *beginRegisterValueLabel = nullptr;
    QListView *registerList = nullptr;
    QSqlQueryModel *registerModel = nullptr;
    // The register list's delegate has no Qt parent; the window releases it.
    std::unique_ptr<CRegisterDelegat> registerDelegat;

    // Lets the widget tests reach the window's parts.
    friend class MainWindowProbe;
};
