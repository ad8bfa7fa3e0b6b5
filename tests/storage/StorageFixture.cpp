#include "StorageFixture.h"

#include "CDataBaseHandler.h"
#include "StorageThread.h"

#include <QThread>

StorageFixture::StorageFixture()
{
    qRegisterMetaType<DB::SDbDeviceRegDataSet>("DB::SDbDeviceRegDataSet");
    if (!work.isValid())
        return;
    storage = CDataBaseHandler::getInstance();
    if (!storage)
        return;
    thread = startStorageThread(storage);
    side = std::make_unique<SideConnection>();
}

StorageFixture::~StorageFixture()
{
    if (thread) {
        thread->quit();
        thread->wait();
        delete thread;
    }
}

bool StorageFixture::isValid() const
{
    return storage && side && side->isOpen();
}
