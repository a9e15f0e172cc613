// One steady-state refresh of the process list, alone and as the Running tab
// does it once a second (model refresh, load samples, row updates, repaint),
// with every process of the machine plus extra sleeping processes started
// here; next to it, in the same run, one `ps -eo pid,user,rss,pcpu,comm,args`
// and one `top -b -n 1` (their CPU time from wait4). Then the CPU share of the
// program while the tab is open and refreshing by itself. The tab ties its rows
// to the installed applications as the program does; the look-ups are counted.
//
//   bench_process_refresh [extra processes]   (default 500)

#include "installed/ApplicationIndex.h"
#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "platform/DpkgPackageIndex.h"
#include "procmon/Processes.h"
#include "procmon/tab/RunningTab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double wallSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

pid_t spawn(const std::vector<std::string> &args, bool quiet)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// CPU seconds (user + system) one run of the program takes; -1 when it cannot run.
double childCpuSeconds(const std::vector<std::string> &args)
{
    const pid_t pid = spawn(args, true);
    if (pid < 0)
        return -1;
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double meanChildCpu(const std::vector<std::string> &args, int runs)
{
    double total = 0;
    for (int i = 0; i < runs; ++i) {
        const double s = childCpuSeconds(args);
        if (s < 0)
            return -1;
        total += s;
    }
    return total / runs;
}

template<typename Fn> double meanCpu(Fn fn, int runs)
{
    const double start = processCpuSeconds();
    for (int i = 0; i < runs; ++i)
        fn();
    return (processCpuSeconds() - start) / runs;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int extra = argc > 1 ? std::max(0, std::atoi(argv[1])) : 500;

    std::vector<pid_t> sleepers;
    for (int i = 0; i < extra; ++i) {
        const pid_t pid = spawn({"sleep", "300"}, false);
        if (pid > 0)
            sleepers.push_back(pid);
    }
    // The package index is built on its own thread; measure after it is done.
    platform::DpkgPackageIndex::shared().waitUntilBuilt();

    constexpr int kRuns = 20;
    TProcesses model;
    model.Refresh();
    for (int i = 0; i < 7; ++i) // past the detail retries, into the steady state
        model.Refresh();
    const double modelRefresh = meanCpu([&] { model.Refresh(); }, kRuns);

    TOVRunningTab tab;
    // The applications of the machine, as the main window ties rows to them.
    TUninstManager applications;
    applications.SetSources(installed::MakeDefaultSources());
    applications.Rescan();
    installed::ApplicationIndex index;
    index.Build(applications);
    int lookups = 0;
    tab.ApplicationOf = [&](const TProcessItem &item) {
        ++lookups;
        const auto app = index.Find(item.ImagePath, item.FlatpakId);
        return app ? TProcessApplication {app->Key, app->Name, app->Description} : TProcessApplication {};
    };
    tab.resize(800, 500);
    tab.show();
    tab.FirstActivate();
    tab.ToggleHideSystem(); // every process gets a row
    for (int i = 0; i < 7; ++i) {
        tab.TimerRefresh();
        app.processEvents();
    }
    const int lookupsBefore = lookups;
    const double tabRefresh = meanCpu(
        [&] {
            tab.TimerRefresh();
            app.processEvents(); // the repaint of the changed cells
        },
        kRuns);
    const int lookupsInRefreshes = lookups - lookupsBefore;

    const double ps = meanChildCpu({"ps", "-eo", "pid,user,rss,pcpu,comm,args"}, 5);
    const double top = meanChildCpu({"top", "-b", "-n", "1"}, 5);

    // The program with the tab open: its timer refreshes once a second. The
    // refreshes themselves are timed apart from the rest of the event loop.
    struct TimerWatch : QObject
    {
        double started = 0, inRefresh = 0;
        int count = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Timer)
                started = processCpuSeconds();
            return false;
        }
    } watch;
    tab.tmrRefreshRunning->installEventFilter(&watch);
    QObject::connect(tab.tmrRefreshRunning, &QTimer::timeout, &app, [&watch] {
        watch.inRefresh += processCpuSeconds() - watch.started;
        ++watch.count;
    });
    tab.Activate();
    const double cpu0 = processCpuSeconds();
    const double wall0 = wallSeconds();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    const double openShare = (processCpuSeconds() - cpu0) / (wallSeconds() - wall0);
    tab.Deactivate();

    std::printf("processes listed: %d (%zu started here)\n", model.Count(), sleepers.size());
    std::printf("application look-ups: %d while filling the rows, %d in %d steady refreshes\n", lookupsBefore,
                lookupsInRefreshes, kRuns);
    std::printf("%-44s %10s\n", "CPU time per run", "ms");
    std::printf("%-44s %10.2f\n", "model refresh (steady state)", modelRefresh * 1e3);
    std::printf("%-44s %10.2f\n", "tab refresh: model + samples + rows + paint", tabRefresh * 1e3);
    if (ps > 0)
        std::printf("%-44s %10.2f\n", "ps -eo pid,user,rss,pcpu,comm,args", ps * 1e3);
    if (top > 0)
        std::printf("%-44s %10.2f\n", "top -b -n 1", top * 1e3);
    if (ps > 0) {
        std::printf("model refresh / ps: %.2f (target <= 0.50)\n", modelRefresh / ps);
        std::printf("tab refresh / ps:   %.2f\n", tabRefresh / ps);
    }
    if (top > 0)
        std::printf("model refresh / top: %.2f\n", modelRefresh / top);
    std::printf("tab open, refreshing once a second: %.2f %% of one core over 10 s (target < 1 %%);"
                " %d timer refreshes took %.2f ms each\n",
                openShare * 100, watch.count, watch.count ? watch.inRefresh / watch.count * 1e3 : 0.0);

    for (pid_t pid : sleepers) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return 0;
}
