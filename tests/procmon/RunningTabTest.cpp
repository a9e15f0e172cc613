#include "procmon/tab/RunningTab.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "core/OVDefaultTexts.h"
#include "platform/DpkgPackageIndex.h"
#include "procmon/FileProp.h"
#include "procmon/ProcessTestSupport.h"
#include "procmon/Processes.h"
#include "procmon/RunningTabRules.h"
#include "support/GuiApp.h"
#include "support/RecordingLauncher.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimLVRichSelItem.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

using proctest::Child;

namespace {

using testsupport::guiApp;
using testsupport::pollUntil;
using testsupport::waitUntil;

struct BoxCall
{
    QString text;
    QString caption;
    unsigned type;
};

constexpr uid_t kNobody = 65534;
const std::string kSleep = QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath().toStdString();

class RunningTabTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "starts processes as another user";
        guiApp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        SetOVMultiLangs(&langs);
        tab = std::make_unique<TOVRunningTab>(nullptr, nullptr, &props);
        tab->resize(800, 500);
        tab->MessageBox = [this](QWidget *, const QString &text, const QString &caption, unsigned type) {
            boxes.push_back({text, caption, type});
            if (onBox)
                onBox();
            return answer;
        };
        tab->show();
    }
    void TearDown() override
    {
        tab.reset();
        SetOVMultiLangs(nullptr);
    }
    // Shows the tab and lists system processes too.
    void showAll()
    {
        tab->FirstActivate();
        if (tab->HideSystem())
            tab->ToggleHideSystem();
    }
    bool select(quint32 pid)
    {
        QTreeWidgetItem *row = tab->RowOf(pid);
        if (!row)
            return false;
        tab->lvRunning->setCurrentItem(row);
        row->setSelected(true);
        return tab->SelectedProcess() && tab->SelectedProcess()->ProcessID == pid;
    }
    QString linkText() const { return tab->lblRunningHideSystem->accessibleName(); }

    TBrimMultiLangs langs;
    RecordingLauncher launcher;
    platform::DpkgPackageIndex packages {QStringLiteral("/nonexistent/info"),
                                         QStringLiteral("/nonexistent/status")};
    TFileProp props {&packages};
    std::unique_ptr<TOVRunningTab> tab;
    std::vector<BoxCall> boxes;
    std::function<void()> onBox;
    int answer = IDNO;
};

} // namespace

TEST_F(RunningTabTest, HideSystemLinkAndRows)
{
    // Run as root: a normal user's program and root's own login's (this test) are shown;
    // nobody's, a root daemon's in a session of its own and init are the system's.
    Child user(1000, {kSleep, "300"});
    Child nobody(kNobody, {kSleep, "300"});
    Child daemon({"/usr/bin/setsid", kSleep, "300"});
    ASSERT_TRUE(pollUntil([&] { return proctest::isRunning(user.pid) && proctest::isRunning(nobody.pid); }));
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(daemon.pid, kSleep); }));
    // Before the first show nothing is listed and the link has its form caption.
    EXPECT_EQ(tab->lvRunning->topLevelItemCount(), 0);
    EXPECT_EQ(linkText(), "Hide system applications");

    tab->Activate();
    EXPECT_TRUE(tab->HideSystem());
    EXPECT_TRUE(tab->tmrRefreshRunning->isActive());
    EXPECT_EQ(linkText(), "Show all applications");
    ASSERT_TRUE(waitUntil([&] { return tab->RowOf(quint32(user.pid)) != nullptr; }));
    EXPECT_EQ(tab->RowOf(1), nullptr);
    EXPECT_EQ(tab->RowOf(quint32(nobody.pid)), nullptr);
    EXPECT_EQ(tab->RowOf(quint32(daemon.pid)), nullptr);
    EXPECT_NE(tab->RowOf(quint32(getpid())), nullptr);
    EXPECT_TRUE(tab->lblRunningSysStatus->text().contains("(does not include system applications)"));

    tab->ToggleHideSystem();
    EXPECT_EQ(linkText(), "Hide system applications");
    for (quint32 pid : {1u, quint32(getpid()), quint32(user.pid), quint32(nobody.pid), quint32(daemon.pid)})
        EXPECT_NE(tab->RowOf(pid), nullptr) << pid;
    EXPECT_FALSE(tab->lblRunningSysStatus->text().contains("(does not include"));

    tab->ToggleHideSystem();
    EXPECT_EQ(linkText(), "Show all applications");
    EXPECT_EQ(tab->RowOf(1), nullptr);

    tab->Deactivate();
    EXPECT_FALSE(tab->tmrRefreshRunning->isActive());
}

TEST_F(RunningTabTest, NewAndEndedProcessesFollowTheRefresh)
{
    showAll();
    Child late(kNobody, {kSleep, "300"});
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(late.pid, kSleep); }));
    // Rows by process: an ended process's row may be freed and its memory reused by a new one.
    auto pidOf
        = [&](int i) { return tab->lvRunning->topLevelItem(i)->data(0, TOVRunningTab::ProcessIdRole); };
    QSet<quint32> before;
    for (int i = 0; i < tab->lvRunning->topLevelItemCount(); ++i)
        if (pidOf(i).isValid())
            before.insert(pidOf(i).toUInt());
    tab->TimerRefresh();
    QTreeWidgetItem *row = tab->RowOf(quint32(late.pid));
    ASSERT_NE(row, nullptr);
    // Added after every row there was, whatever the sort order. Other processes
    // of the machine may have started in the same refresh and follow it.
    const int at = tab->lvRunning->indexOfTopLevelItem(row);
    for (int i = at + 1; i < tab->lvRunning->topLevelItemCount(); ++i)
        EXPECT_FALSE(pidOf(i).isValid() && before.contains(pidOf(i).toUInt())) << "an older row at " << i;
    EXPECT_EQ(row->text(procmon::ColName), "sleep");
    EXPECT_EQ(row->text(procmon::ColPath).toStdString(), kSleep);
    EXPECT_EQ(row->text(procmon::ColCPU), "00");
    const quint32 ended = quint32(late.pid);
    proctest::endProcess(late.pid);
    late.pid = -1;
    tab->TimerRefresh();
    EXPECT_EQ(tab->RowOf(ended), nullptr);
    EXPECT_EQ(tab->lvRunning->topLevelItemCount(), tab->ProcessRowCount());
}

TEST_F(RunningTabTest, SortDirectionIsKeptPerColumn)
{
    showAll();
    auto names = [&] {
        QStringList list;
        for (int i = 0; i < tab->lvRunning->topLevelItemCount(); ++i)
            list << tab->lvRunning->topLevelItem(i)->text(procmon::ColName);
        return list;
    };
    auto cpuOrdered = [&](bool ascending) {
        quint32 previous = ascending ? 0 : 1000;
        for (int i = 0; i < tab->lvRunning->topLevelItemCount(); ++i) {
            const TProcessItem *item = tab->RunningProcs()->ItemByID(
                tab->lvRunning->topLevelItem(i)->data(0, TOVRunningTab::ProcessIdRole).toUInt());
            if (!item)
                continue;
            if (ascending ? item->CPUUsage < previous : item->CPUUsage > previous)
                return false;
            previous = item->CPUUsage;
        }
        return true;
    };
    auto textOrdered = [&](bool ascending) {
        const QStringList list = names();
        for (int i = 1; i < list.size(); ++i)
            if (CompareTextOrder(list[i - 1], list[i], ascending) > 0)
                return false;
        return true;
    };

    tab->ColumnClick(procmon::ColCPU);
    EXPECT_EQ(tab->ColumnTag(procmon::ColCPU), 1);
    EXPECT_TRUE(cpuOrdered(true));
    tab->ColumnClick(procmon::ColCPU);
    EXPECT_EQ(tab->ColumnTag(procmon::ColCPU), 0);
    EXPECT_TRUE(cpuOrdered(false));
    tab->ColumnClick(procmon::ColCPU);
    EXPECT_TRUE(cpuOrdered(true));

    // The name column starts its own way; the CPU column keeps its direction meanwhile.
    tab->ColumnClick(procmon::ColName);
    EXPECT_EQ(tab->SortColumn(), int(procmon::ColName));
    EXPECT_TRUE(textOrdered(true));
    tab->ColumnClick(procmon::ColName);
    EXPECT_TRUE(textOrdered(false));
    EXPECT_EQ(tab->ColumnTag(procmon::ColCPU), 1);
    tab->ColumnClick(procmon::ColCPU);
    EXPECT_TRUE(cpuOrdered(false));
}

TEST_F(RunningTabTest, CriticalProcessOnlyWarns)
{
    showAll();
    const TProcessItem *kernel = nullptr;
    for (int i = 0; i < tab->RunningProcs()->Count() && !kernel; ++i) {
        const TProcessItem *item = tab->RunningProcs()->Items(i);
        if (item->KernelThread && item->ProcessID > 2)
            kernel = item;
    }
    std::vector<quint32> critical {1};
    if (kernel)
        critical.push_back(kernel->ProcessID);
    for (quint32 pid : critical) {
        boxes.clear();
        ASSERT_TRUE(select(pid)) << pid;
        answer = IDYES;
        tab->CommandTerminate();
        tab->CommandTerminateTree();
        ASSERT_EQ(boxes.size(), 2u);
        for (const BoxCall &box : boxes) {
            EXPECT_EQ(box.text, "This is a critical system process, cannot be terminated.");
            EXPECT_EQ(box.caption, "Warning");
            EXPECT_EQ(box.type, MB_OK | MB_ICONWARNING);
        }
    }
    EXPECT_TRUE(proctest::isRunning(1));
}

TEST_F(RunningTabTest, TerminateAsksThenActsOrReportsFailure)
{
    Child victim(kNobody, {kSleep, "300"});
    // Running sleep already, not still the copy of this program before its exec.
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(victim.pid, kSleep); }));
    showAll();
    ASSERT_TRUE(select(quint32(victim.pid)));

    answer = IDNO;
    tab->CommandTerminate();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Question");
    EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    EXPECT_TRUE(boxes[0].text.endsWith(QStringLiteral("terminate this process sleep [%1]?").arg(victim.pid)));
    EXPECT_TRUE(proctest::isRunning(victim.pid));

    // The process ends while the question is open: the kill fails and says so.
    boxes.clear();
    answer = IDYES;
    onBox = [&] {
        if (boxes.size() == 1) {
            kill(victim.pid, SIGKILL);
            waitpid(victim.pid, nullptr, 0);
        }
    };
    tab->CommandTerminate();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Sorry! Process termination failed.");
    EXPECT_EQ(boxes[1].caption, "Failure");
    EXPECT_EQ(boxes[1].type, MB_OK | MB_ICONERROR);
    victim.pid = -1;
    onBox = nullptr;

    // Yes: the process ends, and its row goes with the next refresh.
    Child second(kNobody, {kSleep, "300"});
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(second.pid, kSleep); }));
    tab->TimerRefresh();
    ASSERT_TRUE(select(quint32(second.pid)));
    boxes.clear();
    tab->CommandTerminate();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(pollUntil([&] { return !proctest::isRunning(second.pid); }));
    tab->TimerRefresh();
    EXPECT_EQ(tab->RowOf(quint32(second.pid)), nullptr);
}

TEST_F(RunningTabTest, PriorityMenuShowsAndSetsTheClass)
{
    Child child(kNobody, {kSleep, "300"});
    // Running is not enough: the question names the program, so wait for its exec.
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(child.pid, kSleep); }));
    showAll();
    ASSERT_TRUE(select(quint32(child.pid)));
    tab->PriorityMenuOpened();
    EXPECT_TRUE(tab->mniRunningPriorityItems[3]->isChecked()); // Normal
    answer = IDYES;
    tab->CommandSetPriority(6); // Low
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("modify priority of sleep"));
    tab->PriorityMenuOpened();
    EXPECT_TRUE(tab->mniRunningPriorityItems[5]->isChecked());
    EXPECT_EQ(tab->SelectedProcess()->PriorityClass(), ProcessPriority::Idle);
}

TEST_F(RunningTabTest, StatusLineCountsProcessesNotPlaceholders)
{
    showAll();
    tab->TimerRefresh();
    ASSERT_TRUE(select(1));
    auto processRows = [&] {
        int rows = 0;
        for (int i = 0; i < tab->lvRunning->topLevelItemCount(); ++i)
            if (!TBrimLVRichSelItem::IsBlankItem(tab->lvRunning->topLevelItem(i)))
                ++rows;
        return rows;
    };
    // The selection panel opens below the selected row with blank rows.
    ASSERT_TRUE(waitUntil([&] { return tab->lvRunning->topLevelItemCount() > processRows(); }));
    EXPECT_TRUE(tab->pnlRunningSelItem->isVisible());
    tab->TimerRefresh();
    const QString expected = QStringLiteral("%1 activated applications , CPU usage: ").arg(processRows());
    EXPECT_TRUE(tab->lblRunningSysStatus->text().startsWith(expected))
        << tab->lblRunningSysStatus->text().toStdString();
}

TEST_F(RunningTabTest, PanelShowsAndCopiesTheSelectedProcess)
{
    QTemporaryDir dir;
    const QString folder
        = dir.filePath(QStringLiteral("a folder with a rather long name/and another one below it"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString exe = folder + QStringLiteral("/a) b (c");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), exe));
    QFile::setPermissions(exe, QFile::ReadOwner | QFile::ExeOwner);
    Child odd({QFile::encodeName(exe).toStdString(), "300"});
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(odd.pid, QFile::encodeName(exe).toStdString()); }));
    showAll();
    tab->TimerRefresh();
    ASSERT_TRUE(select(quint32(odd.pid)));
    ASSERT_TRUE(waitUntil([&] { return tab->pnlRunningSelItem->isVisible(); }));
    tab->UpdateSelItemPanel(false);
    EXPECT_EQ(tab->lblRunningSelItemTitle->text(), "a) b (c");
    EXPECT_TRUE(tab->lblRunningSelItemCPU->text().startsWith("CPU: "));
    EXPECT_TRUE(tab->lblRunningSelItemMemory->text().startsWith("Memory: "));
    // The path runs up to the button and is cut with an ellipsis.
    const QLabel *path = tab->lblRunningSelItemPath;
    EXPECT_TRUE(path->text().startsWith("Path: "));
    EXPECT_TRUE(path->text().endsWith("...")) << path->text().toStdString();
    EXPECT_LE(path->geometry().right() + 1 + 6, tab->btnRunningSelItemTerminate->x());
    EXPECT_TRUE(path->toolTip().contains(exe));
    EXPECT_GE(tab->lblRunningSelItemCPU->x(), tab->lblRunningSelItemTitle->geometry().right() + 6);

    tab->CopyPath();
    EXPECT_EQ(QApplication::clipboard()->text(), exe);
    tab->CommandLocation();
    tab->CommandProperties();
    tab->CommandSearch();
    ASSERT_EQ(launcher.calls.size(), 3);
    EXPECT_EQ(launcher.calls[0], "item|" + exe);
    EXPECT_EQ(launcher.calls[1], "properties|" + exe);
    EXPECT_TRUE(launcher.calls[2].startsWith("open|")) << launcher.calls[2].toStdString();
}

TEST_F(RunningTabTest, DefaultViewByViewer)
{
    // The tab as a normal user and as a system account would see it, started from this
    // test's session: a system account's programs of that session are its own.
    Child user(1000, {kSleep, "300"});
    Child service(997, {kSleep, "300"});
    Child nobody(kNobody, {kSleep, "300"});
    for (pid_t pid : {user.pid, service.pid, nobody.pid})
        ASSERT_TRUE(pollUntil([&] { return proctest::runs(pid, kSleep); }));
    struct Case
    {
        const char *what;
        quint32 viewerUid;
        bool root, user, service, nobody;
    };
    const Case cases[] = {
        {"normal user", 1000, false, true, false, false},
        {"system account", 997, false, true, true, false},
        {"root", 0, true, true, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TOVRunningTab view(nullptr, nullptr, &props);
        procmon::ProcessViewer viewer = procmon::ProcessViewer::Current();
        viewer.Uid = c.viewerUid;
        viewer.LoginUid = viewer.AuditSession = platform::kNoLoginSession;
        view.RunningProcs()->SetViewer(viewer);
        view.FirstActivate();
        EXPECT_EQ(view.RowOf(quint32(getpid())) != nullptr, c.root);
        EXPECT_EQ(view.RowOf(quint32(user.pid)) != nullptr, c.user);
        EXPECT_EQ(view.RowOf(quint32(service.pid)) != nullptr, c.service);
        EXPECT_EQ(view.RowOf(quint32(nobody.pid)) != nullptr, c.nobody);
        EXPECT_EQ(view.RowOf(1), nullptr);
    }
}

TEST_F(RunningTabTest, RowsKnowTheirApplicationAndFollowTheLanguage)
{
    Child program(kNobody, {kSleep, "300"});
    ASSERT_TRUE(pollUntil([&] { return proctest::runs(program.pid, kSleep); }));
    QString said = QStringLiteral("first words");
    int asked = 0;
    tab->ApplicationOf = [&](const TProcessItem &item) -> TProcessApplication {
        if (item.ProcessID != quint32(program.pid))
            return {};
        ++asked;
        return {QStringLiteral("registry:Demo"), QStringLiteral("Demo"), said};
    };
    QStringList shown;
    tab->OnShowInUninstallList = [&](const QString &key) { shown << key; };
    showAll();
    QTreeWidgetItem *row = tab->RowOf(quint32(program.pid));
    ASSERT_NE(row, nullptr);
    // The file has no description here (no package database): the application's stands in.
    EXPECT_EQ(row->text(procmon::ColDescription), "first words");
    for (int i = 0; i < 3; ++i)
        tab->TimerRefresh();
    EXPECT_EQ(asked, 1) << "looked up once per process, not per refresh";

    ASSERT_TRUE(select(quint32(program.pid)));
    tab->CommandShowInUninstallList();
    EXPECT_EQ(shown, QStringList {QStringLiteral("registry:Demo")});
    ASSERT_TRUE(select(quint32(getpid())));
    tab->CommandShowInUninstallList(); // a process of no listed application leads nowhere
    EXPECT_EQ(shown.size(), 1);

    // A language change describes the rows that exist again.
    said = QStringLiteral("second words");
    tab->MultiLangsLanguageChanged();
    EXPECT_EQ(tab->RowOf(quint32(program.pid))->text(procmon::ColDescription), "second words");
    EXPECT_EQ(asked, 2);
}
