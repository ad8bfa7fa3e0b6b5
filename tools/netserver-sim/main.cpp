// netserver-sim: a stand-in LoRaWAN network server for trying the gateway by hand and for the
// whole-program test.

#include "NetServerSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

namespace {
const char *const Description
    = "A stand-in LoRaWAN network server speaking the WebSocket JSON interface the gateway\n"
      "uses. It listens on one address and port, answers the probe, accepts the one login\n"
      "given here, serves a device list, answers last-packets requests with the uplinks it\n"
      "has pushed, pushes one uplink per period once a gateway has logged in (repeating the\n"
      "sequence unless --once), prints every downlink it receives on standard output\n"
      "(\"downlink devEui=... port=... ack=... data=...\") and logs what it does on standard\n"
      "error.\n"
      "\n"
      "Device list file: a JSON array of entries\n"
      "  {\"devEui\": \"...\", \"devName\": \"...\", \"OTAA\": {\"appEui\": \"...\"}}\n"
      "or an object with that array under \"devices_list\".\n"
      "Uplinks file: one JSON object per line as the server pushes it, e.g.\n"
      "  {\"type\": \"UNCONF_UP\", \"devEui\": \"70B3D5E75E000001\", \"port\": 2, \"data\": "
      "\"0100fa03e8\"}\n"
      "\"cmd\": \"rx\" is added; \"ts\" (now) and \"fcnt\" (counting per device) when missing.\n"
      "Empty lines and lines starting with # are skipped.";

int fail(const QString &text)
{
    std::fprintf(stderr, "netserver-sim: %s\n", qPrintable(text));
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netserver-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                     QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on (default 8002; 0 picks a free "
                                                 "port, shown in the log)."),
                                  QStringLiteral("port"), QStringLiteral("8002"));
    const QCommandLineOption login(QStringLiteral("login"),
                                   QStringLiteral("The one login accepted (required)."),
                                   QStringLiteral("login"));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("Its password (required)."),
                                      QStringLiteral("password"));
    const QCommandLineOption devices(QStringLiteral("devices"),
                                     QStringLiteral("JSON file with the device list (default: "
                                                    "three built-in example devices)."),
                                     QStringLiteral("file"));
    const QCommandLineOption uplinks(QStringLiteral("uplinks"),
                                     QStringLiteral("JSON-lines file of uplinks (default: a "
                                                    "built-in example sequence)."),
                                     QStringLiteral("file"));
    const QCommandLineOption period(QStringLiteral("period"),
                                    QStringLiteral("Milliseconds between two uplinks (default "
                                                   "5000)."),
                                    QStringLiteral("ms"), QStringLiteral("5000"));
    const QCommandLineOption once(
        QStringLiteral("once"), QStringLiteral("Push the sequence once instead of repeating it."));
    parser.addOptions({address, port, login, password, devices, uplinks, period, once});
    parser.process(app);

    NetServerSimulator::SOptions options;
    if (!options.address.setAddress(parser.value(address)))
        return fail(QStringLiteral("invalid address \"%1\"").arg(parser.value(address)));
    bool ok = false;
    const uint portValue = parser.value(port).toUInt(&ok);
    if (!ok || portValue > 65535)
        return fail(QStringLiteral("invalid port \"%1\"").arg(parser.value(port)));
    options.port = static_cast<quint16>(portValue);
    if (!parser.isSet(login) || !parser.isSet(password))
        return fail(QStringLiteral("--login and --password are required (see --help)"));
    options.login = parser.value(login);
    options.password = parser.value(password);
    options.devicesFile = parser.value(devices);
    options.uplinksFile = parser.value(uplinks);
    options.periodMs = parser.value(period).toInt(&ok);
    if (!ok || options.periodMs <= 0)
        return fail(QStringLiteral("invalid period \"%1\"").arg(parser.value(period)));
    options.once = parser.isSet(once);

    NetServerSimulator simulator;
    if (!simulator.start(options))
        return 1;
    return QCoreApplication::exec();
}
