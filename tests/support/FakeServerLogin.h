#pragma once

#include "CServerHandler.h"
#include "FakeNetworkServer.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

// Connects the link to the fake server with the login it accepts and waits until the link reports
// SUCCESS. For tests that link the server link's library.
inline bool logInToFake(CServerHandler *link, FakeNetworkServer &fake, int timeoutMs = 10000)
{
    QSignalSpy status(link, &CServerHandler::changeServerStatus);
    link->connectSlot(fake.url(), QStringLiteral("admin"), QStringLiteral("admin"));
    return QTest::qWaitFor(
        [&status] {
            return std::any_of(status.cbegin(), status.cend(), [](const QList<QVariant> &args) {
                return args.at(0).value<COMM::EServerStatus>() == COMM::Success;
            });
        },
        timeoutMs);
}
