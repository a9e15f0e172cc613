#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QtEndian>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <map>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char kMagic[4] = {'O', 'V', 'P', 'C'};
constexpr int kMessageSize = 8;
constexpr size_t kMaxPendingClients = 32;

socklen_t makeAddress(const QString &instanceName, sockaddr_un *addr)
{
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    // Leading NUL: the abstract namespace, no file on disk, gone when the holder ends.
    const QByteArray name = (instanceName + u':' + QString::number(getuid())).toUtf8();
    const size_t len = std::min<size_t>(size_t(name.size()), sizeof addr->sun_path - 1);
    std::memcpy(addr->sun_path + 1, name.constData(), len);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + len);
}

} // namespace

struct SingleInstanceLock::Listener
{
    struct Client
    {
        std::unique_ptr<QSocketNotifier> notifier;
        QByteArray data;
    };

    int fd;
    std::function<void(qint32)> handler;
    std::unique_ptr<QSocketNotifier> notifier;
    std::map<int, Client> clients;

    ~Listener()
    {
        for (auto &[clientFd, client] : clients) {
            client.notifier->setEnabled(false);
            ::close(clientFd);
        }
    }

    void acceptAll()
    {
        for (;;) {
            const int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (c < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            ucred cred {};
            socklen_t len = sizeof cred;
            if (clients.size() >= kMaxPendingClients
                || getsockopt(c, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
                ::close(c);
                continue;
            }
            Client &client = clients[c];
            client.notifier = std::make_unique<QSocketNotifier>(qintptr(c), QSocketNotifier::Read);
            QObject::connect(client.notifier.get(), &QSocketNotifier::activated, client.notifier.get(),
                             [this, c] { readClient(c); });
        }
    }

    void readClient(int c)
    {
        auto it = clients.find(c);
        if (it == clients.end())
            return;
        Client &client = it->second;
        bool done = false;
        for (;;) {
            char buf[kMessageSize];
            const ssize_t n = ::read(c, buf, size_t(kMessageSize - client.data.size()));
            if (n > 0) {
                client.data.append(buf, qsizetype(n));
                if (client.data.size() < kMessageSize)
                    continue;
                done = true;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                done = true; // end of stream or error
            }
            break;
        }
        const QByteArray message = client.data;
        // The notifier is inside its own signal: let the event loop delete it.
        client.notifier->setEnabled(false);
        client.notifier.release()->deleteLater();
        ::close(c);
        clients.erase(it);
        if (done && message.size() == kMessageSize && std::memcmp(message.constData(), kMagic, 4) == 0
            && handler)
            handler(qFromLittleEndian<qint32>(message.constData() + 4));
    }
};

SingleInstanceLock::SingleInstanceLock(const QString &instanceName)
    : m_name(instanceName)
{ }

SingleInstanceLock::~SingleInstanceLock()
{
    release();
}

SingleInstanceLock::State SingleInstanceLock::acquire()
{
    if (m_fd >= 0)
        return State::Acquired;
    // CLOEXEC: a program we start must not inherit the lock and outlive us holding it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return State::Unavailable;
    sockaddr_un addr;
    const socklen_t len = makeAddress(m_name, &addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EADDRINUSE ? State::HeldElsewhere : State::Unavailable;
    }
    if (::listen(fd, 16) != 0) {
        ::close(fd);
        return State::Unavailable;
    }
    m_fd = fd;
    return State::Acquired;
}

bool SingleInstanceLock::isHeld() const
{
    return m_fd >= 0;
}

void SingleInstanceLock::release()
{
    m_listener.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void SingleInstanceLock::setMessageHandler(std::function<void(qint32)> handler)
{
    if (m_fd < 0)
        return;
    if (!m_listener) {
        m_listener = std::make_unique<Listener>();
        m_listener->fd = m_fd;
        m_listener->notifier = std::make_unique<QSocketNotifier>(qintptr(m_fd), QSocketNotifier::Read);
        Listener *l = m_listener.get();
        QObject::connect(l->notifier.get(), &QSocketNotifier::activated, l->notifier.get(),
                         [l] { l->acceptAll(); });
    }
    m_listener->handler = std::move(handler);
}

bool SingleInstanceLock::sendCode(const QString &instanceName, qint32 code, int timeoutMs)
{
    sockaddr_un addr;
    const socklen_t len = makeAddress(instanceName, &addr);
    char message[kMessageSize];
    std::memcpy(message, kMagic, 4);
    qToLittleEndian<qint32>(code, message + 4);

    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        timeval tv {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), len) == 0) {
            const bool sent = ::send(fd, message, kMessageSize, MSG_NOSIGNAL) == kMessageSize;
            ::close(fd);
            return sent;
        }
        const int err = errno;
        ::close(fd);
        // Refused: the holder has bound the name but is not listening yet (or
        // has just ended). Either settles within moments.
        if ((err != ECONNREFUSED && err != EAGAIN && err != EINTR) || clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(20);
    }
}

} // namespace platform
