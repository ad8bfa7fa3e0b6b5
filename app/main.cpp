// Start-up of the gateway: every singleton is made here, in a fixed order, then the GUI event loop
// runs until the main window closes.

#include "CLogFile.h"
#include "CSettings.h"
#include "LocaleTranslation.h"
#include "SApiDeviceData.h"
#include "SharedConstants.h"
#include "StylePalette.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

#include <clocale>

int main(int argc, char *argv[])
{
    setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(FileNames::WindowIcon));

    QTranslator translator;
    installTranslation(app, translator, QLocale::system().name());

    qRegisterMetaType<CLogFile::ELogMessageType>("CLogFile::ELogMessageType");

    QFile styleFile(FileNames::StyleSheet);
    styleFile.open(QIODevice::ReadOnly);
    const QString styleSheet = QString::fromUtf8(styleFile.readAll());
    styleFile.close();
    app.setStyleSheet(applyStylePalette(styleSheet));

    registerApiMetaTypes();

    CSettings::getInstance(SettingsKey::FileName);
    CLogFile::getInstance(FileNames::LogBaseName, QString());

    return QApplication::exec();
}

#ifdef Q_OS_WIN
#include "WinMainEntry.h"
GATEWAY_WINMAIN_ENTRY(main)
#endif
