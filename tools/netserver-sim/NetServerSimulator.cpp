#include "NetServerSimulator.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {
QJsonObject device(const char *devEui, const char *appEui, const char *name)
{
    return QJsonObject{
        {QStringLiteral("devEui"), QLatin1String(devEui)},
        {QStringLiteral("devName"), QLatin1String(name)},
        {QStringLiteral("OTAA"), QJsonObject{{QStringLiteral("appEui"), QLatin1String(appEui)}}}};
}

QJsonObject uplink(const char *type, const char *devEui, int port, const char *data, int rssi,
                   double snr)
{
    return QJsonObject{{QStringLiteral("type"), QLatin1String(type)},
                       {QStringLiteral("devEui"), QLatin1String(devEui)},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("data"), QLatin1String(data)},
                       {QStringLiteral("ack"), false},
                       {QStringLiteral("freq"), 868900000},
                       {QStringLiteral("dr"), 5},
                       {QStringLiteral("rssi"), rssi},
                       {QStringLiteral("snr"), snr},
                       {QStringLiteral("gatewayId"), QStringLiteral("0016c001ff10a235+1")}};
}
} // namespace

NetServerSimulator::NetServerSimulator(QObject *parent) : QObject(parent)
{
    connect(&core, &NetServerCore::activity, this, &NetServerSimulator::log);
    connect(&core, &NetServerCore::downlinkReceived, this, &NetServerSimulator::printDownlink);
    connect(&core, &NetServerCore::loginAccepted, this, [this]() {
        if (!pushTimer.isActive() && nextUplink < uplinks.size())
            pushTimer.start();
    });
    connect(&pushTimer, &QTimer::timeout, this, &NetServerSimulator::pushNext);
}

bool NetServerSimulator::start(const SOptions &options)
{
    QJsonArray devices = builtInDevices();
    QString error;
    if (!options.devicesFile.isEmpty() && !readDevicesFile(options.devicesFile, &devices, &error)) {
        log(error);
        return false;
    }
    uplinks = builtInUplinks();
    if (!options.uplinksFile.isEmpty() && !readUplinksFile(options.uplinksFile, &uplinks, &error)) {
        log(error);
        return false;
    }
    once = options.once;
    core.setCredentials(options.login, options.password);
    core.setDevicesList(devices);
    core.setRememberUplinks(true);
    pushTimer.setInterval(options.periodMs);
    if (!core.listen(options.address, options.port)) {
        log(QStringLiteral("cannot listen on %1 port %2: %3")
                .arg(options.address.toString(), QString::number(options.port),
                     core.errorString()));
        return false;
    }
    log(QStringLiteral("listening on %1").arg(core.url()));
    log(QStringLiteral("accepting the login \"%1\"; %2 device(s), %3 uplink(s) every %4 ms%5")
            .arg(options.login, QString::number(devices.size()), QString::number(uplinks.size()),
                 QString::number(options.periodMs), once ? QStringLiteral(", once") : QString()));
    return true;
}

QJsonArray NetServerSimulator::builtInDevices()
{
    return QJsonArray{device("70B3D5E75E000001", "70B3D5E75F000001", "sim-meter-1"),
                      device("70B3D5E75E000002", "70B3D5E75F000001", "sim-meter-2"),
                      device("70B3D5E75E000003", "70B3D5E75F000003", "sim-tcp-1")};
}

QList<QJsonObject> NetServerSimulator::builtInUplinks()
{
    return {uplink("UNCONF_UP", "70B3D5E75E000001", 2, "0100fa03e8", -87, 7.5),
            uplink("CONF_UP", "70B3D5E75E000002", 2, "0100c8044c", -101, -2.25),
            uplink("UNCONF_UP", "70B3D5E75E000003", 2, "0101010548656c6c6f", -95, 3.0),
            uplink("UNCONF_UP+MAC_LINKCHECK_REQ", "70B3D5E75E000001", 2, "0100fb03e9", -88, 7.0)};
}

bool NetServerSimulator::readDevicesFile(const QString &path, QJsonArray *devices, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the device list %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (document.isArray()) {
        *devices = document.array();
        return true;
    }
    if (document.isObject() && document.object().value(QStringLiteral("devices_list")).isArray()) {
        *devices = document.object().value(QStringLiteral("devices_list")).toArray();
        return true;
    }
    *error = QStringLiteral("the device list %1 is neither an array nor an object with "
                            "\"devices_list\" (%2)")
                 .arg(path, parseError.errorString());
    return false;
}

bool NetServerSimulator::readUplinksFile(const QString &path, QList<QJsonObject> *uplinks,
                                         QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the uplinks %1: %2").arg(path, file.errorString());
        return false;
    }
    QList<QJsonObject> read;
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject()) {
            *error = QStringLiteral("%1 line %2 is not a JSON object (%3)")
                         .arg(path, QString::number(lineNumber), parseError.errorString());
            return false;
        }
        read.append(document.object());
    }
    if (read.isEmpty()) {
        *error = QStringLiteral("%1 holds no uplink").arg(path);
        return false;
    }
    *uplinks = read;
    return true;
}

void NetServerSimulator::pushNext()
{
    if (core.loggedInCount() == 0)
        return;
    QJsonObject next = uplinks.at(nextUplink);
    const QString devEui = next.value(QStringLiteral("devEui")).toString();
    if (!next.contains(QStringLiteral("ts")))
        next.insert(QStringLiteral("ts"), QDateTime::currentMSecsSinceEpoch());
    quint32 &counter = frameCounters[devEui.toUpper()];
    if (!next.contains(QStringLiteral("fcnt")))
        next.insert(QStringLiteral("fcnt"), static_cast<qint64>(counter));
    ++counter;
    core.pushUplink(next);
    if (++nextUplink < uplinks.size())
        return;
    nextUplink = 0;
    if (once) {
        pushTimer.stop();
        nextUplink = uplinks.size();
        log(QStringLiteral("every uplink pushed once; still serving"));
    }
}

void NetServerSimulator::printDownlink(const QString &devEui, const QString &data, int port,
                                       bool ack)
{
    out << "downlink devEui=" << devEui << " port=" << port << " ack=" << (ack ? "true" : "false")
        << " data=" << data << Qt::endl;
    log(QStringLiteral("downlink to %1: %2").arg(devEui, data));
}

void NetServerSimulator::log(const QString &line)
{
    err << '[' << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")) << "] "
        << line << Qt::endl;
}
