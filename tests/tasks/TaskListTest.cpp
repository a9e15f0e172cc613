#include "core/IniFile.h"
#include "core/OVSettings.h"
#include "platform/AppPath.h"
#include "tasks/Clock.h"
#include "tasks/OVDownloadTasks.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"
#include "tasks/TaskTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

using namespace tasktest;
namespace St = OVTaskState;

namespace {

class TaskListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApp();
        platform::setApplicationDirectoryOverride(dir.path() + "/app/");
        OVSettings::ResetSettings();
    }
    void TearDown() override
    {
        OVSettings::ResetSettings();
        platform::setApplicationDirectoryOverride(QString());
    }

    TOVTaskItem *addTask(TBrimTaskManager &mgr, const QString &name, quint32 current, quint32 total,
                         bool createFile, double date = OleDateNow())
    {
        auto *t = mgr.Add<TOVTaskItem>();
        t->Name = name;
        t->Description = name + " description";
        t->HttpUrl = "http://example.invalid/" + name;
        t->LocalFile = dir.filePath(name + ".exe");
        t->CurrentSize = current;
        t->TotalSize = total;
        t->DownloadDate = date;
        if (createFile) {
            writeFile(t->LocalFile, QByteArray(int(std::min<quint32>(current, 100)), 'x'));
            writeFile(t->LocalFile + ".rb", QByteArray(8, 0));
        }
        return t;
    }

    QString listFile() const { return dir.filePath("app/Config/OVTasks.ini"); }

    QTemporaryDir dir;
};

TEST_F(TaskListTest, RoundTripWithNormalisedStatesAndSectionOrder)
{
    TBrimTaskManager mgr;
    auto *done = addTask(mgr, "Done", 5000, 5000, true, 45000.25);
    done->State = St::InstallCompleted;
    done->Installed = true;
    addTask(mgr, "Half", 3000, 0xF0000000u, true)->State = St::Downloading;
    addTask(mgr, "Gone", 10, 20, false)->State = St::DownloadPaused;
    addTask(mgr, "Never", 0, 0, true)->State = St::StartDownload;
    ASSERT_TRUE(SaveTaskList(mgr));

    const QByteArray text = readFile(listFile());
    const QList<QByteArray> lines = text.split('\n');
    QStringList sections;
    for (const QByteArray &l : lines)
        if (l.startsWith('['))
            sections << QString::fromUtf8(l.trimmed());
    EXPECT_EQ(sections, (QStringList {"[0]", "[COUNT]", "[1]", "[2]", "[3]"}));
    EXPECT_TRUE(
        text.startsWith("[0]\r\nDownloadDate=45000.25\r\nName=Done\r\nDescription=Done description\r\n"
                        "HttpUrl=http://example.invalid/Done\r\nLocalFile="));
    IniFile ini(listFile());
    EXPECT_EQ(ini.readInteger("COUNT", "N", 0), 4);
    EXPECT_EQ(ini.readInteger("0", "State", 99), St::DownloadCompleted);
    EXPECT_EQ(ini.readInteger("1", "State", 99), St::DownloadStopped);
    EXPECT_EQ(ini.readInteger("2", "State", 99), St::NotDownloaded);
    EXPECT_EQ(ini.readInteger("3", "State", 99), St::DownloadStopped); // no length known yet
    EXPECT_EQ(ini.readString("1", "TotalSize"), "-268435456"); // stored signed

    OVSettings::FileKeepDays = -1;
    OVSettings::ResumeBroken = false;
    TBrimTaskManager loaded;
    addTask(loaded, "stale", 0, 0, false);
    LoadTaskList(loaded);
    ASSERT_EQ(loaded.Count(), 4);
    auto *t0 = static_cast<TOVTaskItem *>(loaded.Items(0));
    auto *t1 = static_cast<TOVTaskItem *>(loaded.Items(1));
    EXPECT_EQ(t0->Name, "Done");
    EXPECT_EQ(t0->Description, "Done description");
    EXPECT_EQ(t0->HttpUrl, "http://example.invalid/Done");
    EXPECT_EQ(t0->LocalFile, done->LocalFile);
    EXPECT_DOUBLE_EQ(t0->DownloadDate, 45000.25);
    EXPECT_EQ(t0->State, St::DownloadCompleted);
    EXPECT_TRUE(t0->Installed);
    EXPECT_FALSE(t0->AutoInstall);
    EXPECT_FALSE(t0->ResumeBroken);
    EXPECT_EQ(t1->TotalSize, 0xF0000000u);
    EXPECT_EQ(t1->CurrentSize, 3000u);
    EXPECT_FALSE(t1->Installed);

    // Clear All then restart: empty file, empty list.
    loaded.Clear();
    ASSERT_TRUE(SaveTaskList(loaded));
    EXPECT_EQ(QFileInfo(listFile()).size(), 0);
    TBrimTaskManager again;
    LoadTaskList(again);
    EXPECT_EQ(again.Count(), 0);
}

TEST_F(TaskListTest, CleanUpByAgeAndByInstalled)
{
    struct Case
    {
        int keepDays;
        double ageDays;
        bool installed;
        bool dropped;
    } cases[] = {
        // Just past the limit (a whole 7 days can read as a hair less after rounding), and just short of it.
        {7, 7.0 + 1.0 / 1440, false, true},
        {7, 6.0 + 23.0 / 24, false, false},
        {7, 30.0, true, true},
        {0, 100.0, false, false},
        {0, 0.0, true, true},
        {-1, 1000.0, true, false},
        {-5, 1000.0, true, false}, // not a number of days: nothing is removed
        {7, -8.0, false, true}, // dates in the future count by distance
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.keepDays << " days, age " << c.ageDays << ", installed " << c.installed);
        TBrimTaskManager mgr;
        addTask(mgr, "keep", 10, 10, true, OleDateNow() - 1000)->Installed = false;
        auto *t = addTask(mgr, "probe", 10, 10, true, OleDateNow() - c.ageDays);
        t->Installed = c.installed;
        const QString file = t->LocalFile;
        ASSERT_TRUE(SaveTaskList(mgr));

        OVSettings::FileKeepDays = c.keepDays;
        TBrimTaskManager loaded;
        LoadTaskList(loaded);
        bool found = false;
        for (int i = 0; i < loaded.Count(); ++i)
            found = found || loaded.Items(i)->Name == "probe";
        EXPECT_EQ(found, !c.dropped);
        EXPECT_EQ(QFile::exists(file), !c.dropped);
        EXPECT_EQ(QFile::exists(file + ".rb"), !c.dropped);
        IniFile ini(listFile());
        EXPECT_EQ(ini.sectionExists("1"), !c.dropped); // erased from the file at once
        EXPECT_EQ(ini.readInteger("COUNT", "N", 0), 2);
    }
}

TEST_F(TaskListTest, DamagedFilesLoadWithDefaults)
{
    QDir().mkpath(dir.filePath("app/Config"));
    const double now = OleDateNow();
    const QString comma = QString::number(now - 1, 'f', 6).replace('.', ',');
    ASSERT_TRUE(writeFile(listFile(),
                          QStringLiteral("[0]\nDownloadDate=%1\nName=Comma\nState=banana\n"
                                         "CurrentSize=99999999999\n[COUNT]\nN=2000000000\n"
                                         "[2]\nName=Third\nDownloadDate=%2\n[x]\n")
                              .arg(comma, QString::number(now, 'g', 15))
                              .toUtf8()));
    // Section 1 is missing: an empty task; the absurd count stops at the last section.
    OVSettings::FileKeepDays = -1;
    TBrimTaskManager all;
    LoadTaskList(all);
    ASSERT_EQ(all.Count(), 3);
    EXPECT_EQ(all.Items(1)->Name, "");
    EXPECT_EQ(all.Items(1)->State, St::NotDownloaded);

    // With clean-up on, the empty task has no date, so it counts as old.
    OVSettings::FileKeepDays = 7;
    TBrimTaskManager mgr;
    LoadTaskList(mgr);
    ASSERT_EQ(mgr.Count(), 2);
    auto *t0 = static_cast<TOVTaskItem *>(mgr.Items(0));
    EXPECT_EQ(t0->Name, "Comma"); // a locale's comma still reads as a recent date
    EXPECT_NEAR(t0->DownloadDate, now - 1, 1e-3);
    EXPECT_EQ(t0->State, St::NotDownloaded);
    EXPECT_EQ(t0->CurrentSize, 0u);
    EXPECT_EQ(mgr.Items(1)->Name, "Third");

    double d = 0;
    EXPECT_FALSE(OleDateFromText("nan", &d));
    EXPECT_FALSE(OleDateFromText("inf", &d));
    EXPECT_FALSE(OleDateFromText("", &d));
    EXPECT_TRUE(OleDateFromText("45000.5", &d));
    EXPECT_EQ(d, 45000.5);
    EXPECT_EQ(OleDateToText(45000.5), "45000.5");
    EXPECT_DOUBLE_EQ(OleDateFromDateTime(QDateTime(QDate(1900, 1, 1), QTime(12, 0))), 2.5);

    // A missing file leaves the manager alone.
    QFile::remove(listFile());
    LoadTaskList(mgr);
    EXPECT_EQ(mgr.Count(), 2);
}

// A damaged count or section number must not turn into millions of tasks: the
// tasks come from the sections present, and missing numbers among them give no
// more empty tasks than there are sections.
TEST_F(TaskListTest, DamagedCountsStayBoundedByTheSectionsPresent)
{
    struct Case
    {
        const char *name;
        QByteArray file;
        QStringList names; // of the loaded tasks, in order
    } cases[] = {
        // Once took minutes at start and then wrote a 7 MB list.
        {"huge count, one far section", "[COUNT]\nN=2147483647\n[60000]\n", {"", ""}},
        {"largest section number", "[COUNT]\nN=2147483647\n[2147483646]\nName=Far\n", {"", "Far"}},
        {"holes beyond the budget", "[COUNT]\nN=100\n[3]\nName=A\n[50]\nName=B\n", {"", "", "A", "B"}},
        {"one hole", "[COUNT]\nN=3\n[0]\nName=A\n[2]\nName=C\n", {"A", "", "C"}},
        {"count below the sections", "[COUNT]\nN=2\n[1]\nName=B\n[0]\nName=A\n[2]\nName=C\n", {"A", "B"}},
        {"negative count", "[COUNT]\nN=-5\n[0]\nName=A\n", {}},
        {"names that are not numbers", "[COUNT]\nN=9\n[01]\n[-0]\n[ 4x]\n[+2]\n", {}},
    };
    ASSERT_EQ(cases[0].file.size(), 29);
    QDir().mkpath(dir.filePath("app/Config"));
    OVSettings::FileKeepDays = -1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFile(listFile(), c.file));
        QElapsedTimer timer;
        timer.start();
        TBrimTaskManager mgr;
        LoadTaskList(mgr);
        QStringList names;
        for (int i = 0; i < mgr.Count(); ++i)
            names << mgr.Items(i)->Name;
        EXPECT_EQ(names, c.names);
        ASSERT_TRUE(SaveTaskList(mgr));
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_LT(QFileInfo(listFile()).size(), 1000);
        EXPECT_EQ(IniFile(listFile()).readInteger("COUNT", "N", 0), c.names.isEmpty() ? 0 : c.names.size());
    }
}

// The vendor's digest and where a file came from survive a restart; a list
// from before they were kept judges its files by their address, and a damaged
// digest stays one that never matches instead of turning into no digest.
TEST_F(TaskListTest, DigestsAndOriginsRoundTripAndOldListsStayCautious)
{
    const QString digest = QString(64, 'c');
    TBrimTaskManager mgr;
    auto *checked = addTask(mgr, "Checked", 10, 10, true);
    checked->Sha256 = digest;
    checked->PlainHttpHost = "mirror.example";
    addTask(mgr, "Secure", 10, 10, true)->HttpUrl = "http://example.invalid/redirected-to-tls";
    addTask(mgr, "Nothing yet", 0, 0, false)->PlainHttpHost = "mirror.example";
    ASSERT_TRUE(SaveTaskList(mgr));
    const QByteArray text = readFile(listFile());
    EXPECT_TRUE(
        text.contains("Installed=0\r\nSha256=" + digest.toLatin1() + "\r\nPlainHttpHost=mirror.example\r\n"));
    EXPECT_TRUE(text.contains("Name=Secure\r\n"));
    EXPECT_EQ(text.count("Sha256="), 1);
    EXPECT_EQ(text.count("PlainHttpHost="), 2); // a task without a file has no origin to keep

    TBrimTaskManager back;
    LoadTaskList(back);
    ASSERT_EQ(back.Count(), 3);
    const auto task = [&](int i) { return dynamic_cast<TOVTaskItem *>(back.Items(i)); };
    EXPECT_EQ(task(0)->Sha256, digest);
    EXPECT_EQ(task(0)->PlainHttpHost, "mirror.example");
    EXPECT_FALSE(task(0)->NeedsConsent()); // the digest decides
    EXPECT_EQ(task(1)->Sha256, "");
    EXPECT_EQ(task(1)->PlainHttpHost, ""); // as it was, not as the address suggests
    EXPECT_FALSE(task(1)->NeedsConsent());

    // A list written before digests: no keys at all (and no dates: nothing is dropped).
    OVSettings::FileKeepDays = -1;
    ASSERT_TRUE(
        writeFile(listFile(),
                  "[0]\r\nName=Old plain\r\nHttpUrl=http://vendor.example/a.exe\r\nState=7\r\n"
                  "[COUNT]\r\nN=4\r\n"
                  "[1]\r\nName=Old tls\r\nHttpUrl=https://vendor.example/a.exe\r\n"
                  "[2]\r\nName=Old here\r\nHttpUrl=http://127.0.0.1:8770/a.exe\r\n"
                  "[3]\r\nName=Damaged\r\nHttpUrl=https://vendor.example/a.exe\r\nSha256= C0FFEE \r\n"));
    LoadTaskList(back);
    ASSERT_EQ(back.Count(), 4);
    EXPECT_EQ(task(0)->PlainHttpHost, "vendor.example");
    EXPECT_TRUE(task(0)->NeedsConsent());
    EXPECT_EQ(task(1)->PlainHttpHost, "");
    EXPECT_EQ(task(2)->PlainHttpHost, "");
    EXPECT_EQ(task(3)->Sha256, "?C0FFEE");
    EXPECT_FALSE(task(3)->NeedsConsent()); // checked, and it cannot match
}

// A long list is written and read back whole and in order.
TEST_F(TaskListTest, LongListRoundTrips)
{
    constexpr int count = 5000;
    OVSettings::FileKeepDays = -1; // the fixed dates below are long past
    TBrimTaskManager mgr;
    for (int i = 0; i < count; ++i)
        addTask(mgr, QStringLiteral("Task %1").arg(i), quint32(i), 5000, false, 45000.5);
    ASSERT_TRUE(SaveTaskList(mgr));
    const QByteArray text = readFile(listFile());
    TBrimTaskManager back;
    LoadTaskList(back);

    EXPECT_EQ(text.count("\r\n["), count); // every task section and COUNT, one header each
    EXPECT_TRUE(text.startsWith("[0]\r\n"));
    EXPECT_TRUE(text.contains("Installed=0\r\n[COUNT]\r\nN=5000\r\n[1]\r\n"));
    EXPECT_TRUE(
        text.endsWith(QStringLiteral("[4999]\r\nDownloadDate=45000.5\r\nName=Task 4999\r\n"
                                     "Description=Task 4999 description\r\n"
                                     "HttpUrl=http://example.invalid/Task 4999\r\nLocalFile=%1\r\n"
                                     "CurrentSize=4999\r\nTotalSize=5000\r\nState=-1\r\nInstalled=0\r\n")
                          .arg(dir.filePath("Task 4999.exe"))
                          .toUtf8()));
    ASSERT_EQ(back.Count(), count);
    for (int i = 0; i < count; i += 499)
        EXPECT_EQ(back.Items(i)->Name, QStringLiteral("Task %1").arg(i));
    EXPECT_EQ(static_cast<TOVTaskItem *>(back.Items(count - 1))->CurrentSize, quint32(count - 1));
}

TEST_F(TaskListTest, KeeperSavesAfterAddDeleteClearAndOnTermination)
{
    TestHttpServer server;
    TBrimTaskManager mgr;
    TOVTaskListKeeper keeper(mgr);
    OVSettings::DownloadsDir = dir.filePath("dl");
    OVSettings::AutoInstall = false;
    auto *t = AddDownloadTask(mgr, "First App", server.url());
    EXPECT_EQ(IniFile(listFile()).readString("0", "Name"), "First App");
    ASSERT_TRUE(waitUntil([&] { return t->State == St::DownloadCompleted; }));
    AddDownloadTask(mgr, "Second", server.url("/missing"));
    EXPECT_EQ(IniFile(listFile()).readInteger("COUNT", "N", 0), 2);

    t->Delete();
    EXPECT_EQ(IniFile(listFile()).readString("0", "Name"), "Second");
    EXPECT_EQ(IniFile(listFile()).readInteger("COUNT", "N", 0), 1);

    // Progress is written when the process is asked to end.
    auto *third = mgr.Add<TOVTaskItem>();
    third->Name = "Third";
    keeper.HandleTerminationSignals();
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return IniFile(listFile()).readInteger("COUNT", "N", 0) == 2; }));

    mgr.Clear();
    EXPECT_EQ(QFileInfo(listFile()).size(), 0);
}

// What the file holds for the first task.
struct Stored
{
    int state;
    int current;
    int total;
    bool installed;
    bool operator==(const Stored &) const = default;
};

void PrintTo(const Stored &s, std::ostream *os)
{
    *os << "{State " << s.state << ", " << s.current << "/" << s.total << ", Installed " << s.installed
        << "}";
}

Stored storedTask(const QString &file)
{
    const IniFile ini(file);
    return {ini.readInteger("0", "State", -2), ini.readInteger("0", "CurrentSize", -2),
            ini.readInteger("0", "TotalSize", -2), ini.readBool("0", "Installed", false)};
}

// Each state change either reaches the file at once, or (progress) waits for
// the throttle, or (an install under way) changes nothing the file holds. The
// clock stands still right after a write, so a progress write is never due.
TEST_F(TaskListTest, KeeperWritesTheEndsOfDownloadsAndInstallsAtOnceAndThrottlesProgress)
{
    enum Rule { Now, Later, Never };
    struct Case
    {
        const char *what;
        int state;
        quint32 current;
        bool installed;
        Rule rule;
        int storedState;
    };
    const Case cases[] = {
        {"download completed", St::DownloadCompleted, 200, false, Now, St::DownloadCompleted},
        {"download stopped", St::DownloadStopped, 120, false, Now, St::DownloadStopped},
        {"download paused", St::DownloadPaused, 120, false, Now, St::DownloadStopped},
        {"download failed", St::Failed, 120, false, Now, St::DownloadStopped},
        {"install completed", St::InstallCompleted, 200, true, Now, St::DownloadCompleted},
        {"install failed", St::Failed, 200, true, Now, St::DownloadCompleted},
        {"download starting", St::StartDownload, 0, false, Later, 0},
        {"block received", St::Downloading, 150, false, Later, 0},
        {"download resumed", St::DownloadResumed, 150, false, Later, 0},
        {"install starting", St::StartInstall, 200, false, Never, 0},
        {"installer running", St::Installing, 200, false, Never, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TBrimTaskManager mgr;
        TOVTaskListKeeper keeper(mgr, listFile());
        keeper.SetClock([] { return qint64(5000); });
        auto *t = addTask(mgr, "App", 100, 200, true);
        keeper.Save();
        const Stored before = storedTask(listFile());
        ASSERT_EQ(before, (Stored {St::DownloadStopped, 100, 200, false}));

        t->CurrentSize = c.current;
        t->Installed = c.installed;
        t->SetState(c.state);
        EXPECT_EQ(keeper.SaveCount(), c.rule == Now ? 2 : 1);
        EXPECT_EQ(keeper.ProgressPending(), c.rule == Later);
        const Stored expected
            = c.rule == Now ? Stored {c.storedState, int(c.current), 200, c.installed} : before;
        EXPECT_EQ(storedTask(listFile()), expected);
    }
}

// Blocks arrive every 100 ms for ten seconds: the file is written once per
// interval, not per block, and the end of the download is written at once
// with the last size.
TEST_F(TaskListTest, KeeperWritesProgressAtMostOncePerInterval)
{
    TBrimTaskManager mgr;
    TOVTaskListKeeper keeper(mgr, listFile());
    qint64 now = 0;
    keeper.SetClock([&] { return now; });
    auto *t = addTask(mgr, "App", 0, 10000, true);
    std::vector<int> writtenSizes;
    int written = 0;
    for (quint32 block = 1; block <= 100; ++block, now += 100) {
        t->CurrentSize = block * 100;
        t->SetState(St::Downloading);
        if (keeper.SaveCount() != written) {
            written = keeper.SaveCount();
            writtenSizes.push_back(storedTask(listFile()).current);
        }
    }
    // The first block, then every 3 s (blocks at 0, 3.0, 6.0 and 9.0 s).
    EXPECT_EQ(writtenSizes, (std::vector<int> {100, 3100, 6100, 9100}));
    EXPECT_TRUE(keeper.ProgressPending());

    t->SetState(St::DownloadCompleted);
    EXPECT_EQ(keeper.SaveCount(), 5);
    EXPECT_FALSE(keeper.ProgressPending());
    EXPECT_EQ(storedTask(listFile()), (Stored {St::DownloadCompleted, 10000, 10000, false}));
}

// Data that stops coming (a stalled server) leaves no progress unwritten:
// one write follows the last block once the interval is over.
TEST_F(TaskListTest, KeeperWritesTheLastProgressAfterTheInterval)
{
    TBrimTaskManager mgr;
    TOVTaskListKeeper keeper(mgr, listFile());
    keeper.SetClock([] { return qint64(0); }); // every block within the interval
    keeper.SetProgressInterval(30);
    auto *t = addTask(mgr, "App", 0, 1000, true);
    for (quint32 block = 1; block <= 50; ++block) {
        t->CurrentSize = block * 10;
        t->SetState(St::Downloading);
    }
    EXPECT_EQ(keeper.SaveCount(), 1);
    ASSERT_TRUE(waitUntil([&] { return storedTask(listFile()).current == 500; }));
    EXPECT_EQ(keeper.SaveCount(), 2);
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_FALSE(keeper.ProgressPending());
    EXPECT_EQ(keeper.SaveCount(), 2);
}

// A real download and install with the keeper beside the view's handler: the
// view still sees every block, the file gets a handful of writes, shows the
// completed download while the installer runs (what a kill at that moment
// leaves) and the installed task when it ended.
TEST_F(TaskListTest, KeeperFollowsARealDownloadAndInstallBesideTheView)
{
    TestHttpServer server;
    const QString release = dir.filePath("release");
    const QString started = dir.filePath("started");
    server.script = QStringLiteral("#!/bin/sh\n: > '%1'\nn=0\nwhile [ ! -e '%2' ] && [ $n -lt 600 ]; do "
                                   "sleep 0.05; n=$((n+1)); done\n# %3\nexit 0\n")
                        .arg(started, release, QString(60000, u'x'))
                        .toStdString();
    server.chunkSize = 512;
    TBrimTaskManager mgr;
    int blocks = 0;
    mgr.OnItemStateChange
        = [&](TBrimTaskManager *, TBrimTaskItem &item) { blocks += item.State == St::Downloading; };
    TOVTaskListKeeper keeper(mgr, listFile());
    OVSettings::DownloadsDir = dir.filePath("dl");
    OVSettings::AutoInstall = true;
    OVSettings::FileKeepDays = 7;
    QElapsedTimer clock;
    clock.start();
    auto *t = AddDownloadTask(mgr, "Waiting Installer", server.url("/script"));
    ASSERT_TRUE(waitUntil([&] { return t->State == St::Installing && QFile::exists(started); }, 30000));
    const int size = int(server.script.size());
    EXPECT_EQ(storedTask(listFile()), (Stored {St::DownloadCompleted, size, size, false}));
    EXPECT_GT(blocks, 50);
    // The add, the first block, one per interval, the completion.
    EXPECT_LE(keeper.SaveCount(), 3 + int(clock.elapsed() / TOVTaskListKeeper::DefaultProgressIntervalMs));

    ASSERT_TRUE(writeFile(release, {}));
    ASSERT_TRUE(waitUntil([&] { return t->State == St::InstallCompleted; }, 30000));
    EXPECT_EQ(storedTask(listFile()), (Stored {St::DownloadCompleted, size, size, true}));
}

// A page may start one download twice at once (a double click), and the tick
// count in the names starts again with every boot of the machine: each task
// gets a file of its own, and a file already in the folder is never taken over.
TEST_F(TaskListTest, EveryTaskGetsAFileOfItsOwn)
{
    TestHttpServer server;
    TBrimTaskManager mgr;
    OVSettings::DownloadsDir = dir.filePath("dl");
    OVSettings::AutoInstall = false;
    // Files of an earlier boot carrying the names the next two seconds would give.
    QSet<QString> kept;
    const quint32 now = tasks::tickCount();
    for (quint32 tick = now; tick < now + 2000; ++tick) {
        kept.insert(
            dir.filePath("dl/Twice_%1.exe").arg(QString::number(tick, 16).toUpper().rightJustified(2, '0')));
    }
    for (const QString &name : kept)
        ASSERT_TRUE(writeFile(name, "kept"));

    std::vector<TOVTaskItem *> tasks;
    for (int i = 0; i < 8; ++i)
        tasks.push_back(AddDownloadTask(mgr, "Twice", server.url()));
    QSet<QString> files;
    for (TOVTaskItem *t : tasks) {
        ASSERT_NE(t, nullptr);
        EXPECT_FALSE(kept.contains(t->LocalFile)) << t->LocalFile.toStdString();
        EXPECT_TRUE(t->LocalFile.startsWith(dir.filePath("dl/Twice_"))) << t->LocalFile.toStdString();
        EXPECT_TRUE(t->LocalFile.endsWith(".exe")) << t->LocalFile.toStdString();
        files.insert(t->LocalFile);
    }
    EXPECT_EQ(files.size(), 8);
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(tasks.begin(), tasks.end(),
                           [](TOVTaskItem *t) { return t->State == St::DownloadCompleted; });
    }));
    for (TOVTaskItem *t : tasks)
        EXPECT_EQ(QFileInfo(t->LocalFile).size(), 3000);
    for (const QString &name : kept) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "kept") << name.toStdString();
    }
}

TEST(TaskFiles, LocalFileNames)
{
    QTemporaryDir dir;
    platform::setApplicationDirectoryOverride(dir.path() + "/");
    struct Case
    {
        QString dir;
        QString title;
        QString expected; // pattern before the hex digits
    } cases[] = {
        {"/data/dl/", "My App 2", "/data/dl/My_App_2_"},
        {"/data/dl", "Foo Bar", "/data/dl/Foo_Bar_"},
        {"  ", "X", dir.path() + "/Downloads/X_"},
        {"", "Ünï (x86) v1.0+", dir.path() + "/Downloads/Ünï_(x86)_v1.0+_"},
        {"/d/", "../../etc/passwd", "/d/.._.._etc_passwd_"},
        {"/d/", QString("a\\b\nc") + QChar(0) + "d\x7f", "/d/a_b_c_d__"},
    };
    for (const Case &c : cases) {
        const QString name = MakeLocalFileName(c.dir, c.title);
        EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(c.expected) + "[0-9A-F]{2,8}\\.exe$")
                        .match(name)
                        .hasMatch())
            << name.toStdString();
    }
    const QString longName = MakeLocalFileName("/d/", QString(400, QChar(0x4E2D)));
    EXPECT_LE(QFileInfo(longName).fileName().toUtf8().size(), 255);
    platform::setApplicationDirectoryOverride(QString());
}

TEST(TaskFiles, SizeTexts)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    struct Case
    {
        quint32 bytes;
        int decimals;
        const char *text;
    } cases[] = {{0, 2, "  0 B"},         {512, 2, "512 B"},       {1023, 2, "1,023 B"},
                 {1024, 2, "1.00 KB"},    {1536, 2, "1.50 KB"},    {0xFFFFF, 0, "1,024 KB"},
                 {1048576, 2, "1.00 MB"}, {5242880, 2, "5.00 MB"}, {0xFFFFFFFFu, 2, "4,096.00 MB"},
                 {3355443, 1, "3.2 MB"}};
    for (const Case &c : cases)
        EXPECT_EQ(FormatFileSize(c.bytes, c.decimals), c.text) << c.bytes;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatFileSize(1536, 2), "1,50 KB");
    QLocale::setDefault(QLocale::c());
}

} // namespace
