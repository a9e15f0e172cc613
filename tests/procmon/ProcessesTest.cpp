#include "procmon/Processes.h"

#include "procmon/ProcessTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/sched.h>
#include <map>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>

using proctest::Child;
using testsupport::waitUntil;

namespace {

struct Event
{
    char kind; // 'a'dded, 'r'eloaded, 'x' removed
    quint32 pid;
};

// Records every event; for added ones also what the item looked like then.
struct Recorder
{
    std::vector<Event> events;
    std::vector<std::pair<quint32, double>> addedSampleTimes; // PrevSampleTime when announced

    explicit Recorder(TProcesses &procs)
    {
        procs.OnProcessAdded = [this](TProcesses *sender, quint32 pid) {
            events.push_back({'a', pid});
            const TProcessItem *item = sender->ItemByID(pid);
            addedSampleTimes.emplace_back(pid, item ? item->PrevSampleTime : -1.0);
        };
        procs.OnProcessReloaded = [this](TProcesses *, quint32 pid) { events.push_back({'r', pid}); };
        procs.OnProcessRemoved = [this](TProcesses *, quint32 pid) { events.push_back({'x', pid}); };
    }
    int count(char kind, quint32 pid) const
    {
        return int(std::count_if(events.begin(), events.end(),
                                 [&](const Event &e) { return e.kind == kind && e.pid == pid; }));
    }
};

int indexOf(const TProcesses &procs, quint32 pid)
{
    for (int i = 0; i < procs.Count(); ++i)
        if (procs.Items(i)->ProcessID == pid)
            return i;
    return -1;
}

const std::string kSleep = QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath().toStdString();

// A child running argv with its input on a pipe the test holds: a shell in it
// waits at "read" until the test writes a line.
struct GatedChild
{
    pid_t pid = -1;
    int gate = -1;
    explicit GatedChild(const std::vector<std::string> &args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[0], 0);
            close(fds[0]);
            close(fds[1]);
            std::vector<char *> argv;
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[0]);
        gate = fds[1];
    }
    bool open() { return pid > 0 && write(gate, "\n", 1) == 1; }
    ~GatedChild()
    {
        if (gate >= 0)
            close(gate);
        proctest::endProcess(pid);
    }
};

bool commandLineIs(pid_t pid, const QByteArray &expected)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return f.open(QIODevice::ReadOnly) && f.readAll() == expected;
}

} // namespace

TEST(Processes, FirstRefreshIsSilentThenChangesAreAnnouncedInOrder)
{
    TProcesses procs;
    Recorder rec(procs);
    Child early({kSleep, "300"});
    ASSERT_TRUE(procs.Refresh());
    EXPECT_TRUE(rec.events.empty());
    EXPECT_FALSE(procs.IsFirstLoad());

    const TProcessItem *idle = procs.ItemByID(0);
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(procs.Items(0), idle);
    EXPECT_EQ(idle->Name, "System Idle Process");
    EXPECT_EQ(idle->User, "root");
    EXPECT_EQ(idle->SmallIconIndex, -1);
    EXPECT_TRUE(idle->ImagePath.isEmpty());
    ASSERT_NE(procs.ItemByID(quint32(getpid())), nullptr);
    ASSERT_NE(procs.ItemByID(quint32(early.pid)), nullptr);
    EXPECT_EQ(procs.ItemByID(quint32(early.pid))->Name, "sleep");
    EXPECT_EQ(procs.Items(-1), nullptr);
    EXPECT_EQ(procs.Items(procs.Count()), nullptr);

    // A new process: announced once, before its first CPU sample, and appended.
    Child late({kSleep, "300"});
    ASSERT_TRUE(procs.Refresh());
    EXPECT_EQ(rec.count('a', quint32(late.pid)), 1);
    const auto sample = std::find_if(rec.addedSampleTimes.begin(), rec.addedSampleTimes.end(),
                                     [&](const auto &s) { return s.first == quint32(late.pid); });
    ASSERT_NE(sample, rec.addedSampleTimes.end());
    EXPECT_EQ(sample->second, 0.0);
    TProcessItem *item = procs.ItemByID(quint32(late.pid));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->CPUUsage, 0u);
    EXPECT_GT(indexOf(procs, quint32(late.pid)), indexOf(procs, quint32(early.pid)));
    EXPECT_EQ(item->ImagePath.toStdString(), kSleep);
    EXPECT_EQ(item->CommandLine.toStdString(), kSleep + " 300");
    EXPECT_EQ(item->ParentProcessID, quint32(getpid()));
    EXPECT_EQ(item->User, "root");
    EXPECT_FALSE(item->Domain.isEmpty());
    EXPECT_GE(item->SmallIconIndex, 0);
    EXPECT_TRUE(item->RefreshMemory());
    EXPECT_GT(item->Memory.WorkingSetSize, 0u);

    // An ended process: removed at the next refresh, before anything of that refresh is added.
    proctest::endProcess(early.pid);
    const quint32 ended = quint32(std::exchange(early.pid, -1));
    Child another({kSleep, "300"});
    rec.events.clear();
    ASSERT_TRUE(procs.Refresh());
    EXPECT_EQ(rec.count('x', ended), 1);
    EXPECT_EQ(procs.ItemByID(ended), nullptr);
    bool seenAdded = false;
    for (const Event &e : rec.events) {
        if (e.kind == 'a')
            seenAdded = true;
        if (e.kind == 'x') {
            EXPECT_FALSE(seenAdded) << "removed event after an added one";
        }
    }
    EXPECT_EQ(rec.count('a', quint32(another.pid)), 1);

    // Complete details announce nothing more; the idle entry and init are never removed.
    rec.events.clear();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(procs.Refresh());
    EXPECT_EQ(rec.count('r', quint32(late.pid)), 0);
    EXPECT_TRUE(procs.ItemByID(quint32(late.pid))->DetailsComplete);
    EXPECT_NE(procs.ItemByID(0), nullptr);
    EXPECT_NE(procs.ItemByID(1), nullptr);
}

TEST(Processes, HandlersCannotReenterOrPullItemsAway)
{
    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    bool nested = true;
    procs.OnProcessAdded = [&](TProcesses *sender, quint32) {
        nested = sender->Refresh();
        sender->Clear();
    };
    Child child({kSleep, "300"});
    ASSERT_TRUE(procs.Refresh());
    EXPECT_FALSE(nested);
    EXPECT_EQ(procs.Count(), 0);
    procs.OnProcessAdded = nullptr;
    ASSERT_TRUE(procs.Refresh());
    EXPECT_NE(procs.ItemByID(quint32(child.pid)), nullptr);
}

TEST(Processes, SelfChosenNamesAreKeptWhole)
{
    QTemporaryDir dir;
    const QString odd = dir.filePath(QStringLiteral("a) b (c"));
    const QString longName = dir.filePath(QStringLiteral("averyveryverylongname-tool"));
    for (const QString &exe : {odd, longName}) {
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), exe));
        QFile::setPermissions(exe, QFile::ReadOwner | QFile::ExeOwner);
    }
    Child oddChild({QFile::encodeName(odd).toStdString(), "300"});
    Child longChild({QFile::encodeName(longName).toStdString(), "300"});
    Child renamed({"/bin/true"});
    proctest::endProcess(renamed.pid);
    renamed.pid = fork();
    if (renamed.pid == 0) {
        prctl(PR_SET_NAME, "x\n) R 1 (\xff");
        while (true)
            pause();
    }
    ASSERT_TRUE(waitUntil([&] {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/comm", renamed.pid);
        QFile f(QString::fromLatin1(path));
        return f.open(QIODevice::ReadOnly) && f.readAll().startsWith("x\n)");
    }));

    TProcesses procs;
    ASSERT_TRUE(waitUntil([&] {
        procs.Refresh();
        const TProcessItem *a = procs.ItemByID(quint32(oddChild.pid));
        return a && a->ImagePath == odd;
    }));
    const TProcessItem *a = procs.ItemByID(quint32(oddChild.pid));
    EXPECT_EQ(a->Name, "a) b (c");
    EXPECT_EQ(a->ParentProcessID, quint32(getpid()));
    const TProcessItem *l = procs.ItemByID(quint32(longChild.pid));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->Name, "averyveryverylongname-tool");
    const TProcessItem *r = procs.ItemByID(quint32(renamed.pid));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Name, QStringLiteral("x\n) R 1 (") + QChar(0xFFFD));
    EXPECT_EQ(r->ParentProcessID, quint32(getpid()));
    EXPECT_EQ(r->SessionID, quint32(getsid(0)));
}

TEST(Processes, AProcessThatStartsAnotherProgramIsDescribedAgain)
{
    // A child seen between fork and exec, then running another program under the same number.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(gate[1]);
        char go = 0;
        if (read(gate[0], &go, 1) == 1)
            execl(kSleep.c_str(), "sleep", "300", nullptr);
        _exit(127);
    }
    close(gate[0]);
    Child guard({"/bin/true"});
    proctest::endProcess(guard.pid);
    guard.pid = pid;

    TProcesses procs;
    Recorder rec(procs);
    ASSERT_TRUE(procs.Refresh());
    ASSERT_TRUE(procs.Refresh());
    const TProcessItem *item = procs.ItemByID(quint32(pid));
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item->Name, "sleep");
    ASSERT_EQ(write(gate[1], "x", 1), 1);
    close(gate[1]);
    // The new image shows in /proc before its arguments do: wait for both.
    ASSERT_TRUE(waitUntil([&] {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return proctest::runs(pid, kSleep) && cmdline.open(QIODevice::ReadOnly)
            && !cmdline.readAll().isEmpty();
    }));
    rec.events.clear();
    ASSERT_TRUE(procs.Refresh());
    EXPECT_EQ(rec.count('r', quint32(pid)), 1);
    EXPECT_EQ(rec.count('a', quint32(pid)), 0);
    EXPECT_EQ(procs.ItemByID(quint32(pid)), item);
    EXPECT_EQ(item->Name, "sleep");
    EXPECT_EQ(item->ImagePath.toStdString(), kSleep);
    EXPECT_EQ(item->CommandLine, "sleep 300");

    // A process that renames itself is shown by its new name.
    rec.events.clear();
    const pid_t renamer = fork();
    if (renamer == 0) {
        usleep(300000);
        prctl(PR_SET_NAME, "renamed");
        while (true)
            pause();
    }
    Child renamerGuard({"/bin/true"});
    proctest::endProcess(renamerGuard.pid);
    renamerGuard.pid = renamer;
    ASSERT_TRUE(procs.Refresh());
    ASSERT_TRUE(waitUntil([&] {
        procs.Refresh();
        const TProcessItem *r = procs.ItemByID(quint32(renamer));
        return r && r->Name == "renamed";
    }));
}

TEST(Processes, AnExecOfAProgramWithTheSameNameIsDescribedAgain)
{
    // A shell copied under the name "sleep" that, once let go, runs the real sleep.
    QTemporaryDir dir;
    const QString fake = dir.filePath(QStringLiteral("sleep"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sh"), fake));
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner);
    const std::string fakePath = QFile::encodeName(fake).toStdString();
    GatedChild child({fakePath, "-c", "read x; exec " + kSleep + " 300"});
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(waitUntil([&] { return proctest::runs(child.pid, fakePath); }));

    TProcesses procs;
    Recorder rec(procs);
    ASSERT_TRUE(waitUntil([&] {
        procs.Refresh();
        const TProcessItem *item = procs.ItemByID(quint32(child.pid));
        return item && item->ImagePath == fake && !item->CommandLine.isEmpty();
    }));
    const TProcessItem *item = procs.ItemByID(quint32(child.pid));
    EXPECT_EQ(item->Name, "sleep");

    ASSERT_TRUE(child.open());
    ASSERT_TRUE(waitUntil([&] {
        return proctest::runs(child.pid, kSleep)
            && commandLineIs(child.pid, QByteArray::fromStdString(kSleep) + '\0' + "300" + '\0');
    }));
    rec.events.clear();
    ASSERT_TRUE(procs.Refresh());
    EXPECT_EQ(rec.count('r', quint32(child.pid)), 1);
    EXPECT_EQ(procs.ItemByID(quint32(child.pid)), item);
    EXPECT_EQ(item->Name, "sleep");
    EXPECT_EQ(item->ImagePath.toStdString(), kSleep);
    EXPECT_EQ(item->CommandLine.toStdString(), kSleep + " 300");
}

TEST(Processes, AScriptKeepsItsWholeNameThoughTheKernelCutIt)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("my-script-applet"));
    // The kernel names the process after the script (cut to 15 bytes); the
    // file it runs is the interpreter, given an option or not.
    for (const char *interpreter : {"#!/bin/sh\n", "#!/bin/sh -e\n"}) {
        SCOPED_TRACE(interpreter);
        QFile::remove(script);
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(interpreter) + "read x\n");
        f.close();
        QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
        GatedChild child({QFile::encodeName(script).toStdString()});
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(waitUntil([&] {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(child.pid));
            return cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("my-script-applet");
        }));
        TProcesses procs;
        ASSERT_TRUE(procs.Refresh());
        const TProcessItem *item = procs.ItemByID(quint32(child.pid));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Name, "my-script-applet");
        // The script is what runs for the user; the interpreter is kept beside it.
        EXPECT_EQ(item->ImagePath, script);
        EXPECT_EQ(QFileInfo(item->InterpreterPath).fileName(),
                  QFileInfo(QStringLiteral("/bin/sh")).canonicalFilePath().section(u'/', -1));
    }
}

// A script read through a descriptor has no file of its own: "/dev/fd/9" would
// name the viewer's descriptor, not the script, so the interpreter stays.
TEST(Processes, AScriptGivenThroughADescriptorKeepsTheInterpreter)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("loop.sh"));
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("while :; do sleep 1; done\n");
    f.close();
    // The viewer's own descriptor 9 is a regular file, as it may well be.
    QFile own(script);
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    ASSERT_EQ(::dup2(own.handle(), 9), 9);
    struct CloseNine
    {
        ~CloseNine() { ::close(9); }
    } closeNine;
    Child child(
        {"/bin/sh", "-c", "exec 9<\"$0\"; exec /bin/sh /dev/fd/9", QFile::encodeName(script).toStdString()});
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(waitUntil([&] { return commandLineIs(child.pid, QByteArray("/bin/sh\0/dev/fd/9\0", 18)); }));
    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    const TProcessItem *item = procs.ItemByID(quint32(child.pid));
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->ImagePath.startsWith(QLatin1String("/dev/"))) << item->ImagePath.toStdString();
    EXPECT_TRUE(item->InterpreterPath.isEmpty());
}

TEST(Processes, TerminateTreeEndsNothingWithoutTheProcessList)
{
    Child parent({"/bin/sh", "-c", "sleep 300 & wait"});
    ASSERT_TRUE(waitUntil([&] { return !proctest::childrenOf(parent.pid).empty(); }));
    const pid_t child = proctest::childrenOf(parent.pid).front();
    const platform::ProcessHandle handle = platform::ProcessHandle::open(quint32(parent.pid));
    ASSERT_TRUE(handle.isOpen());
    EXPECT_FALSE(TProcessHelper::TerminateTree(handle, "/nonexistent"));
    EXPECT_TRUE(proctest::isRunning(parent.pid));
    EXPECT_TRUE(proctest::isRunning(child));
    // With the list, the same call ends both.
    EXPECT_TRUE(TProcessHelper::TerminateTree(handle));
    EXPECT_TRUE(waitUntil([&] { return !proctest::isRunning(parent.pid) && !proctest::isRunning(child); }));
}

TEST(Processes, TerminateTreeEndsParentAndChildrenAndLeavesGrandchildren)
{
    // Orphans come to this process, so the grandchild can be checked and collected.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    Child parent({"/bin/sh", "-c", "sh -c 'sleep 300 & wait' & wait"});
    pid_t child = -1, grandchild = -1;
    ASSERT_TRUE(waitUntil([&] {
        const auto children = proctest::childrenOf(parent.pid);
        if (children.empty())
            return false;
        child = children.front();
        const auto grand = proctest::childrenOf(child);
        if (grand.empty())
            return false;
        grandchild = grand.front();
        return true;
    }));

    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    const TProcessItem *item = procs.ItemByID(quint32(parent.pid));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->TerminateTree());
    EXPECT_TRUE(waitUntil([&] { return !proctest::isRunning(parent.pid) && !proctest::isRunning(child); }));
    EXPECT_TRUE(proctest::isRunning(grandchild));
    proctest::endProcess(grandchild);
    waitpid(child, nullptr, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);

    // A single process, and the number form that opens its own handle.
    Child one({kSleep, "300"});
    Child two({kSleep, "300"});
    ASSERT_TRUE(procs.Refresh());
    EXPECT_TRUE(procs.ItemByID(quint32(one.pid))->Terminate());
    EXPECT_TRUE(TProcessHelper::Terminate(quint32(two.pid)));
    EXPECT_TRUE(waitUntil([&] { return !proctest::isRunning(one.pid) && !proctest::isRunning(two.pid); }));
}

TEST(Processes, AReusedIdentifierIsNotTouched)
{
    TProcesses procs;
    Recorder rec(procs);
    Child first({kSleep, "300"});
    ASSERT_TRUE(procs.Refresh());
    const TProcessItem *item = procs.ItemByID(quint32(first.pid));
    ASSERT_NE(item, nullptr);
    const pid_t number = first.pid;
    proctest::endProcess(first.pid);
    first.pid = -1;

    // Another process under the same number (choosing a number needs privileges).
    clone_args args {};
    args.exit_signal = SIGCHLD;
    pid_t wanted[1] = {number};
    args.set_tid = reinterpret_cast<quint64>(wanted);
    args.set_tid_size = 1;
    const pid_t successor = pid_t(syscall(SYS_clone3, &args, sizeof args));
    if (successor == 0) {
        execl(kSleep.c_str(), "sleep", "300", nullptr);
        _exit(127);
    }
    if (successor < 0) {
        // Without the privilege the old item's handle still refers to the ended process only.
        EXPECT_FALSE(item->Terminate());
        EXPECT_FALSE(item->SetPriorityClass(ProcessPriority::Normal));
        GTEST_SKIP() << "cannot choose a process number here";
    }
    Child guard({"/bin/true"});
    proctest::endProcess(guard.pid);
    guard.pid = successor;
    ASSERT_EQ(successor, number);

    EXPECT_FALSE(item->Terminate());
    EXPECT_FALSE(item->TerminateTree());
    EXPECT_FALSE(item->SetPriorityClass(ProcessPriority::Idle));
    EXPECT_EQ(item->PriorityClass(), 0u);
    EXPECT_TRUE(proctest::isRunning(successor));
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(successor)), 0);

    // The next refresh replaces the old item by one for the new process.
    rec.events.clear();
    ASSERT_TRUE(procs.Refresh());
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.count('x', quint32(number)), 1);
    EXPECT_EQ(rec.count('a', quint32(number)), 1);
    item = procs.ItemByID(quint32(number));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->Terminate());
    EXPECT_TRUE(waitUntil([&] { return !proctest::isRunning(successor); }));
}

TEST(Processes, PriorityClassesMapToTheScheduler)
{
    Child child({kSleep, "300"});
    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    const TProcessItem *item = procs.ItemByID(quint32(child.pid));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->PriorityClass(), ProcessPriority::Normal);
    const quint32 lowering[] = {ProcessPriority::BelowNormal, ProcessPriority::Idle};
    for (quint32 cls : lowering) {
        EXPECT_TRUE(item->SetPriorityClass(cls));
        EXPECT_EQ(item->PriorityClass(), cls);
    }
    EXPECT_FALSE(item->SetPriorityClass(0x1234));
    if (geteuid() == 0) {
        for (quint32 cls : {ProcessPriority::High, ProcessPriority::AboveNormal, ProcessPriority::Realtime,
                            ProcessPriority::Normal}) {
            EXPECT_TRUE(item->SetPriorityClass(cls));
            EXPECT_EQ(item->PriorityClass(), cls);
        }
    }
    struct Case
    {
        int nice, policy;
        quint32 cls;
    };
    for (const Case &c : {Case {0, 0, ProcessPriority::Normal}, Case {-20, 0, ProcessPriority::High},
                          Case {-5, 0, ProcessPriority::AboveNormal},
                          Case {10, 0, ProcessPriority::BelowNormal}, Case {19, 0, ProcessPriority::Idle},
                          Case {0, 1, ProcessPriority::Realtime}, Case {0, 2, ProcessPriority::Realtime},
                          Case {0, 5, ProcessPriority::Idle}, Case {-5, 3, ProcessPriority::AboveNormal}})
        EXPECT_EQ(ProcessPriority::ClassOfScheduling(c.nice, c.policy), c.cls) << c.nice << " " << c.policy;
}

TEST(Processes, CpuShareFormula)
{
    struct Case
    {
        double delta, elapsed;
        bool idle;
        quint32 share;
    };
    const Case cases[] = {
        {100, 100, false, 100}, // a whole machine's worth shows 100
        {101, 100, false, 0}, // one more wraps to 0
        {5, 100, false, 5},     {101, 200, false, 50}, // 50.5: halves go to the even neighbour
        {103, 200, false, 52}, // 51.5
        {-5, 100, false, 5},    {202, 100, false, 0},
        {7, 0, false, 0}, // no time passed
        {98, 100, true, 98},    {99, 100, true, 99},
        {150, 100, true, 99}, // the idle entry never shows more than 99
        {-1, 100, true, 99},
    };
    for (const Case &c : cases)
        EXPECT_EQ(procmon::CpuShare(c.delta, c.elapsed, c.idle), c.share) << c.delta << "/" << c.elapsed;
}

TEST(Processes, BusyProcessShowsItsShare)
{
    Child busy({"/bin/sh", "-c", "while :; do :; done"});
    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    quint32 idleMax = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            procs.Refresh();
            idleMax = std::max(idleMax, procs.ItemByID(0)->CPUUsage);
            const TProcessItem *item = procs.ItemByID(quint32(busy.pid));
            return item && item->CPUUsage > 0;
        },
        20000));
    EXPECT_LE(idleMax, 99u);
}

TEST(Processes, Classification)
{
    TProcesses procs;
    ASSERT_TRUE(procs.Refresh());
    for (quint32 pid : {0u, 1u})
        EXPECT_TRUE(procs.ItemByID(pid)->IsCritical()) << pid;
    // A kernel thread cannot be ended: critical, and never "terminated" in vain.
    const TProcessItem *kernel = nullptr;
    for (int i = 0; i < procs.Count() && !kernel; ++i)
        if (procs.Items(i)->KernelThread && procs.Items(i)->ProcessID > 2)
            kernel = procs.Items(i);
    if (kernel) {
        EXPECT_TRUE(kernel->IsCritical());
        EXPECT_TRUE(kernel->IsSystem());
        EXPECT_TRUE(kernel->ImagePath.isEmpty());
        EXPECT_FALSE(kernel->Terminate());
    }

    TProcessItem item(&procs);
    item.ProcessID = 4321;
    item.SessionID = procs.Viewer().Session + 1; // not of this test's login
    item.HasOwnerUid = true;
    item.OwnerUid = 1000;
    EXPECT_FALSE(item.IsCritical());
    EXPECT_FALSE(item.IsSystem());
    item.ImagePath = QStringLiteral("/usr/bin/gnome-shell");
    EXPECT_FALSE(item.IsCritical());
    EXPECT_TRUE(item.IsSystem());
    for (const QString &path : procmon::CriticalImagePaths()) {
        item.ImagePath = path;
        EXPECT_TRUE(item.IsCritical()) << path.toStdString();
    }
    item.ImagePath = QStringLiteral("/USR/BIN/DBUS-DAEMON");
    EXPECT_FALSE(item.IsCritical());
    item.ImagePath.clear();
    item.OwnerUid = 0;
    EXPECT_TRUE(item.IsSystem());
    EXPECT_FALSE(item.IsCritical());
}

TEST(Processes, SystemAccountsByViewer)
{
    TProcesses procs;
    // A viewer in session 500 with login uid 1000 (root through sudo, say).
    auto viewer = [](quint32 uid) {
        procmon::ProcessViewer v;
        v.Uid = uid;
        v.UidMin = 1000;
        v.NobodyUid = 65534;
        v.ProcessID = 777;
        v.Session = 500;
        v.HasSession = true;
        v.LoginUid = 1000;
        v.AuditSession = 3;
        return v;
    };
    struct Case
    {
        const char *what;
        quint32 viewerUid;
        quint32 ownerUid;
        quint32 session, loginUid, auditSession;
        bool system;
    };
    constexpr quint32 kNone = platform::kNoLoginSession;
    const Case cases[] = {
        {"normal user: root's daemon", 1000, 0, 1, kNone, kNone, true},
        {"normal user: root's program of the user's own login", 1000, 0, 500, 1000, 3, true},
        {"normal user: a system account's daemon", 1000, 997, 9, kNone, kNone, true},
        {"normal user: below a raised UID_MIN's default", 1000, 999, 9, kNone, kNone, true},
        {"normal user: nobody", 1000, 65534, 9, kNone, kNone, true},
        {"normal user: its own program", 1000, 1000, 500, 1000, 3, false},
        {"normal user: another user's program", 1000, 1001, 9, 1001, 8, false},
        {"root: a daemon", 0, 0, 1, kNone, kNone, true},
        {"root: the same kernel session", 0, 0, 500, kNone, kNone, false},
        {"root: the same login uid", 0, 0, 600, 1000, 9, false},
        {"root: the same audit session", 0, 0, 600, 4, 3, false},
        {"root: a system account's daemon", 0, 997, 500, 1000, 3, true},
        {"root: the user's program", 0, 1000, 500, 1000, 3, false},
        {"system account: its own login", 997, 997, 500, kNone, kNone, false},
        {"system account: its own daemon", 997, 997, 2, kNone, kNone, true},
        {"system account: root's", 997, 0, 500, 1000, 3, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        procs.SetViewer(viewer(c.viewerUid));
        TProcessItem item(&procs);
        item.ProcessID = 4321;
        item.HasOwnerUid = true;
        item.OwnerUid = c.ownerUid;
        item.SessionID = c.session;
        item.LoginUid = c.loginUid;
        item.AuditSession = c.auditSession;
        EXPECT_EQ(item.IsSystem(), c.system);
        EXPECT_FALSE(item.IsCritical());
    }
    // Under a container's init nobody began a session: session 0 is the viewer's own then,
    // and a viewer whose session could not be read has none.
    for (const bool known : {true, false}) {
        procmon::ProcessViewer v = viewer(997);
        v.Session = 0;
        v.HasSession = known;
        v.LoginUid = v.AuditSession = kNone;
        procs.SetViewer(v);
        TProcessItem item(&procs);
        item.ProcessID = 4321;
        item.HasOwnerUid = true;
        item.OwnerUid = 997;
        item.SessionID = 0;
        EXPECT_EQ(item.IsSystem(), !known);
        item.SessionID = 2;
        EXPECT_TRUE(item.IsSystem());
    }
    // The program's own process is never hidden from itself, whoever it runs as.
    procs.SetViewer(viewer(0));
    TProcessItem self(&procs);
    self.ProcessID = 777;
    self.HasOwnerUid = true;
    self.OwnerUid = 0;
    EXPECT_FALSE(self.IsSystem());
    EXPECT_TRUE(self.IsOwnProgram());
}

TEST(Processes, LoginDefinitionsAndSandboxInfo)
{
    struct UidCase
    {
        const char *text;
        quint32 expected;
    };
    const UidCase uids[] = {
        {"UID_MIN\t\t\t 1000\nUID_MAX 60000\n", 1000},
        {"# UID_MIN 5\nUID_MIN   500\n", 500},
        {"  UID_MIN 2000\r\n", 2000},
        {"UID_MINIMUM 5\n", 1000},
        {"UID_MIN -5\n", 1000},
        {"UID_MIN 0x10\n", 1000},
        {"UID_MIN\n", 1000},
        {"", 1000},
    };
    for (const UidCase &c : uids)
        EXPECT_EQ(platform::parseLoginDefsUidMin(c.text), c.expected) << c.text;

    struct IdCase
    {
        const char *text;
        const char *expected;
    };
    const IdCase ids[] = {
        {"[Application]\nname=org.example.Viewer\nruntime=x\n", "org.example.Viewer"},
        {"[Instance]\nname=wrong\n[Application]\n name = org.example.A \n", "org.example.A"},
        {"[Runtime]\nname=org.freedesktop.Platform\n", ""},
        {"[Application]\nname=../../etc/passwd\n", ""},
        {"[Application]\nname=\n", ""},
        {"[Application]\n[Application]\nname=x\n", ""},
    };
    for (const IdCase &c : ids)
        EXPECT_EQ(platform::parseFlatpakInfoAppId(c.text).toStdString(), c.expected) << c.text;
}

// Reads the process list in a child that gives up root and becomes uid;
// report() runs there and its text comes back.
std::string viewAs(uid_t uid, const std::function<std::string(TProcesses &)> &report)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "no pipe";
    const pid_t viewer = fork();
    if (viewer == 0) {
        close(fds[0]);
        std::string text = "could not become the viewer";
        if (setgroups(0, nullptr) == 0 && setgid(gid_t(uid)) == 0 && setuid(uid) == 0) {
            TProcesses procs;
            text = report(procs);
        }
        const ssize_t written = write(fds[1], text.data(), text.size());
        _exit(written == ssize_t(text.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    close(fds[0]);
    waitpid(viewer, nullptr, 0);
    return text;
}

TEST(Processes, OtherAccountsProcessesSeenWithoutRights)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs to start processes of other accounts and look at them as another user";
    // A scratch folder the viewers may look into: a program with a long name and a script.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile::setPermissions(dir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                              | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const QString longName = dir.filePath(QStringLiteral("orvane-long-running-helper"));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(kSleep), longName));
    QFile::setPermissions(longName, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    const QString script = dir.filePath(QStringLiteral("nightly-report-maker"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nread x\n"); // waits on the test's pipe, with no child of its own
    }
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ReadOther);

    const std::string sh = QFileInfo(QStringLiteral("/bin/sh")).canonicalFilePath().toStdString();
    // The targets: root's and a system account's programs, named in the ways that occur.
    Child rootAbsolute({kSleep, "301"});
    Child rootLong({longName.toStdString(), "302"});
    GatedChild rootScript({sh, script.toStdString(), "303"});
    Child daemon(997, {kSleep, "304"});
    Child bare({"/usr/bin/env", "sleep", "305"}); // env runs it as "sleep", found on PATH
    ASSERT_TRUE(waitUntil([&] {
        return commandLineIs(bare.pid,
                             QByteArray("sleep\0"
                                        "305\0",
                                        10));
    }));
    ASSERT_TRUE(waitUntil([&] { return proctest::runs(daemon.pid, kSleep); }));
    ASSERT_TRUE(waitUntil([&] { return proctest::runs(rootScript.pid, sh); }));

    struct Target
    {
        const char *what;
        pid_t pid;
        QString path;
        QString name;
    };
    const Target targets[] = {
        {"absolute argv[0]", rootAbsolute.pid, QString::fromStdString(kSleep), QStringLiteral("sleep")},
        {"a name over 15 bytes", rootLong.pid, longName, QStringLiteral("orvane-long-running-helper")},
        {"a script", rootScript.pid, script, QStringLiteral("nightly-report-maker")},
        {"a system account's daemon", daemon.pid, QString::fromStdString(kSleep), QStringLiteral("sleep")},
        {"bare argv[0]", bare.pid, QString::fromStdString(kSleep), QStringLiteral("sleep")},
    };
    struct Viewer
    {
        const char *what;
        uid_t uid;
    };
    for (const Viewer &v : {Viewer {"normal user", 1000}, Viewer {"system account", 65534}}) {
        SCOPED_TRACE(v.what);
        const std::string seen = viewAs(v.uid, [&](TProcesses &procs) {
            std::map<quint32, int> reloads;
            procs.OnProcessReloaded = [&](TProcesses *, quint32 pid) { ++reloads[pid]; };
            std::string out;
            procs.Refresh();
            for (int i = 0; i < 10; ++i)
                procs.Refresh();
            for (const Target &t : targets) {
                const TProcessItem *item = procs.ItemByID(quint32(t.pid));
                if (!item) {
                    out += std::string(t.what) + ": missing\n";
                    continue;
                }
                if (item->ImagePath != t.path)
                    out += std::string(t.what) + ": path " + item->ImagePath.toStdString() + "\n";
                if (item->Name != t.name)
                    out += std::string(t.what) + ": name " + item->Name.toStdString() + "\n";
                if (!item->IsSystem())
                    out += std::string(t.what) + ": not system\n";
                if (!item->DetailsComplete || reloads[quint32(t.pid)] > 1)
                    out += std::string(t.what) + ": reloaded " + std::to_string(reloads[quint32(t.pid)])
                        + "\n";
                if (item->Terminate() || item->SetPriorityClass(ProcessPriority::High))
                    out += std::string(t.what) + ": changed without rights\n";
            }
            // Its own program stays in view, whoever it runs as.
            const TProcessItem *self = procs.ItemByID(quint32(getpid()));
            if (!self || self->IsSystem())
                out += "own process hidden\n";
            return out;
        });
        EXPECT_EQ(seen, "");
    }
    for (pid_t pid : {rootAbsolute.pid, rootLong.pid, daemon.pid, bare.pid})
        EXPECT_TRUE(proctest::isRunning(pid));
}
