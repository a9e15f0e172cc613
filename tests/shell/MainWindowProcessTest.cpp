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

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(50);
    }
    return true;
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
    QThread::msleep(500);
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    const QByteArray saved = readFile(list);
    EXPECT_TRUE(saved.contains("Name=Probe Tool")) << saved.constData();
    for (const char *d : {"Config", "Downloads", "Files"})
        EXPECT_TRUE(QFileInfo(dir.filePath(d)).isDir()) << d;
}
