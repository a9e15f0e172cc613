#include "platform/ProcessJob.h"

#include "platform/AppPath.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace platform {
namespace {

// The soft limit of open descriptors the user started us with. The process
// list raises ours; the programs we start must not inherit that. Taken when
// the program loads, before anything had a chance to raise it.
std::atomic<rlim_t> startingSoftLimit {[] {
    rlimit limit {};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : RLIM_INFINITY;
}()};

// A program named without a slash is looked up in PATH as execvp would, here
// in the parent: between fork and exec the child makes only system calls.
QByteArray resolveProgram(const QByteArray &name)
{
    if (name.contains('/'))
        return name;
    const char *path = std::getenv("PATH");
    const QByteArray dirs = path ? QByteArray(path) : QByteArray("/usr/local/bin:/usr/bin:/bin");
    for (const QByteArray &dir : dirs.split(':')) {
        const QByteArray candidate = (dir.isEmpty() ? QByteArray(".") : dir) + '/' + name;
        struct stat info
        {
        };
        if (::stat(candidate.constData(), &info) == 0 && S_ISREG(info.st_mode)
            && ::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// The one place a program is started. posix_spawn cannot set a resource
// limit, so this forks and execs itself: the child gets a session of its own,
// default signal handling, an empty signal mask and the user's descriptor limit.
// childFds, when given, become the child's standard input, output and error.
pid_t spawnInNewSession(const QStringList &argv, char *const *envp = environ, const int *childFds = nullptr)
{
    if (argv.isEmpty() || argv.first().isEmpty())
        return -1;
    std::vector<QByteArray> storage;
    storage.reserve(argv.size());
    for (const QString &a : argv)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> args;
    for (QByteArray &a : storage)
        args.push_back(a.data());
    args.push_back(nullptr);
    const QByteArray program = resolveProgram(storage.front());
    if (program.isEmpty())
        return -1;

    rlimit limit {};
    const bool haveLimit = ::getrlimit(RLIMIT_NOFILE, &limit) == 0;
    if (haveLimit)
        limit.rlim_cur = std::min(startingSoftLimit.load(), limit.rlim_max);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    // No handler of ours may run in the child before exec; it resets them all first.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        for (int sig = 1; sig < NSIG; ++sig) {
            struct sigaction action
            {
            };
            if (::sigaction(sig, nullptr, &action) != 0)
                continue;
            const bool ignored = !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_IGN;
            if (!ignored || sig == SIGPIPE || sig == SIGCHLD) {
                struct sigaction fallback
                {
                };
                fallback.sa_handler = SIG_DFL;
                sigemptyset(&fallback.sa_mask);
                ::sigaction(sig, &fallback, nullptr);
            }
        }
        ::setsid();
        if (childFds)
            for (int target = 0; target < 3; ++target)
                if (childFds[target] >= 0 && ::dup2(childFds[target], target) < 0)
                    ::_exit(127);
        if (haveLimit)
            ::setrlimit(RLIMIT_NOFILE, &limit);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.constData(), args.data(), envp);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return -1;
    }
    // The pipe closes at a successful exec; an errno arrives when exec failed.
    int error = 0;
    ssize_t n = 0;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) { }
    ::close(report[0]);
    if (n > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        return -1;
    }
    return pid;
}

// Fields after the command name in /proc/<pid>/stat: state, ppid, pgrp, session.
// Plain system calls: this runs for every process on every 100 ms poll.
bool readStatSession(const char *pid, char *state, qint64 *session)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    // The command name may hold blanks and parentheses: the last ')' ends it.
    const char *close = std::strrchr(buf, ')');
    if (!close || close[1] != ' ' || close[2] == '\0')
        return false;
    *state = close[2];
    const char *p = close + 3;
    for (int field = 0; field < 3; ++field) { // skip to the session field
        p = std::strchr(p, ' ');
        if (!p)
            return false;
        ++p;
    }
    char *end = nullptr;
    *session = std::strtoll(p, &end, 10);
    return end != p;
}

// A child we no longer wait for is still ours until it ends; a small thread
// collects it so that no zombie is left behind (after a time-out, or when started detached).
void reapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    }).detach();
}

// Our environment with entries added or replaced ("NAME=value").
struct ExtendedEnvironment
{
    std::vector<QByteArray> storage;
    std::vector<char *> pointers;
    explicit ExtendedEnvironment(const QStringList &extra)
    {
        std::vector<QByteArray> added;
        for (const QString &e : extra)
            added.push_back(QFile::encodeName(e));
        auto nameOf = [](const QByteArray &entry) {
            const qsizetype eq = entry.indexOf('=');
            return eq < 0 ? entry : entry.left(eq);
        };
        for (char **e = environ; e && *e; ++e) {
            const QByteArray entry(*e);
            bool replaced = false;
            for (const QByteArray &a : added)
                if (nameOf(a) == nameOf(entry))
                    replaced = true;
            if (!replaced)
                storage.push_back(entry);
        }
        storage.insert(storage.end(), added.begin(), added.end());
        for (QByteArray &b : storage)
            pointers.push_back(b.data());
        pointers.push_back(nullptr);
    }
};

// The environment of an installer's job: ours with extra added, and the registry tool
// named for the installer unless our own environment names one already.
ExtendedEnvironment jobEnvironment(QStringList extra = {})
{
    if (!std::getenv("ORVANE_REG"))
        extra.prepend(QStringLiteral("ORVANE_REG=") + registryToolPath());
    return ExtendedEnvironment(extra);
}

constexpr qsizetype kCaptureLimit = 4 * 1024 * 1024;

// What a program wrote into a file in memory, up to the limit.
QByteArray readMemoryFile(int fd)
{
    QByteArray into;
    char buffer[16384];
    ssize_t r = 0;
    while (into.size() < kCaptureLimit && (r = ::pread(fd, buffer, sizeof buffer, off_t(into.size()))) != 0) {
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            break;
        into.append(buffer, qMin<qsizetype>(r, kCaptureLimit - into.size()));
    }
    return into;
}

} // namespace

QString findProgram(const QString &name)
{
    if (name.isEmpty())
        return {};
    const QByteArray found = resolveProgram(QFile::encodeName(name));
    if (found.isEmpty())
        return {};
    const QFileInfo info(QFile::decodeName(found));
    return info.isFile() && info.isExecutable() ? info.filePath() : QString();
}

CapturedRun runCaptured(const QStringList &argv, const CaptureOptions &options)
{
    CapturedRun run;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    auto closeFd = [](int &fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    };
    // A program we may stop waiting for writes into files in memory instead of
    // pipes: with nobody reading a pipe any more, its next write would end it.
    const bool toFiles = !options.killOnStop;
    int files[2] = {-1, -1};
    auto closeAll = [&] {
        for (int *fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1], &files[0], &files[1]})
            closeFd(*fd);
    };
    bool made = ::pipe2(in, O_CLOEXEC) == 0;
    if (toFiles) {
        files[0] = ::memfd_create("orvane-output", MFD_CLOEXEC);
        files[1] = ::memfd_create("orvane-errors", MFD_CLOEXEC);
        made = made && files[0] >= 0 && files[1] >= 0;
    } else
        made = made && ::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0;
    if (!made) {
        closeAll();
        return run;
    }
    const ExtendedEnvironment env(options.environment);
    const int childFds[3] = {in[0], toFiles ? files[0] : out[1], toFiles ? files[1] : err[1]};
    const pid_t pid = spawnInNewSession(argv, env.pointers.data(), childFds);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);
    if (pid <= 0) {
        closeAll();
        return run;
    }
    run.started = true;
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    // A program that stops reading must not block us: its input is written as it takes it.
    qsizetype written = 0;
    if (options.input.isEmpty())
        closeFd(in[1]);

    QElapsedTimer clock;
    clock.start();
    bool stopped = false;
    bool reaped = false;
    int status = 0;
    // Once it has ended, what is still in the pipes is read; a descendant that
    // kept them open does not hold us beyond that.
    qint64 endedAt = -1;
    while (out[0] >= 0 || err[0] >= 0 || in[1] >= 0 || (toFiles && !reaped)) {
        if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) {
            reaped = true;
            endedAt = clock.elapsed();
        }
        if (reaped && (toFiles || clock.elapsed() - endedAt > 200))
            break;
        if ((options.cancel && options.cancel->load())
            || (options.timeoutMs >= 0 && clock.elapsed() >= options.timeoutMs)) {
            stopped = true;
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        for (int fd : {out[0], err[0]})
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        if (in[1] >= 0)
            fds[n++] = {in[1], POLLOUT, 0};
        // Short slices, so that a cancel, the time limit or the end is seen soon.
        const int ready = ::poll(fds, n, toFiles ? 50 : 100);
        if (ready < 0 && errno != EINTR)
            break;
        for (nfds_t i = 0; i < n && ready > 0; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == in[1]) {
                const ssize_t w = ::write(in[1], options.input.constData() + written,
                                          size_t(options.input.size() - written));
                if (w > 0)
                    written += w;
                if ((w < 0 && errno != EAGAIN && errno != EINTR) || written >= options.input.size())
                    closeFd(in[1]);
                continue;
            }
            char buffer[16384];
            const ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
            if (r < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            QByteArray &into = fds[i].fd == out[0] ? run.output : run.errors;
            if (r <= 0) {
                closeFd(fds[i].fd == out[0] ? out[0] : err[0]);
                continue;
            }
            if (into.size() < kCaptureLimit)
                into.append(buffer, qMin<qsizetype>(r, kCaptureLimit - into.size()));
        }
    }
    if (toFiles) {
        run.output = readMemoryFile(files[0]);
        run.errors = readMemoryFile(files[1]);
    }
    closeAll();
    if (stopped && !reaped) {
        if (options.killOnStop)
            ::kill(-pid, SIGKILL); // its own session's group: helpers it started go too
        reapInBackground(pid);
        return run;
    }
    while (!reaped && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    run.finished = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

quint64 startingDescriptorLimit()
{
    return quint64(startingSoftLimit.load());
}

void rememberDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        startingSoftLimit.store(limit.rlim_cur);
}

QString registryToolPath()
{
    const QString beside = applicationDirectory() + QStringLiteral("orvane-reg");
    const QFileInfo info(beside);
    return info.isFile() && info.isExecutable() ? beside : QStringLiteral("orvane-reg");
}

int liveProcessesInSession(qint64 sid)
{
    int count = 0;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return 0;
    while (const dirent *entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        char state = 0;
        qint64 session = 0;
        if (readStatSession(entry->d_name, &state, &session) && session == sid && state != 'Z'
            && state != 'X')
            ++count;
    }
    ::closedir(proc);
    return count;
}

namespace {

// Waits until no live process of the job's session is left (see runJobAndWait).
quint32 waitForJob(pid_t pid, quint32 timeoutMs, const std::atomic<bool> *cancel, int *exitStatus)
{
    QElapsedTimer clock;
    clock.start();
    bool leaderReaped = false;
    quint32 result = 0;
    for (;;) {
        if (timeoutMs != kWaitInfinite && clock.elapsed() >= qint64(timeoutMs)) {
            result = JobTimedOut;
            break;
        }
        if (cancel && cancel->load()) {
            result = JobCancelled;
            break;
        }
        QThread::msleep(100);
        if (!leaderReaped) {
            int status = 0;
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid && exitStatus)
                *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (r == pid || (r < 0 && errno == ECHILD))
                leaderReaped = true;
        }
        if (liveProcessesInSession(pid) == 0)
            break;
    }
    if (!leaderReaped) {
        // It may have ended between the last look and the count.
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (exitStatus)
                *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else
            reapInBackground(pid);
    }
    return result;
}

} // namespace

quint32 runJobAndWait(const QStringList &argv, quint32 timeoutMs, const std::atomic<bool> *cancel,
                      int *exitStatus)
{
    if (argv.isEmpty() || argv.first().isEmpty())
        return JobBadCommand;
    const ExtendedEnvironment env = jobEnvironment();
    const pid_t pid = spawnInNewSession(argv, env.pointers.data());
    if (pid <= 0)
        return JobStartFailed;
    return waitForJob(pid, timeoutMs, cancel, exitStatus);
}

CapturedJob runCapturedJob(const QStringList &argv, quint32 timeoutMs, const QStringList &environment,
                           const std::atomic<bool> *cancel)
{
    CapturedJob job;
    if (argv.isEmpty() || argv.first().isEmpty()) {
        job.result = JobBadCommand;
        return job;
    }
    const ExtendedEnvironment env = jobEnvironment(environment);
    const int fds[3]
        = {::open("/dev/null", O_RDONLY | O_CLOEXEC), ::memfd_create("orvane-output", MFD_CLOEXEC),
           ::memfd_create("orvane-errors", MFD_CLOEXEC)};
    pid_t pid = -1;
    if (fds[0] >= 0 && fds[1] >= 0 && fds[2] >= 0)
        pid = spawnInNewSession(argv, env.pointers.data(), fds);
    if (pid > 0) {
        int status = std::numeric_limits<int>::min();
        job.result = waitForJob(pid, timeoutMs, cancel, &status);
        if (status != std::numeric_limits<int>::min())
            job.exitStatus = status;
        job.output = readMemoryFile(fds[1]);
        job.errors = readMemoryFile(fds[2]);
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
    return job;
}

int runAndWaitForExit(const QStringList &argv, int timeoutMs)
{
    const pid_t pid = spawnInNewSession(argv);
    if (pid <= 0)
        return -1;
    const bool onMainThread
        = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0 && errno != EINTR)
            return -1;
        if (clock.elapsed() >= timeoutMs) {
            reapInBackground(pid);
            return kStillRunning;
        }
        if (onMainThread)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(10);
    }
}

qint64 startDetached(const QStringList &argv)
{
    const pid_t pid = spawnInNewSession(argv);
    if (pid <= 0)
        return -1;
    reapInBackground(pid);
    return pid;
}

} // namespace platform
