// Hashes one large installer the way a task checks it, then the same file with
// `sha256sum`, and prints both rates; then a task installs it (digest given):
// the time from Install() to the end of the run, the main thread's longest
// stall meanwhile, and how much the peak memory grew.
//
//   bench_installer_check [MiB]   (default 256)

#include "core/OVSettings.h"
#include "core/Sha256Digest.h"
#include "tasks/OVTaskItem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

// Peak resident memory of this process in KiB.
qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

double mbPerSecond(qint64 bytes, qint64 ms)
{
    return ms > 0 ? double(bytes) / (1024.0 * 1024.0) / (double(ms) / 1000.0) : 0.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? std::max(1, atoi(argv[1])) : 256;
    QTemporaryDir dir;
    const QString file = dir.filePath("setup.exe");
    {
        // A runnable installer: the shell stops at "exit", the rest is padding.
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("#!/bin/sh\nexit 0\n");
        QByteArray block(1 << 20, '#');
        for (int i = 0; i < block.size(); i += 64)
            block[i] = '\n';
        for (qint64 i = 0; i < mib; ++i)
            f.write(block);
    }
    const qint64 bytes = QFile(file).size();

    qint64 oursMs = -1;
    QString digest;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        digest = core::FileSha256(file).value_or(QString());
        oursMs = oursMs < 0 ? t.elapsed() : std::min(oursMs, t.elapsed());
    }
    qint64 peerMs = -1;
    QString peerDigest;
    for (int run = 0; run < 3; ++run) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral("sha256sum"), {file});
        p.waitForFinished(-1);
        peerMs = peerMs < 0 ? t.elapsed() : std::min(peerMs, t.elapsed());
        peerDigest = QString::fromLatin1(p.readAllStandardOutput().split(' ').value(0));
    }
    std::printf("file: %lld MiB, digests %s\n", mib, digest == peerDigest ? "agree" : "DIFFER");
    std::printf("FileSha256: %lld ms (%.0f MiB/s)   sha256sum: %lld ms (%.0f MiB/s)   ratio %.2f\n", oursMs,
                mbPerSecond(bytes, oursMs), peerMs, mbPerSecond(bytes, peerMs),
                peerMs > 0 ? double(oursMs) / double(peerMs) : 0.0);

    // A task checks and runs it; a 10 ms timer on the main thread measures the stalls.
    OVSettings::FileKeepDays = 7;
    TBrimTaskManager mgr;
    auto *task = mgr.Add<TOVTaskItem>();
    task->LocalFile = file;
    task->CurrentSize = task->TotalSize = quint32(bytes);
    task->Sha256 = digest;
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    const qint64 peakBefore = peakKiB();
    QElapsedTimer total;
    mgr.OnItemStateChange = [&](TBrimTaskManager *, TBrimTaskItem &item) {
        if (item.State == OVTaskState::InstallCompleted || item.State == OVTaskState::Failed)
            app.quit();
    };
    QTimer::singleShot(0, [&] {
        gap.start();
        tick.start(10);
        total.start();
        task->Install();
    });
    app.exec();
    const qint64 installMs = total.elapsed();
    std::printf("task: %s in %lld ms; main thread's longest stall %lld ms; peak memory +%lld KiB\n",
                task->State == OVTaskState::InstallCompleted ? "checked and installed" : "FAILED", installMs,
                longest, peakKiB() - peakBefore);
    return task->State == OVTaskState::InstallCompleted ? 0 : 1;
}
