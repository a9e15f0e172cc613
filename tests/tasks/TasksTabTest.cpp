#include "tasks/tab/TasksTab.h"

#include "core/BrimMultiLangs.h"
#include "core/IniFile.h"
#include "core/MessageBoxTypes.h"
#include "core/OVDefaultTexts.h"
#include "core/OVSettings.h"
#include "platform/AppPath.h"
#include "platform/DesktopNotifier.h"
#include "support/GuiApp.h"
#include "tasks/DownloadParsing.h"
#include "tasks/OVDownloadTasks.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"
#include "tasks/TaskListModel.h"
#include "tasks/TaskTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace tasktest;
namespace St = OVTaskState;

namespace {

using testsupport::guiApp;

struct BoxCall
{
    QString text;
    QString caption;
    unsigned type;
};

class TasksTabTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        guiApp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        platform::setApplicationDirectoryOverride(dir.path() + "/app/");
        QDir().mkpath(dir.path() + "/app/Config");
        QDir().mkpath(dir.path() + "/app/Downloads");
        OVSettings::ResetSettings();
        OVSettings::DownloadsDir = dir.path() + "/dl";
        OVSettings::AutoInstall = false;
        QDir().mkpath(OVSettings::DownloadsDir);
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        SetOVMultiLangs(&langs);
        tab = std::make_unique<TOVTasksTab>(&mgr);
        tab->resize(800, 500);
        tab->MessageBox = [this](QWidget *, const QString &text, const QString &caption, unsigned type) {
            boxes.push_back({text, caption, type});
            return answer;
        };
        tab->OnCountersChanged = [this](TOVTasksTab *, const QString &text) { shortcut = text; };
        tab->OnNewTask = [this](TOVTasksTab *) { ++newTasks; };
        tab->show();
    }
    void TearDown() override
    {
        tab.reset();
        mgr.Clear();
        SetOVMultiLangs(nullptr);
        OVSettings::ResetSettings();
        platform::setApplicationDirectoryOverride(QString());
    }

    QTreeWidget *lv() const { return tab->lvTasks(); }
    QTreeWidgetItem *row(int i) const { return lv()->topLevelItem(i); }
    int icon(int i) const { return row(i)->data(0, TOVTasksTab::IconIndexRole).toInt(); }
    void select(int i) { lv()->setCurrentItem(row(i)); }
    void key(int k)
    {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(lv(), &press);
    }

    // A task as the list file would give it, without a download behind it.
    TOVTaskItem *loadedTask(const QString &name, int state, quint32 current = 0, quint32 total = 0)
    {
        auto *t = mgr.Add<TOVTaskItem>();
        t->Name = name;
        t->HttpUrl = "http://127.0.0.1:1/" + name;
        t->LocalFile = dir.filePath("dl/" + name + ".exe");
        t->State = state;
        t->CurrentSize = current;
        t->TotalSize = total;
        return t;
    }

    QStringList savedNames() const
    {
        const IniFile ini(TaskListFileName());
        QStringList names;
        for (const QString &section : ini.sections())
            if (ini.valueExists(section, "Name"))
                names << ini.readString(section, "Name", {});
        return names;
    }

    QTemporaryDir dir;
    TBrimMultiLangs langs;
    TBrimTaskManager mgr;
    std::unique_ptr<TOVTasksTab> tab;
    std::vector<BoxCall> boxes;
    int answer = IDNO;
    QString shortcut;
    int newTasks = 0;
};

// A real download from the loopback server: the new row goes to the top and follows
// the task through start, progress, pause (Enter), resume (double-click) and completion.
TEST_F(TasksTabTest, RowFollowsRealDownloadThroughItsStates)
{
    TestHttpServer server;
    server.size = 300000;
    server.chunkSize = 4096;
    server.chunkDelayMs = 15;

    EXPECT_EQ(tab->lblTasksTitle()->text(), "0 tasks in the list:");
    TOVTaskItem *older = loadedTask("Older", St::DownloadCompleted, 10, 10);
    tab->FillFromTaskList();

    TOVTaskItem *task = tab->AddDownloadTask("My App 2", server.url());
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(newTasks, 1);
    ASSERT_EQ(lv()->topLevelItemCount(), 2);
    EXPECT_EQ(row(0)->text(0), "My App 2");
    EXPECT_EQ(tab->TaskOfRow(row(0)), task);
    EXPECT_EQ(tab->TaskOfRow(row(1)), older);
    EXPECT_TRUE(row(0)->text(3).startsWith(OVSettings::DownloadsDir + "/My_App_2_"))
        << row(0)->text(3).toStdString();
    EXPECT_TRUE(row(0)->text(3).endsWith(".exe"));
    EXPECT_EQ(tab->lblTasksTitle()->text(), "2 tasks in the list:");
    EXPECT_EQ(shortcut, "Download(1) / Install(0)");
    EXPECT_EQ(savedNames(), QStringList({"Older", "My App 2"}));

    ASSERT_TRUE(waitUntil([&] { return task->State == St::Downloading && task->CurrentSize > 0; }));
    EXPECT_EQ(icon(0), tasks::IconActive);
    EXPECT_TRUE(row(0)->text(1).startsWith("Downloading... | ")) << row(0)->text(1).toStdString();
    EXPECT_TRUE(row(0)->text(1).endsWith("/s"));
    EXPECT_TRUE(row(0)->text(2).startsWith("292.97 KB | ")) << row(0)->text(2).toStdString();
    EXPECT_TRUE(row(0)->text(2).endsWith(" %"));
    EXPECT_EQ(shortcut, "Download(1) / Install(0)");

    select(0);
    key(Qt::Key_Return); // the keyboard's double-click pauses
    ASSERT_TRUE(waitUntil([&] { return task->State == St::DownloadPaused; }));
    EXPECT_EQ(icon(0), tasks::IconPaused);
    EXPECT_EQ(row(0)->text(1), "Paused");
    EXPECT_EQ(shortcut, "Download(0) / Install(0)");

    Q_EMIT lv()->itemDoubleClicked(row(0), 0);
    ASSERT_TRUE(waitUntil([&] { return task->State == St::DownloadCompleted; }, 30000))
        << task->State << " " << row(0)->text(1).toStdString() << " " << task->CurrentSize;
    EXPECT_EQ(icon(0), tasks::IconActive);
    EXPECT_EQ(row(0)->text(1), "Completed");
    EXPECT_EQ(row(0)->text(2), "292.97 KB");
    EXPECT_EQ(shortcut, "Download(0) / Install(0)");
    EXPECT_EQ(readFile(task->LocalFile), content(300000));

    // Double-clicking a finished download does nothing.
    const size_t requests = server.requests().size();
    Q_EMIT lv()->itemDoubleClicked(row(0), 0);
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(task->State, St::DownloadCompleted);
    EXPECT_EQ(server.requests().size(), requests);
}

TEST_F(TasksTabTest, UnknownLengthLeavesSizeColumnEmpty)
{
    TOVTaskItem *task = loadedTask("Chunked", St::NotDownloaded);
    tab->FillFromTaskList();
    task->CurrentSize = 5000;
    task->TotalSize = 0;
    task->SpeedBPS = 1536;
    task->SetState(St::Downloading);
    EXPECT_EQ(row(0)->text(1), "Downloading... | 1.50 KB/s");
    EXPECT_EQ(row(0)->text(2), "");
    EXPECT_EQ(shortcut, "Download(1) / Install(0)");
}

// Which items a state shows is the list model's rule (tested there); the tab puts the
// rule's answer onto its actions, each item onto its own action.
TEST_F(TasksTabTest, PopupMenuShowsTheModelsItemsForTheSelectedTask)
{
    TOVTaskItem *task = loadedTask("Menu", St::NotDownloaded);
    tab->FillFromTaskList();
    EXPECT_FALSE(tab->PreparePopupMenu()) << "no selection, no menu";
    select(0);
    for (const int state : {St::Downloading, St::DownloadPaused, St::DownloadStopped, St::DownloadCompleted,
                            St::InstallCompleted, St::Failed, St::NotDownloaded, St::StartDownload,
                            St::StartInstall, St::Installing, St::DownloadResumed}) {
        task->State = state;
        const tasks::TaskMenu menu = tasks::MenuForState(state);
        EXPECT_EQ(tab->PreparePopupMenu(), menu.AnyVisible()) << state;
        const std::pair<QAction *, bool> items[] = {
            {tab->mniTasksStop, menu.Stop},       {tab->mniTasksPause, menu.Pause},
            {tab->mniTasksResume, menu.Resume},   {tab->mniTasksLine1, menu.Line1},
            {tab->mniTasksStart, menu.Start},     {tab->mniTasksDownload, menu.Download},
            {tab->mniTasksInstall, menu.Install}, {tab->mniTasksLine2, menu.Line2},
            {tab->mniTasksDelete, menu.Delete},
        };
        for (const auto &[action, visible] : items)
            EXPECT_EQ(action->isVisible(), visible) << state << " " << action->objectName().toStdString();
        if (menu.Pause) {
            EXPECT_EQ(tab->mniTasksPause->isEnabled(), menu.PauseEnabled) << state;
        }
        if (menu.Resume) {
            EXPECT_EQ(tab->mniTasksResume->isEnabled(), menu.ResumeEnabled) << state;
        }
    }
    EXPECT_EQ(tab->mniTasksStart->text(), "Download and Install");
}

TEST_F(TasksTabTest, DeleteAsksAndOnlyYesDeletes)
{
    TOVTaskItem *keep = loadedTask("Keep", St::DownloadStopped, 100, 200);
    TOVTaskItem *gone = loadedTask("Gone", St::DownloadStopped, 100, 200);
    writeFile(gone->LocalFile, "partial");
    writeFile(gone->LocalFile + ".rb", "state");
    tab->FillFromTaskList();

    key(Qt::Key_Delete); // nothing selected: no question
    EXPECT_TRUE(boxes.empty());

    select(1);
    answer = IDNO;
    key(Qt::Key_Delete);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure you want to delete this task?");
    EXPECT_EQ(boxes[0].caption, "Question");
    EXPECT_EQ(boxes[0].type, 0x24u);
    EXPECT_EQ(mgr.Count(), 2);
    EXPECT_EQ(lv()->topLevelItemCount(), 2);
    EXPECT_TRUE(QFile::exists(gone->LocalFile));
    EXPECT_TRUE(QFile::exists(gone->LocalFile + ".rb"));

    const QString file = gone->LocalFile;
    answer = IDYES;
    tab->mniTasksDelete->trigger();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0), keep);
    ASSERT_EQ(lv()->topLevelItemCount(), 1);
    EXPECT_EQ(tab->TaskOfRow(row(0)), keep);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(file + ".rb"));
    EXPECT_EQ(tab->lblTasksTitle()->text(), "1 tasks in the list:");
    EXPECT_EQ(savedNames(), QStringList({"Keep"}));

    // A running download: its worker ends, its files go, nothing reaches the freed task.
    TestHttpServer server;
    server.size = 2000000;
    server.chunkSize = 2048;
    server.chunkDelayMs = 20;
    TOVTaskItem *running = tab->AddDownloadTask("Running", server.url());
    ASSERT_TRUE(waitUntil([&] { return running->State == St::Downloading && running->CurrentSize > 0; }));
    const QString runningFile = running->LocalFile;
    EXPECT_TRUE(QFile::exists(runningFile));
    select(0);
    key(Qt::Key_Delete);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_TRUE(
        waitUntil([&] { return !QFile::exists(runningFile) && !QFile::exists(runningFile + ".rb"); }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(mgr.Count(), 1);
    ASSERT_EQ(lv()->topLevelItemCount(), 1);
    EXPECT_EQ(tab->TaskOfRow(row(0)), keep);
    EXPECT_FALSE(QFile::exists(runningFile));
    EXPECT_FALSE(QFile::exists(runningFile + ".rb"));
    EXPECT_EQ(shortcut, "Download(0) / Install(0)");
}

// Clear All stops a running download, empties the list and its file and
// empties <app>Downloads/, leaving a configured folder elsewhere alone.
TEST_F(TasksTabTest, ClearAllAsksThenClearsEverything)
{
    auto *clear = tab->findChild<QWidget *>("btnTasksClear");
    ASSERT_NE(clear, nullptr);
    auto click = [&] {
        const QPoint c = clear->rect().center();
        QMouseEvent press(QEvent::MouseButtonPress, c, clear->mapToGlobal(c), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(clear, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, c, clear->mapToGlobal(c), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(clear, &release);
    };
    click(); // empty list: no question
    EXPECT_TRUE(boxes.empty());

    TestHttpServer server;
    server.size = 2000000;
    server.chunkSize = 2048;
    server.chunkDelayMs = 20;
    loadedTask("Loaded", St::Failed);
    tab->FillFromTaskList();
    TOVTaskItem *running = tab->AddDownloadTask("Running", server.url());
    ASSERT_TRUE(waitUntil([&] { return running->State == St::Downloading; }));
    const QString appDownloads = dir.path() + "/app/Downloads/";
    writeFile(appDownloads + "old.exe", "x");
    QDir().mkpath(appDownloads + "sub");
    writeFile(appDownloads + "sub/inner.exe", "y");
    writeFile(OVSettings::DownloadsDir + "/mine.exe", "z");

    answer = IDNO;
    click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you want to delete all tasks?");
    EXPECT_EQ(boxes[0].caption, "Question");
    EXPECT_EQ(boxes[0].type, 0x124u);
    EXPECT_EQ(mgr.Count(), 2);
    EXPECT_TRUE(QFile::exists(appDownloads + "old.exe"));

    answer = IDYES;
    click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(mgr.Count(), 0);
    EXPECT_EQ(lv()->topLevelItemCount(), 0);
    EXPECT_EQ(tab->lblTasksTitle()->text(), "0 tasks in the list:");
    EXPECT_EQ(shortcut, "Download(0) / Install(0)");
    EXPECT_TRUE(savedNames().isEmpty());
    EXPECT_TRUE(QFile::exists(TaskListFileName()));
    EXPECT_TRUE(QDir(appDownloads).exists());
    EXPECT_TRUE(QDir(appDownloads).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
    EXPECT_TRUE(QFile::exists(OVSettings::DownloadsDir + "/mine.exe"));
    ASSERT_TRUE(flushQueuedCalls()); // a stopped worker must not reach the freed task or the empty list
    EXPECT_EQ(lv()->topLevelItemCount(), 0);
}

TEST_F(TasksTabTest, FillFromLoadedListByState)
{
    struct Case
    {
        int state;
        int icon;
        const char *text;
        bool size;
    } cases[] = {
        {St::StartInstall, tasks::IconActive, "Completed", true},
        {St::Installing, tasks::IconActive, "Completed", true},
        {St::DownloadCompleted, tasks::IconActive, "Completed", true},
        {St::InstallCompleted, tasks::IconActive, "Completed", true},
        {St::Failed, tasks::IconFailed, "Failed", false},
        {St::NotDownloaded, tasks::IconIdle, "Not downloaded yet", true},
        {St::DownloadStopped, tasks::IconIdle, "Not downloaded yet", true},
        {St::DownloadPaused, tasks::IconIdle, "Not downloaded yet", true},
        {St::DownloadResumed, tasks::IconIdle, "", false},
    };
    for (const Case &c : cases)
        loadedTask(QString::number(c.state), c.state, 512, 1536);
    tab->FillFromTaskList();
    tab->FillFromTaskList(); // a second call adds no duplicates
    ASSERT_EQ(lv()->topLevelItemCount(), int(std::size(cases)));
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case &c = cases[i];
        EXPECT_EQ(row(i)->text(0), QString::number(c.state)) << "file order kept";
        EXPECT_EQ(icon(i), c.icon) << c.state;
        EXPECT_EQ(row(i)->text(1), c.text) << c.state;
        EXPECT_EQ(row(i)->text(2), c.size ? "1.50 KB" : "") << c.state;
    }
    // Counters go by the tasks' states: one StartInstall and one Installing task.
    EXPECT_EQ(shortcut, "Download(0) / Install(2)");
    EXPECT_EQ(tab->lblTasksTitle()->text(), "9 tasks in the list:");
}

TEST_F(TasksTabTest, LanguageChangeReappliesEveryText)
{
    loadedTask("Stopped", St::DownloadStopped);
    tab->FillFromTaskList();
    langs.SetDefaultText("FormOVMain.lvTasks.Columns.Items[1].Caption", "Zustand");
    langs.SetDefaultText("FormOVMain.mniTasksDelete.Caption", "Aufgabe entfernen");
    langs.SetDefaultText("FormOVMain.btnTasksClear.Caption", "Alles leeren");
    langs.SetDefaultText("FormOVMain.lblTasksOpenDownloadDir.Caption", "Ordner <öffnen>");
    langs.SetDefaultText("String.TaskState.NotDownloaded", "Noch nicht geladen");
    langs.SetDefaultText("String.TasksInfo_1", "Laden(%d) / Installieren(%d)");
    langs.SetDefaultText("FormOVMain.lblTasksTitle.Caption", "%d Aufgaben:");
    tab->MultiLangsLanguageChanged();
    EXPECT_EQ(lv()->headerItem()->text(1), "Zustand");
    EXPECT_EQ(lv()->headerItem()->text(0), "Software Name");
    EXPECT_EQ(tab->mniTasksDelete->text(), "Aufgabe entfernen");
    EXPECT_EQ(tab->findChild<QWidget *>("btnTasksClear")->accessibleName(), "Alles leeren");
    EXPECT_EQ(tab->lblTasksOpenDownloadDir()->accessibleName(), "Ordner <öffnen>");
    EXPECT_TRUE(tab->lblTasksOpenDownloadDir()->text().contains("Ordner &lt;öffnen&gt;"));
    EXPECT_EQ(row(0)->text(1), "Noch nicht geladen");
    EXPECT_EQ(shortcut, "Laden(0) / Installieren(0)");
    EXPECT_EQ(tab->lblTasksTitle()->text(), "1 Aufgaben:");
    EXPECT_EQ(lv()->toolTip(), "Right-click to get more operations...");
}

TEST_F(TasksTabTest, CommandsWithoutSelectionOrForeignTasksDoNothing)
{
    TOVTaskItem *task = loadedTask("Idle", St::NotDownloaded);
    tab->FillFromTaskList();
    int setDir = 0;
    tab->OnSetDownloadDir = [&](TOVTasksTab *) { ++setDir; };
    for (auto command :
         {&TOVTasksTab::CommandStop, &TOVTasksTab::CommandPause, &TOVTasksTab::CommandResume,
          &TOVTasksTab::CommandDownloadAndInstall, &TOVTasksTab::CommandDownload,
          &TOVTasksTab::CommandInstall, &TOVTasksTab::CommandDelete, &TOVTasksTab::CommandDoubleClick})
        (tab.get()->*command)();
    EXPECT_EQ(task->State, St::NotDownloaded);
    EXPECT_FALSE(task->AutoInstall);
    EXPECT_TRUE(boxes.empty());

    // A task of the manager without a row changes nothing on screen.
    TOVTaskItem *stray = loadedTask("Stray", St::NotDownloaded);
    const QString before = shortcut;
    stray->SetState(St::Downloading);
    EXPECT_EQ(lv()->topLevelItemCount(), 1);
    EXPECT_EQ(shortcut, before);

    Q_EMIT tab->lblTasksSetDownloadDir()->linkActivated("#");
    EXPECT_EQ(setDir, 1);
}

TEST_F(TasksTabTest, InstallRunsAPresentCompleteFileAndDownloadsOtherwise)
{
    TestHttpServer server;
    server.size = 1000;
    // A complete file on disk: Install starts the installer without a request.
    TOVTaskItem *complete = loadedTask("Complete", St::DownloadCompleted, 6, 6);
    complete->HttpUrl = server.url();
    writeFile(complete->LocalFile, "plain\n"); // not runnable: the run fails at once
    tab->FillFromTaskList();
    select(0);
    tab->mniTasksInstall->trigger();
    ASSERT_TRUE(
        waitUntil([&] { return complete->State == St::Failed || complete->State == St::InstallCompleted; }));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(icon(0), complete->State == St::Failed ? int(tasks::IconFailed) : int(tasks::IconInstalled));

    // Half a file: Install downloads first, with AutoInstall set.
    TOVTaskItem *half = loadedTask("Half", St::DownloadStopped, 500, 1000);
    half->HttpUrl = server.url();
    tab->FillFromTaskList();
    select(1);
    tab->mniTasksInstall->trigger();
    EXPECT_TRUE(half->AutoInstall);
    // The download runs to its end and the install is tried afterwards (the content is no program).
    ASSERT_TRUE(waitUntil([&] { return half->State == St::Failed || half->State == St::InstallCompleted; }));
    EXPECT_EQ(half->CurrentSize, 1000u);
    EXPECT_EQ(server.requests().size(), 1u);
}

// Keyboard users reach every control in order and can open the menu; screen readers get names.
TEST_F(TasksTabTest, KeyboardOrderMenuKeyAndAccessibleNames)
{
    loadedTask("Paused", St::DownloadPaused);
    tab->FillFromTaskList();
    QApplication::setActiveWindow(tab.get());
    lv()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == lv(); }, 2000));
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        QWidget *focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        order << focus->objectName();
        QKeyEvent tabKey(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(focus, &tabKey);
    }
    EXPECT_EQ(order.join(',').toStdString(),
              "lvTasks,lblTasksOpenDownloadDir,lblTasksSetDownloadDir,btnTasksClear");
    int setDir = 0;
    tab->OnSetDownloadDir = [&](TOVTasksTab *) { ++setDir; };
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(tab->lblTasksSetDownloadDir(), &enter);
    EXPECT_EQ(setDir, 1);

    EXPECT_EQ(lv()->accessibleName(), "Download / Install");
    EXPECT_EQ(tab->findChild<QWidget *>("btnTasksClear")->accessibleName(), "Clear All");
    EXPECT_EQ(tab->lblTasksSetDownloadDir()->accessibleName(), "Modify directory of downloaded files");

    QKeyEvent noRow(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
    QApplication::sendEvent(lv(), &noRow);
    EXPECT_FALSE(tab->pmTasks()->isVisible());
    select(0);
    QKeyEvent menuKey(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
    QApplication::sendEvent(lv(), &menuKey);
    EXPECT_TRUE(tab->pmTasks()->isVisible());
    EXPECT_TRUE(tab->mniTasksResume->isVisible() && tab->mniTasksResume->isEnabled());
    tab->pmTasks()->hide();
}

// An unchecked file from the open network: Install asks once, naming the host
// and the unencrypted connection, and only Yes runs it. A file that does not
// match its digest fails, and its row says why.
TEST_F(TasksTabTest, InstallAsksBeforeAnUncheckedFileAndShowsWhyACheckedOneFailed)
{
    const QString marker = dir.filePath("installed");
    const QByteArray script = "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\nexit 0\n";
    TOVTaskItem *open = loadedTask("Open Tool", St::DownloadCompleted, script.size(), script.size());
    open->PlainHttpHost = "mirror.example";
    writeFile(open->LocalFile, script);
    TOVTaskItem *altered = loadedTask("Altered Tool", St::DownloadCompleted, script.size(), script.size());
    altered->Sha256 = QString(64, 'e');
    writeFile(altered->LocalFile, script);
    tab->FillFromTaskList();

    select(0);
    answer = IDNO;
    tab->mniTasksInstall->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("Open Tool"));
    EXPECT_TRUE(boxes[0].text.contains("mirror.example"));
    EXPECT_TRUE(boxes[0].text.contains("not encrypted"));
    EXPECT_EQ(boxes[0].caption, "Warning");
    EXPECT_EQ(boxes[0].type, unsigned(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_TRUE(flushQueuedCalls());
    EXPECT_EQ(open->State, St::DownloadCompleted);
    EXPECT_FALSE(QFile::exists(marker));

    answer = IDYES;
    tab->mniTasksInstall->trigger();
    ASSERT_EQ(boxes.size(), 2u);
    ASSERT_TRUE(waitUntil([&] { return open->State == St::InstallCompleted; }));
    EXPECT_TRUE(QFile::exists(marker));
    QFile::remove(marker);

    select(1);
    tab->mniTasksInstall->trigger();
    ASSERT_TRUE(waitUntil([&] { return altered->State == St::Failed; }));
    EXPECT_EQ(boxes.size(), 2u); // a checked file is never asked about
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_EQ(row(1)->text(1), "Failed");
    EXPECT_EQ(row(1)->toolTip(1), altered->InstallError);
    EXPECT_TRUE(row(1)->toolTip(1).contains(QString(64, 'e')));
    EXPECT_TRUE(row(1)->toolTip(1).contains(altered->RejectedFile));
}

// The notices the desktop is asked to show, while it exists.
struct RecordingNotifier : platform::IDesktopNotifier
{
    std::vector<platform::DesktopNotice> notices;
    RecordingNotifier() { platform::setDesktopNotifier(this); }
    ~RecordingNotifier() override { platform::setDesktopNotifier(nullptr); }
    RecordingNotifier(const RecordingNotifier &) = delete;
    RecordingNotifier &operator=(const RecordingNotifier &) = delete;
    bool notify(const platform::DesktopNotice &n) override
    {
        notices.push_back(n);
        return true;
    }
};

// A new task whose download cannot be checked and came over plain HTTP from
// another machine (loopback counted as one here) is not installed by itself:
// the desktop says so. One with the vendor's digest (given in capitals, as
// pages may) installs as usual.
TEST_F(TasksTabTest, AHeldInstallIsAnnouncedAndACheckedOneRuns)
{
    RecordingNotifier recorder;
    tasks::SetLoopbackCountsAsRemote(true);
    struct Restore
    {
        ~Restore() { tasks::SetLoopbackCountsAsRemote(false); }
    } restore;

    TestHttpServer server;
    const QString marker = dir.filePath("installed");
    server.script = "#!/bin/sh\ntouch '" + marker.toStdString() + "'\nexit 0\n";
    OVSettings::AutoInstall = true;
    TOVTaskItem *held = tab->AddDownloadTask("Held Tool", server.url("/script"));
    ASSERT_TRUE(waitUntil([&] { return !recorder.notices.empty(); }));
    EXPECT_EQ(held->State, St::DownloadCompleted);
    EXPECT_TRUE(held->InstallHeld);
    EXPECT_EQ(recorder.notices[0].Summary, "Download waiting to be installed");
    EXPECT_TRUE(recorder.notices[0].Body.contains("Held Tool"));
    EXPECT_TRUE(recorder.notices[0].Body.contains("127.0.0.1"));
    EXPECT_FALSE(QFile::exists(marker));

    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(server.script), QCryptographicHash::Sha256)
            .toHex());
    TOVTaskItem *checked = tab->AddDownloadTask("Checked Tool", server.url("/script"), digest.toUpper());
    EXPECT_EQ(checked->Sha256, digest);
    ASSERT_TRUE(waitUntil([&] { return checked->State == St::InstallCompleted; }));
    EXPECT_TRUE(QFile::exists(marker));
    ASSERT_EQ(recorder.notices.size(), 2u);
    EXPECT_EQ(recorder.notices[1].Summary, "Installation completed");
}

// The end of every installer run reaches the desktop with the program's name,
// in the interface language; the desktop is never asked to wait.
TEST_F(TasksTabTest, FinishedInstallsAreAnnouncedOnTheDesktop)
{
    RecordingNotifier recorder;

    TOVTaskItem *runs = loadedTask("Foo Bar 2", St::DownloadCompleted, 18, 18);
    writeFile(runs->LocalFile, "#!/bin/sh\nexit 0\n");
    TOVTaskItem *broken = loadedTask("Broken", St::DownloadCompleted, 9, 9);
    writeFile(broken->LocalFile, "no program");
    tab->FillFromTaskList();
    select(0);
    tab->mniTasksInstall->trigger();
    ASSERT_TRUE(waitUntil([&] { return runs->State == St::InstallCompleted; }));
    ASSERT_EQ(recorder.notices.size(), 1u);
    const platform::DesktopNotice &done = recorder.notices[0];
    EXPECT_EQ(done.AppName, "Orvane");
    EXPECT_EQ(done.AppIcon, "orvane");
    EXPECT_EQ(done.Summary, "Installation completed");
    EXPECT_EQ(done.Body, "Foo Bar 2 was installed.");

    langs.SetDefaultText("String.Notify.InstallFailed", QString::fromUtf8("安装失败"));
    // A file that is no installer says so, naming it.
    langs.SetDefaultText("String.MsgText.InstallerUnknownType",
                         QString::fromUtf8("未安装 %s：%s 无法安装。"));
    select(1);
    tab->mniTasksInstall->trigger();
    ASSERT_TRUE(waitUntil([&] { return broken->State == St::Failed; }));
    ASSERT_EQ(recorder.notices.size(), 2u);
    EXPECT_EQ(recorder.notices[1].Summary, QString::fromUtf8("安装失败"));
    EXPECT_EQ(recorder.notices[1].Body,
              QString::fromUtf8("未安装 Broken：%1 无法安装。").arg(broken->LocalFile));
}

} // namespace
