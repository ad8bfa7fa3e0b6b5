#include "RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

RawClient::RawClient(quint16 port, int socketBufferBytes) : fd(::socket(AF_INET, SOCK_STREAM, 0))
{
    if (fd < 0)
        return;
    if (socketBufferBytes > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &socketBufferBytes, sizeof socketBufferBytes);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &socketBufferBytes, sizeof socketBufferBytes);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        fd = -1;
        return;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

RawClient::~RawClient()
{
    if (fd >= 0)
        ::close(fd);
}

bool RawClient::send(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (fd >= 0 && left > 0) {
        const ssize_t sent = ::send(fd, data, left, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        left -= size_t(sent);
    }
    return fd >= 0;
}

qint64 RawClient::sendUntilFull(const QByteArray &pattern, qint64 bytes)
{
    if (fd < 0 || pattern.isEmpty())
        return 0;
    QByteArray block;
    while (block.size() < 64 * 1024)
        block += pattern;
    qint64 total = 0;
    while (total < bytes) {
        // Whole patterns only, so what was sent is a number of whole requests.
        const qint64 offset = total % block.size();
        const qint64 chunk = std::min<qint64>(block.size() - offset, bytes - total);
        const ssize_t sent
            = ::send(fd, block.constData() + offset, size_t(chunk), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent <= 0)
            break;
        total += sent;
    }
    // The rest of a pattern begun, blocking, so that the peer sees whole requests.
    const qint64 partial = total % pattern.size();
    if (partial > 0 && send(pattern.mid(partial)))
        total += pattern.size() - partial;
    return total;
}

void RawClient::shutdownWrite()
{
    if (fd >= 0)
        ::shutdown(fd, SHUT_WR);
}

QByteArray RawClient::readToEnd()
{
    QByteArray all;
    char chunk[64 * 1024];
    while (fd >= 0) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        all.append(chunk, n);
    }
    return all;
}

QByteArray RawClient::read(qint64 count)
{
    QByteArray all;
    char chunk[64 * 1024];
    while (fd >= 0 && all.size() < count) {
        const ssize_t n
            = ::recv(fd, chunk, size_t(std::min<qint64>(sizeof chunk, count - all.size())), 0);
        if (n <= 0)
            break;
        all.append(chunk, n);
    }
    return all;
}

bool RawClient::drain(qint64 bytes)
{
    std::vector<char> sink(64 * 1024);
    while (fd >= 0 && bytes > 0) {
        const ssize_t n
            = ::recv(fd, sink.data(), size_t(std::min<qint64>(qint64(sink.size()), bytes)), 0);
        if (n <= 0)
            return false;
        bytes -= n;
    }
    return fd >= 0;
}

void RawClient::finish()
{
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
}
