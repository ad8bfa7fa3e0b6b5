#pragma once

#include "DebugCapture.h"
#include "FakeNetworkServer.h"
#include "LinkUnderTest.h"

#include <QSignalSpy>

#include <memory>

// One test's fake server and link, with spies on the link's signals and the debug stream.
struct LinkFixture
{
    explicit LinkFixture(CServerHandler::SIntervals periods = LinkUnderTest::longPeriods());

    // Replaces the link (and its spies) by one with other periods.
    void makeLink(CServerHandler::SIntervals periods);
    // Connects with the fake's default login and waits for the verified state.
    bool login();
    // The fake sends a text that no state reads and waits for the link's trace of it: every
    // text sent before has then been handled.
    bool barrier();
    // The fake pushes an uplink with this DevEUI and waits for the link to emit it.
    bool uplinkBarrier(const QString &devEui = QStringLiteral("BA22"));
    QList<int> seenStatuses() const { return statuses(*statusSpy); }

    static const QString NotAnObject;

    std::unique_ptr<DebugCapture> debug = std::make_unique<DebugCapture>();
    std::unique_ptr<FakeNetworkServer> fake = std::make_unique<FakeNetworkServer>();
    std::unique_ptr<LinkUnderTest> link;
    std::unique_ptr<QSignalSpy> statusSpy;
    std::unique_ptr<QSignalSpy> packetSpy;
    std::unique_ptr<QSignalSpy> devicesSpy;
};
