#include "CDataBaseHandler.h"
#include "RegisterImageText.h"
#include "StorageFixture.h"
#include "TestDevice.h"
#include "TestRegister.h"

#include <QtTest>

#include <memory>

// Devices whose registers overlap on one port, in a file of their own: the register image is the
// same through the port's cached rows and through the range statement, whatever plan SQLite
// picks once a database tool has run ANALYZE on the file.
class tst_StorageOverlap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void overlap_data();
    void overlap();
    void overlapAfterAnalyze_data();
    void overlapAfterAnalyze();

private:
    void compareBothPaths();

    std::unique_ptr<StorageFixture> fixture;
    CDataBaseHandler *storage = nullptr;
};

namespace {

constexpr quint16 Port = 5060;

// The addresses of the port's first two rows as a statement without an order reads them (with a
// column that the index does not hold, as the handler's statements read every column).
QStringList unorderedAddresses(SideConnection &side)
{
    return side.column(QStringLiteral("SELECT reg_addr, value FROM dev_data WHERE port=5060;"))
        .mid(0, 2);
}

} // namespace

void tst_StorageOverlap::initTestCase()
{
    fixture = std::make_unique<StorageFixture>();
    QVERIFY(fixture->isValid());
    storage = fixture->storage;

    // X, registered first: a 16-bit register at 322. W, registered later: a 64-bit value at
    // 320-323 and 56 registers after it, so that the port's rows are mostly W's.
    QVERIFY(storage->registerNewDevice(
        testDevice(QStringLiteral("X0000001"), Port, 322, {testRegister(0)}), ProtocolModbus));
    QList<DB::SRegisterDescription> wide{testRegister(0, 64)};
    for (quint32 offset = 4; offset < 60; ++offset)
        wide.append(testRegister(offset));
    QVERIFY(storage->registerNewDevice(testDevice(QStringLiteral("W0000001"), Port, 320, wide),
                                       ProtocolModbus));
    QVERIFY(saveTestValues(storage, QStringLiteral("X0000001"), 322, {{"ABCD", "ABCD", 0}}));
    QVERIFY(saveTestValues(storage, QStringLiteral("W0000001"), 320,
                           {{"0102", "0102030405060708", 0},
                            {"0304", "", 1},
                            {"0506", "", 2},
                            {"0708", "", 3},
                            {"2424", "2424", 4}}));
    QCOMPARE(fixture->log.lines(), QStringList());
}

void tst_StorageOverlap::cleanupTestCase()
{
    fixture.reset();
}

void tst_StorageOverlap::overlap_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("count");
    QTest::addColumn<QString>("image");

    // Rows by address, then by registration: X's register at 322 comes after W's value at 320.
    QTest::addRow("overlapped register alone") << 322u << 1u << "322=abcd";
    QTest::addRow("whole 64-bit value") << 320u << 4u << "320=0102 321=0304 322=abcd 323=0708";
    QTest::addRow("from inside the value") << 321u << 2u << "321=0304 322=abcd";
    QTest::addRow("value's last word and the next register") << 323u << 2u << "323=0708 324=2424";
}

void tst_StorageOverlap::overlap()
{
    // Without statistics, a statement without an order reads through the port's index.
    QCOMPARE(unorderedAddresses(*fixture->side), QStringList({"320", "322"}));
    compareBothPaths();
}

void tst_StorageOverlap::overlapAfterAnalyze_data()
{
    overlap_data();
}

void tst_StorageOverlap::overlapAfterAnalyze()
{
    QVERIFY2(fixture->side->exec(QStringLiteral("ANALYZE;")),
             qPrintable(fixture->side->lastError()));
    SideConnection::waitUntilSeen();
    // The statistics make a statement without an order scan the table in registration order.
    QCOMPARE(unorderedAddresses(*fixture->side), QStringList({"322", "320"}));
    compareBothPaths();
}

void tst_StorageOverlap::compareBothPaths()
{
    QFETCH(quint32, start);
    QFETCH(quint32, count);
    QFETCH(QString, image);

    QCOMPARE(registerImageBothWays(storage, Port, start, count), image);
    QCOMPARE(fixture->log.lines(), QStringList());
}

QTEST_GUILESS_MAIN(tst_StorageOverlap)
#include "tst_storage_overlap.moc"
