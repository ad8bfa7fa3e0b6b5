#pragma once

#include "DbRecords.h"

#include <QString>

class CDataBaseHandler;

// A register image as "address=word" pairs, the words in four hexadecimal digits.
QString registerImageText(const DB::RegisterImage &image);

// The range read twice, cut from the port's cached rows and by the range statement, as the text
// above when both reads succeed alike; otherwise both outcomes ("failed" for a failed read). The
// image cache is on again afterwards.
QString registerImageBothWays(CDataBaseHandler *storage, quint32 port, quint32 start,
                              quint32 count);
