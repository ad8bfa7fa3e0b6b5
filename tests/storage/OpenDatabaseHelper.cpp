// Opens the gateway database in the current directory once, as start-up does, then prints the
// log lines that produced on standard output. Exit code 0 when the storage object was made.

#include "CDataBaseHandler.h"
#include "LogCapture.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    LogCapture log;
    CDataBaseHandler *handler = CDataBaseHandler::getInstance();
    QTextStream out(stdout);
    for (const QString &line : log.lines())
        out << line << '\n';
    return handler ? 0 : 1;
}
