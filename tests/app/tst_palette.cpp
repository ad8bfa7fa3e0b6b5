#include "StylePalette.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

// Palette substitution of the style sheet. The expected colours are the published palette table,
// written out here independently of the code's own list.
class TestPalette : public QObject
{
    Q_OBJECT

private slots:
    void everyPlaceholder_data();
    void everyPlaceholder();
    void prefixesAreNotCut_data();
    void prefixesAreNotCut();
    void lowerCaseAndUnknownNamesStay();
    void styleSheetResource();
};

void TestPalette::everyPlaceholder_data()
{
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<QString>("colour");
    QTest::addRow("QC_GLOB_BLACK6C_80")
        << QStringLiteral("QC_GLOB_BLACK6C_80") << QStringLiteral("#414951");
    QTest::addRow("QC_GLOB_BLACK6C_65")
        << QStringLiteral("QC_GLOB_BLACK6C_65") << QStringLiteral("#656b72");
    QTest::addRow("QC_GLOB_BLACK6C_45")
        << QStringLiteral("QC_GLOB_BLACK6C_45") << QStringLiteral("#94999d");
    QTest::addRow("QC_GLOB_BLACK6C_28")
        << QStringLiteral("QC_GLOB_BLACK6C_28") << QStringLiteral("#bdbfc2");
    QTest::addRow("QC_GLOB_BLACK6C_25")
        << QStringLiteral("QC_GLOB_BLACK6C_25") << QStringLiteral("#c4c6c9");
    QTest::addRow("QC_GLOB_BLACK6C_13")
        << QStringLiteral("QC_GLOB_BLACK6C_13") << QStringLiteral("#e0e1e3");
    QTest::addRow("QC_GLOB_BLACK6C_10")
        << QStringLiteral("QC_GLOB_BLACK6C_10") << QStringLiteral("#e7e8ea");
    QTest::addRow("QC_GLOB_WHITE1_D1")
        << QStringLiteral("QC_GLOB_WHITE1_D1") << QStringLiteral("#b2b4b5");
    QTest::addRow("QC_GLOB_WHITE1_D2")
        << QStringLiteral("QC_GLOB_WHITE1_D2") << QStringLiteral("#4c7a9d");
    QTest::addRow("QC_GLOB_WHITE1_L1")
        << QStringLiteral("QC_GLOB_WHITE1_L1") << QStringLiteral("#f3f6f9");
    QTest::addRow("QC_GLOB_WHITE1_L2")
        << QStringLiteral("QC_GLOB_WHITE1_L2") << QStringLiteral("#f5f7f9");
    QTest::addRow("QC_GLOB_WHITE1")
        << QStringLiteral("QC_GLOB_WHITE1") << QStringLiteral("#ebeff2");
    QTest::addRow("QC_GLOB_BLACK1_D2")
        << QStringLiteral("QC_GLOB_BLACK1_D2") << QStringLiteral("#071114");
    QTest::addRow("QC_GLOB_BLACK1_D1")
        << QStringLiteral("QC_GLOB_BLACK1_D1") << QStringLiteral("#131617");
    QTest::addRow("QC_GLOB_BLACK1_L0")
        << QStringLiteral("QC_GLOB_BLACK1_L0") << QStringLiteral("#263034");
    QTest::addRow("QC_GLOB_BLACK1_L1")
        << QStringLiteral("QC_GLOB_BLACK1_L1") << QStringLiteral("#73888f");
    QTest::addRow("QC_GLOB_BLACK1_L2")
        << QStringLiteral("QC_GLOB_BLACK1_L2") << QStringLiteral("#7b8a8f");
    QTest::addRow("QC_GLOB_BLACK1_E1B")
        << QStringLiteral("QC_GLOB_BLACK1_E1B") << QStringLiteral("#1a1b22");
    QTest::addRow("QC_GLOB_BLACK1_E2G")
        << QStringLiteral("QC_GLOB_BLACK1_E2G") << QStringLiteral("#1b241e");
    QTest::addRow("QC_GLOB_BLACK1")
        << QStringLiteral("QC_GLOB_BLACK1") << QStringLiteral("#171d1f");
    QTest::addRow("QC_GLOB_RED1_D2")
        << QStringLiteral("QC_GLOB_RED1_D2") << QStringLiteral("#9f181b");
    QTest::addRow("QC_GLOB_RED1_D1")
        << QStringLiteral("QC_GLOB_RED1_D1") << QStringLiteral("#b85759");
    QTest::addRow("QC_GLOB_RED1_L1")
        << QStringLiteral("QC_GLOB_RED1_L1") << QStringLiteral("#fa767a");
    QTest::addRow("QC_GLOB_RED1_L2")
        << QStringLiteral("QC_GLOB_RED1_L2") << QStringLiteral("#fa999c");
    QTest::addRow("QC_GLOB_RED1") << QStringLiteral("QC_GLOB_RED1") << QStringLiteral("#f5494d");
    QTest::addRow("QC_GLOB_GREEN1_D2")
        << QStringLiteral("QC_GLOB_GREEN1_D2") << QStringLiteral("#137854");
    QTest::addRow("QC_GLOB_GREEN1_D1")
        << QStringLiteral("QC_GLOB_GREEN1_D1") << QStringLiteral("#438a71");
    QTest::addRow("QC_GLOB_GREEN1_L1")
        << QStringLiteral("QC_GLOB_GREEN1_L1") << QStringLiteral("#6adcb3");
    QTest::addRow("QC_GLOB_GREEN1_L2")
        << QStringLiteral("QC_GLOB_GREEN1_L2") << QStringLiteral("#88dcbe");
    QTest::addRow("QC_GLOB_GREEN1_L3")
        << QStringLiteral("QC_GLOB_GREEN1_L3") << QStringLiteral("#92fdd8");
    QTest::addRow("QC_GLOB_GREEN1_L4")
        << QStringLiteral("QC_GLOB_GREEN1_L4") << QStringLiteral("#b3ffe4");
    QTest::addRow("QC_GLOB_GREEN1")
        << QStringLiteral("QC_GLOB_GREEN1") << QStringLiteral("#39b88c");
    QTest::addRow("QC_GLOB_GREEN2_D2")
        << QStringLiteral("QC_GLOB_GREEN2_D2") << QStringLiteral("#408a6a");
    QTest::addRow("QC_GLOB_GREEN2_D1")
        << QStringLiteral("QC_GLOB_GREEN2_D1") << QStringLiteral("#035b2c");
    QTest::addRow("QC_GLOB_GREEN2_L1")
        << QStringLiteral("QC_GLOB_GREEN2_L1") << QStringLiteral("#3cc67c");
    QTest::addRow("QC_GLOB_GREEN2_L2")
        << QStringLiteral("QC_GLOB_GREEN2_L2") << QStringLiteral("#61c68f");
    QTest::addRow("QC_GLOB_GREEN2_L3")
        << QStringLiteral("QC_GLOB_GREEN2_L3") << QStringLiteral("#8ce3b4");
    QTest::addRow("QC_GLOB_GREEN2")
        << QStringLiteral("QC_GLOB_GREEN2") << QStringLiteral("#0a8c46");
    QTest::addRow("QC_GLOB_BLUE1_D2")
        << QStringLiteral("QC_GLOB_BLUE1_D2") << QStringLiteral("#154675");
    QTest::addRow("QC_GLOB_BLUE1_D1")
        << QStringLiteral("QC_GLOB_BLUE1_D1") << QStringLiteral("#466787");
    QTest::addRow("QC_GLOB_BLUE1_L1")
        << QStringLiteral("QC_GLOB_BLUE1_L1") << QStringLiteral("#71a6d9");
    QTest::addRow("QC_GLOB_BLUE1_L2")
        << QStringLiteral("QC_GLOB_BLUE1_L2") << QStringLiteral("#8db4d9");
    QTest::addRow("QC_GLOB_BLUE1_L3")
        << QStringLiteral("QC_GLOB_BLUE1_L3") << QStringLiteral("#aeceec");
    QTest::addRow("QC_GLOB_BLUE1_L4")
        << QStringLiteral("QC_GLOB_BLUE1_L4") << QStringLiteral("#c5def6");
    QTest::addRow("QC_GLOB_BLUE1_L5")
        << QStringLiteral("QC_GLOB_BLUE1_L5") << QStringLiteral("#d2e4f6");
    QTest::addRow("QC_GLOB_BLUE1") << QStringLiteral("QC_GLOB_BLUE1") << QStringLiteral("#417bb3");
    QTest::addRow("QC_GLOB_ORANGE1_D2")
        << QStringLiteral("QC_GLOB_ORANGE1_D2") << QStringLiteral("#a15004");
    QTest::addRow("QC_GLOB_ORANGE1_D1")
        << QStringLiteral("QC_GLOB_ORANGE1_D1") << QStringLiteral("#b97635");
    QTest::addRow("QC_GLOB_ORANGE1_L1")
        << QStringLiteral("QC_GLOB_ORANGE1_L1") << QStringLiteral("#fb9f48");
    QTest::addRow("QC_GLOB_ORANGE1_L2")
        << QStringLiteral("QC_GLOB_ORANGE1_L2") << QStringLiteral("#fbb878");
    QTest::addRow("QC_GLOB_ORANGE1_L3")
        << QStringLiteral("QC_GLOB_ORANGE1_L3") << QStringLiteral("#fdca9a");
    QTest::addRow("QC_GLOB_ORANGE1_L4")
        << QStringLiteral("QC_GLOB_ORANGE1_L4") << QStringLiteral("#fed8b3");
    QTest::addRow("QC_GLOB_ORANGE1_L5")
        << QStringLiteral("QC_GLOB_ORANGE1_L5") << QStringLiteral("#fee2c7");
    QTest::addRow("QC_GLOB_ORANGE1")
        << QStringLiteral("QC_GLOB_ORANGE1") << QStringLiteral("#f77f0c");
    QTest::addRow("QC_GLOB_PINK1_L1")
        << QStringLiteral("QC_GLOB_PINK1_L1") << QStringLiteral("#ff7e7b");
    QTest::addRow("QC_GLOB_PINK1_L2")
        << QStringLiteral("QC_GLOB_PINK1_L2") << QStringLiteral("#ffa19e");
    QTest::addRow("QC_GLOB_PINK1_D1")
        << QStringLiteral("QC_GLOB_PINK1_D1") << QStringLiteral("#bf5f5c");
    QTest::addRow("QC_GLOB_PINK1_D2")
        << QStringLiteral("QC_GLOB_PINK1_D2") << QStringLiteral("#a61d1a");
    QTest::addRow("QC_GLOB_PINK1") << QStringLiteral("QC_GLOB_PINK1") << QStringLiteral("#ff534f");
    QTest::addRow("QC_GLOB_LILAC1_D1")
        << QStringLiteral("QC_GLOB_LILAC1_D1") << QStringLiteral("#6c4181");
    QTest::addRow("QC_GLOB_LILAC1_D2")
        << QStringLiteral("QC_GLOB_LILAC1_D2") << QStringLiteral("#501370");
    QTest::addRow("QC_GLOB_LILAC1_L1")
        << QStringLiteral("QC_GLOB_LILAC1_L1") << QStringLiteral("#b26cd6");
    QTest::addRow("QC_GLOB_LILAC1_L2")
        << QStringLiteral("QC_GLOB_LILAC1_L2") << QStringLiteral("#bb88d6");
    QTest::addRow("QC_GLOB_LILAC1_L3")
        << QStringLiteral("QC_GLOB_LILAC1_L3") << QStringLiteral("#db95ff");
    QTest::addRow("QC_GLOB_LILAC1_L4")
        << QStringLiteral("QC_GLOB_LILAC1_L4") << QStringLiteral("#e3adff");
    QTest::addRow("QC_GLOB_LILAC1")
        << QStringLiteral("QC_GLOB_LILAC1") << QStringLiteral("#863bac");
    QTest::addRow("QC_GLOB_YELLOW1_D1")
        << QStringLiteral("QC_GLOB_YELLOW1_D1") << QStringLiteral("#b9ac3b");
    QTest::addRow("QC_GLOB_YELLOW1_D2")
        << QStringLiteral("QC_GLOB_YELLOW1_D2") << QStringLiteral("#a19107");
    QTest::addRow("QC_GLOB_YELLOW1_L1")
        << QStringLiteral("QC_GLOB_YELLOW1_L1") << QStringLiteral("#fbea50");
    QTest::addRow("QC_GLOB_YELLOW1_L2")
        << QStringLiteral("QC_GLOB_YELLOW1_L2") << QStringLiteral("#fbee7e");
    QTest::addRow("QC_GLOB_YELLOW1_L3")
        << QStringLiteral("QC_GLOB_YELLOW1_L3") << QStringLiteral("#fdf39f");
    QTest::addRow("QC_GLOB_YELLOW1_L4")
        << QStringLiteral("QC_GLOB_YELLOW1_L4") << QStringLiteral("#fdf6b8");
    QTest::addRow("QC_GLOB_YELLOW1")
        << QStringLiteral("QC_GLOB_YELLOW1") << QStringLiteral("#f7e017");
    QTest::addRow("QC_GLOB_LOGO1_D2")
        << QStringLiteral("QC_GLOB_LOGO1_D2") << QStringLiteral("#10404d");
    QTest::addRow("QC_GLOB_LOGO1_D1")
        << QStringLiteral("QC_GLOB_LOGO1_D1") << QStringLiteral("#315059");
    QTest::addRow("QC_GLOB_LOGO1_L1")
        << QStringLiteral("QC_GLOB_LOGO1_L1") << QStringLiteral("#67a9bb");
    QTest::addRow("QC_GLOB_LOGO1_L2")
        << QStringLiteral("QC_GLOB_LOGO1_L2") << QStringLiteral("#7eadbb");
    QTest::addRow("QC_GLOB_LOGO1") << QStringLiteral("QC_GLOB_LOGO1") << QStringLiteral("#306777");
    QTest::addRow("QC_GRAPH_BACK_GR2")
        << QStringLiteral("QC_GRAPH_BACK_GR2") << QStringLiteral("#3a434b");
    QTest::addRow("QC_GRAPH_BACK") << QStringLiteral("QC_GRAPH_BACK") << QStringLiteral("#414951");
    QTest::addRow("QC_GRAPH_AXIS") << QStringLiteral("QC_GRAPH_AXIS") << QStringLiteral("#c4c6c9");
    QTest::addRow("QC_GRAPH_GRID") << QStringLiteral("QC_GRAPH_GRID") << QStringLiteral("#8c8c8c");
    QTest::addRow("QC_STAT_TOTAL") << QStringLiteral("QC_STAT_TOTAL") << QStringLiteral("#0038a8");
    QTest::addRow("QC_STAT_VALID") << QStringLiteral("QC_STAT_VALID") << QStringLiteral("#009e0f");
    QTest::addRow("QC_STAT_INVALID")
        << QStringLiteral("QC_STAT_INVALID") << QStringLiteral("#d81e05");
    QTest::addRow("QC_STAT_BUSY") << QStringLiteral("QC_STAT_BUSY") << QStringLiteral("#f7b50c");
    QTest::addRow("QCT_GLOB_BLUE1_LIKE_D2")
        << QStringLiteral("QCT_GLOB_BLUE1_LIKE_D2") << QStringLiteral("#033e6b");
    QTest::addRow("QCT_GLOB_BLUE1_LIKE_D1")
        << QStringLiteral("QCT_GLOB_BLUE1_LIKE_D1") << QStringLiteral("#25567b");
    QTest::addRow("QCT_GLOB_BLUE1_LIKE_L2")
        << QStringLiteral("QCT_GLOB_BLUE1_LIKE_L2") << QStringLiteral("#66a3d2");
    QTest::addRow("QCT_GLOB_BLUE1_LIKE_L1")
        << QStringLiteral("QCT_GLOB_BLUE1_LIKE_L1") << QStringLiteral("#3f92d2");
    QTest::addRow("QCT_GLOB_BLUE1_LIKE")
        << QStringLiteral("QCT_GLOB_BLUE1_LIKE") << QStringLiteral("#0b61a4");
    QTest::addRow("QCT_GLOB_BLUE1_D1")
        << QStringLiteral("QCT_GLOB_BLUE1_D1") << QStringLiteral("#27424c");
    QTest::addRow("QCT_GLOB_BLUE1_D2")
        << QStringLiteral("QCT_GLOB_BLUE1_D2") << QStringLiteral("#0c3342");
    QTest::addRow("QCT_GLOB_BLUE1_L1")
        << QStringLiteral("QCT_GLOB_BLUE1_L1") << QStringLiteral("#5c9ab2");
    QTest::addRow("QCT_GLOB_BLUE1_L2")
        << QStringLiteral("QCT_GLOB_BLUE1_L2") << QStringLiteral("#73a1b2");
    QTest::addRow("QCT_GLOB_BLUE1_L3")
        << QStringLiteral("QCT_GLOB_BLUE1_L3") << QStringLiteral("#d9e1e4");
    QTest::addRow("QCT_GLOB_BLUE1_L4")
        << QStringLiteral("QCT_GLOB_BLUE1_L4") << QStringLiteral("#ebeff2");
    QTest::addRow("QCT_GLOB_BLUE1")
        << QStringLiteral("QCT_GLOB_BLUE1") << QStringLiteral("#245365");
}

void TestPalette::everyPlaceholder()
{
    QFETCH(QString, placeholder);
    QFETCH(QString, colour);
    // Inside a declaration and next to other text, as the sheet uses it.
    QCOMPARE(applyStylePalette(QStringLiteral("color: ") + placeholder + QStringLiteral(";")),
             QStringLiteral("color: ") + colour + QStringLiteral(";"));
}

void TestPalette::prefixesAreNotCut_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::addRow("blue L2") << QStringLiteral("QC_GLOB_BLUE1_L2") << QStringLiteral("#8db4d9");
    QTest::addRow("blue-like L1") << QStringLiteral("QCT_GLOB_BLUE1_LIKE_L1")
                                  << QStringLiteral("#3f92d2");
    QTest::addRow("white1 upper-case source")
        << QStringLiteral("QC_GLOB_WHITE1") << QStringLiteral("#ebeff2");
    QTest::addRow("graph back gr2")
        << QStringLiteral("QC_GRAPH_BACK_GR2") << QStringLiteral("#3a434b");
    QTest::addRow("several in a row")
        << QStringLiteral("QCT_GLOB_BLUE1 QCT_GLOB_BLUE1_L4 QCT_GLOB_BLUE1_LIKE_D2")
        << QStringLiteral("#245365 #ebeff2 #033e6b");
}

void TestPalette::prefixesAreNotCut()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(applyStylePalette(input), expected);
}

void TestPalette::lowerCaseAndUnknownNamesStay()
{
    QCOMPARE(applyStylePalette(QStringLiteral("qc_glob_blue1_l2")),
             QStringLiteral("qc_glob_blue1_l2"));
    QCOMPARE(applyStylePalette(QStringLiteral("color: QC_GLOB_WHITE;")),
             QStringLiteral("color: QC_GLOB_WHITE;"));
    QCOMPARE(applyStylePalette(QString()), QString());
}

void TestPalette::styleSheetResource()
{
    QFile file(QStringLiteral("://style/style.qss"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString sheet = applyStylePalette(QString::fromUtf8(file.readAll()));
    for (const char *selector :
         {"QListView", "MainWindow QWidget#MainWidget", "QLabel#title1Lab", "QLabel#title2Lab",
          "MainWindow QLabel#modbusName", "MainWindow QLabel#modbusValue", "QPushButton#searchBtn",
          "QPushButton#greenBtn", "QPushButton#blueBtn", "QPushButton#orangeBtn",
          "QPushButton#redBtn", "CLeftPanel", "CAbstractPanelButton",
          "CAbstractPanelButton QLabel#titleLable", "CAbstractPanelButton QGroupBox",
          "CSearchEditWidget", "CSearchEditWidget QLineEdit", "QDialog QPushButton"})
        QVERIFY2(sheet.contains(QLatin1String(selector)), selector);
    // Every placeholder is replaced but the one the palette does not know.
    const QRegularExpression leftover(QStringLiteral("QCT?_[A-Z0-9_]+"));
    auto it = leftover.globalMatch(sheet);
    while (it.hasNext())
        QCOMPARE(it.next().captured(), QStringLiteral("QC_GLOB_WHITE"));
}

QTEST_GUILESS_MAIN(TestPalette)
#include "tst_palette.moc"
