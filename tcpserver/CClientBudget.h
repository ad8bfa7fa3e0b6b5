#pragma once

#include "CPipeTurns.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QAbstractSocket;
class QTcpServer;

// Holds what the device servers share: the client connections and further descriptors of all
// ports counted against the bound, the servers it pauses at the bound and resumes below it, the
// stall after a failed accept with its retry, and the turns of the transparent pipes.
class CClientBudget : public QObject
{
    Q_OBJECT
public:
    // Connections Qt may hold pending while a server accepts (its default).
    static constexpr int MaxPendingWhileAccepting = 30;
    // After an accept failed (no descriptor or memory left, or a client gone before it was
    // taken), the ports try again this often, and at every close of a connection.
    static constexpr int AcceptRetryMs = 1000;

    // The one the device servers share, made on first use; it outlives them and their clients.
    static CClientBudget &shared();

    CClientBudget();

    // Client connections of all ports together, each from its acceptance until its socket closes.
    int openConnections() const { return openClients; }
    // At most this many: CDescriptorLimit::connectionBound() less the servers' descriptors, unless
    // a test set another.
    int connectionBound() const;
    // Descriptors the servers hold now: one for each listening port (a server waiting for its port
    // holds none).
    int portDescriptors() const;
    // Seam for tests: another bound; 0 goes back to the descriptor limit's. Applies from the next
    // acceptance or close.
    void setConnectionBound(int bound);
    // Accepting resumes once the open connections are down to this: a twentieth of the bound
    // below it (1 to 16), so that a steady crowd of clients does not pause and resume on every
    // close.
    int resumeThreshold() const;
    // At the bound no port accepts; further clients wait in the system's listen backlog.
    bool isAcceptingPaused() const { return acceptingPaused; }
    // An accept failed for lack of descriptors or memory, and none has succeeded since: the ports
    // wait and try again every AcceptRetryMs.
    bool isAcceptingStalled() const { return descriptorsExhausted; }
    // A further descriptor a connection holds for a while (a transparent client's duplicate)
    // counts like a connection; refused when it would leave no room below the bound.
    bool countExtraDescriptor();
    void uncountExtraDescriptor();

    // A server of a device port, paused and resumed with the others while it is added.
    void addServer(QTcpServer *server);
    void removeServer(QTcpServer *server);
    // Pausing stops Qt's accept loop at once, also within the turn it is in. A server that does
    // not listen keeps only the limit of pending connections, which holds it once it listens.
    static void pause(QTcpServer *server);
    // An accept on `port` has given a descriptor: a stall ends.
    void clientAccepted(quint16 port);
    // Counts `connection` until its socket closes or the object goes, whichever comes first.
    void countConnection(QAbstractSocket *connection);
    // Qt paused `server`, listening on `port`, after a failed accept whose errno was `error`.
    void acceptError(QTcpServer *server, quint16 port, int error);
    // Pauses every port at the bound or resumes them below it; `method` names the caller in the
    // log line. Called whenever the open connections or the listening ports change.
    void updateAccepting(const char *method);
    // A stall ends, without a line, once no listening port has a client waiting: its clients went
    // with a port that closed or moved. Called wherever that may have happened.
    void endStallWithoutClients();

    CPipeTurns &turns() { return pipeTurns; }

private:
    // A counted connection's socket has closed; resumes accepting on every port when due.
    void connectionClosed();
    // Resumes the ports that a failed accept paused, unless the bound holds them.
    void retryAccepting();
    // A client waits in the listen backlog of `server`.
    static bool clientWaiting(const QTcpServer *server);
    void pauseAllServers();
    void resumeAllServers();
    void resume(QTcpServer *server);

    QList<QTcpServer *> servers;
    // Servers paused by a failed accept, resumed by the retry.
    QSet<QTcpServer *> failedServers;
    int openClients = 0;
    int boundOverride = 0;
    bool acceptingPaused = false;
    bool descriptorsExhausted = false;
    QTimer retryTimer;
    CPipeTurns pipeTurns;
};
