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
#include <pthread.h>
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
pid_t spawnInNewSession(const QStringList &argv, char *const *envp = environ)
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

// Installers and uninstallers register themselves with the registry tool:
// they find it through ORVANE_REG, unless our own environment names one already.
struct JobEnvironment
{
    std::vector<QByteArray> storage;
    std::vector<char *> pointers;
    JobEnvironment()
    {
        bool hasTool = false;
        for (char **e = environ; e && *e; ++e) {
            if (std::strncmp(*e, "ORVANE_REG=", 11) == 0)
                hasTool = true;
            storage.emplace_back(*e);
        }
        if (!hasTool)
            storage.push_back("ORVANE_REG=" + QFile::encodeName(registryToolPath()));
        for (QByteArray &b : storage)
            pointers.push_back(b.data());
        pointers.push_back(nullptr);
    }
};

} // namespace

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

quint32 runJobAndWait(const QStringList &argv, quint32 timeoutMs, const std::atomic<bool> *cancel,
                      int *exitStatus)
{
    if (argv.isEmpty() || argv.first().isEmpty())
        return JobBadCommand;
    const JobEnvironment env;
    const pid_t pid = spawnInNewSession(argv, env.pointers.data());
    if (pid <= 0)
        return JobStartFailed;

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
