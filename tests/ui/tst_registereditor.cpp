#include "CSimpleRegisterDelegat.h"
#include "CSimpleRegisterEditWidget.h"
#include "TextRecorder.h"
#include "UiTestSupport.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>

namespace {
enum Column {
    RegAddr = 2,
    StartValue = 3,
    GratingPeriod = 4,
    DataType = 6,
    Name = 10,
    Unit = 11,
    Source = 13,
};

// A register model of the forms: 14 columns, one row per register.
struct RegisterRow
{
    QString name = QStringLiteral("Temperature");
    int regAddr = 7;
    double extraValue = 0.0;
    double multiplier = 1.0;
    QString dataType = QStringLiteral("integer");
    QString units = QStringLiteral("C");
    QVariant source = 1;
};

void addRow(QStandardItemModel &model, const RegisterRow &row)
{
    const int r = model.rowCount();
    model.insertRow(r);
    model.setData(model.index(r, RegAddr), row.regAddr);
    model.setData(model.index(r, StartValue), row.extraValue);
    model.setData(model.index(r, GratingPeriod), row.multiplier);
    model.setData(model.index(r, DataType), row.dataType);
    model.setData(model.index(r, Name), row.name);
    model.setData(model.index(r, Unit), row.units);
    model.setData(model.index(r, Source), row.source);
}

// The three line edits of the editor, in the order of their rows.
QList<QLineEdit *> edits(CSimpleRegisterEditWidget &editor)
{
    return editor.findChildren<QLineEdit *>();
}

QStringList paintCard(const CSimpleRegisterDelegat &delegate, const QModelIndex &index,
                      TextRecorder &recorder, QStyle::State state = QStyle::State_None)
{
    recorder.clear();
    QPainter painter(&recorder);
    delegate.paint(&painter, itemOption(QRect(0, 0, 200, 65), state), index);
    return recorder.strings();
}
} // namespace

// The register editor widget and the register card delegate of the device forms.
class TestRegisterEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void setDataTexts();
    void layoutStructure();
    void validatorWhileTyping_data();
    void validatorWhileTyping();
    void emptiedEditsReadZero();

    void createEditor_data();
    void createEditor();
    void editRoundTrip_data();
    void editRoundTrip();
    void foreignEditorIgnored();
    void editorCoversCard();

    void cardTexts_data();
    void cardTexts();
    void cardAddressAndBadgePlace();
    void cardColours_data();
    void cardColours();
    void tooFewColumns();
};

void TestRegisterEditor::initTestCase()
{
    applyApplicationStyleSheet();
}

void TestRegisterEditor::setDataTexts()
{
    CSimpleRegisterEditWidget editor;
    const QList<QLineEdit *> lines = edits(editor);
    QCOMPARE(lines.size(), 3);
    editor.setData(QStringLiteral("Voltage"), -2.5, 1, QStringLiteral("V"));
    QCOMPARE(lines[0]->text(), QStringLiteral("-2.500000"));
    QCOMPARE(lines[1]->text(), QStringLiteral("1.000000"));
    QCOMPARE(lines[2]->text(), QStringLiteral("V"));
    QCOMPARE(editor.getExtraValue(), -2.5);
    QCOMPARE(editor.getMultiplier(), 1.0);
    QCOMPARE(editor.getUnits(), QStringLiteral("V"));
    QCOMPARE(lines[0]->palette().color(QPalette::Text), QColor(Qt::black));

    const QStringList labels = [&] {
        QStringList texts;
        for (const QLabel *label : editor.findChildren<QLabel *>())
            texts.append(label->text());
        return texts;
    }();
    QVERIFY(labels.contains(QStringLiteral("Voltage")));
    QVERIFY(labels.contains(QStringLiteral("Value = RAW * Multiplier + ExtraValue")));
    QVERIFY(labels.contains(QStringLiteral("ExtraValue: ")));
}

void TestRegisterEditor::layoutStructure()
{
    CSimpleRegisterEditWidget editor;
    auto *main = qobject_cast<QVBoxLayout *>(editor.layout());
    QVERIFY(main);
    auto *upper = qobject_cast<QHBoxLayout *>(main->itemAt(0)->layout());
    QVERIFY(upper);
    auto *left = qobject_cast<QVBoxLayout *>(upper->itemAt(0)->layout());
    auto *right = qobject_cast<QVBoxLayout *>(upper->itemAt(1)->layout());
    QVERIFY(left && right);
    QCOMPARE(left->count(), 3);
    for (int row = 0; row < left->count(); ++row)
        QVERIFY(qobject_cast<QHBoxLayout *>(left->itemAt(row)->layout()));

    // The name sits at the top of its column, the hint centred in what is left.
    QCOMPARE(right->count(), 2);
    QCOMPARE(right->itemAt(0)->alignment(), Qt::AlignTop | Qt::AlignHCenter);
    auto *hint = qobject_cast<QLabel *>(right->itemAt(1)->widget());
    QVERIFY(hint);
    QCOMPARE(hint->text(), QStringLiteral("Value = RAW * Multiplier + ExtraValue"));
    QCOMPARE(right->itemAt(1)->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
}

void TestRegisterEditor::validatorWhileTyping_data()
{
    QTest::addColumn<int>("edit");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    for (int edit : {0, 1}) {
        const QString which
            = edit == 0 ? QStringLiteral("extra value") : QStringLiteral("multiplier");
        for (const QString &start : {QString(), QStringLiteral("1.5")}) {
            const QString from = start.isEmpty() ? QStringLiteral("empty") : start;
            for (const QString &refused :
                 {QStringLiteral("-"), QStringLiteral(","), QStringLiteral("e")})
                QTest::addRow("%s, %s + '%s' refused", qPrintable(which), qPrintable(from),
                              qPrintable(refused))
                    << edit << start << refused << start;
        }
        QTest::addRow("%s, digits alone", qPrintable(which))
            << edit << QString() << QStringLiteral("12") << QStringLiteral("12");
        QTest::addRow("%s, full number", qPrintable(which))
            << edit << QString() << QStringLiteral("12.25") << QStringLiteral("12.25");
    }
    QTest::addRow("units, any text")
        << 2 << QString() << QStringLiteral("-e,") << QStringLiteral("-e,");
}

void TestRegisterEditor::validatorWhileTyping()
{
    QFETCH(int, edit);
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    CSimpleRegisterEditWidget editor;
    QLineEdit *line = edits(editor).at(edit);
    line->setText(start);
    QTest::keyClicks(line, typed);
    QCOMPARE(line->text(), result);
    if (edit == 0)
        QCOMPARE(editor.getExtraValue(), result.toDouble());
    else if (edit == 1)
        QCOMPARE(editor.getMultiplier(), result.toDouble());
    else
        QCOMPARE(editor.getUnits(), result);
}

void TestRegisterEditor::emptiedEditsReadZero()
{
    CSimpleRegisterEditWidget editor;
    editor.setData(QStringLiteral("x"), 3.0, 4.0, QStringLiteral("V"));
    for (QLineEdit *line : edits(editor)) {
        line->selectAll();
        QTest::keyClick(line, Qt::Key_Backspace);
        QVERIFY(line->text().isEmpty());
    }
    QCOMPARE(editor.getExtraValue(), 0.0);
    QCOMPARE(editor.getMultiplier(), 0.0);
    QCOMPARE(editor.getUnits(), QString());
}

void TestRegisterEditor::createEditor_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<bool>("editable");
    QTest::addRow("integer") << QStringLiteral("integer") << true;
    QTest::addRow("uinteger") << QStringLiteral("uinteger") << true;
    QTest::addRow("text") << QStringLiteral("text") << false;
    QTest::addRow("boolean") << QStringLiteral("boolean") << false;
    QTest::addRow("Integer") << QStringLiteral("Integer") << false;
    QTest::addRow("empty") << QString() << false;
}

void TestRegisterEditor::createEditor()
{
    QFETCH(QString, dataType);
    QFETCH(bool, editable);
    QStandardItemModel model(0, 14);
    RegisterRow row;
    row.dataType = dataType;
    addRow(model, row);
    CSimpleRegisterDelegat delegate;
    QWidget parent;
    QWidget *editor
        = delegate.createEditor(&parent, itemOption(QRect(0, 0, 200, 65)), model.index(0, 0));
    QCOMPARE(editor != nullptr, editable);
    if (editor != nullptr) {
        QVERIFY(qobject_cast<CSimpleRegisterEditWidget *>(editor) != nullptr);
        QCOMPARE(editor->parentWidget(), &parent);
    }
}

void TestRegisterEditor::editRoundTrip_data()
{
    QTest::addColumn<QString>("extraTyped");
    QTest::addColumn<QString>("multiplierTyped");
    QTest::addColumn<QString>("unitsTyped");
    QTest::addColumn<double>("extraStored");
    QTest::addColumn<double>("multiplierStored");
    QTest::addRow("values") << QStringLiteral("2.5") << QStringLiteral("0.1")
                            << QStringLiteral("kWh") << 2.5 << 0.1;
    QTest::addRow("zero multiplier")
        << QStringLiteral("0.0") << QStringLiteral("0.000") << QStringLiteral("V") << 0.0 << 1.0;
    QTest::addRow("emptied") << QString() << QString() << QString() << 0.0 << 1.0;
}

void TestRegisterEditor::editRoundTrip()
{
    QFETCH(QString, extraTyped);
    QFETCH(QString, multiplierTyped);
    QFETCH(QString, unitsTyped);
    QFETCH(double, extraStored);
    QFETCH(double, multiplierStored);

    QStandardItemModel model(0, 14);
    RegisterRow row;
    row.extraValue = -4.0;
    row.multiplier = 3.0;
    row.units = QStringLiteral("A");
    addRow(model, row);
    const QModelIndex index = model.index(0, 0);
    CSimpleRegisterDelegat delegate;
    QWidget parent;
    std::unique_ptr<QWidget> editor(
        delegate.createEditor(&parent, itemOption(QRect(0, 0, 200, 65)), index));
    QVERIFY(editor != nullptr);
    delegate.setEditorData(editor.get(), index);
    auto *registerEditor = qobject_cast<CSimpleRegisterEditWidget *>(editor.get());
    QCOMPARE(registerEditor->getExtraValue(), -4.0);
    QCOMPARE(registerEditor->getMultiplier(), 3.0);
    QCOMPARE(registerEditor->getUnits(), QStringLiteral("A"));

    const QList<QLineEdit *> lines = edits(*registerEditor);
    const QStringList typed{extraTyped, multiplierTyped, unitsTyped};
    for (int i = 0; i < 3; ++i) {
        lines[i]->clear();
        QTest::keyClicks(lines[i], typed[i]);
        QCOMPARE(lines[i]->text(), typed[i]);
    }
    delegate.setModelData(editor.get(), &model, index);
    QCOMPARE(model.index(0, StartValue).data(Qt::EditRole).toDouble(), extraStored);
    QCOMPARE(model.index(0, GratingPeriod).data(Qt::EditRole).toDouble(), multiplierStored);
    QCOMPARE(model.index(0, Unit).data(Qt::EditRole).toString(), unitsTyped);
    QCOMPARE(model.index(0, Name).data().toString(), row.name);
}

void TestRegisterEditor::foreignEditorIgnored()
{
    QStandardItemModel model(0, 14);
    addRow(model, RegisterRow());
    CSimpleRegisterDelegat delegate;
    QLineEdit other(QStringLiteral("9.0"));
    delegate.setEditorData(&other, model.index(0, 0));
    QCOMPARE(other.text(), QStringLiteral("9.0"));
    delegate.setModelData(&other, &model, model.index(0, 0));
    QCOMPARE(model.index(0, StartValue).data().toDouble(), 0.0);
    QCOMPARE(model.index(0, GratingPeriod).data().toDouble(), 1.0);
    QCOMPARE(model.index(0, Unit).data().toString(), QStringLiteral("C"));
}

void TestRegisterEditor::editorCoversCard()
{
    QStandardItemModel model(0, 14);
    addRow(model, RegisterRow());
    CSimpleRegisterDelegat delegate;
    QWidget parent;
    CSimpleRegisterEditWidget editor(&parent);
    delegate.updateEditorGeometry(&editor, itemOption(QRect(0, 65, 200, 65)), model.index(0, 0));
    QCOMPARE(editor.geometry(), QRect(0, 65, 200, 65));
    QCOMPARE(delegate.sizeHint(itemOption(QRect()), model.index(0, 0)), QSize(200, 65));

    // The editor's own background rule (white) is drawn by the style as a button bevel.
    editor.resize(200, 65);
    const QColor background = renderWidget(&editor).pixelColor(100, 62);
    QVERIFY2(background.alpha() == 255 && background.red() >= 0xf8 && background.green() >= 0xf8
                 && background.blue() >= 0xf8,
             qPrintable(argbName(background)));
}

void TestRegisterEditor::cardTexts_data()
{
    QTest::addColumn<QString>("dataType");
    QTest::addColumn<double>("extraValue");
    QTest::addColumn<QString>("units");
    QTest::addColumn<QVariant>("source");
    QTest::addColumn<QStringList>("expected");

    const QString bias = QStringLiteral("Register map bias: ");
    const QStringList labels{QStringLiteral("ExtraValue: "), QStringLiteral("Multiplier: "),
                             QStringLiteral("Units: ")};
    const QString unsupported = QStringLiteral("UNSUPPORT");
    QTest::addRow("integer from device")
        << QStringLiteral("integer") << 2.5 << QStringLiteral("V") << QVariant(1)
        << QStringList{QStringLiteral("Temperature"),
                       QStringLiteral("DEVICE"),
                       QStringLiteral("7"),
                       bias,
                       labels[0],
                       QStringLiteral("2.500000"),
                       labels[1],
                       QStringLiteral("1.000000"),
                       labels[2],
                       QStringLiteral("V"),
                       QStringLiteral("Value = RAW *"),
                       QStringLiteral("Multiplier + ExtraValue")};
    QTest::addRow("uinteger from server, empty units")
        << QStringLiteral("uinteger") << 0.0 << QString() << QVariant(0)
        << QStringList{QStringLiteral("Temperature"),
                       QStringLiteral("SERVER"),
                       QStringLiteral("7"),
                       bias,
                       labels[0],
                       QStringLiteral("0.000000"),
                       labels[1],
                       QStringLiteral("1.000000"),
                       labels[2],
                       QStringLiteral("Value = RAW *"),
                       QStringLiteral("Multiplier + ExtraValue")};
    const QStringList unsupportedCard{QStringLiteral("Temperature"),
                                      QStringLiteral("SERVER"),
                                      QStringLiteral("7"),
                                      bias,
                                      labels[0],
                                      unsupported,
                                      labels[1],
                                      unsupported,
                                      labels[2],
                                      unsupported,
                                      QStringLiteral("Parameter is"),
                                      QStringLiteral("TEXT value!")};
    QTest::addRow("text") << QStringLiteral("text") << 2.5 << QStringLiteral("V")
                          << QVariant(QStringLiteral("x")) << unsupportedCard;
    QTest::addRow("Integer") << QStringLiteral("Integer") << 2.5 << QStringLiteral("V")
                             << QVariant(QString()) << unsupportedCard;
    QStringList deviceCard = unsupportedCard;
    deviceCard[1] = QStringLiteral("DEVICE");
    QTest::addRow("boolean, source 5")
        << QStringLiteral("boolean") << 2.5 << QStringLiteral("V") << QVariant(5) << deviceCard;
}

void TestRegisterEditor::cardTexts()
{
    QFETCH(QString, dataType);
    QFETCH(double, extraValue);
    QFETCH(QString, units);
    QFETCH(QVariant, source);
    QFETCH(QStringList, expected);
    QStandardItemModel model(0, 14);
    RegisterRow row;
    row.dataType = dataType;
    row.extraValue = extraValue;
    row.units = units;
    row.source = source;
    addRow(model, row);
    CSimpleRegisterDelegat delegate;
    TextRecorder recorder(QSize(200, 65));
    QStringList drawn = paintCard(delegate, model.index(0, 0), recorder);
    drawn.removeAll(QString());
    QCOMPARE(drawn, expected);
}

void TestRegisterEditor::cardAddressAndBadgePlace()
{
    // The address ends 62 px before the right edge, its label 2 px before the address; the
    // badge text is white, the labels lilac, the values dark blue.
    QStandardItemModel model(0, 14);
    RegisterRow row;
    row.regAddr = 1234;
    addRow(model, row);
    CSimpleRegisterDelegat delegate;
    TextRecorder recorder(QSize(200, 65));
    paintCard(delegate, model.index(0, 0), recorder);

    const DrawnText address = recorder.find(QStringLiteral("1234"));
    QFontMetrics addressMetrics(address.font);
    QCOMPARE(address.font.pixelSize(), 12);
    QVERIFY(address.font.bold());
    QCOMPARE(qRound(address.position.x()), 200 - 62 - addressMetrics.boundingRect("1234").width());
    const DrawnText label = recorder.find(QStringLiteral("Register map bias: "));
    QCOMPARE(label.font.pixelSize(), 9);
    QCOMPARE(qRound(label.position.x()),
             qRound(address.position.x()) - 2
                 - QFontMetrics(label.font).boundingRect("Register map bias: ").width());
    QCOMPARE(label.color, QColor(QStringLiteral("#501370")));
    QCOMPARE(address.color, QColor(QStringLiteral("#0c3342")));
    QCOMPARE(recorder.find(QStringLiteral("DEVICE")).color, QColor(QStringLiteral("#ebeff2")));
    QCOMPARE(
        recorder.find(QStringLiteral("1.000000")).position.x(),
        2 + QFontMetrics(recorder.find("Multiplier: ").font).boundingRect("Multiplier: ").width());
}

void TestRegisterEditor::cardColours_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("colour");
    QTest::addRow("row 0") << 0 << int(QStyle::State_None) << QStringLiteral("#ffe7e8ea");
    QTest::addRow("row 1") << 1 << int(QStyle::State_None) << QStringLiteral("#ffc4c6c9");
    QTest::addRow("row 2") << 2 << int(QStyle::State_None) << QStringLiteral("#ffe7e8ea");
    QTest::addRow("row 1 selected")
        << 1 << int(QStyle::State_Selected) << QStringLiteral("#ff94999d");
    QTest::addRow("row 0 hovered")
        << 0 << int(QStyle::State_MouseOver) << QStringLiteral("#ff94999d");
}

void TestRegisterEditor::cardColours()
{
    QFETCH(int, row);
    QFETCH(int, state);
    QFETCH(QString, colour);
    QStandardItemModel model(0, 14);
    for (int i = 0; i < 3; ++i)
        addRow(model, RegisterRow());
    CSimpleRegisterDelegat delegate;
    QImage image = blankImage(200, 65);
    {
        QPainter painter(&image);
        delegate.paint(&painter, itemOption(QRect(0, 0, 200, 65), QStyle::State(state)),
                       model.index(row, 0));
    }
    QCOMPARE(argbName(image.pixelColor(1, 40)), colour);
    QCOMPARE(argbName(image.pixelColor(0, 0)).left(3), QStringLiteral("#00"));  // rounded corner
    QCOMPARE(argbName(image.pixelColor(196, 8)), QStringLiteral("#ff137854"));  // badge
    QCOMPARE(argbName(image.pixelColor(100, 19)), QStringLiteral("#ff035b2c")); // separator
}

void TestRegisterEditor::tooFewColumns()
{
    CSimpleRegisterDelegat delegate;
    QStandardItemModel narrow(1, 13);
    QImage image = blankImage(200, 65);
    QPainter painter(&image);
    const QPen pen(Qt::red);
    painter.setPen(pen);
    QTest::ignoreMessage(QtDebugMsg,
                         "[CDeviceDelegat::paintAllRow] ERROR: invalid input data size!");
    delegate.paint(&painter, itemOption(QRect(0, 0, 200, 65)), narrow.index(0, 0));
    QCOMPARE(painter.pen(), pen);
    painter.end();
    QCOMPARE(image, blankImage(200, 65));

    // More than 14 columns still draws the card.
    QStandardItemModel wide(0, 15);
    addRow(wide, RegisterRow());
    TextRecorder recorder(QSize(200, 65));
    QVERIFY(paintCard(delegate, wide.index(0, 0), recorder).contains(QStringLiteral("DEVICE")));
}

QTEST_MAIN(TestRegisterEditor)
#include "tst_registereditor.moc"
