// Feeds arbitrary text frames to the link in each of its states: the whole input as one frame,
// then its lines as a sequence of frames.

#include "CServerHandler.h"
#include "SApiDeviceData.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

class FuzzedLink : public CServerHandler
{
public:
    // Brings a fresh link into the state: 0 closed, 1 probe sent, 2 login sent, 3 verified,
    // 4 verified with a device-list request in flight.
    explicit FuzzedLink(int state)
    {
        if (state >= 1)
            socketConnectedSlot();
        if (state >= 2)
            textMessageReceivedSlot(QStringLiteral(R"({"err_string":""})"));
        if (state >= 3)
            textMessageReceivedSlot(QStringLiteral(R"({"cmd":"auth_resp","status":true})"));
        if (state >= 4 && getDevicesList({QStringLiteral("F1")}))
            newTaskSlot();
    }

    void feed(const QString &frame) { textMessageReceivedSlot(frame); }
};

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(quiet);
    static QCoreApplication app(*argc, *argv);
    registerApiMetaTypes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QList<QStringView> lines = QStringView(text).split(QLatin1Char('\n'));
    for (int state = 0; state <= 4; ++state) {
        FuzzedLink link(state);
        link.feed(text);
        if (lines.size() > 1)
            for (QStringView line : lines)
                link.feed(line.toString());
    }
    return 0;
}
