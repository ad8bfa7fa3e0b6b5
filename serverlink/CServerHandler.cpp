#include "CServerHandler.h"

#include "CLogFile.h"
#include "ServerMessages.h"
#include "SharedConstants.h"

#include <QDebug>
#include <QJsonObject>
#include <QAbstractSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

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
    // Any frame or pong shows the server alive; frames count, so a long message in parts does.
    connect(&socket, &QWebSocket::textFrameReceived, this, &CServerHandler::noteServerHeard);
    connect(&socket, &QWebSocket::binaryFrameReceived, this, &CServerHandler::noteServerHeard);
    connect(&socket, &QWebSocket::pong, this, &CServerHandler::noteServerHeard);

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
    keepAliveTimer = new QTimer;
    connect(keepAliveTimer, &QTimer::timeout, this, &CServerHandler::keepAliveSlot);
    silenceTimer = new QTimer;
    silenceTimer->setSingleShot(true);
    connect(silenceTimer, &QTimer::timeout, this, &CServerHandler::silenceTimeoutSlot);
    answerTimer = new QTimer;
    answerTimer->setSingleShot(true);
    connect(answerTimer, &QTimer::timeout, this, &CServerHandler::answerTimeoutSlot);
}

CServerHandler::~CServerHandler()
{
    socket.disconnect(this);
    delete pingTimer;
    delete responseTimer;
    delete reconnectTimer;
    delete connectTimer;
    delete keepAliveTimer;
    delete silenceTimer;
    delete answerTimer;
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
    // The operator ends the attempt: its close is no loss to report.
    attemptReported = true;
    closeSocket();
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
    attemptReported = false;
    attemptReason.clear();
    connectedOnce = false;
    unusableProbeReply = false;
    socketAborted = false;
    connectTimer->start(intervals.connectTimeout);
    // The earlier attempt's socket and its error say nothing of this attempt.
    transportBeforeOpen = newestTransport();
    transport = nullptr;
    opening = true;
    socket.open(_url);
    opening = false;
    watchTransport();
}

QAbstractSocket *CServerHandler::newestTransport() const
{
    // The newest direct child: the one of an earlier attempt may not be deleted yet.
    const QList<QAbstractSocket *> own
        = socket.findChildren<QAbstractSocket *>(QString(), Qt::FindDirectChildrenOnly);
    return own.isEmpty() ? nullptr : own.constLast();
}

QAbstractSocket *CServerHandler::ownTransport() const
{
    QAbstractSocket *newest = newestTransport();
    return newest == transportBeforeOpen ? nullptr : newest;
}

void CServerHandler::watchTransport()
{
    // QWebSocket reads its TCP socket, a child of its own, and reports only whole frames and
    // pongs: a long message arriving slowly would look like silence.
    const QList<QAbstractSocket *> transports = socket.findChildren<QAbstractSocket *>();
    for (QAbstractSocket *transport : transports)
        connect(transport, &QIODevice::readyRead, this, &CServerHandler::noteServerHeard,
                Qt::UniqueConnection);
    if (transports.isEmpty())
        qDebug() << "[CServerHandler::watchTransport] No TCP socket to watch: only frames count";
    transport = ownTransport();
}

QString CServerHandler::errorText(QAbstractSocket::SocketError _error) const
{
    // The WebSocket keeps the text of its own last error for good, so it is read only for an
    // error that its TCP socket does not have.
    if (transport && transport->error() == _error)
        return transport->errorString();
    return socket.errorString();
}

QString CServerHandler::serverText() const
{
    return QUrl(url).toString(QUrl::RemoveUserInfo);
}

QString CServerHandler::nextAttemptText() const
{
    return QStringLiteral("Next attempt in %1 ms.").arg(intervals.reconnect);
}

void CServerHandler::reportConnectionEnd(const char *method)
{
    // The attempt's own reason; a close by the server leaves no error at all.
    QString reason = attemptReason;
    if (reason.isEmpty() && transport && transport->error() != QAbstractSocket::UnknownSocketError)
        reason = transport->errorString();
    if (reason.isEmpty())
        reason = QStringLiteral("closed by the server");
    // One sentence: the socket's texts may end with a full stop of their own.
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    reportAttemptEnd(QStringLiteral("WARNING: [CServerHandler::%1] Connection to the server [%2] "
                                    "%3: %4. %5")
                         .arg(QLatin1String(method), serverText(),
                              connectedOnce ? QStringLiteral("lost") : QStringLiteral("failed"),
                              reason, nextAttemptText()));
}

void CServerHandler::reportAttemptEnd(const QString &line)
{
    if (attemptReported)
        return;
    attemptReported = true;
    addLog(line);
}

void CServerHandler::closeSocket()
{
    stopKeepAlive();
    answerTimer->stop();
    // After an abort the socket is closed already, and a close would write into the closed
    // device.
    if (!socketAborted)
        socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
}

void CServerHandler::socketConnectedSlot()
{
    connectTimer->stop();
    connectedOnce = true;
    state = Ping;
    sendMessage(ServerMessages::probe());
    emit changeServerStatus(COMM::PingWaiting);
    pingTimer->start(intervals.pingTimeout);
    answerTimer->start(intervals.answerTimeout);
    keepAliveTimer->start(intervals.keepAlivePing);
}

void CServerHandler::socketDisconnectedSlot()
{
    // A connect that fails at once ends the attempt inside socket.open(), before
    // watchTransport(); its TCP socket already holds the reason.
    if (opening)
        transport = ownTransport();
    if (!attemptOpen)
        return;
    reportConnectionEnd("socketDisconnectedSlot");
    endAttempt();
}

void CServerHandler::socketErrorSlot(QAbstractSocket::SocketError _error)
{
    if (opening)
        transport = ownTransport();
    // The attempt's first error is its reason, also when its disconnection reports it.
    if (attemptOpen && attemptReason.isEmpty())
        attemptReason = errorText(_error);
    // A connected socket reports its loss through disconnected(). Before that, a refused
    // handshake reports nothing but this error, so the attempt ends here.
    if (!attemptOpen || socket.state() == QAbstractSocket::ConnectedState)
        return;
    qDebug() << "[CServerHandler::socketErrorSlot] Connection failed:" << _error
             << socket.errorString();
    reportConnectionEnd("socketErrorSlot");
    endAttempt();
}

void CServerHandler::connectTimeoutSlot()
{
    if (!attemptOpen)
        return;
    qDebug() << "[CServerHandler::connectTimeoutSlot] Not connected within"
             << connectTimer->interval() << "ms, attempt closed";
    reportAttemptEnd(QStringLiteral("WARNING: [CServerHandler::connectTimeoutSlot] No connection to "
                                    "the server [%1] within %2 ms. %3")
                         .arg(serverText(), QString::number(intervals.connectTimeout),
                              nextAttemptText()));
    // The close is reported through disconnected() once TCP is connected and through error()
    // before; should neither come, the attempt ends here all the same.
    closeSocket();
    if (attemptOpen)
        endAttempt();
}

void CServerHandler::keepAliveSlot()
{
    socket.ping();
    sincePing.start();
    heardAtPing = heardCount;
    if (!silenceTimer->isActive())
        openSilenceWindow();
}

void CServerHandler::openSilenceWindow()
{
    heardAtWindow = heardAtPing;
    const qint64 left = intervals.keepAliveSilence - sincePing.elapsed();
    silenceTimer->start(int(std::max<qint64>(0, left)));
}

void CServerHandler::silenceTimeoutSlot()
{
    if (heardCount != heardAtWindow) {
        // Heard since the window's ping; a later ping unanswered so far gets its own window.
        if (heardCount == heardAtPing)
            openSilenceWindow();
        return;
    }
    reportAttemptEnd(QStringLiteral("WARNING: [CServerHandler::silenceTimeoutSlot] No answer from "
                                    "the server within %1 ms of a ping: connection lost")
                         .arg(intervals.keepAliveSilence));
    // Aborted, not closed: nothing more is written for a peer that is gone. The abort reports
    // disconnected() at once, which ends the attempt; should it not, the attempt ends here.
    socketAborted = true;
    socket.abort();
    if (attemptOpen)
        endAttempt();
}

void CServerHandler::answerTimeoutSlot()
{
    if (!attemptOpen || (state != Ping && state != Auth))
        return;
    const QString answer = state == Ping ? QStringLiteral("probe") : QStringLiteral("login");
    reportAttemptEnd(QStringLiteral("WARNING: [CServerHandler::answerTimeoutSlot] No %1 to the %2 "
                                    "from the server [%3] within %4 ms: connection given up. %5")
                         .arg(unusableProbeReply && state == Ping ? QStringLiteral("usable answer")
                                                                  : QStringLiteral("answer"),
                              answer, serverText(), QString::number(intervals.answerTimeout),
                              nextAttemptText()));
    // As after a silent link: the server may be gone, so nothing more is written to it.
    socketAborted = true;
    socket.abort();
    if (attemptOpen)
        endAttempt();
}

void CServerHandler::stopKeepAlive()
{
    keepAliveTimer->stop();
    silenceTimer->stop();
}

void CServerHandler::endAttempt()
{
    connectTimer->stop();
    answerTimer->stop();
    stopKeepAlive();
    attemptOpen = false;
    state = Disconnected;
    emit changeServerStatus(COMM::Disconnected);
    reconnectTimer->start(intervals.reconnect);
}

void CServerHandler::reconnectLastAuthData()
{
    closeSocket();
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
            answerTimer->start(intervals.answerTimeout);
        } else {
            qDebug() << "[CServerHandler::textMessageReceivedSlot] State=ping: unknown message";
            unusableProbeReply = true;
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
    answerTimer->stop();
    QString refusal;
    // What the operator is told; the debug text above says which test failed.
    QString reason = QStringLiteral("unexpected answer");
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
        const QString serverReason = object.value(Key::err_string).toString();
        refusal = QStringLiteral("[CServerHandler::textMessageReceivedSlot] State=auth: unknown "
                                 "message[4], err[%1]")
                      .arg(serverReason);
        reason = serverReason.isEmpty() ? QStringLiteral("no reason given") : serverReason;
    }
    if (!refusal.isEmpty()) {
        qDebug().noquote() << refusal;
        // The attempt's one line: a drop of the refusing server writes none.
        reportAttemptEnd(QStringLiteral("WARNING: [CServerHandler::handleLoginAnswer] The server "
                                        "[%1] refused the login [%2]: %3")
                             .arg(serverText(), login, reason));
        emit changeServerStatus(COMM::InvalidAuth);
        return;
    }
    reconnectTimer->stop();
    state = Verified;
    addLog(QStringLiteral("INFO: [CServerHandler::handleLoginAnswer] Logged in to the server [%1] "
                          "as [%2]")
               .arg(serverText(), login));
    emit changeServerStatus(COMM::Success);
    // What waited for the login leaves now, in its order; a held request with a fresh response
    // time.
    releaseHeldRequest();
    queueMutex.lock();
    const bool queued = !queue.isEmpty();
    queueMutex.unlock();
    if (queued)
        wakeQueue();
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
    wakeQueue();
}

void CServerHandler::wakeQueue()
{
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
    // Until a login is accepted only the probe and the login are written, and the queue keeps its
    // order. The first device-list or last-packets request has its turn all the same: its
    // response time runs while it waits, and at its end it fails as an unanswered one does.
    if (state != Verified) {
        const qsizetype request = firstRequestIndex();
        if (request < 0) {
            qDebug() << "[CServerHandler::newTaskSlot] Not logged in: downlinks wait";
            waitingMutex.unlock();
            queueMutex.unlock();
            return;
        }
        curTask = queue.at(request).type;
        requestHeld = true;
        queueMutex.unlock();
        qDebug() << "[CServerHandler::newTaskSlot] Not logged in: the request waits";
        responseTimer->start(intervals.response);
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

qsizetype CServerHandler::firstRequestIndex() const
{
    const auto request = std::find_if(queue.cbegin(), queue.cend(),
                                      [](const STask &task) { return task.type != SendDataTask; });
    return request == queue.cend() ? -1 : request - queue.cbegin();
}

void CServerHandler::releaseHeldRequest()
{
    if (!requestHeld)
        return;
    requestHeld = false;
    responseTimer->stop();
    curTask = IdleTask;
    releaseWait();
}

void CServerHandler::waitingServerResponseTimeoutSlot()
{
    responseTimer->stop();
    if (requestHeld) {
        // Never sent: it leaves the queue unanswered.
        requestHeld = false;
        queueMutex.lock();
        const qsizetype request = firstRequestIndex();
        if (request >= 0)
            queue.removeAt(request);
        queueMutex.unlock();
    }
    // Also sound when no wait is held (the slot can be invoked by name).
    releaseWait();
    if (curTask == GetDevicesTask)
        emit getDevicesListResp(false, {});
    curTask = IdleTask;
    emit newTask();
}
