#include "platform/ProcessJob.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
