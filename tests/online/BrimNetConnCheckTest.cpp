#include "online/BrimNetConnCheck.h"

#include "support/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using testsupport::flushQueuedCalls;

QCoreApplication *app()
{
    return testsupport::coreApp();
}

// Runs the event loop until done() or the deadline.
bool waitFor(const std::function<bool()> &done, int ms)
{
    return testsupport::waitUntil(done, ms);
}

// A socket bound on loopback: listening (connections succeed) or, once closed, a refused port.
struct LoopbackSocket
{
    explicit LoopbackSocket(bool listening)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        if (listening) {
            ::listen(fd, 16);
        } else {
            ::close(fd);
            fd = -1;
        }
    }
    ~LoopbackSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port); }
    int fd = -1;
    int port = 0;
};

// A probe that blocks until released, then answers `reachable`.
struct HangingProbe
{
    std::atomic<bool> released {false};
    std::atomic<int> calls {0};
    std::atomic<int> returned {0};
    bool reachable = true;

    TBrimNetConnCheck::ProbeFunction function()
    {
        return [this](const QString &, quint32) {
            ++calls;
            while (!released)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ++returned;
            return reachable;
        };
    }
};

} // namespace

TEST(TBrimNetConnCheck, TcpProbeConnectsOnlyToListeningPorts)
{
    LoopbackSocket open(true), closed(false);
    EXPECT_TRUE(TBrimNetConnCheck::TcpProbe(open.url(), 2000));
    EXPECT_FALSE(TBrimNetConnCheck::TcpProbe(closed.url(), 2000));
    EXPECT_FALSE(TBrimNetConnCheck::TcpProbe(QString(), 2000));
    EXPECT_FALSE(TBrimNetConnCheck::TcpProbe(QStringLiteral("not a url"), 2000));
}

TEST(TBrimNetConnCheck, SynchronousModeHoldsTheResultWithoutEvents)
{
    app();
    LoopbackSocket open(true), closed(false);
    struct Case
    {
        QStringList urls;
        int status;
    } cases[] = {
        {{closed.url(), open.url()}, TBrimNetConnCheck::StatusReachable},
        {{closed.url()}, TBrimNetConnCheck::StatusUnreachable},
        {{}, TBrimNetConnCheck::StatusUnreachable},
    };
    for (const Case &c : cases) {
        TBrimNetConnCheck check;
        int fired = 0;
        check.OnCheckOK = [&](TBrimNetConnCheck *) { ++fired; };
        check.CheckURLs = c.urls;
        check.Timeout = 5000;
        check.Check();
        EXPECT_FALSE(check.Busy());
        EXPECT_EQ(check.Status(), c.status);
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_EQ(fired, 0);
    }
}

TEST(TBrimNetConnCheck, AsynchronousResultFiresOnceOnTheMainThread)
{
    app();
    LoopbackSocket open(true), closed(false);
    for (bool reachable : {true, false}) {
        TBrimNetConnCheck check;
        check.AsynMode = true;
        check.Timeout = 10000;
        check.CheckURLs = reachable ? QStringList {closed.url(), open.url()} : QStringList {closed.url()};
        int fired = 0;
        bool onMain = false;
        check.OnCheckOK = [&](TBrimNetConnCheck *sender) {
            ++fired;
            onMain = QThread::currentThread() == app()->thread() && sender == &check;
        };
        QElapsedTimer clock;
        clock.start();
        check.Check();
        ASSERT_TRUE(waitFor([&] { return fired > 0; }, 5000));
        EXPECT_LT(clock.elapsed(), 5000); // failure is reported as soon as every probe failed
        ASSERT_TRUE(waitFor([&] { return !check.Busy(); }, 5000));
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_EQ(fired, 1);
        EXPECT_TRUE(onMain);
        EXPECT_EQ(check.Status(),
                  reachable ? TBrimNetConnCheck::StatusReachable : TBrimNetConnCheck::StatusUnreachable);
    }
}

TEST(TBrimNetConnCheck, TimeOutFiresOnceAndALateResultChangesNothing)
{
    app();
    HangingProbe probe;
    TBrimNetConnCheck check;
    check.AsynMode = true;
    check.Timeout = 150;
    check.CheckURLs = {QStringLiteral("http://127.0.0.1:1/")};
    check.Probe = probe.function();
    int fired = 0;
    check.OnCheckOK = [&](TBrimNetConnCheck *) { ++fired; };
    check.Check();
    EXPECT_TRUE(check.Busy());
    check.Check(); // ignored while busy
    ASSERT_TRUE(waitFor([&] { return fired > 0; }, 3000));
    EXPECT_EQ(check.Status(), TBrimNetConnCheck::StatusTimedOut);
    EXPECT_EQ(probe.calls, 1);

    probe.released = true; // the late probe answers "reachable"
    ASSERT_TRUE(waitFor([&] { return !check.Busy(); }, 3000));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(check.Status(), TBrimNetConnCheck::StatusTimedOut);

    // The next check starts afresh.
    LoopbackSocket open(true);
    check.Probe = &TBrimNetConnCheck::TcpProbe;
    check.CheckURLs = {open.url()};
    check.Timeout = 5000;
    check.Check();
    ASSERT_TRUE(waitFor([&] { return fired == 2; }, 3000));
    EXPECT_EQ(check.Status(), TBrimNetConnCheck::StatusReachable);
}

TEST(TBrimNetConnCheck, SynchronousTimeOutAndFailingProbe)
{
    app();
    HangingProbe probe;
    {
        TBrimNetConnCheck check;
        check.Timeout = 100;
        check.CheckURLs = {QStringLiteral("http://127.0.0.1:1/")};
        check.Probe = probe.function();
        QElapsedTimer clock;
        clock.start();
        check.Check();
        EXPECT_GE(clock.elapsed(), 100);
        EXPECT_LT(clock.elapsed(), 2000);
        EXPECT_EQ(check.Status(), TBrimNetConnCheck::StatusTimedOut);
        probe.released = true;
        ASSERT_TRUE(waitFor([&] { return !check.Busy(); }, 3000));
        EXPECT_EQ(check.Status(), TBrimNetConnCheck::StatusTimedOut);
    }

    // A probe that raises ends the run with status 0, still reported once.
    TBrimNetConnCheck check;
    check.AsynMode = true;
    check.Timeout = 200;
    check.CheckURLs = {QStringLiteral("x")};
    check.Probe = [](const QString &, quint32) -> bool { throw std::runtime_error("probe failed"); };
    int fired = 0;
    check.OnCheckOK = [&](TBrimNetConnCheck *) { ++fired; };
    check.Check();
    ASSERT_TRUE(waitFor([&] { return fired > 0; }, 3000));
    // Past the time-out, which the run must have cancelled: only time shows it stays quiet.
    waitFor([] { return false; }, 400);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(check.Status(), TBrimNetConnCheck::StatusNone);
}

TEST(TBrimNetConnCheck, DestroyedWhileProbingTouchesNothing)
{
    app();
    auto probe = std::make_shared<HangingProbe>();
    int fired = 0;
    {
        TBrimNetConnCheck check;
        check.AsynMode = true;
        check.CheckURLs = {QStringLiteral("http://127.0.0.1:1/")};
        check.Probe = [probe](const QString &u, quint32 t) { return probe->function()(u, t); };
        check.OnCheckOK = [&](TBrimNetConnCheck *) { ++fired; };
        check.Check();
        ASSERT_TRUE(waitFor([&] { return probe->calls == 1; }, 3000));
    }
    probe->released = true;
    ASSERT_TRUE(waitFor([&] { return probe->returned == 1; }, 3000));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(fired, 0);
}
