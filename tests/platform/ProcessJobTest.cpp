#include "platform/ProcessJob.h"

#include "platform/Launcher.h"
#include "platform/ProcFs.h"
#include "support/Files.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

struct Timed
{
    quint32 result;
    qint64 ms;
};

Timed run(const QString &script, quint32 timeoutMs = platform::kWaitInfinite)
{
    QElapsedTimer clock;
    clock.start();
    const quint32 r
        = platform::runJobAndWait({QStringLiteral("/bin/sh"), QStringLiteral("-c"), script}, timeoutMs);
    return {r, clock.elapsed()};
}

} // namespace

TEST(ProcessJob, WaitsForAGrandchildThatOutlivesItsParent)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("done"));
    // The started shell ends at once; its background child works on for 800 ms.
    const Timed t = run(QStringLiteral("(sleep 0.8; touch '%1') & exit 0").arg(marker));
    EXPECT_EQ(t.result, 0u);
    EXPECT_GE(t.ms, 800);
    EXPECT_TRUE(QFileInfo::exists(marker)) << "returned before the grandchild finished";
}

TEST(ProcessJob, AChildInASessionOfItsOwnHasBrokenAway)
{
    const Timed t = run(QStringLiteral("exec >/dev/null 2>&1; setsid sleep 3 & exit 0"));
    EXPECT_EQ(t.result, 0u);
    EXPECT_LT(t.ms, 2500);
}

TEST(ProcessJob, FailuresAndTimeOutGiveTheirCodes)
{
    const Timed t = run(QStringLiteral("exec >/dev/null 2>&1; sleep 3"), 300);
    EXPECT_EQ(t.result, quint32(platform::JobTimedOut));
    EXPECT_LT(t.ms, 2500);

    EXPECT_EQ(platform::runJobAndWait({QStringLiteral("/nonexistent/program")}, 1000),
              quint32(platform::JobStartFailed));
    EXPECT_EQ(platform::runJobAndWait({}, 1000), quint32(platform::JobBadCommand));

    std::atomic<bool> cancel {true};
    EXPECT_EQ(platform::runJobAndWait({QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                       QStringLiteral("exec >/dev/null 2>&1; sleep 3")},
                                      platform::kWaitInfinite, &cancel),
              quint32(platform::JobCancelled));
}

TEST(ProcessJob, ArgumentsReachTheProgramUnchanged)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("args"));
    // A file name with blanks and shell characters is one argument and is never interpreted.
    const QString tricky = QStringLiteral("a b;$(touch %1.bad) 'q'").arg(out);
    EXPECT_EQ(platform::runJobAndWait({QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                       QStringLiteral("printf '%s' \"$1\" > '%1'").arg(out),
                                       QStringLiteral("sh"), tricky},
                                      5000),
              0u);
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), tricky);
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral(".bad")));
}

// Started programs get the descriptor limit the user gave us, not the one the
// process list raised ours to.
TEST(ProcessJob, ProgramsStartWithTheUsersDescriptorLimit)
{
    rlimit original {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
    if (original.rlim_max != RLIM_INFINITY && original.rlim_max < 128)
        GTEST_SKIP() << "the hard limit leaves no room to raise the soft one";
    // As a user whose soft limit is below the hard one would start us.
    rlimit user = original;
    user.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &user), 0);
    platform::rememberDescriptorLimit();
    platform::raiseDescriptorLimit();
    rlimit raised {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &raised), 0);
    ASSERT_GT(raised.rlim_cur, 100u);

    testsupport::ScratchDir dir;
    // The child writes the soft limit it got; the file appears whole.
    auto reporter = [&](const QString &name) {
        return QStringList {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                            QStringLiteral("ulimit -Sn > \"$1.part\" && mv \"$1.part\" \"$1\""),
                            QStringLiteral("sh"), dir.path(name)};
    };
    const std::vector<std::pair<QString, std::function<bool(const QStringList &)>>> starts = {
        {QStringLiteral("job"), [](const QStringList &a) { return platform::runJobAndWait(a, 10000) == 0; }},
        {QStringLiteral("waited"),
         [](const QStringList &a) { return platform::runAndWaitForExit(a, 10000) == 0; }},
        {QStringLiteral("detached"), [](const QStringList &a) { return platform::startDetached(a) > 0; }},
        {QStringLiteral("launcher"),
         [](const QStringList &a) { return platform::launcher().startProgram(a); }},
    };
    for (const auto &[name, start] : starts) {
        ASSERT_TRUE(start(reporter(name))) << name.toStdString();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !dir.read(name).isEmpty(); })) << name.toStdString();
        EXPECT_EQ(dir.read(name).trimmed(), "100") << name.toStdString();
    }
    rlimit still {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &still), 0);
    EXPECT_EQ(still.rlim_cur, raised.rlim_cur) << "our own limit stays raised";

    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
    platform::rememberDescriptorLimit();
}

TEST(ProcessJob, ProgramsAreFoundAsExecvpWouldOrNotStarted)
{
    testsupport::ScratchDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("plain"), "#!/bin/sh\nexit 0\n")); // not executable
    struct Case
    {
        QStringList argv;
        bool starts;
    };
    const Case cases[] = {
        {{QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("exit 3")}, true}, // found in PATH
        {{QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("exit 3")}, true},
        {{dir.path(QStringLiteral("plain"))}, false},
        {{QStringLiteral("no-such-program-here")}, false},
        {{dir.path()}, false}, // a folder
    };
    for (const Case &c : cases) {
        const int code = platform::runAndWaitForExit(c.argv, 10000);
        EXPECT_EQ(code, c.starts ? 3 : -1) << c.argv.join(u' ').toStdString();
        EXPECT_EQ(platform::runJobAndWait(c.argv, 10000) != platform::JobStartFailed, c.starts)
            << c.argv.join(u' ').toStdString();
    }
}

TEST(ProcessJob, CapturedRunKeepsBothOutputsTheExitCodeAndItsInput)
{
    // Both ways of taking the outputs: pipes, and the files of a program that is never cut off.
    for (bool kill : {true, false}) {
        platform::CaptureOptions options;
        options.input = "fed line\n";
        options.environment = {QStringLiteral("ORVANE_CAPTURE_PROBE=set here")};
        options.killOnStop = kill;
        const platform::CapturedRun r = platform::runCaptured(
            {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
             QStringLiteral("read line; echo \"$line|$ORVANE_CAPTURE_PROBE\"; echo oops >&2; exit 3")},
            options);
        EXPECT_TRUE(r.started);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.output, "fed line|set here\n");
        EXPECT_EQ(r.errors, "oops\n");
    }

    const platform::CapturedRun missing = platform::runCaptured({QStringLiteral("/nonexistent/program")});
    EXPECT_FALSE(missing.started);
    EXPECT_TRUE(platform::findProgram(QStringLiteral("/nonexistent/program")).isEmpty());
    EXPECT_EQ(platform::findProgram(QStringLiteral("sh")).isEmpty(), false);
}

TEST(ProcessJob, CapturedRunStopsAtItsTimeAndDoesNotWaitForADescendantHoldingItsOutput)
{
    platform::CaptureOptions options;
    options.timeoutMs = 300;
    QElapsedTimer clock;
    clock.start();
    const platform::CapturedRun slow = platform::runCaptured(
        {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("sleep 5")}, options);
    EXPECT_TRUE(slow.started);
    EXPECT_FALSE(slow.finished);
    EXPECT_LT(clock.elapsed(), 2500);

    // The shell ends at once; the background sleep keeps the output pipe open.
    clock.restart();
    const platform::CapturedRun ended = platform::runCaptured(
        {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("echo done; sleep 3 & exit 0")});
    EXPECT_TRUE(ended.finished);
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_EQ(ended.output, "done\n");
    EXPECT_LT(clock.elapsed(), 2500);
}

// A captured job is still waited for as a whole: what a descendant writes
// after the started program has ended is kept, and nothing waits for input.
TEST(ProcessJob, CapturedJobKeepsWhatTheWholeJobWroteAndReadsNoInput)
{
    const platform::CapturedJob job = platform::runCapturedJob(
        {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
         QStringLiteral("cat; echo \"out|$ORVANE_CAPTURE_PROBE\"; echo err >&2;"
                        " (sleep 0.3; echo late) & exit 3")},
        platform::kWaitInfinite, {QStringLiteral("ORVANE_CAPTURE_PROBE=set here")});
    EXPECT_EQ(job.result, 0u);
    EXPECT_EQ(job.exitStatus, 3);
    EXPECT_EQ(job.output, "out|set here\nlate\n");
    EXPECT_EQ(job.errors, "err\n");

    const platform::CapturedJob missing
        = platform::runCapturedJob({QStringLiteral("/nonexistent/program")}, 1000, {});
    EXPECT_EQ(missing.result, quint32(platform::JobStartFailed));
    EXPECT_FALSE(missing.exitStatus.has_value());
}
