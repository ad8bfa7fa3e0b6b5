#include "CSettings.h"
#include "TempWorkDir.h"

#include <QDir>
#include <QTest>

// A settings access before start-up names the file: the unnamed instance stays for the run.
class TestSettingsUnnamed : public QObject
{
    Q_OBJECT

private slots:
    void emptyNameFirstThenUnnamedInstance();
};

void TestSettingsUnnamed::emptyNameFirstThenUnnamedInstance()
{
    TempWorkDir dir;
    QVERIFY(dir.isValid());

    QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::getInstance] Invalid fileName");
    QCOMPARE(CSettings::getInstance(QString()), nullptr);
    QVERIFY(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    QCOMPARE(CSettings::readValue(QStringLiteral("use_log"), true).toBool(), true);
    CSettings *unnamed = CSettings::getInstance(QStringLiteral("settings.conf"));
    QVERIFY(unnamed);
    QVERIFY(unnamed->fileName().isEmpty());
    QCOMPARE(CSettings::getInstance(QStringLiteral("another.conf")), unnamed);

    QVERIFY(CSettings::writeValue(QStringLiteral("use_log"), false));
    QCOMPARE(CSettings::readValue(QStringLiteral("use_log"), true).toBool(), false);
    QVERIFY(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

QTEST_GUILESS_MAIN(TestSettingsUnnamed)
#include "tst_settings_unnamed.moc"
