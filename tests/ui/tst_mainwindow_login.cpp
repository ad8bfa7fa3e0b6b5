#include "CAddNewDeviceForm.h"
#include "CAllDeviceHandler.h"
#include "CEditDeviceForm.h"
#include "CServerHandler.h"
#include "FakeNetworkServer.h"
#include "FormFixture.h"
#include "LogCapture.h"
#include "MainWindow.h"
#include "MainWindowProbe.h"
#include "SharedConstants.h"
#include "TempWorkDir.h"

#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace FormFixture;

// The main window started with saved credentials of a reachable network server and an empty
// database: it logs in by itself, and the settings follow only accepted logins.
class TestMainWindowLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void startUpLogsIn();
    void emptyDatabaseShowsNoDevice();
    void emptyFieldStopsTheAttempt_data();
    void emptyFieldStopsTheAttempt();
    void refusedLoginKeepsSavedCredentials();
    void acceptedLoginSavesTheFields();

private:
    QString savedValue(const QString &key) const;
    void clickConnect();
    void fillFields(const QString &login, const QString &password);

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<FakeNetworkServer> server;
    std::unique_ptr<LogCapture> log;
    QThread *storageThread = nullptr;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestMainWindowLogin::initTestCase()
{
    dir = std::make_unique<TempWorkDir>();
    QVERIFY(dir->isValid());
    writeTemplates(dir->path());
    server = std::make_unique<FakeNetworkServer>();
    QVERIFY(server->isListening());
    {
        QSettings file(dir->filePath(SettingsKey::FileName), QSettings::IniFormat);
        file.setValue(SettingsKey::ServerIp, QStringLiteral("127.0.0.1"));
        file.setValue(SettingsKey::ServerPort, QString::number(server->port()));
        file.setValue(SettingsKey::ServerLogin, QStringLiteral("admin"));
        file.setValue(SettingsKey::ServerPassword, QStringLiteral("admin"));
    }
    log = std::make_unique<LogCapture>();
    storageThread = startStorage();
    QVERIFY(storageThread);
    CServerHandler *link = CServerHandler::getInstance();
    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    connect(link, &CServerHandler::newPacketReceived, registry,
            &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);
    connect(link, &CServerHandler::getDevicesListResp, CAddNewDeviceForm::getInstance(),
            &CAddNewDeviceForm::getDevicesListRespSlot, Qt::QueuedConnection);
    CEditDeviceForm::getInstance();

    window = std::make_unique<MainWindow>();
    probe = std::make_unique<MainWindowProbe>(window.get());
    window->show();
}

void TestMainWindowLogin::cleanupTestCase()
{
    window.reset();
    stopStorage(storageThread);
}

void TestMainWindowLogin::init()
{
    log->clear();
}

QString TestMainWindowLogin::savedValue(const QString &key) const
{
    return QSettings(dir->filePath(SettingsKey::FileName), QSettings::IniFormat)
        .value(key)
        .toString();
}

void TestMainWindowLogin::clickConnect()
{
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("Connect")) {
            button->click();
            return;
        }
    }
    QFAIL("no Connect button");
}

void TestMainWindowLogin::fillFields(const QString &login, const QString &password)
{
    probe->ipEdit()->setText(QStringLiteral("127.0.0.1"));
    probe->portEdit()->setText(QString::number(server->port()));
    probe->loginEdit()->setText(login);
    probe->passwordEdit()->setText(password);
}

void TestMainWindowLogin::startUpLogsIn()
{
    QCOMPARE(probe->ipEdit()->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(probe->portEdit()->text(), QString::number(server->port()));
    QCOMPARE(probe->loginEdit()->text(), QStringLiteral("admin"));
    QCOMPARE(probe->schemeCombo()->currentText(), QStringLiteral("ws"));
    QVERIFY(server->waitForCommand(QStringLiteral("auth_req"), 1, 10000));
    const QJsonObject auth = server->receivedCommands(QStringLiteral("auth_req")).first();
    QCOMPARE(auth.value(QStringLiteral("login")).toString(), QStringLiteral("admin"));
    QTRY_COMPARE_WITH_TIMEOUT(probe->connectionStateLabel()->text(), QStringLiteral("SUCCESS"),
                              10000);
    QVERIFY(!log->contains(QStringLiteral("[main]")));
}

void TestMainWindowLogin::emptyDatabaseShowsNoDevice()
{
    QCOMPARE(probe->modbusDeviceModel()->rowCount(), 0);
    QCOMPARE(probe->tcpDeviceModel()->rowCount(), 0);
    QCOMPARE(probe->deviceTitleLabel()->text(), QStringLiteral("Device [UNKNOWN]"));
    QVERIFY(probe->parametersGroup()->isHidden());
    QCOMPARE(probe->registerModel()->rowCount(), 0);
}

void TestMainWindowLogin::emptyFieldStopsTheAttempt_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("line");
    QTest::addRow("address") << 0 << "[main] IP is empty";
    QTest::addRow("port") << 1 << "[main] PORT is empty";
    QTest::addRow("login") << 2 << "[main] LOGIN is empty";
    QTest::addRow("password") << 3 << "[main] PASSWORD is empty";
}

void TestMainWindowLogin::emptyFieldStopsTheAttempt()
{
    QFETCH(int, field);
    QFETCH(QString, line);
    fillFields(QStringLiteral("admin"), QStringLiteral("admin"));
    // Every later field is empty too: the first empty one is reported.
    const QList<QLineEdit *> edits{probe->ipEdit(), probe->portEdit(), probe->loginEdit(),
                                   probe->passwordEdit()};
    for (int i = field; i < edits.size(); ++i)
        edits.at(i)->clear();
    QSignalSpy attempts(window.get(), &MainWindow::connectToServer);

    clickConnect();
    QVERIFY(log->waitForLine(line));
    QCOMPARE(log->count(QStringLiteral("[main]")), 1);
    QCOMPARE(attempts.count(), 0);
}

void TestMainWindowLogin::refusedLoginKeepsSavedCredentials()
{
    server->setCredentials(QStringLiteral("operator"), QStringLiteral("secret"));
    const QByteArray before = dir->readFile(SettingsKey::FileName);
    fillFields(QStringLiteral("operator"), QStringLiteral("wrong"));
    QSignalSpy attempts(window.get(), &MainWindow::connectToServer);

    clickConnect();
    QCOMPARE(attempts.count(), 1);
    QCOMPARE(attempts.first().at(0).toString(),
             QStringLiteral("ws://127.0.0.1:%1").arg(server->port()));
    QTRY_COMPARE_WITH_TIMEOUT(probe->connectionStateLabel()->text(), QStringLiteral("INVALID AUTH"),
                              10000);
    QCOMPARE(dir->readFile(SettingsKey::FileName), before);
    QCOMPARE(savedValue(SettingsKey::ServerLogin), QStringLiteral("admin"));
}

void TestMainWindowLogin::acceptedLoginSavesTheFields()
{
    fillFields(QStringLiteral("operator"), QStringLiteral("secret"));
    clickConnect();
    QTRY_COMPARE_WITH_TIMEOUT(probe->connectionStateLabel()->text(), QStringLiteral("SUCCESS"),
                              10000);
    QCOMPARE(savedValue(SettingsKey::ServerIp), QStringLiteral("127.0.0.1"));
    QCOMPARE(savedValue(SettingsKey::ServerPort), QString::number(server->port()));
    QCOMPARE(savedValue(SettingsKey::ServerLogin), QStringLiteral("operator"));
    QCOMPARE(savedValue(SettingsKey::ServerPassword), QStringLiteral("secret"));
}

QTEST_MAIN(TestMainWindowLogin)
#include "tst_mainwindow_login.moc"
