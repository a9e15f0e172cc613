#include "platform/TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler only writes a byte here; the main loop reads it. The pipe lives
// as long as the process, so a late signal never writes to a closed descriptor.
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignalWatcher::TerminationSignalWatcher(std::function<void()> onSignal)
    : m_onSignal(std::move(onSignal))
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char buf[64];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) { }
        if (m_onSignal)
            m_onSignal();
    });
    struct sigaction sa
    {
    };
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

TerminationSignalWatcher::~TerminationSignalWatcher()
{
    if (!m_notifier)
        return;
    for (int sig : kSignals)
        std::signal(sig, SIG_DFL);
    m_notifier.reset();
}

} // namespace platform
