#include "TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

// The built program, started in an empty working directory on the offscreen platform.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void writesLogBannerAndLeavesSettingsAlone();
    void unusableDatabaseStopsStartUp_data();
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

void TestStartup::unusableDatabaseStopsStartUp_data()
{
    // An empty statement makes "server.db" a folder.
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QByteArray>("reason");

    QTest::addRow("folder") << QString() << QByteArray("server.db");
    QTest::addRow("dev_data with an extra column")
        << QStringLiteral("CREATE TABLE dev_data (device, extra, port, reg_addr, start_value, "
                          "grating_period, bit_size, data_type, value, full_value, time, name, "
                          "unit, parent, source);")
        << QByteArray("Table \"dev_data\" has unexpected columns [device, extra, port,");
}

void TestStartup::unusableDatabaseStopsStartUp()
{
    QFETCH(QString, statement);
    QFETCH(QByteArray, reason);

    TempWorkDir dir;
    QVERIFY(dir.isValid());
    if (statement.isEmpty()) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("server.db")));
    } else {
        const QString connection = QStringLiteral("fixture");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(dir.filePath(QStringLiteral("server.db")));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(statement));
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }

    QProcess gateway;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY(gateway.waitForFinished(30000));
    QCOMPARE(gateway.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gateway.exitCode(), 1);
    const QByteArray error = gateway.readAllStandardError();
    QVERIFY2(error.contains("server.db"), error.constData());
    QVERIFY2(error.contains(reason), error.constData());
    const QByteArray log = dir.readFile(QStringLiteral("history.log"));
    QVERIFY(log.contains("server.db"));
    QVERIFY(log.contains(reason));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
