#pragma once

#include <QtGlobal>

// The word handed with each chunk of a transparent device packet: bits 0-7 the chunk's number
// counted from 1, bits 8-15 the number of chunks, bits 16-31 the total packet size in bytes.
namespace TcpChunkWord {

constexpr quint32 pack(quint8 number, quint8 count, quint16 total)
{
    return quint32(number) | (quint32(count) << 8) | (quint32(total) << 16);
}

constexpr quint8 number(quint32 word)
{
    return quint8(word & 0xffu);
}

constexpr quint8 count(quint32 word)
{
    return quint8((word >> 8) & 0xffu);
}

constexpr quint16 total(quint32 word)
{
    return quint16(word >> 16);
}

} // namespace TcpChunkWord
