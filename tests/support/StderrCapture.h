#pragma once

#include <QByteArray>
#include <QTemporaryFile>

// Sends what the process writes to standard error into a file while it lives; text() reads it.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QByteArray text();

private:
    QTemporaryFile file;
    int savedFd = -1;
};
