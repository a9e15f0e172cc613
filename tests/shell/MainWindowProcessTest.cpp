#include "core/IniFile.h"
#include "core/OVHistory.h"
#include "core/OVJournal.h"
#include "support/Files.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
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

namespace {

// What the task list file holds for the first task.
struct StoredTask
{
    int state;
    int current;
    int total;
    bool installed;
    bool operator==(const StoredTask &) const = default;
};

void PrintTo(const StoredTask &s, std::ostream *os)
{
    *os << "{State " << s.state << ", " << s.current << "/" << s.total << ", Installed " << s.installed
        << "}";
}

// The real program in a scratch application folder, killed with SIGKILL (no
// handler, no save at exit) and started again. Its installer comes from a
// loopback server that counts the requests; every vendor address fails at
// once, and the desktop's session bus is out of reach.
class KilledProgram : public ::testing::Test
{
protected:
    static constexpr int kDownloaded = 7; // the stored state of a complete download

    void SetUp() override
    {
        testsupport::coreApp();
        ASSERT_TRUE(dir.isValid());
        exe = dir.filePath("orvane");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_EXE), exe));
        ASSERT_TRUE(testsupport::writeFile(dir.filePath("Config/Config.ini"),
                                           "[ORVANE]\r\nAutoInstall=1\r\nFileKeepDays=7\r\n"
                                           "[LANGUAGE]\r\nLanguage=1033\r\n"));
        ASSERT_TRUE(testsupport::writeFile(
            dir.filePath("Langs/1033/Orvane.ini"),
            "[HEAD]\r\nLCID=1033\r\n[LANG_ITEMS]\r\nString.URL.Home=http://127.0.0.1:9/\r\n"
            "String.URL.Help=http://127.0.0.1:9/help.html\r\nString.URL.TopX=http://127.0.0.1:9/soft_api\r\n"
            "String.URL.WAPI=http://127.0.0.1:9/halvex_api\r\n"));
        site.server.Get("/setup.sh", [this](const httplib::Request &, httplib::Response &res) {
            ++requests;
            res.set_content(installer, "application/octet-stream");
        });
        ASSERT_TRUE(site.start());
    }

    void TearDown() override
    {
        for (QProcess *p : {&first, &second})
            if (p->state() != QProcess::NotRunning) {
                p->kill(); // the program this test started, by its pid
                p->waitForFinished(10000);
            }
        // An installer left waiting is let go, then ended by the pid it wrote.
        testsupport::writeFile(release(), {});
        for (const QByteArray &line : readFile(marker()).split('\n'))
            if (const int pid = line.toInt();
                pid > 1 && !testsupport::waitUntil([&] { return ::kill(pid, 0) != 0; }, 5000))
                ::kill(pid, SIGKILL);
    }

    QString marker() const { return dir.filePath("installer-runs"); }
    QString release() const { return dir.filePath("release"); }
    QString list() const { return dir.filePath("Config/OVTasks.ini"); }
    int installerRuns() const { return int(readFile(marker()).count('\n')); }

    // The installer script: notes its run (its pid, one line) and, when asked
    // to, waits until the test lets it go; a long comment gives it the size
    // of a real installer's download.
    void serveInstaller(bool waitForRelease)
    {
        QString script = QStringLiteral("#!/bin/sh\necho $$ >> '%1'\n").arg(marker());
        if (waitForRelease)
            script += QStringLiteral("n=0\nwhile [ ! -e '%1' ] && [ $n -lt 1200 ]; do sleep 0.05; "
                                     "n=$((n+1)); done\n")
                          .arg(release());
        script += QStringLiteral("exit 0\n# ") + QString(200 * 1024, u'x') + u'\n';
        installer = script.toStdString();
    }
    int installerSize() const { return int(installer.size()); }

    void start(QProcess &p, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert(
            "ORVANE_INSTANCE_TAG",
            QStringLiteral("-killed-%1-%2")
                .arg(getpid())
                .arg(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name())));
        env.insert("ORVANE_PROBE_URLS", "http://127.0.0.1:9/");
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.filePath("no-bus"));
        p.setProcessEnvironment(env);
        p.start(exe, args);
        ASSERT_TRUE(p.waitForStarted());
    }

    void killHard(QProcess &p)
    {
        ASSERT_EQ(::kill(pid_t(p.processId()), SIGKILL), 0);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
    }

    // Starts the program again without any task of its own, waits until it has
    // read the list and is ready to be ended, and ends it normally: the list it
    // writes at its exit is the one it showed.
    void restartAndEnd()
    {
        start(second, {"--select-tab", "3"});
        ASSERT_TRUE(waitFor([&] { return catches(second.processId(), SIGTERM); }, 30000));
        ::kill(pid_t(second.processId()), SIGTERM);
        ASSERT_TRUE(second.waitForFinished(20000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
    }

    StoredTask stored() const
    {
        const IniFile ini(list());
        return {ini.readInteger("0", "State", -2), ini.readInteger("0", "CurrentSize", -2),
                ini.readInteger("0", "TotalSize", -2), ini.readBool("0", "Installed", false)};
    }

    QTemporaryDir dir;
    QString exe;
    testsupport::LoopbackServer site;
    std::atomic<int> requests {0};
    std::string installer;
    QProcess first;
    QProcess second;
};

} // namespace

// A download and its install finished, then the program is killed: the list
// on disk already says so, and the next start keeps the task downloaded and
// installed without downloading or installing it again.
TEST_F(KilledProgram, AfterAFinishedInstallTheTaskStaysDownloadedAndInstalled)
{
    serveInstaller(false);
    start(first, {"--add-task", "Crash Tool", site.qurl("/setup.sh"), "--select-tab", "3"});
    const StoredTask done {kDownloaded, installerSize(), installerSize(), true};
    ASSERT_TRUE(waitFor([&] { return installerRuns() == 1 && stored() == done; }, 60000))
        << "runs " << installerRuns() << ", " << ::testing::PrintToString(stored());
    killHard(first);

    EXPECT_EQ(stored(), done);
    const QString file = IniFile(list()).readString("0", "LocalFile");
    EXPECT_TRUE(file.startsWith(dir.filePath("Downloads/"))) << file.toStdString();
    EXPECT_EQ(QFileInfo(file).size(), installerSize());

    restartAndEnd();
    EXPECT_EQ(stored(), done);
    EXPECT_EQ(IniFile(list()).readString("0", "Name"), "Crash Tool");
    EXPECT_EQ(installerRuns(), 1);
    EXPECT_EQ(requests, 1);
}

// Killed while its installer runs: the list holds the completed download, not
// installed, and the next start shows it so and starts nothing by itself.
TEST_F(KilledProgram, DuringAnInstallTheTaskComesBackDownloadedAndNotInstalled)
{
    serveInstaller(true);
    start(first, {"--add-task", "Crash Tool", site.qurl("/setup.sh"), "--select-tab", "3"});
    const StoredTask downloaded {kDownloaded, installerSize(), installerSize(), false};
    ASSERT_TRUE(waitFor([&] { return installerRuns() == 1 && stored() == downloaded; }, 60000))
        << "runs " << installerRuns() << ", " << ::testing::PrintToString(stored());
    killHard(first);
    EXPECT_EQ(stored(), downloaded);

    // The installer outlives the program (a session of its own); it ends
    // before the restart, so a second run could only come from the restart.
    const int installerPid = readFile(marker()).trimmed().toInt();
    ASSERT_GT(installerPid, 1);
    ASSERT_TRUE(testsupport::writeFile(release(), {}));
    ASSERT_TRUE(waitFor([&] { return ::kill(installerPid, 0) != 0; }, 20000));

    restartAndEnd();
    EXPECT_EQ(stored(), downloaded);
    EXPECT_EQ(installerRuns(), 1);
    EXPECT_EQ(requests, 1);
}

// The journal of the same crash: the download is written as ended, the
// install as begun and never ended, so that any later start shows it
// interrupted; the restart neither ends it nor runs it again.
TEST_F(KilledProgram, AnInstallCutShortByTheKillIsInterruptedInTheJournal)
{
    serveInstaller(true);
    start(first, {"--add-task", "Crash Tool", site.qurl("/setup.sh"), "--select-tab", "3"});
    const QString journalFile = dir.filePath("Config/OVJournal.log");
    ASSERT_TRUE(waitFor([&] { return installerRuns() == 1; }, 60000));
    killHard(first);

    auto installs = [&] {
        std::vector<journal::Entry> found;
        for (const journal::Entry &e : journal::Parse(readFile(journalFile)))
            if (e.OperationKind == journal::Kind::Install)
                found.push_back(e);
        return found;
    };
    const std::vector<journal::Entry> entries = journal::Parse(readFile(journalFile));
    ASSERT_EQ(entries.size(), 2u) << readFile(journalFile).constData();
    EXPECT_EQ(entries.back().OperationKind, journal::Kind::Download);
    EXPECT_EQ(entries.back().Outcome, journal::Result::Succeeded);
    EXPECT_EQ(entries.back().What.Source, site.qurl("/setup.sh"));
    ASSERT_EQ(installs().size(), 1u);
    const journal::Entry cut = installs().front();
    EXPECT_EQ(cut.What.Name, "Crash Tool");
    EXPECT_TRUE(cut.What.Command.startsWith(dir.filePath("Downloads/"))) << cut.What.Command.toStdString();
    EXPECT_EQ(cut.Outcome, journal::Result::Interrupted);

    const int installerPid = readFile(marker()).trimmed().toInt();
    ASSERT_GT(installerPid, 1);
    ASSERT_TRUE(testsupport::writeFile(release(), {}));
    ASSERT_TRUE(waitFor([&] { return ::kill(installerPid, 0) != 0; }, 20000));

    restartAndEnd();
    ASSERT_EQ(installs().size(), 1u);
    EXPECT_EQ(installs().front().Id, cut.Id);
    EXPECT_EQ(installs().front().Outcome, journal::Result::Interrupted);
    const std::vector<journal::HistoryRow> rows
        = journal::HistoryRows(journal::Parse(readFile(journalFile)), journal::Kind::Install);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.front().Outcome, journal::Result::Interrupted);
}
