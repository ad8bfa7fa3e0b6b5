// Start-up of the gateway: every singleton is made here, in a fixed order, then the GUI event loop
// runs until the main window closes.

#include "CAddNewDeviceForm.h"
#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "CDescriptorLimit.h"
#include "CDeviceHandler.h"
#include "CEditDeviceForm.h"
#include "CLogFile.h"
#include "CServerHandler.h"
#include "CSettings.h"
#include "DisplayFallback.h"
#include "LocaleTranslation.h"
#include "MainWindow.h"
#include "SApiDeviceData.h"
#include "SharedConstants.h"
#include "StorageThread.h"
#include "StylePalette.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

#include <clocale>
#include <cstdlib>

int main(int argc, char *argv[])
{
    setlocale(LC_ALL, "");
    const bool offscreen = chooseOffscreenWithoutDisplay(argc, argv);
    // Every client connection holds a descriptor; the soft limit is often far below the hard one.
    CDescriptorLimit::raiseToHardLimit();
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(FileNames::WindowIcon));

    QTranslator translator;
    installTranslation(app, translator, QLocale::system().name());

    qRegisterMetaType<CLogFile::ELogMessageType>("CLogFile::ELogMessageType");
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");

    QFile styleFile(FileNames::StyleSheet);
    styleFile.open(QIODevice::ReadOnly);
    const QString styleSheet = QString::fromUtf8(styleFile.readAll());
    styleFile.close();
    app.setStyleSheet(applyStylePalette(styleSheet));

    registerApiMetaTypes();

    CSettings::getInstance(SettingsKey::FileName);
    CLogFile::getInstance(FileNames::LogBaseName, QString());
    if (offscreen)
        addLog(OffscreenFallbackLine);
    CServerHandler *serverLink = CServerHandler::getInstance();

    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    const QString databaseFile = QDir::current().absoluteFilePath(DB::DbNames::DatabaseFile);
    if (!storage) {
        addLogAndPrint(QStringLiteral("CRITICAL_ERROR! [main] The data base file \"%1\" can't be "
                                      "used: %2. The program stops.")
                           .arg(databaseFile, CDataBaseHandler::lastErrorText()),
                       CLogFile::LogError);
        // The log line is a queued call: let it reach the file before leaving.
        QCoreApplication::processEvents();
        return EXIT_FAILURE;
    }
    if (storage->isReadOnly())
        addLogAndPrint(QStringLiteral("WARNING: [main] The data base file \"%1\" is read-only: "
                                      "nothing will be stored!")
                           .arg(databaseFile),
                       CLogFile::LogError);
    startStorageThread(storage);

    // Test seam, unset in use: a shorter period (1 to 59999 ms) at which a device port that could
    // not be listened on is tried again.
    bool retryGiven = false;
    const int retryMs = qEnvironmentVariableIntValue("LORA_BRINDLE_LISTEN_RETRY_MS", &retryGiven);
    if (retryGiven && retryMs > 0 && retryMs < CDeviceHandler::ListenRetryPeriodMs)
        CDeviceHandler::setListenRetryPeriodForNewServers(retryMs);

    CAllDeviceHandler *registry = CAllDeviceHandler::getInstance();
    QObject::connect(serverLink, &CServerHandler::newPacketReceived, registry,
                     &CAllDeviceHandler::newPacketReceivedSlot, Qt::QueuedConnection);

    CAddNewDeviceForm *addForm = CAddNewDeviceForm::getInstance();
    QObject::connect(serverLink, &CServerHandler::getDevicesListResp, addForm,
                     &CAddNewDeviceForm::getDevicesListRespSlot, Qt::QueuedConnection);

    CEditDeviceForm::getInstance();

    MainWindow window;
    window.show();
    const int result = QApplication::exec();
    return result;
}

#ifdef Q_OS_WIN
#include "WinMainEntry.h"
GATEWAY_WINMAIN_ENTRY(main)
#endif
