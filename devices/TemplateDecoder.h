#pragma once

#include "DbRecords.h"
#include "SApiDeviceData.h"
#include "SDeviceTemplate.h"

#include <QString>

#include <functional>
#include <optional>

// Decoding of one uplink by its device template into 16-bit register texts.
namespace TemplateDecoder {

// The stored scaling of the register at an absolute address.
using ScalingLookup = std::function<DB::SRegisterParam(quint32 regAddr)>;
// Receives every warning and error line of the decoding.
using LogSink = std::function<void(const QString &line)>;

// The register values of the uplink, metadata registers first, then the packet's fields. No value
// when the template has no packet of the payload's type or the payload's length is not the
// packet's size: then nothing is to be stored. Never reads outside the payload.
std::optional<DB::SDbDeviceRegDataSet> decode(const SDeviceTemplate &deviceTemplate,
                                              const API::SApiDeviceData &uplink, int startAddr,
                                              const ScalingLookup &scaling, const LogSink &log);

} // namespace TemplateDecoder
