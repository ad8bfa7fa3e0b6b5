#include "FreePort.h"
#include "ModbusClient.h"
#include "NonDatabaseFiles.h"
#include "SideConnection.h"
#include "TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

// The built program, started in an empty working directory on the offscreen platform.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void writesLogBannerAndLeavesSettingsAlone();
    void unusableDatabaseStopsStartUp_data();
    void unusableDatabaseStopsStartUp();
    void readOnlyDatabaseServesAndWarns_data();
    void readOnlyDatabaseServesAndWarns();
    void lockedDatabaseWaitsThenServes();
    void startsWithoutDisplay_data();
    void startsWithoutDisplay();
};

namespace {

// The gateway in the folder, or a launcher whose arguments end by running it.
void startGateway(QProcess &gateway, const QString &dir,
                  const QString &program = QStringLiteral(GATEWAY_EXECUTABLE),
                  const QStringList &args = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir);
    gateway.start(program, args);
}

} // namespace

void TestStartup::writesLogBannerAndLeavesSettingsAlone()
{
    TempWorkDir dir;
    QVERIFY(dir.isValid());

    QProcess gateway;
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    startGateway(gateway, dir.path());
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
    // "server.db" holds the content when it is not null, else the statement's database; an empty
    // statement makes it a folder.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QByteArray>("reason");

    QTest::addRow("folder") << QByteArray() << QString() << QByteArray("server.db");
    QTest::addRow("dev_data with an extra column")
        << QByteArray()
        << QStringLiteral("CREATE TABLE dev_data (device, extra, port, reg_addr, start_value, "
                          "grating_period, bit_size, data_type, value, full_value, time, name, "
                          "unit, parent, source);")
        << QByteArray("Table \"dev_data\" has unexpected columns [device, extra, port,");
    for (const SNonDatabaseFile &file : nonDatabaseFiles())
        QTest::addRow("%s", file.name) << file.bytes << QString() << file.reason;
}

// Refused with exit code 1, the reason on standard error and in the log, the file untouched.
void TestStartup::unusableDatabaseStopsStartUp()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, statement);
    QFETCH(QByteArray, reason);

    TempWorkDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("server.db"));
    if (!content.isNull()) {
        dir.writeFile(QStringLiteral("server.db"), content);
    } else if (statement.isEmpty()) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("server.db")));
    } else {
        const QString connection = QStringLiteral("fixture");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(statement));
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }
    const QByteArray bytes = dir.readFile(QStringLiteral("server.db"));

    QProcess gateway;
    startGateway(gateway, dir.path());
    QVERIFY(gateway.waitForFinished(30000));
    QCOMPARE(gateway.exitStatus(), QProcess::NormalExit);
    QCOMPARE(gateway.exitCode(), 1);
    const QByteArray error = gateway.readAllStandardError();
    QVERIFY2(error.contains("server.db"), error.constData());
    QVERIFY2(error.contains(reason), error.constData());
    const QByteArray log = dir.readFile(QStringLiteral("history.log"));
    QVERIFY(log.contains("server.db"));
    QVERIFY(log.contains(reason));
    QVERIFY(dir.readFile(QStringLiteral("server.db")) == bytes);
}

void TestStartup::readOnlyDatabaseServesAndWarns_data()
{
    QTest::addColumn<bool>("mount");
    QTest::addRow("read-only file") << false;
    QTest::addRow("read-only mount") << true;
}

// The gateway starts on a database it can't write, says so once, serves the stored values over
// Modbus-TCP and leaves the file as it was.
void TestStartup::readOnlyDatabaseServesAndWarns()
{
    QFETCH(bool, mount);

    TempWorkDir dir;
    QVERIFY(dir.isValid());
    const quint16 port = freePort();
    QVERIFY(port);
    const QString devEui = QStringLiteral("70B3D5E75E00F0A1");
    QProcess seed;
    seed.setWorkingDirectory(dir.path());
    seed.start(QStringLiteral(OPEN_DATABASE_HELPER),
               {devEui, QString::number(port), QStringLiteral("1234"), QStringLiteral("5678")});
    QVERIFY(seed.waitForFinished(60000));
    QCOMPARE(seed.exitCode(), 0);
    // The gateway's log starts anew, written by whoever runs it.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("history.log"))));
    const QString file = dir.filePath(QStringLiteral("server.db"));
    const QByteArray bytes = dir.readFile(QStringLiteral("server.db"));

    QString program = QStringLiteral(GATEWAY_EXECUTABLE);
    QStringList args;
    if (!mount) {
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (geteuid() == 0) {
            // Root writes any file: the gateway runs as nobody, in a folder nobody may write.
            program = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (program.isEmpty())
                QSKIP("Running as root without setpriv: no user to whom the file is read-only.");
            args
                = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QStringLiteral(GATEWAY_EXECUTABLE)};
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOther | QFile::WriteOther
                                                          | QFile::ExeOther | QFile::ReadOwner
                                                          | QFile::WriteOwner | QFile::ExeOwner));
        }
    } else {
        // A mount namespace of the gateway's own, where the file alone is bound read-only onto
        // itself; the same script with "true" in place of the gateway tells whether that works.
        const QString script = QStringLiteral("mount --bind server.db server.db && mount -o "
                                              "remount,bind,ro server.db && exec \"$0\"");
        QStringList unshare{QStringLiteral("--mount")};
        if (geteuid() != 0)
            unshare << QStringLiteral("--map-root-user");
        unshare << QStringLiteral("sh") << QStringLiteral("-c") << script;
        QProcess probe;
        probe.setWorkingDirectory(dir.path());
        probe.start(QStringLiteral("unshare"), unshare + QStringList{QStringLiteral("true")});
        if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit
            || probe.exitCode() != 0)
            QSKIP(qPrintable(QStringLiteral("No read-only mount can be made here: %1")
                                 .arg(QString::fromLocal8Bit(probe.readAllStandardError()))));
        program = QStringLiteral("unshare");
        args = unshare + QStringList{QStringLiteral(GATEWAY_EXECUTABLE)};
    }

    QProcess gateway;
    startGateway(gateway, dir.path(), program, args);
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));
    const QString canonicalFile = QFileInfo(file).canonicalFilePath();
    const QByteArray warning = QStringLiteral("WARNING: [main] The data base file \"%1\" is "
                                              "read-only: nothing will be stored!")
                                   .arg(canonicalFile)
                                   .toUtf8();
    QByteArray error;
    QTRY_VERIFY2_WITH_TIMEOUT((error += gateway.readAllStandardError()).contains(warning),
                              error.constData(), 30000);
    // The device's port is served once the window has registered the stored devices.
    const QByteArray registered
        = QStringLiteral("New device: DevEUI[%1], port[%2]").arg(devEui).arg(port).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(dir.readFile(QStringLiteral("history.log")).contains(registered),
                              dir.readFile(QStringLiteral("history.log")).constData(), 30000);
    QCOMPARE(dir.readFile(QStringLiteral("history.log")).count(warning), 1);

    ModbusClient modbus(QStringLiteral("127.0.0.1"), port);
    QVERIFY2(modbus.connectToServer(), qPrintable(modbus.lastError()));
    QCOMPARE(modbus.readHoldingRegisters(0, 2), std::optional<QList<quint16>>({0x1234, 0x5678}));
    modbus.close();

    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
    QVERIFY(dir.readFile(QStringLiteral("server.db")) == bytes);
}

// A database that another program holds locked at start: the gateway warns, on standard error and
// in the log while it waits, and starts normally once the lock is released.
void TestStartup::lockedDatabaseWaitsThenServes()
{
    TempWorkDir dir;
    QVERIFY(dir.isValid());
    const quint16 port = freePort();
    QVERIFY(port);
    const QString devEui = QStringLiteral("70B3D5E75E00F0A2");
    QProcess seed;
    seed.setWorkingDirectory(dir.path());
    seed.start(QStringLiteral(OPEN_DATABASE_HELPER),
               {devEui, QString::number(port), QStringLiteral("4321")});
    QVERIFY(seed.waitForFinished(60000));
    QCOMPARE(seed.exitCode(), 0);
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("history.log"))));
    const QString file = dir.filePath(QStringLiteral("server.db"));
    // No file of the test's own is opened on it from here on: closing one would drop the lock.
    SideConnection side(file);
    QVERIFY2(side.exec(QStringLiteral("BEGIN EXCLUSIVE;")), qPrintable(side.lastError()));

    QProcess gateway;
    startGateway(gateway, dir.path());
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));
    const QByteArray warning
        = QStringLiteral("WARNING: [CDataBaseHandler::readSchema] The data base file \"%1\" is "
                         "locked by another program: waiting up to 60 s for it to be released.")
              .arg(QFileInfo(file).canonicalFilePath())
              .toUtf8();
    QByteArray error;
    QTRY_VERIFY2_WITH_TIMEOUT((error += gateway.readAllStandardError()).contains(warning),
                              error.constData(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(dir.readFile(QStringLiteral("history.log")).contains(warning), 10000);
    QCOMPARE(gateway.state(), QProcess::Running);
    QVERIFY2(side.exec(QStringLiteral("COMMIT;")), qPrintable(side.lastError()));

    const QByteArray registered
        = QStringLiteral("New device: DevEUI[%1], port[%2]").arg(devEui).arg(port).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(dir.readFile(QStringLiteral("history.log")).contains(registered),
                              dir.readFile(QStringLiteral("history.log")).constData(), 30000);
    const QByteArray log = dir.readFile(QStringLiteral("history.log"));
    QCOMPARE(log.count(warning), 1);
    QVERIFY2(!log.contains("database is locked"), log.constData());
    ModbusClient modbus(QStringLiteral("127.0.0.1"), port);
    QVERIFY2(modbus.connectToServer(), qPrintable(modbus.lastError()));
    QCOMPARE(modbus.readHoldingRegisters(0, 1),
             std::optional<QList<quint16>>(QList<quint16>{0x4321}));
    modbus.close();

    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
}

void TestStartup::startsWithoutDisplay_data()
{
    // Variables set on top of an environment without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM.
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("fallsBack");
    // False: the start fails as Qt's does.
    QTest::addColumn<bool>("runs");

    QTest::addRow("no display at all") << QStringList() << QStringList() << true << true;
    QTest::addRow("QT_QPA_PLATFORM named")
        << QStringList{QStringLiteral("QT_QPA_PLATFORM=offscreen")} << QStringList() << false
        << true;
    QTest::addRow("-platform offscreen given")
        << QStringList() << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")}
        << false << true;
    QTest::addRow("DISPLAY of no X server")
        << QStringList{QStringLiteral("DISPLAY=:54321")} << QStringList() << false << false;
    QTest::addRow("-display of no X server")
        << QStringList() << QStringList{QStringLiteral("-display"), QStringLiteral(":54321")}
        << false << false;
}

// Started where no display can be reached, the program takes the offscreen platform by itself and
// says so; a platform or display that is named is left to Qt.
void TestStartup::startsWithoutDisplay()
{
    QFETCH(QStringList, variables);
    QFETCH(QStringList, args);
    QFETCH(bool, fallsBack);
    QFETCH(bool, runs);

    TempWorkDir dir;
    QVERIFY(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    for (const QString &variable : variables)
        env.insert(variable.section(QLatin1Char('='), 0, 0),
                   variable.section(QLatin1Char('='), 1));
    QProcess gateway;
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), args);
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));

    const QByteArray line = "INFO: [main] No display found (neither DISPLAY nor WAYLAND_DISPLAY "
                            "is set): starting with the offscreen platform.";
    QByteArray error;
    if (!runs) {
        QVERIFY(gateway.waitForFinished(30000));
        error = gateway.readAllStandardError();
        QVERIFY(gateway.exitStatus() == QProcess::CrashExit || gateway.exitCode() != 0);
        QVERIFY2(error.contains("no Qt platform plugin could be initialized"), error.constData());
        QVERIFY2(!error.contains(line), error.constData());
        return;
    }
    // The main window has been made (it logs the missing server address) and the loop runs.
    const QByteArray windowMade = "[main] IP is empty";
    QTRY_VERIFY2_WITH_TIMEOUT(dir.readFile(QStringLiteral("history.log")).contains(windowMade),
                              (error += gateway.readAllStandardError()).constData(), 30000);
    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.terminate();
    QVERIFY(gateway.waitForFinished(10000));
    error += gateway.readAllStandardError();
    const QByteArray log = dir.readFile(QStringLiteral("history.log"));
    // Log entries are echoed on the debug stream too: count the plain line.
    QCOMPARE(error.split('\n').count(line), fallsBack ? 1 : 0);
    QCOMPARE(log.count(line), fallsBack ? 1 : 0);
    if (fallsBack)
        QVERIFY2(log.indexOf(line) < log.indexOf(windowMade), log.constData());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
