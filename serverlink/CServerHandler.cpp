#include "CServerHandler.h"

#include "CLogFile.h"
#include "ServerMessages.h"
#include "SharedConstants.h"

#include <QDebug>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

using namespace Vocabulary;

namespace {
// curTask when no request is in flight; it equals GetDataTask, so the two look alike.
constexpr int IdleTask = 0;
} // namespace

CServerHandler *CServerHandler::getInstance()
{
    static CServerHandler *instance = new CServerHandler();
    return instance;
}

CServerHandler::CServerHandler() : QObject(nullptr)
{
    connect(&socket, &QWebSocket::connected, this, &CServerHandler::socketConnectedSlot);
    connect(&socket, &QWebSocket::disconnected, this, &CServerHandler::socketDisconnectedSlot);
    connect(&socket, &QWebSocket::textMessageReceived, this,
            &CServerHandler::textMessageReceivedSlot);
    connect(&socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &CServerHandler::socketErrorSlot);

    pingTimer = new QTimer;
    connect(pingTimer, SIGNAL(timeout()), this, SLOT(timeoutSlot()));
    responseTimer = new QTimer;
    connect(responseTimer, &QTimer::timeout, this,
            &CServerHandler::waitingServerResponseTimeoutSlot);
    connect(this, &CServerHandler::newTask, this, &CServerHandler::newTaskSlot,
            Qt::QueuedConnection);
    reconnectTimer = new QTimer;
    connect(reconnectTimer, &QTimer::timeout, this, &CServerHandler::reconnectLastAuthData);
    connectTimer = new QTimer;
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this, &CServerHandler::connectTimeoutSlot);
}

CServerHandler::~CServerHandler()
{
    socket.disconnect(this);
    delete pingTimer;
    delete responseTimer;
    delete reconnectTimer;
    delete connectTimer;
    // A request may still be in flight: release its wait before the mutex goes.
    releaseWait();
}

void CServerHandler::releaseWait()
{
    // Taken here when nobody held it, so the unlock is sound either way.
    (void)waitingMutex.tryLock();
    waitingMutex.unlock();
}

void CServerHandler::connectSlot(QString _origin, QString _login, QString _password)
{
    socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    emit changeServerStatus(COMM::Disconnected);
    const QUrl newUrl(_origin);
    if (!newUrl.isValid()) {
        addLog(QStringLiteral("[CServerHandler::connectSlot] Invalid input URL [%1]").arg(_origin));
        return;
    }
    login = _login;
    password = _password;
    url = _origin;
    openSocket(newUrl);
}

void CServerHandler::openSocket(const QUrl &_url)
{
    attemptOpen = true;
    connectTimer->start(intervals.connectTimeout);
    socket.open(_url);
}

void CServerHandler::socketConnectedSlot()
{
    connectTimer->stop();
    state = Ping;
    sendMessage(ServerMessages::probe());
    emit changeServerStatus(COMM::PingWaiting);
    pingTimer->start(intervals.pingTimeout);
}

void CServerHandler::socketDisconnectedSlot()
{
    if (!attemptOpen)
        return;
    endAttempt();
}

void CServerHandler::socketErrorSlot(QAbstractSocket::SocketError _error)
{
    // A connected socket reports its loss through disconnected(). Before that, a refused
    // handshake reports nothing but this error, so the attempt ends here.
    if (!attemptOpen || socket.state() == QAbstractSocket::ConnectedState)
        return;
    qDebug() << "[CServerHandler::socketErrorSlot] Connection failed:" << _error
             << socket.errorString();
    endAttempt();
}

void CServerHandler::connectTimeoutSlot()
{
    if (!attemptOpen)
        return;
    qDebug() << "[CServerHandler::connectTimeoutSlot] Not connected within"
             << connectTimer->interval() << "ms, attempt closed";
    // Closed rather than aborted: after an abort the next close() would write its frame into
    // the dead socket. The close is reported through disconnected() once TCP is connected and
    // through error() before; should neither come, the attempt ends here all the same.
    socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    if (attemptOpen)
        endAttempt();
}

void CServerHandler::endAttempt()
{
    connectTimer->stop();
    attemptOpen = false;
    state = Disconnected;
    emit changeServerStatus(COMM::Disconnected);
    reconnectTimer->start(intervals.reconnect);
}

void CServerHandler::reconnectLastAuthData()
{
    socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    state = Ping;
    const QUrl lastUrl(url);
    if (!lastUrl.isValid()) {
        addLog(QStringLiteral("[CServerHandler::connectSlot] Invalid input URL [%1]").arg(url));
        return;
    }
    openSocket(lastUrl);
}

void CServerHandler::timeoutSlot()
{
    pingTimer->stop();
    if (state == Ping)
        emit changeServerStatus(COMM::InvalidPing);
    else if (state == Auth)
        emit changeServerStatus(COMM::InvalidAuth);
}

void CServerHandler::sendMessage(const QString &json)
{
    socket.sendTextMessage(json);
}

void CServerHandler::textMessageReceivedSlot(QString msg)
{
    QJsonObject object;
    if (!ServerMessages::parseObject(msg, &object)) {
        qDebug() << "[CServerHandler::textMessageReceivedSlot] Uncknown input message format";
        return;
    }
    switch (state) {
    case Ping:
        if (object.contains(Key::err_string)) {
            state = Auth;
            sendMessage(ServerMessages::authRequest(login, password));
            emit changeServerStatus(COMM::AuthWaiting);
        } else {
            qDebug() << "[CServerHandler::textMessageReceivedSlot] State=ping: unknown message";
            emit changeServerStatus(COMM::InvalidPing);
        }
        break;
    case Auth:
        handleLoginAnswer(object);
        break;
    case Verified:
        handleVerifiedMessage(object);
        break;
    default:
        break;
    }
}

void CServerHandler::handleLoginAnswer(const QJsonObject &object)
{
    state = Disconnected;
    QString refusal;
    if (!object.contains(Key::cmd)) {
        refusal = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown "
                                 "message[1]");
    } else if (object.value(Key::cmd).toString() != Cmd::auth_resp) {
        refusal = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown "
                                 "message[2]");
    } else if (!object.contains(Key::status)) {
        refusal = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown "
                                 "message[3]");
    } else if (!object.value(Key::status).toBool()) {
        refusal = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown "
                                 "message[4], err[%1]")
                      .arg(object.value(Key::err_string).toString());
    }
    if (!refusal.isEmpty()) {
        qDebug().noquote() << refusal;
        emit changeServerStatus(COMM::InvalidAuth);
        return;
    }
    reconnectTimer->stop();
    state = Verified;
    emit changeServerStatus(COMM::Success);
}

void CServerHandler::handleVerifiedMessage(const QJsonObject &object)
{
    if (!object.contains(Key::cmd)) {
        qDebug() << "[CServerHandler::textMessageReceivedSlot] State=verified: unknown message[1]";
        return;
    }
    const QString command = object.value(Key::cmd).toString();
    if (command == Cmd::rx) {
        const API::SApiDeviceData packet(object);
        if (!packet.devEui.isEmpty())
            emit newPacketReceived(packet);
    } else if (command == Cmd::get_devices_resp) {
        handleDevicesListAnswer(object);
    } else if (command == Cmd::get_data_resp) {
        handleLastPacketsAnswer(object);
    }
}

void CServerHandler::handleDevicesListAnswer(const QJsonObject &object)
{
    if (curTask != GetDevicesTask) {
        addLog(QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=verified: "
                              "unsheduled packet from server"));
        return;
    }
    if (!object.value(Key::status).toBool())
        emit getDevicesListResp(false, {});
    else
        emit getDevicesListResp(true, ServerMessages::readDevicesList(object));
    curTask = IdleTask;
    waitingServerResponseTimeoutSlot();
}

void CServerHandler::handleLastPacketsAnswer(const QJsonObject &object)
{
    // The queue stays held until the response timer of the request ends the wait.
    const API::SApiDeviceData packet = ServerMessages::readFirstValidPacket(object);
    if (packet.valid)
        emit newPacketReceived(packet);
}

bool CServerHandler::getDevicesList(QStringList appEuis)
{
    if (appEuis.isEmpty()) {
        addLog(QStringLiteral("[CServerHandler::getDevicesList] Empty input AppEUI list! Return"));
        return false;
    }
    if (state != Verified) {
        addLog(QStringLiteral("[CServerHandler::getDevicesList] Invalid connection to server! "
                              "Return"));
        return false;
    }
    enqueueTask({GetDevicesTask, ServerMessages::devicesRequest(), QString()});
    return true;
}

void CServerHandler::getDeviceLastPackets(QString devEui)
{
    if (devEui.isEmpty())
        return;
    if (state != Verified) {
        addLog(QStringLiteral("[CServerHandler::getDeviceLastPackets] Invalid connection to "
                              "server! Return"));
        return;
    }
    enqueueTask({GetDataTask, ServerMessages::lastPacketsRequest(devEui), QString()});
}

void CServerHandler::sendData(QString devEui, QByteArray hexText)
{
    enqueueTask({SendDataTask, ServerMessages::sendDataRequest(devEui, hexText), devEui});
}

void CServerHandler::enqueueTask(const STask &task)
{
    queueMutex.lock();
    queue.append(task);
    if (task.type == SendDataTask)
        ++downlinksWaiting[task.devEui];
    queueMutex.unlock();
    if (!waitingMutex.tryLock())
        return;
    waitingMutex.unlock();
    if (!taskSlotMutex.tryLock())
        return;
    taskSlotMutex.unlock();
    emit newTask();
}

void CServerHandler::newTaskSlot()
{
    QMutexLocker slotLocker(&taskSlotMutex);
    if (!waitingMutex.tryLock()) {
        qDebug() << "[CServerHandler::newTaskSlot] Waiting mutex is locked! Return";
        return;
    }
    queueMutex.lock();
    if (queue.isEmpty()) {
        qDebug() << "[CServerHandler::newTaskSlot] Task queue is empty";
        waitingMutex.unlock();
        queueMutex.unlock();
        return;
    }
    const STask task = queue.takeFirst();
    curTask = task.type;
    const bool downlink = task.type == SendDataTask;
    if (downlink) {
        const auto waiting = downlinksWaiting.find(task.devEui);
        if (waiting != downlinksWaiting.end() && --waiting.value() <= 0)
            downlinksWaiting.erase(waiting);
    }
    queueMutex.unlock();
    qDebug() << "send:" << task.json;
    sendMessage(task.json);
    responseTimer->start(curTask == SendDataTask ? intervals.sendDataResponse : intervals.response);
    slotLocker.unlock();
    if (downlink)
        emit downlinkTaken(task.devEui);
}

void CServerHandler::waitingServerResponseTimeoutSlot()
{
    responseTimer->stop();
    // Also sound when no wait is held (the slot can be invoked by name).
    releaseWait();
    if (curTask == GetDevicesTask)
        emit getDevicesListResp(false, {});
    curTask = IdleTask;
    emit newTask();
}
