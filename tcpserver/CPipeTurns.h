#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class CTransparentPipe;

// Holds, per DevEUI, the transparent clients whose bytes wait for room in the link's queue, in
// the order of their turns, and the count of clients that linger after their close with bytes
// for the link.
class CPipeTurns : public QObject
{
    Q_OBJECT
public:
    // Transparent clients gone with bytes still to pass on wait for the link at most this many at
    // a time (each holds at most CTransparentPipe::MaxDownlinkBytes * MaxWaitingDownlinks).
    static constexpr int MaxLingeringConnections = 64;

    // Puts `pipe` last in the turns of `devEui`.
    void join(const QString &devEui, CTransparentPipe *pipe);
    // Takes `pipe` out of the turns of `devEui`.
    void leave(const QString &devEui, CTransparentPipe *pipe);
    // Gives the waiting clients of `devEui` a turn each in order while `roomLeft()` holds: a
    // client whose `takeTurn` returns true goes last again, any other leaves the turns.
    void serve(const QString &devEui, const std::function<bool()> &roomLeft,
               const std::function<bool(CTransparentPipe *)> &takeTurn);

    // One more client lingers; false when MaxLingeringConnections linger already.
    bool startLingering();
    void stopLingering();

    // The link's downlinks are connected to these turns (by the first pipe).
    bool isLinked() const { return linked; }
    void setLinked() { linked = true; }

private:
    QHash<QString, QList<CTransparentPipe *>> waitingClients;
    int lingeringConnections = 0;
    bool linked = false;
};
