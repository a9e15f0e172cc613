#include "platform/ProcFs.h"

#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

std::string statLine(const std::string &comm, const std::string &rest)
{
    return "4242 (" + comm + ") " + rest + "\n";
}

// Fields 3 to 52 of a real stat line: state S, ppid 77, session 88, flags 0x400040 (4194368),
// minflt 11, majflt 3, utime 150, stime 50, nice 5, starttime 123456, rss 321, policy 0.
const std::string kRest = "S 77 4242 88 0 -1 4194368 11 0 3 0 150 50 0 0 25 5 1 0 123456 9000000 321 "
                          "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0 0 0 0 0 0 0 0 0";

using testsupport::waitUntil;

// A child that names itself (as any process may) and then waits to be killed.
pid_t childNamed(const char *name)
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_NAME, name);
        while (true)
            pause();
    }
    return pid;
}

void endChild(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Ends a test's child however the test leaves its scope: a failed assertion
// must not leave a process behind that holds the test's output open.
struct EndsAtExit
{
    pid_t &pid;
    ~EndsAtExit()
    {
        if (pid > 0)
            endChild(pid);
    }
    void end()
    {
        endChild(pid);
        pid = -1;
    }
};

} // namespace

TEST(ProcFs, StatNamesCannotShiftTheFields)
{
    // Whatever a process calls itself, the fields after the last ')' stay where they are.
    const std::string names[]
        = {"sleep",     "a) b (c",        "x) R 1 1 1",     ")", "((", "line\nbreak", "\xff\xfe bytes", "",
           "tab\there", "kworker/0:1-ev", "15charsexactly!"};
    for (const std::string &name : names) {
        platform::ProcStat stat;
        ASSERT_TRUE(platform::parseProcStat(statLine(name, kRest), &stat)) << name;
        EXPECT_EQ(std::string(stat.comm, size_t(stat.commLength)), name);
        EXPECT_EQ(stat.state, 'S');
        EXPECT_EQ(stat.ppid, 77);
        EXPECT_EQ(stat.session, 88);
        EXPECT_EQ(stat.minorFaults, 11u);
        EXPECT_EQ(stat.majorFaults, 3u);
        EXPECT_EQ(stat.userTicks, 150u);
        EXPECT_EQ(stat.systemTicks, 50u);
        EXPECT_EQ(stat.nice, 5);
        EXPECT_EQ(stat.startTicks, 123456u);
        EXPECT_EQ(stat.rssPages, 321u);
        EXPECT_FALSE(stat.isKernelThread());
    }
    platform::ProcStat stat;
    // Broken lines: no parentheses, cut short, letters where numbers belong.
    for (const std::string &bad : {std::string("4242 sleep S 1"), statLine("x", "S 1 2 3"),
                                   statLine("x", "S one 2 3 0 -1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"),
                                   std::string("4242 (x"), std::string(")(")})
        EXPECT_FALSE(platform::parseProcStat(bad, &stat)) << bad;
    // A kernel thread's flag, and a huge number that saturates instead of wrapping.
    ASSERT_TRUE(platform::parseProcStat(
        statLine("kthreadd", "S 0 0 0 0 -1 2129984 0 0 0 0 99999999999999999999999 0 0 0 20 0 1 0 19 0 0"),
        &stat));
    EXPECT_TRUE(stat.isKernelThread());
    EXPECT_EQ(stat.userTicks, ~quint64(0));
}

TEST(ProcFs, StatusSystemStatAndMeminfo)
{
    platform::ProcStatus status;
    ASSERT_TRUE(platform::parseProcStatus("Name:\tx\nUid:\t1000\t1001\t1000\t1000\nVmHWM:\t  2048 kB\n"
                                          "VmRSS:\t  1024 kB\nVmSwap:\t 4 kB\n",
                                          &status));
    EXPECT_EQ(status.effectiveUid, 1001u);
    EXPECT_TRUE(status.hasMemory);
    EXPECT_EQ(status.rssBytes, 1024u * 1024u);
    EXPECT_EQ(status.peakRssBytes, 2048u * 1024u);
    EXPECT_EQ(status.swapBytes, 4096u);
    // A kernel thread: owner, no memory.
    ASSERT_TRUE(platform::parseProcStatus("Name:\tkthreadd\nUid:\t0\t0\t0\t0\n", &status));
    EXPECT_FALSE(status.hasMemory);
    EXPECT_FALSE(platform::parseProcStatus("Name:\tx\n", &status));

    platform::CpuTimes all;
    std::vector<platform::CpuTimes> cpus;
    ASSERT_TRUE(platform::parseSystemStat("cpu  10 1 20 300 5 1 2 3 0 0\ncpu0 5 0 10 150 2 1 1 1 0 0\n"
                                          "cpu1 5 1 10 150 3 0 1 2 0 0\nintr 1 2 3\nctxt 99\n",
                                          &all, &cpus));
    EXPECT_EQ(all.total(), 10u + 1 + 20 + 300 + 5 + 1 + 2 + 3);
    EXPECT_EQ(all.idleAll(), 305u);
    ASSERT_EQ(cpus.size(), 2u);
    EXPECT_EQ(cpus[1].steal, 2u);
    EXPECT_FALSE(platform::parseSystemStat("intr 1\n", &all, &cpus));

    quint64 total = 0, available = 0;
    ASSERT_TRUE(platform::parseMeminfo("MemTotal:  1000 kB\nMemFree: 1 kB\nMemAvailable:   250 kB\n", &total,
                                       &available));
    EXPECT_EQ(total, 1024000u);
    EXPECT_EQ(available, 256000u);
    EXPECT_FALSE(platform::parseMeminfo("MemTotal:  1000 kB\n", &total, &available));
}

TEST(ProcFs, CommandLineText)
{
    using namespace std::string_literals;
    EXPECT_EQ(platform::commandLineText("sleep\0"s
                                        "100\0"s),
              "sleep 100");
    // Blanks and quotes inside a word, an empty word; trailing NULs are padding.
    EXPECT_EQ(platform::commandLineText("/opt/my app/run\0"s
                                        "\0"s
                                        "--name=\"x\"\0\0\0"s),
              "\"/opt/my app/run\" \"\" \"--name=\\\"x\\\"\"");
    // A process that rewrote its arguments into one line keeps it.
    EXPECT_EQ(platform::commandLineText("postgres: writer process   "), "postgres: writer process   ");
    EXPECT_EQ(platform::commandLineText(""), "");
    EXPECT_EQ(platform::processText("\xff"), QString(QChar(0xFFFD)));
}

TEST(ProcFs, HandleReadsSelfNamedProcesses)
{
    // Copy sleep under a name full of parentheses and run it; and children that rename themselves.
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("a) b (c"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), exe));
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray exeBytes = QFile::encodeName(exe);
    char *argv[] = {const_cast<char *>(exeBytes.constData()), const_cast<char *>("300"), nullptr};
    pid_t copied = -1;
    EndsAtExit endCopied {copied};
    ASSERT_EQ(posix_spawn(&copied, exeBytes.constData(), nullptr, nullptr, argv, environ), 0);

    pid_t renamed = childNamed("x\n) R 1 (\xff");
    EndsAtExit endRenamed {renamed};
    struct Expect
    {
        pid_t pid;
        std::string comm;
    };
    for (const Expect &e : {Expect {copied, "a) b (c"}, Expect {renamed, "x\n) R 1 (\xff"}}) {
        const platform::ProcessHandle handle = platform::ProcessHandle::open(quint32(e.pid));
        ASSERT_TRUE(handle.isOpen());
        platform::ProcStat stat;
        ASSERT_TRUE(waitUntil([&] {
            return handle.readStat(&stat) && std::string(stat.comm, size_t(stat.commLength)) == e.comm;
        })) << e.comm;
        EXPECT_EQ(stat.ppid, getpid());
        EXPECT_FALSE(handle.hasExited());
    }
    const platform::ProcessHandle handle = platform::ProcessHandle::open(quint32(copied));
    QString path, line;
    ASSERT_TRUE(waitUntil([&] { return handle.readImagePath(&path) && path == exe; }));
    QStringList words;
    // The new program's image can be seen a moment before its arguments are laid out.
    ASSERT_TRUE(waitUntil([&] { return handle.readCommandLine(&line, &words) && words.size() == 2; }));
    EXPECT_EQ(line, QStringLiteral("\"%1\" 300").arg(exe));
    EXPECT_EQ(words, (QStringList {exe, QStringLiteral("300")}));

    // Unlinked while running: the kernel's mark is not part of the path.
    ASSERT_TRUE(QFile::remove(exe));
    ASSERT_TRUE(handle.readImagePath(&path));
    EXPECT_EQ(path, exe);

    endCopied.end();
    endRenamed.end();
    EXPECT_TRUE(handle.hasExited());
    platform::ProcStat stat;
    EXPECT_FALSE(handle.readStat(&stat));
}

TEST(ProcFs, AFileReallyNamedDeletedKeepsItsName)
{
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("tool (deleted)"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), exe));
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray exeBytes = QFile::encodeName(exe);
    char *argv[] = {const_cast<char *>(exeBytes.constData()), const_cast<char *>("300"), nullptr};
    pid_t pid = -1;
    EndsAtExit endPid {pid};
    ASSERT_EQ(posix_spawn(&pid, exeBytes.constData(), nullptr, nullptr, argv, environ), 0);
    const platform::ProcessHandle handle = platform::ProcessHandle::open(quint32(pid));
    QString path;
    ASSERT_TRUE(waitUntil([&] { return handle.readImagePath(&path) && path.startsWith(dir.path()); }));
    EXPECT_EQ(path, exe);
}

TEST(ProcFs, DirectoryListsProcesses)
{
    platform::ProcessDirectory dir;
    std::vector<quint32> pids;
    ASSERT_TRUE(dir.list(&pids));
    EXPECT_NE(std::find(pids.begin(), pids.end(), quint32(getpid())), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), 1u), pids.end());
    // Listing again from the same descriptor starts over.
    std::vector<quint32> again;
    ASSERT_TRUE(dir.list(&again));
    EXPECT_NE(std::find(again.begin(), again.end(), quint32(getpid())), again.end());
    platform::ProcessDirectory missing("/nonexistent");
    EXPECT_FALSE(missing.list(&pids));
}

TEST(ProcFs, ChildrenAreFoundOnlyWhereTheProcessesCanBeListed)
{
    char *argv[] = {const_cast<char *>("/bin/sh"), const_cast<char *>("-c"),
                    const_cast<char *>("sleep 300 & wait"), nullptr};
    pid_t shell = -1;
    EndsAtExit endShell {shell};
    ASSERT_EQ(posix_spawn(&shell, "/bin/sh", nullptr, nullptr, argv, environ), 0);
    const platform::ProcessHandle handle = platform::ProcessHandle::open(quint32(shell));
    ASSERT_TRUE(handle.isOpen());
    std::vector<platform::ProcessHandle> children;
    ASSERT_TRUE(waitUntil([&] { return handle.openChildren(&children) && children.size() == 1; }));
    const quint32 sleeper = children.front().pid();

    // Without a list nobody can tell the children: that is a failure, not "no children".
    EXPECT_FALSE(handle.openChildren(&children, "/nonexistent"));
    EXPECT_TRUE(children.empty());
    QTemporaryDir empty;
    EXPECT_FALSE(handle.openChildren(&children, QFile::encodeName(empty.path()).constData()));

    ASSERT_EQ(::kill(pid_t(sleeper), SIGKILL), 0);
    endShell.end();
    EXPECT_FALSE(handle.openChildren(&children)) << "an ended process has no children to find";
}
