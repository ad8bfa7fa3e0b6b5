#include "TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

// The built program, started in an empty working directory on the offscreen platform.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void writesLogBannerAndLeavesSettingsAlone();
    void unusableDatabaseStopsStartUp();
};

void TestStartup::writesLogBannerAndLeavesSettingsAlone()
{
    TempWorkDir dir;
    QVERIFY(dir.isValid());

    QProcess gateway;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));

    QTRY_VERIFY_WITH_TIMEOUT(dir.readFile(QStringLiteral("history.log")).contains("New session"),
                             30000);
    const QByteArray log = dir.readFile(QStringLiteral("history.log"));
    QVERIFY(log.startsWith("\n["));
    QVERIFY(log.contains("]" + QByteArray(65, '*') + "\n["));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("settings.conf"))));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("server.db"))), 30000);
    QCOMPARE(gateway.state(), QProcess::Running);

    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
}

void TestStartup::unusableDatabaseStopsStartUp()
{
    TempWorkDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("server.db")));

    QProcess gateway;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY(gateway.waitForFinished(30000));
    QCOMPARE(gateway.exitStatus(), QProcess::NormalExit);
    QVERIFY(gateway.exitCode() != 0);
    const QByteArray error = gateway.readAllStandardError();
    QVERIFY2(error.contains("server.db"), error.constData());
    QVERIFY(dir.readFile(QStringLiteral("history.log")).contains("server.db"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
