#include "CSettings.h"
#include "GlobalSettingsWindow.h"
#include "TempWorkDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

// The log-settings dialog: what it shows for the stored keys, what Save writes, Close keeps.
class TestGlobalSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void rowsAndNames();
    void defaultsAreShownAndSaved();
    void storedValuesAreShown_data();
    void storedValuesAreShown();
    void fileSizeIsLimitedToAnInt();
    void closeKeepsTheFile();
    void saveFromTheRunningDialog();

private:
    static QSpinBox *spin(GlobalSettingsWindow &dialog, const char *name);
    static QCheckBox *check(GlobalSettingsWindow &dialog, const char *name);
    // The four keys as a fresh reader of the file sees them (invalid when absent).
    static QVariantList keysOnDisk();

    TempWorkDir dir;
};

QSpinBox *TestGlobalSettingsWindow::spin(GlobalSettingsWindow &dialog, const char *name)
{
    return dialog.findChild<QSpinBox *>(QLatin1String(name));
}

QCheckBox *TestGlobalSettingsWindow::check(GlobalSettingsWindow &dialog, const char *name)
{
    return dialog.findChild<QCheckBox *>(QLatin1String(name));
}

QVariantList TestGlobalSettingsWindow::keysOnDisk()
{
    QSettings file(QStringLiteral("settings.conf"), QSettings::IniFormat);
    return {file.value(QStringLiteral("use_log")), file.value(QStringLiteral("max_files_counter")),
            file.value(QStringLiteral("file_max_size")),
            file.value(QStringLiteral("expanded_log"))};
}

void TestGlobalSettingsWindow::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(CSettings::getInstance(QStringLiteral("settings.conf")));
}

void TestGlobalSettingsWindow::init()
{
    CSettings::getInstance(QString())->clear();
    CSettings::getInstance(QString())->sync();
}

void TestGlobalSettingsWindow::rowsAndNames()
{
    GlobalSettingsWindow dialog;
    auto *grid = dialog.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(dialog.layout(), grid);
    QVERIFY(dialog.windowTitle().isEmpty());

    const struct
    {
        int row;
        const char *layout;
        const char *widget;
        QString text;
    } rows[] = {
        {0, "horizontalLayout_3", "UseLog", QStringLiteral("Включить логирование")},
        {1, "horizontalLayout", "LBLFileCounter",
         QStringLiteral("Количество файлов для логирования:")},
        {4, "horizontalLayout_2", "LBLFileMaxSize",
         QStringLiteral("Максимальный размер лога(МБ):")},
        {5, "horizontalLayout_4", "checkBox", QStringLiteral("Расширенное логирование")},
    };
    for (const auto &r : rows) {
        QLayoutItem *item = grid->itemAtPosition(r.row, 0);
        QVERIFY2(item && item->layout(), r.layout);
        QCOMPARE(item->layout()->objectName(), QLatin1String(r.layout));
        QWidget *first = item->layout()->itemAt(0)->widget();
        QVERIFY(first);
        QCOMPARE(first->objectName(), QLatin1String(r.widget));
        const QString text = qobject_cast<QLabel *>(first)
                                 ? qobject_cast<QLabel *>(first)->text()
                                 : qobject_cast<QCheckBox *>(first)->text();
        QCOMPARE(text, r.text);
    }
    QVERIFY(!grid->itemAtPosition(2, 0));
    QVERIFY(!grid->itemAtPosition(3, 0));
    QCOMPARE(grid->itemAtPosition(1, 0)->layout()->itemAt(1)->widget(), spin(dialog, "spinBox"));
    QCOMPARE(grid->itemAtPosition(4, 0)->layout()->itemAt(1)->widget(),
             spin(dialog, "FileMaxSize"));
    QCOMPARE(check(dialog, "UseLog")->layoutDirection(), Qt::RightToLeft);
    QCOMPARE(check(dialog, "checkBox")->layoutDirection(), Qt::RightToLeft);

    auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(box);
    QCOMPARE(grid->itemAtPosition(6, 0)->widget(), box);
    QCOMPARE(box->standardButtons(), QDialogButtonBox::Save | QDialogButtonBox::Close);
    QCOMPARE(box->button(QDialogButtonBox::Save)->text(), QStringLiteral("Сохранить"));
    QCOMPARE(box->button(QDialogButtonBox::Close)->text(), QStringLiteral("Отмена"));
    QCOMPARE(box->button(QDialogButtonBox::Save)->font().pointSize(), 9);
    QCOMPARE(spin(dialog, "spinBox")->minimum(), 1);
    QCOMPARE(spin(dialog, "spinBox")->maximum(), 20);
    QCOMPARE(spin(dialog, "FileMaxSize")->minimum(), 0);
}

void TestGlobalSettingsWindow::defaultsAreShownAndSaved()
{
    GlobalSettingsWindow dialog;
    QCOMPARE(check(dialog, "UseLog")->isChecked(), true);
    QCOMPARE(spin(dialog, "spinBox")->value(), 20);
    QCOMPARE(spin(dialog, "FileMaxSize")->value(), 1);
    QCOMPARE(check(dialog, "checkBox")->isChecked(), false);
    QCOMPARE(keysOnDisk(), QVariantList({QVariant(), QVariant(), QVariant(), QVariant()}));

    dialog.saveSettings();
    const QVariantList keys = keysOnDisk();
    QCOMPARE(keys.at(0).toString(), QStringLiteral("true"));
    QCOMPARE(keys.at(1).toString(), QStringLiteral("20"));
    QCOMPARE(keys.at(2).toString(), QStringLiteral("1000000"));
    QCOMPARE(keys.at(3).toString(), QStringLiteral("false"));
}

void TestGlobalSettingsWindow::storedValuesAreShown_data()
{
    QTest::addColumn<QVariant>("storedSize");
    QTest::addColumn<QVariant>("storedCounter");
    QTest::addColumn<int>("shownMb");
    QTest::addColumn<int>("shownCounter");
    QTest::addColumn<int>("savedSize");

    QTest::addRow("2.5 MB truncates") << QVariant(2500000) << QVariant(5) << 2 << 5 << 2000000;
    QTest::addRow("0 MB") << QVariant(0) << QVariant(1) << 0 << 1 << 0;
    QTest::addRow("just below 1 MB") << QVariant(999999) << QVariant(20) << 0 << 20 << 0;
    QTest::addRow("largest int") << QVariant(2147483647) << QVariant(7) << 2147 << 7 << 2147000000;
    QTest::addRow("negative size, counter too big")
        << QVariant(-3000000) << QVariant(50) << 0 << 20 << 0;
    QTest::addRow("counter 0 clamps to 1") << QVariant(3000000) << QVariant(0) << 3 << 1 << 3000000;
}

void TestGlobalSettingsWindow::storedValuesAreShown()
{
    QFETCH(QVariant, storedSize);
    QFETCH(QVariant, storedCounter);
    QFETCH(int, shownMb);
    QFETCH(int, shownCounter);
    QFETCH(int, savedSize);

    CSettings::writeValue(QStringLiteral("file_max_size"), storedSize);
    CSettings::writeValue(QStringLiteral("max_files_counter"), storedCounter);
    CSettings::writeValue(QStringLiteral("use_log"), false);
    CSettings::writeValue(QStringLiteral("expanded_log"), true);

    GlobalSettingsWindow dialog;
    QCOMPARE(spin(dialog, "FileMaxSize")->value(), shownMb);
    QCOMPARE(spin(dialog, "spinBox")->value(), shownCounter);
    QCOMPARE(check(dialog, "UseLog")->isChecked(), false);
    QCOMPARE(check(dialog, "checkBox")->isChecked(), true);

    dialog.saveSettings();
    const QVariantList keys = keysOnDisk();
    QCOMPARE(keys.at(0).toString(), QStringLiteral("false"));
    QCOMPARE(keys.at(1).toInt(), shownCounter);
    QCOMPARE(keys.at(2).toString(), QString::number(savedSize));
    QCOMPARE(keys.at(3).toString(), QStringLiteral("true"));
}

void TestGlobalSettingsWindow::fileSizeIsLimitedToAnInt()
{
    GlobalSettingsWindow dialog;
    QSpinBox *size = spin(dialog, "FileMaxSize");
    QCOMPARE(size->maximum(), 2147);

    // Typing a larger number is refused by the spin box itself.
    size->clear();
    size->setFocus();
    QTest::keyClicks(size, QStringLiteral("99999"));
    QVERIFY(size->value() <= 2147);
    size->setValue(100000);
    QCOMPARE(size->value(), 2147);

    dialog.saveSettings();
    bool ok = false;
    const int saved = keysOnDisk().at(2).toString().toInt(&ok);
    QVERIFY(ok);
    QCOMPARE(saved, 2147000000);
}

void TestGlobalSettingsWindow::closeKeepsTheFile()
{
    CSettings::writeValue(QStringLiteral("max_files_counter"), 3);
    GlobalSettingsWindow dialog;
    dialog.show();
    spin(dialog, "spinBox")->setValue(9);
    check(dialog, "UseLog")->setChecked(false);
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Close)->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(keysOnDisk(),
             QVariantList({QVariant(), QVariant(3).toString(), QVariant(), QVariant()}));
}

void TestGlobalSettingsWindow::saveFromTheRunningDialog()
{
    GlobalSettingsWindow dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        spin(dialog, "spinBox")->setValue(4);
        spin(dialog, "FileMaxSize")->setValue(12);
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
    });
    dialog.exec();
    QVERIFY(!dialog.isVisible());
    const QVariantList keys = keysOnDisk();
    QCOMPARE(keys.at(1).toInt(), 4);
    QCOMPARE(keys.at(2).toInt(), 12000000);
    QCOMPARE(keys.at(0).toString(), QStringLiteral("true"));
}

QTEST_MAIN(TestGlobalSettingsWindow)
#include "tst_globalsettingswindow.moc"
