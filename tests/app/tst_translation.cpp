#include "LocaleTranslation.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

// Which locales get the Russian interface, and that the compiled translation loads.
class TestTranslation : public QObject
{
    Q_OBJECT

private slots:
    void selection_data();
    void selection();
};

void TestTranslation::selection_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("installed");
    QTest::addRow("ru_RU") << QStringLiteral("ru_RU") << true;
    QTest::addRow("ru_UA") << QStringLiteral("ru_UA") << true;
    QTest::addRow("en_US") << QStringLiteral("en_US") << false;
    QTest::addRow("de_DE") << QStringLiteral("de_DE") << false;
    QTest::addRow("RU only in upper case") << QStringLiteral("tt_RU") << false;
    QTest::addRow("C") << QStringLiteral("C") << false;
}

void TestTranslation::selection()
{
    QFETCH(QString, locale);
    QFETCH(bool, installed);
    QCOMPARE(wantsRussianTranslation(locale), installed);

    QTranslator translator;
    QCOMPARE(installTranslation(*QCoreApplication::instance(), translator, locale), installed);
    QCOMPARE(translator.isEmpty(), !installed);
    QCoreApplication::removeTranslator(&translator);
}

QTEST_GUILESS_MAIN(TestTranslation)
#include "tst_translation.moc"
