// Opens the gateway database in the current directory once, as start-up does, then prints the
// log lines that produced on standard output. Exit code 0 when the storage object was made.
// Given "<DevEUI> <port> <word>...", it also stores that device with one 16-bit register per
// hexadecimal word, at addresses 0, 1, ..., and saves the words as the registers' values.
// Leading options: "--busy-timeout=MS" sets the connection's busy time-out, "--lock-wait=MS" how
// long the storage waits for a lock that another connection holds on the file.

#include "CDataBaseHandler.h"
#include "LogCapture.h"
#include "TestRegister.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QTextStream>

namespace {

bool storeDevice(CDataBaseHandler *handler, const QStringList &args)
{
    DB::SDeviceRegMapDescription device;
    device.devEui = args.at(0);
    device.appEui = QStringLiteral("APP");
    device.name = args.at(0);
    device.port = args.at(1).toInt();
    DB::SDbDeviceRegDataSet values;
    values.devEui = device.devEui;
    for (quint32 offset = 0; offset + 2 < quint32(args.size()); ++offset) {
        device.registers.append(testRegister(offset));
        const QString &word = args.at(int(offset) + 2);
        values.regValues.append({word, word, offset});
    }
    if (!handler->registerNewDevice(device, ProtocolModbus))
        return false;
    handler->saveRegisterData(values);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    LogCapture log;
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString busyOption = QStringLiteral("--busy-timeout=");
    const QString waitOption = QStringLiteral("--lock-wait=");
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option.startsWith(busyOption))
            QSqlDatabase::addDatabase(DB::DbNames::SqlDriver, DB::DbNames::ConnectionName)
                .setConnectOptions(
                    QStringLiteral("QSQLITE_BUSY_TIMEOUT=") + option.mid(busyOption.size()));
        else if (option.startsWith(waitOption))
            CDataBaseHandler::setLockWaitForNewHandlers(option.mid(waitOption.size()).toInt());
    }
    CDataBaseHandler *handler = CDataBaseHandler::getInstance();
    const bool stored = !handler || args.size() < 2 || storeDevice(handler, args);
    QTextStream out(stdout);
    for (const QString &line : log.lines())
        out << line << '\n';
    return handler && stored ? 0 : 1;
}
