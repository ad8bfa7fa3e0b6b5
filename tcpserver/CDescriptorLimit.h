#pragma once

// The process's limit of open descriptors and what it leaves for client connections.
class CDescriptorLimit
{
public:
    // Descriptors kept back from the client connections for the program's own needs: the log and
    // its rotation, the database and its journal, the server link and the wakeup descriptors of
    // threads Qt starts. Headless, the gateway holds 18 besides its clients and needs one more
    // for a save's journal (a link drop and a rotation need none beyond those); the rest is
    // room for a desktop session's display, D-Bus and input-method connections.
    static constexpr int ReservedDescriptors = 64;
    // The bound when the platform sets no descriptor limit.
    static constexpr int UnlimitedBound = 1 << 30;

    // Raises the soft limit to the hard one where the platform has such limits; false when it
    // could not be raised.
    static bool raiseToHardLimit();
    // The soft limit now; 0 when the platform has none.
    static long long softLimit();
    // Client connections of all ports together that the soft limit allows beside the reserve and
    // the listening socket of every port, at least 1.
    static int connectionBound(int listeningPorts = 0);
};
