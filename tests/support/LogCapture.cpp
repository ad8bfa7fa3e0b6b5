#include "LogCapture.h"

#include "CSettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {
QString withoutStamp(const QString &entry)
{
    // An entry is "[dd-MMM-yy HH:mm:ss.zzz]text".
    const int close = entry.indexOf(QLatin1Char(']'));
    return entry.startsWith(QLatin1Char('[')) && close > 0 ? entry.mid(close + 1) : entry;
}
} // namespace

LogCapture::LogCapture()
{
    CSettings::getInstance(QStringLiteral("settings.conf"));
    CLogFile *log = CLogFile::getInstance(QStringLiteral("history"), QString());
    connect(log, &CLogFile::addLogSignal, this,
            [this](const QString &entry, CLogFile::ELogMessageType) {
                received.append(withoutStamp(entry));
            });
}

QStringList LogCapture::lines()
{
    QCoreApplication::processEvents();
    return received;
}

void LogCapture::clear()
{
    QCoreApplication::processEvents();
    received.clear();
}

bool LogCapture::contains(const QString &text)
{
    return count(text) > 0;
}

int LogCapture::count(const QString &text)
{
    int n = 0;
    for (const QString &line : lines())
        if (line.contains(text))
            ++n;
    return n;
}

bool LogCapture::waitForLine(const QString &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (contains(text))
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}
