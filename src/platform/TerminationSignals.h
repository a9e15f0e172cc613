#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

// Turns the requests to end the process (SIGTERM, SIGHUP, SIGINT) into a call
// of onSignal on the main thread's event loop, where any work may be done.
// One watcher at a time; destroying it restores the default handling.
class TerminationSignalWatcher
{
public:
    explicit TerminationSignalWatcher(std::function<void()> onSignal);
    ~TerminationSignalWatcher();
    TerminationSignalWatcher(const TerminationSignalWatcher &) = delete;
    TerminationSignalWatcher &operator=(const TerminationSignalWatcher &) = delete;

    // False when the signals could not be routed (they keep their default handling).
    bool active() const { return bool(m_notifier); }

private:
    std::function<void()> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace platform
