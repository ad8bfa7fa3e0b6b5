#pragma once

#include "LogCapture.h"
#include "SideConnection.h"
#include "TempWorkDir.h"

#include <memory>

class CDataBaseHandler;
class QThread;

// The storage as start-up makes it, on a new database file in a fresh working directory: made in
// this thread, then moved to a thread of its own, with the log captured and a side connection open
// on the file. The thread is stopped when the fixture goes.
class StorageFixture
{
public:
    StorageFixture();
    ~StorageFixture();
    StorageFixture(const StorageFixture &) = delete;
    StorageFixture &operator=(const StorageFixture &) = delete;

    // False when the directory, the storage or the side connection could not be made.
    bool isValid() const;

    TempWorkDir work;
    LogCapture log;
    CDataBaseHandler *storage = nullptr;
    std::unique_ptr<SideConnection> side;

private:
    QThread *thread = nullptr;
};
