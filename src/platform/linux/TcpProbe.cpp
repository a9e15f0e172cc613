#include "platform/TcpProbe.h"

#include <QElapsedTimer>
#include <cerrno>
#include <climits>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

bool connectWithin(const addrinfo *ai, const QElapsedTimer &clock, qint64 limitMs)
{
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0)
        return false;
    bool ok = false;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS) {
        for (;;) {
            const qint64 left = limitMs - clock.elapsed();
            if (left <= 0)
                break;
            pollfd p {fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, int(qMin<qint64>(left, INT_MAX)));
            if (r < 0 && errno == EINTR)
                continue;
            if (r > 0) {
                int err = 0;
                socklen_t len = sizeof err;
                ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
            }
            break;
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

bool tcpConnects(const QString &host, int port, quint32 timeoutMs)
{
    if (host.isEmpty() || port <= 0 || port > 65535)
        return false;
    QElapsedTimer clock;
    clock.start();
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *list = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &list) != 0)
        return false;
    bool ok = false;
    for (const addrinfo *ai = list; ai && !ok; ai = ai->ai_next)
        ok = connectWithin(ai, clock, qint64(timeoutMs));
    ::freeaddrinfo(list);
    return ok;
}

} // namespace platform
