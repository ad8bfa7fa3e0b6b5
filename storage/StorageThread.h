#pragma once

class QObject;
class QThread;

// Moves the storage object to a new thread of its own (no parent), starts it with the inherited
// priority and polls every 30 ms until it runs. The thread is never stopped by the program.
QThread *startStorageThread(QObject *storage);
