#pragma once

#include <QByteArray>
#include <QtGlobal>

class QTcpSocket;

// The Modbus-TCP side of one client socket: holds a copy of the unanswered bytes at the start of
// the socket's read buffer, and the state of the portions it answers them in: a portion under
// way, the pause while the client holds too many unsent answers, and the byte held back while Qt
// holds answers unsent.
class CModbusSession
{
public:
    // A Modbus client is served in portions, one per turn of the event loop, so that a client
    // that floods or pipelines cannot hold up the others: at most this many frames per turn, and
    // answers of at most about this many bytes (what an answer costs grows with its size).
    static constexpr int FramesPerTurn = 64;
    static constexpr qsizetype AnswerBytesPerTurn = 2 * 1024;
    // Bytes a Modbus connection lets Qt take from the system's socket buffer (more while a longer
    // frame is begun). Frames stay there until answered, and while a whole frame waits unanswered
    // or an answer unsent, Qt takes nothing more: so the end of a half-closed stream is seen only
    // after the last answer has left, and what a client sends beyond this waits in the system's
    // buffers, slowing the sender down.
    static constexpr qint64 ReadBufferBytes = 16 * 1024;
    // Unsent answer bytes beyond which a Modbus connection takes no further request until the
    // client has taken its answers: a client that stops reading is slowed, not buffered. An honest
    // master has a few answers of at most 255 bytes outstanding.
    static constexpr qint64 PauseUnsentBytes = 4 * 1024;

    // Answers the requests `socket` receives from the registers of `port`.
    CModbusSession(QTcpSocket &socket, quint16 port);

    // The socket's readyRead.
    void bytesArrived();
    // The socket's bytesWritten: resumes once the client has taken its answers.
    void bytesWritten();

private:
    // One portion of the client's bytes: peeks what it needs, answers up to FramesPerTurn
    // frames, takes their bytes from the socket and asks for another turn while work is left.
    void servePortion();
    // Sends one answer; false when the client holds too many unsent bytes (the session pauses).
    bool sendAnswer(const QByteArray &answer);
    // Lets Qt read on, or keeps it from reading while a whole frame waits, an answer is unsent or
    // the session is paused; queues the next portion when one is due.
    void settleReading();

    QTcpSocket &socket;
    quint16 port = 0;
    // A copy of the unanswered bytes at the start of the socket's read buffer (they are taken from
    // the socket only once answered).
    QByteArray buffer;
    // A queued call of servePortion() is on its way.
    bool portionQueued = false;
    // The client holds more than PauseUnsentBytes of answers: nothing is served until it reads.
    bool paused = false;
    // A pause stopped a portion before the end of `buffer`.
    bool stepsLeft = false;
    // Bytes of answered frames left at the start of the socket's read buffer while Qt holds
    // answers unsent (0 or 1).
    qint64 heldBack = 0;
};
