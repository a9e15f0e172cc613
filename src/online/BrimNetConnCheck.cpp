#include "online/BrimNetConnCheck.h"

#include "platform/TcpProbe.h"

#include <QElapsedTimer>
#include <QUrl>
#include <chrono>
#include <climits>
#include <thread>

namespace {

// Longest wait for one connection when the check itself has no time limit.
constexpr quint32 UnlimitedProbeMs = 20000;

} // namespace

struct TBrimNetConnCheck::Run
{
    std::atomic<bool> busy {true};
    std::atomic<int> status {StatusNone};
    // Set by whichever comes first, the probe's result or the time-out; the other then changes nothing.
    std::atomic<bool> delivered {false};
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
    // (main) thread. Cancelling releases it; it keeps its own state and touches
    // nothing of ours.
    m_timer.stop();
    m_worker.cancel();
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
    run->urls = CheckURLs;
    run->probe = Probe ? Probe : ProbeFunction(&TBrimNetConnCheck::TcpProbe);
    run->probeMs = Timeout == NoTimeout ? UnlimitedProbeMs : Timeout;
    run->async = AsynMode;
    m_run = run;
    // A result of an earlier check still on its way is dropped.
    m_worker.cancel();

    auto work = [run, this](const platform::WorkerContext &context) {
        int result = StatusNone;
        try {
            bool reached = false;
            for (const QString &url : run->urls) {
                if (context.cancelled())
                    break; // nobody takes the result any more
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
        // Runs only while the check is wanted, that is, while this component exists.
        if (run->async && mine)
            context.deliver([this, run] { deliver(run); });
    };
    if (!m_worker.start(work)) {
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
    if (!u.isValid() || u.host().isEmpty())
        return false;
    return platform::tcpConnects(u.host(), u.port(80), timeoutMs);
}
