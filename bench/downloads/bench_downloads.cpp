// Downloads one large file from a loopback server through a task (resuming on,
// every OnProcess handled on the main thread), then the same URL with
// `curl -o`, and prints both rates and the main thread's longest stall.
//
//   bench_downloads [MiB]   (default 256)

#include "tasks/OVTaskItem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <httplib.h>
#include <thread>

namespace {

class Server
{
public:
    explicit Server(qint64 size)
        : m_block(1 << 20, '\0')
    {
        for (size_t i = 0; i < m_block.size(); ++i)
            m_block[i] = char((i * 131 + 7) % 251);
        m_server.Get("/big", [this, size](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(
                size_t(size), "application/octet-stream",
                [this](size_t offset, size_t length, httplib::DataSink &sink) {
                    const size_t at = offset % m_block.size();
                    const size_t n = std::min({length, m_block.size() - at, size_t(256 << 10)});
                    return sink.write(m_block.data() + at, n);
                });
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Server()
    {
        m_server.stop();
        m_thread.join();
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/big").arg(m_port); }

private:
    std::string m_block;
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

double mbPerSecond(qint64 bytes, qint64 ms)
{
    return ms > 0 ? double(bytes) / 1e6 / (double(ms) / 1000.0) : 0.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? std::max(1, atoi(argv[1])) : 256;
    const qint64 size = mib << 20;
    QTemporaryDir dir;
    Server server(size);

    // Our downloader, driven the way the program drives it.
    TBrimTaskManager mgr;
    qint64 events = 0;
    bool finished = false;
    mgr.OnItemStateChange = [&](TBrimTaskManager *, TBrimTaskItem &item) {
        ++events;
        if (item.State == OVTaskState::DownloadCompleted || item.State == OVTaskState::Failed)
            finished = true;
    };
    auto *task = mgr.Add<TOVTaskItem>();
    task->HttpUrl = server.url();
    task->LocalFile = dir.filePath("ours.bin");
    task->ResumeBroken = true;

    // A 1 ms timer measures how long the main thread was kept from its loop.
    QElapsedTimer clock;
    clock.start();
    qint64 lastBeat = 0, worstGap = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(1);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed() / 1000;
        if (lastBeat)
            worstGap = std::max(worstGap, now - lastBeat);
        lastBeat = now;
    });
    beat.start();

    QElapsedTimer t;
    t.start();
    task->Download();
    while (!finished)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 oursMs = t.elapsed();
    beat.stop();
    const bool ok
        = task->State == OVTaskState::DownloadCompleted && QFileInfo(task->LocalFile).size() == size;

    // The command-line tool, same URL, same run.
    qint64 curlMs = -1;
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (!curl.isEmpty()) {
        QProcess p;
        t.restart();
        p.start(curl, {QStringLiteral("-s"), QStringLiteral("-o"), dir.filePath("curl.bin"), server.url()});
        if (p.waitForFinished(600000) && p.exitCode() == 0)
            curlMs = t.elapsed();
    }

    std::printf("download of %lld MiB over loopback, resuming on (512-byte blocks)\n", mib);
    std::printf("  TBrimHttpDownload : %8.1f MB/s  (%lld ms, %s, %lld state events)\n",
                mbPerSecond(size, oursMs), oursMs, ok ? "complete" : "FAILED", events);
    if (curlMs >= 0)
        std::printf("  curl -o           : %8.1f MB/s  (%lld ms)\n", mbPerSecond(size, curlMs), curlMs);
    else
        std::printf("  curl -o           : not available\n");
    std::printf("  main thread       : longest gap between event-loop turns %.1f ms\n",
                double(worstGap) / 1000.0);
    return ok ? 0 : 1;
}
