#pragma once

#include "DbRecords.h"

#include <QList>
#include <QString>

// The registers a device template defines: metadata registers first, then the packet fields.
struct STemplateRegMap
{
    QString appEui;
    QList<DB::SRegisterDescription> registers;
};
