#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <list>

class TBrimTaskItem;
class TBrimTaskManager;
class TOVTaskItem;

namespace tasks {

// Row icons, by index into the tab's image list: idle, paused, active or
// downloaded, installed, failed.
enum TaskIcon : int { IconIdle, IconPaused, IconActive, IconInstalled, IconFailed, IconCount };

// The popup menu items a task's state shows, in menu order, and which of the
// shown ones are enabled (only Pause and Resume are ever disabled).
struct TaskMenu
{
    bool Stop = false;
    bool Pause = false;
    bool Resume = false;
    bool Line1 = false;
    bool Start = false;
    bool Download = false;
    bool Install = false;
    bool Line2 = false;
    bool Delete = false;
    bool PauseEnabled = false;
    bool ResumeEnabled = false;

    // Without a visible item no menu opens.
    bool AnyVisible() const { return Stop || Pause || Resume || Start || Download || Install || Delete; }
};
TaskMenu MenuForState(int state);

// What a double-click (or Enter) on a row does to its task.
enum class TaskDoubleClick { None, Pause, Resume, Download };
TaskDoubleClick DoubleClickForState(int state);

// The counter on the Tasks shortcut a task in this state adds to.
enum class TaskCounter { None, Downloading, Installing };
TaskCounter CounterForState(int state);

// CurrentSize * 100 / TotalSize rounded to the nearest integer, halves to the
// even neighbour, without overflow, at most 100; -1 when TotalSize is 0.
int DownloadPercent(quint32 CurrentSize, quint32 TotalSize);
// Column 2 of a running download: the total size and the share done; empty
// while the total is still unknown (0).
QString DownloadProgressText(quint32 CurrentSize, quint32 TotalSize);

// One row of the task list: the task it stands for and what it shows.
struct TaskRow
{
    TOVTaskItem *Task = nullptr; // not owned
    QString Name; // column 0, taken when the row is made
    QString LocalFile; // column 3, likewise
    int Icon = IconIdle;
    QString StateKey; // language key of column 1; empty: no text
    QString StateArg; // what that key is formatted with (the speed); empty: nothing
    QString SizeText; // column 2
    TaskCounter Counted = TaskCounter::None; // what this row adds to the counters
    bool InstallRunning = false; // an installer run began (StartInstall) and has not reported yet
};

// The Tasks tab's list without its widgets: the rows in display order, how a
// task's state shows in its row, the popup menu rules and the counters of the
// shortcut and the title. It follows the manager's OnItemStateChange; each
// state change touches only its own row, and the counters are kept as running
// totals, so a progress event costs the same however long the list is.
class TaskListModel
{
public:
    using TRowEvent = std::function<void(TaskListModel *Sender, const TaskRow &Row)>;
    using TNotifyEvent = std::function<void(TaskListModel *Sender)>;
    using TInstallEvent = std::function<void(TaskListModel *Sender, const TaskRow &Row, bool Succeeded)>;

    // Takes over TaskMgr's OnItemStateChange (and gives it back on destruction).
    explicit TaskListModel(TBrimTaskManager *TaskMgr);
    ~TaskListModel();
    TaskListModel(const TaskListModel &) = delete;
    TaskListModel &operator=(const TaskListModel &) = delete;

    // A new task's row, at the top: idle icon, no state or size text, unless the
    // task has already left its first state (a start that failed at once).
    const TaskRow *InsertNew(TOVTaskItem *Task);
    // A task read from the list file: a row at the bottom, shown by its stored
    // state. Null when the task already has a row.
    const TaskRow *AppendLoaded(TOVTaskItem *Task);
    // Follows a state change of Item; null (and nothing changes) when it has no row.
    const TaskRow *ApplyStateChange(const TBrimTaskItem &Item);
    // Drops the row of Task (which need not exist any more); false when there was none.
    bool Remove(const TBrimTaskItem *Task);
    void Clear();

    const TaskRow *RowOf(const TBrimTaskItem *Task) const;
    // The task of a row while the manager still holds it; null otherwise.
    TOVTaskItem *LiveTask(const TBrimTaskItem *Task) const;
    int RowCount() const { return int(m_rows.size()); }
    // Top to bottom.
    const std::list<TaskRow> &Rows() const { return m_rows; }

    int DownloadingCount() const { return m_downloading; }
    int InstallingCount() const { return m_installing; }
    // Column 1 of a row in the current language.
    QString StateText(const TaskRow &Row) const;
    // "Download(n) / Install(n)" for the Tasks shortcut.
    QString ShortcutText() const;
    // "n tasks in the list:" above the list.
    QString TitleText() const;

    // A row changed because its task's state did.
    TRowEvent OnRowChanged;
    // The figures of ShortcutText or TitleText changed.
    TNotifyEvent OnCountersChanged;
    // An installer run of a listed task has ended, after the row shows its result.
    TInstallEvent OnInstallFinished;
    // A listed task's download completed, and its automatic install waits for
    // the user's word (the file could not be checked).
    TRowEvent OnInstallHeld;

private:
    TaskRow *find(const TBrimTaskItem *Task);
    TaskRow &insert(TOVTaskItem *Task, bool atTop);
    void count(TaskRow &Row, TaskCounter Counter);
    void countersChanged();

    TBrimTaskManager *m_taskMgr;
    std::list<TaskRow> m_rows;
    QHash<const TBrimTaskItem *, std::list<TaskRow>::iterator> m_index;
    int m_downloading = 0;
    int m_installing = 0;
};

} // namespace tasks
