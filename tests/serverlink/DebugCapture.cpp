#include "DebugCapture.h"

DebugCapture *DebugCapture::current = nullptr;

DebugCapture::DebugCapture()
{
    current = this;
    previous = qInstallMessageHandler(&DebugCapture::handler);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(previous);
    current = nullptr;
}

int DebugCapture::count(const QString &text) const
{
    int n = 0;
    for (const QString &message : recorded)
        if (message.contains(text))
            ++n;
    return n;
}

void DebugCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!current)
        return;
    if (type == QtDebugMsg)
        current->recorded.append(text);
    if (current->previous)
        current->previous(type, context, text);
}
