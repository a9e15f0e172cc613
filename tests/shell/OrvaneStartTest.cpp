#include "core/BrimSystem.h"
#include "core/OVSingleInst.h"
#include "platform/SingleInstance.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
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
