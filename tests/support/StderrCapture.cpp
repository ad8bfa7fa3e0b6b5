#include "StderrCapture.h"

#include <cstdio>
#include <unistd.h>

StderrCapture::StderrCapture()
{
    if (!file.open())
        return;
    std::fflush(stderr);
    savedFd = ::dup(STDERR_FILENO);
    ::dup2(int(file.handle()), STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    if (savedFd < 0)
        return;
    std::fflush(stderr);
    ::dup2(savedFd, STDERR_FILENO);
    ::close(savedFd);
}

QByteArray StderrCapture::text()
{
    std::fflush(stderr);
    QFile reader(file.fileName());
    return reader.open(QIODevice::ReadOnly) ? reader.readAll() : QByteArray();
}
