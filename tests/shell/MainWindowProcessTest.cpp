#include "support/Files.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace {

using testsupport::readFile;

bool waitFor(const std::function<bool()> &done, int ms)
{
    return testsupport::waitUntil(done, ms);
}

// The process has its own handler for sig (the kernel's mask of caught signals).
bool catches(qint64 pid, int sig)
{
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
    const qsizetype at = status.indexOf("\nSigCgt:");
    if (at < 0)
        return false;
    const QByteArray mask = status.mid(at + 8, status.indexOf('\n', at + 1) - at - 8).trimmed();
    return (mask.toULongLong(nullptr, 16) >> (sig - 1)) & 1;
}

} // namespace

// The real program in a scratch application folder: a task added at start
// appears in the task list file, and SIGTERM ends the program normally
// (without the handler the signal would kill it) with the list written.
TEST(MainWindowProcess, AddedTaskIsKeptAndSigtermSavesTheListAndEndsNormally)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath("orvane");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_EXE), exe));
    QDir().mkpath(dir.filePath("Config"));
    QFile ini(dir.filePath("Config/Config.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[ORVANE]\r\nAutoInstall=0\r\n");
    ini.close();

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVANE_INSTANCE_TAG", QStringLiteral("-window-test-%1").arg(getpid()));
    env.insert("ORVANE_PROBE_URLS", "http://127.0.0.1:9/");
    p.setProcessEnvironment(env);
    // Port 9 on loopback takes no connections: the download fails at once.
    p.start(exe, {"--add-task", "Probe Tool", "http://127.0.0.1:9/probe.exe", "--select-tab", "3"});
    ASSERT_TRUE(p.waitForStarted());

    const QString list = dir.filePath("Config/OVTasks.ini");
    ASSERT_TRUE(waitFor([&] { return readFile(list).contains("Name=Probe Tool"); }, 20000));
    ASSERT_TRUE(waitFor([&] { return catches(p.processId(), SIGTERM); }, 20000));
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    const QByteArray saved = readFile(list);
    EXPECT_TRUE(saved.contains("Name=Probe Tool")) << saved.constData();
    for (const char *d : {"Config", "Downloads", "Files"})
        EXPECT_TRUE(QFileInfo(dir.filePath(d)).isDir()) << d;
}
