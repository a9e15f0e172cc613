#include "platform/ProcFs.h"

#include "platform/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <unordered_map>

namespace platform {
namespace {

int sysPidfdOpen(quint32 pid)
{
    return int(::syscall(SYS_pidfd_open, pid_t(pid), 0u));
}

int sysPidfdSendSignal(int pidfd, int signal)
{
    return int(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0u));
}

// One buffer per thread for the per-process reads: no allocation per process and refresh.
std::vector<char> &scratch()
{
    thread_local std::vector<char> buffer(4096);
    return buffer;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void procPath(char (&path)[64], quint32 pid, const char *file)
{
    std::snprintf(path, sizeof path, "/proc/%u/%s", pid, file);
}

struct Dirent64
{
    quint64 ino;
    qint64 off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

// Calls fn(name) for every entry of an open directory, from its start.
template<typename Fn> bool forEachEntry(int dirFd, std::vector<char> *buffer, Fn fn)
{
    if (::lseek(dirFd, 0, SEEK_SET) < 0)
        return false;
    while (true) {
        const long n = ::syscall(SYS_getdents64, dirFd, buffer->data(), buffer->size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        for (long at = 0; at < n;) {
            const auto *entry = reinterpret_cast<const Dirent64 *>(buffer->data() + at);
            if (entry->reclen == 0)
                return false;
            fn(entry->name);
            at += entry->reclen;
        }
    }
}

bool pidFromName(const char *name, quint32 *pid)
{
    if (name[0] < '1' || name[0] > '9')
        return false;
    quint64 value = 0;
    for (const char *p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + quint64(*p - '0');
        if (value > 0x7FFFFFFFu)
            return false;
    }
    *pid = quint32(value);
    return true;
}

int applyScheduling(pid_t tid, int nice, bool realtime)
{
    if (realtime) {
        sched_param param {};
        param.sched_priority = 1;
        if (::sched_setscheduler(tid, SCHED_FIFO, &param) == 0)
            return 0;
        if (errno != EPERM)
            return errno;
        nice = -20;
    } else {
        const int policy = ::sched_getscheduler(tid);
        if (policy == SCHED_FIFO || policy == SCHED_RR) {
            sched_param param {};
            if (::sched_setscheduler(tid, SCHED_OTHER, &param) != 0)
                return errno;
        }
    }
    if (::setpriority(PRIO_PROCESS, id_t(tid), nice) != 0)
        return errno;
    return 0;
}

} // namespace

bool readProcStatOf(quint32 pid, ProcStat *out)
{
    char path[64];
    procPath(path, pid, "stat");
    std::vector<char> &buffer = scratch();
    size_t size = 0;
    return readWholeFile(path, &buffer, &size) && parseProcStat({buffer.data(), size}, out);
}

bool readSystemStat(const char *path, CpuTimes *all, std::vector<CpuTimes> *perCpu)
{
    thread_local std::vector<char> buffer(8192);
    size_t size = 0;
    return readWholeFile(path, &buffer, &size) && parseSystemStat({buffer.data(), size}, all, perCpu);
}

bool readMeminfo(const char *path, quint64 *totalBytes, quint64 *availableBytes)
{
    thread_local std::vector<char> buffer(8192);
    size_t size = 0;
    return readWholeFile(path, &buffer, &size)
        && parseMeminfo({buffer.data(), size}, totalBytes, availableBytes);
}

// ---- ProcessDirectory ----

ProcessDirectory::ProcessDirectory(const char *root)
    : m_fd(::open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    , m_buffer(32768)
{ }

ProcessDirectory::~ProcessDirectory()
{
    closeFd(m_fd);
}

bool ProcessDirectory::list(std::vector<quint32> *pids)
{
    pids->clear();
    if (m_fd < 0)
        return false;
    const bool ok = forEachEntry(m_fd, &m_buffer, [pids](const char *name) {
        quint32 pid = 0;
        if (pidFromName(name, &pid))
            pids->push_back(pid);
    });
    return ok && !pids->empty();
}

// ---- ProcessHandle ----

ProcessHandle::~ProcessHandle()
{
    closeFd(m_statusFd);
    closeFd(m_statFd);
    closeFd(m_pidfd);
}

ProcessHandle::ProcessHandle(ProcessHandle &&other) noexcept
    : m_pid(other.m_pid)
    , m_pidfd(std::exchange(other.m_pidfd, -1))
    , m_statFd(std::exchange(other.m_statFd, -1))
    , m_statusFd(std::exchange(other.m_statusFd, -1))
{ }

ProcessHandle &ProcessHandle::operator=(ProcessHandle &&other) noexcept
{
    if (this != &other) {
        closeFd(m_statusFd);
        closeFd(m_statFd);
        closeFd(m_pidfd);
        m_pid = other.m_pid;
        m_pidfd = std::exchange(other.m_pidfd, -1);
        m_statFd = std::exchange(other.m_statFd, -1);
        m_statusFd = std::exchange(other.m_statusFd, -1);
    }
    return *this;
}

ProcessHandle ProcessHandle::open(quint32 pid)
{
    ProcessHandle handle;
    if (pid == 0)
        return handle;
    handle.m_pidfd = sysPidfdOpen(pid);
    if (handle.m_pidfd < 0)
        return handle;
    handle.m_pid = pid;
    char path[64];
    procPath(path, pid, "stat");
    handle.m_statFd = ::open(path, O_RDONLY | O_CLOEXEC);
    procPath(path, pid, "status");
    handle.m_statusFd = ::open(path, O_RDONLY | O_CLOEXEC);
    // Files opened after the process ended may belong to a successor with the same number.
    if (handle.hasExited()) {
        closeFd(handle.m_statFd);
        closeFd(handle.m_statusFd);
    }
    return handle;
}

bool ProcessHandle::hasExited() const
{
    if (m_pidfd < 0)
        return true;
    pollfd p {m_pidfd, POLLIN, 0};
    int n;
    do
        n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n != 0;
}

void ProcessHandle::checkExited(const ProcessHandle *const *handles, size_t count, bool *exited)
{
    thread_local std::vector<pollfd> fds;
    fds.resize(count);
    for (size_t i = 0; i < count; ++i)
        fds[i] = pollfd {handles[i]->m_pidfd, POLLIN, 0}; // a negative descriptor is skipped by poll
    int n;
    do
        n = ::poll(fds.data(), nfds_t(count), 0);
    while (n < 0 && errno == EINTR);
    for (size_t i = 0; i < count; ++i) {
        if (n < 0)
            exited[i] = handles[i]->hasExited();
        else
            exited[i] = fds[i].fd < 0 || fds[i].revents != 0;
    }
}

bool ProcessHandle::readKept(int fd, const char *file, std::string_view *text) const
{
    std::vector<char> &buffer = scratch();
    size_t size = 0;
    if (fd >= 0) {
        // The descriptor belongs to this process: after it ended it reads nothing, never a successor.
        if (!preadWhole(fd, &buffer, &size) || size == 0)
            return false;
    } else {
        if (m_pidfd < 0)
            return false;
        char path[64];
        procPath(path, m_pid, file);
        if (!readWholeFile(path, &buffer, &size) || size == 0 || !stillSameProcess())
            return false;
    }
    *text = std::string_view(buffer.data(), size);
    return true;
}

bool ProcessHandle::readStat(ProcStat *out) const
{
    std::string_view text;
    return readKept(m_statFd, "stat", &text) && parseProcStat(text, out);
}

bool ProcessHandle::readStatus(ProcStatus *out) const
{
    std::string_view text;
    return readKept(m_statusFd, "status", &text) && parseProcStatus(text, out);
}

bool ProcessHandle::readLink(const char *file, std::string_view *target, int *error) const
{
    if (m_pidfd < 0) {
        if (error)
            *error = ESRCH;
        return false;
    }
    char link[64];
    procPath(link, m_pid, file);
    std::vector<char> &buffer = scratch();
    ssize_t n = 0;
    while (true) {
        n = ::readlink(link, buffer.data(), buffer.size());
        if (n < 0) {
            if (error)
                *error = errno;
            return false;
        }
        if (size_t(n) < buffer.size())
            break;
        if (buffer.size() >= (1u << 20)) {
            if (error)
                *error = ENAMETOOLONG;
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    if (n == 0 || !stillSameProcess()) {
        if (error)
            *error = ESRCH;
        return false;
    }
    *target = std::string_view(buffer.data(), size_t(n));
    return true;
}

bool ProcessHandle::readImagePath(QString *out, int *error) const
{
    std::string_view path;
    if (!readLink("exe", &path, error))
        return false;
    static constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted) {
        // The kernel marks an unlinked file this way; a file really named so is kept whole.
        char link[64];
        procPath(link, m_pid, "exe");
        struct stat named
        {
        }, running {};
        const std::string whole(path);
        const bool same = ::stat(whole.c_str(), &named) == 0 && ::stat(link, &running) == 0
            && named.st_dev == running.st_dev && named.st_ino == running.st_ino;
        if (!same)
            path.remove_suffix(kDeleted.size());
    }
    *out = processText(path);
    return true;
}

bool ProcessHandle::readWorkingDirectory(QString *out) const
{
    std::string_view path;
    if (!readLink("cwd", &path, nullptr) || path.empty() || path.front() != '/')
        return false;
    *out = processText(path);
    return true;
}

bool ProcessHandle::readLoginSession(quint32 *loginUid, quint32 *auditSession) const
{
    if (m_pidfd < 0)
        return false;
    auto readNumber = [this](const char *file, quint32 *value) {
        char path[64];
        procPath(path, m_pid, file);
        char text[32] = {};
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n <= 0)
            return false;
        char *end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(text, &end, 10);
        if (errno != 0 || end == text || v > 0xFFFFFFFFull)
            return false;
        *value = quint32(v);
        return true;
    };
    quint32 uid = kNoLoginSession, session = kNoLoginSession;
    if (!readNumber("loginuid", &uid) || !readNumber("sessionid", &session) || !stillSameProcess())
        return false;
    *loginUid = uid;
    *auditSession = session;
    return true;
}

bool ProcessHandle::readFlatpakAppId(QString *out) const
{
    if (m_pidfd < 0)
        return false;
    char path[64];
    procPath(path, m_pid, "root/.flatpak-info");
    thread_local std::vector<char> buffer(4096);
    size_t size = 0;
    // The file is small; a larger one is no file Flatpak wrote.
    struct stat info
    {
    };
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > (1 << 16))
        return false;
    if (!readWholeFile(path, &buffer, &size) || !stillSameProcess())
        return false;
    const QString id = parseFlatpakInfoAppId({buffer.data(), size});
    if (id.isEmpty())
        return false;
    *out = id;
    return true;
}

bool ProcessHandle::readCommandLine(QString *out, QStringList *leadingWords) const
{
    if (m_pidfd < 0)
        return false;
    char path[64];
    procPath(path, m_pid, "cmdline");
    thread_local std::vector<char> buffer(4096);
    size_t size = 0;
    if (!readWholeFile(path, &buffer, &size) || size == 0 || !stillSameProcess())
        return false;
    const std::string_view raw(buffer.data(), size);
    const QString text = commandLineText(raw);
    if (text.isEmpty())
        return false;
    *out = text;
    if (leadingWords) {
        leadingWords->clear();
        std::string_view rest = raw;
        while (!rest.empty() && leadingWords->size() < 4) {
            const size_t end = rest.find('\0');
            *leadingWords << processText(rest.substr(0, end));
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
    }
    return true;
}

bool ProcessHandle::readEnvironmentValue(const QByteArray &name, QString *out) const
{
    if (m_pidfd < 0)
        return false;
    char path[64];
    procPath(path, m_pid, "environ");
    thread_local std::vector<char> buffer(4096);
    size_t size = 0;
    if (!readWholeFile(path, &buffer, &size) || !stillSameProcess())
        return false;
    std::string_view rest(buffer.data(), size);
    const std::string key = name.toStdString() + '=';
    while (!rest.empty()) {
        const size_t end = rest.find('\0');
        const std::string_view entry = rest.substr(0, end);
        if (entry.substr(0, key.size()) == key) {
            *out = QString::fromLocal8Bit(entry.data() + key.size(), qsizetype(entry.size() - key.size()));
            return true;
        }
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

int ProcessHandle::checkSignalRights() const
{
    if (m_pidfd < 0)
        return ESRCH;
    ProcStat stat;
    if (!readStat(&stat))
        return ESRCH;
    // Kernel threads and the namespace's init ignore a kill: it would "succeed" without effect.
    if (stat.isKernelThread() || m_pid == 1)
        return EPERM;
    return sysPidfdSendSignal(m_pidfd, 0) == 0 ? 0 : errno;
}

int ProcessHandle::kill() const
{
    const int rights = checkSignalRights();
    if (rights != 0)
        return rights;
    return sysPidfdSendSignal(m_pidfd, SIGKILL) == 0 ? 0 : errno;
}

int ProcessHandle::requestEnd() const
{
    const int rights = checkSignalRights();
    if (rights != 0)
        return rights;
    return sysPidfdSendSignal(m_pidfd, SIGTERM) == 0 ? 0 : errno;
}

bool ProcessHandle::waitForExit(int timeoutMs) const
{
    if (m_pidfd < 0)
        return true;
    timespec start {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    while (true) {
        timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long spent
            = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        const int left = int(std::max<long long>(0, timeoutMs - spent));
        pollfd p {m_pidfd, POLLIN, 0};
        const int n = ::poll(&p, 1, left);
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

bool ProcessHandle::readScheduling(int *nice, int *policy) const
{
    ProcStat stat;
    if (!readStat(&stat))
        return false;
    *nice = int(stat.nice);
    *policy = int(stat.policy);
    return true;
}

int ProcessHandle::setScheduling(int nice, bool realtime) const
{
    if (m_pidfd < 0 || hasExited())
        return ESRCH;
    char path[64];
    procPath(path, m_pid, "task");
    const int taskDir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (taskDir < 0)
        return errno == ENOENT ? ESRCH : errno;
    // Still alive after the open: the folder is this process's, not a successor's.
    if (hasExited()) {
        ::close(taskDir);
        return ESRCH;
    }
    int firstError = 0;
    bool any = false;
    thread_local std::vector<char> buffer(8192);
    const bool listed = forEachEntry(taskDir, &buffer, [&](const char *name) {
        quint32 tid = 0;
        if (!pidFromName(name, &tid))
            return;
        const int rc = applyScheduling(pid_t(tid), nice, realtime);
        if (rc == ESRCH) // the thread ended meanwhile
            return;
        any = true;
        if (rc != 0 && firstError == 0)
            firstError = rc;
    });
    ::close(taskDir);
    if (!listed)
        return EIO;
    if (!any)
        return ESRCH;
    return firstError;
}

bool ProcessHandle::openChildren(std::vector<ProcessHandle> *children, const char *processDirectory) const
{
    children->clear();
    if (m_pidfd < 0 || hasExited())
        return false;
    ProcessDirectory dir(processDirectory);
    std::vector<quint32> pids;
    if (!dir.list(&pids))
        return false;
    std::vector<char> &buffer = scratch();
    for (quint32 pid : pids) {
        if (pid == m_pid)
            continue;
        char path[PATH_MAX];
        std::snprintf(path, sizeof path, "%s/%u/stat", processDirectory, pid);
        size_t size = 0;
        ProcStat stat;
        if (!readWholeFile(path, &buffer, &size) || !parseProcStat({buffer.data(), size}, &stat)
            || stat.ppid != qint64(m_pid))
            continue;
        ProcessHandle child = open(pid);
        // Read again through the child's own handle: the number may have passed to another process.
        if (!child.isOpen() || !child.readStat(&stat) || stat.ppid != qint64(m_pid) || stat.isDead())
            continue;
        children->push_back(std::move(child));
    }
    // While this process lives its number is its own, so "parent = this number" meant this process.
    if (hasExited()) {
        children->clear();
        return false;
    }
    return true;
}

// ---- machine facts ----

quint32 onlineProcessorCount()
{
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? quint32(n) : 1u;
}

quint64 pageSize()
{
    static const quint64 size = [] {
        const long n = ::sysconf(_SC_PAGESIZE);
        return n > 0 ? quint64(n) : 4096u;
    }();
    return size;
}

quint64 clockTicksPerSecond()
{
    static const quint64 ticks = [] {
        const long n = ::sysconf(_SC_CLK_TCK);
        return n > 0 ? quint64(n) : 100u;
    }();
    return ticks;
}

double monotonicTime100ns()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e7 + double(ts.tv_nsec) / 100.0;
}

QString accountName(quint32 uid)
{
    static std::mutex lock;
    static std::unordered_map<quint32, QString> names;
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = names.find(uid);
    if (found != names.end())
        return found->second;
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd *result = nullptr;
    QString name;
    while (::getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &result) == ERANGE
           && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (result && result->pw_name)
        name = QString::fromUtf8(result->pw_name);
    names.emplace(uid, name);
    return name;
}

quint32 nobodyUid()
{
    static const quint32 uid = [] {
        std::vector<char> buffer(16384);
        passwd entry {};
        passwd *result = nullptr;
        if (::getpwnam_r("nobody", &entry, buffer.data(), buffer.size(), &result) == 0 && result)
            return quint32(result->pw_uid);
        return 65534u;
    }();
    return uid;
}

quint32 systemUidMinimum(const char *loginDefs)
{
    std::vector<char> buffer(8192);
    size_t size = 0;
    if (!readWholeFile(loginDefs, &buffer, &size))
        return 1000;
    return parseLoginDefsUidMin({buffer.data(), size}, 1000);
}

quint32 effectiveUserId()
{
    return quint32(::geteuid());
}

quint32 currentProcessId()
{
    return quint32(::getpid());
}

QString machineName()
{
    static const QString name = [] {
        utsname u {};
        return ::uname(&u) == 0 ? QString::fromUtf8(u.nodename) : QString();
    }();
    return name;
}

void raiseDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace platform
