#include "CPipeTurns.h"

void CPipeTurns::join(const QString &devEui, CTransparentPipe *pipe)
{
    waitingClients[devEui].append(pipe);
}

void CPipeTurns::leave(const QString &devEui, CTransparentPipe *pipe)
{
    const auto waiting = waitingClients.find(devEui);
    if (waiting != waitingClients.end() && waiting->removeAll(pipe) > 0 && waiting->isEmpty())
        waitingClients.erase(waiting);
}

void CPipeTurns::serve(const QString &devEui, const std::function<bool()> &roomLeft,
                       const std::function<bool(CTransparentPipe *)> &takeTurn)
{
    const auto waiting = waitingClients.find(devEui);
    if (waiting == waitingClients.end())
        return;
    while (!waiting->isEmpty() && roomLeft()) {
        CTransparentPipe *client = waiting->takeFirst();
        if (takeTurn(client))
            waiting->append(client);
    }
    if (waiting->isEmpty())
        waitingClients.erase(waiting);
}

bool CPipeTurns::startLingering()
{
    if (lingeringConnections >= MaxLingeringConnections)
        return false;
    ++lingeringConnections;
    return true;
}

void CPipeTurns::stopLingering()
{
    --lingeringConnections;
}
