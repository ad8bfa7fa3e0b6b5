#pragma once

#include "DbRecords.h"

// A device-packet "uinteger" register description at the offset, named after it.
inline DB::SRegisterDescription testRegister(quint32 offset, quint32 bitSize = 16)
{
    DB::SRegisterDescription r;
    r.name = QStringLiteral("reg%1").arg(offset);
    r.source = DB::SourceDevice;
    r.regOffset = offset;
    r.bitSize = bitSize;
    r.dataType = QStringLiteral("uinteger");
    return r;
}
