#pragma once

#include "NetServerCore.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// The scriptable network server of the tests: NetServerCore on 127.0.0.1 and a free port, with
// waits on what it receives. Answers the probe with "err_string" and accepts the login
// "admin"/"admin" unless told otherwise.
class FakeNetworkServer : public NetServerCore
{
    Q_OBJECT
public:
    explicit FakeNetworkServer(QObject *parent = nullptr);

    bool isListening() const { return listening; }

    // Every received text that is a JSON object, in order.
    QList<QJsonObject> receivedObjects() const;
    // The received objects whose "cmd" is the given command.
    QList<QJsonObject> receivedCommands(const QString &cmd) const;

    // True once `count` texts have been received in all (within the time-out).
    bool waitForTexts(int count, int timeoutMs = 5000);
    // True once `count` messages with this "cmd" have been received in all.
    bool waitForCommand(const QString &cmd, int count = 1, int timeoutMs = 5000);
    bool waitForConnections(int count, int timeoutMs = 5000);
    bool waitForAttempts(int count, int timeoutMs = 5000);

private:
    bool listening = false;
};
