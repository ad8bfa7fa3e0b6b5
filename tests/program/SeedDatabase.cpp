// Stores the whole-program test's devices in "server.db" of the working directory, through the
// gateway's own storage and with the registers of the example template: seed <modbus port> <tcp
// port> [<port>,<port>,...], the last a further climate device on each port listed.

#include "CAllDeviceHandler.h"
#include "CDataBaseHandler.h"
#include "ProgramFixture.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: seed <modbus port> <tcp port> [<port>,<port>,...]\n");
        return 2;
    }
    using namespace ProgramFixture;
    CDataBaseHandler *storage = CDataBaseHandler::getInstance();
    if (!storage) {
        std::fprintf(stderr, "storage: %s\n", qPrintable(CDataBaseHandler::lastErrorText()));
        return 1;
    }
    const STemplateRegMap regMap
        = CAllDeviceHandler::getInstance()->getTemplateRegMap(ClimateAppEui);
    if (regMap.registers.isEmpty()) {
        std::fprintf(stderr, "no template for %s\n", qPrintable(ClimateAppEui));
        return 1;
    }

    DB::SDeviceRegMapDescription modbus;
    modbus.devEui = ModbusDevEui;
    modbus.appEui = ClimateAppEui;
    modbus.name = ModbusName;
    modbus.startAddr = ModbusStartAddr;
    modbus.port = args.at(1).toInt();
    modbus.registers = regMap.registers;
    DB::SDeviceRegMapDescription tcp;
    tcp.devEui = TcpDevEui;
    tcp.appEui = SerialAppEui;
    tcp.name = TcpName;
    tcp.port = args.at(2).toInt();
    if (!storage->registerNewDevice(modbus, ProtocolModbus)
        || !storage->registerNewDevice(tcp, ProtocolTCP)) {
        std::fprintf(stderr, "the devices were not stored\n");
        return 1;
    }
    const QStringList extraPorts
        = args.size() == 4 ? args.at(3).split(QLatin1Char(','), Qt::SkipEmptyParts) : QStringList();
    for (int i = 0; i < extraPorts.size(); ++i) {
        DB::SDeviceRegMapDescription extra = modbus;
        extra.devEui = extraModbusDevEui(i);
        extra.name = QStringLiteral("%1 %2").arg(ModbusName).arg(i + 2);
        extra.port = extraPorts.at(i).toInt();
        if (!storage->registerNewDevice(extra, ProtocolModbus)) {
            std::fprintf(stderr, "the device on port %s was not stored\n",
                         qPrintable(extraPorts.at(i)));
            return 1;
        }
    }
    return 0;
}
