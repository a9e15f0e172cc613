#pragma once

#include "core/OVJournal.h"
#include "platform/ProcFs.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// Priority classes, with the numbers the Running tab's menu speaks, and how
// they map to the scheduler: a nice value, or real-time scheduling.
namespace ProcessPriority {
inline constexpr quint32 Idle = 0x40; // "Low"
inline constexpr quint32 BelowNormal = 0x4000;
inline constexpr quint32 Normal = 0x20;
inline constexpr quint32 AboveNormal = 0x8000;
inline constexpr quint32 High = 0x80;
inline constexpr quint32 Realtime = 0x100;

// The nice value a class sets (Realtime: first-in-first-out scheduling, or
// -20 where that is not permitted). False for a number that is no class.
bool SchedulingOfClass(quint32 PriorityClass, int *Nice, bool *IsRealtime);
// The class a thread's nice value and scheduling policy fall in.
quint32 ClassOfScheduling(int Nice, int Policy);
} // namespace ProcessPriority

namespace procmon {
// CPU share in percent of the whole machine: round(100 * Delta / Elapsed),
// halves to even; for the idle entry a result of 99 or more (taken as
// unsigned) is 99; the result is |share| modulo 101, so a computed 101 shows as 0.
quint32 CpuShare(double Delta, double Elapsed, bool IsIdleEntry);
// Executables whose processes may not be terminated, and those counted as
// part of the system besides root's processes.
const QStringList &CriticalImagePaths();
const QStringList &SystemImagePaths();

// Who looks at the processes: which accounts belong to the system, and the
// viewer's own account, process and login, whose programs stay in view even
// when the viewer is root or a system account itself.
struct ProcessViewer
{
    quint32 Uid = 0;
    quint32 UidMin = 1000; // UID_MIN of the login definitions
    quint32 NobodyUid = 65534;
    quint32 ProcessID = 0;
    // The kernel's session id. 0 is a real session too: the one of programs started by an
    // init (a container's, say) that never began a session of their own.
    quint32 Session = 0;
    bool HasSession = false;
    quint32 LoginUid = platform::kNoLoginSession;
    quint32 AuditSession = platform::kNoLoginSession;

    bool IsSystemAccount(quint32 AccountUid) const { return AccountUid < UidMin || AccountUid == NobodyUid; }
    bool IsSystemAccount() const { return IsSystemAccount(Uid); }
    // This program as it runs now.
    static ProcessViewer Current();
};

// Interpreters whose first file argument is the program that really runs.
bool IsScriptInterpreter(const QString &FileName);
} // namespace procmon

class TProcesses;
class TProcessItem;

// Memory counters of one process, read on demand.
class TProcessMemory
{
public:
    explicit TProcessMemory(TProcessItem *Item)
        : m_item(Item)
    { }
    // Reads the counters again; without a handle, or when the process is
    // gone, the previous values stay and the result is false.
    bool Refresh();

    quint64 WorkingSetSize = 0; // resident set (VmRSS), bytes; also renewed by every CPU sample
    quint64 PeakWorkingSetSize = 0; // its high-water mark (VmHWM)
    quint64 PagefileUsage = 0; // swapped out (VmSwap)
    quint64 PeakPagefileUsage = 0; // the most seen swapped out
    // The kernel keeps no per-process pool figures: these stay 0.
    quint64 QuotaPagedPoolUsage = 0;
    quint64 QuotaPeakPagedPoolUsage = 0;
    quint64 QuotaNonPagedPoolUsage = 0;
    quint64 QuotaPeakNonPagedPoolUsage = 0;
    quint64 PageFaultCount = 0; // minor and major faults, renewed by every CPU sample

private:
    TProcessItem *m_item;
};

// One process of the list. Owned by the list's table.
class TProcessItem
{
public:
    explicit TProcessItem(TProcesses *Owner);
    ~TProcessItem();
    TProcessItem(const TProcessItem &) = delete;
    TProcessItem &operator=(const TProcessItem &) = delete;

    TProcesses *Owner;
    quint32 RetryCount = 0;
    bool DetailsComplete = false;
    // The process, for the item's whole life: reads and signals go through it.
    platform::ProcessHandle Handle;
    bool HasOwnerUid = false;
    quint32 OwnerUid = 0;
    double PrevSampleTime = 0;
    double PrevIdleTime = 0;
    double PrevProcessTime = 0;
    QString Name;
    quint32 ProcessID = 0;
    quint32 ParentProcessID = 0;
    quint32 SessionID = 0;
    QString Domain;
    QString User;
    QString ImagePath;
    QString CommandLine;
    int SmallIconIndex = -1;
    int LargeIconIndex = -1;
    quint32 CPUUsage = 0;
    TProcessMemory Memory;
    bool KernelThread = false;
    quint64 StartTicks = 0;
    // A script: ImagePath is the script, this the interpreter that runs it.
    QString InterpreterPath;
    // The Flatpak application a sandboxed process runs; empty outside a sandbox.
    QString FlatpakId;
    // The login the process belongs to (read for the viewer's own account only).
    quint32 LoginUid = platform::kNoLoginSession;
    quint32 AuditSession = platform::kNoLoginSession;
    // True when the executable exists but is not ours to see: ImagePath then
    // comes from the command line, as far as it names a file.
    bool ImageFromCommandLine = false;

    bool RefreshMemory() { return Memory.Refresh(); }
    // The class of the main thread's scheduling; 0 without a handle.
    quint32 PriorityClass() const;
    // Both are written to the journal before and after they act.
    bool Terminate() const;
    bool TerminateTree() const;
    bool SetPriorityClass(quint32 PriorityClass) const;
    bool IsCritical() const;
    bool IsSystem() const;
    // One of this program's own processes (itself, its helpers, the programs of its folder).
    bool IsOwnProgram() const;

private:
    friend class TProcesses;
    friend class TProcessMemory;
    journal::Subject JournalSubject(bool Tree) const;
    void LookupOwner();
    void LookupImagePath();
    void LookupCommandLine();
    // A Windows program under Wine: its own executable as the image path.
    void ResolveWineProgram();
    // Where the executable cannot be read: the program the command line names.
    void ResolveFromCommandLine();
    // An interpreter running a script: the script stands for it.
    void ResolveScript();
    void LookupLoginSession();
    bool InViewerLogin() const;
    void LookupIcon();
    void UpdateCpu(const platform::ProcStat *Stat);
    void CompleteDetails();
    void TakeName(const platform::ProcStat &Stat);
    void ReloadAfterRename();

    // The first words of the command line (the interpreter, its option and the
    // script for a script), for names the kernel cut short.
    QStringList m_leadingWords;
    QByteArray m_comm; // the kernel's name as last read: a change means a new program or a rename
    bool m_renamed = false;
    QString m_procExe; // the executable the kernel names (wine's loader for a Windows program)
    bool m_exeDenied = false; // the executable link exists but is not ours to read
    quint64 m_faults = 0;
};

// Terminating and re-prioritising processes. The handle forms act on the
// process a handle was opened for; the number forms open a handle on
// whatever process holds the number now.
class TProcessHelper
{
public:
    static bool Terminate(quint32 ProcessID);
    static bool Terminate(const platform::ProcessHandle &Process);
    // The process and its direct children (children first); their children
    // are left running. False when anything could not be terminated; when the
    // process directory (another one only in tests) cannot be listed nothing is terminated.
    static bool TerminateTree(quint32 ProcessID);
    static bool TerminateTree(const platform::ProcessHandle &Process, const char *ProcessDirectory = "/proc");
    static bool SetPriorityClass(quint32 ProcessID, quint32 PriorityClass);
    static bool SetPriorityClass(const platform::ProcessHandle &Process, quint32 PriorityClass);
    // Asks every process to end, gives them GraceMs together to save and go,
    // then terminates those still running. True when all have ended.
    static bool EndAll(const std::vector<const platform::ProcessHandle *> &Processes, int GraceMs);
};

// The processes of the machine, brought up to date by Refresh, which reports
// every change through the three events. Main thread only.
class TProcesses
{
public:
    TProcesses();
    ~TProcesses();
    TProcesses(const TProcesses &) = delete;
    TProcesses &operator=(const TProcesses &) = delete;

    // One pass; false when /proc could not be listed or a pass is running.
    bool Refresh();
    // Refresh with any error swallowed.
    void SafeRefresh();

    int Count() const { return int(m_items.size()); }
    TProcessItem *Items(int Index) const;
    TProcessItem *ItemByID(quint32 ProcessID) const;
    void Clear();

    // Icons by index: a theme icon name or an absolute file path. Both lists
    // hold the same entries; index 0 is the generic executable.
    const QStringList &SmallImages() const { return m_images; }
    const QStringList &LargeImages() const { return m_images; }
    quint32 ProcessorCount() const { return m_processorCount; }
    // Who looks: decides which processes belong to the system (tests set another).
    const procmon::ProcessViewer &Viewer() const { return m_viewer; }
    void SetViewer(const procmon::ProcessViewer &Viewer) { m_viewer = Viewer; }
    bool IsFirstLoad() const { return m_firstLoad; }

    std::function<void(TProcesses *Sender, quint32 dwProcessID)> OnProcessAdded;
    std::function<void(TProcesses *Sender, quint32 dwProcessID)> OnProcessReloaded;
    std::function<void(TProcesses *Sender, quint32 dwProcessID)> OnProcessRemoved;

private:
    friend class TProcessItem;
    bool EnumerationPass();
    void RemoveExited();
    TProcessItem *CreateItem(quint32 ProcessID, platform::ProcStat *Stat);
    void RemoveAt(size_t Index);
    int IconIndex(const QString &Icon);
    bool ReadIdleTime(double *Idle);

    std::vector<std::unique_ptr<TProcessItem>> m_items; // in the order first seen
    QHash<QByteArray, TProcessItem *> m_table; // decimal identifier -> item
    bool m_firstLoad = true;
    bool m_busy = false;
    bool m_clearPending = false;
    quint32 m_processorCount = 1;
    procmon::ProcessViewer m_viewer;
    QStringList m_images;
    QHash<QString, int> m_imageIndex;
    platform::ProcessDirectory m_directory;
    std::vector<quint32> m_pids;
    std::vector<char> m_statBuffer;
};
