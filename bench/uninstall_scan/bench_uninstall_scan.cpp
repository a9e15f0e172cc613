// A rescan reads 2,000 entries from the two hives (1,000 each) and every
// installed package of this machine through the package view. The peer is
// dpkg-query listing the packages, measured in the same run. The hives and
// the view are read from disk only when they changed; the "cold" figures
// make every rescan read and parse them again.
#include "installed/UninstManager.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

QTemporaryDir *g_dir = nullptr;

void writeHive(const QString &file, int count, const char *prefix)
{
    QByteArray out = "WINE REGISTRY Version 2\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        out += "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\" + QByteArray(prefix)
            + n + "] 1\n" + "\"DisplayName\"=\"" + prefix + " Program " + n + "\"\n"
            + "\"DisplayVersion\"=\"1." + n + "\"\n\"Publisher\"=\"Publisher " + QByteArray::number(i % 37)
            + "\"\n" + "\"UninstallString\"=\"/opt/" + prefix + n + "/uninstall --quiet\"\n"
            + "\"InstallLocation\"=\"/opt/" + prefix + n + "\"\n\"InstallDate\"=\"20240101\"\n"
            + "\"EstimatedSize\"=dword:00001000\n\"URLInfoAbout\"=\"http://127.0.0.1/" + n + "\"\n"
            + (i % 10 == 0 ? "\"ParentDisplayName\"=\"" + QByteArray(prefix) + " Program "
                       + QByteArray::number(i + 1) + "\"\n"
                           : QByteArray());
    }
    QFile f(file);
    if (f.open(QIODevice::WriteOnly))
        f.write(out);
}

void setUp()
{
    g_dir = new QTemporaryDir;
    writeHive(g_dir->filePath(QStringLiteral("HKEY_LOCAL_MACHINE.reg")), 1000, "M");
    writeHive(g_dir->filePath(QStringLiteral("HKEY_CURRENT_USER.reg")), 1000, "U");
    platform::setRegistryDirectory(g_dir->path());
    platform::setPackageStatusFile(QStringLiteral("/var/lib/dpkg/status"));
}

void dpkgQuery()
{
    QProcess p;
    p.start(QStringLiteral("dpkg-query"),
            {QStringLiteral("-W"), QStringLiteral("-f=${Package} ${Version} ${Maintainer}\\n")});
    p.waitForFinished(30000);
    benchmark::DoNotOptimize(p.readAllStandardOutput().size());
}

int g_entries = 0;

void rescan(TUninstManager &m)
{
    m.Rescan();
    g_entries = m.Count();
}

} // namespace

static void BM_Rescan(benchmark::State &state)
{
    TUninstManager m;
    rescan(m);
    for (auto _ : state)
        rescan(m);
    state.counters["programs"] = g_entries;
}
BENCHMARK(BM_Rescan)->Unit(benchmark::kMillisecond);

static void BM_RescanHivesCold(benchmark::State &state)
{
    TUninstManager m;
    for (auto _ : state) {
        platform::setRegistryDirectory(g_dir->path()); // forgets the parsed hives
        rescan(m);
    }
}
BENCHMARK(BM_RescanHivesCold)->Unit(benchmark::kMillisecond);

static void BM_RescanAllCold(benchmark::State &state)
{
    TUninstManager m;
    for (auto _ : state) {
        platform::setRegistryDirectory(g_dir->path());
        platform::setPackageStatusFile(QStringLiteral("/var/lib/dpkg/status")); // and the package view
        rescan(m);
    }
}
BENCHMARK(BM_RescanAllCold)->Unit(benchmark::kMillisecond)->Iterations(5);

static void BM_DpkgQueryPeer(benchmark::State &state)
{
    for (auto _ : state)
        dpkgQuery();
}
BENCHMARK(BM_DpkgQueryPeer)->Unit(benchmark::kMillisecond);

namespace {

double medianMs(const std::function<void()> &fn, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        fn();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setUp();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    TUninstManager m;
    rescan(m);
    const double scan = medianMs([&] { rescan(m); }, 21);
    const double cold = medianMs(
        [&] {
            platform::setRegistryDirectory(g_dir->path());
            rescan(m);
        },
        11);
    const double peer = medianMs(dpkgQuery, 21);
    std::printf("\nrescan (%d programs listed): %.2f ms median; with both hives parsed again: %.2f ms\n",
                g_entries, scan, cold);
    std::printf("dpkg-query -W peer: %.2f ms median\n", peer);
    std::printf("ratio rescan / dpkg-query = %.2f (target at most 0.50); cold hives: %.2f\n", scan / peer,
                cold / peer);
    benchmark::Shutdown();
    delete g_dir;
    return 0;
}
