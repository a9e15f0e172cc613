#include "procmon/Processes.h"

#include "platform/AppPath.h"
#include "platform/DesktopIcons.h"
#include "platform/WinePrefix.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Identifiers that stand for the system itself: the idle entry, init and the kernel's thread parent.
bool isSystemIdentifier(quint32 pid)
{
    return pid <= 2;
}

QByteArray keyView(quint32 pid, char (&buffer)[16])
{
    const int n = std::snprintf(buffer, sizeof buffer, "%u", pid);
    return QByteArray::fromRawData(buffer, n);
}

QString baseName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

double ticksTo100ns(quint64 ticks)
{
    return double(ticks) * (1e7 / double(platform::clockTicksPerSecond()));
}

} // namespace

namespace ProcessPriority {

bool SchedulingOfClass(quint32 PriorityClass, int *Nice, bool *IsRealtime)
{
    *IsRealtime = false;
    switch (PriorityClass) {
    case Realtime:
        *IsRealtime = true;
        *Nice = -20;
        return true;
    case High:
        *Nice = -10;
        return true;
    case AboveNormal:
        *Nice = -5;
        return true;
    case Normal:
        *Nice = 0;
        return true;
    case BelowNormal:
        *Nice = 10;
        return true;
    case Idle:
        *Nice = 19;
        return true;
    default:
        return false;
    }
}

quint32 ClassOfScheduling(int Nice, int Policy)
{
    constexpr int kFifo = 1, kRoundRobin = 2, kIdlePolicy = 5, kDeadline = 6;
    if (Policy == kFifo || Policy == kRoundRobin || Policy == kDeadline)
        return Realtime;
    if (Policy == kIdlePolicy)
        return Idle;
    if (Nice <= -8)
        return High;
    if (Nice < 0)
        return AboveNormal;
    if (Nice == 0)
        return Normal;
    if (Nice < 15)
        return BelowNormal;
    return Idle;
}

} // namespace ProcessPriority

namespace procmon {

quint32 CpuShare(double Delta, double Elapsed, bool IsIdleEntry)
{
    if (Elapsed == 0)
        return 0;
    const double rounded = std::nearbyint(100.0 * Delta / Elapsed); // halves to even
    qint64 share = 0;
    if (std::isfinite(rounded)) {
        constexpr double kLimit = double(std::numeric_limits<qint64>::max() / 2);
        share = qint64(std::clamp(rounded, -kLimit, kLimit));
    }
    // A negative share read as unsigned is huge, so it also becomes 99.
    if (IsIdleEntry && (share < 0 || share >= 99))
        share = 99;
    return quint32((share < 0 ? -share : share) % 101);
}

const QStringList &CriticalImagePaths()
{
    // The service manager, the session (login) manager, the display login
    // managers and the message bus: ending any of them ends the system or the session.
    static const QStringList paths = {
        QStringLiteral("/usr/lib/systemd/systemd"),
        QStringLiteral("/lib/systemd/systemd"),
        QStringLiteral("/usr/lib/systemd/systemd-logind"),
        QStringLiteral("/lib/systemd/systemd-logind"),
        QStringLiteral("/usr/sbin/gdm3"),
        QStringLiteral("/usr/sbin/lightdm"),
        QStringLiteral("/usr/bin/sddm"),
        QStringLiteral("/usr/bin/dbus-daemon"),
        QStringLiteral("/usr/bin/dbus-broker"),
    };
    return paths;
}

const QStringList &SystemImagePaths()
{
    // The display server and the desktop shell run as the user but belong to the system.
    static const QStringList paths = {
        QStringLiteral("/usr/lib/xorg/Xorg"),
        QStringLiteral("/usr/bin/Xwayland"),
        QStringLiteral("/usr/bin/gnome-shell"),
        QStringLiteral("/usr/bin/plasmashell"),
    };
    return paths;
}

ProcessViewer ProcessViewer::Current()
{
    ProcessViewer viewer;
    viewer.Uid = platform::effectiveUserId();
    viewer.UidMin = platform::systemUidMinimum();
    viewer.NobodyUid = platform::nobodyUid();
    viewer.ProcessID = platform::currentProcessId();
    const platform::ProcessHandle self = platform::ProcessHandle::open(viewer.ProcessID);
    platform::ProcStat stat;
    if (self.readStat(&stat) && stat.session >= 0) {
        viewer.Session = quint32(stat.session);
        viewer.HasSession = true;
    }
    self.readLoginSession(&viewer.LoginUid, &viewer.AuditSession);
    return viewer;
}

bool IsScriptInterpreter(const QString &FileName)
{
    static const QRegularExpression interpreters(
        QStringLiteral("^(python|pypy|perl|ruby|node|nodejs|lua|luajit|php|bash|dash|sh|zsh|ksh|mksh|"
                       "tclsh|wish|gjs|guile|Rscript)[0-9.]*$"));
    return interpreters.match(FileName).hasMatch();
}

} // namespace procmon

// ---- TProcessMemory ----

bool TProcessMemory::Refresh()
{
    if (!m_item->Handle.isOpen())
        return false;
    platform::ProcStatus status;
    if (!m_item->Handle.readStatus(&status) || !status.hasMemory)
        return false;
    WorkingSetSize = status.rssBytes;
    PeakWorkingSetSize = status.peakRssBytes;
    PagefileUsage = status.swapBytes;
    PeakPagefileUsage = std::max(PeakPagefileUsage, status.swapBytes);
    PageFaultCount = m_item->m_faults;
    return true;
}

// ---- TProcessItem ----

TProcessItem::TProcessItem(TProcesses *Owner)
    : Owner(Owner)
    , Memory(this)
{ }

TProcessItem::~TProcessItem() = default;

quint32 TProcessItem::PriorityClass() const
{
    int nice = 0, policy = 0;
    if (!Handle.isOpen() || !Handle.readScheduling(&nice, &policy))
        return 0;
    return ProcessPriority::ClassOfScheduling(nice, policy);
}

bool TProcessItem::Terminate() const
{
    const QString record = journal::Begin(journal::Kind::Terminate, JournalSubject(false));
    const bool ok = TProcessHelper::Terminate(Handle);
    journal::End(record, ok ? journal::Result::Succeeded : journal::Result::Failed);
    return ok;
}

bool TProcessItem::TerminateTree() const
{
    const QString record = journal::Begin(journal::Kind::Terminate, JournalSubject(true));
    const bool ok = TProcessHelper::TerminateTree(Handle);
    journal::End(record, ok ? journal::Result::Succeeded : journal::Result::Failed);
    return ok;
}

journal::Subject TProcessItem::JournalSubject(bool Tree) const
{
    QString command = QStringLiteral("kill -KILL %1").arg(ProcessID);
    if (Tree)
        command += QStringLiteral(" (and its direct children)");
    return {Name, {}, ImagePath.isEmpty() ? CommandLine : ImagePath, command};
}

bool TProcessItem::SetPriorityClass(quint32 PriorityClass) const
{
    return TProcessHelper::SetPriorityClass(Handle, PriorityClass);
}

bool TProcessItem::IsCritical() const
{
    return isSystemIdentifier(ProcessID) || KernelThread || procmon::CriticalImagePaths().contains(ImagePath);
}

bool TProcessItem::IsSystem() const
{
    if (IsCritical() || procmon::SystemImagePaths().contains(ImagePath))
        return true;
    const procmon::ProcessViewer &viewer = Owner->Viewer();
    if (!HasOwnerUid || !viewer.IsSystemAccount(OwnerUid))
        return false;
    // Root or a system account looking at its own login's programs (this one among them) sees them.
    return !(OwnerUid == viewer.Uid && InViewerLogin());
}

bool TProcessItem::InViewerLogin() const
{
    const procmon::ProcessViewer &viewer = Owner->Viewer();
    if (ProcessID == viewer.ProcessID)
        return true;
    if (viewer.AuditSession != platform::kNoLoginSession && AuditSession == viewer.AuditSession)
        return true;
    if (viewer.LoginUid != platform::kNoLoginSession && LoginUid == viewer.LoginUid)
        return true;
    return viewer.HasSession && SessionID == viewer.Session;
}

bool TProcessItem::IsOwnProgram() const
{
    const quint32 self = Owner->Viewer().ProcessID;
    if (ProcessID == self)
        return true;
    static const QString folder = platform::applicationDirectory();
    if (!ImagePath.isEmpty() && folder.size() > 1 && ImagePath.startsWith(folder))
        return true;
    // The web engine's helpers are children and grandchildren of the window's process; other
    // children (installers, uninstallers) are programs of their own.
    if (baseName(ImagePath) != QLatin1String("QtWebEngineProcess"))
        return false;
    const TProcessItem *ancestor = this;
    for (int depth = 0; depth < 3 && ancestor && ancestor->ParentProcessID > 2; ++depth) {
        if (ancestor->ParentProcessID == self)
            return true;
        ancestor = Owner->ItemByID(ancestor->ParentProcessID);
    }
    return false;
}

void TProcessItem::LookupLoginSession()
{
    // Only the viewer's own account needs it, and only when that account belongs to the system.
    const procmon::ProcessViewer &viewer = Owner->Viewer();
    if (HasOwnerUid && OwnerUid == viewer.Uid && viewer.IsSystemAccount() && Handle.isOpen())
        Handle.readLoginSession(&LoginUid, &AuditSession);
}

void TProcessItem::LookupOwner()
{
    platform::ProcStatus status;
    if (Handle.isOpen() && Handle.readStatus(&status) && status.hasUid) {
        HasOwnerUid = true;
        OwnerUid = status.effectiveUid;
    }
    if (HasOwnerUid) {
        User = platform::accountName(OwnerUid);
        // An id without an account (a container's user, say) is shown by its number.
        if (User.isEmpty())
            User = QString::number(OwnerUid);
    } else if (isSystemIdentifier(ProcessID)) {
        User = QStringLiteral("root");
    }
    if (!User.isEmpty()) {
        Domain = platform::machineName();
        if (Domain.isEmpty())
            Domain = QStringLiteral("localhost");
    }
}

void TProcessItem::LookupImagePath()
{
    QString path;
    int error = 0;
    if (KernelThread || !Handle.isOpen())
        return;
    if (Handle.readImagePath(&path, &error)) {
        ImagePath = path;
        m_procExe = path;
        m_exeDenied = false;
        ImageFromCommandLine = false;
    } else {
        m_exeDenied = error == EACCES || error == EPERM;
    }
}

void TProcessItem::LookupCommandLine()
{
    QString line;
    if (!KernelThread && Handle.isOpen() && Handle.readCommandLine(&line, &m_leadingWords)) {
        CommandLine = line;
        ResolveWineProgram();
        ResolveFromCommandLine();
        ResolveScript();
    }
}

void TProcessItem::ResolveFromCommandLine()
{
    if (!ImagePath.isEmpty() || !m_exeDenied || m_leadingWords.isEmpty())
        return;
    // What the process says it runs: only used where the kernel's own answer is
    // not ours to read, and never to grant anything (the process is not ours either).
    QString program = m_leadingWords.first();
    if (program.startsWith(QLatin1Char('-'))) // a login shell's "-bash"
        program.remove(0, 1);
    if (!program.startsWith(QLatin1Char('/'))) {
        // A server's title ("name: what it does") names its program first.
        static const QRegularExpression titleEnd(QStringLiteral("[: ]"));
        const qsizetype cut = program.indexOf(titleEnd);
        if (cut >= 0)
            program.truncate(cut);
    } else if (!QFileInfo(program).isFile()) {
        const qsizetype blank = program.indexOf(QLatin1Char(' '));
        program = blank > 0 ? program.left(blank) : QString();
    }
    QString path;
    if (program.startsWith(QLatin1Char('/'))) {
        const QFileInfo file(program);
        if (file.isFile())
            path = file.canonicalFilePath();
    } else if (!program.isEmpty() && !program.contains(QLatin1Char('/'))) {
        path = platform::resolveDesktopProgram(program);
    }
    // A relative path with a folder would need the process's own folder, which is as closed as its file.
    if (!path.isEmpty()) {
        ImagePath = path;
        ImageFromCommandLine = true;
    }
}

void TProcessItem::ResolveScript()
{
    if (ImagePath.isEmpty() || !InterpreterPath.isEmpty()
        || !procmon::IsScriptInterpreter(baseName(ImagePath)))
        return;
    // Options that give the code on the command line, or a module by name: no file stands for it.
    const QString interpreter = baseName(ImagePath);
    static const QRegularExpression shells(QStringLiteral("^(ba|da|z|k|mk)?sh$"));
    const bool shell = shells.match(interpreter).hasMatch();
    const bool python
        = interpreter.startsWith(QLatin1String("python")) || interpreter.startsWith(QLatin1String("pypy"));
    for (qsizetype i = 1; i < m_leadingWords.size(); ++i) {
        const QString &word = m_leadingWords.at(i);
        if (word == QLatin1String("-c") && (shell || python))
            return;
        if (word == QLatin1String("-m") && python)
            return;
        if ((word == QLatin1String("-e") || word == QLatin1String("-E") || word == QLatin1String("-r"))
            && !shell && !python)
            return;
        if (word.startsWith(QLatin1Char('-')) || word.isEmpty())
            continue;
        QString script = word;
        if (!script.startsWith(QLatin1Char('/'))) {
            QString folder;
            if (!Handle.readWorkingDirectory(&folder))
                return;
            script = folder + QLatin1Char('/') + script;
        }
        // A script read through a descriptor ("/dev/fd/9", "/proc/self/fd/9") has
        // no file of its own, and the path would name the viewer's descriptor.
        if (script.startsWith(QLatin1String("/dev/")) || script.startsWith(QLatin1String("/proc/")))
            return;
        const QFileInfo file(script);
        if (!file.isFile())
            return;
        InterpreterPath = ImagePath;
        ImagePath = QDir::cleanPath(file.absoluteFilePath());
        return;
    }
}

void TProcessItem::ResolveWineProgram()
{
    // Wine runs a Windows program in its own loader and puts the program's
    // Windows path first on the command line: the program is what the user
    // knows, so its Linux path stands for the loader's.
    static const QRegularExpression loader(QStringLiteral("^wine(64)?(-preloader)?$"));
    static const QRegularExpression windowsPath(QStringLiteral("^[A-Za-z]:\\\\"));
    if (m_procExe.isEmpty() || m_leadingWords.isEmpty() || !loader.match(baseName(m_procExe)).hasMatch()
        || !windowsPath.match(m_leadingWords.first()).hasMatch())
        return;
    QString prefix;
    if (!Handle.readEnvironmentValue("WINEPREFIX", &prefix) || prefix.isEmpty()) {
        QString home;
        prefix = Handle.readEnvironmentValue("HOME", &home) && !home.isEmpty()
            ? home + QStringLiteral("/.wine")
            : platform::defaultWinePrefix();
    }
    const QString program = platform::wineLinuxPath(prefix, m_leadingWords.first());
    if (!program.isEmpty() && QFileInfo(program).isFile())
        ImagePath = program;
}

void TProcessItem::LookupIcon()
{
    if (isSystemIdentifier(ProcessID) || ImagePath.trimmed().isEmpty()) {
        SmallIconIndex = LargeIconIndex = -1;
        return;
    }
    QString icon = platform::desktopIconFor(ImagePath);
    if (icon.isEmpty())
        icon = QLatin1String(platform::kGenericExecutableIcon);
    SmallIconIndex = LargeIconIndex = Owner->IconIndex(icon);
}

void TProcessItem::UpdateCpu(const platform::ProcStat *Stat)
{
    CPUUsage = 0;
    const quint32 processors = std::max<quint32>(Owner->ProcessorCount(), 1);
    if (ProcessID == 0) {
        const double now = platform::monotonicTime100ns();
        double idle = 0;
        if (!Owner->ReadIdleTime(&idle))
            return;
        if (PrevSampleTime > 0) {
            const double elapsed = (now - PrevSampleTime) * processors;
            CPUUsage = procmon::CpuShare(idle - PrevIdleTime, elapsed, true);
        }
        PrevSampleTime = now;
        PrevIdleTime = idle;
        return;
    }
    if (!Handle.isOpen())
        return;
    platform::ProcStat fresh;
    if (!Stat) {
        if (!Handle.readStat(&fresh))
            return;
        Stat = &fresh;
    }
    // A process that runs another program (or renames itself) keeps its number and handle.
    if (!m_comm.isNull()
        && (m_comm.size() != Stat->commLength
            || std::memcmp(m_comm.constData(), Stat->comm, size_t(Stat->commLength)) != 0)) {
        m_renamed = true;
        m_comm = QByteArray(Stat->comm, Stat->commLength);
    }
    // A program with the same short name (another sleep, say) shows only in the executable.
    QString path;
    if (!m_renamed && !KernelThread && !m_procExe.isEmpty() && Handle.readImagePath(&path)
        && path != m_procExe)
        m_renamed = true;
    const double now = platform::monotonicTime100ns();
    const double processTime = ticksTo100ns(Stat->userTicks + Stat->systemTicks);
    m_faults = Stat->minorFaults + Stat->majorFaults;
    // The same read gives the resident set (VmRSS in pages): the working set stays current for free.
    Memory.WorkingSetSize = Stat->rssPages * platform::pageSize();
    Memory.PageFaultCount = m_faults;
    if (PrevSampleTime > 0) {
        const double elapsed = (now - PrevSampleTime) * processors;
        CPUUsage = procmon::CpuShare(processTime - PrevProcessTime, elapsed, false);
    }
    PrevSampleTime = now;
    PrevProcessTime = processTime;
}

void TProcessItem::TakeName(const platform::ProcStat &Stat)
{
    m_comm = QByteArray(Stat.comm, Stat.commLength);
    Name = platform::processText({Stat.comm, size_t(Stat.commLength)});
    // A script is named by its file, whichever way it was started.
    if (!InterpreterPath.isEmpty()) {
        Name = baseName(ImagePath);
        return;
    }
    // The kernel keeps 15 bytes of a name: the file's own name is the whole of it. For a
    // script the file is its interpreter; the script is one of the first words of the command line.
    if (Stat.commLength == 15) {
        QStringList candidates {baseName(ImagePath)};
        for (const QString &word : m_leadingWords)
            candidates << baseName(word);
        for (const QString &full : std::as_const(candidates)) {
            if (full.size() > Name.size() && full.startsWith(Name)) {
                Name = full;
                break;
            }
        }
    }
}

void TProcessItem::ReloadAfterRename()
{
    m_renamed = false;
    platform::ProcStat stat;
    if (!Handle.isOpen() || !Handle.readStat(&stat))
        return;
    // After an exec the file, the arguments and possibly the owner are new.
    ImagePath.clear();
    CommandLine.clear();
    InterpreterPath.clear();
    FlatpakId.clear();
    ImageFromCommandLine = false;
    m_leadingWords.clear();
    LookupOwner();
    LookupLoginSession();
    LookupImagePath();
    LookupCommandLine();
    Handle.readFlatpakAppId(&FlatpakId);
    LookupIcon();
    TakeName(stat);
    if (!Owner->IsFirstLoad() && Owner->OnProcessReloaded)
        Owner->OnProcessReloaded(Owner, ProcessID);
}

void TProcessItem::CompleteDetails()
{
    if (isSystemIdentifier(ProcessID))
        return;
    if (RetryCount == 0) {
        RetryCount = 1; // a new item is left alone for one refresh
        return;
    }
    if (DetailsComplete)
        return;
    TProcesses *owner = Owner;
    if (RetryCount > 5) {
        // Nothing more is coming: the row is completed from what could be read, once.
        DetailsComplete = true;
        if (owner->OnProcessReloaded)
            owner->OnProcessReloaded(owner, ProcessID);
        return;
    }
    bool changed = false;
    bool ok = true;
    if (!Handle.isOpen()) {
        platform::ProcessHandle handle = platform::ProcessHandle::open(ProcessID);
        platform::ProcStat stat;
        // Only the same process: its start time tells it from a successor with the same number.
        if (handle.isOpen() && handle.readStat(&stat) && stat.startTicks == StartTicks)
            Handle = std::move(handle);
        changed = true;
        ok = Handle.isOpen();
    }
    if (User.isEmpty() || Domain.isEmpty()) {
        LookupOwner();
        LookupLoginSession();
        changed = true;
        ok = ok && !User.isEmpty() && !Domain.isEmpty();
    }
    // Kernel threads have neither file nor command line: nothing is missing.
    bool named = false;
    if (!KernelThread && ImagePath.isEmpty()) {
        LookupImagePath();
        if (!m_leadingWords.isEmpty()) {
            ResolveFromCommandLine();
            ResolveScript();
        }
        changed = true;
        named = !ImagePath.isEmpty();
        // An executable that is not ours to see is as complete as it gets.
        ok = ok && (named || m_exeDenied);
    }
    if (!KernelThread && CommandLine.isEmpty()) {
        LookupCommandLine();
        changed = true;
        named = named || !ImagePath.isEmpty();
        ok = ok && !CommandLine.isEmpty();
    }
    platform::ProcStat stat;
    if (named && Handle.readStat(&stat))
        TakeName(stat); // a name the kernel cut short is whole once the file is known
    LookupIcon();
    if (ok) {
        DetailsComplete = true;
        if (changed && owner->OnProcessReloaded)
            owner->OnProcessReloaded(owner, ProcessID);
    } else {
        ++RetryCount;
    }
}

// ---- TProcessHelper ----

bool TProcessHelper::Terminate(const platform::ProcessHandle &Process)
{
    return Process.isOpen() && Process.kill() == 0;
}

bool TProcessHelper::Terminate(quint32 ProcessID)
{
    return Terminate(platform::ProcessHandle::open(ProcessID));
}

bool TProcessHelper::TerminateTree(const platform::ProcessHandle &Process, const char *ProcessDirectory)
{
    // Without the right to end the parent, or without knowing its children, nothing is ended.
    if (!Process.isOpen() || Process.checkSignalRights() != 0)
        return false;
    std::vector<platform::ProcessHandle> children;
    if (!Process.openChildren(&children, ProcessDirectory))
        return false;
    bool result = true;
    for (const platform::ProcessHandle &child : children)
        if (child.kill() != 0)
            result = false;
    if (Process.kill() != 0)
        result = false;
    return result;
}

bool TProcessHelper::TerminateTree(quint32 ProcessID)
{
    return TerminateTree(platform::ProcessHandle::open(ProcessID));
}

bool TProcessHelper::SetPriorityClass(const platform::ProcessHandle &Process, quint32 PriorityClass)
{
    int nice = 0;
    bool realtime = false;
    if (!Process.isOpen() || !ProcessPriority::SchedulingOfClass(PriorityClass, &nice, &realtime))
        return false;
    return Process.setScheduling(nice, realtime) == 0;
}

bool TProcessHelper::SetPriorityClass(quint32 ProcessID, quint32 PriorityClass)
{
    return SetPriorityClass(platform::ProcessHandle::open(ProcessID), PriorityClass);
}

bool TProcessHelper::EndAll(const std::vector<const platform::ProcessHandle *> &Processes, int GraceMs)
{
    for (const platform::ProcessHandle *process : Processes)
        process->requestEnd();
    const double deadline = platform::monotonicTime100ns() + double(GraceMs) * 1e4;
    bool all = true;
    for (const platform::ProcessHandle *process : Processes) {
        const int left = int(std::max(0.0, (deadline - platform::monotonicTime100ns()) / 1e4));
        if (process->waitForExit(left))
            continue;
        // Still running after the grace time: ended the hard way, and briefly waited for.
        if (process->kill() != 0 || !process->waitForExit(1000))
            all = false;
    }
    return all;
}

// ---- TProcesses ----

TProcesses::TProcesses()
    : m_viewer(procmon::ProcessViewer::Current())
{
    // Every item keeps three descriptors open.
    platform::raiseDescriptorLimit();
    m_processorCount = platform::onlineProcessorCount();
    m_images << QLatin1String(platform::kGenericExecutableIcon);
    m_imageIndex.insert(m_images.first(), 0);
}

TProcesses::~TProcesses()
{
    m_busy = false;
    Clear();
}

TProcessItem *TProcesses::Items(int Index) const
{
    if (Index < 0 || size_t(Index) >= m_items.size())
        return nullptr;
    return m_items[size_t(Index)].get();
}

TProcessItem *TProcesses::ItemByID(quint32 ProcessID) const
{
    char buffer[16];
    return m_table.value(keyView(ProcessID, buffer), nullptr);
}

void TProcesses::Clear()
{
    if (m_busy) {
        // Items are in use by the running pass; it clears when it ends.
        m_clearPending = true;
        return;
    }
    m_table.clear();
    m_items.clear();
}

int TProcesses::IconIndex(const QString &Icon)
{
    const auto it = m_imageIndex.constFind(Icon);
    if (it != m_imageIndex.constEnd())
        return *it;
    m_images << Icon;
    m_imageIndex.insert(Icon, int(m_images.size() - 1));
    return int(m_images.size() - 1);
}

bool TProcesses::ReadIdleTime(double *Idle)
{
    platform::CpuTimes all;
    if (!platform::readSystemStat("/proc/stat", &all, nullptr))
        return false;
    *Idle = ticksTo100ns(all.idleAll());
    return true;
}

bool TProcesses::Refresh()
{
    if (m_busy)
        return false;
    m_busy = true;
    struct Release
    {
        TProcesses *self;
        ~Release()
        {
            self->m_busy = false;
            if (self->m_clearPending) {
                self->m_clearPending = false;
                self->Clear();
            }
        }
    };
    bool ok = false;
    {
        Release release {this};
        ok = EnumerationPass();
    }
    if (!ok)
        return false;
    m_firstLoad = false;
    return true;
}

void TProcesses::SafeRefresh()
{
    try {
        Refresh();
    } catch (...) { }
}

void TProcesses::RemoveAt(size_t Index)
{
    char buffer[16];
    m_table.remove(keyView(m_items[Index]->ProcessID, buffer));
    m_items.erase(m_items.begin() + std::ptrdiff_t(Index));
}

void TProcesses::RemoveExited()
{
    std::vector<const platform::ProcessHandle *> handles;
    handles.reserve(m_items.size());
    for (const auto &item : m_items)
        handles.push_back(&item->Handle);
    std::unique_ptr<bool[]> exited(new bool[handles.size() + 1]);
    platform::ProcessHandle::checkExited(handles.data(), handles.size(), exited.get());
    for (size_t i = m_items.size(); i-- > 0;) {
        if (i >= handles.size() || !exited[i])
            continue;
        const quint32 pid = m_items[i]->ProcessID;
        if (pid == 0) // the idle entry stands for no process
            continue;
        if (OnProcessRemoved)
            OnProcessRemoved(this, pid);
        RemoveAt(i);
    }
}

TProcessItem *TProcesses::CreateItem(quint32 ProcessID, platform::ProcStat *Stat)
{
    auto item = std::make_unique<TProcessItem>(this);
    item->ProcessID = ProcessID;
    if (ProcessID == 0) {
        item->Name = QStringLiteral("System Idle Process");
        item->HasOwnerUid = true;
        item->OwnerUid = 0;
        item->User = QStringLiteral("root");
        item->Domain = platform::machineName();
        if (item->Domain.isEmpty())
            item->Domain = QStringLiteral("localhost");
    } else {
        item->Handle = platform::ProcessHandle::open(ProcessID);
        const bool read
            = item->Handle.isOpen() ? item->Handle.readStat(Stat) : platform::readProcStatOf(ProcessID, Stat);
        // Gone already, or ended and waiting for its parent: no process to list.
        if (!read || Stat->isDead())
            return nullptr;
        item->ParentProcessID = quint32(std::max<qint64>(Stat->ppid, 0));
        item->SessionID = quint32(std::max<qint64>(Stat->session, 0));
        item->KernelThread = Stat->isKernelThread();
        item->StartTicks = Stat->startTicks;
        if (item->Handle.isOpen()) {
            item->LookupOwner();
            item->LookupLoginSession();
            item->LookupImagePath();
            item->LookupCommandLine();
            item->Handle.readFlatpakAppId(&item->FlatpakId);
            item->LookupIcon();
        }
        item->TakeName(*Stat);
    }
    TProcessItem *raw = item.get();
    m_table.insert(QByteArray::number(ProcessID), raw);
    m_items.push_back(std::move(item));
    return raw;
}

bool TProcesses::EnumerationPass()
{
    if (!m_firstLoad)
        RemoveExited();
    if (!m_directory.list(&m_pids))
        return false;
    // The idle entry leads the list, as the system lists it.
    const size_t total = m_pids.size() + 1;
    for (size_t i = 0; i < total; ++i) {
        const quint32 pid = i == 0 ? 0 : m_pids[i - 1];
        TProcessItem *item = ItemByID(pid);
        platform::ProcStat stat;
        const platform::ProcStat *known = nullptr;
        if (!item) {
            item = CreateItem(pid, &stat);
            if (!item)
                continue;
            if (pid != 0)
                known = &stat;
            if (!m_firstLoad && OnProcessAdded) {
                OnProcessAdded(this, pid);
                if (m_clearPending)
                    return true;
            }
        }
        item->UpdateCpu(known);
        if (item->m_renamed) {
            item->ReloadAfterRename();
            if (m_clearPending)
                return true;
        }
        if (!m_firstLoad) {
            item->CompleteDetails();
            if (m_clearPending)
                return true;
        }
    }
    return true;
}
