#include "DisplayFallback.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdio>
#include <cstring>

bool needsOffscreenPlatform(int argc, char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    // Qt reads "-platform <name>" and its X11 platform "-display <name>" (each also with two
    // dashes); without a name the option is ignored.
    for (int i = 1; i + 1 < argc; ++i) {
        const char *arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-')
            ++arg;
        if (std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "-display") == 0)
            return false;
    }
    return true;
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return false;
#endif
}

bool chooseOffscreenWithoutDisplay(int argc, char *argv[])
{
    if (!needsOffscreenPlatform(argc, argv))
        return false;
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    std::fprintf(stderr, "%s\n", OffscreenFallbackLine.toLocal8Bit().constData());
    std::fflush(stderr);
    return true;
}
