#pragma once

#include <QStringList>
#include <QtGlobal>

// Records every message of the Qt debug stream while it lives (one at a time) and passes it on.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QStringList messages() const { return recorded; }
    int count(const QString &text) const;
    bool contains(const QString &text) const { return count(text) > 0; }
    void clear() { recorded.clear(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    QStringList recorded;
    QtMessageHandler previous = nullptr;
    static DebugCapture *current;
};
