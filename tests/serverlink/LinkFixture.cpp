#include "LinkFixture.h"

#include <QTest>

namespace {
// Waits end as soon as what they wait for has come; the limit only matters on a failure, and is
// generous for sanitizer builds on a loaded machine.
constexpr int WaitMs = 30000;
} // namespace

const QString LinkFixture::NotAnObject
    = QStringLiteral("[CServerHandler::textMessageReceivedSlot] Uncknown input message format");

LinkFixture::LinkFixture(CServerHandler::SIntervals periods)
{
    makeLink(periods);
}

void LinkFixture::makeLink(CServerHandler::SIntervals periods)
{
    statusSpy.reset();
    packetSpy.reset();
    devicesSpy.reset();
    link = std::make_unique<LinkUnderTest>(periods);
    statusSpy = std::make_unique<QSignalSpy>(link.get(), &CServerHandler::changeServerStatus);
    packetSpy = std::make_unique<QSignalSpy>(link.get(), &CServerHandler::newPacketReceived);
    devicesSpy = std::make_unique<QSignalSpy>(link.get(), &CServerHandler::getDevicesListResp);
}

bool LinkFixture::login()
{
    link->connectSlot(fake->url(), QStringLiteral("admin"), QStringLiteral("admin"));
    return QTest::qWaitFor([&]() { return seenStatuses() == QList<int>{5, 1, 3, 0}; }, WaitMs);
}

bool LinkFixture::barrier()
{
    const int before = debug->count(NotAnObject);
    fake->sendText(QStringLiteral("barrier"));
    return QTest::qWaitFor([&]() { return debug->count(NotAnObject) > before; }, WaitMs);
}

bool LinkFixture::uplinkBarrier(const QString &devEui)
{
    const int before = packetSpy->count();
    fake->pushUplink({{"type", "CONF_UP"}, {"devEui", devEui}, {"data", "00"}});
    return QTest::qWaitFor([&]() { return packetSpy->count() > before; }, WaitMs);
}
