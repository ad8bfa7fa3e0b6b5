#include "CAbstractPanelButton.h"
#include "CLeftPanel.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QBoxLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTest>

namespace {
const QString activeIndicator = QStringLiteral("QWidget{background-color: #f5494d;}");
const QString idleIndicator = QStringLiteral("QWidget{background-color: rgba(0, 0, 0, 0%);}");

QIcon colourIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::blue);
    return QIcon(pixmap);
}

// The top row of a panel button: indicator, icon, title.
struct ButtonParts
{
    explicit ButtonParts(CAbstractPanelButton &button)
        : top(qobject_cast<QBoxLayout *>(button.layout()->itemAt(0)->layout()))
        , indicator(top->itemAt(0)->widget())
        , icon(button.findChild<QLabel *>(QStringLiteral("icoLab")))
        , title(button.findChild<QLabel *>(QStringLiteral("titleLable")))
        , group(button.findChild<QGroupBox *>(QStringLiteral("mainBox")))
    {
    }

    int iconIndex() const { return top->indexOf(icon); }
    int iconStretch() const { return top->stretch(iconIndex()); }

    QBoxLayout *top;
    QWidget *indicator;
    QLabel *icon;
    QLabel *title;
    QGroupBox *group;
};
} // namespace

// The left panel and its buttons: layout of the button's row, the extra group, the back colour,
// and the style-sheet backgrounds both draw.
class TestPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void iconStretch_data();
    void iconStretch();
    void picAlign();
    void titleFollowsFullView();
    void emptyExtraGroupNeverShows();
    void extraGroupFollowsState();
    void addingKeepsGroupVisibility();
    void backColor();
    void animationFadesToRest_data();
    void animationFadesToRest();
    void indicatorAndBackground_data();
    void indicatorAndBackground();

    void panelStretch();
    void panelExpandBySender();
    void panelBackground();
};

void TestPanel::initTestCase()
{
    applyApplicationStyleSheet();
}

void TestPanel::iconStretch_data()
{
    QTest::addColumn<bool>("withIcon");
    QTest::addColumn<int>("stretch");
    QTest::addRow("no icon") << false << 0;
    QTest::addRow("icon") << true << 1;
}

void TestPanel::iconStretch()
{
    QFETCH(bool, withIcon);
    QFETCH(int, stretch);
    CAbstractPanelButton button(QStringLiteral("ModBus"), withIcon ? colourIcon() : QIcon());
    ButtonParts parts(button);
    QCOMPARE(parts.iconIndex(), 1);
    QCOMPARE(parts.iconStretch(), stretch);
    QCOMPARE(parts.icon->pixmap().isNull(), !withIcon);
    if (withIcon)
        QCOMPARE(parts.icon->pixmap().size(), QSize(40, 40));
    QCOMPARE(parts.top->indexOf(parts.title), 2);
    QCOMPARE(parts.title->text(), QStringLiteral("ModBus"));
    QVERIFY(button.isCheckable());
    QVERIFY(!button.isChecked());
    QCOMPARE(button.sizeHint(), QSize(6, 6));

    button.setIcon(colourIcon());
    QCOMPARE(parts.icon->pixmap().size(), QSize(45, 45));
}

void TestPanel::picAlign()
{
    CAbstractPanelButton button(QStringLiteral("TCP"));
    ButtonParts parts(button);

    button.setProperty("sPicAlign", 2);
    QCOMPARE(button.property("sPicAlign").toInt(), 2);
    QCOMPARE(parts.iconIndex(), 2);
    QCOMPARE(parts.top->indexOf(parts.title), 1);
    QCOMPARE(parts.iconStretch(), 1);

    QTest::ignoreMessage(QtDebugMsg, "[CAbstractPanelButton::setPicAlign] Current alingn for ICO "
                                     "is not supported. Auto-apply with Qt::AlignLeft");
    button.setPicAlign(3);
    QCOMPARE(button.property("sPicAlign").toInt(), 1);
    QCOMPARE(parts.iconIndex(), 1);
    QCOMPARE(parts.top->indexOf(parts.title), 2);
    QCOMPARE(parts.top->count(), 3);

    // The same value again changes nothing and writes nothing.
    button.setPicAlign(1);
    QCOMPARE(parts.iconIndex(), 1);
}

void TestPanel::titleFollowsFullView()
{
    CAbstractPanelButton button(QStringLiteral("Server authorization"));
    ButtonParts parts(button);
    button.setChecked(true);
    button.setFullView(true);
    QVERIFY(!parts.title->isHidden());
    button.setFullView(false);
    QVERIFY(parts.title->isHidden());
    button.setChecked(false);
    button.setFullView(true);
    QVERIFY(!parts.title->isHidden());
}

void TestPanel::emptyExtraGroupNeverShows()
{
    CAbstractPanelButton button(QStringLiteral("Server authorization"));
    ButtonParts parts(button);
    button.setFullView(true);
    button.setChecked(true);
    QVERIFY(parts.group->isHidden());
    button.setExtraGroupVisible(true);
    QVERIFY(parts.group->isHidden());
    button.setFullView(true);
    QVERIFY(parts.group->isHidden());
    button.clickSlot(true);
    QVERIFY(parts.group->isHidden());
}

void TestPanel::extraGroupFollowsState()
{
    CAbstractPanelButton button(QStringLiteral("Server authorization"));
    ButtonParts parts(button);
    button.addWidget(new QLineEdit);
    QVERIFY(parts.group->isHidden());

    // Checked without full view: indicator on, group folded.
    button.setChecked(true);
    QVERIFY(parts.group->isHidden());
    QCOMPARE(parts.indicator->styleSheet(), activeIndicator);

    // Full view alone does not unfold the group unless it was asked for.
    button.setFullView(true);
    QVERIFY(parts.group->isHidden());
    button.setExtraGroupVisible(true);
    QVERIFY(!parts.group->isHidden());
    button.setFullView(false);
    QVERIFY(parts.group->isHidden());
    button.setFullView(true);
    QVERIFY(!parts.group->isHidden());

    // Toggling: unchecked hides, checked with full view shows again.
    button.setChecked(false);
    QVERIFY(parts.group->isHidden());
    QCOMPARE(parts.indicator->styleSheet(), idleIndicator);
    button.setExtraGroupVisible(false);
    button.setChecked(true);
    QVERIFY(!parts.group->isHidden());
    button.setExtraGroupVisible(false);
    QVERIFY(parts.group->isHidden());
}

void TestPanel::addingKeepsGroupVisibility()
{
    CAbstractPanelButton button(QStringLiteral("Server authorization"));
    ButtonParts parts(button);
    button.setFullView(true);
    button.addWidget(new QLabel(QStringLiteral("one")));
    button.setChecked(true);
    QVERIFY(!parts.group->isHidden());
    auto *row = new QHBoxLayout;
    row->addWidget(new QLineEdit);
    button.addLayout(row);
    QVERIFY(!parts.group->isHidden());
    QCOMPARE(parts.group->layout()->count(), 2);
    QCOMPARE(parts.group->layout()->contentsMargins(), QMargins(3, 3, 3, 3));

    button.setChecked(false);
    button.addWidget(new QLabel(QStringLiteral("two")));
    QVERIFY(parts.group->isHidden());
}

void TestPanel::backColor()
{
    CAbstractPanelButton button(QStringLiteral("ModBus"));
    button.resize(120, 40);
    button.setBackColor(QColor(255, 0, 0));
    QCOMPARE(button.property("backColor").value<QColor>(), QColor(Qt::black));
    QCOMPARE(button.styleSheet(),
             QStringLiteral("CAbstractPanelButton { background-color: rgba(255, 0, 0, 255);}"));
    QCOMPARE(argbName(renderWidget(&button).pixelColor(115, 3)), QStringLiteral("#ffff0000"));

    button.setProperty("backColor", QColor(10, 20, 30, 40));
    QCOMPARE(button.styleSheet(),
             QStringLiteral("CAbstractPanelButton { background-color: rgba(10, 20, 30, 40);}"));
}

void TestPanel::animationFadesToRest_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QColor>("start");
    QTest::addRow("success") << true << QColor(QStringLiteral("#61c68f"));
    QTest::addRow("failure") << false << QColor(QStringLiteral("#fa999c"));
}

void TestPanel::animationFadesToRest()
{
    QFETCH(bool, success);
    QFETCH(QColor, start);
    CAbstractPanelButton button(QStringLiteral("Server authorization"));
    auto *animation = button.findChild<QPropertyAnimation *>();
    QVERIFY(animation != nullptr);
    QCOMPARE(animation->propertyName(), QByteArray("backColor"));

    // A second call restarts the running animation.
    button.animationEvent(!success);
    button.animationEvent(success);
    QCOMPARE(animation->state(), QAbstractAnimation::Running);
    QCOMPARE(animation->duration(), 1000);
    QCOMPARE(animation->startValue().value<QColor>(), start);
    QCOMPARE(animation->endValue().value<QColor>(), QColor(QStringLiteral("#f3f6f9")));
    QTRY_COMPARE_WITH_TIMEOUT(animation->state(), QAbstractAnimation::Stopped, 5000);
    QCOMPARE(button.styleSheet(),
             QStringLiteral("CAbstractPanelButton { background-color: rgba(243, 246, 249, 255);}"));
}

void TestPanel::indicatorAndBackground_data()
{
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("indicatorStyle");
    QTest::addColumn<QString>("indicatorPixel");
    QTest::addColumn<QString>("backgroundPixel");
    QTest::addRow("unchecked") << false << idleIndicator << QStringLiteral("#ff171d1f")
                               << QStringLiteral("#ff171d1f");
    QTest::addRow("checked") << true << activeIndicator << QStringLiteral("#fff5494d")
                             << QStringLiteral("#ff1b241e");
}

void TestPanel::indicatorAndBackground()
{
    QFETCH(bool, checked);
    QFETCH(QString, indicatorStyle);
    QFETCH(QString, indicatorPixel);
    QFETCH(QString, backgroundPixel);
    QWidget window;
    auto *button = new CAbstractPanelButton(QStringLiteral("ModBus"), QIcon(), &window);
    button->setGeometry(0, 0, 200, 40);
    button->setChecked(checked);
    ButtonParts parts(*button);
    QCOMPARE(parts.indicator->styleSheet(), indicatorStyle);
    // Away from the pointer, so that no hover colour applies.
    window.setGeometry(400, 400, 200, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(parts.indicator->width(), 6);

    const QImage image = renderWidget(button);
    QCOMPARE(argbName(image.pixelColor(2, 20)), indicatorPixel);
    QCOMPARE(argbName(image.pixelColor(195, 3)), backgroundPixel);
}

void TestPanel::panelStretch()
{
    CLeftPanel panel;
    auto *first = new QPushButton;
    auto *second = new QPushButton;
    panel.addWidget(first, 0, Qt::Alignment());
    panel.addWidget(second, 2, Qt::AlignBottom);
    panel.addWidget(nullptr, 1, Qt::Alignment());
    auto *layout = qobject_cast<QBoxLayout *>(panel.layout());
    QCOMPARE(layout->count(), 2);
    QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(layout->spacing(), 0);
    QCOMPARE(layout->itemAt(1)->alignment(), Qt::AlignBottom);
    QCOMPARE(panel.objectName(), QStringLiteral("CLeftPanel"));

    panel.expandWidget(first);
    QCOMPARE(layout->stretch(0), 50);
    QCOMPARE(layout->stretch(1), 2);

    QPushButton stranger;
    panel.expandWidget(&stranger);
    QCOMPARE(layout->stretch(0), 50);
    QCOMPARE(layout->stretch(1), 2);
    QCOMPARE(layout->count(), 2);

    panel.unexpandAll();
    QCOMPARE(layout->stretch(0), 0);
    QCOMPARE(layout->stretch(1), 0);
}

void TestPanel::panelExpandBySender()
{
    CLeftPanel panel;
    auto *button = new QPushButton;
    panel.addWidget(button, 0, Qt::Alignment());
    connect(button, SIGNAL(clicked()), &panel, SLOT(expandWidget()));
    button->click();
    QCOMPARE(qobject_cast<QBoxLayout *>(panel.layout())->stretch(0), 50);
}

void TestPanel::panelBackground()
{
    // The rule gives only a background, so the style draws its button bevel in that colour: the
    // centre stays within a few steps of "QC_GLOB_BLACK1" (#171d1f).
    CLeftPanel panel;
    panel.resize(250, 100);
    const QColor centre = renderWidget(&panel).pixelColor(125, 50);
    QCOMPARE(centre.alpha(), 255);
    QVERIFY2(qAbs(centre.red() - 0x17) <= 16 && qAbs(centre.green() - 0x1d) <= 16
                 && qAbs(centre.blue() - 0x1f) <= 16,
             qPrintable(argbName(centre)));
}

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
