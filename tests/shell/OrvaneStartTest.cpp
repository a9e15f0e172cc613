#include "core/BrimSystem.h"
#include "core/OVSingleInst.h"
#include "platform/SingleInstance.h"
#include "support/Files.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <set>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Each test runs a private copy of the program in a scratch application
// folder, under an instance name of its own.
class OrvaneStart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        exe = dir.filePath("orvane");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_EXE), exe));
        tag = QStringLiteral("-test-%1-%2")
                  .arg(getpid())
                  .arg(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("ORVANE_INSTANCE_TAG", tag);
    }

    void start(QProcess &p, const QStringList &args)
    {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(exe, args);
        ASSERT_TRUE(p.waitForStarted());
    }

    bool waitUntilListening(int ms = 10000)
    {
        const QString name = QString::fromLatin1(kInstanceName) + tag;
        return testsupport::waitUntil([&] { return platform::SingleInstanceLock::isListening(name); }, ms);
    }

    static QByteArray finish(QProcess &p, int ms = 20000)
    {
        EXPECT_TRUE(p.waitForFinished(ms));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
        return p.readAllStandardOutput().trimmed();
    }

    QTemporaryDir dir;
    QString exe;
    QString tag;
    QProcessEnvironment env;
};

using testsupport::writeFile;

// Names of the files opened in one folder, as the kernel reports them.
class OpenedFiles
{
public:
    explicit OpenedFiles(const QString &folder)
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0 && inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_OPEN) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OpenedFiles()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool watching() const { return m_fd >= 0; }
    bool contains(const QString &name)
    {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while (m_fd >= 0 && (n = ::read(m_fd, buffer, sizeof buffer)) > 0)
            for (char *p = buffer; p < buffer + n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(p);
                if (e->len > 0)
                    m_names.insert(QFile::decodeName(e->name));
                p += sizeof(inotify_event) + e->len;
            }
        return m_names.count(name) > 0;
    }

private:
    int m_fd = -1;
    std::set<QString> m_names;
};

// The program has its own handler for sig (the kernel's mask of caught signals).
bool catches(qint64 pid, int sig)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("\nSigCgt:");
    if (at < 0)
        return false;
    const QByteArray mask = text.mid(at + 8, text.indexOf('\n', at + 1) - at - 8).trimmed();
    return (mask.toULongLong(nullptr, 16) >> (sig - 1)) & 1;
}

// A scratch application folder whose every address stays on loopback and
// fails at once, with one program in the user's uninstall list: the Uninstall
// tab reads that hive when it is first shown, and nothing else does.
class OrvanePopup : public OrvaneStart
{
protected:
    void SetUp() override
    {
        OrvaneStart::SetUp();
        env.insert("ORVANE_PROBE_URLS", "http://127.0.0.1:9/");
        ASSERT_TRUE(writeFile(dir.filePath("Config/Config.ini"), "[LANGUAGE]\r\nLanguage=1033\r\n"));
        ASSERT_TRUE(writeFile(dir.filePath("Langs/1033/Orvane.ini"),
                              "[HEAD]\r\nLCID=1033\r\n[LANG_ITEMS]\r\nString.URL.Home=http://127.0.0.1:9/\r\n"
                              "String.URL.Help=http://127.0.0.1:9/help.html\r\n"
                              "String.URL.TopX=http://127.0.0.1:9/soft_api\r\n"
                              "String.URL.WAPI=http://127.0.0.1:9/halvex_api\r\n"));
        ASSERT_TRUE(writeFile(dir.filePath("Registry/HKEY_CURRENT_USER.reg"),
                              "WINE REGISTRY Version 2\n\n"
                              "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Probe] 1\n"
                              "\"DisplayName\"=\"Probe Tool\"\n\"UninstallString\"=\"/bin/true\"\n"));
    }

    // Starts the first instance and waits until it takes codes; its report
    // comes when SIGTERM ends it.
    void startFirst(QProcess &first)
    {
        start(first, {"--quit-after", "600000"});
        ASSERT_TRUE(waitUntilListening(20000));
    }
    static QByteArray endFirst(QProcess &first)
    {
        EXPECT_EQ(first.state(), QProcess::Running) << "the first instance keeps running";
        EXPECT_TRUE(testsupport::waitUntil([&] { return catches(first.processId(), SIGTERM); }, 20000));
        ::kill(pid_t(first.processId()), SIGTERM);
        return finish(first);
    }
    // A later start hands its arguments over and ends at once with success.
    void handOver(const QStringList &args)
    {
        QElapsedTimer clock;
        clock.start();
        QProcess later;
        start(later, args);
        EXPECT_EQ(finish(later, 10000), "");
        EXPECT_LT(clock.elapsed(), 5000);
    }
};

} // namespace

TEST_F(OrvaneStart, CarriesItsVersion)
{
    EXPECT_EQ(GetFileVersionText(exe), "1.0.0.1541");
    QProcess p;
    start(p, {"--version"});
    EXPECT_EQ(finish(p), "Orvane 1.0.0.1541");
}

TEST_F(OrvaneStart, StartsCreatesItsFoldersAndEnds)
{
    QDir().mkpath(dir.filePath("Config"));
    QFile ini(dir.filePath("Config/Config.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QString("[LANGUAGE]\r\nLanguage=67588\r\n[ORVANE]\r\nDownloadsDir=%1/My Downloads/\r\n")
                  .arg(dir.path())
                  .toUtf8());
    ini.close();

    QProcess p;
    start(p, {"--quit-after", "800", "-popup", "77939"});
    EXPECT_EQ(finish(p), "orvane: tab 2, handed over 0, language 2052");
    for (const char *d : {"Config", "Downloads", "Files", "My Downloads"})
        EXPECT_TRUE(QFileInfo(dir.filePath(d)).isDir()) << d;
}

// A packaged program's folder is read-only for its users: the first start makes
// the user's folder and records the user's language there; later starts keep
// what the user changed.
TEST_F(OrvaneStart, InstalledProgramKeepsItsFilesInTheUsersFolder)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    QFile marker(dir.filePath("installed-layout"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    env.insert("XDG_DATA_HOME", data.path());
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        env.remove(name);
    env.insert("LANG", "zh_CN.UTF-8");
    const QString user = data.filePath("orvane/");

    QProcess first;
    start(first, {"--quit-after", "800"});
    EXPECT_EQ(finish(first), "orvane: tab 0, handed over 0, language 2052");
    for (const char *d : {"Config", "Downloads", "Files"}) {
        EXPECT_TRUE(QFileInfo(user + d).isDir()) << d;
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(d))) << d;
    }
    EXPECT_TRUE(QFileInfo::exists(user + "Config/OVTasks.ini"));

    QFile ini(user + "Config/Config.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[LANGUAGE]\r\nLanguage=1033\r\n");
    ini.close();
    QProcess second;
    start(second, {"--quit-after", "800"});
    EXPECT_EQ(finish(second), "orvane: tab 0, handed over 0, language 1033");
}

// The package's layout: the program in lib/orvane/ beside its marker and the
// relative link Langs -> ../../share/orvane/Langs to the shared data, started
// through the link bin/orvane on PATH. It finds its folder through the link,
// reads its language file through the other one and writes only into the
// user's folder.
TEST_F(OrvaneStart, PackagedProgramStartedThroughItsLinkReadsTheSharedData)
{
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QString lib = dir.filePath("lib/orvane/");
    const QString share = dir.filePath("share/orvane/");
    ASSERT_TRUE(QDir().mkpath(lib) && QDir().mkpath(dir.filePath("bin")));
    ASSERT_TRUE(QFile::rename(exe, lib + "orvane"));
    ASSERT_TRUE(writeFile(lib + "installed-layout", ""));
    ASSERT_TRUE(writeFile(share + "Langs/2052/Orvane.ini",
                          "[HEAD]\r\nLCID=2052\r\n[LANG_ITEMS]\r\nString.URL.Home=http://127.0.0.1:9/\r\n"
                          "String.URL.Help=http://127.0.0.1:9/help.html\r\n"
                          "String.URL.TopX=http://127.0.0.1:9/soft_api\r\n"
                          "String.URL.WAPI=http://127.0.0.1:9/halvex_api\r\n"));
    ASSERT_TRUE(QFile::link("../../share/orvane/Langs", lib + "Langs"));
    ASSERT_TRUE(QFile::link("../lib/orvane/orvane", dir.filePath("bin/orvane")));
    exe = dir.filePath("bin/orvane");
    env.insert("ORVANE_PROBE_URLS", "http://127.0.0.1:9/");
    env.insert("XDG_DATA_HOME", data.path());
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        env.remove(name);
    env.insert("LANG", "zh_CN.UTF-8");

    OpenedFiles opened(share + "Langs/2052");
    ASSERT_TRUE(opened.watching());
    QProcess p;
    start(p, {"--quit-after", "800"});
    EXPECT_EQ(finish(p), "orvane: tab 0, handed over 0, language 2052");
    EXPECT_TRUE(opened.contains("Orvane.ini")) << "the language file read through lib/orvane/Langs";
    EXPECT_TRUE(QFileInfo(data.filePath("orvane/Config/Config.ini")).isFile());
    const auto entries = [](const QString &folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                      QDir::Name);
    };
    EXPECT_EQ(entries(lib), (QStringList {"Langs", "installed-layout", "orvane"}));
    EXPECT_EQ(entries(share), QStringList {"Langs"});
    EXPECT_EQ(entries(share + "Langs/2052"), QStringList {"Orvane.ini"});
}

TEST_F(OrvaneStart, SecondStartHandsItsPopupCodeToTheFirst)
{
    QProcess first;
    start(first, {"--quit-after", "4000"});
    ASSERT_TRUE(waitUntilListening());

    QElapsedTimer clock;
    clock.start();
    QProcess second;
    start(second, {"-popup", "77938"});
    EXPECT_EQ(finish(second, 10000), ""); // ends at once, shows nothing
    EXPECT_LT(clock.elapsed(), 5000);

    QProcess third; // without a code: only brings the window to the front
    start(third, {});
    EXPECT_EQ(finish(third, 10000), "");

    EXPECT_EQ(finish(first), "orvane: tab 1, handed over 2, language 0");
}

TEST_F(OrvaneStart, OfSimultaneousStartsExactlyOneRuns)
{
    QProcess a;
    QProcess b;
    start(a, {"--quit-after", "2000"});
    start(b, {"--quit-after", "2000"});
    const QByteArray outA = finish(a);
    const QByteArray outB = finish(b);
    EXPECT_EQ(int(outA.startsWith("orvane: ")) + int(outB.startsWith("orvane: ")), 1)
        << outA.constData() << " / " << outB.constData();
    EXPECT_TRUE(outA.isEmpty() || outB.isEmpty());
}

TEST_F(OrvanePopup, UninstallCodeSwitchesTheRunningProgramToTheUninstallTab)
{
    OpenedFiles opened(dir.filePath("Registry"));
    ASSERT_TRUE(opened.watching());
    QProcess first;
    startFirst(first);
    EXPECT_FALSE(opened.contains("HKEY_CURRENT_USER.reg"));

    handOver({"-popup", "77939"});
    // The tab's first showing lists the installed programs.
    EXPECT_TRUE(testsupport::waitUntil([&] { return opened.contains("HKEY_CURRENT_USER.reg"); }, 20000));
    EXPECT_EQ(endFirst(first), "orvane: tab 2, handed over 1, language 1033");
}

TEST_F(OrvanePopup, OtherCodesAndNoCodeLeaveTheTabAlone)
{
    OpenedFiles opened(dir.filePath("Registry"));
    ASSERT_TRUE(opened.watching());
    QProcess first;
    startFirst(first);
    handOver({"-popup", "12345"});
    handOver({"-popup"});
    handOver({});
    // Every hand-over has been taken when the report comes (it counts them).
    EXPECT_EQ(endFirst(first), "orvane: tab 0, handed over 3, language 1033");
    EXPECT_FALSE(opened.contains("HKEY_CURRENT_USER.reg"));
}
