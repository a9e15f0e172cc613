#include "tasks/TaskListModel.h"

#include "core/BrimMultiLangs.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/Clock.h"
#include "tasks/OVDownloadTasks.h"
#include "tasks/OVTaskItem.h"

#include <algorithm>

namespace tasks {

namespace St = OVTaskState;

TaskMenu MenuForState(int state)
{
    TaskMenu m;
    switch (state) {
    case St::Downloading:
    case St::DownloadPaused:
        m.Stop = m.Pause = m.Resume = m.Line1 = m.Delete = true;
        m.PauseEnabled = state == St::Downloading;
        m.ResumeEnabled = state == St::DownloadPaused;
        break;
    case St::DownloadStopped:
    case St::DownloadCompleted:
    case St::InstallCompleted:
    case St::Failed:
    case St::NotDownloaded:
        m.Start = m.Download = m.Install = m.Line2 = m.Delete = true;
        break;
    default:
        // Starting, installing and resuming tasks are between two states: nothing to offer.
        break;
    }
    return m;
}

TaskDoubleClick DoubleClickForState(int state)
{
    switch (state) {
    case St::Downloading:
        return TaskDoubleClick::Pause;
    case St::DownloadPaused:
        return TaskDoubleClick::Resume;
    case St::DownloadStopped:
    case St::Failed:
    case St::NotDownloaded:
        return TaskDoubleClick::Download;
    default:
        return TaskDoubleClick::None;
    }
}

TaskCounter CounterForState(int state)
{
    switch (state) {
    case St::StartDownload:
    case St::Downloading:
        return TaskCounter::Downloading;
    case St::StartInstall:
    case St::Installing:
        return TaskCounter::Installing;
    default:
        return TaskCounter::None;
    }
}

int DownloadPercent(quint32 CurrentSize, quint32 TotalSize)
{
    if (TotalSize == 0)
        return -1;
    const quint32 percent = divRoundHalfEven(quint64(CurrentSize) * 100u, TotalSize);
    // A server that sends more than it announced must not push the figure past the whole.
    return int(std::min<quint32>(percent, 100));
}

QString DownloadProgressText(quint32 CurrentSize, quint32 TotalSize)
{
    const int percent = DownloadPercent(CurrentSize, TotalSize);
    if (percent < 0)
        return {};
    return QStringLiteral("%1 | %2 %").arg(FormatFileSize(TotalSize, 2)).arg(percent);
}

TaskListModel::TaskListModel(TBrimTaskManager *TaskMgr)
    : m_taskMgr(TaskMgr)
{
    if (m_taskMgr)
        m_taskMgr->OnItemStateChange
            = [this](TBrimTaskManager *, TBrimTaskItem &Item) { ApplyStateChange(Item); };
}

TaskListModel::~TaskListModel()
{
    if (m_taskMgr)
        m_taskMgr->OnItemStateChange = nullptr;
}

TaskRow *TaskListModel::find(const TBrimTaskItem *Task)
{
    const auto it = m_index.constFind(Task);
    return it == m_index.constEnd() ? nullptr : &*it.value();
}

const TaskRow *TaskListModel::RowOf(const TBrimTaskItem *Task) const
{
    return const_cast<TaskListModel *>(this)->find(Task);
}

TOVTaskItem *TaskListModel::LiveTask(const TBrimTaskItem *Task) const
{
    const TaskRow *row = RowOf(Task);
    // A row never keeps its task alive: only one the manager still holds may be touched.
    if (!row || !m_taskMgr || m_taskMgr->IndexOf(Task) < 0)
        return nullptr;
    return row->Task;
}

TaskRow &TaskListModel::insert(TOVTaskItem *Task, bool atTop)
{
    TaskRow row;
    row.Task = Task;
    row.Name = Task->Name;
    row.LocalFile = Task->LocalFile;
    const auto it = m_rows.insert(atTop ? m_rows.begin() : m_rows.end(), std::move(row));
    m_index.insert(Task, it);
    return *it;
}

void TaskListModel::count(TaskRow &Row, TaskCounter Counter)
{
    auto add = [this](TaskCounter c, int d) {
        if (c == TaskCounter::Downloading)
            m_downloading += d;
        else if (c == TaskCounter::Installing)
            m_installing += d;
    };
    add(Row.Counted, -1);
    Row.Counted = Counter;
    add(Row.Counted, +1);
}

void TaskListModel::countersChanged()
{
    if (OnCountersChanged) {
        const auto handler = OnCountersChanged;
        handler(this);
    }
}

const TaskRow *TaskListModel::InsertNew(TOVTaskItem *Task)
{
    if (!Task || find(Task))
        return nullptr;
    TaskRow &row = insert(Task, true);
    count(row, CounterForState(Task->State));
    // A freshly made task holds StartDownload until its downloader reports;
    // anything else was reported before the row existed.
    if (Task->State != St::StartDownload)
        ApplyStateChange(*Task);
    countersChanged();
    return find(Task);
}

const TaskRow *TaskListModel::AppendLoaded(TOVTaskItem *Task)
{
    if (!Task || find(Task))
        return nullptr;
    TaskRow &row = insert(Task, false);
    // A stored state says where the file stands, not what runs: nothing runs yet.
    switch (Task->State) {
    case St::StartInstall:
    case St::Installing:
    case St::DownloadCompleted:
    case St::InstallCompleted:
        row.Icon = IconActive;
        row.StateKey = St::Key(St::DownloadCompleted);
        row.SizeText = FormatFileSize(Task->TotalSize, 2);
        break;
    case St::Failed:
        row.Icon = IconFailed;
        row.StateKey = St::Key(St::Failed);
        break;
    case St::NotDownloaded:
    case St::StartDownload:
    case St::Downloading:
    case St::DownloadStopped:
    case St::DownloadPaused:
        row.Icon = IconIdle;
        row.StateKey = St::Key(St::NotDownloaded);
        row.SizeText = FormatFileSize(Task->TotalSize, 2);
        break;
    default:
        break;
    }
    count(row, CounterForState(Task->State));
    countersChanged();
    return &row;
}

const TaskRow *TaskListModel::ApplyStateChange(const TBrimTaskItem &Item)
{
    TaskRow *row = find(&Item);
    if (!row)
        return nullptr;
    const TOVTaskItem *task = row->Task;
    const int state = task->State;
    auto show = [row, state](int icon, QString arg = {}) {
        if (icon >= 0)
            row->Icon = icon;
        row->StateKey = St::Key(state);
        row->StateArg = std::move(arg);
    };
    switch (state) {
    case St::StartDownload:
    case St::StartInstall:
    case St::DownloadResumed:
        show(IconActive);
        break;
    case St::Downloading:
        show(-1, FormatFileSize(task->SpeedBPS, 2));
        row->SizeText = DownloadProgressText(task->CurrentSize, task->TotalSize);
        break;
    case St::Installing:
        show(-1);
        break;
    case St::DownloadStopped:
    case St::NotDownloaded:
        show(IconIdle);
        break;
    case St::DownloadPaused:
        show(IconPaused);
        break;
    case St::DownloadCompleted:
        show(-1);
        row->SizeText = FormatFileSize(task->TotalSize, 2);
        break;
    case St::InstallCompleted:
        show(IconInstalled);
        break;
    case St::Failed:
        show(IconFailed);
        break;
    default:
        break;
    }
    // Only Install() passes through StartInstall, and its run always ends in
    // InstallCompleted or Failed; a stored state or a failed download never
    // counts as an install result.
    bool installEnded = false;
    if (state == St::StartInstall)
        row->InstallRunning = true;
    else if (row->InstallRunning && state != St::Installing) {
        row->InstallRunning = false;
        installEnded = state == St::InstallCompleted || state == St::Failed;
    }
    const TaskCounter counter = CounterForState(state);
    const bool counted = counter != row->Counted;
    if (counted)
        count(*row, counter);
    if (OnRowChanged) {
        const auto handler = OnRowChanged;
        handler(this, *row);
    }
    if (counted)
        countersChanged();
    if (state == St::DownloadCompleted && task->InstallHeld && OnInstallHeld) {
        if (const TaskRow *still = find(&Item)) {
            const auto handler = OnInstallHeld;
            handler(this, *still);
        }
    }
    if (installEnded && OnInstallFinished) {
        // A handler may have dropped the row: hand it only while it is still listed.
        if (const TaskRow *still = find(&Item)) {
            const auto handler = OnInstallFinished;
            handler(this, *still, state == St::InstallCompleted);
        }
    }
    return find(&Item);
}

bool TaskListModel::Remove(const TBrimTaskItem *Task)
{
    const auto it = m_index.find(Task);
    if (it == m_index.end())
        return false;
    count(*it.value(), TaskCounter::None);
    m_rows.erase(it.value());
    m_index.erase(it);
    countersChanged();
    return true;
}

void TaskListModel::Clear()
{
    m_rows.clear();
    m_index.clear();
    m_downloading = m_installing = 0;
    countersChanged();
}

QString TaskListModel::StateText(const TaskRow &Row) const
{
    if (Row.StateKey.isEmpty())
        return {};
    return Row.StateArg.isEmpty() ? OVGetText(Row.StateKey) : OVFormatText(Row.StateKey, {Row.StateArg});
}

QString TaskListModel::ShortcutText() const
{
    return OVFormatText(QStringLiteral("String.TasksInfo_1"), {m_downloading, m_installing});
}

QString TaskListModel::TitleText() const
{
    return OVFormatText(QStringLiteral("FormOVMain.lblTasksTitle.Caption"), {RowCount()});
}

} // namespace tasks
