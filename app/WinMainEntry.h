#pragma once

// The Windows GUI entry point: builds argc/argv from the wide command line (or takes the C
// runtime's) in the ANSI code page and calls the start-up function.

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>
#include <stdlib.h>

#include <vector>

namespace WinMainEntry {

inline int run(int (*startUp)(int, char **))
{
    if (__argc > 0 && __argv)
        return startUp(__argc, __argv);
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return startUp(0, nullptr);
    std::vector<char *> args;
    for (int i = 0; i < count; ++i) {
        const int size = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        char *arg = new char[size > 0 ? size : 1]();
        if (size > 0)
            WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg, size, nullptr, nullptr);
        args.push_back(arg);
    }
    LocalFree(wide);
    args.push_back(nullptr);
    const int result = startUp(count, args.data());
    for (char *arg : args)
        delete[] arg;
    return result;
}

} // namespace WinMainEntry

#define GATEWAY_WINMAIN_ENTRY(startUp)                                                             \
    int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)                                           \
    {                                                                                              \
        return WinMainEntry::run(startUp);                                                         \
    }
#endif
