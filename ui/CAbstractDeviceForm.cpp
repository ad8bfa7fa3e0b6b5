#include "CAbstractDeviceForm.h"

#include "CAllDeviceHandler.h"
#include "CDeviceDelegat.h"
#include "CDeviceSearchModel.h"
#include "CSearchEditWidget.h"
#include "CSimpleRegisterDelegat.h"
#include "ColorScheme.h"
#include "HoverTracking.h"
#include "Palette.h"
#include "SharedConstants.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QIntValidator>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStackedLayout>
#include <QStandardItemModel>
#include <QTcpServer>
#include <QVBoxLayout>

namespace {
constexpr int DeviceColumnCount = 6;
constexpr int TcpDeviceColumnCount = 5;
constexpr int RegisterColumnCount = 14;
constexpr int LegendColumns = 5;

void setBrushForAllGroups(QWidget *widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setBrush(QPalette::All, role, QBrush(color, Qt::SolidPattern));
    widget->setPalette(palette);
}

QPushButton *makeMarker(QWidget *parent, const QString &toolTip)
{
    auto *marker = new QPushButton(QStringLiteral("!"), parent);
    marker->setObjectName(QStringLiteral("redBtn"));
    marker->setToolTip(toolTip);
    marker->setFixedSize(25, 25);
    marker->hide();
    return marker;
}
} // namespace

CAbstractDeviceForm::CAbstractDeviceForm() : QDialog(nullptr)
{
    setWindowTitle(QStringLiteral("Add new device interface"));
    setGeometry(30, 30, 800, 600);
    setWindowFlags(Qt::Window);
    setWindowIcon(QIcon(FileNames::WindowIcon));

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(5, 5, 5, 5);
    mainLayout->setSpacing(5);

    titleLabel = new QLabel(tr("Add new device interface"), this);
    titleLabel->setObjectName(QStringLiteral("title1Lab"));
    setBrushForAllGroups(titleLabel, QPalette::WindowText, QC_GLOB_BLACK1_L0);
    mainLayout->addWidget(titleLabel, 0, Qt::AlignHCenter);

    auto *connectionGroup = new QGroupBox(tr("Connection parameters"), this);
    auto *connectionLayout = new QHBoxLayout(connectionGroup);
    connectionLayout->setContentsMargins(5, 5, 5, 5);
    connectionLayout->addWidget(new QLabel(tr("TCP port for device:"), connectionGroup), 1,
                                Qt::AlignLeft);
    portEdit = new QLineEdit(connectionGroup);
    portEdit->setFixedSize(50, 25);
    portEdit->setValidator(new QIntValidator(portEdit));
    connectionLayout->addWidget(portEdit);
    portErrorButton = makeMarker(connectionGroup, tr("Invalid TCP port (is used or unsupported)"));
    connectionLayout->addWidget(portErrorButton);
    connectionLayout->addStretch(3);
    startAddrLabel = new QLabel(tr("Start address for registers:"), connectionGroup);
    connectionLayout->addWidget(startAddrLabel, 1, Qt::AlignRight);
    startAddrEdit = new QLineEdit(connectionGroup);
    startAddrEdit->setFixedWidth(50);
    startAddrEdit->setValidator(new QIntValidator(startAddrEdit));
    connectionLayout->addWidget(startAddrEdit);
    startAddrErrorButton = makeMarker(connectionGroup, tr("Empty start address"));
    connectionLayout->addWidget(startAddrErrorButton);
    connectionLayout->addStretch(1);
    mainLayout->addWidget(connectionGroup, 0);

    auto *listsLayout = new QHBoxLayout();
    listsLayout->setContentsMargins(0, 0, 0, 0);
    listsLayout->setSpacing(5);
    mainLayout->addLayout(listsLayout, 0);

    auto *devicesGroup = new QGroupBox(tr("Accessible devices"), this);
    devicesStack = new QStackedLayout(devicesGroup);
    statusLabel = new QLabel(devicesGroup);
    statusLabel->setObjectName(QStringLiteral("title2Lab"));
    statusLabel->setAlignment(Qt::AlignCenter);
    devicesStack->addWidget(statusLabel);
    devicesStack->setAlignment(statusLabel, Qt::AlignCenter);
    auto *listPage = new QWidget(devicesGroup);
    auto *listPageLayout = new QVBoxLayout(listPage);
    listPageLayout->setContentsMargins(5, 5, 5, 5);
    listPageLayout->setSpacing(5);
    searchEdit = new CSearchEditWidget(listPage);
    listPageLayout->addWidget(searchEdit, 0);
    deviceList = new QListView(listPage);
    listPageLayout->addWidget(deviceList, 50);
    devicesStack->addWidget(listPage);
    listsLayout->addWidget(devicesGroup, 2);

    registersGroup = new QGroupBox(tr("Device's registers"), this);
    auto *registersLayout = new QVBoxLayout(registersGroup);
    registersLayout->setContentsMargins(5, 5, 5, 5);
    registersLayout->setSpacing(5);
    registerList = new QListView(registersGroup);
    registersLayout->addWidget(registerList, 50);
    listsLayout->addWidget(registersGroup, 3);

    connect(searchEdit, &CSearchEditWidget::textChangedSignal, this,
            &CAbstractDeviceForm::deviceSearchNameSlot);

    modbusDeviceDelegat = new CDeviceDelegat(this, ProtocolModbus);
    tcpDeviceDelegat = new CDeviceDelegat(this, ProtocolTCP);

    if (isDarkColorScheme()) {
        setBrushForAllGroups(deviceList, QPalette::Base, Qt::white);
        setBrushForAllGroups(titleLabel, QPalette::WindowText, Qt::white);
    }

    trackHover(deviceList);
    deviceList->setSpacing(1);
    deviceList->setItemDelegate(modbusDeviceDelegat);
    deviceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    deviceModel = new QStandardItemModel(0, DeviceColumnCount);
    searchModel = new CDeviceSearchModel(this);
    searchModel->setSourceModel(deviceModel);
    deviceList->setModel(searchModel);
    connect(deviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CAbstractDeviceForm::deviceListSelectSlot);

    trackHover(registerList);
    registerList->setItemDelegate(new CSimpleRegisterDelegat(this));
    registerList->setEditTriggers(QAbstractItemView::DoubleClicked);
    registerModel = new QStandardItemModel(0, RegisterColumnCount);
    registerList->setModel(registerModel);

    auto *legendGroup = new QGroupBox(tr("Registered device type"), this);
    auto *legendLayout = new QHBoxLayout(legendGroup);
    legendLayout->setContentsMargins(5, 5, 5, 5);
    legendLayout->setSpacing(5);
    typeLegendLayout = new QGridLayout();
    typeLegendLayout->setContentsMargins(0, 0, 0, 0);
    typeLegendLayout->setSpacing(5);
    legendLayout->addLayout(typeLegendLayout);
    auto *refreshButton
        = new QPushButton(QIcon(QStringLiteral(":/refresh2Ico.png")), QString(), legendGroup);
    refreshButton->setObjectName(QStringLiteral("blueBtn"));
    refreshButton->setFixedSize(30, 30);
    refreshButton->setIconSize(QSize(24, 24));
    legendLayout->addWidget(refreshButton, 0, Qt::AlignRight | Qt::AlignVCenter);
    connect(refreshButton, &QPushButton::clicked, this, &CAbstractDeviceForm::refresh);
    mainLayout->addWidget(legendGroup, 0);

    auto *okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("greenBtn"));
    okButton->setDefault(true);
    okButton->setFixedSize(100, 35);
    auto *cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("orangeBtn"));
    cancelButton->setFixedSize(100, 35);
    auto *buttonBox = new QDialogButtonBox(Qt::Horizontal, this);
    buttonBox->setCenterButtons(true);
    buttonBox->addButton(okButton, QDialogButtonBox::AcceptRole);
    buttonBox->addButton(cancelButton, QDialogButtonBox::RejectRole);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &CAbstractDeviceForm::addDeviceSlot);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    mainLayout->addWidget(buttonBox, 0);
}

CAbstractDeviceForm::~CAbstractDeviceForm()
{
    // The models have no parent; the views notice their destruction.
    delete registerModel;
    delete deviceModel;
}

int CAbstractDeviceForm::showForm(QString _title, ProtocolOption Protocol)
{
    prepareForm(_title, Protocol);
    return exec();
}

void CAbstractDeviceForm::prepareForm(const QString &title, ProtocolOption kind)
{
    switch (kind) {
    case ProtocolModbus:
        startAddrEdit->show();
        startAddrLabel->show();
        registersGroup->show();
        deviceList->setItemDelegate(modbusDeviceDelegat);
        deviceModel->setColumnCount(DeviceColumnCount);
        break;
    case ProtocolTCP:
        registersGroup->hide();
        startAddrLabel->hide();
        startAddrEdit->hide();
        portEdit->setEnabled(true);
        deviceList->setItemDelegate(tcpDeviceDelegat);
        deviceModel->setColumnCount(TcpDeviceColumnCount);
        break;
    }
    protocol = kind;
    setWindowTitle(title);
    refresh();
}

QStringList CAbstractDeviceForm::rebuildTypeLegend()
{
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    QList<SDeviceTypeInfo> types;
    if (protocol == ProtocolModbus)
        types = registry->getDeviceTypeList();
    else if (protocol == ProtocolTCP)
        types = registry->getTCPDeviceTypeList();

    for (int i = typeLegendLayout->count() - 1; i >= 0; --i) {
        QLayoutItem *item = typeLegendLayout->takeAt(i);
        delete item->widget();
        delete item;
    }

    QStringList appEuis;
    int row = 0;
    int column = 0;
    for (const SDeviceTypeInfo &type : types) {
        appEuis.append(type.appEui);
        auto *label = new QLabel(type.devType);
        label->setStyleSheet(
            QStringLiteral("QLabel {padding: 5px; background-color: %1;}").arg(type.color.name()));
        typeLegendLayout->addWidget(label, row, column);
        if (++column == LegendColumns) {
            column = 0;
            ++row;
        }
    }
    return appEuis;
}

std::optional<quint16> CAbstractDeviceForm::typedPort() const
{
    bool ok = false;
    const int port = portEdit->text().toInt(&ok, 10);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

void CAbstractDeviceForm::commitRegisterEditor()
{
    auto *delegate = qobject_cast<CSimpleRegisterDelegat *>(registerList->itemDelegate());
    if (delegate == nullptr)
        return;
    for (int row = 0; row < registerModel->rowCount(); ++row) {
        const QModelIndex index = registerModel->index(row, registerList->modelColumn());
        if (QWidget *editor = registerList->indexWidget(index))
            delegate->commitAndCloseEditor(editor);
    }
}

bool CAbstractDeviceForm::isPortFree(quint16 port)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, port))
        return false;
    probe.close();
    return true;
}
