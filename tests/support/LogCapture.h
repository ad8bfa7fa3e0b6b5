#pragma once

#include "CLogFile.h"

#include <QObject>
#include <QStringList>

// Records every line the log singleton emits. The first LogCapture of a process creates the log
// singleton (and the settings singleton on "settings.conf") in the current working directory, so
// make it after the test's working directory is set.
class LogCapture : public QObject
{
    Q_OBJECT
public:
    LogCapture();

    // Lines emitted so far (time stamp removed), after letting queued log calls arrive.
    QStringList lines();
    void clear();
    // True when a line containing the text has arrived or arrives within the time-out.
    bool waitForLine(const QString &text, int timeoutMs = 5000);
    bool contains(const QString &text);
    int count(const QString &text);

private:
    QStringList received;
};
