#pragma once

#include <QString>
#include <QStringList>
#include <string_view>
#include <vector>

// Reading the process file system (/proc). The parse functions take the raw
// bytes of one file and never trust them; the readers use plain system calls
// into buffers that are reused, because the process list reads every
// process once a second.
namespace platform {

// /proc/<pid>/stat. The command name is whatever the process chose (blanks,
// parentheses, newlines, any bytes): it runs from the first '(' to the LAST ')'.
struct ProcStat
{
    char comm[64] = {}; // raw bytes, NUL-terminated, cut at 63
    int commLength = 0;
    char state = 0;
    qint64 ppid = 0;
    qint64 session = 0;
    quint64 flags = 0;
    quint64 minorFaults = 0;
    quint64 majorFaults = 0;
    quint64 userTicks = 0;
    quint64 systemTicks = 0;
    qint64 nice = 0;
    quint64 startTicks = 0; // clock ticks after boot: with the pid, names one process for good
    quint64 rssPages = 0;
    quint64 policy = 0; // scheduling policy (0 where the kernel does not report it)

    bool isKernelThread() const { return (flags & 0x00200000u) != 0; }
    bool isDead() const { return state == 'Z' || state == 'X' || state == 'x'; }
};
bool parseProcStat(std::string_view text, ProcStat *out);

// The lines of /proc/<pid>/status the process list uses.
struct ProcStatus
{
    bool hasUid = false;
    quint32 effectiveUid = 0;
    bool hasMemory = false; // kernel threads have no memory lines
    quint64 rssBytes = 0; // VmRSS
    quint64 peakRssBytes = 0; // VmHWM
    quint64 swapBytes = 0; // VmSwap
};
bool parseProcStatus(std::string_view text, ProcStatus *out);

// One "cpu" line of /proc/stat, in clock ticks.
struct CpuTimes
{
    quint64 user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    // Time the processor did nothing (waiting for I/O included).
    quint64 idleAll() const { return idle + iowait; }
    // All time accounted to the processor, idle included (guest time is already in user and nice).
    quint64 total() const { return user + nice + system + idle + iowait + irq + softirq + steal; }
};
// The machine-wide line and one entry per "cpuN" line, in file order.
bool parseSystemStat(std::string_view text, CpuTimes *all, std::vector<CpuTimes> *perCpu);
// MemTotal and MemAvailable of /proc/meminfo, in bytes; false unless both are there.
bool parseMeminfo(std::string_view text, quint64 *totalBytes, quint64 *availableBytes);

// The NUL-separated words of /proc/<pid>/cmdline as one line: words joined by
// blanks, a word holding blanks or quotes put in double quotes. A process
// that rewrote its arguments into one string keeps that string.
QString commandLineText(std::string_view raw);
// Bytes a process chose (name, path) as text: invalid UTF-8 becomes U+FFFD.
QString processText(std::string_view raw);
// UID_MIN of /etc/login.defs: the first id of ordinary accounts; fallback when the text sets none.
quint32 parseLoginDefsUidMin(std::string_view text, quint32 fallback = 1000);
// The application id of a sandbox's .flatpak-info ("name" of its [Application] group);
// empty when there is none or it is no application id.
QString parseFlatpakInfoAppId(std::string_view text);

// Marks an unset login uid or audit session (a process not started from a login).
inline constexpr quint32 kNoLoginSession = 0xFFFFFFFFu;

// /proc/<pid>/stat of whatever process holds pid now (no handle needed).
bool readProcStatOf(quint32 pid, ProcStat *out);
// The system-wide files, read and parsed (paths are given so tests can use fixtures).
bool readSystemStat(const char *path, CpuTimes *all, std::vector<CpuTimes> *perCpu);
bool readMeminfo(const char *path, quint64 *totalBytes, quint64 *availableBytes);

// Identifiers of the processes in /proc, in directory order. Keeps the
// directory open and its buffer between calls.
class ProcessDirectory
{
public:
    explicit ProcessDirectory(const char *root = "/proc");
    ~ProcessDirectory();
    ProcessDirectory(const ProcessDirectory &) = delete;
    ProcessDirectory &operator=(const ProcessDirectory &) = delete;
    // False when the directory cannot be read or lists no process.
    bool list(std::vector<quint32> *pids);

private:
    int m_fd = -1;
    std::vector<char> m_buffer;
};

// A handle on one process (a pidfd) and descriptors of its stat and status
// files, kept for the item's life. Every read and every signal goes through
// them: a process identifier reused by another process after this one ended
// never reaches the new process.
class ProcessHandle
{
public:
    ProcessHandle() = default;
    ~ProcessHandle();
    ProcessHandle(ProcessHandle &&other) noexcept;
    ProcessHandle &operator=(ProcessHandle &&other) noexcept;
    ProcessHandle(const ProcessHandle &) = delete;
    ProcessHandle &operator=(const ProcessHandle &) = delete;

    // The process that holds pid now; not open when there is none.
    static ProcessHandle open(quint32 pid);

    bool isOpen() const { return m_pidfd >= 0; }
    quint32 pid() const { return m_pid; }
    // True once the process has ended (a zombie has ended), and for a handle that is not open.
    bool hasExited() const;
    // hasExited for many handles with one system call; exited[i] for handles[i].
    static void checkExited(const ProcessHandle *const *handles, size_t count, bool *exited);

    bool readStat(ProcStat *out) const;
    bool readStatus(ProcStatus *out) const;
    // /proc/<pid>/exe without the kernel's " (deleted)" mark; false when it cannot be read
    // (another user's process without the rights, a kernel thread).
    // error gets the errno of a failure (EACCES: the file exists but is not ours to see).
    bool readImagePath(QString *out, int *error = nullptr) const;
    // /proc/<pid>/cwd, with the same rights as the executable.
    bool readWorkingDirectory(QString *out) const;
    // The login uid and the audit session the process belongs to (kNoLoginSession
    // when unset); readable for every process.
    bool readLoginSession(quint32 *loginUid, quint32 *auditSession) const;
    // The Flatpak application a sandboxed process runs (its /.flatpak-info);
    // false outside a sandbox or without the rights to look into its root.
    bool readFlatpakAppId(QString *out) const;
    // /proc/<pid>/cmdline as text; false when it cannot be read or is empty.
    // leadingWords gets its first four words on their own (argv[0] and what
    // follows it: for a script, its interpreter, options and the script).
    bool readCommandLine(QString *out, QStringList *leadingWords = nullptr) const;
    // One variable of /proc/<pid>/environ; false when it is not set or cannot be read.
    bool readEnvironmentValue(const QByteArray &name, QString *out) const;

    // 0 on success, else the errno of the failure (EPERM without the rights,
    // ESRCH when the process has ended). Kernel threads ignore signals: they
    // are refused with EPERM instead of reporting a kill that never happens.
    int kill() const;
    // Asks the process to end (SIGTERM), so it may save its work; 0 or the errno, as kill.
    int requestEnd() const;
    // Waits up to timeoutMs for the process to end; true once it has.
    bool waitForExit(int timeoutMs) const;
    // Whether this process may be signalled by us (no signal is sent).
    int checkSignalRights() const;
    // Nice value and scheduling policy of the main thread.
    bool readScheduling(int *nice, int *policy) const;
    // Sets every thread to the nice value, or to first-in-first-out real-time
    // scheduling when realtime (nice -20 when that is not permitted).
    // 0 on success, else the errno of the first failure.
    int setScheduling(int nice, bool realtime) const;

    // The direct children, each opened and checked to still be a child of this
    // process. False, with none, when the process has ended or the process
    // directory (another one only in tests) cannot be listed: then nobody can
    // tell which processes are its children.
    bool openChildren(std::vector<ProcessHandle> *children, const char *processDirectory = "/proc") const;

private:
    bool stillSameProcess() const { return !hasExited(); }
    bool readKept(int fd, const char *file, std::string_view *text) const;
    bool readLink(const char *file, std::string_view *target, int *error) const;

    quint32 m_pid = 0;
    int m_pidfd = -1;
    int m_statFd = -1;
    int m_statusFd = -1;
};

// Online logical processors, at least 1.
quint32 onlineProcessorCount();
// Bytes in a memory page (the unit of ProcStat::rssPages).
quint64 pageSize();
// The unit of the tick counts above (USER_HZ).
quint64 clockTicksPerSecond();
// A monotonic clock in 100-nanosecond units: a clock step never shows as CPU time.
double monotonicTime100ns();
// The account name of a user id (looked up once per id); empty when it has none.
QString accountName(quint32 uid);
// The id of the account "nobody" (65534 where it has none).
quint32 nobodyUid();
// UID_MIN of the login definitions file (1000 when it is missing or sets none).
quint32 systemUidMinimum(const char *loginDefs = "/etc/login.defs");
// Who this program runs as, and its own process.
quint32 effectiveUserId();
quint32 currentProcessId();
// This machine's name, the domain of its local accounts.
QString machineName();
// Raises the limit of open descriptors to the hard limit: the process list keeps three per process.
void raiseDescriptorLimit();

} // namespace platform
