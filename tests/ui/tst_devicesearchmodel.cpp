#include "CDeviceSearchModel.h"

#include <QStandardItemModel>
#include <QTest>

// The device name filter of the device forms.
class TestDeviceSearchModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void filtersByName_data();
    void filtersByName();
    void otherColumnsDoNotMatch();
    void changingTheTextRefilters();
    void laterRowsAreFiltered();

private:
    void appendDevice(const QString &name, const QString &devEui = QString());
    QStringList shownNames() const;

    QStandardItemModel source{0, 6};
    CDeviceSearchModel proxy{nullptr};
};

void TestDeviceSearchModel::appendDevice(const QString &name, const QString &devEui)
{
    const int row = source.rowCount();
    source.insertRow(row);
    source.setData(source.index(row, 1), name, Qt::EditRole);
    source.setData(source.index(row, 2), QStringLiteral("70B3D5E75E000001"), Qt::EditRole);
    source.setData(source.index(row, 3), devEui, Qt::EditRole);
}

QStringList TestDeviceSearchModel::shownNames() const
{
    QStringList names;
    for (int row = 0; row < proxy.rowCount(); ++row)
        names << proxy.index(row, 1).data().toString();
    return names;
}

void TestDeviceSearchModel::init()
{
    source.setRowCount(0);
    proxy.setSourceModel(&source);
    proxy.setSearchValue(QString());
    appendDevice(QStringLiteral("Temp Sensor"));
    appendDevice(QStringLiteral("counter"));
    appendDevice(QString());
    appendDevice(QStringLiteral("SENSOR-2"));
}

void TestDeviceSearchModel::filtersByName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");

    const QStringList all = {QStringLiteral("Temp Sensor"), QStringLiteral("counter"), QString(),
                             QStringLiteral("SENSOR-2")};
    QTest::addRow("empty text shows all") << QString() << all;
    QTest::addRow("lower case") << QStringLiteral("sensor") << QStringList{all.at(0), all.at(3)};
    QTest::addRow("mixed case in the middle")
        << QStringLiteral("eNsO") << QStringList{all.at(0), all.at(3)};
    QTest::addRow("at the start") << QStringLiteral("COU") << QStringList{all.at(1)};
    QTest::addRow("at the end") << QStringLiteral("r-2") << QStringList{all.at(3)};
    QTest::addRow("whole name") << QStringLiteral("temp sensor") << QStringList{all.at(0)};
    QTest::addRow("blank between letters") << QStringLiteral("c o") << QStringList();
    QTest::addRow("letters across a blank") << QStringLiteral("pS") << QStringList();
    QTest::addRow("blank alone") << QStringLiteral(" ") << QStringList{all.at(0)};
    QTest::addRow("no match") << QStringLiteral("xyz") << QStringList();
}

void TestDeviceSearchModel::filtersByName()
{
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    proxy.setSearchValue(text);
    QCOMPARE(shownNames(), shown);
}

void TestDeviceSearchModel::otherColumnsDoNotMatch()
{
    appendDevice(QStringLiteral("valve"), QStringLiteral("AABBCCDD00112233"));
    proxy.setSearchValue(QStringLiteral("aabb"));
    QCOMPARE(proxy.rowCount(), 0);
    proxy.setSearchValue(QStringLiteral("70B3"));
    QCOMPARE(proxy.rowCount(), 0);
}

void TestDeviceSearchModel::changingTheTextRefilters()
{
    proxy.setSearchValue(QStringLiteral("counter"));
    QCOMPARE(shownNames(), QStringList{QStringLiteral("counter")});
    proxy.setSearchValue(QStringLiteral("2"));
    QCOMPARE(shownNames(), QStringList{QStringLiteral("SENSOR-2")});
    proxy.setSearchValue(QString());
    QCOMPARE(proxy.rowCount(), 4);
}

void TestDeviceSearchModel::laterRowsAreFiltered()
{
    proxy.setSearchValue(QStringLiteral("meter"));
    QCOMPARE(proxy.rowCount(), 0);
    appendDevice(QStringLiteral("Water METER"));
    appendDevice(QStringLiteral("pump"));
    QCOMPARE(shownNames(), QStringList{QStringLiteral("Water METER")});

    // A renamed row follows the text as well.
    source.setData(source.index(4, 1), QStringLiteral("pump"));
    QCOMPARE(proxy.rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestDeviceSearchModel)
#include "tst_devicesearchmodel.moc"
