// Start-up of the recommendation tab with a saved copy present: the time from
// starting the program to the copy's first painted frame, and the memory of
// the program with its web engine processes (PSS summed over the process
// tree), next to the same page shown by a headless Chromium in the same run.
//
//   bench_topx_start [runs]   (default 3)
//
// The page reports its own first contentful paint to the loopback server that
// serves it, as wall-clock milliseconds; the program's and Chromium's start
// times are taken just before each is started.

#include "online/PageCollect.h"

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <httplib.h>
#include <map>
#include <mutex>
#include <signal.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QByteArray icon(QColor color)
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A recommendation page like the vendor's: a style sheet, a script, a list of
// programs with icons and download buttons, and the paint report.
class Site
{
public:
    Site()
    {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        const std::string base = "http://127.0.0.1:" + std::to_string(m_port);
        std::string items;
        const char *names[] = {"NoteLark",     "PebbleZip",      "Tidewave Player",   "QuillView Reader",
                               "Halvex Guard", "Halvex Cleaner", "FrameSmith Studio", "Ledgerly Pro"};
        for (int i = 0; i < 8; ++i) {
            const std::string n = std::to_string(i);
            m_icons["/icons/" + n + ".png"] = icon(QColor::fromHsv(i * 45, 160, 200)).toStdString();
            items += "<div class=\"prog\"><img src=\"" + base + "/icons/" + n
                + ".png\" width=\"32\" height=\"32\">"
                  "<div class=\"text\"><b>"
                + names[i]
                + "</b><br>A program the vendor recommends.</div>"
                  "<button data-title=\""
                + names[i] + "\" data-url=\"" + base + "/files/" + n
                + ".exe\" onclick=\"install(this)\">Download</button></div>\n";
        }
        m_page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Recommended software</title>"
                 "<link rel=\"stylesheet\" href=\"/css/soft.css\"><script src=\"/js/soft.js\"></script>"
                 "<script>new PerformanceObserver(function (list) {"
                 "  list.getEntries().forEach(function (e) {"
                 "    if (e.name !== 'first-contentful-paint') return;"
                 "    new Image().src = '"
            + base
            + "/painted?at=' + Math.round(performance.timeOrigin + e.startTime)"
              "      + '&from=' + encodeURIComponent(location.protocol) + '&ua=' + "
              "encodeURIComponent(navigator.userAgent);"
              "  });"
              "}).observe({type: 'paint', buffered: true});</script>"
              "</head><body><h1>Recommended software</h1>\n"
            + items + "</body></html>\n";
        m_server.Get("/index.php/soft_api", [this](const httplib::Request &, httplib::Response &r) {
            r.set_content(m_page, "text/html; charset=UTF-8");
        });
        m_server.Get("/css/soft.css", [](const httplib::Request &, httplib::Response &r) {
            r.set_content(
                "body{font-family:sans-serif;margin:.8em;font-size:13px}h1{font-size:16px;color:#1e7c46}"
                ".prog{display:flex;align-items:center;gap:10px;border:1px solid #ddd;padding:6px 8px;"
                "margin-bottom:6px}.prog .text{flex:1}",
                "text/css");
        });
        m_server.Get("/js/soft.js", [](const httplib::Request &, httplib::Response &r) {
            r.set_content(
                "function install(b) { window.external.DownloadAndInstall(b.getAttribute('data-title'), "
                "b.getAttribute('data-url')); }",
                "application/javascript");
        });
        m_server.Get(R"(/icons/(\d+\.png))", [this](const httplib::Request &req, httplib::Response &r) {
            const auto it = m_icons.find(req.path);
            if (it == m_icons.end()) {
                r.status = 404;
                return;
            }
            r.set_content(it->second, "image/png");
        });
        m_server.Get("/painted", [this](const httplib::Request &req, httplib::Response &r) {
            const qint64 at = QByteArray::fromStdString(req.get_param_value("at")).toLongLong();
            std::lock_guard lock(m_mutex);
            m_paints.push_back({req.get_param_value("from"), req.get_param_value("ua"), at});
            m_changed.notify_all();
            r.status = 204;
        });
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Site()
    {
        m_server.stop();
        m_thread.join();
    }

    QString pageUrl() const { return QStringLiteral("http://127.0.0.1:%1/index.php/soft_api").arg(m_port); }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    struct Paint
    {
        std::string from, agent;
        qint64 at;
    };
    // The first paint report that matches, waiting up to timeoutMs.
    std::optional<Paint> waitPaint(const std::function<bool(const Paint &)> &match, int timeoutMs)
    {
        std::unique_lock lock(m_mutex);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            for (const Paint &p : m_paints) {
                if (match(p))
                    return p;
            }
            if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout)
                return std::nullopt;
        }
    }
    void clearPaints()
    {
        std::lock_guard lock(m_mutex);
        m_paints.clear();
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::string m_page;
    std::map<std::string, std::string> m_icons;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Paint> m_paints;
};

// A process and all its descendants.
std::vector<qint64> processTree(qint64 root)
{
    std::map<qint64, qint64> parentOf;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parentOf[pid] = fields[1].toLongLong();
    }
    std::vector<qint64> tree {root};
    for (size_t i = 0; i < tree.size(); ++i) {
        for (const auto &[pid, parent] : parentOf) {
            if (parent == tree[i])
                tree.push_back(pid);
        }
    }
    return tree;
}

// PSS of the tree in KiB (from /proc/<pid>/smaps_rollup).
qint64 treePssKiB(qint64 root)
{
    qint64 total = 0;
    for (qint64 pid : processTree(root)) {
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (!rollup.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : rollup.readAll().split('\n')) {
            if (line.startsWith("Pss:"))
                total += line.mid(4).trimmed().split(' ').front().toLongLong();
        }
    }
    return total;
}

// Processor time the tree has used so far (user and system, ended children included), in ms.
qint64 treeCpuMs(qint64 root)
{
    const long tick = sysconf(_SC_CLK_TCK);
    qint64 ticks = 0;
    for (qint64 pid : processTree(root)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 14) // utime, stime, cutime, cstime are fields 14 to 17
            ticks += f[11].toLongLong() + f[12].toLongLong() + f[13].toLongLong() + f[14].toLongLong();
    }
    return ticks * 1000 / tick;
}

// Lets the process tree settle, then takes the largest of a few PSS samples.
qint64 settledPss(qint64 pid)
{
    QThread::msleep(1500);
    qint64 pss = 0;
    for (int i = 0; i < 3; ++i) {
        pss = std::max(pss, treePssKiB(pid));
        QThread::msleep(200);
    }
    return pss;
}

// Ends a started program and waits until its whole tree has gone.
void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    const std::vector<qint64> tree = processTree(process.processId());
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000 && std::any_of(tree.begin(), tree.end(), [](qint64 pid) {
               return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
           }))
        QThread::msleep(20);
}

struct Figures
{
    qint64 paintMs = -1;
    qint64 cpuMs = -1; // processor time of the process tree when the report of the first paint arrived
    qint64 livePaintMs = -1;
    qint64 pssKiB = 0;
};

Figures runProgram(Site &site, const QString &exe, const QString &flags)
{
    Figures f;
    QTemporaryDir dir;
    const QString app = dir.path() + QLatin1Char('/');
    QDir().mkpath(app + "Config");
    QDir().mkpath(app + "Files");
    QDir().mkpath(app + "Langs/1033");
    QFile::copy(exe, app + "orvane");
    QFile::setPermissions(app + "orvane",
                          QFileDevice::ExeOwner | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile config(app + "Config/Config.ini");
    config.open(QIODevice::WriteOnly);
    config.write("[ORVANE]\r\nAutoInstall=0\r\n[LANGUAGE]\r\nLanguage=1033\r\n");
    config.close();
    QFile lang(app + "Langs/1033/Orvane.ini");
    lang.open(QIODevice::WriteOnly);
    lang.write(
        QStringLiteral("[HEAD]\r\nLCID=1033\r\n[LANG_ITEMS]\r\nString.URL.Home=%1/\r\nString.URL.TopX=%2\r\n")
            .arg(site.base(), site.pageUrl())
            .toUtf8());
    lang.close();
    const TArchiveSaveResult saved = SavePageArchive(site.pageUrl(), app + "Files/TopX.mht");
    if (!saved.Ok) {
        std::fprintf(stderr, "could not save the copy: %s\n", qPrintable(saved.Error));
        return f;
    }
    site.clearPaints();

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("ORVANE_PROBE_URLS", site.base() + "/");
    env.insert("ORVANE_INSTANCE_TAG", QStringLiteral("-bench-%1").arg(QCoreApplication::applicationPid()));
    if (!flags.isEmpty())
        env.insert("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    program.setProcessEnvironment(env);
    program.setProgram(app + "orvane");
    program.setArguments({"--quit-after", "60000"});
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    program.start();
    if (!program.waitForStarted(10000))
        return f;
    const auto copy = site.waitPaint([](const Site::Paint &p) { return p.from == "orvane-mht:"; }, 30000);
    f.cpuMs = treeCpuMs(program.processId());
    const auto live = site.waitPaint([](const Site::Paint &p) { return p.from == "http:"; }, 30000);
    if (copy)
        f.paintMs = copy->at - t0;
    if (live)
        f.livePaintMs = live->at - t0;
    // The copy is saved again once the live page is in; measure after that.
    const QDateTime before = QFileInfo(app + "Files/TopX.mht").lastModified();
    QElapsedTimer wait;
    wait.start();
    while (QFileInfo(app + "Files/TopX.mht").lastModified() == before && wait.elapsed() < 10000)
        QThread::msleep(50);
    f.pssKiB = settledPss(program.processId());
    stop(program);
    return f;
}

Figures runChromium(Site &site, const QString &chromium)
{
    Figures f;
    QTemporaryDir profile;
    site.clearPaints();
    QProcess browser;
    browser.setProgram(chromium);
    browser.setArguments({"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                          "--disable-component-update", "--no-first-run", "--user-data-dir=" + profile.path(),
                          site.pageUrl()});
    browser.setStandardOutputFile(QProcess::nullDevice());
    browser.setStandardErrorFile(QProcess::nullDevice());
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    browser.start();
    if (!browser.waitForStarted(10000))
        return f;
    const auto paint = site.waitPaint([](const Site::Paint &p) { return p.from == "http:"; }, 30000);
    f.cpuMs = treeCpuMs(browser.processId());
    if (paint)
        f.paintMs = paint->at - t0;
    f.pssKiB = settledPss(browser.processId());
    stop(browser);
    return f;
}

qint64 median(std::vector<qint64> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const QString exe = QStringLiteral(ORVANE_EXE);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    const QString flags = qEnvironmentVariable("ORVANE_BENCH_WEBENGINE_FLAGS");
    Site site;

    std::vector<qint64> paint, cpu, live, pss, cPaint, cCpu, cPss;
    for (int i = 0; i < runs; ++i) {
        const Figures p = runProgram(site, exe, flags);
        paint.push_back(p.paintMs);
        cpu.push_back(p.cpuMs);
        live.push_back(p.livePaintMs);
        pss.push_back(p.pssKiB);
        if (!chromium.isEmpty()) {
            const Figures c = runChromium(site, chromium);
            cPaint.push_back(c.paintMs);
            cCpu.push_back(c.cpuMs);
            cPss.push_back(c.pssKiB);
        }
    }
    std::printf("recommendation tab start with a saved copy, median of %d runs (load average %s)\n", runs,
                [] {
                    QFile f(QStringLiteral("/proc/loadavg"));
                    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').front().toStdString()
                                                       : std::string("?");
                }()
                    .c_str());
    if (!flags.isEmpty())
        std::printf("  engine flags: %s\n", qPrintable(flags));
    std::printf("  orvane              : copy painted %5lld ms after start (%5lld ms processor time), "
                "live page %5lld ms, PSS %6.1f MB\n",
                median(paint), median(cpu), median(live), median(pss) / 1024.0);
    if (!chromium.isEmpty())
        std::printf("  chromium --headless : page painted %5lld ms after start (%5lld ms processor time), "
                    "                 PSS %6.1f MB\n",
                    median(cPaint), median(cCpu), median(cPss) / 1024.0);
    else
        std::printf("  chromium --headless : not installed\n");
    return 0;
}
