#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The chunk header of a transparent TCP device's uplink. First byte 3, 6 or 13: total size in
// bytes 2-3, chunk length in byte 4, index in 5, number of chunks in 6, data from byte 7. First
// byte 5: the same fields four bytes further on, data from byte 11. The total size is big-endian.
namespace TcpChunk {

struct SChunk
{
    QByteArray data;
    // TcpChunkWord of the chunk.
    quint32 word = 0;
};

// True for the first bytes that carry a chunk (3, 5, 6, 13).
bool isChunkType(quint8 type);

// Size of the header before the data for a chunk type; 0 for other types.
qsizetype headerSize(quint8 type);

// The chunk and its word. No value when the payload is not a chunk, is too short for its header
// or for the chunk length it states; *error then tells why. Never reads beyond the payload.
std::optional<SChunk> parse(const QByteArray &payload, QString *error = nullptr);

} // namespace TcpChunk
