#include "QuietTraces.h"

QStringList QuietTraces::dropped;
QtMessageHandler QuietTraces::previous = nullptr;

QuietTraces::QuietTraces(const QStringList &prefixes)
{
    dropped = prefixes;
    previous = qInstallMessageHandler(handler);
}

QuietTraces::~QuietTraces()
{
    qInstallMessageHandler(previous);
    previous = nullptr;
    dropped.clear();
}

void QuietTraces::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg) {
        for (const QString &prefix : std::as_const(dropped)) {
            if (text.startsWith(prefix))
                return;
        }
    }
    if (previous)
        previous(type, context, text);
}
