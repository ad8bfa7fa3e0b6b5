#pragma once

#include <QByteArray>

#include <cstddef>

// A blocking TCP client on 127.0.0.1 that sends and reads plain bytes, for what no protocol
// library would do: floods, half-closes, clients that stop reading.
class RawClient
{
public:
    // Connects at once. A size above 0 sets the system's receive and send buffers of the socket
    // before connecting, to keep small what the system holds for a client that floods or does
    // not read.
    explicit RawClient(quint16 port, int socketBufferBytes = 0);
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool isConnected() const { return fd >= 0; }
    // Sends everything, blocking while the peer does not take it; false when the connection fails.
    bool send(const QByteArray &bytes);
    // Sends without blocking until the system takes no more, at most `bytes` bytes of the
    // repeated pattern; returns how many bytes were sent.
    qint64 sendUntilFull(const QByteArray &pattern, qint64 bytes);
    // Ends the sending side (the peer sees the end of the stream).
    void shutdownWrite();
    // Reads until the peer closes; what came before.
    QByteArray readToEnd();
    // Reads exactly `count` bytes; fewer when the connection ends first.
    QByteArray read(qint64 count);
    // Reads and drops `bytes` bytes; false when the connection ends first.
    bool drain(qint64 bytes);
    // Ends the sending side and waits until the peer has closed the connection.
    void finish();

private:
    int fd = -1;
};
