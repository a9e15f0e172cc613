#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"
#include "core/OVSettings.h"
#include "platform/WinePrefix.h"
#include "platform/Worker.h"
#include "tasks/InstallNotice.h"
#include "tasks/OVTaskItem.h"
#include "tasks/TaskTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tasktest;

namespace {

struct StateLog
{
    std::vector<std::pair<const TBrimTaskItem *, int>> changes;
    void attach(TBrimTaskManager &mgr)
    {
        mgr.OnItemStateChange = [this](TBrimTaskManager *, TBrimTaskItem &item) {
            changes.push_back({&item, item.State});
        };
    }
    std::vector<int> states() const
    {
        std::vector<int> out;
        for (const auto &c : changes)
            if (out.empty() || out.back() != c.second)
                out.push_back(c.second); // one Downloading per block: collapse repeats
        return out;
    }
    bool has(int state) const
    {
        return std::any_of(changes.begin(), changes.end(),
                           [state](const auto &c) { return c.second == state; });
    }
};

class TaskModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApp();
        OVSettings::FileKeepDays = 7;
        log.attach(mgr);
    }
    void TearDown() override { OVSettings::FileKeepDays = 7; }

    TOVTaskItem *addTask(const QString &url, const QString &name = QStringLiteral("task.exe"))
    {
        auto *t = mgr.Add<TOVTaskItem>();
        t->HttpUrl = url;
        t->LocalFile = dir.filePath(name);
        t->ResumeBroken = true;
        return t;
    }

    // A script that returns at once but leaves a grandchild running for a while.
    std::string installerScript(const QString &marker, double sleepSeconds = 0.7)
    {
        return QStringLiteral("#!/bin/sh\n( sleep %1; touch '%2' ) &\nexit 3\n")
            .arg(sleepSeconds)
            .arg(marker)
            .toStdString();
    }

    QTemporaryDir dir;
    TestHttpServer server;
    TBrimTaskManager mgr;
    StateLog log;
};

using S = std::vector<int>;
namespace St = OVTaskState;

TEST_F(TaskModelTest, ManagerOwnsItemsAndReportsEveryStateSet)
{
    EXPECT_EQ(mgr.Items(-1), nullptr);
    EXPECT_EQ(mgr.Items(0), nullptr);
    auto *a = mgr.Add<TOVTaskItem>();
    auto *b = mgr.Add<TOVTaskItem>();
    EXPECT_EQ(mgr.Count(), 2);
    EXPECT_EQ(mgr.Items(1), b);
    EXPECT_EQ(mgr.Items(2), nullptr);
    EXPECT_EQ(a->Manager, &mgr);
    EXPECT_NE(a->Downloader, nullptr);
    EXPECT_EQ(a->State, 0);
    a->SetState(St::Failed);
    a->SetState(St::Failed);
    EXPECT_EQ(log.changes.size(), 2u); // also when the state does not change
    a->Delete();
    EXPECT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0), b);
    mgr.Clear();
    EXPECT_EQ(mgr.Count(), 0);
    EXPECT_EQ(St::Key(St::NotDownloaded), "String.TaskState.NotDownloaded");
    EXPECT_EQ(St::DefaultText(St::Downloading), "Downloading... | %s/s");
    EXPECT_EQ(St::Key(10), "");
}

TEST_F(TaskModelTest, AutomaticInstallWaitsForTheWholeProcessTree)
{
    OVSettings::FileKeepDays = 0;
    const QString marker = dir.filePath("grandchild-done");
    server.script = installerScript(marker);
    auto *t = addTask(server.url("/script"));
    t->AutoInstall = true;
    bool markerAtCompletion = false;
    mgr.OnItemStateChange = [&](TBrimTaskManager *, TBrimTaskItem &item) {
        log.changes.push_back({&item, item.State});
        if (item.State == St::InstallCompleted)
            markerAtCompletion = QFile::exists(marker);
    };
    t->Start();
    ASSERT_TRUE(waitUntil([&] { return log.has(St::InstallCompleted) || log.has(St::Failed); }));
    EXPECT_EQ(log.states(),
              (S {St::StartDownload, St::Downloading, St::DownloadCompleted, St::StartInstall, St::Installing,
                  St::InstallCompleted}));
    EXPECT_TRUE(markerAtCompletion);
    EXPECT_TRUE(t->Installed);
    EXPECT_EQ(t->CurrentSize, quint32(server.script.size()));
    EXPECT_EQ(t->TotalSize, t->CurrentSize);
    EXPECT_FALSE(QFile::exists(t->LocalFile)); // FileKeepDays 0: the installer is removed
}

TEST_F(TaskModelTest, DownloadOnlyNeverInstallsAndGatedCommandsDoNothing)
{
    server.script = "#!/bin/sh\nexit 0\n";
    auto *t = addTask(server.url("/script"));
    t->AutoInstall = true;
    EXPECT_TRUE(t->Download());
    ASSERT_TRUE(waitUntil([&] { return log.has(St::DownloadCompleted); }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(t->State, St::DownloadCompleted);
    const size_t seen = log.changes.size();
    t->Stop();
    t->Pause();
    t->Resume();
    EXPECT_EQ(log.changes.size(), seen);

    // Installing by command, with files kept: the file stays, Installed is set.
    t->Install();
    ASSERT_TRUE(waitUntil([&] { return log.has(St::InstallCompleted); }));
    EXPECT_TRUE(t->Installed);
    EXPECT_TRUE(QFile::exists(t->LocalFile));
}

TEST_F(TaskModelTest, FilesThatCannotRunFailAtOnce)
{
    OVSettings::FileKeepDays = 0;
    auto *t = addTask(QString());
    ASSERT_TRUE(writeFile(t->LocalFile, "just some text\n"));
    t->Install();
    EXPECT_EQ(log.states(), (S {St::StartInstall, St::Installing, St::Failed}));
    EXPECT_TRUE(t->Installed);
    EXPECT_FALSE(QFile::exists(t->LocalFile));

    EXPECT_TRUE(tasks::installerCommand(dir.filePath("missing")).isEmpty());
    ASSERT_TRUE(writeFile(dir.filePath("pe.exe"), QByteArray("MZ\x90\x00", 4)));
    const QStringList pe = tasks::installerCommand(dir.filePath("pe.exe"));
    if (!pe.isEmpty()) {
        EXPECT_TRUE(pe.contains(platform::wineProgram()));
        EXPECT_EQ(pe.last(), dir.filePath("pe.exe"));
    }
}

// Without Wine a Windows installer fails at once, saying which package to install.
TEST_F(TaskModelTest, AWindowsInstallerWithoutWineFailsNamingThePackage)
{
    TBrimMultiLangs langs;
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    SetOVMultiLangs(&langs);
    qputenv("ORVANE_WINE", dir.filePath("no-wine-here").toUtf8());
    auto *t = addTask(QString());
    t->Name = QStringLiteral("NoteLark");
    ASSERT_TRUE(writeFile(t->LocalFile, QByteArray("MZ\x90\x00", 4)));
    t->Install();
    qunsetenv("ORVANE_WINE");
    EXPECT_EQ(log.states(), (S {St::StartInstall, St::Installing, St::Failed}));
    EXPECT_TRUE(t->InstallError.contains(QStringLiteral("NoteLark"))) << t->InstallError.toStdString();
    EXPECT_TRUE(t->InstallError.contains(QStringLiteral("\"wine\""))) << t->InstallError.toStdString();
    EXPECT_TRUE(tasks::InstallNotice(t->Name, false, t->InstallError).Body == t->InstallError);
    // Without a reason the notice says only what failed.
    EXPECT_EQ(tasks::InstallNotice(t->Name, false, {}).Body,
              QStringLiteral("NoteLark could not be installed."));
    SetOVMultiLangs(nullptr);
}

TEST_F(TaskModelTest, FailedDownloadEndsInFailed)
{
    auto *t = addTask(server.url("/missing"));
    t->Start();
    ASSERT_TRUE(waitUntil([&] { return log.has(St::Failed); }));
    EXPECT_EQ(log.states(), (S {St::StartDownload, St::Failed}));
}

TEST_F(TaskModelTest, PauseResumeAndDeleteDuringDownload)
{
    server.size = 1 << 20;
    server.chunkSize = 2048;
    server.chunkDelayMs = 10;
    auto *t = addTask(server.url());
    t->Resume(); // not paused: nothing
    t->Start();
    ASSERT_TRUE(waitUntil([&] { return t->State == St::Downloading; }));
    t->Resume();
    EXPECT_EQ(t->State, St::Downloading);
    t->Pause();
    EXPECT_EQ(t->State, St::DownloadPaused);
    t->Pause();
    EXPECT_EQ(log.changes.back().second, St::DownloadPaused);
    t->Resume();
    EXPECT_EQ(t->State, St::DownloadResumed);
    ASSERT_TRUE(waitUntil([&] { return t->State == St::Downloading; }));

    const QString file = t->LocalFile;
    ASSERT_TRUE(QFile::exists(file + ".rb"));
    const TBrimTaskItem *gone = t;
    t->Delete();
    EXPECT_EQ(mgr.Count(), 0);
    EXPECT_EQ(log.changes.back(), std::make_pair(gone, int(St::DownloadStopped)));
    const size_t seen = log.changes.size();
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(file) && !QFile::exists(file + ".rb"); }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(log.changes.size(), seen);
}

TEST_F(TaskModelTest, DeleteWhileStartingLeavesNoFilesBehind)
{
    server.size = 1 << 20;
    server.chunkDelayMs = 50;
    auto *t = addTask(server.url());
    const QString file = t->LocalFile;
    t->Start();
    ASSERT_TRUE(waitUntil([&] { return t->State == St::StartDownload; }));
    t->Delete(); // not yet Downloading: no OnStopped, but the run must end
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(file) && !QFile::exists(file + ".rb"); }));
}

TEST_F(TaskModelTest, TasksFreedWhileInstallingAreNeverTouchedAgain)
{
    auto *deleted = addTask(QString(), QStringLiteral("a.sh"));
    auto *cleared = addTask(QString(), QStringLiteral("b.sh"));
    for (TOVTaskItem *t : {deleted, cleared})
        ASSERT_TRUE(
            writeFile(t->LocalFile, QByteArray::fromStdString(installerScript(dir.filePath("x"), 0.5))));
    deleted->Install();
    cleared->Install();
    EXPECT_EQ(deleted->State, St::Installing);
    EXPECT_TRUE(deleted->InstallRunning());
    const QString fileA = deleted->LocalFile;
    deleted->Delete();
    EXPECT_FALSE(QFile::exists(fileA));
    mgr.Clear();
    const size_t seen = log.changes.size();
    // Once the install threads have ended, anything they handed over has run:
    // their results must have been dropped.
    ASSERT_TRUE(waitUntil([] { return platform::Worker::live() == 0; }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(log.changes.size(), seen);
}

} // namespace
