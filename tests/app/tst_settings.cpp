#include "CSettings.h"
#include "TempWorkDir.h"

#include <QFile>
#include <QTest>

// The settings file bound at the first access: values on disk at once, defaults, bad files.
class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writtenValueIsOnDisk();
    void absentKeysGiveTheDefault();
    void laterNamesReturnTheFirstInstance();

private:
    TempWorkDir dir;
};

void TestSettings::initTestCase()
{
    QVERIFY(dir.isValid());
    // A garbage file is read as the settings library reads it: nothing usable, no failure.
    dir.writeFile(QStringLiteral("settings.conf"), QByteArray("\x01\x02[[[=\n==garbage\xff\n", 18));
    QVERIFY(CSettings::getInstance(QStringLiteral("settings.conf")));
}

void TestSettings::writtenValueIsOnDisk()
{
    QVERIFY(CSettings::writeValue(QStringLiteral("max_files_counter"), 7));
    QVERIFY(CSettings::writeValue(QStringLiteral("server/ip"), QStringLiteral("10.0.0.1")));

    const QByteArray content = dir.readFile(QStringLiteral("settings.conf"));
    QVERIFY2(content.contains("max_files_counter=7"), content.constData());
    QVERIFY2(content.contains("[server]\nip=10.0.0.1"), content.constData());
}

void TestSettings::absentKeysGiveTheDefault()
{
    QCOMPARE(CSettings::readValue(QStringLiteral("use_log"), true).toBool(), true);
    QCOMPARE(CSettings::readValue(QStringLiteral("file_max_size"), 1000000).toInt(), 1000000);
    QVERIFY(!CSettings::readValue(QStringLiteral("files_counter")).isValid());
    QCOMPARE(CSettings::readValue(QStringLiteral("files_counter")).toInt(), 0);
}

void TestSettings::laterNamesReturnTheFirstInstance()
{
    CSettings *first = CSettings::getInstance(QStringLiteral("settings.conf"));
    QCOMPARE(CSettings::getInstance(QStringLiteral("other.conf")), first);
    QCOMPARE(CSettings::getInstance(QString()), first);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("other.conf"))));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
