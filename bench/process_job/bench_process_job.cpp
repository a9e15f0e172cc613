// One poll of RunAndWait scans every process's stat file for the job's
// session. The peer is the bare listing of /proc, the least any scan costs;
// the third figure is the version look-up of the program's own executable.
#include "platform/FileVersion.h"
#include "platform/ProcessJob.h"

#include <QDir>
#include <benchmark/benchmark.h>
#include <unistd.h>

static void BM_SessionScan(benchmark::State &state)
{
    const qint64 sid = getsid(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::liveProcessesInSession(sid));
}
BENCHMARK(BM_SessionScan)->Unit(benchmark::kMillisecond);

static void BM_ProcListingPeer(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}
BENCHMARK(BM_ProcListingPeer)->Unit(benchmark::kMillisecond);

static void BM_OwnVersionNote(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::readFileVersionInfo(QStringLiteral("/proc/self/exe")));
}
BENCHMARK(BM_OwnVersionNote)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
