#pragma once

#include <QStringList>
#include <QtGlobal>

// While it lives, debug messages that begin with one of the prefixes are dropped (per-request
// traces would flood the test output); the rest goes to the handler that was installed before.
class QuietTraces
{
public:
    explicit QuietTraces(const QStringList &prefixes);
    ~QuietTraces();
    QuietTraces(const QuietTraces &) = delete;
    QuietTraces &operator=(const QuietTraces &) = delete;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    static QStringList dropped;
    static QtMessageHandler previous;
};
