#include "platform/ProcessJob.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace platform {
namespace {

pid_t spawnInNewSession(const QStringList &argv)
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

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

// Fields after the command name in /proc/<pid>/stat: state, ppid, pgrp, session.
bool readStatSession(const QString &pid, char *state, qint64 *session)
{
    QFile f(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = f.read(4096);
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 4 || fields[0].isEmpty())
        return false;
    bool ok = false;
    *state = fields[0].at(0);
    *session = fields[3].toLongLong(&ok);
    return ok;
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

} // namespace

int liveProcessesInSession(qint64 sid)
{
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : entries) {
        if (name.isEmpty() || !name.at(0).isDigit())
            continue;
        char state = 0;
        qint64 session = 0;
        if (readStatSession(name, &state, &session) && session == sid && state != 'Z' && state != 'X')
            ++count;
    }
    return count;
}

quint32 runJobAndWait(const QStringList &argv, quint32 timeoutMs, const std::atomic<bool> *cancel)
{
    if (argv.isEmpty() || argv.first().isEmpty())
        return JobBadCommand;
    const pid_t pid = spawnInNewSession(argv);
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
            if (r == pid || (r < 0 && errno == ECHILD))
                leaderReaped = true;
        }
        if (liveProcessesInSession(pid) == 0)
            break;
    }
    if (!leaderReaped)
        reapInBackground(pid);
    return result;
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
