#pragma once

#include "EServerStatus.h"
#include "SApiDeviceData.h"
#include "SServerDeviceInfo.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWebSocket>

class QJsonObject;
class QTimer;

// The client of the network server's WebSocket JSON interface: probe, login, the verified
// dispatch of uplinks and answers, one request in flight at a time, and the reconnection period.
class CServerHandler : public QObject
{
    Q_OBJECT
public:
    enum EState : quint32 { Disconnected = 0, Ping = 1, Auth = 2, Verified = 3 };
    enum ETaskType : int { GetDataTask = 0, GetDevicesTask = 1, SendDataTask = 2 };

    struct STask
    {
        int type = GetDataTask;
        QString json;
        // The target device of a downlink; empty for the other requests.
        QString devEui;
    };

    // The periods of the link in milliseconds. The defaults are the shipped values.
    struct SIntervals
    {
        int pingTimeout = 2000; // answer to the probe and to the login, before status 2 or 4
        // From the probe, and again from the login request, to its answer: an attempt whose
        // server stays mute (while it may still answer pings) is given up like a failed one.
        int answerTimeout = 10000;
        int reconnect = 60000;  // between connection attempts after a disconnection
        // From the opening of the socket to the completed WebSocket handshake (host lookup, TCP,
        // TLS and upgrade). An attempt not connected by then is closed and ends as a refused one.
        // Room for a slow lookup or a few lost SYNs, and still short beside the reconnect period.
        int connectTimeout = 10000;
        int response = 60000;       // device list and last packets
        int sendDataResponse = 100; // downlink
        // Between WebSocket pings, from the connection until it is lost, in every state.
        int keepAlivePing = 30000;
        // After a ping: a connection from which nothing (pong, message) has come by then is
        // given up as lost, as a dropped one. When it is not above keepAlivePing, a link gone
        // silent is given up within the sum of the two.
        int keepAliveSilence = 30000;
    };

    static CServerHandler *getInstance();
    ~CServerHandler() override;

    bool getDevicesList(QStringList appEuis);
    void sendData(QString devEui, QByteArray hexText);
    // Downlinks of this device queued and not sent yet (the one in flight is not counted).
    int waitingDownlinks(const QString &devEui) const { return downlinksWaiting.value(devEui); }

    // Seam for tests: shorter periods. Takes effect with the next start of each timer.
    void setIntervals(const SIntervals &_intervals) { intervals = _intervals; }
    const SIntervals &getIntervals() const { return intervals; }

signals:
    void newTask();
    void changeServerStatus(COMM::EServerStatus _status);
    void getDevicesListResp(bool status, QList<API::SServerDeviceInfo> _regInfoList = {});
    void newPacketReceived(API::SApiDeviceData _devData);
    // A downlink of this device has left the queue (sent), so there is room for another.
    void downlinkTaken(QString devEui);

protected slots:
    void socketConnectedSlot();
    void socketDisconnectedSlot();
    void textMessageReceivedSlot(QString msg);
    void timeoutSlot();
    void waitingServerResponseTimeoutSlot();
    void newTaskSlot();
    void reconnectLastAuthData();

public slots:
    void connectSlot(QString _origin, QString _login, QString _password);
    void getDeviceLastPackets(QString devEui);

private slots:
    void socketErrorSlot(QAbstractSocket::SocketError _error);
    void connectTimeoutSlot();
    void keepAliveSlot();
    void silenceTimeoutSlot();
    void answerTimeoutSlot();

protected:
    // Protected so that tests and the fuzz target can make instances of their own.
    CServerHandler();

private:
    void openSocket(const QUrl &_url);
    void closeSocket();
    // Any byte from the server's TCP socket shows it alive, also within a frame still arriving.
    void watchTransport();
    QAbstractSocket *newestTransport() const;
    // The TCP socket that the last socket.open() made, or null when it made none.
    QAbstractSocket *ownTransport() const;
    void endAttempt();
    // The server's address for log lines, without any user information.
    QString serverText() const;
    // The text of a socket error of the current attempt.
    QString errorText(QAbstractSocket::SocketError _error) const;
    // A log line that ends the attempt; the disconnection that follows writes none of its own.
    void reportAttemptEnd(const QString &line);
    // The attempt's line for a failed or lost connection, written by this method.
    void reportConnectionEnd(const char *method);
    QString nextAttemptText() const;
    // Sends the next queued request when none is in flight.
    void wakeQueue();
    void stopKeepAlive();
    void noteServerHeard() { ++heardCount; }
    void openSilenceWindow();
    void sendMessage(const QString &json);
    void enqueueTask(const STask &task);
    void releaseWait();
    // The first queued request that is not a downlink, or -1. Called with queueMutex held.
    qsizetype firstRequestIndex() const;
    // Ends the wait of a request whose turn came before the login; it keeps its place.
    void releaseHeldRequest();
    void handleLoginAnswer(const QJsonObject &object);
    void handleVerifiedMessage(const QJsonObject &object);
    void handleDevicesListAnswer(const QJsonObject &object);
    void handleLastPacketsAnswer(const QJsonObject &object);

    quint32 state = Disconnected;
    int curTask = GetDataTask;
    QList<STask> queue;
    // Per DevEUI, the downlinks in `queue`.
    QHash<QString, int> downlinksWaiting;
    // The wait in progress belongs to the first request in `queue` that is not a downlink: its
    // turn came while the link was not logged in, and it was not sent.
    bool requestHeld = false;
    QMutex queueMutex;
    QMutex taskSlotMutex;
    QMutex waitingMutex;
    QTimer *responseTimer = nullptr;
    QWebSocket socket{QString(), QWebSocketProtocol::Version13};
    QString login;
    QString password;
    QString url;
    QTimer *pingTimer = nullptr;
    QTimer *reconnectTimer = nullptr;
    QTimer *connectTimer = nullptr;
    // Pings while connected. Each ping opens a silence window unless one is open; when that one
    // ends heard, the last ping, if still unanswered, gets the rest of a window of its own.
    QTimer *keepAliveTimer = nullptr;
    QTimer *silenceTimer = nullptr;
    // The probe's or the login's answer has not come yet.
    QTimer *answerTimer = nullptr;

    // True from the opening of the socket until the end of that attempt has been reported: a
    // refused handshake reports only an error, other failures an error and a disconnection, and a
    // stalled one nothing until connectTimer closes it.
    bool attemptOpen = false;
    // The end of the current attempt has been logged.
    bool attemptReported = false;
    // The socket of the current attempt has connected.
    bool connectedOnce = false;
    // The text of the current attempt's first socket error; empty until one comes.
    QString attemptReason;
    // The TCP socket of the current attempt, a child of `socket`.
    QPointer<QAbstractSocket> transport;
    // The newest TCP socket before the current attempt's socket.open().
    QPointer<QAbstractSocket> transportBeforeOpen;
    // socket.open() is running: a connect that fails at once reports its end from inside it.
    bool opening = false;
    // The probe was answered, but without "err_string".
    bool unusableProbeReply = false;
    // Arrivals of bytes, frames and pongs; the count at the last ping and at the ping whose
    // silence window runs. Nothing heard since that ping when the window ends: the connection is lost.
    quint32 heardCount = 0;
    quint32 heardAtPing = 0;
    quint32 heardAtWindow = 0;
    QElapsedTimer sincePing;
    // The socket was aborted since its last opening: it is closed and takes no close frame.
    bool socketAborted = false;
    SIntervals intervals;
};
