#include "TcpChunk.h"

#include "TcpChunkWord.h"

namespace TcpChunk {

bool isChunkType(quint8 type)
{
    return type == 3 || type == 5 || type == 6 || type == 13;
}

qsizetype headerSize(quint8 type)
{
    if (!isChunkType(type))
        return 0;
    return type == 5 ? 11 : 7;
}

std::optional<SChunk> parse(const QByteArray &payload, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<SChunk> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (payload.isEmpty())
        return fail(QStringLiteral("Empty payload"));
    const quint8 type = quint8(payload.at(0));
    const qsizetype header = headerSize(type);
    if (header == 0)
        return fail(QStringLiteral("Uncknown chunk type [%1]").arg(type));
    if (payload.size() < header)
        return fail(QStringLiteral("Payload size [%1] is less than the chunk header size [%2]")
                        .arg(payload.size())
                        .arg(header));

    // The fields end with the header: total (2 bytes), length, index, number of chunks.
    const auto byteAt = [&](qsizetype fromEnd) {
        return quint8(payload.at(header - fromEnd));
    };
    const quint16 total = quint16((byteAt(5) << 8) | byteAt(4));
    const quint8 length = byteAt(3);
    const quint8 index = byteAt(2);
    const quint8 count = byteAt(1);
    if (payload.size() - header < length)
        return fail(QStringLiteral("Payload size [%1] is less than the chunk header size [%2] "
                                   "plus the chunk length [%3]")
                        .arg(payload.size())
                        .arg(header)
                        .arg(length));

    SChunk chunk;
    chunk.data = payload.mid(header, length);
    chunk.word = TcpChunkWord::pack(quint8(index + 1), count, total);
    return chunk;
}

} // namespace TcpChunk
