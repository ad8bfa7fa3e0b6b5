#include "NetServerCore.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <utility>

namespace {
constexpr int MaxRememberedPackets = 10;

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString peerText(const QWebSocket *client)
{
    return QStringLiteral("%1:%2").arg(client->peerAddress().toString(),
                                       QString::number(client->peerPort()));
}
} // namespace

NetServerCore::NetServerCore(QObject *parent)
    : QObject(parent)
    , tcpServer(new QTcpServer(this))
    , wsServer(new QWebSocketServer(QStringLiteral("netserver-sim"),
                                    QWebSocketServer::NonSecureMode, this))
{
    connect(tcpServer, &QTcpServer::newConnection, this, &NetServerCore::acceptTcpConnection);
    connect(wsServer, &QWebSocketServer::newConnection, this, &NetServerCore::acceptWebSocket);
}

NetServerCore::~NetServerCore()
{
    for (QWebSocket *client : std::as_const(clients)) {
        client->disconnect(this);
        client->abort();
        delete client;
    }
}

bool NetServerCore::listen(const QHostAddress &address, quint16 port)
{
    attempts = 0;
    refused = 0;
    return tcpServer->listen(address, port);
}

void NetServerCore::close()
{
    tcpServer->close();
    dropConnections();
}

quint16 NetServerCore::port() const
{
    return tcpServer->serverPort();
}

QString NetServerCore::url() const
{
    QHostAddress address = tcpServer->serverAddress();
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4)
        address = QHostAddress::LocalHost;
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("ws://%1:%2").arg(host, QString::number(port()));
}

QString NetServerCore::errorString() const
{
    return tcpServer->errorString();
}

void NetServerCore::setCredentials(const QString &login, const QString &password)
{
    acceptedLogin = login;
    acceptedPassword = password;
}

void NetServerCore::setLastPackets(const QString &devEui, const QJsonArray &dataList)
{
    lastPackets.insert(devEui.toUpper(), dataList);
}

int NetServerCore::loggedInCount() const
{
    int count = 0;
    for (QWebSocket *client : clients)
        count += loggedIn.value(client) ? 1 : 0;
    return count;
}

int NetServerCore::sendText(const QString &text)
{
    for (QWebSocket *client : std::as_const(clients))
        client->sendTextMessage(text);
    return clients.size();
}

int NetServerCore::sendBinary(const QByteArray &data)
{
    for (QWebSocket *client : std::as_const(clients))
        client->sendBinaryMessage(data);
    return clients.size();
}

int NetServerCore::pushUplink(QJsonObject uplink)
{
    uplink.insert(QStringLiteral("cmd"), QStringLiteral("rx"));
    if (rememberUplinks)
        remember(uplink);
    int reached = 0;
    for (QWebSocket *client : std::as_const(clients)) {
        if (!loggedIn.value(client))
            continue;
        send(client, uplink);
        ++reached;
    }
    emit activity(QStringLiteral("pushed uplink of %1 (%2) to %3 connection(s)")
                      .arg(uplink.value(QStringLiteral("devEui")).toString(),
                           uplink.value(QStringLiteral("data")).toString(),
                           QString::number(reached)));
    return reached;
}

void NetServerCore::dropConnections()
{
    const QList<QWebSocket *> open = clients;
    for (QWebSocket *client : open)
        client->abort();
}

void NetServerCore::closeConnections()
{
    const QList<QWebSocket *> open = clients;
    for (QWebSocket *client : open)
        client->close();
}

void NetServerCore::acceptTcpConnection()
{
    while (QTcpSocket *tcp = tcpServer->nextPendingConnection()) {
        ++attempts;
        if (handshake == Handshake::Accept)
            wsServer->handleConnection(tcp);
        else
            refuseHandshake(tcp);
    }
}

void NetServerCore::refuseHandshake(QTcpSocket *tcp)
{
    const bool closeAfter = handshake == Handshake::RefuseAndClose;
    connect(tcp, &QTcpSocket::disconnected, tcp, &QObject::deleteLater);
    connect(tcp, &QTcpSocket::readyRead, this, [this, tcp, closeAfter]() {
        // Answer once the whole request head is in.
        if (!tcp->peek(tcp->bytesAvailable()).contains("\r\n\r\n"))
            return;
        tcp->readAll();
        tcp->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        ++refused;
        emit activity(QStringLiteral("refused a WebSocket handshake with HTTP 403"));
        if (closeAfter)
            tcp->disconnectFromHost();
    });
}

void NetServerCore::acceptWebSocket()
{
    while (QWebSocket *client = wsServer->nextPendingConnection()) {
        clients.append(client);
        loggedIn.insert(client, false);
        connect(client, &QWebSocket::textMessageReceived, this,
                [this, client](const QString &text) { handleText(client, text); });
        connect(client, &QWebSocket::disconnected, this, [this, client]() {
            clients.removeAll(client);
            loggedIn.remove(client);
            heldLogins.remove(client);
            client->deleteLater();
            emit activity(QStringLiteral("connection from %1 closed").arg(peerText(client)));
            emit clientDisconnected();
        });
        emit activity(QStringLiteral("connection from %1").arg(peerText(client)));
        emit clientConnected();
    }
}

void NetServerCore::handleText(QWebSocket *client, const QString &text)
{
    receivedTexts.append(text);
    emit textReceived(text);

    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject()) {
        emit activity(QStringLiteral("received a text that is not a JSON object: %1").arg(text));
        send(client, {{QStringLiteral("err_string"), QStringLiteral("invalid_json_msg")}});
        return;
    }
    const QJsonObject request = document.object();
    const QString command = request.value(QStringLiteral("cmd")).toString();
    const bool authorised = loggedIn.value(client);
    if (command == QLatin1String("cmd")) {
        emit activity(QStringLiteral("probe from %1").arg(peerText(client)));
        if (probeReply == ProbeReply::WithErrString)
            send(client, {{QStringLiteral("cmd"), QStringLiteral("cmd")},
                          {QStringLiteral("err_string"), QStringLiteral("unknown_cmd")}});
        else if (probeReply == ProbeReply::WithoutErrString)
            send(client, {{QStringLiteral("cmd"), QStringLiteral("console")}});
    } else if (command == QLatin1String("auth_req")) {
        answerAuth(client, request);
    } else if (command == QLatin1String("get_devices_req") && authorised) {
        answerDevices(client);
    } else if (command == QLatin1String("get_data_req") && authorised) {
        answerLastPackets(client, request);
    } else if (command == QLatin1String("send_data_req") && authorised) {
        reportDownlinks(client, request);
    } else if (command.endsWith(QLatin1String("_req")) && !authorised) {
        emit activity(QStringLiteral("refused %1 before login").arg(command));
        QString answer = command;
        answer.replace(answer.size() - 4, 4, QStringLiteral("_resp"));
        send(client, {{QStringLiteral("cmd"), answer},
                      {QStringLiteral("status"), false},
                      {QStringLiteral("err_string"), QStringLiteral("unknown_auth")}});
    } else {
        emit activity(QStringLiteral("unknown command \"%1\"").arg(command));
        send(client, {{QStringLiteral("cmd"), command},
                      {QStringLiteral("err_string"), QStringLiteral("unknown_cmd")}});
    }
}

void NetServerCore::answerAuth(QWebSocket *client, const QJsonObject &request)
{
    const QString login = request.value(QStringLiteral("login")).toString();
    const bool accepted
        = login == acceptedLogin
          && request.value(QStringLiteral("password")).toString() == acceptedPassword;
    if (!authReply) {
        heldLogins.insert(client, request);
        emit activity(QStringLiteral("login request of \"%1\" left unanswered").arg(login));
        return;
    }
    loggedIn.insert(client, accepted);
    QJsonObject answer{{QStringLiteral("cmd"), QStringLiteral("auth_resp")},
                       {QStringLiteral("status"), accepted}};
    if (!accepted)
        answer.insert(QStringLiteral("err_string"), QStringLiteral("invalid_login_or_password"));
    send(client, answer);
    emit activity(
        QStringLiteral("login of \"%1\" %2")
            .arg(login, accepted ? QStringLiteral("accepted") : QStringLiteral("refused")));
    if (accepted)
        emit loginAccepted(login);
    else
        emit loginRefused(login);
}

void NetServerCore::answerHeldLogins()
{
    authReply = true;
    const QHash<QWebSocket *, QJsonObject> held = std::exchange(heldLogins, {});
    for (auto login = held.cbegin(); login != held.cend(); ++login)
        answerAuth(login.key(), login.value());
}

void NetServerCore::answerDevices(QWebSocket *client)
{
    if (!devicesReply) {
        emit activity(QStringLiteral("device-list request left unanswered"));
        return;
    }
    send(client, {{QStringLiteral("cmd"), QStringLiteral("get_devices_resp")},
                  {QStringLiteral("status"), true},
                  {QStringLiteral("devices_list"), devices}});
    emit activity(QStringLiteral("sent the device list (%1 devices)").arg(devices.size()));
}

void NetServerCore::answerLastPackets(QWebSocket *client, const QJsonObject &request)
{
    const QString devEui = request.value(QStringLiteral("devEui")).toString();
    if (!lastPacketsReply) {
        emit activity(QStringLiteral("last-packets request for %1 left unanswered").arg(devEui));
        return;
    }
    const QJsonArray dataList = lastPackets.value(devEui.toUpper());
    send(client, {{QStringLiteral("cmd"), QStringLiteral("get_data_resp")},
                  {QStringLiteral("status"), true},
                  {QStringLiteral("devEui"), devEui},
                  {QStringLiteral("data_list"), dataList}});
    emit activity(QStringLiteral("sent %1 last packet(s) of %2")
                      .arg(QString::number(dataList.size()), devEui));
}

void NetServerCore::reportDownlinks(QWebSocket *client, const QJsonObject &request)
{
    const QJsonArray entries = request.value(QStringLiteral("data_list")).toArray();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        emit downlinkReceived(entry.value(QStringLiteral("devEui")).toString(),
                              entry.value(QStringLiteral("data")).toString(),
                              entry.value(QStringLiteral("port")).toInt(),
                              entry.value(QStringLiteral("ack")).toBool());
    }
    send(client, {{QStringLiteral("cmd"), QStringLiteral("send_data_resp")},
                  {QStringLiteral("status"), true}});
}

void NetServerCore::remember(const QJsonObject &uplink)
{
    QJsonArray &list = lastPackets[uplink.value(QStringLiteral("devEui")).toString().toUpper()];
    list.prepend(uplink);
    while (list.size() > MaxRememberedPackets)
        list.removeLast();
}

void NetServerCore::send(QWebSocket *client, const QJsonObject &object)
{
    client->sendTextMessage(compact(object));
}
