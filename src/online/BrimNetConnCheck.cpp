#include "online/BrimNetConnCheck.h"

#include "platform/MainThread.h"

#include <QElapsedTimer>
#include <QUrl>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// Longest wait for one connection when the check itself has no time limit.
constexpr quint32 UnlimitedProbeMs = 20000;

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

struct TBrimNetConnCheck::Run
{
    std::atomic<bool> busy {true};
    std::atomic<int> status {StatusNone};
    // Set by whichever comes first, the probe's result or the time-out; the other then changes nothing.
    std::atomic<bool> delivered {false};
    // Cleared when the component goes away; read and written on the main thread only.
    TBrimNetConnCheck *owner = nullptr;
    QStringList urls;
    ProbeFunction probe;
    quint32 probeMs = UnlimitedProbeMs;
    bool async = false;
};

TBrimNetConnCheck::TBrimNetConnCheck()
    : Probe(&TBrimNetConnCheck::TcpProbe)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { applyTimeout(); });
}

TBrimNetConnCheck::~TBrimNetConnCheck()
{
    // The worker is not waited for: it may be blocked handing its result to this
    // (main) thread. It keeps its own state and touches nothing of ours once detached.
    m_timer.stop();
    if (m_run)
        m_run->owner = nullptr;
}

int TBrimNetConnCheck::Status() const
{
    return m_run ? m_run->status.load() : int(StatusNone);
}

bool TBrimNetConnCheck::Busy() const
{
    return m_run && m_run->busy.load();
}

void TBrimNetConnCheck::Check()
{
    if (Busy())
        return;
    auto run = std::make_shared<Run>(); // busy from the start, so a second Check is ignored at once
    run->owner = this;
    run->urls = CheckURLs;
    run->probe = Probe ? Probe : ProbeFunction(&TBrimNetConnCheck::TcpProbe);
    run->probeMs = Timeout == NoTimeout ? UnlimitedProbeMs : Timeout;
    run->async = AsynMode;
    m_run = run;

    auto work = [run] {
        int result = StatusNone;
        try {
            bool reached = false;
            for (const QString &url : run->urls) {
                if (run->probe(url, run->probeMs)) {
                    reached = true;
                    break;
                }
            }
            result = reached ? StatusReachable : StatusUnreachable;
        } catch (...) {
            result = StatusNone;
        }
        const bool mine = !run->delivered.exchange(true);
        if (mine)
            run->status = result;
        run->busy = false;
        if (run->async && mine) {
            platform::runOnMainThread([run] {
                if (run->owner)
                    run->owner->deliver(run);
            });
        }
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error &) {
        // No worker: the run ends at once without a result, reported like any other.
        run->delivered = true;
        run->busy = false;
        if (AsynMode && OnCheckOK)
            OnCheckOK(this);
        return;
    }

    if (AsynMode) {
        if (Timeout != NoTimeout)
            m_timer.start(int(qMin<quint32>(Timeout, INT_MAX)));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    while (run->busy) {
        if (Timeout != NoTimeout && clock.elapsed() >= qint64(Timeout)) {
            if (!run->delivered.exchange(true))
                run->status = StatusTimedOut;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TBrimNetConnCheck::deliver(const std::shared_ptr<Run> &run)
{
    if (run != m_run)
        return;
    m_timer.stop();
    if (OnCheckOK)
        OnCheckOK(this);
}

void TBrimNetConnCheck::applyTimeout()
{
    m_timer.stop();
    if (!m_run || m_run->delivered.exchange(true))
        return;
    m_run->status = StatusTimedOut;
    if (AsynMode && OnCheckOK)
        OnCheckOK(this);
}

bool TBrimNetConnCheck::TcpProbe(const QString &url, quint32 timeoutMs)
{
    const QUrl u(url.trimmed());
    const QString host = u.host();
    if (!u.isValid() || host.isEmpty())
        return false;
    const int port = u.port(80);
    if (port <= 0 || port > 65535)
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
