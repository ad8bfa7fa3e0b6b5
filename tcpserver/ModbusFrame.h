#pragma once

#include "DbRecords.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>

#include <functional>

// Modbus-TCP framing over plain bytes: cutting a receive buffer into MBAP frames and building the
// answer of each frame. The socket class feeds its buffer through takeFrames().
namespace ModbusFrame {

constexpr qsizetype MbapSize = 6;
constexpr qsizetype RequestHeaderSize = 12;
// Functions 3 and 4 read at most 125 registers per request.
constexpr quint16 MaxReadQuantity = 125;

constexpr quint8 ReadHoldingRegisters = 3;
constexpr quint8 ReadInputRegisters = 4;

enum EExceptionCode : quint8 {
    IllegalFunction = 1,
    IllegalDataValue = 3,
    ServerDeviceFailure = 4,
};

// The MBAP header; all 0 unless the bytes hold at least 6.
struct SModbusMBAP
{
    explicit SModbusMBAP(const QByteArray &data = QByteArray());

    quint16 transactionId = 0;
    quint16 protocolId = 0;
    quint16 length = 0;
};

// Unit id and request header; all 0 unless the bytes hold at least 12.
struct SModbusTcpPacketHeader
{
    explicit SModbusTcpPacketHeader(const QByteArray &data = QByteArray());

    quint8 unitId = 0;
    quint8 function = 0;
    quint16 startAddr = 0;
    quint16 quantity = 0;
};

// Reads the registers of a read request; sets *ok to false when the values cannot be read.
using RegisterSource
    = std::function<DB::RegisterImage(quint16 startAddr, quint16 quantity, bool *ok)>;

// One step of the frame loop, in the order the loop takes them.
struct SFrameStep
{
    enum EKind {
        Answer,          // a request answered; `answer` holds the bytes to send
        IncompleteMbap,  // fewer than 6 bytes left, kept for the next segment
        IncompleteFrame, // the frame has not fully arrived, kept for the next segment
        ShortFrame,      // MBAP length below 6: the frame is dropped
    };

    EKind kind = Answer;
    QByteArray answer;
};

// Size of the frame at the start of the buffer (length + 6); 0 when the MBAP is incomplete.
qsizetype frameSize(const QByteArray &buffer);
// True when the buffer begins with a frame that has fully arrived.
bool hasWholeFrame(const QByteArray &buffer);

// Answer to functions 3 and 4: the map's values from the request's start address on.
QByteArray readAnswer(const SModbusMBAP &mbap, const SModbusTcpPacketHeader &header,
                      const DB::RegisterImage &data);
// The 9-byte exception answer.
QByteArray exceptionAnswer(const SModbusMBAP &mbap, const SModbusTcpPacketHeader &header,
                           quint8 code);
// Answer to one complete frame whose MBAP length is at least 6.
QByteArray answerFrame(const QByteArray &frame, const RegisterSource &source);

// Called for each step; returning false stops the loop (the step's frame is already consumed).
using StepHandler = std::function<bool(const SFrameStep &step)>;

// Consumes every complete frame at the start of the buffer, reporting each step; what is left
// in the buffer is the start of a frame that has not fully arrived. With a `maxFrames` above 0
// it stops once that many frames are consumed while another whole frame waits (see
// hasWholeFrame), and with a `maxAnswerBytes` above 0 once the answers reported hold that many
// bytes while another whole frame waits, so that a connection can be served in portions; the
// steps reported are the same as when everything is taken at once.
void takeFrames(QByteArray &buffer, const RegisterSource &source, const StepHandler &onStep,
                int maxFrames = 0, qsizetype maxAnswerBytes = 0);
// The same, collecting the steps.
QList<SFrameStep> takeFrames(QByteArray &buffer, const RegisterSource &source);

} // namespace ModbusFrame

Q_DECLARE_METATYPE(ModbusFrame::SModbusMBAP)
Q_DECLARE_METATYPE(ModbusFrame::SModbusTcpPacketHeader)
