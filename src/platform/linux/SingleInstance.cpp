#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QtEndian>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char kMagic[4] = {'O', 'V', 'P', 'C'};
constexpr int kMessageSize = 8;
constexpr size_t kMaxPendingClients = 32;

// A folder only this user can create files in: the desktop session's runtime
// folder, else a folder of our own in the temporary folder. A folder that
// another user made, or that others may write to, is refused, because whoever
// can bind the socket there could take the codes and keep the program from
// starting.
QByteArray privateRuntimeDir()
{
    const auto isPrivate = [](const QByteArray &dir) {
        struct stat st;
        return !dir.isEmpty() && ::lstat(dir.constData(), &st) == 0 && S_ISDIR(st.st_mode)
            && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
    };
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivate(runtime))
        return runtime;
    QByteArray tmp = qgetenv("TMPDIR");
    if (!tmp.startsWith('/'))
        tmp = "/tmp";
    const QByteArray own = tmp + "/orvane-" + QByteArray::number(::getuid());
    ::mkdir(own.constData(), 0700);
    return isPrivate(own) ? own : QByteArray();
}

// The lock file and socket of an instance name; empty when no private folder exists.
struct InstancePaths
{
    QByteArray lock;
    QByteArray socket;
};

InstancePaths instancePaths(const QString &instanceName)
{
    const QByteArray dir = privateRuntimeDir();
    if (dir.isEmpty())
        return {};
    // Hashed: the name may hold any character and a socket path is short.
    const QByteArray id
        = QCryptographicHash::hash((instanceName + u':' + QString::number(::getuid())).toUtf8(),
                                   QCryptographicHash::Sha256)
              .toHex()
              .left(32);
    InstancePaths paths {dir + "/orvane-" + id + ".lock", dir + "/orvane-" + id + ".sock"};
    if (size_t(paths.socket.size()) >= sizeof(sockaddr_un::sun_path))
        return {};
    return paths;
}

socklen_t makeAddress(const QByteArray &path, sockaddr_un *addr)
{
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    std::memcpy(addr->sun_path, path.constData(), size_t(path.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
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
    const InstancePaths paths = instancePaths(m_name);
    if (paths.lock.isEmpty())
        return State::Unavailable;
    // The lock file's flock is the atomic "first instance" test; the kernel
    // drops it with the process, also after a crash. CLOEXEC: a program we
    // start must not inherit it and outlive us holding it.
    const int lockFd = ::open(paths.lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0)
        return State::Unavailable;
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(lockFd);
        return err == EWOULDBLOCK ? State::HeldElsewhere : State::Unavailable;
    }
    // A socket file left by a holder that crashed is stale now.
    ::unlink(paths.socket.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr;
    const socklen_t len = makeAddress(paths.socket, &addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(fd, 16) != 0) {
        if (fd >= 0)
            ::close(fd);
        ::close(lockFd);
        return State::Unavailable;
    }
    m_fd = fd;
    m_lockFd = lockFd;
    m_socketPath = paths.socket;
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
        // Still holding the lock, so the socket file is ours to remove.
        ::unlink(m_socketPath.constData());
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
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

QByteArray SingleInstanceLock::socketPath(const QString &instanceName)
{
    return instancePaths(instanceName).socket;
}

bool SingleInstanceLock::isListening(const QString &instanceName)
{
    const QByteArray path = socketPath(instanceName);
    struct stat st;
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool SingleInstanceLock::sendCode(const QString &instanceName, qint32 code, int timeoutMs)
{
    const InstancePaths paths = instancePaths(instanceName);
    if (paths.socket.isEmpty())
        return false;
    sockaddr_un addr;
    const socklen_t len = makeAddress(paths.socket, &addr);
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
            // Only a holder of this user gets the code.
            ucred cred {};
            socklen_t credLen = sizeof cred;
            const bool own
                = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLen) == 0 && cred.uid == ::getuid();
            const bool sent = own && ::send(fd, message, kMessageSize, MSG_NOSIGNAL) == kMessageSize;
            ::close(fd);
            return sent;
        }
        const int err = errno;
        ::close(fd);
        // Refused or missing: the holder has taken the lock but is not
        // listening yet (or has just ended). Either settles within moments.
        if ((err != ECONNREFUSED && err != ENOENT && err != EAGAIN && err != EINTR)
            || clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(20);
    }
}

} // namespace platform
