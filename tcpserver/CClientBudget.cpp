#include "CClientBudget.h"

#include "CDescriptorLimit.h"
#include "CLogFile.h"

#include <QAbstractSocket>
#include <QTcpServer>

#include <algorithm>
#include <cerrno>
#include <memory>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

CClientBudget &CClientBudget::shared()
{
    // Never deleted: connections may outlive every server, up to the end of the program.
    static CClientBudget *const budget = new CClientBudget;
    return *budget;
}

CClientBudget::CClientBudget()
{
    retryTimer.setSingleShot(true);
    retryTimer.setInterval(AcceptRetryMs);
    connect(&retryTimer, &QTimer::timeout, this, &CClientBudget::retryAccepting);
}

int CClientBudget::connectionBound() const
{
    return boundOverride > 0 ? boundOverride : CDescriptorLimit::connectionBound(portDescriptors());
}

int CClientBudget::portDescriptors() const
{
    return int(std::count_if(servers.cbegin(), servers.cend(), [](const QTcpServer *server) {
        return server->socketDescriptor() != -1;
    }));
}

void CClientBudget::setConnectionBound(int bound)
{
    boundOverride = qMax(0, bound);
}

int CClientBudget::resumeThreshold() const
{
    const int bound = connectionBound();
    return bound - qBound(1, bound / 20, 16);
}

void CClientBudget::addServer(QTcpServer *server)
{
    servers.append(server);
}

void CClientBudget::removeServer(QTcpServer *server)
{
    servers.removeAll(server);
    failedServers.remove(server);
    // The clients waiting for it go with it.
    endStallWithoutClients();
}

void CClientBudget::clientAccepted(quint16 port)
{
    if (!descriptorsExhausted)
        return;
    descriptorsExhausted = false;
    addLogAndPrint(QStringLiteral("INFO: [CDeviceHandler::incomingConnection] A client was "
                                  "accepted on port %1: descriptors are free again, the ports "
                                  "accept clients again.")
                       .arg(port));
    // The others wait for the retry no longer.
    retryAccepting();
}

void CClientBudget::countConnection(QAbstractSocket *connection)
{
    // Counted until the socket closes (a transparent client that lingers afterwards with bytes
    // for the link holds no descriptor), or until the object goes, whichever comes first.
    ++openClients;
    auto counted = std::make_shared<bool>(true);
    const auto release = [this, counted] {
        if (!*counted)
            return;
        *counted = false;
        connectionClosed();
    };
    // Not the connection nor its server as the context: the connection drops the connections it
    // receives before it goes, and the server may go before its clients.
    connect(connection, &QAbstractSocket::disconnected, this, release);
    connect(connection, &QObject::destroyed, this, release);
}

void CClientBudget::updateAccepting(const char *method)
{
    if (!acceptingPaused && openClients >= connectionBound()) {
        pauseAllServers();
        addLogAndPrint(QStringLiteral("WARNING: [CDeviceHandler::%1] %2 client connections are "
                                      "open, the bound that the descriptor limit allows: no port "
                                      "accepts further clients until some have closed.")
                           .arg(QLatin1String(method))
                           .arg(openClients));
    } else if (acceptingPaused && openClients <= resumeThreshold()) {
        resumeAllServers();
        addLogAndPrint(QStringLiteral("INFO: [CDeviceHandler::%1] %2 client connections are open, "
                                      "below the bound of %3: the ports accept clients again.")
                           .arg(QLatin1String(method))
                           .arg(openClients)
                           .arg(connectionBound()));
        endStallWithoutClients();
    }
}

void CClientBudget::endStallWithoutClients()
{
    // At the bound clients wait for it, not for descriptors: decided once it is left.
    if (!descriptorsExhausted || acceptingPaused)
        return;
    for (const QTcpServer *server : std::as_const(servers))
        if (server->isListening() && clientWaiting(server))
            return;
    descriptorsExhausted = false;
    retryTimer.stop();
    retryAccepting();
}

void CClientBudget::acceptError(QTcpServer *server, quint16 port, int error)
{
    // Qt also reports the error of an earlier failed accept again when the queue has merely run
    // empty (the accept's own error then says so, though a client may have come since): only a
    // real error with a client still waiting shows that the accept failed.
    if (error == EAGAIN || error == EWOULDBLOCK || !clientWaiting(server)) {
        // At the bound it waits with the others.
        if (!acceptingPaused)
            resume(server);
        endStallWithoutClients();
        return;
    }
    if (!descriptorsExhausted) {
        descriptorsExhausted = true;
        addLogAndPrint(QStringLiteral("WARNING: [CDeviceHandler::acceptErrorSlot] Port %1 can't "
                                      "accept a client: %2. %3 client connections are open: no "
                                      "port accepts further clients until descriptors are free "
                                      "again.")
                           .arg(port)
                           .arg(qt_error_string(error))
                           .arg(openClients));
    }
    // Every port would meet the same lack: all wait, and no accept is retried on every turn. Each
    // is resumed by the retry, also once another port's accept has ended the stall.
    for (QTcpServer *each : std::as_const(servers)) {
        pause(each);
        failedServers.insert(each);
    }
    retryTimer.start();
}

bool CClientBudget::clientWaiting(const QTcpServer *server)
{
#ifdef Q_OS_UNIX
    pollfd listening{int(server->socketDescriptor()), POLLIN, 0};
    return ::poll(&listening, 1, 0) > 0 && (listening.revents & POLLIN);
#else
    Q_UNUSED(server)
    return true;
#endif
}

void CClientBudget::retryAccepting()
{
    // At the bound every port stays paused; resuming there takes the stalled ones along.
    if (acceptingPaused)
        return;
    const QSet<QTcpServer *> stalled = failedServers;
    for (QTcpServer *server : stalled)
        resume(server);
    endStallWithoutClients();
}

bool CClientBudget::countExtraDescriptor()
{
    if (openClients + 1 >= connectionBound())
        return false;
    ++openClients;
    return true;
}

void CClientBudget::uncountExtraDescriptor()
{
    connectionClosed();
}

void CClientBudget::connectionClosed()
{
    --openClients;
    updateAccepting("connectionClosed");
    // A freed descriptor may be what a failed accept lacked.
    if (descriptorsExhausted)
        retryAccepting();
}

void CClientBudget::pauseAllServers()
{
    acceptingPaused = true;
    for (QTcpServer *server : std::as_const(servers))
        pause(server);
}

void CClientBudget::resumeAllServers()
{
    acceptingPaused = false;
    for (QTcpServer *server : std::as_const(servers))
        resume(server);
}

void CClientBudget::pause(QTcpServer *server)
{
    if (server->isListening())
        server->pauseAccepting();
    // Qt's accept loop goes on within its turn until no connection is pending, unless it may
    // hold no more pending ones.
    server->setMaxPendingConnections(0);
}

void CClientBudget::resume(QTcpServer *server)
{
    failedServers.remove(server);
    server->setMaxPendingConnections(MaxPendingWhileAccepting);
    // A read notifier on a socket that does not listen would report it hung up on every turn.
    if (server->isListening())
        server->resumeAccepting();
}
