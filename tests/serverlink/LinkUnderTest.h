#pragma once

#include "CServerHandler.h"
#include "EServerStatus.h"

#include <QList>
#include <QSignalSpy>

// A link of its own for each test, with the periods a test needs. The shipped 100 ms of a
// downlink stay; the other periods default to long ones so they never fire by accident.
class LinkUnderTest : public CServerHandler
{
public:
    explicit LinkUnderTest(SIntervals periods = longPeriods()) { setIntervals(periods); }

    static SIntervals longPeriods()
    {
        SIntervals periods;
        periods.pingTimeout = 600000;
        periods.answerTimeout = 600000;
        periods.reconnect = 600000;
        periods.connectTimeout = 600000;
        periods.response = 600000;
        periods.keepAlivePing = 600000;
        periods.keepAliveSilence = 600000;
        return periods;
    }
};

// The statuses a spy on changeServerStatus has recorded, as numbers.
inline QList<int> statuses(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &arguments : spy)
        values.append(static_cast<int>(arguments.at(0).value<COMM::EServerStatus>()));
    return values;
}
