#include "ModbusFrame.h"

#include <QtEndian>

namespace ModbusFrame {

namespace {

quint16 wordAt(const QByteArray &data, qsizetype offset)
{
    return qFromBigEndian<quint16>(data.constData() + offset);
}

void appendWord(QByteArray &out, quint16 word)
{
    out.append(char(word >> 8));
    out.append(char(word & 0xff));
}

// Transaction id, protocol id, length, unit id and function: the first 8 bytes of every answer.
QByteArray answerHead(const SModbusMBAP &mbap, const SModbusTcpPacketHeader &header, quint16 length,
                      quint8 function, qsizetype reserve)
{
    QByteArray out;
    out.reserve(reserve);
    appendWord(out, mbap.transactionId);
    appendWord(out, mbap.protocolId);
    appendWord(out, length);
    out.append(char(header.unitId));
    out.append(char(function));
    return out;
}

} // namespace

SModbusMBAP::SModbusMBAP(const QByteArray &data)
{
    if (data.size() < MbapSize)
        return;
    transactionId = wordAt(data, 0);
    protocolId = wordAt(data, 2);
    length = wordAt(data, 4);
}

SModbusTcpPacketHeader::SModbusTcpPacketHeader(const QByteArray &data)
{
    if (data.size() < RequestHeaderSize)
        return;
    unitId = quint8(data.at(6));
    function = quint8(data.at(7));
    startAddr = wordAt(data, 8);
    quantity = wordAt(data, 10);
}

qsizetype frameSize(const QByteArray &buffer)
{
    if (buffer.size() < MbapSize)
        return 0;
    return qsizetype(wordAt(buffer, 4)) + MbapSize;
}

bool hasWholeFrame(const QByteArray &buffer)
{
    const qsizetype size = frameSize(buffer);
    return size > 0 && buffer.size() >= size;
}

QByteArray readAnswer(const SModbusMBAP &mbap, const SModbusTcpPacketHeader &header,
                      const DB::RegisterImage &data)
{
    const qsizetype count = data.size();
    QByteArray out = answerHead(mbap, header, quint16(2 * count + 3), header.function,
                                MbapSize + 3 + 2 * count);
    out.append(char(quint8(2 * count)));
    const qsizetype values = out.size();
    out.resize(values + 2 * count);
    char *word = out.data() + values;
    // In request order, so a range that wraps past 65535 keeps its addresses in place; the map
    // is walked once in key order instead of searched for every address.
    auto next = data.lowerBound(header.startAddr);
    for (qsizetype i = 0; i < count; ++i, word += 2) {
        const quint16 address = quint16(header.startAddr + i);
        if (address == 0 && i > 0)
            next = data.cbegin();
        quint16 value = 0;
        if (next != data.cend() && next.key() == address) {
            value = next.value();
            ++next;
        }
        word[0] = char(value >> 8);
        word[1] = char(value & 0xff);
    }
    return out;
}

QByteArray exceptionAnswer(const SModbusMBAP &mbap, const SModbusTcpPacketHeader &header,
                           quint8 code)
{
    QByteArray out = answerHead(mbap, header, 3, header.function | 0x80, MbapSize + 3);
    out.append(char(code));
    return out;
}

QByteArray answerFrame(const QByteArray &frame, const RegisterSource &source)
{
    const SModbusMBAP mbap(frame);
    const SModbusTcpPacketHeader header(frame);
    if (header.function != ReadHoldingRegisters && header.function != ReadInputRegisters)
        return exceptionAnswer(mbap, header, IllegalFunction);
    if (header.quantity > MaxReadQuantity)
        return exceptionAnswer(mbap, header, IllegalDataValue);
    bool ok = false;
    const DB::RegisterImage data
        = source ? source(header.startAddr, header.quantity, &ok) : DB::RegisterImage();
    if (!ok)
        return exceptionAnswer(mbap, header, ServerDeviceFailure);
    return readAnswer(mbap, header, data);
}

void takeFrames(QByteArray &buffer, const RegisterSource &source, const StepHandler &onStep,
                int maxFrames, qsizetype maxAnswerBytes)
{
    const auto report = [&onStep](SFrameStep::EKind kind, QByteArray answer = QByteArray()) {
        return onStep(SFrameStep{kind, std::move(answer)});
    };
    if (buffer.size() < MbapSize) {
        report(SFrameStep::IncompleteMbap);
        return;
    }
    // Frames are consumed by moving an offset; the buffer is cut once at the end.
    qsizetype offset = 0;
    int frames = 0;
    qsizetype answerBytes = 0;
    bool goOn = true;
    while (goOn) {
        const qsizetype left = buffer.size() - offset;
        const qsizetype size = qsizetype(wordAt(buffer, offset + 4)) + MbapSize;
        if (left < size) {
            report(SFrameStep::IncompleteFrame);
            break;
        }
        if ((maxFrames > 0 && frames == maxFrames)
            || (maxAnswerBytes > 0 && answerBytes >= maxAnswerBytes))
            break; // a whole frame waits: it is taken with the next portion
        ++frames;
        const QByteArray frame = buffer.mid(offset, size);
        offset += size;
        if (size < RequestHeaderSize) {
            goOn = report(SFrameStep::ShortFrame);
        } else {
            QByteArray answer = answerFrame(frame, source);
            answerBytes += answer.size();
            goOn = report(SFrameStep::Answer, std::move(answer));
            if (offset == buffer.size())
                break;
        }
        if (goOn && buffer.size() - offset < MbapSize) {
            report(SFrameStep::IncompleteMbap);
            break;
        }
    }
    buffer.remove(0, offset);
}

QList<SFrameStep> takeFrames(QByteArray &buffer, const RegisterSource &source)
{
    QList<SFrameStep> steps;
    takeFrames(buffer, source, [&steps](const SFrameStep &step) {
        steps.append(step);
        return true;
    });
    return steps;
}

} // namespace ModbusFrame
