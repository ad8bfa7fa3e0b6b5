#include "CAllDeviceHandler.h"
#include "CSimpleRegisterDelegat.h"
#include "DeviceFormProbe.h"
#include "LogCapture.h"
#include "TempWorkDir.h"
#include "UiTestSupport.h"

#include <QDialogButtonBox>
#include <QIntValidator>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// A concrete form that records what the base dispatches to it.
class RecordingForm : public CAbstractDeviceForm
{
    Q_OBJECT
public:
    RecordingForm() = default;

    int refreshCount = 0;
    int selectCount = 0;
    int okCount = 0;
    QStringList searches;
    bool acceptOnOk = false;
    QStringList legendAppEuis;

public slots:
    void deviceSearchNameSlot(QString _text) override { searches << _text; }
    void refresh() override
    {
        ++refreshCount;
        legendAppEuis = rebuildTypeLegend();
    }
    void deviceListSelectSlot(QItemSelection, QItemSelection) override { ++selectCount; }
    void addDeviceSlot() override
    {
        ++okCount;
        if (acceptOnOk)
            accept();
    }
};

namespace {
QByteArray templateJson(const QString &appEui, const QString &type, const QString &color)
{
    return QStringLiteral(R"JSON({"app_eui": "%1", "dev_type": "%2", "color": "%3",
        "device_packets": [{"packet_type": 1, "packet_size": 3, "packet_fields": [
            {"packet_bias": 1, "data_bit_bias": 0, "data_bit_size": 16, "data_type": "uinteger",
             "reg_map_bias": 0, "reg_bit_bias": 0, "reg_bit_size": 16, "data_name": "Level"}]}]})JSON")
        .arg(appEui, type, color)
        .toUtf8();
}

QDialogButtonBox *buttonBoxOf(QWidget *form)
{
    return form->findChild<QDialogButtonBox *>();
}

QPushButton *refreshButtonOf(QWidget *form)
{
    for (QPushButton *button : form->findChildren<QPushButton *>(QStringLiteral("blueBtn")))
        if (button->text().isEmpty())
            return button;
    return nullptr;
}
} // namespace

// The dialog the two device forms share: its parts, showForm by kind, the modal run, the legend
// and the colour scheme.
class TestDeviceFormBase : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void construction();
    void connectionFields();
    void prepareByKind();
    void modalRun();
    void dispatchToTheForm();
    void legendFollowsTheKind();
    void hoveredCardsHighlighted_data();
    void hoveredCardsHighlighted();
    void darkSchemeAtConstruction();

private:
    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<LogCapture> log;
};

void TestDeviceFormBase::initTestCase()
{
    dir = std::make_unique<TempWorkDir>();
    QVERIFY(dir->isValid());
    const QStringList colors
        = {QStringLiteral("#102030"), QStringLiteral("#203040"), QStringLiteral("#304050"),
           QStringLiteral("#405060"), QStringLiteral("#506070"), QStringLiteral("#607080")};
    for (int i = 0; i < colors.size(); ++i)
        dir->writeFile(QStringLiteral("deviceFolder/type%1.json").arg(i),
                       templateJson(QStringLiteral("a%1").arg(i, 15, 10, QLatin1Char('0')),
                                    QStringLiteral("Type %1").arg(i), colors.at(i)));
    dir->writeFile(QStringLiteral("deviceFolder/TCP.json"),
                   R"JSON({"data": [{"app_eui": "bb00000000000002", "dev_type": "Pipe B"},
                                    {"app_eui": "bb00000000000001", "dev_type": "Pipe A",
                                     "color": "#aabbcc"}]})JSON");
    log = std::make_unique<LogCapture>();
    QVERIFY(CAllDeviceHandler::getInstance());
}

void TestDeviceFormBase::construction()
{
    RecordingForm form;
    DeviceFormProbe probe(&form);
    QCOMPARE(form.windowTitle(), QStringLiteral("Add new device interface"));
    QCOMPARE(form.geometry(), QRect(30, 30, 800, 600));
    QCOMPARE(form.windowType(), Qt::Window);
    QVERIFY(!(form.windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(!form.windowIcon().isNull());
    QVERIFY(!form.parent());

    QCOMPARE(probe.titleLabel()->text(), QStringLiteral("Add new device interface"));
    QCOMPARE(probe.titleLabel()->objectName(), QStringLiteral("title1Lab"));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(probe.titleLabel()->palette().color(group, QPalette::WindowText),
                 QColor(QStringLiteral("#263034")));
    QCOMPARE(probe.statusLabel()->objectName(), QStringLiteral("title2Lab"));
    QCOMPARE(probe.page(), 0);

    QCOMPARE(probe.deviceModel()->rowCount(), 0);
    QCOMPARE(probe.deviceModel()->columnCount(), 6);
    QVERIFY(!probe.deviceModel()->parent());
    QCOMPARE(probe.registerModel()->rowCount(), 0);
    QCOMPARE(probe.registerModel()->columnCount(), 14);
    QVERIFY(!probe.registerModel()->parent());
    QCOMPARE(probe.deviceList()->model(), probe.searchModel());
    QCOMPARE(probe.searchModel()->sourceModel(), probe.deviceModel());
    QCOMPARE(probe.registerList()->model(), probe.registerModel());
    QVERIFY(probe.selectedAppEui().isEmpty());

    QCOMPARE(probe.deviceList()->itemDelegate(), probe.modbusDelegate());
    QVERIFY(probe.tcpDelegate() && probe.tcpDelegate() != probe.modbusDelegate());
    QCOMPARE(probe.deviceList()->spacing(), 1);
    QCOMPARE(probe.deviceList()->editTriggers(),
             QAbstractItemView::EditTriggers(QAbstractItemView::NoEditTriggers));
    QVERIFY(qobject_cast<CSimpleRegisterDelegat *>(probe.registerList()->itemDelegate()));
    QCOMPARE(probe.registerList()->editTriggers(),
             QAbstractItemView::EditTriggers(QAbstractItemView::DoubleClicked));

    QPushButton *refreshButton = refreshButtonOf(&form);
    QVERIFY(refreshButton);
    QCOMPARE(refreshButton->size(), QSize(30, 30));
    QCOMPARE(refreshButton->iconSize(), QSize(24, 24));
    QVERIFY(!refreshButton->icon().isNull());
    QVERIFY(!QIcon(QStringLiteral(":/refresh2Ico.png")).pixmap(24, 24).isNull());

    QDialogButtonBox *box = buttonBoxOf(&form);
    QVERIFY(box);
    QCOMPARE(box->buttons().size(), 2);
    QVERIFY(box->centerButtons());
    auto *ok = form.findChild<QPushButton *>(QStringLiteral("greenBtn"));
    auto *cancel = form.findChild<QPushButton *>(QStringLiteral("orangeBtn"));
    QVERIFY(ok && cancel);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QCOMPARE(box->buttonRole(ok), QDialogButtonBox::AcceptRole);
    QCOMPARE(box->buttonRole(cancel), QDialogButtonBox::RejectRole);
    QVERIFY(ok->isDefault());
    QCOMPARE(ok->size(), QSize(100, 35));
    QCOMPARE(cancel->size(), QSize(100, 35));
}

void TestDeviceFormBase::connectionFields()
{
    RecordingForm form;
    DeviceFormProbe probe(&form);
    const struct
    {
        QPushButton *marker;
        QString tip;
    } markers[] = {
        {probe.portMarker(), QStringLiteral("Invalid TCP port (is used or unsupported)")},
        {probe.startAddrMarker(), QStringLiteral("Empty start address")},
    };
    for (const auto &m : markers) {
        QVERIFY(m.marker->isHidden());
        QCOMPARE(m.marker->text(), QStringLiteral("!"));
        QCOMPARE(m.marker->objectName(), QStringLiteral("redBtn"));
        QCOMPARE(m.marker->toolTip(), m.tip);
        QCOMPARE(m.marker->size(), QSize(25, 25));
    }
    QCOMPARE(probe.portEdit()->size(), QSize(50, 25));
    QCOMPARE(probe.startAddrEdit()->width(), 50);
    QCOMPARE(probe.startAddrLabel()->text(), QStringLiteral("Start address for registers:"));
    for (QLineEdit *edit : {probe.portEdit(), probe.startAddrEdit()}) {
        auto *validator = qobject_cast<const QIntValidator *>(edit->validator());
        QVERIFY(validator);
        QCOMPARE(validator->bottom(), std::numeric_limits<int>::min());
        QCOMPARE(validator->top(), std::numeric_limits<int>::max());
    }
    // Clicking a marker does nothing.
    probe.portMarker()->click();
    QCOMPARE(form.okCount, 0);
}

void TestDeviceFormBase::prepareByKind()
{
    RecordingForm form;
    DeviceFormProbe probe(&form);
    probe.portEdit()->setEnabled(false);

    probe.open(ProtocolTCP, QStringLiteral("Add new TCP device interface"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Add new TCP device interface"));
    QCOMPARE(probe.protocol(), ProtocolTCP);
    QCOMPARE(form.refreshCount, 1);
    QVERIFY(probe.registersGroup()->isHidden());
    QVERIFY(probe.startAddrLabel()->isHidden());
    QVERIFY(probe.startAddrEdit()->isHidden());
    QVERIFY(probe.portEdit()->isEnabled());
    QCOMPARE(probe.deviceList()->itemDelegate(), probe.tcpDelegate());
    QCOMPARE(probe.deviceModel()->columnCount(), 5);

    probe.portEdit()->setEnabled(false);
    probe.open(ProtocolModbus, QStringLiteral("Add new ModBUS device interface"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Add new ModBUS device interface"));
    QCOMPARE(probe.protocol(), ProtocolModbus);
    QCOMPARE(form.refreshCount, 2);
    QVERIFY(!probe.registersGroup()->isHidden());
    QVERIFY(!probe.startAddrLabel()->isHidden());
    QVERIFY(!probe.startAddrEdit()->isHidden());
    QVERIFY(!probe.portEdit()->isEnabled()); // a Modbus showing leaves it as it is
    QCOMPARE(probe.deviceList()->itemDelegate(), probe.modbusDelegate());
    QCOMPARE(probe.deviceModel()->columnCount(), 6);
    form.hide();
}

void TestDeviceFormBase::modalRun()
{
    RecordingForm form;
    QPushButton *ok = form.findChild<QPushButton *>(QStringLiteral("greenBtn"));
    QPushButton *cancel = form.findChild<QPushButton *>(QStringLiteral("orangeBtn"));

    // OK reaches the form but does not close the dialog; Cancel rejects it.
    bool wasModal = false;
    QTimer::singleShot(0, &form, [&] {
        wasModal = QApplication::activeModalWidget() == &form;
        ok->click();
        QTimer::singleShot(0, &form, [&] {
            if (form.isVisible())
                cancel->click();
        });
    });
    QCOMPARE(form.showForm(QStringLiteral("first"), ProtocolModbus), int(QDialog::Rejected));
    QVERIFY(wasModal);
    QCOMPARE(form.okCount, 1);
    QCOMPARE(form.refreshCount, 1);

    // Escape rejects.
    QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Escape); });
    QCOMPARE(form.showForm(QStringLiteral("second"), ProtocolTCP), int(QDialog::Rejected));

    // The form accepts itself.
    form.acceptOnOk = true;
    QTimer::singleShot(0, &form, [&] { ok->click(); });
    QCOMPARE(form.showForm(QStringLiteral("third"), ProtocolModbus), int(QDialog::Accepted));
    QCOMPARE(form.okCount, 2);
    QVERIFY(!form.isVisible());
}

void TestDeviceFormBase::dispatchToTheForm()
{
    RecordingForm form;
    DeviceFormProbe probe(&form);

    // Only an explicit search reaches the form, not typing.
    emit probe.searchEdit()->textImmediatelyChanged(QStringLiteral("ab"));
    QVERIFY(form.searches.isEmpty());
    probe.searchEdit()->setText(QStringLiteral("abc"));
    probe.searchEdit()->textChangedSlot();
    probe.searchEdit()->clear();
    QCOMPARE(form.searches, QStringList({QStringLiteral("abc"), QString()}));

    probe.deviceModel()->insertRows(0, 2);
    probe.deviceList()->setCurrentIndex(probe.searchModel()->index(1, 0));
    QCOMPARE(form.selectCount, 1);

    refreshButtonOf(&form)->click();
    QCOMPARE(form.refreshCount, 1);
}

void TestDeviceFormBase::legendFollowsTheKind()
{
    RecordingForm form;
    DeviceFormProbe probe(&form);
    probe.open(ProtocolModbus);
    QCOMPARE(probe.legendTexts(),
             QStringList({QStringLiteral("Type 0"), QStringLiteral("Type 1"),
                          QStringLiteral("Type 2"), QStringLiteral("Type 3"),
                          QStringLiteral("Type 4"), QStringLiteral("Type 5")}));
    QCOMPARE(form.legendAppEuis.size(), 6);
    QCOMPARE(form.legendAppEuis.first(), QStringLiteral("A000000000000000"));
    // Five a row.
    QGridLayout *grid = probe.typeLegend();
    QVERIFY(grid->itemAtPosition(0, 4));
    QVERIFY(!grid->itemAtPosition(0, 5));
    auto *sixth = qobject_cast<QLabel *>(grid->itemAtPosition(1, 0)->widget());
    QVERIFY(sixth);
    QCOMPARE(sixth->text(), QStringLiteral("Type 5"));
    QCOMPARE(sixth->styleSheet(),
             QStringLiteral("QLabel {padding: 5px; background-color: #607080;}"));

    probe.open(ProtocolTCP);
    QCOMPARE(probe.legendTexts(),
             QStringList({QStringLiteral("Pipe A"), QStringLiteral("Pipe B")}));
    QCOMPARE(form.legendAppEuis,
             QStringList({QStringLiteral("BB00000000000001"), QStringLiteral("BB00000000000002")}));
    auto *pipeB = qobject_cast<QLabel *>(grid->itemAtPosition(0, 1)->widget());
    QCOMPARE(pipeB->styleSheet(),
             QStringLiteral("QLabel {padding: 5px; background-color: #94999d;}"));
    QCOMPARE(grid->count(), 2);
    // The labels of the earlier legend are gone, not only taken out of the grid.
    int typeLabels = 0;
    for (QLabel *label : form.findChildren<QLabel *>())
        typeLabels += label->text().startsWith(QStringLiteral("Type ")) ? 1 : 0;
    QCOMPARE(typeLabels, 0);
    form.hide();
}

void TestDeviceFormBase::hoveredCardsHighlighted_data()
{
    QTest::addColumn<bool>("registers");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("hovered");
    // Type 5 is #607080: divided by 1.3 at alpha 60, itself at alpha 150 under the pointer.
    QTest::addRow("devices") << false << "#3c495662"
                             << "#96607080";
    QTest::addRow("registers") << true << "#ffc4c6c9"
                               << "#ff94999d";
}

void TestDeviceFormBase::hoveredCardsHighlighted()
{
    QFETCH(bool, registers);
    QFETCH(QString, plain);
    QFETCH(QString, hovered);
    RecordingForm form;
    DeviceFormProbe probe(&form);
    probe.open(ProtocolModbus);
    probe.showListPage();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int row = 0; row < 2; ++row) {
        QStandardItemModel *devices = probe.deviceModel();
        devices->insertRow(row);
        devices->setData(devices->index(row, 1), QStringLiteral("Device %1").arg(row));
        devices->setData(devices->index(row, 2), QStringLiteral("A000000000000005"));
        QStandardItemModel *model = probe.registerModel();
        model->insertRow(row);
        model->setData(model->index(row, 6), QStringLiteral("integer"));
        model->setData(model->index(row, 10), QStringLiteral("Register %1").arg(row));
    }

    const HoverShots shots = hoverShots(registers ? probe.registerList() : probe.deviceList(), 1);
    form.hide();
    QVERIFY(shots.background.isValid());
    QCOMPARE(argbName(shots.plain), argbName(composed(shots.background, QColor(plain))));
    QCOMPARE(argbName(shots.hovered), argbName(composed(shots.background, QColor(hovered))));
    QCOMPARE(argbName(shots.left), argbName(shots.plain));
}

void TestDeviceFormBase::darkSchemeAtConstruction()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    QSKIP("The colour scheme comes from the platform on this Qt version");
#else
    const QPalette original = QApplication::palette();

    QPalette light = original;
    light.setColor(QPalette::Window, QColor(0xf0, 0xf0, 0xf0));
    light.setColor(QPalette::WindowText, Qt::black);
    light.setColor(QPalette::Base, QColor(0xee, 0xee, 0xee));
    QApplication::setPalette(light);
    {
        RecordingForm form;
        DeviceFormProbe probe(&form);
        QCOMPARE(probe.deviceList()->palette().color(QPalette::Base), QColor(0xee, 0xee, 0xee));
        QCOMPARE(probe.titleLabel()->palette().color(QPalette::WindowText),
                 QColor(QStringLiteral("#263034")));
    }

    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
    dark.setColor(QPalette::Base, QColor(0x30, 0x30, 0x30));
    QApplication::setPalette(dark);
    RecordingForm form;
    DeviceFormProbe probe(&form);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QCOMPARE(probe.deviceList()->palette().color(group, QPalette::Base), QColor(Qt::white));
        QCOMPARE(probe.titleLabel()->palette().color(group, QPalette::WindowText),
                 QColor(Qt::white));
    }
    probe.open(ProtocolModbus);
    const QImage shot = probe.deviceList()->viewport()->grab().toImage();
    QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() / 2), QColor(Qt::white));

    // A later change of the scheme changes nothing.
    QApplication::setPalette(light);
    QCOMPARE(probe.deviceList()->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(probe.titleLabel()->palette().color(QPalette::WindowText), QColor(Qt::white));
    form.hide();
    QApplication::setPalette(original);
#endif
}

QTEST_MAIN(TestDeviceFormBase)
#include "tst_deviceformbase.moc"
