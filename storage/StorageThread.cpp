#include "StorageThread.h"

#include <QObject>
#include <QThread>

QThread *startStorageThread(QObject *storage)
{
    auto *thread = new QThread();
    storage->moveToThread(thread);
    thread->start(QThread::InheritPriority);
    while (!thread->isRunning())
        QThread::msleep(30);
    return thread;
}
