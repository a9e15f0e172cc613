#pragma once

#include <QStringList>
#include <atomic>

namespace platform {

inline constexpr quint32 kWaitInfinite = 0xFFFFFFFFu;

// Results of runJobAndWait besides 0 (the job became empty).
enum JobError : quint32 {
    JobStartFailed = 0x80002001u, // the program could not be started
    JobTimedOut = 0x80002002u, // the time-out passed with processes still running
    JobCancelled = 0x80002003u, // the caller asked to stop waiting
    JobBadCommand = 0x80002004u, // empty argument vector
};

// Starts argv[0] (a path, or a name looked up in PATH) with the remaining
// arguments in a session of its own (with ORVANE_REG in its environment), then waits, polling every 100 ms,
// until no live process of that session remains. A descendant that starts its own session has broken away and
// is not waited for. No shell is involved. *exitStatus (when given) receives the
// started program's own exit status once it has ended: its exit code, or -1
// when a signal ended it; it is left alone while the program still runs.
quint32 runJobAndWait(const QStringList &argv, quint32 timeoutMs, const std::atomic<bool> *cancel = nullptr,
                      int *exitStatus = nullptr);

// The registry tool installers and uninstallers call: orvane-reg beside the
// executable when it is there, else the bare name (looked up in PATH).
// runJobAndWait hands it to the programs it starts as ORVANE_REG.
QString registryToolPath();

// Starts argv without waiting, detached in a session of its own.
// Returns the process id, or -1 when it could not be started.
qint64 startDetached(const QStringList &argv);

inline constexpr int kStillRunning = -2;

// Starts argv in a session of its own and waits up to timeoutMs for it to
// end. On the main thread the event loop keeps painting meanwhile (user input
// waits), so the window does not freeze. Returns the exit code; -1 when it
// could not be started or died of a signal; kStillRunning when it still runs
// after timeoutMs (it is then collected in the background).
int runAndWaitForExit(const QStringList &argv, int timeoutMs);

// Every program started here gets the soft limit of open descriptors the
// user started Orvane with, whatever Orvane raised its own to since.
quint64 startingDescriptorLimit();
// Takes the current soft limit as that starting limit (for tests that set their own).
void rememberDescriptorLimit();

// Number of live (non-zombie) processes whose session id is sid.
int liveProcessesInSession(qint64 sid);

} // namespace platform
