#include "ProgramFixture.h"

#include "FreePort.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace ProgramFixture {

QString prepareWorkDir(const QString &dir, quint16 modbusPort, quint16 tcpPort,
                       const QList<quint16> &extraModbusPorts)
{
    const QDir examples(QStringLiteral(EXAMPLE_DEVICE_FOLDER));
    const QStringList templates = examples.entryList({QStringLiteral("*.json")}, QDir::Files);
    if (templates.isEmpty())
        return QStringLiteral("no example templates in %1").arg(examples.path());
    const QString folder = dir + QStringLiteral("/deviceFolder");
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make %1").arg(folder);
    for (const QString &name : templates)
        if (!QFile::copy(examples.filePath(name), folder + QLatin1Char('/') + name))
            return QStringLiteral("cannot copy %1").arg(name);

    QProcess seed;
    seed.setWorkingDirectory(dir);
    seed.setProcessEnvironment(cleanEnvironment());
    QStringList args{QString::number(modbusPort), QString::number(tcpPort)};
    if (!extraModbusPorts.isEmpty()) {
        QStringList ports;
        for (quint16 port : extraModbusPorts)
            ports.append(QString::number(port));
        args.append(ports.join(QLatin1Char(',')));
    }
    seed.start(QStringLiteral(SEED_DATABASE_HELPER), args);
    if (!seed.waitForFinished(60000) || seed.exitStatus() != QProcess::NormalExit
        || seed.exitCode() != 0)
        return QStringLiteral("the seed helper failed: %1").arg(outputOf(seed));
    return QString();
}

QString prepareWorkDirOnFreePorts(const QString &dir, quint16 &modbusPort, quint16 &tcpPort)
{
    modbusPort = freePort();
    tcpPort = freePort();
    if (!modbusPort || !tcpPort || modbusPort == tcpPort)
        return QStringLiteral("no two free ports");
    return prepareWorkDir(dir, modbusPort, tcpPort);
}

QJsonObject uplink(const QString &devEui, const QString &data, int rssi)
{
    return {{QStringLiteral("type"), QStringLiteral("UNCONF_UP")},
            {QStringLiteral("devEui"), devEui},
            {QStringLiteral("port"), 2},
            {QStringLiteral("data"), data},
            {QStringLiteral("ack"), false},
            {QStringLiteral("freq"), 868100000},
            {QStringLiteral("dr"), 5},
            {QStringLiteral("rssi"), rssi},
            {QStringLiteral("snr"), 7.5},
            {QStringLiteral("gatewayId"), QStringLiteral("0016c001ff10a235+1")}};
}

QProcessEnvironment cleanEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : env.keys())
        if (name == QLatin1String("LANG") || name == QLatin1String("LANGUAGE")
            || name.startsWith(QLatin1String("LC_")))
            env.remove(name);
    return env;
}

QString outputOf(QProcess &process)
{
    const QProcess::ProcessChannel channel = process.readChannel();
    QString text;
    for (QProcess::ProcessChannel c : {QProcess::StandardOutput, QProcess::StandardError}) {
        process.setReadChannel(c);
        text += QString::fromUtf8(process.peek(process.bytesAvailable()));
    }
    process.setReadChannel(channel);
    return text;
}

} // namespace ProgramFixture
