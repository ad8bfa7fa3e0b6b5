// Preloaded into the gateway by the whole-program test: every translator the program installs
// is reported on standard error with its translation of one main-window text, then installed.

#include <QCoreApplication>
#include <QTranslator>

#include <cstdio>
#include <dlfcn.h>

bool QCoreApplication::installTranslator(QTranslator *translationFile)
{
    using Install = bool (*)(QTranslator *);
    static const auto install = reinterpret_cast<Install>(
        dlsym(RTLD_NEXT, "_ZN16QCoreApplication17installTranslatorEP11QTranslator"));
    const QString connect
        = translationFile ? translationFile->translate("MainWindow", "Connect") : QString();
    std::fprintf(stderr, "[translation-probe] installed: MainWindow \"Connect\" -> \"%s\"\n",
                 connect.toUtf8().constData());
    return install && install(translationFile);
}
