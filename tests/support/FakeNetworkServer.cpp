#include "FakeNetworkServer.h"

#include <QJsonDocument>
#include <QTest>

FakeNetworkServer::FakeNetworkServer(QObject *parent) : NetServerCore(parent)
{
    listening = listen(QHostAddress::LocalHost, 0);
}

QList<QJsonObject> FakeNetworkServer::receivedObjects() const
{
    QList<QJsonObject> objects;
    for (const QString &text : received()) {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        if (document.isObject())
            objects.append(document.object());
    }
    return objects;
}

QList<QJsonObject> FakeNetworkServer::receivedCommands(const QString &cmd) const
{
    QList<QJsonObject> matching;
    for (const QJsonObject &object : receivedObjects())
        if (object.value(QStringLiteral("cmd")).toString() == cmd)
            matching.append(object);
    return matching;
}

bool FakeNetworkServer::waitForTexts(int count, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return received().size() >= count; }, timeoutMs);
}

bool FakeNetworkServer::waitForCommand(const QString &cmd, int count, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return receivedCommands(cmd).size() >= count; }, timeoutMs);
}

bool FakeNetworkServer::waitForConnections(int count, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return connectionCount() >= count; }, timeoutMs);
}

bool FakeNetworkServer::waitForAttempts(int count, int timeoutMs)
{
    return QTest::qWaitFor([&]() { return connectionAttempts() >= count; }, timeoutMs);
}
