#pragma once

#include <QString>

// A start where no display can be reached: with neither DISPLAY nor WAYLAND_DISPLAY set and no
// platform or display named (QT_QPA_PLATFORM, -platform, -display), Qt's default platform would
// abort the program, so it takes the offscreen platform instead. Windows and macOS are left alone.

inline const QString OffscreenFallbackLine
    = QStringLiteral("INFO: [main] No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): "
                     "starting with the offscreen platform.");

// True when this start has no display and names no platform or display.
bool needsOffscreenPlatform(int argc, char *argv[]);

// Called before the application object exists: when needed, sets QT_QPA_PLATFORM to "offscreen"
// and writes OffscreenFallbackLine on standard error. True when it did, so that the caller can
// log the line once the log is up.
bool chooseOffscreenWithoutDisplay(int argc, char *argv[]);
