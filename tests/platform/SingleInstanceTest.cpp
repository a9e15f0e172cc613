#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using State = platform::SingleInstanceLock::State;

QString uniqueName(const char *what)
{
    return QStringLiteral("orvane-test-%1-%2").arg(QLatin1String(what)).arg(getpid());
}

// Reads lines from a helper until one matches or the time runs out; seen
// keeps everything read so far, so lines that came together are all found.
bool waitForLine(QProcess &p, QByteArray &seen, const QByteArray &line, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        seen += p.readAllStandardOutput();
        if (seen.split('\n').contains(line))
            return true;
        if (clock.elapsed() >= ms || (p.state() == QProcess::NotRunning && !p.bytesAvailable()))
            break;
        p.waitForReadyRead(100);
    }
    ADD_FAILURE() << "missing line '" << line.constData() << "' in: " << seen.constData();
    return false;
}

} // namespace

TEST(SingleInstance, SecondProcessHandsItsCodeToTheHolder)
{
    const QString name = uniqueName("handover");
    QProcess holder;
    holder.start(QStringLiteral(SINGLE_INSTANCE_HELPER),
                 {name, QStringLiteral("hold"), QStringLiteral("5000")});
    ASSERT_TRUE(holder.waitForStarted());
    QByteArray seen;
    ASSERT_TRUE(waitForLine(holder, seen, "ready"));

    // This process now plays the later start: the name is taken, the code goes over.
    platform::SingleInstanceLock lock(name);
    EXPECT_EQ(lock.acquire(), State::HeldElsewhere);
    EXPECT_FALSE(lock.isHeld());
    EXPECT_TRUE(platform::SingleInstanceLock::sendCode(name, 77938));
    EXPECT_TRUE(platform::SingleInstanceLock::sendCode(name, -5));
    EXPECT_TRUE(waitForLine(holder, seen, "code 77938"));
    EXPECT_TRUE(waitForLine(holder, seen, "code -5"));

    // The lock goes with its process, even one that is killed.
    holder.kill();
    holder.waitForFinished();
    EXPECT_EQ(lock.acquire(), State::Acquired);
    EXPECT_FALSE(platform::SingleInstanceLock::sendCode(uniqueName("nobody"), 1, 200));
}

TEST(SingleInstance, ExactlyOneOfSimultaneousStartsHoldsTheLock)
{
    const QString name = uniqueName("race");
    constexpr int kStarts = 4;
    QProcess starts[kStarts];
    for (QProcess &p : starts)
        p.start(QStringLiteral(SINGLE_INSTANCE_HELPER),
                {name, QStringLiteral("race"), QStringLiteral("1500")});
    int first = 0;
    int second = 0;
    for (QProcess &p : starts) {
        ASSERT_TRUE(p.waitForFinished(10000));
        const QByteArray out = p.readAllStandardOutput().trimmed();
        first += out == "first";
        second += out == "second";
    }
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, kStarts - 1);
}

TEST(SingleInstance, HolderIgnoresMalformedMessages)
{
    int argc = 1;
    char arg0[] = "test";
    char *argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    const QString name = uniqueName("malformed");
    platform::SingleInstanceLock lock(name);
    ASSERT_EQ(lock.acquire(), State::Acquired);
    QList<qint32> codes;
    lock.setMessageHandler([&codes](qint32 code) { codes << code; });

    // Raw clients: a wrong message, a short one, one that stays silent; then a real one.
    auto rawClient = [&name](const QByteArray &bytes) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray path = platform::SingleInstanceLock::socketPath(name);
        std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        if (!bytes.isEmpty()) {
            EXPECT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        }
        return fd;
    };
    ::close(rawClient("XXXXXXXX"));
    ::close(rawClient("OVPC\x01"));
    const int silent = rawClient({});
    EXPECT_TRUE(platform::SingleInstanceLock::sendCode(name, 42));
    QElapsedTimer clock;
    clock.start();
    while (codes.isEmpty() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // The bad clients came first; only the well-formed code arrives.
    EXPECT_EQ(codes, QList<qint32> {42});
    ::close(silent);
}

namespace {

constexpr uid_t kNobody = 65534;

// Runs fn in a child process as user nobody and returns its exit status.
int runAsNobody(const std::function<int()> &fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(99);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The lock's folders point into a scratch folder for the length of a test.
struct ScratchRuntime
{
    QTemporaryDir dir;
    QByteArray savedTmp = qgetenv("TMPDIR");
    QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    ScratchRuntime()
    {
        ::chmod(QFile::encodeName(dir.path()).constData(), 01777); // like /tmp
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        qunsetenv("XDG_RUNTIME_DIR");
    }
    ~ScratchRuntime()
    {
        qputenv("TMPDIR", savedTmp);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }
};

} // namespace

TEST(SingleInstance, AnotherUserCannotTakeTheNameOrItsFolder)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const QString name = uniqueName("foreign");

    {
        // Another user squats the folder before the program ever ran: the
        // program runs on without a lock instead of trusting that folder.
        ScratchRuntime scratch;
        const QByteArray own
            = QFile::encodeName(scratch.dir.path()) + "/orvane-" + QByteArray::number(::getuid());
        ASSERT_EQ(runAsNobody([&] { return ::mkdir(own.constData(), 0777) == 0 ? 0 : 1; }), 0);
        platform::SingleInstanceLock lock(name);
        EXPECT_EQ(lock.acquire(), State::Unavailable);
        EXPECT_FALSE(platform::SingleInstanceLock::sendCode(name, 1, 200));
    }
    {
        // Another user tries to bind the listening socket ahead of the
        // program: the private folder keeps it out.
        ScratchRuntime scratch;
        const QByteArray path = platform::SingleInstanceLock::socketPath(name);
        ASSERT_FALSE(path.isEmpty());
        EXPECT_EQ(runAsNobody([&] {
                      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                      sockaddr_un addr {};
                      addr.sun_family = AF_UNIX;
                      std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
                      return ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 ? 0 : 1;
                  }),
                  1);
        platform::SingleInstanceLock lock(name);
        EXPECT_EQ(lock.acquire(), State::Acquired);
    }
}
