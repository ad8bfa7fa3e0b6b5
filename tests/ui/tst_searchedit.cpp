#include "CSearchEditWidget.h"
#include "UiTestSupport.h"

#include <QBoxLayout>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
enum Event {
    TypeAb,
    Backspace,
    SearchButton,
    ReturnKey,
    EnterKey,
    ClearButton,
    ClearSlot,
    TextClearSlot,
    SetTextXy,
    SetTextSame,
};

QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result.append(arguments.at(0).toString());
    return result;
}
} // namespace
Q_DECLARE_METATYPE(Event)

// The search line: which of its two signals each event fires, and its parts.
class TestSearchEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void events_data();
    void events();
    void clearEmptiesBeforeSignalling();
    void parts();
    void background();
};

void TestSearchEdit::initTestCase()
{
    applyApplicationStyleSheet();
}

void TestSearchEdit::events_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<Event>("event");
    QTest::addColumn<QStringList>("immediate");
    QTest::addColumn<QStringList>("search");

    const QStringList none;
    const QStringList empty{QString()};
    QTest::addRow("typing") << QString() << TypeAb << QStringList{"a", "ab"} << none;
    QTest::addRow("deleting") << QStringLiteral("abc") << Backspace << QStringList{"ab"} << none;
    QTest::addRow("search button")
        << QStringLiteral("abc") << SearchButton << none << QStringList{"abc"};
    QTest::addRow("search button, empty") << QString() << SearchButton << none << empty;
    QTest::addRow("return") << QStringLiteral("abc") << ReturnKey << none << QStringList{"abc"};
    QTest::addRow("return, empty") << QString() << ReturnKey << none << empty;
    QTest::addRow("enter") << QStringLiteral("abc") << EnterKey << none << QStringList{"abc"};
    QTest::addRow("clear button") << QStringLiteral("abc") << ClearButton << empty << empty;
    QTest::addRow("clear button, empty") << QString() << ClearButton << none << empty;
    QTest::addRow("clear()") << QStringLiteral("abc") << ClearSlot << empty << empty;
    QTest::addRow("clear(), empty") << QString() << ClearSlot << none << empty;
    QTest::addRow("textClearSlot()") << QStringLiteral("abc") << TextClearSlot << empty << empty;
    QTest::addRow("setText new") << QStringLiteral("abc") << SetTextXy << QStringList{"xy"} << none;
    QTest::addRow("setText same") << QStringLiteral("abc") << SetTextSame << none << none;
}

void TestSearchEdit::events()
{
    QFETCH(QString, initial);
    QFETCH(Event, event);
    QFETCH(QStringList, immediate);
    QFETCH(QStringList, search);

    CSearchEditWidget widget;
    auto *edit = widget.findChild<QLineEdit *>();
    auto *layout = qobject_cast<QBoxLayout *>(widget.layout());
    auto *searchButton = qobject_cast<QPushButton *>(layout->itemAt(0)->widget());
    auto *clearButton = qobject_cast<QPushButton *>(layout->itemAt(1)->widget());
    widget.setText(initial);
    QSignalSpy immediateSpy(&widget, &CSearchEditWidget::textImmediatelyChanged);
    QSignalSpy searchSpy(&widget, &CSearchEditWidget::textChangedSignal);

    switch (event) {
    case TypeAb:
        QTest::keyClicks(edit, QStringLiteral("ab"));
        break;
    case Backspace:
        QTest::keyClick(edit, Qt::Key_Backspace);
        break;
    case SearchButton:
        QTest::mouseClick(searchButton, Qt::LeftButton);
        break;
    case ReturnKey:
        QTest::keyClick(edit, Qt::Key_Return);
        break;
    case EnterKey:
        QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
        break;
    case ClearButton:
        QTest::mouseClick(clearButton, Qt::LeftButton);
        break;
    case ClearSlot:
        widget.clear();
        break;
    case TextClearSlot:
        widget.textClearSlot();
        break;
    case SetTextXy:
        widget.setText(QStringLiteral("xy"));
        break;
    case SetTextSame:
        widget.setText(initial);
        break;
    }

    QCOMPARE(texts(immediateSpy), immediate);
    QCOMPARE(texts(searchSpy), search);
}

void TestSearchEdit::clearEmptiesBeforeSignalling()
{
    CSearchEditWidget widget;
    auto *edit = widget.findChild<QLineEdit *>();
    widget.setText(QStringLiteral("abc"));
    QString textAtSignal = QStringLiteral("unset");
    connect(&widget, &CSearchEditWidget::textChangedSignal, this,
            [&] { textAtSignal = edit->text(); });
    widget.clear();
    QCOMPARE(textAtSignal, QString());
}

void TestSearchEdit::parts()
{
    CSearchEditWidget widget;
    QCOMPARE(widget.objectName(), QStringLiteral("CSearchEditWidget"));
    auto *layout = qobject_cast<QBoxLayout *>(widget.layout());
    QCOMPARE(layout->contentsMargins(), QMargins(3, 3, 3, 3));
    QCOMPARE(layout->spacing(), 4);
    QCOMPARE(layout->count(), 3);
    QVERIFY(qobject_cast<QLineEdit *>(layout->itemAt(2)->widget()) != nullptr);
    for (int i = 0; i < 2; ++i) {
        auto *button = qobject_cast<QPushButton *>(layout->itemAt(i)->widget());
        QVERIFY(button != nullptr);
        QCOMPARE(button->objectName(), QStringLiteral("searchBtn"));
        QCOMPARE(button->size(), QSize(26, 26));
        QVERIFY(button->text().isEmpty());
        QVERIFY(!button->icon().pixmap(16).isNull());
    }
    QVERIFY(!QPixmap(QStringLiteral(":/searchIco.png")).isNull());
    QVERIFY(!QPixmap(QStringLiteral(":/deleteIco.png")).isNull());
}

void TestSearchEdit::background()
{
    // The rule for the class paints the widget's background: "QC_GLOB_BLUE1_L1" (#71a6d9).
    CSearchEditWidget widget;
    widget.resize(300, 30);
    const QImage image = renderWidget(&widget);
    QCOMPARE(argbName(image.pixelColor(150, 1)), QStringLiteral("#ff71a6d9"));
}

QTEST_MAIN(TestSearchEdit)
#include "tst_searchedit.moc"
