// Any uplink (payload and metadata) and any stored scaling through the decoder, against the
// example templates and one template whose fields reach outside its packets.

#include "SDeviceTemplate.h"
#include "TemplateDecoder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QList>
#include <QtGlobal>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

const char *OutsideTemplate = R"JSON({
    "app_eui": "00", "dev_type": "outside",
    "server_data": [
        {"data_code":"gatewayId","reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":40,"data_name":"g"},
        {"data_code":"snr","reg_map_bias":-3,"reg_bit_bias":0,"reg_bit_size":8,"data_name":"s"}
    ],
    "device_packets": [{"packet_type": 7, "packet_size": 4, "packet_fields": [
        {"packet_bias":-1,"data_bit_bias":0,"data_bit_size":16,"data_type":"integer",
         "reg_map_bias":0,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"before"},
        {"packet_bias":1,"data_bit_bias":0,"data_bit_size":64,"data_type":"uinteger",
         "reg_map_bias":1,"reg_bit_bias":0,"reg_bit_size":64,"data_name":"past the end"},
        {"packet_bias":2147483647,"data_bit_bias":0,"data_bit_size":64,"data_type":"text",
         "reg_map_bias":2147483647,"reg_bit_bias":0,"reg_bit_size":64,"data_name":"far"},
        {"packet_bias":3,"data_bit_bias":4,"data_bit_size":8,"data_type":"integer",
         "reg_map_bias":5,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"bit bias"},
        {"packet_bias":0,"data_bit_bias":0,"data_bit_size":24,"data_type":"integer",
         "reg_map_bias":6,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"three bytes"},
        {"packet_bias":0,"data_bit_bias":0,"data_bit_size":32,"data_type":"text","endianness":"be",
         "reg_map_bias":7,"reg_bit_bias":0,"reg_bit_size":32,"data_name":"all"},
        {"packet_bias":0,"data_bit_bias":0,"data_bit_size":8,"data_type":"boolean",
         "reg_map_bias":9,"reg_bit_bias":0,"reg_bit_size":16,"data_name":"flag"}
    ]}]
})JSON";

QList<SDeviceTemplate> loadTemplates()
{
    QList<SDeviceTemplate> templates;
    const QDir dir(QStringLiteral(EXAMPLE_TEMPLATE_FOLDER));
    for (const QString &name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        if (name.contains(QStringLiteral("TCP.json")))
            continue;
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            templates.append(SDeviceTemplate(QJsonDocument::fromJson(file.readAll()).object()));
    }
    templates.append(SDeviceTemplate(QJsonDocument::fromJson(OutsideTemplate).object()));
    return templates;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QList<SDeviceTemplate> templates = [] {
        qInstallMessageHandler(dropMessages);
        return loadTemplates();
    }();
    if (templates.isEmpty())
        __builtin_trap();

    FuzzedDataProvider input(data, size);
    const SDeviceTemplate &deviceTemplate
        = templates.at(input.ConsumeIntegralInRange<int>(0, int(templates.size()) - 1));
    const bool fitPacket = input.ConsumeBool();

    API::SApiDeviceData uplink;
    uplink.ts = input.ConsumeIntegral<quint64>();
    uplink.rssi = input.ConsumeIntegral<qint16>();
    uplink.snr = input.ConsumeFloatingPoint<double>();
    uplink.fcnt = input.ConsumeIntegral<quint32>();
    uplink.gatewayId = QString::fromStdString(input.ConsumeRandomLengthString(24));
    uplink.devEui = QString::fromStdString(input.ConsumeRandomLengthString(24));
    const int startAddr = input.ConsumeIntegral<int>();
    const double multiplier = input.ConsumeFloatingPoint<double>();
    const double extraValue = input.ConsumeFloatingPoint<double>();
    std::vector<char> payload = input.ConsumeRemainingBytes<char>();

    // Often give the payload a known type and exactly the packet's size, so the fields are read.
    if (fitPacket && !deviceTemplate.packets.isEmpty()) {
        const quint32 pick = payload.empty() ? 0 : uchar(payload.front());
        const SDevicePacket &packet
            = std::next(deviceTemplate.packets.begin(), pick % deviceTemplate.packets.size())
                  .value();
        payload.resize(packet.packetSize, '\0');
        if (!payload.empty())
            payload.front() = char(packet.packetType);
    }
    // The bytes stay in a buffer of exactly their size, so that any read outside them is caught.
    payload.shrink_to_fit();
    uplink.data = QByteArray::fromRawData(payload.data(), qsizetype(payload.size()));

    const auto scaling = [&](quint32 regAddr) {
        DB::SRegisterParam param;
        param.regAddr = regAddr;
        param.multiplier = multiplier;
        param.extraValue = extraValue;
        return param;
    };
    const auto log = [](const QString &line) {
        (void)line.size();
    };
    const auto result = TemplateDecoder::decode(deviceTemplate, uplink, startAddr, scaling, log);
    if (result)
        for (const DB::SDbRegValue &reg : result->regValues)
            if (reg.value.isEmpty())
                __builtin_trap(); // empty registers are never handed to storage
    return 0;
}
