#include "CPipeTurns.h"

#include <QtTest>

#include <array>

// The turns of the transparent clients alone: one turn each in order while the link has room, a
// client leaves when it has nothing more, and a bounded number may linger.
class tst_PipeTurns : public QObject
{
    Q_OBJECT
private slots:
    void serve_data();
    void serve();
    void leaveKeepsTheOthersInOrder();
    void lingeringIsBounded();
};

namespace {

const QString DevEui = QStringLiteral("E000000000000001");
const QString OtherEui = QStringLiteral("E000000000000002");

// Stand-ins for the pipes: the turns only keep and hand back their addresses.
struct SClients
{
    std::array<char, 4> tokens{};
    CTransparentPipe *pipe(int i) { return reinterpret_cast<CTransparentPipe *>(&tokens[i]); }
    int index(CTransparentPipe *pipe) const
    {
        return int(reinterpret_cast<const char *>(pipe) - tokens.data());
    }
};

// Serves the turns of DevEui while fewer than `room` turns were taken; each client sends one of
// its `left` downlinks per turn, as the pipe does. Returns the clients in the order served.
QList<int> serveTurns(CPipeTurns &turns, SClients &clients, QList<int> &left, int room)
{
    QList<int> served;
    turns.serve(
        DevEui, [&] { return served.size() < room; },
        [&](CTransparentPipe *pipe) {
            const int i = clients.index(pipe);
            served.append(i);
            if (left[i] > 0)
                --left[i];
            return left[i] > 0;
        });
    return served;
}

} // namespace

void tst_PipeTurns::serve_data()
{
    QTest::addColumn<QList<int>>("downlinks");
    QTest::addColumn<int>("room");
    QTest::addColumn<QList<int>>("first");
    QTest::addColumn<QList<int>>("second");
    QTest::addRow("one client") << QList<int>{3} << 10 << QList<int>{0, 0, 0} << QList<int>{};
    QTest::addRow("three clients in turn")
        << QList<int>{2, 1, 3} << 10 << QList<int>{0, 1, 2, 0, 2, 2} << QList<int>{};
    // The rest waits for the next downlink to leave the link's queue, in the same order.
    QTest::addRow("room for three turns")
        << QList<int>{3, 3} << 3 << QList<int>{0, 1, 0} << QList<int>{1, 0, 1};
    // A client that gives nothing leaves after its turn, and the loop ends.
    QTest::addRow("a client without bytes")
        << QList<int>{0, 2} << 10 << QList<int>{0, 1, 1} << QList<int>{};
}

void tst_PipeTurns::serve()
{
    QFETCH(QList<int>, downlinks);
    QFETCH(int, room);
    QFETCH(QList<int>, first);
    QFETCH(QList<int>, second);

    CPipeTurns turns;
    SClients clients;
    for (int i = 0; i < downlinks.size(); ++i)
        turns.join(DevEui, clients.pipe(i));
    turns.join(OtherEui, clients.pipe(3));

    QList<int> left = downlinks;
    QCOMPARE(serveTurns(turns, clients, left, room), first);
    QCOMPARE(serveTurns(turns, clients, left, room), second);
    // Every client has left; the other device's turns are untouched.
    QCOMPARE(serveTurns(turns, clients, left, room), QList<int>{});
    int otherTurns = 0;
    turns.serve(
        OtherEui, [] { return true; },
        [&](CTransparentPipe *pipe) {
            otherTurns += clients.index(pipe) == 3 ? 1 : 100;
            return false;
        });
    QCOMPARE(otherTurns, 1);
}

void tst_PipeTurns::leaveKeepsTheOthersInOrder()
{
    CPipeTurns turns;
    SClients clients;
    for (int i = 0; i < 3; ++i)
        turns.join(DevEui, clients.pipe(i));
    turns.leave(DevEui, clients.pipe(1));
    // Leaving twice or another device's turns changes nothing.
    turns.leave(DevEui, clients.pipe(1));
    turns.leave(OtherEui, clients.pipe(0));

    QList<int> left{1, 1, 1};
    QCOMPARE(serveTurns(turns, clients, left, 10), (QList<int>{0, 2}));
}

void tst_PipeTurns::lingeringIsBounded()
{
    CPipeTurns turns;
    for (int i = 0; i < CPipeTurns::MaxLingeringConnections; ++i)
        QVERIFY(turns.startLingering());
    QVERIFY(!turns.startLingering());
    turns.stopLingering();
    QVERIFY(turns.startLingering());
    QVERIFY(!turns.startLingering());
}

QTEST_GUILESS_MAIN(tst_PipeTurns)
#include "tst_pipeturns.moc"
