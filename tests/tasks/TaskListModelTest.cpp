#include "tasks/TaskListModel.h"

#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"
#include "tasks/OVTaskItem.h"
#include "tasks/TaskTestSupport.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tasktest;
using namespace tasks;
namespace St = OVTaskState;

namespace {

class TaskListModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        SetOVMultiLangs(&langs);
        model.OnCountersChanged = [this](TaskListModel *) { ++counterEvents; };
        model.OnRowChanged = [this](TaskListModel *, const TaskRow &row) { changedRows.push_back(row.Task); };
    }
    void TearDown() override { SetOVMultiLangs(nullptr); }

    TOVTaskItem *task(const QString &name, int state, quint32 current = 0, quint32 total = 0)
    {
        auto *t = mgr.Add<TOVTaskItem>();
        t->Name = name;
        t->LocalFile = "/nowhere/" + name + ".exe";
        t->State = state;
        t->CurrentSize = current;
        t->TotalSize = total;
        return t;
    }
    QStringList names() const
    {
        QStringList out;
        for (const TaskRow &r : model.Rows())
            out << r.Name;
        return out;
    }

    TBrimMultiLangs langs;
    TBrimTaskManager mgr;
    TaskListModel model {&mgr};
    int counterEvents = 0;
    std::vector<const TOVTaskItem *> changedRows;
};

TEST(TaskListProgress, PercentRoundsHalfToEvenWithoutOverflow)
{
    struct Case
    {
        quint32 current, total;
        int percent;
    } cases[] = {
        {60u << 20, 100u << 20, 60}, // large files do not wrap
        {1, 8, 12}, // 12.5 goes to the even neighbour
        {3, 8, 38}, // 37.5 likewise
        {2, 3, 67},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
        {0, 5, 0},
        {7, 5, 100}, // more than announced stays at the whole
        {5, 0, -1}, // length not known yet
    };
    for (const Case &c : cases)
        EXPECT_EQ(DownloadPercent(c.current, c.total), c.percent) << c.current << "/" << c.total;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(DownloadProgressText(1509949, 3355443), "3.20 MB | 45 %");
    EXPECT_EQ(DownloadProgressText(100, 0), "");
}

// Every rule the tab shows, per state: the row after a state change, the row of
// a task loaded in that state, the popup menu, the double-click and the counter.
TEST_F(TaskListModelTest, RulesPerState)
{
    constexpr int Kept = -1; // the row keeps what it showed before
    struct Case
    {
        int state;
        int icon;
        const char *text;
        const char *size; // nullptr: unchanged
        int loadedIcon;
        const char *loadedText;
        bool loadedSize;
        // Stop, Pause, Resume, line, Download and Install, Download, Install, line, Delete:
        // '.' hidden, 'x' shown, 'e' shown and enabled, 'd' shown and disabled.
        const char *menu;
        TaskDoubleClick doubleClick;
        TaskCounter counter;
    } cases[] = {
        {St::NotDownloaded, IconIdle, "Not downloaded yet", nullptr, IconIdle, "Not downloaded yet", true,
         "....xxxxx", TaskDoubleClick::Download, TaskCounter::None},
        {St::StartDownload, IconActive, "Start download", nullptr, IconIdle, "Not downloaded yet", true,
         ".........", TaskDoubleClick::None, TaskCounter::Downloading},
        {St::StartInstall, IconActive, "Start install", nullptr, IconActive, "Completed", true, ".........",
         TaskDoubleClick::None, TaskCounter::Installing},
        {St::Downloading, Kept, "Downloading... | 1.50 KB/s", "2.00 KB | 25 %", IconIdle,
         "Not downloaded yet", true, "xedx....x", TaskDoubleClick::Pause, TaskCounter::Downloading},
        {St::Installing, Kept, "Installing...", nullptr, IconActive, "Completed", true, ".........",
         TaskDoubleClick::None, TaskCounter::Installing},
        {St::DownloadStopped, IconIdle, "Stopped", nullptr, IconIdle, "Not downloaded yet", true, "....xxxxx",
         TaskDoubleClick::Download, TaskCounter::None},
        {St::DownloadPaused, IconPaused, "Paused", nullptr, IconIdle, "Not downloaded yet", true, "xdex....x",
         TaskDoubleClick::Resume, TaskCounter::None},
        {St::DownloadResumed, IconActive, "Resumed", nullptr, IconIdle, "", false, ".........",
         TaskDoubleClick::None, TaskCounter::None},
        {St::DownloadCompleted, Kept, "Completed", "2.00 KB", IconActive, "Completed", true, "....xxxxx",
         TaskDoubleClick::None, TaskCounter::None},
        {St::InstallCompleted, IconInstalled, "Completed", nullptr, IconActive, "Completed", true,
         "....xxxxx", TaskDoubleClick::None, TaskCounter::None},
        {St::Failed, IconFailed, "Failed", nullptr, IconFailed, "Failed", false, "....xxxxx",
         TaskDoubleClick::Download, TaskCounter::None},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state);
        model.Clear();
        mgr.Clear();

        // Loaded in this state.
        TOVTaskItem *loaded = task("loaded", c.state, 512, 1536);
        const TaskRow *row = model.AppendLoaded(loaded);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->Icon, c.loadedIcon);
        EXPECT_EQ(model.StateText(*row), c.loadedText);
        EXPECT_EQ(row->SizeText, c.loadedSize ? "1.50 KB" : "");
        EXPECT_EQ(model.DownloadingCount(), c.counter == TaskCounter::Downloading ? 1 : 0);
        EXPECT_EQ(model.InstallingCount(), c.counter == TaskCounter::Installing ? 1 : 0);

        // Reaching this state from a paused download with a known size.
        TOVTaskItem *live = task("live", St::DownloadStopped, 512, 1536);
        ASSERT_NE(model.AppendLoaded(live), nullptr);
        live->SetState(St::DownloadPaused);
        live->CurrentSize = 512;
        live->TotalSize = 2048;
        live->SpeedBPS = 1536;
        changedRows.clear();
        live->SetState(c.state);
        row = model.RowOf(live);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->Icon, c.icon == Kept ? int(IconPaused) : c.icon);
        EXPECT_EQ(model.StateText(*row), c.text);
        EXPECT_EQ(row->SizeText, c.size ? c.size : "1.50 KB");
        EXPECT_EQ(changedRows, std::vector<const TOVTaskItem *> {live});
        const int both = c.counter == TaskCounter::Downloading ? 2 : 0;
        EXPECT_EQ(model.DownloadingCount(), both);
        EXPECT_EQ(model.InstallingCount(), c.counter == TaskCounter::Installing ? 2 : 0);
        EXPECT_EQ(CounterForState(c.state), c.counter);

        const TaskMenu m = MenuForState(c.state);
        const bool shown[]
            = {m.Stop, m.Pause, m.Resume, m.Line1, m.Start, m.Download, m.Install, m.Line2, m.Delete};
        std::string menu;
        for (int i = 0; i < 9; ++i) {
            char code = shown[i] ? 'x' : '.';
            if (shown[i] && i == 1)
                code = m.PauseEnabled ? 'e' : 'd';
            if (shown[i] && i == 2)
                code = m.ResumeEnabled ? 'e' : 'd';
            menu += code;
        }
        EXPECT_EQ(menu, c.menu);
        EXPECT_EQ(m.AnyVisible(), std::string(c.menu) != ".........");
        EXPECT_EQ(DoubleClickForState(c.state), c.doubleClick);
    }
    // A value outside the table changes neither the row nor the counters.
    EXPECT_EQ(MenuForState(42).AnyVisible(), false);
    TOVTaskItem *odd = task("odd", St::DownloadPaused);
    model.AppendLoaded(odd);
    odd->SetState(St::DownloadPaused);
    odd->SetState(42);
    EXPECT_EQ(model.RowOf(odd)->Icon, IconPaused);
    EXPECT_EQ(model.StateText(*model.RowOf(odd)), "Paused");
}

TEST_F(TaskListModelTest, RowsOrderAndLifetime)
{
    TOVTaskItem *a = task("A", St::DownloadCompleted, 10, 10);
    TOVTaskItem *b = task("B", St::NotDownloaded);
    ASSERT_NE(model.AppendLoaded(a), nullptr);
    ASSERT_NE(model.AppendLoaded(b), nullptr);
    EXPECT_EQ(model.AppendLoaded(a), nullptr) << "a task has one row";

    // A new task goes to the top with nothing shown yet, and counts as starting.
    TOVTaskItem *c = task("C", St::StartDownload);
    const TaskRow *row = model.InsertNew(c);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Icon, IconIdle);
    EXPECT_EQ(row->StateKey, "");
    EXPECT_EQ(row->SizeText, "");
    EXPECT_EQ(names(), QStringList({"C", "A", "B"}));
    EXPECT_EQ(model.TitleText(), "3 tasks in the list:");
    EXPECT_EQ(model.ShortcutText(), "Download(1) / Install(0)");

    // One that failed before it had a row shows its failure at once.
    TOVTaskItem *d = task("D", St::Failed);
    row = model.InsertNew(d);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Icon, IconFailed);
    EXPECT_EQ(model.StateText(*row), "Failed");

    // Rows never keep their tasks: once the manager lets go, the row's task is not live.
    EXPECT_EQ(model.LiveTask(b), b);
    b->Delete();
    EXPECT_EQ(model.LiveTask(b), nullptr);
    EXPECT_NE(model.RowOf(b), nullptr);
    EXPECT_TRUE(model.Remove(b));
    EXPECT_FALSE(model.Remove(b));
    EXPECT_EQ(names(), QStringList({"D", "C", "A"}));

    // A task without a row changes nothing.
    TOVTaskItem *stray = task("Stray", St::NotDownloaded);
    const int before = counterEvents;
    changedRows.clear();
    stray->SetState(St::Downloading);
    EXPECT_EQ(counterEvents, before);
    EXPECT_TRUE(changedRows.empty());
    EXPECT_EQ(model.ShortcutText(), "Download(1) / Install(0)");

    // Removing a counted row takes it out of the figures.
    EXPECT_TRUE(model.Remove(c));
    EXPECT_EQ(model.ShortcutText(), "Download(0) / Install(0)");
    model.Clear();
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_EQ(model.TitleText(), "0 tasks in the list:");
}

// The counters are running totals: they move on transitions only, and a
// progress event touches one row, however many rows there are.
TEST_F(TaskListModelTest, ProgressTouchesOneRowAndCountersMoveOnTransitionsOnly)
{
    constexpr int rows = 20000;
    for (int i = 0; i < rows; ++i)
        model.AppendLoaded(task(QString::number(i), i % 3 == 0 ? St::Installing : St::DownloadStopped));
    const int installing = (rows + 2) / 3;
    EXPECT_EQ(model.InstallingCount(), installing);
    TOVTaskItem *running = task("running", St::StartDownload);
    model.InsertNew(running);
    running->TotalSize = 100u << 20;

    counterEvents = 0;
    changedRows.clear();
    constexpr int blocks = 20000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= blocks; ++i) {
        running->CurrentSize = quint32(i) * 512;
        running->SetState(St::Downloading);
    }
    const qint64 ms = timer.elapsed();
    EXPECT_EQ(counterEvents, 0) << "StartDownload and Downloading count alike";
    ASSERT_EQ(changedRows.size(), size_t(blocks));
    EXPECT_TRUE(std::all_of(changedRows.begin(), changedRows.end(), [&](auto *t) { return t == running; }));
    EXPECT_EQ(model.RowOf(running)->SizeText, "100.00 MB | 10 %");
    // Walking every row per block would take minutes here; a row at a time takes milliseconds.
    EXPECT_LT(ms, 10000);

    running->SetState(St::DownloadPaused);
    EXPECT_EQ(counterEvents, 1);
    EXPECT_EQ(model.ShortcutText(), QStringLiteral("Download(0) / Install(%1)").arg(installing));
    running->SetState(St::DownloadResumed);
    running->SetState(St::Downloading);
    EXPECT_EQ(counterEvents, 2);
    running->SetState(St::DownloadCompleted);
    running->SetState(St::StartInstall);
    running->SetState(St::Installing);
    EXPECT_EQ(counterEvents, 4);
    EXPECT_EQ(model.ShortcutText(), QStringLiteral("Download(0) / Install(%1)").arg(installing + 1));
    running->SetState(St::InstallCompleted);
    EXPECT_EQ(model.InstallingCount(), installing);
    EXPECT_EQ(model.TitleText(), QStringLiteral("%1 tasks in the list:").arg(rows + 1));
}

// Only the end of an installer run is an install result, reported once per
// run: a stored state, a failed download or a repeated state is none.
TEST_F(TaskListModelTest, InstallResultIsReportedOnceWhenARunEnds)
{
    std::vector<std::pair<QString, bool>> results;
    model.OnInstallFinished = [&](TaskListModel *, const TaskRow &row, bool ok) {
        results.push_back({row.Task->Name, ok});
    };
    QTemporaryDir dir;
    TOVTaskItem *good = task("Good", St::DownloadCompleted);
    good->LocalFile = dir.filePath("good.sh");
    ASSERT_TRUE(writeFile(good->LocalFile, "#!/bin/sh\nexit 0\n"));
    TOVTaskItem *bad = task("Bad", St::DownloadCompleted);
    bad->LocalFile = dir.filePath("bad.exe");
    ASSERT_TRUE(writeFile(bad->LocalFile, "no program\n")); // cannot be started: fails at once
    TOVTaskItem *stored = task("Stored", St::Installing); // as the list file left it
    TOVTaskItem *fetching = task("Fetching", St::Downloading);
    for (TOVTaskItem *t : {good, bad, stored, fetching})
        ASSERT_NE(model.AppendLoaded(t), nullptr);

    stored->SetState(St::Failed);
    fetching->SetState(St::Failed);
    EXPECT_TRUE(results.empty());

    bad->Install();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], std::make_pair(QStringLiteral("Bad"), false));
    EXPECT_EQ(model.RowOf(bad)->Icon, IconFailed) << "the row shows the result first";

    good->Install();
    ASSERT_TRUE(waitUntil([&] { return good->State == St::InstallCompleted; }));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1], std::make_pair(QStringLiteral("Good"), true));

    good->SetState(St::InstallCompleted);
    bad->SetState(St::Failed);
    EXPECT_EQ(results.size(), 2u);

    // A task whose row is gone when its run ends is nobody's to report.
    TOVTaskItem *dropped = task("Dropped", St::DownloadCompleted);
    dropped->LocalFile = bad->LocalFile;
    model.AppendLoaded(dropped);
    dropped->SetState(St::StartInstall);
    model.Remove(dropped);
    dropped->SetState(St::Failed);
    EXPECT_EQ(results.size(), 2u);
}

} // namespace
