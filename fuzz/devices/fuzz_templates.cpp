// Template JSON bytes into the device template and TCP device type records.

#include "SDeviceTemplate.h"
#include "STCPDeviceTemplate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

void parseObject(const QJsonObject &object)
{
    const SDeviceTemplate deviceTemplate(object);
    if (deviceTemplate.valid) {
        const STemplateRegMap map = deviceTemplate.toRegMap();
        (void)map.registers.size();
    }
    const STCPDeviceTemplate tcpTemplate(object);
    (void)tcpTemplate.valid;
    for (const QJsonValue &element : object.value(QStringLiteral("data")).toArray())
        (void)STCPDeviceTemplate(element.toObject()).valid;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (qInstallMessageHandler(dropMessages), true);
    (void)quiet;

    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (document.isObject())
        parseObject(document.object());
    else if (document.isArray())
        for (const QJsonValue &element : document.array())
            parseObject(element.toObject());
    return 0;
}
