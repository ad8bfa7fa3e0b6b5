#pragma once

#include <QtGlobal>

// A TCP port nothing listens on right now, on any address; 0 when none could be found.
quint16 freePort();
