// A rescan reads 2,000 entries from the two hives (1,000 each) and every
// installed package of this machine with its applications (AppStream
// metainfo, desktop entries). The peer is dpkg-query listing the packages,
// measured in the same run. Hives, the status file and the application
// folders are read from disk only when they changed; the "cold" figures make
// every rescan read and parse them again. The first fill of the Uninstall tab
// is timed from the click, once with the program started a moment before (its
// package data read in the background meanwhile) and once with nothing read yet.
// At the end, when Wine is installed, a prefix made by wineboot (its
// system.reg is about 1.7 MB) is added as a source: the figure is what
// reading it adds to a rescan.
#include "installed/UninstManager.h"
#include "platform/Registry.h"

#ifdef BENCH_WITH_TAB
#include "installed/tab/UninstallTab.h"

#include <QApplication>
#endif

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
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
    // The figures above leave the user's own prefix out.
    qputenv("WINEPREFIX", g_dir->filePath(QStringLiteral("no-prefix")).toUtf8());
}

// A prefix written by Wine itself, in a scratch folder; empty when Wine is missing.
QString makeWinePrefix(const QTemporaryDir &dir)
{
    const QString prefix = dir.filePath(QStringLiteral("prefix"));
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix);
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("wineboot"), {QStringLiteral("-i")});
    if (!p.waitForStarted() || !p.waitForFinished(300000) || p.exitCode() != 0)
        return {};
    p.start(QStringLiteral("wineserver"), {QStringLiteral("-w")});
    p.waitForFinished(60000);
    return QFile::exists(prefix + QStringLiteral("/system.reg")) ? prefix : QString();
}

std::vector<std::unique_ptr<installed::InstalledSource>> sources(const QString &winePrefix)
{
    std::vector<std::unique_ptr<installed::InstalledSource>> s;
    s.push_back(installed::MakeRegistrySource());
    if (!winePrefix.isEmpty())
        s.push_back(installed::MakeWineSource(winePrefix));
    return s;
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

// A manager reading what the program reads.
std::unique_ptr<TUninstManager> makeManager(bool prefetch)
{
    auto m = std::make_unique<TUninstManager>();
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakeRegistrySource());
    installed::PackageSourceOptions o;
    o.Prefetch = prefetch;
    sources.push_back(installed::MakePackageSource(o));
    m->SetSources(std::move(sources));
    return m;
}

} // namespace

static void BM_Rescan(benchmark::State &state)
{
    auto m = makeManager(false);
    rescan(*m);
    for (auto _ : state)
        rescan(*m);
    state.counters["programs"] = g_entries;
}
BENCHMARK(BM_Rescan)->Unit(benchmark::kMillisecond);

static void BM_RescanWithSystemPackages(benchmark::State &state)
{
    auto m = makeManager(false);
    m->SetShowSystemComponents(true);
    rescan(*m);
    for (auto _ : state)
        rescan(*m);
    state.counters["programs"] = g_entries;
}
BENCHMARK(BM_RescanWithSystemPackages)->Unit(benchmark::kMillisecond);

static void BM_RescanHivesCold(benchmark::State &state)
{
    auto m = makeManager(false);
    rescan(*m);
    for (auto _ : state) {
        platform::setRegistryDirectory(g_dir->path()); // forgets the parsed hives
        rescan(*m);
    }
}
BENCHMARK(BM_RescanHivesCold)->Unit(benchmark::kMillisecond);

static void BM_FirstScanCold(benchmark::State &state)
{
    for (auto _ : state) {
        platform::setRegistryDirectory(g_dir->path());
        auto m = makeManager(false); // and the package data with the owners of the applications' files
        rescan(*m);
    }
}
BENCHMARK(BM_FirstScanCold)->Unit(benchmark::kMillisecond)->Iterations(5);

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

#ifdef BENCH_WITH_TAB
// The tab's first fill: rescan, icons, rows. started: the sources were made
// (and began reading) a second before the click, as at program start.
double firstFillMs(bool started)
{
    platform::setRegistryDirectory(g_dir->path());
    auto m = makeManager(started);
    if (started)
        QThread::msleep(1500);
    TOVUninstallTab tab(m.get());
    tab.resize(780, 460);
    tab.show();
    QElapsedTimer t;
    t.start();
    tab.FirstActivate();
    QCoreApplication::processEvents();
    return double(t.nsecsElapsed()) / 1e6;
}
#endif

} // namespace

int main(int argc, char **argv)
{
#ifdef BENCH_WITH_TAB
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    setUp();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    auto m = makeManager(false);
    rescan(*m);
    const double scan = medianMs([&] { rescan(*m); }, 21);
    const double cold = medianMs(
        [&] {
            platform::setRegistryDirectory(g_dir->path());
            rescan(*m);
        },
        11);
    const double first = medianMs(
        [&] {
            platform::setRegistryDirectory(g_dir->path());
            auto fresh = makeManager(false);
            rescan(*fresh);
        },
        5);
    const double peer = medianMs(dpkgQuery, 21);
    std::printf("\nrescan (%d programs listed): %.2f ms median; with both hives parsed again: %.2f ms;"
                " first scan with nothing read yet: %.2f ms\n",
                g_entries, scan, cold, first);
    std::printf("dpkg-query -W peer: %.2f ms median\n", peer);
    std::printf("ratio rescan / dpkg-query = %.2f (target at most 0.50); cold hives: %.2f\n", scan / peer,
                cold / peer);
#ifdef BENCH_WITH_TAB
    std::vector<double> warm, coldFill;
    for (int i = 0; i < 5; ++i) {
        warm.push_back(firstFillMs(true));
        coldFill.push_back(firstFillMs(false));
    }
    std::sort(warm.begin(), warm.end());
    std::sort(coldFill.begin(), coldFill.end());
    std::printf("tab first fill after the click: %.1f ms median (program started before); %.1f ms with"
                " nothing read yet (target at most 150)\n",
                warm[2], coldFill[2]);
#endif

    QTemporaryDir wineDir;
    const QString prefix = makeWinePrefix(wineDir);
    if (prefix.isEmpty()) {
        std::printf("Wine prefix: not measured (wine or wineboot is missing or failed)\n");
    } else {
        TUninstManager without;
        without.SetSources(sources({}));
        TUninstManager with;
        with.SetSources(sources(prefix));
        rescan(without);
        rescan(with);
        const double base = medianMs([&] { rescan(without); }, 21);
        const double warm = medianMs([&] { rescan(with); }, 21);
        // A new source each time: system.reg and user.reg read and parsed again.
        const double fresh = medianMs(
            [&] {
                with.SetSources(sources(prefix));
                rescan(with);
            },
            11);
        std::printf("Wine prefix (system.reg %lld bytes): adds %.2f ms to a rescan when its hives are read "
                    "again (target at most 30 ms), %.2f ms when they did not change\n",
                    qlonglong(QFileInfo(prefix + QStringLiteral("/system.reg")).size()), fresh - base,
                    warm - base);
    }
    benchmark::Shutdown();
    delete g_dir;
    return 0;
}
