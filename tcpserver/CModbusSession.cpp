#include "CModbusSession.h"

#include "CDataBaseHandler.h"
#include "CLogFile.h"
#include "HexText.h"
#include "ModbusFrame.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

CModbusSession::CModbusSession(QTcpSocket &socket_, quint16 port_) : socket(socket_), port(port_)
{
    socket.setReadBufferSize(ReadBufferBytes);
}

void CModbusSession::bytesArrived()
{
    // A queued portion takes the new bytes when its turn comes.
    if (!portionQueued)
        servePortion();
}

void CModbusSession::servePortion()
{
    portionQueued = false;
    if (socket.state() != QAbstractSocket::ConnectedState || paused)
        return;
    // A portion stopped by a pause goes on with what it left before new bytes are looked at, so
    // that the log lines keep their order.
    if (!stepsLeft && !ModbusFrame::hasWholeFrame(buffer)) {
        // The frames stay in the socket until answered: peek at them.
        const qint64 wanted = qMin(socket.bytesAvailable() - heldBack,
                                   qMax<qint64>(ReadBufferBytes, ModbusFrame::frameSize(buffer)));
        if (wanted <= buffer.size()) {
            settleReading();
            return;
        }
        buffer = socket.peek(heldBack + wanted);
        buffer.remove(0, heldBack);
        const bool logging = CLogFile::isEnabled();
        if (logging || QLoggingCategory::defaultCategory()->isDebugEnabled()) {
            // A request is at most 260 bytes; of a longer backlog only the start is shown, so a
            // client that drips a huge declared frame cannot flood the log with the same bytes.
            constexpr qsizetype MaxLoggedBytes = 260;
            const QString hex = buffer.size() > MaxLoggedBytes
                                    ? hexText(buffer.left(MaxLoggedBytes)) + QStringLiteral("...")
                                    : hexText(buffer);
            qDebug().noquote() << "REQ: " << hex;
            if (logging)
                addLog(QStringLiteral("INFO: [CConnectionHandler] REQ: < %1 >").arg(hex));
        }
    }

    const ModbusFrame::RegisterSource source
        = [this](quint16 startAddr, quint16 quantity, bool *ok) {
              CDataBaseHandler *storage = CDataBaseHandler::getInstance();
              if (!storage) {
                  *ok = false;
                  return DB::RegisterImage();
              }
              return storage->getRegisterData(port, startAddr, quantity, ok);
          };
    const qsizetype before = buffer.size();
    ModbusFrame::takeFrames(
        buffer, source,
        [this](const ModbusFrame::SFrameStep &step) {
            switch (step.kind) {
            case ModbusFrame::SFrameStep::Answer:
                return sendAnswer(step.answer);
            case ModbusFrame::SFrameStep::IncompleteMbap:
                addLog(QStringLiteral(
                    "[CConnectionHandler] Incomplete packet [1]. Wait for continue..."));
                break;
            case ModbusFrame::SFrameStep::IncompleteFrame:
                addLog(QStringLiteral(
                    "[CConnectionHandler] Incomplete packet [2]. Wait for continue..."));
                break;
            case ModbusFrame::SFrameStep::ShortFrame:
                addLog(
                    QStringLiteral("[CConnectionHandler] Incomplete packet [3]. Clear buffer..."));
                break;
            }
            return true;
        },
        FramesPerTurn, AnswerBytesPerTurn);
    // Only now are the answered frames taken from the socket; while Qt holds answers unsent, the
    // last byte of them stays, so that Qt's read buffer is never empty and the end of a half-closed
    // stream is not read (which would drop the unsent answers).
    const qint64 answered = heldBack + (before - buffer.size());
    const qint64 keep = answered > 0 && socket.bytesToWrite() > 0 ? 1 : 0;
    socket.skip(answered - keep);
    heldBack = keep;
    stepsLeft = paused && !buffer.isEmpty();
    settleReading();
}

void CModbusSession::settleReading()
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return;
    const qint64 held = socket.bytesAvailable();
    // Unpeeked bytes may hold whole frames as well.
    const bool framesWaiting
        = stepsLeft || ModbusFrame::hasWholeFrame(buffer) || held - heldBack > buffer.size();
    if (paused || framesWaiting || heldBack > 0) {
        // A full read buffer keeps Qt from reading on (0 would mean no limit at all).
        socket.setReadBufferSize(qMax<qint64>(held, 1));
    } else {
        socket.setReadBufferSize(qMax<qint64>(ReadBufferBytes, ModbusFrame::frameSize(buffer)));
    }
    // The rest waits behind what other connections and the log have queued meanwhile.
    if (framesWaiting && !paused && !portionQueued) {
        portionQueued = true;
        QMetaObject::invokeMethod(
            &socket, [this] { servePortion(); }, Qt::QueuedConnection);
    }
}

void CModbusSession::bytesWritten()
{
    // Resumed once the client has taken its answers (Qt holds nothing unsent).
    if ((!paused && heldBack == 0) || socket.bytesToWrite() > 0
        || socket.state() != QAbstractSocket::ConnectedState)
        return;
    paused = false;
    socket.skip(heldBack);
    heldBack = 0;
    settleReading();
}

bool CModbusSession::sendAnswer(const QByteArray &answer)
{
    qint64 sent = 0;
#if defined(Q_OS_UNIX) && defined(MSG_NOSIGNAL)
    // While Qt holds nothing unsent the answer goes straight to the socket, which spares
    // switching the write notifier on and off for every answer.
    if (socket.bytesToWrite() == 0) {
        const ssize_t taken = ::send(int(socket.socketDescriptor()), answer.constData(),
                                     size_t(answer.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (taken > 0)
            sent = taken;
    }
#endif
    // Never waits: Qt keeps what the client has not taken yet (and reports a failed socket).
    if (sent < answer.size()) {
        socket.write(answer.constData() + sent, answer.size() - sent);
        socket.flush();
    }
    if (CLogFile::isEnabled())
        addLog(QStringLiteral("INFO: [CConnectionHandler] ANS: < %1 >").arg(hexText(answer)));
    if (socket.bytesToWrite() <= PauseUnsentBytes)
        return true;
    paused = true;
    return false;
}
