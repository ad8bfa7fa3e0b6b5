#include "CAllDeviceHandler.h"

#include "CDataBaseHandler.h"
#include "CDeviceHandler.h"
#include "CLogFile.h"
#include "HexText.h"
#include "SharedConstants.h"
#include "TcpChunk.h"
#include "TemplateDecoder.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaObject>
#include <QMutexLocker>

CAllDeviceHandler *CAllDeviceHandler::self = nullptr;

namespace {

// The JSON document of a template file, or none after the parse-error line.
std::optional<QJsonDocument> parseJsonFile(QFile &file)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        addLog(QStringLiteral("ERROR: [CAllDeviceHandler] Invalid parsing JSON file [%1]: "
                              "error[%2], row[%3]")
                   .arg(file.fileName(), error.errorString(), QString::number(error.offset)));
        return std::nullopt;
    }
    return document;
}

// Devices are keyed by the upper-case DevEUI, as uplinks carry it; files written before may hold a
// DevEUI in the case the server listed it.
QString deviceKey(const QString &devEui)
{
    return devEui.toUpper();
}

QString registrationKey(ProtocolOption kind, const QString &key, quint16 port)
{
    return QStringLiteral("%1/%2/%3").arg(int(kind)).arg(key).arg(port);
}

} // namespace

CAllDeviceHandler::CAllDeviceHandler() : QObject(nullptr) {}

CAllDeviceHandler::~CAllDeviceHandler() = default;

CAllDeviceHandler *CAllDeviceHandler::getInstance()
{
    if (!self) {
        auto *handler = new CAllDeviceHandler;
        handler->init();
        self = handler;
    }
    return self;
}

void CAllDeviceHandler::init()
{
    const QString folder = QDir::currentPath() + QLatin1Char('/') + FileNames::DeviceFolder;
    QDir dir(folder);
    if (!dir.exists()) {
        addLog(QStringLiteral("[CAllDeviceHandler::init] Dirrectory with device signature is not "
                              "existed"),
               CLogFile::LogInfo, true);
        return;
    }
    const QStringList names = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        addLog(
            QStringLiteral("[CAllDeviceHandler::init] Dirrectory with device signature is empty"),
            CLogFile::LogInfo, true);
        return;
    }
    qDebug() << names;

    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        if (name.contains(FileNames::TcpTemplateFile)) {
            initTCP(path);
            continue;
        }
        QFile file(path);
        if (!file.exists()) {
            addLog(QStringLiteral("File [%1] is not exist").arg(name));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            addLog(QStringLiteral("File [%1] is not opened").arg(name));
            continue;
        }
        const std::optional<QJsonDocument> document = parseJsonFile(file);
        if (!document)
            continue;
        if (document->isEmpty()) {
            addLog(QStringLiteral("File [%1] is not contans JSON document").arg(name));
            continue;
        }
        const SDeviceTemplate deviceTemplate(document->object());
        if (!deviceTemplate.valid)
            continue;
        if (deviceTemplates.contains(deviceTemplate.appEui)) {
            addLog(QStringLiteral("Device [%1] already inited. Skip").arg(deviceTemplate.appEui));
            continue;
        }
        addLog(QStringLiteral("Device [%1] inited SUCCESSULLY").arg(deviceTemplate.appEui));
        deviceTemplates.insert(deviceTemplate.appEui, deviceTemplate);
    }
}

void CAllDeviceHandler::initTCP(QString FilePath)
{
    QFile file(FilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        addLog(QStringLiteral("File [TCP.json] is not opened"));
        return;
    }
    const std::optional<QJsonDocument> document = parseJsonFile(file);
    if (!document)
        return;
    if (document->isEmpty()) {
        addLog(QStringLiteral("File [TCP.json] is not contans JSON document"));
        return;
    }
    const QJsonArray types = document->object().value(Vocabulary::Key::data).toArray();
    for (const QJsonValue &element : types) {
        const STCPDeviceTemplate tcpTemplate(element.toObject());
        if (!tcpTemplate.valid)
            continue;
        if (tcpTemplates.contains(tcpTemplate.appEui)) {
            addLog(QStringLiteral("TCP device [%1] already inited. Skip").arg(tcpTemplate.appEui));
            continue;
        }
        addLog(QStringLiteral("TCP device [%1] inited SUCCESSULLY").arg(tcpTemplate.appEui));
        tcpTemplates.insert(tcpTemplate.appEui, tcpTemplate);
    }
}

STemplateRegMap CAllDeviceHandler::getTemplateRegMap(QString appEui)
{
    const auto found = deviceTemplates.constFind(appEui);
    return found == deviceTemplates.constEnd() ? STemplateRegMap() : found->toRegMap();
}

SDeviceTypeInfo CAllDeviceHandler::getDeviceDescription(QString appEui)
{
    const auto found = deviceTemplates.constFind(appEui);
    if (found == deviceTemplates.constEnd())
        return {};
    return {found->appEui, found->devType, found->color};
}

SDeviceTypeInfo CAllDeviceHandler::getTCPDeviceDescription(QString appEui)
{
    const auto found = tcpTemplates.constFind(appEui);
    if (found == tcpTemplates.constEnd())
        return {};
    return {found->appEui, found->devType, found->color};
}

QList<SDeviceTypeInfo> CAllDeviceHandler::getDeviceTypeList()
{
    QList<SDeviceTypeInfo> list;
    for (const SDeviceTemplate &deviceTemplate : std::as_const(deviceTemplates))
        list.append({deviceTemplate.appEui, deviceTemplate.devType, deviceTemplate.color});
    return list;
}

QList<SDeviceTypeInfo> CAllDeviceHandler::getTCPDeviceTypeList()
{
    QList<SDeviceTypeInfo> list;
    for (const STCPDeviceTemplate &tcpTemplate : std::as_const(tcpTemplates))
        list.append({tcpTemplate.appEui, tcpTemplate.devType, tcpTemplate.color});
    return list;
}

bool CAllDeviceHandler::isDeviceTemplateExist(QString key)
{
    return deviceTemplates.contains(key);
}

bool CAllDeviceHandler::isTCPTemplateExist(QString key)
{
    return tcpTemplates.contains(key);
}

std::optional<ProtocolOption> CAllDeviceHandler::getPortProtocol(quint16 port)
{
    if (modbusServers.contains(port))
        return ProtocolModbus;
    if (tcpServers.contains(port))
        return ProtocolTCP;
    return std::nullopt;
}

void CAllDeviceHandler::addNewDevice(DB::SDeviceRegMapDescription _devInfo, ProtocolOption Protocol)
{
    QMutexLocker locker(&mutex);
    const QString spelling = _devInfo.devEui;
    _devInfo.devEui = deviceKey(spelling);
    QMap<quint16, CDeviceHandler *> &servers = Protocol == ProtocolTCP ? tcpServers : modbusServers;
    const quint16 port = quint16(_devInfo.port);

    CDeviceHandler *server = servers.value(port, nullptr);
    if (server) {
        addLog(QStringLiteral("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open")
                   .arg(port));
    } else {
        server = new CDeviceHandler(port, Protocol, _devInfo.devEui);
        servers.insert(port, server);
    }
    server->appendDevice(_devInfo.devEui);
    ++registrations[registrationKey(Protocol, _devInfo.devEui, port)];

    if (Protocol == ProtocolTCP) {
        if (spelling == _devInfo.devEui || !tcpDevices.contains(_devInfo.devEui))
            tcpDevices.insert(_devInfo.devEui, port);
    } else if (spelling == _devInfo.devEui || !modbusDevices.contains(_devInfo.devEui)) {
        // Of two spellings of one DevEUI the upper-case one keeps its registration, as storage
        // keeps its values.
        modbusDevices.insert(_devInfo.devEui, _devInfo);
    }
    addLog(QStringLiteral("[CAllDeviceHandler::addNewDevice] New device: DevEUI[%1], port[%2]")
               .arg(_devInfo.devEui, QString::number(port)));
}

void CAllDeviceHandler::removeDevice(QString _devEui, uint16_t _port)
{
    QMutexLocker locker(&mutex);
    _devEui = deviceKey(_devEui);
    const auto removeFrom = [&](QMap<quint16, CDeviceHandler *> &servers) {
        CDeviceHandler *server = servers.value(_port);
        server->removeDevice(_devEui);
        if (server->getServedDevices().isEmpty()) {
            servers.remove(_port);
            server->deleteLater();
        }
    };

    // The server of the device's own kind: a port may be entered for both kinds, one of them
    // waiting to listen on it. A device not registered on the port is looked for as by port alone.
    const bool ownModbus = modbusServers.contains(_port) && modbusDevices.contains(_devEui)
                           && quint16(modbusDevices.value(_devEui).port) == _port;
    const bool ownTcp = tcpServers.contains(_port) && tcpDevices.value(_devEui, -1) == _port;
    // Another spelling of the DevEUI registered there stays served.
    const auto lastRegistration = [&](ProtocolOption kind) {
        const auto found = registrations.find(registrationKey(kind, _devEui, _port));
        if (found == registrations.end())
            return true;
        if (--found.value() > 0)
            return false;
        registrations.erase(found);
        return true;
    };
    if (ownModbus || (!ownTcp && modbusServers.contains(_port))) {
        if (!lastRegistration(ProtocolModbus))
            return;
        removeFrom(modbusServers);
        // A registration of another spelling on another port stays.
        if (quint16(modbusDevices.value(_devEui).port) == _port)
            modbusDevices.remove(_devEui);
    } else if (tcpServers.contains(_port)) {
        if (!lastRegistration(ProtocolTCP))
            return;
        removeFrom(tcpServers);
        if (tcpDevices.value(_devEui, -1) == _port)
            tcpDevices.remove(_devEui);
    } else {
        addLog(QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] uncknown port [%1]!")
                   .arg(_port));
        return;
    }
    qDebug().noquote()
        << QStringLiteral("[CAllDeviceHandler::removeDevice] Delete device: DevEUI[%1], port[%2]")
               .arg(_devEui, QString::number(_port));
}

bool CAllDeviceHandler::updatePortRegisteredDevice(DB::SDeviceRegMapDescription _devInfo,
                                                   uint16_t OldPort)
{
    QMutexLocker locker(&mutex);
    const QString devEui = deviceKey(_devInfo.devEui);
    const quint16 newPort = quint16(_devInfo.port);
    if (!tcpDevices.contains(devEui)) {
        addLog(
            QStringLiteral("[CAllDeviceHandler::addNewDevice] Device DevEUI[%1] is not registered!")
                .arg(devEui));
        return false;
    }
    if (!tcpServers.contains(OldPort)) {
        addLog(QStringLiteral("WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] No TCP "
                              "server on old port [%1] of device DevEUI[%2]!")
                   .arg(QString::number(OldPort), devEui));
        return false;
    }
    const int ownPort = tcpDevices.value(devEui);
    if (ownPort != OldPort) {
        // The server there is another device's.
        addLog(QStringLiteral("WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Old port "
                              "[%1] is not the port [%2] of device DevEUI[%3]!")
                   .arg(QString::number(OldPort), QString::number(ownPort), devEui));
        return false;
    }
    if (newPort == OldPort) {
        addLog(QStringLiteral("WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Device "
                              "DevEUI[%1] is already on port [%2]!")
                   .arg(devEui, QString::number(newPort)));
        return false;
    }
    if (tcpServers.contains(newPort) || modbusServers.contains(newPort)) {
        addLog(QStringLiteral("WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Port [%1] "
                              "is already used by another device!")
                   .arg(newPort));
        return false;
    }

    CDeviceHandler *server = tcpServers.value(OldPort);
    // A new port that cannot be listened on keeps the device on its old one.
    if (!server->appendDevice(newPort))
        return false;
    tcpServers.remove(OldPort);
    tcpServers.insert(newPort, server);
    tcpDevices.insert(devEui, newPort);
    const int moved = registrations.take(registrationKey(ProtocolTCP, devEui, OldPort));
    registrations.insert(registrationKey(ProtocolTCP, devEui, newPort), qMax(1, moved));
    addLog(QStringLiteral("[CAllDeviceHandler::addNewDevice] Device DevEUI[%1] updated is new "
                          "port[%2]!")
               .arg(devEui, QString::number(newPort)));
    return true;
}

void CAllDeviceHandler::newPacketReceivedSlot(API::SApiDeviceData _devData)
{
    QMutexLocker locker(&mutex);
    const bool isModbus = modbusDevices.contains(_devData.devEui);
    const bool isTcp = tcpDevices.contains(_devData.devEui);
    if (!isModbus && !isTcp)
        return;
    if (_devData.data.isEmpty())
        return;
    if (isTcp && TcpChunk::isChunkType(quint8(_devData.data.at(0)))) {
        parsingDataFromDevice(_devData);
        return;
    }
    if (isModbus)
        processDataSlot(_devData);
}

void CAllDeviceHandler::processDataSlot(API::SApiDeviceData _devData)
{
    addLog(QStringLiteral("INFO: [CAllDeviceHandler::processDataSlot] Recived data [%1] from "
                          "device [%2].")
               .arg(hexText(_devData.data), _devData.devEui));

    const DB::SDeviceRegMapDescription registration = modbusDevices.value(_devData.devEui);
    const SDeviceTemplate deviceTemplate = deviceTemplates.value(registration.appEui);
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();

    const auto scaling = [&](quint32 regAddr) {
        return storage ? storage->getRegisterParam(_devData.devEui, regAddr) : DB::SRegisterParam();
    };
    const auto log = [](const QString &line) {
        addLog(line);
    };
    const std::optional<DB::SDbDeviceRegDataSet> regData
        = TemplateDecoder::decode(deviceTemplate, _devData, registration.startAddr, scaling, log);
    if (!regData)
        return;

    const bool invoked
        = storage
          && QMetaObject::invokeMethod(storage, "saveRegisterData", Qt::BlockingQueuedConnection,
                                       Q_ARG(DB::SDbDeviceRegDataSet, *regData));
    if (!invoked)
        addLog(QStringLiteral("Invalid invokeMethod creation!"), CLogFile::LogError);
    emit newDataForDevice(_devData.devEui);
}

void CAllDeviceHandler::parsingDataFromDevice(API::SApiDeviceData _devData)
{
    addLog(QStringLiteral("INFO: [CAllDeviceHandler::Parse_Data_from_Device] Recived data [%1] "
                          "from device [%2].")
               .arg(hexText(_devData.data), _devData.devEui));

    QString error;
    const std::optional<TcpChunk::SChunk> chunk = TcpChunk::parse(_devData.data, &error);
    if (!chunk) {
        addLog(QStringLiteral("ERROR: [CAllDeviceHandler::Parse_Data_from_Device] %1 of device "
                              "[%2]. Data discarded.")
                   .arg(error, _devData.devEui));
        return;
    }
    CDeviceHandler *server = tcpServers.value(quint16(tcpDevices.value(_devData.devEui)), nullptr);
    if (server)
        server->sendTCPData(chunk->data, chunk->word);
}
