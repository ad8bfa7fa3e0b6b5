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

#include <algorithm>

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

QMap<quint16, CDeviceHandler *> &CAllDeviceHandler::serversOf(ProtocolOption kind)
{
    return kind == ProtocolTCP ? tcpServers : modbusServers;
}

QHash<QString, CAllDeviceHandler::Registrations> &
CAllDeviceHandler::registrationsOf(ProtocolOption kind)
{
    return kind == ProtocolTCP ? tcpRegistrations : modbusRegistrations;
}

void CAllDeviceHandler::chooseRegistration(ProtocolOption kind, const QString &key)
{
    const Registrations found = registrationsOf(kind).value(key);
    if (found.isEmpty()) {
        if (kind == ProtocolTCP)
            tcpDevices.remove(key);
        else
            modbusDevices.remove(key);
        return;
    }
    // The spelling uplinks carry, else the one registered first. Storage is handed the chosen
    // spelling and finds that very row, so values and scaling are of the device decoded.
    const auto upper = std::find_if(found.cbegin(), found.cend(),
                                    [&key](const auto &each) { return each.devEui == key; });
    const DB::SDeviceRegMapDescription &chosen = upper != found.cend() ? *upper : found.first();
    if (kind == ProtocolTCP)
        tcpDevices.insert(key, chosen.port);
    else
        modbusDevices.insert(key, chosen);
}

void CAllDeviceHandler::removeRegistration(ProtocolOption kind, const QString &key, qsizetype index)
{
    QHash<QString, Registrations> &all = registrationsOf(kind);
    Registrations &found = all[key];
    const quint16 port = quint16(found.takeAt(index).port);
    const bool portKept = std::any_of(found.cbegin(), found.cend(), [port](const auto &each) {
        return quint16(each.port) == port;
    });
    if (found.isEmpty())
        all.remove(key);
    chooseRegistration(kind, key);

    QMap<quint16, CDeviceHandler *> &servers = serversOf(kind);
    if (!portKept) {
        if (CDeviceHandler *server = servers.value(port, nullptr)) {
            server->removeDevice(key);
            if (server->getServedDevices().isEmpty()) {
                servers.remove(port);
                server->deleteLater();
            }
        }
    }
    qDebug().noquote()
        << QStringLiteral("[CAllDeviceHandler::removeDevice] Delete device: DevEUI[%1], port[%2]")
               .arg(key, QString::number(port));
}

void CAllDeviceHandler::addNewDevice(DB::SDeviceRegMapDescription _devInfo, ProtocolOption Protocol)
{
    QMutexLocker locker(&mutex);
    const QString key = deviceKey(_devInfo.devEui);
    QMap<quint16, CDeviceHandler *> &servers = serversOf(Protocol);
    const quint16 port = quint16(_devInfo.port);

    CDeviceHandler *server = servers.value(port, nullptr);
    if (server) {
        addLog(QStringLiteral("INFO: [CAllDeviceHandler::addNewDevice] port [%1] is already open")
                   .arg(port));
    } else {
        server = new CDeviceHandler(port, Protocol, key);
        servers.insert(port, server);
    }
    server->appendDevice(key);
    registrationsOf(Protocol)[key].append(_devInfo);
    chooseRegistration(Protocol, key);
    addLog(QStringLiteral("[CAllDeviceHandler::addNewDevice] New device: DevEUI[%1], port[%2]")
               .arg(key, QString::number(port)));
}

void CAllDeviceHandler::removeDevice(QString _devEui, uint16_t _port)
{
    QMutexLocker locker(&mutex);
    const QString key = deviceKey(_devEui);
    // The registration on the port, of the spelling given if there is one; Modbus first, as a
    // port may be entered for both kinds, one of them waiting to listen on it.
    const auto onPort = [&](ProtocolOption kind) -> qsizetype {
        const Registrations found = registrationsOf(kind).value(key);
        qsizetype any = -1;
        for (qsizetype i = 0; i < found.size(); ++i) {
            if (quint16(found.at(i).port) != _port)
                continue;
            if (found.at(i).devEui == _devEui)
                return i;
            if (any < 0)
                any = i;
        }
        return any;
    };
    for (const ProtocolOption kind : {ProtocolModbus, ProtocolTCP}) {
        const qsizetype index = onPort(kind);
        if (index >= 0) {
            removeRegistration(kind, key, index);
            return;
        }
    }

    // Not registered on that port: the port stored may differ from the one served, after a move
    // whose write-back failed. The device's own registration is removed, when just one has the
    // spelling given, or when the DevEUI has just one registration.
    qsizetype candidates = 0;
    ProtocolOption ownKind = ProtocolModbus;
    qsizetype ownIndex = -1;
    for (const bool exact : {true, false}) {
        for (const ProtocolOption kind : {ProtocolModbus, ProtocolTCP}) {
            const Registrations found = registrationsOf(kind).value(key);
            for (qsizetype i = 0; i < found.size(); ++i) {
                if (exact && found.at(i).devEui != _devEui)
                    continue;
                ++candidates;
                ownKind = kind;
                ownIndex = i;
            }
        }
        if (candidates > 0)
            break;
    }
    if (candidates == 1) {
        const int ownPort = registrationsOf(ownKind).value(key).at(ownIndex).port;
        addLog(QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] Device DevEUI[%1] is "
                              "not registered on port [%2]: it is removed from its port [%3].")
                   .arg(key, QString::number(_port), QString::number(ownPort)));
        removeRegistration(ownKind, key, ownIndex);
        return;
    }
    if (modbusServers.contains(_port) || tcpServers.contains(_port)) {
        // The port's server serves other devices only.
        qDebug().noquote() << QStringLiteral(
                                  "[CAllDeviceHandler::removeDevice] Delete device: DevEUI[%1], "
                                  "port[%2]")
                                  .arg(key, QString::number(_port));
        return;
    }
    addLog(QStringLiteral("WARNING: [CAllDeviceHandler::removeDevice] uncknown port [%1]!")
               .arg(_port));
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
    Registrations &registrations = tcpRegistrations[devEui];
    const bool own = std::any_of(registrations.cbegin(), registrations.cend(),
                                 [OldPort](const auto &each) { return each.port == OldPort; });
    if (!own) {
        // The server there is another device's.
        addLog(
            QStringLiteral("WARNING: [CAllDeviceHandler::updatePortRegisteredDevice] Old port "
                           "[%1] is not the port [%2] of device DevEUI[%3]!")
                .arg(QString::number(OldPort), QString::number(tcpDevices.value(devEui)), devEui));
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
    for (DB::SDeviceRegMapDescription &each : registrations) {
        if (each.port == OldPort)
            each.port = newPort;
    }
    chooseRegistration(ProtocolTCP, devEui);
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

    // The DevEUI as stored, so that storage takes the row of the registration decoded.
    const auto scaling = [&](quint32 regAddr) {
        return storage ? storage->getRegisterParam(registration.devEui, regAddr)
                       : DB::SRegisterParam();
    };
    const auto log = [](const QString &line) {
        addLog(line);
    };
    std::optional<DB::SDbDeviceRegDataSet> regData
        = TemplateDecoder::decode(deviceTemplate, _devData, registration.startAddr, scaling, log);
    if (!regData)
        return;
    regData->devEui = registration.devEui;

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
