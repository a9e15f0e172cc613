#pragma once

#include <QByteArray>
#include <QStringList>
#include <atomic>
#include <optional>

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

// How a job run by runCapturedJob ended, and what its programs wrote.
struct CapturedJob
{
    quint32 result = JobStartFailed; // as runJobAndWait's
    std::optional<int> exitStatus; // the started program's, once it has ended
    QByteArray output; // standard output of everything in the job, up to 4 MiB
    QByteArray errors; // standard error, the same
};

// As runJobAndWait, for a program that must not wait for an answer and whose
// words are wanted: its standard input is /dev/null, its outputs go to files
// in memory (so a descendant still writing after we stopped waiting is never
// cut off), and environment entries ("NAME=value") are added to ours.
CapturedJob runCapturedJob(const QStringList &argv, quint32 timeoutMs, const QStringList &environment,
                           const std::atomic<bool> *cancel = nullptr);

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

// How a program run by runCaptured ended, and what it wrote.
struct CapturedRun
{
    bool started = false; // false: not found, or it could not be started
    bool finished = false; // it ended within the time and was not given up on
    int exitCode = -1; // its exit status; -1 when it died of a signal
    QByteArray output; // standard output
    QByteArray errors; // standard error
};

struct CaptureOptions
{
    QByteArray input; // written to its standard input, which is then closed
    QStringList environment; // "NAME=value" entries added to (or replacing in) ours
    int timeoutMs = -1; // -1: no limit
    const std::atomic<bool> *cancel = nullptr;
    // When the time passes or the caller cancels: kill the program (true), or
    // leave it to end by itself and collect it in the background (false; for
    // a program that must never be cut off halfway, such as a package removal:
    // its outputs then go to files in memory, so it can write on after we have gone).
    bool killOnStop = true;
};

// Starts argv (no shell) in a session of its own, feeds it the input, reads
// both of its outputs and waits for it. Each output is kept up to 4 MiB.
CapturedRun runCaptured(const QStringList &argv, const CaptureOptions &options = {});

// The program a command's first word names: the path itself, or the first
// executable of that name in PATH; empty when there is none.
QString findProgram(const QString &name);

// Every program started here gets the soft limit of open descriptors the
// user started Orvane with, whatever Orvane raised its own to since.
quint64 startingDescriptorLimit();
// Takes the current soft limit as that starting limit (for tests that set their own).
void rememberDescriptorLimit();

// Number of live (non-zombie) processes whose session id is sid.
int liveProcessesInSession(qint64 sid);

} // namespace platform
