#pragma once

// Whether the desktop runs a dark colour scheme. Qt answers itself from 6.5 on; older versions
// call the scheme dark when the application palette's window is darker than its window text.
bool isDarkColorScheme();
