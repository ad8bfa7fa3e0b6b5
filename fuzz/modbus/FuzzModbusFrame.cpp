#include "ModbusFrame.h"

#include <QByteArray>
#include <QtEndian>

#include <cstdint>
#include <cstdlib>

// Input: one flag byte (bit 0: the register source fails), then segments, each a length byte
// followed by that many bytes (the last one may be shorter). The segments go through the frame
// loop one by one, as a socket's readyRead would deliver them.

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

quint16 wordAt(const QByteArray &data, qsizetype offset)
{
    return qFromBigEndian<quint16>(data.constData() + offset);
}

// The complete frames at the start of the buffer, found without the code under test.
QList<QByteArray> completeFrames(const QByteArray &buffer)
{
    QList<QByteArray> frames;
    qsizetype offset = 0;
    while (buffer.size() - offset >= ModbusFrame::MbapSize) {
        const qsizetype size = qsizetype(wordAt(buffer, offset + 4)) + ModbusFrame::MbapSize;
        if (buffer.size() - offset < size)
            break;
        frames.append(buffer.mid(offset, size));
        offset += size;
    }
    return frames;
}

void checkAnswer(const QByteArray &request, const QByteArray &answer, bool failing)
{
    require(answer.size() >= 9);
    require(answer.left(4) == request.left(4));      // transaction and protocol id
    require(wordAt(answer, 4) == answer.size() - 6); // MBAP length
    require(answer.at(6) == request.at(6));          // unit id
    const quint8 function = quint8(request.at(7));
    const quint16 quantity = wordAt(request, 10);
    const bool read = function == 3 || function == 4;
    if (read && quantity <= ModbusFrame::MaxReadQuantity && !failing) {
        require(quint8(answer.at(7)) == function);
        require(quint8(answer.at(8)) == 2 * quantity);
        require(answer.size() == 9 + 2 * quantity);
        const quint16 start = wordAt(request, 8);
        for (int i = 0; i < quantity; ++i)
            require(wordAt(answer, 9 + 2 * i) == quint16(start + i) * 3u % 65536u);
        return;
    }
    require(answer.size() == 9);
    require(quint8(answer.at(7)) == (function | 0x80));
    const quint8 code = !read ? 1 : quantity > ModbusFrame::MaxReadQuantity ? 3 : 4;
    require(quint8(answer.at(8)) == code);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool failing = data[0] & 1;
    const ModbusFrame::RegisterSource source
        = [failing](quint16 start, quint16 quantity, bool *ok) {
              DB::RegisterImage image;
              *ok = !failing;
              if (!failing) {
                  for (int i = 0; i < quantity; ++i)
                      image.insert(quint16(start + i), quint16(quint16(start + i) * 3u));
              }
              return image;
          };

    // The same stream again, taken a few frames per turn as a connection serves it.
    const int maxFrames = (data[0] >> 1) % 8 + 1;
    QByteArray portioned;

    QByteArray buffer;
    size_t pos = 1;
    while (pos < size) {
        const size_t length = qMin<size_t>(data[pos], size - pos - 1);
        const QByteArray segment(reinterpret_cast<const char *>(data + pos + 1), qsizetype(length));
        pos += 1 + length;

        const qsizetype kept = buffer.size();
        buffer += segment;
        const QList<QByteArray> frames = completeFrames(buffer);
        const QList<ModbusFrame::SFrameStep> steps = ModbusFrame::takeFrames(buffer, source);

        // Every complete frame is answered or (MBAP length below 6) dropped, in order.
        qsizetype next = 0;
        for (const ModbusFrame::SFrameStep &step : steps) {
            if (step.kind != ModbusFrame::SFrameStep::Answer
                && step.kind != ModbusFrame::SFrameStep::ShortFrame)
                continue;
            require(next < frames.size());
            const QByteArray &frame = frames.at(next++);
            if (step.kind == ModbusFrame::SFrameStep::ShortFrame)
                require(frame.size() < ModbusFrame::RequestHeaderSize);
            else
                checkAnswer(frame, step.answer, failing);
        }
        require(next == frames.size());

        portioned += segment;
        QList<ModbusFrame::SFrameStep> portionSteps;
        do {
            ModbusFrame::takeFrames(
                portioned, source,
                [&portionSteps](const ModbusFrame::SFrameStep &step) {
                    portionSteps.append(step);
                    return true;
                },
                maxFrames);
        } while (ModbusFrame::hasWholeFrame(portioned));
        require(portioned == buffer);
        require(portionSteps.size() == steps.size());
        for (qsizetype i = 0; i < steps.size(); ++i)
            require(portionSteps.at(i).kind == steps.at(i).kind
                    && portionSteps.at(i).answer == steps.at(i).answer);
        // What stays is the start of one frame, never more than it was plus one segment.
        require(buffer.size() <= kept + segment.size());
        require(buffer.size() < ModbusFrame::MbapSize
                || buffer.size() < ModbusFrame::frameSize(buffer));
    }
    return 0;
}
