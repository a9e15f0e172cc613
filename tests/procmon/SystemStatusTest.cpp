#include "procmon/SystemStatus.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Fixture
{
    QTemporaryDir dir;
    QString stat = dir.filePath(QStringLiteral("stat"));
    QString meminfo = dir.filePath(QStringLiteral("meminfo"));

    void write(const QString &file, const QByteArray &text)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
};

// "cpu" lines: user nice system idle iowait irq softirq steal guest guest_nice.
QByteArray twoCpus(int user0, int idle0, int user1, int idle1)
{
    return QStringLiteral(
               "cpu  %1 0 0 %2 0 0 0 0 0 0\ncpu0 %3 0 0 %4 0 0 0 0 0 0\ncpu1 %5 0 0 %6 0 0 0 0 0 0\n"
               "intr 5\nprocs_running 1\n")
        .arg(user0 + user1)
        .arg(idle0 + idle1)
        .arg(user0)
        .arg(idle0)
        .arg(user1)
        .arg(idle1)
        .toLatin1();
}

} // namespace

TEST(SystemStatus, FirstSampleStoresSecondMeasures)
{
    Fixture fx;
    fx.write(fx.stat, twoCpus(100, 900, 500, 500));
    TSystemStatus status(fx.stat, fx.meminfo);
    EXPECT_EQ(status.ProcessorCount(), 2u);
    ASSERT_TRUE(status.RefreshCPU());
    for (quint32 i = 0; i <= 3; ++i)
        EXPECT_EQ(status.Usage(i), 0) << i;

    // Processor 0 was busy 25 of 100 ticks, processor 1 busy 75 of 100: the machine 50 %.
    fx.write(fx.stat, twoCpus(125, 975, 575, 525));
    ASSERT_TRUE(status.RefreshCPU());
    EXPECT_EQ(status.Usage(0), 50);
    EXPECT_EQ(status.Usage(1), 25);
    EXPECT_EQ(status.Usage(2), 75);
    EXPECT_EQ(status.Usage(3), 50); // above the processor count: the machine's figure

    // Halves round to the even neighbour: 1 busy of 8 is 12.5 -> 12; 3 of 8 is 37.5 -> 38.
    fx.write(fx.stat, twoCpus(126, 982, 578, 530));
    ASSERT_TRUE(status.RefreshCPU());
    EXPECT_EQ(status.Usage(1), 12);
    EXPECT_EQ(status.Usage(2), 38);
    EXPECT_EQ(status.Usage(0), 25);

    // No time passed: the sample fails and the figures stay.
    ASSERT_FALSE(status.RefreshCPU());
    EXPECT_EQ(status.Usage(1), 12);

    // Idle grew more than the total (a counter that ran backwards): stored as it comes out.
    fx.write(fx.stat, twoCpus(116, 1002, 588, 540));
    ASSERT_TRUE(status.RefreshCPU());
    EXPECT_EQ(status.Usage(1), -100);
    EXPECT_EQ(status.Usage(2), 50);
    EXPECT_EQ(status.Usage(0), 0);

    // An unreadable file keeps everything.
    fx.write(fx.stat, "garbage\n");
    EXPECT_FALSE(status.RefreshCPU());
    EXPECT_EQ(status.Usage(1), -100);
}

TEST(SystemStatus, OneProcessorComputesOnlyTheMachine)
{
    Fixture fx;
    fx.write(fx.stat, "cpu  10 0 0 90 0 0 0 0 0 0\ncpu0 10 0 0 90 0 0 0 0 0 0\n");
    TSystemStatus status(fx.stat, fx.meminfo);
    EXPECT_EQ(status.ProcessorCount(), 1u);
    ASSERT_TRUE(status.RefreshCPU());
    fx.write(fx.stat, "cpu  40 0 0 160 0 0 0 0 0 0\ncpu0 40 0 0 160 0 0 0 0 0 0\n");
    ASSERT_TRUE(status.RefreshCPU());
    EXPECT_EQ(status.Usage(0), 30);
    EXPECT_EQ(status.Usage(1), 0);
}

TEST(SystemStatus, MemorySampleAndLoad)
{
    Fixture fx;
    fx.write(fx.meminfo, "MemTotal:       8000000 kB\nMemFree:  10 kB\nMemAvailable:   2000000 kB\n");
    TSystemStatus status(fx.stat, fx.meminfo);
    ASSERT_TRUE(status.RefreshMemory());
    EXPECT_EQ(status.PhysicalTotal(), 8000000ull * 1024);
    EXPECT_EQ(status.PhysicalAvailable(), 2000000ull * 1024);
    EXPECT_EQ(TSystemStatus::MemoryLoad(status.PhysicalTotal(), status.PhysicalAvailable()), 75);
    EXPECT_EQ(TSystemStatus::MemoryLoad(100, 100), 0);
    EXPECT_EQ(TSystemStatus::MemoryLoad(100, 0), 100);
    EXPECT_EQ(TSystemStatus::MemoryLoad(0, 0), 0);
    fx.write(fx.meminfo, "MemTotal: 1 kB\n");
    EXPECT_FALSE(status.RefreshMemory());
    EXPECT_EQ(status.PhysicalTotal(), 8000000ull * 1024);
}

TEST(SystemStatus, RealMachine)
{
    TSystemStatus status;
    ASSERT_TRUE(status.RefreshMemory());
    EXPECT_GT(status.PhysicalTotal(), status.PhysicalAvailable());
    ASSERT_TRUE(status.RefreshCPU());
}
