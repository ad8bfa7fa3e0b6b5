#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// A small stand-in for a LoRaWAN network server's WebSocket JSON interface: answers the probe,
// checks one login, serves a device list and last packets, pushes uplinks and records every
// message it receives. Each behaviour can be switched so that tests can make it misbehave.
// Its texts are written here on purpose and not taken from the gateway's vocabulary.
class NetServerCore : public QObject
{
    Q_OBJECT
public:
    enum class ProbeReply { WithErrString, WithoutErrString, None };
    // What the server does with a WebSocket upgrade request.
    enum class Handshake { Accept, RefuseKeepOpen, RefuseAndClose };

    explicit NetServerCore(QObject *parent = nullptr);
    ~NetServerCore() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    void close();
    quint16 port() const;
    QString url() const;
    QString errorString() const;

    void setProbeReply(ProbeReply reply) { probeReply = reply; }
    void setHandshake(Handshake mode) { handshake = mode; }
    void setCredentials(const QString &login, const QString &password);
    // Off: "auth_req" is recorded but not answered (the caller answers with sendText).
    void setAuthReplyEnabled(bool enabled) { authReply = enabled; }
    // Turns the login replies on and answers the logins left unanswered while they were off.
    void answerHeldLogins();
    void setDevicesList(const QJsonArray &devicesList) { devices = devicesList; }
    void setDevicesReplyEnabled(bool enabled) { devicesReply = enabled; }
    // The "data_list" answered for a DevEUI (compared without regard to case).
    void setLastPackets(const QString &devEui, const QJsonArray &dataList);
    void setLastPacketsReplyEnabled(bool enabled) { lastPacketsReply = enabled; }
    // Each uplink pushed is also kept (the newest first, ten per device) as its last packets.
    void setRememberUplinks(bool enabled) { rememberUplinks = enabled; }

    // Sends the text to every open connection; returns the number of connections reached.
    int sendText(const QString &text);
    int sendBinary(const QByteArray &data);
    // Sends the uplink with "cmd" "rx" to every logged-in connection.
    int pushUplink(QJsonObject uplink);
    // Aborts every connection without a closing handshake.
    void dropConnections();
    // Closes every connection with a closing handshake (normal closure).
    void closeConnections();

    QStringList received() const { return receivedTexts; }
    void clearReceived() { receivedTexts.clear(); }
    int connectionCount() const { return clients.size(); }
    int loggedInCount() const;
    // Connections accepted since listen(), refused handshakes included.
    int connectionAttempts() const { return attempts; }
    int refusedHandshakes() const { return refused; }

signals:
    void textReceived(const QString &text);
    void clientConnected();
    void clientDisconnected();
    void loginAccepted(const QString &login);
    void loginRefused(const QString &login);
    void downlinkReceived(const QString &devEui, const QString &data, int port, bool ack);
    // One line for each thing the server does, for the simulator's log.
    void activity(const QString &line);

private:
    void acceptTcpConnection();
    void refuseHandshake(QTcpSocket *tcp);
    void acceptWebSocket();
    void handleText(QWebSocket *client, const QString &text);
    void answerAuth(QWebSocket *client, const QJsonObject &request);
    void answerDevices(QWebSocket *client);
    void answerLastPackets(QWebSocket *client, const QJsonObject &request);
    void reportDownlinks(QWebSocket *client, const QJsonObject &request);
    void remember(const QJsonObject &uplink);
    static void send(QWebSocket *client, const QJsonObject &object);

    QTcpServer *tcpServer = nullptr;
    QWebSocketServer *wsServer = nullptr;
    QList<QWebSocket *> clients;
    QHash<QWebSocket *, bool> loggedIn;
    // The last "auth_req" of each connection left unanswered.
    QHash<QWebSocket *, QJsonObject> heldLogins;
    QStringList receivedTexts;
    ProbeReply probeReply = ProbeReply::WithErrString;
    Handshake handshake = Handshake::Accept;
    QString acceptedLogin = QStringLiteral("admin");
    QString acceptedPassword = QStringLiteral("admin");
    bool authReply = true;
    QJsonArray devices;
    bool devicesReply = true;
    QHash<QString, QJsonArray> lastPackets;
    bool lastPacketsReply = true;
    bool rememberUplinks = false;
    int attempts = 0;
    int refused = 0;
};
