#include "CDataBaseHandler.h"

CDataBaseHandler *CDataBaseHandler::self = nullptr;
bool CDataBaseHandler::failed = false;
QString CDataBaseHandler::lastError;

CDataBaseHandler::CDataBaseHandler() = default;
CDataBaseHandler::~CDataBaseHandler() = default;
CDataBaseHandler *CDataBaseHandler::getInstance()
{
    if (!self)
        self = new CDataBaseHandler();
    return self;
}
QString CDataBaseHandler::lastErrorText()
{
    return lastError;
}
bool CDataBaseHandler::registerNewDevice(const DB::SDeviceRegMapDescription &, ProtocolOption)
{
    return false;
}
bool CDataBaseHandler::deleteDevice(quint32, ProtocolOption)
{
    return false;
}
QSqlQuery CDataBaseHandler::getDevices(QString, ProtocolOption)
{
    return QSqlQuery(db);
}
QStringList CDataBaseHandler::getRegisteredDevices(ProtocolOption)
{
    return {};
}
QSqlQuery CDataBaseHandler::getRegisters(quint32)
{
    return QSqlQuery(db);
}
bool CDataBaseHandler::updateRegInfo(DB::SRegInfoUpdate)
{
    return false;
}
bool CDataBaseHandler::updateTCPRegInfo(DB::SRegInfoUpdate)
{
    return false;
}
DB::SRegisterParam CDataBaseHandler::getRegisterParam(QString, quint32)
{
    return {};
}
DB::RegisterImage CDataBaseHandler::getRegisterData(quint32, quint32, quint32, bool *ok)
{
    if (ok)
        *ok = false;
    return {};
}
void CDataBaseHandler::saveRegisterData(DB::SDbDeviceRegDataSet) {}
void CDataBaseHandler::failConstruction(const QString &, const QString &) {}
bool CDataBaseHandler::createIndexes(const QList<SIndexDefinition> &, const QString &)
{
    return false;
}
bool CDataBaseHandler::checkNewDevice(QSqlQuery &, const QString &, const QString &)
{
    return false;
}
bool CDataBaseHandler::insertDeviceRow(QSqlQuery &, const QString &,
                                       const DB::SDeviceRegMapDescription &, ProtocolOption)
{
    return false;
}
bool CDataBaseHandler::selectDeviceId(QSqlQuery &, const QString &, const QString &, quint32 &)
{
    return false;
}
bool CDataBaseHandler::insertDeviceRegisters(QSqlQuery &, quint32,
                                             const DB::SDeviceRegMapDescription &)
{
    return false;
}
