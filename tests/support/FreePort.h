#pragma once

#include <QtGlobal>

// A TCP port nothing listens on right now, on any address; 0 when none could be found.
quint16 freePort();

// Whether a trial server can listen on the port on every address now.
bool canListen(quint16 port);

// Whether a TCP connection to 127.0.0.1 at the port is accepted.
bool acceptsConnections(quint16 port);
