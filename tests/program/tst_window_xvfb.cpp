#include "FreePort.h"
#include "ProgramFixture.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ProgramFixture;

namespace {
const QString Title = QStringLiteral("LoRa Brindle 1.1.0");

// Runs an X client tool on the display; its standard output, empty when it failed.
QString runTool(const QString &tool, const QStringList &arguments, const QString &display)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

int count(const QImage &image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) == (colour & 0xffffff))
                ++n;
    return n;
}

// Pixels of the device card: the type's colour laid at alpha 150 over a light background.
int greenCardPixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > c.red() + 40 && c.green() > c.blue() + 15)
                ++n;
        }
    return n;
}
} // namespace

// The gateway's real window on an X server (Xvfb): its title, and a screenshot with the stored
// device selected that shows the device card and the register cards.
class TestWindowXvfb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowDrawsItsCards();

private:
    QString xwininfo;
    QString xprop;
    QString display;
    QProcess xvfb;
};

void TestWindowXvfb::initTestCase()
{
    const QString server = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    xprop = QStandardPaths::findExecutable(QStringLiteral("xprop"));
    if (server.isEmpty())
        QSKIP("No X server can be started: Xvfb is not installed (Debian package xvfb).");
    if (xwininfo.isEmpty() || xprop.isEmpty())
        QSKIP("xwininfo and xprop are not installed (Debian package x11-utils).");

    // Xvfb picks a free display itself and writes its number on standard output.
    xvfb.start(server,
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(10000))
        QSKIP(qPrintable(QStringLiteral("No X server can be started: %1").arg(xvfb.errorString())));
    QByteArray number;
    while (!number.contains('\n') && xvfb.state() == QProcess::Running
           && xvfb.waitForReadyRead(30000))
        number += xvfb.readAllStandardOutput();
    if (!number.contains('\n'))
        QSKIP(qPrintable(QStringLiteral("No X server can be started: Xvfb gave no display (%1)")
                             .arg(QString::fromLocal8Bit(xvfb.readAllStandardError()))));
    display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

void TestWindowXvfb::cleanupTestCase()
{
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        if (!xvfb.waitForFinished(10000))
            xvfb.kill();
    }
}

void TestWindowXvfb::windowDrawsItsCards()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString prepared = prepareWorkDir(dir.path(), freePort(), freePort());
    QVERIFY2(prepared.isEmpty(), qPrintable(prepared));

    QProcessEnvironment env = cleanEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    QProcess gateway;
    gateway.setProcessEnvironment(env);
    gateway.setWorkingDirectory(dir.path());
    gateway.setProcessChannelMode(QProcess::MergedChannels);
    gateway.start(QStringLiteral(GATEWAY_EXECUTABLE), {});
    QVERIFY2(gateway.waitForStarted(10000), qPrintable(gateway.errorString()));

    // The top-level window with the title, found in the window tree of the display.
    const QRegularExpression windowLine(
        QStringLiteral("^\\s*(0x[0-9a-f]+) \"%1\"").arg(QRegularExpression::escape(Title)),
        QRegularExpression::MultilineOption);
    QString windowId;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(windowId = windowLine
                         .match(runTool(
                             xwininfo, {QStringLiteral("-root"), QStringLiteral("-tree")}, display))
                         .captured(1))
             .isEmpty(),
        qPrintable(QString::fromLocal8Bit(gateway.peek(gateway.bytesAvailable()))), 60000);

    const QString name = runTool(xprop,
                                 {QStringLiteral("-id"), windowId, QStringLiteral("_NET_WM_NAME"),
                                  QStringLiteral("WM_NAME")},
                                 display);
    QVERIFY2(name.contains(QStringLiteral("_NET_WM_NAME(UTF8_STRING) = \"%1\"").arg(Title)),
             qPrintable(name));
    const QRegularExpression wmName(
        QStringLiteral("(^|\\n)WM_NAME\\(\\w+\\) = \"%1\"").arg(QRegularExpression::escape(Title)));
    QVERIFY2(wmName.match(name).hasMatch(), qPrintable(name));

    const QString info = runTool(xwininfo, {QStringLiteral("-id"), windowId}, display);
    const auto field = [&info](const QString &label) {
        return QRegularExpression(label + QStringLiteral(":\\s+(-?\\d+)"))
            .match(info)
            .captured(1)
            .toInt();
    };
    const QRect frame(field(QStringLiteral("Absolute upper-left X")),
                      field(QStringLiteral("Absolute upper-left Y")),
                      field(QStringLiteral("Width")), field(QStringLiteral("Height")));
    QVERIFY2(frame.width() >= 1000 && frame.height() >= 640, qPrintable(info));

    // Painting runs after mapping: grab until the register cards are there.
    const QString shotFile = QStringLiteral(SCREENSHOT_FILE);
    QFile::remove(shotFile);
    QImage window;
    const auto grab = [&]() {
        QProcess grabber;
        QProcessEnvironment grabEnv = QProcessEnvironment::systemEnvironment();
        grabEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        grabEnv.insert(QStringLiteral("DISPLAY"), display);
        grabber.setProcessEnvironment(grabEnv);
        grabber.start(QStringLiteral(SCREEN_GRAB_HELPER), {shotFile});
        if (!grabber.waitForFinished(30000) || grabber.exitCode() != 0)
            return false;
        window = QImage(shotFile).copy(frame).convertToFormat(QImage::Format_RGB32);
        return !window.isNull() && count(window, qRgb(0xc4, 0xc6, 0xc9)) > 1000;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(grab(), qPrintable(shotFile), 60000);

    // Register cards: the selected first row, then odd and even rows.
    QVERIFY(count(window, qRgb(0x94, 0x99, 0x9d)) > 1000);
    QVERIFY(count(window, qRgb(0xc4, 0xc6, 0xc9)) > 1000);
    QVERIFY(count(window, qRgb(0xe7, 0xe8, 0xea)) > 1000);
    // The selected device's card, tinted with its type's green, at the top of the device list
    // (the green buttons below the list stay outside).
    const QImage devicePane = window.copy(250, 0, 300, 150);
    QVERIFY2(greenCardPixels(devicePane) > 1000, qPrintable(shotFile));

    QCOMPARE(gateway.state(), QProcess::Running);
    gateway.kill();
    QVERIFY(gateway.waitForFinished(10000));
}

QTEST_MAIN(TestWindowXvfb)
#include "tst_window_xvfb.moc"
