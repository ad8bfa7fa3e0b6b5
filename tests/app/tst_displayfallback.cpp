#include "DisplayFallback.h"

#include <QByteArrayList>
#include <QTest>

#include <vector>

// When the start takes the offscreen platform: the display variables and the platform named in
// the environment or on the command line, read as Qt reads them.
class TestDisplayFallback : public QObject
{
    Q_OBJECT

private slots:
    void decision_data();
    void decision();
};

namespace {

const QByteArrayList Variables = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

// Puts the variables back as they were.
class EnvironmentGuard
{
public:
    EnvironmentGuard()
    {
        for (const QByteArray &name : Variables)
            saved.append({name, qEnvironmentVariableIsSet(name.constData()), qgetenv(name)});
    }
    ~EnvironmentGuard()
    {
        for (const SSaved &entry : saved) {
            if (entry.set)
                qputenv(entry.name.constData(), entry.value);
            else
                qunsetenv(entry.name.constData());
        }
    }

private:
    struct SSaved
    {
        QByteArray name;
        bool set = false;
        QByteArray value;
    };
    QList<SSaved> saved;
};

} // namespace

void TestDisplayFallback::decision_data()
{
    // "NAME=value" of the variables that are set; the others are unset.
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("offscreen");

    QTest::addRow("no display, no platform") << QStringList() << QStringList() << true;
    QTest::addRow("WAYLAND_DISPLAY only")
        << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-0")} << QStringList() << false;
    // Qt takes an empty value for none.
    QTest::addRow("empty DISPLAY and QT_QPA_PLATFORM")
        << QStringList{QStringLiteral("DISPLAY="), QStringLiteral("QT_QPA_PLATFORM=")}
        << QStringList() << true;
    QTest::addRow("--platform with a name")
        << QStringList() << QStringList{QStringLiteral("--platform"), QStringLiteral("vnc")}
        << false;
    // Qt ignores the option without its name.
    QTest::addRow("-platform without a name")
        << QStringList() << QStringList{QStringLiteral("-platform")} << true;
    // Qt's X11 platform connects to the display named on the command line.
    QTest::addRow("-display with a name")
        << QStringList() << QStringList{QStringLiteral("-display"), QStringLiteral(":87")} << false;
    QTest::addRow("--display with a name")
        << QStringList() << QStringList{QStringLiteral("--display"), QStringLiteral(":87")}
        << false;
    QTest::addRow("-display without a name")
        << QStringList() << QStringList{QStringLiteral("-display")} << true;
    QTest::addRow("-platformtheme is no platform")
        << QStringList() << QStringList{QStringLiteral("-platformtheme"), QStringLiteral("gtk3")}
        << true;
}

void TestDisplayFallback::decision()
{
#if !defined(Q_OS_UNIX) || defined(Q_OS_DARWIN) || defined(Q_OS_ANDROID)
    QSKIP("The platform is left to Qt on this system.");
#endif
    QFETCH(QStringList, variables);
    QFETCH(QStringList, args);
    QFETCH(bool, offscreen);

    EnvironmentGuard guard;
    for (const QByteArray &name : Variables)
        qunsetenv(name.constData());
    for (const QString &variable : variables)
        qputenv(variable.section(QLatin1Char('='), 0, 0).toLatin1().constData(),
                variable.section(QLatin1Char('='), 1).toLocal8Bit());

    QByteArrayList bytes{"lora-brindle"};
    for (const QString &arg : args)
        bytes.append(arg.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &arg : bytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    QCOMPARE(needsOffscreenPlatform(int(bytes.size()), argv.data()), offscreen);
}

QTEST_GUILESS_MAIN(TestDisplayFallback)
#include "tst_displayfallback.moc"
