#pragma once

#include "NetServerCore.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTextStream>
#include <QTimer>

// The simulator program around NetServerCore: it loads the device list and the uplink sequence,
// pushes one uplink per period once a gateway has logged in, prints every downlink on standard
// output and logs what it does on standard error.
class NetServerSimulator : public QObject
{
    Q_OBJECT
public:
    struct SOptions
    {
        QHostAddress address = QHostAddress::LocalHost;
        quint16 port = 8002;
        QString login;
        QString password;
        QString devicesFile;
        QString uplinksFile;
        int periodMs = 5000;
        bool once = false;
    };

    explicit NetServerSimulator(QObject *parent = nullptr);

    // Loads the files and starts listening; false (with the reason logged) when that fails.
    bool start(const SOptions &options);

    static QJsonArray builtInDevices();
    static QList<QJsonObject> builtInUplinks();
    // Reads a device list: an array of entries or an object with "devices_list".
    static bool readDevicesFile(const QString &path, QJsonArray *devices, QString *error);
    // Reads one uplink object per line; empty lines and lines starting with "#" are skipped.
    static bool readUplinksFile(const QString &path, QList<QJsonObject> *uplinks, QString *error);

private:
    void log(const QString &line);
    void pushNext();
    void printDownlink(const QString &devEui, const QString &data, int port, bool ack);

    NetServerCore core;
    QTimer pushTimer;
    QList<QJsonObject> uplinks;
    QHash<QString, quint32> frameCounters;
    int nextUplink = 0;
    bool once = false;
    QTextStream out{stdout};
    QTextStream err{stderr};
};
