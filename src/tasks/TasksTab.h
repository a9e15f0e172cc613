#pragma once

#include "ui/OVTabPage.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class TBrimImageButton;
class TBrimTaskItem;
class TBrimTaskManager;
class TOVTaskItem;

// The whole content of the Tasks tab sheet: the task list with its popup
// menu, the title with the task count, the two directory links and "Clear All".
// Rows refer to tasks of TaskMgr without owning them.
class TOVTasksTab : public QWidget, public IOVTabPage
{
    Q_OBJECT
public:
    // Data kept on column 0 of every row.
    enum RowRole {
        TaskRole = Qt::UserRole, // the task's address (quintptr); checked against TaskMgr before use
        IconIndexRole, // index of the row's icon in ilTasks
        StateKeyRole, // language key of the state text, so a language change can re-apply it
        StateArgRole, // the argument that key is formatted with (empty when none)
    };
    // Row icons, by index: idle, paused, active or downloaded, installed, failed.
    enum { IconIdle, IconPaused, IconActive, IconInstalled, IconFailed, IconCount };

    // Does not own TaskMgr; takes over its OnItemStateChange.
    explicit TOVTasksTab(TBrimTaskManager *TaskMgr, QWidget *parent = nullptr);
    ~TOVTasksTab() override;

    // Creates a task from the current settings, lists it at the top, saves the
    // list, announces it through OnNewTask and starts it.
    TOVTaskItem *AddDownloadTask(const QString &Title, const QString &Url);
    // One row per task already in TaskMgr (after LoadTaskList), once at start-up.
    void FillFromTaskList();
    // Refreshes lblTasksTitle and hands the shortcut text to OnCountersChanged.
    void UpdateTaskCounters();
    // Re-applies every text of the tab.
    void MultiLangsLanguageChanged();

    QWidget *PageWidget() override { return this; }
    void ApplyTexts() override { MultiLangsLanguageChanged(); }

    QTreeWidget *lvTasks() const { return m_lvTasks; }
    QMenu *pmTasks() const { return m_pmTasks; }
    TBrimImageButton *btnTasksClear() const { return m_btnTasksClear; }
    QLabel *lblTasksTitle() const { return m_lblTasksTitle; }
    QLabel *lblTasksOpenDownloadDir() const { return m_lblTasksOpenDownloadDir; }
    QLabel *lblTasksSetDownloadDir() const { return m_lblTasksSetDownloadDir; }
    const QList<QIcon> &ilTasks() const { return m_ilTasks; }
    // The text last handed to OnCountersChanged.
    QString ShortcutText() const { return m_shortcutText; }

    QAction *mniTasksStop = nullptr;
    QAction *mniTasksPause = nullptr;
    QAction *mniTasksResume = nullptr;
    QAction *mniTasksLine1 = nullptr;
    QAction *mniTasksStart = nullptr;
    QAction *mniTasksDownload = nullptr;
    QAction *mniTasksInstall = nullptr;
    QAction *mniTasksLine2 = nullptr;
    QAction *mniTasksDelete = nullptr;

    // The task of a row, or of the selected row; null when there is none or
    // the task is no longer in TaskMgr.
    TOVTaskItem *TaskOfRow(const QTreeWidgetItem *Row) const;
    TOVTaskItem *SelectedTask() const;
    QTreeWidgetItem *RowOf(const TBrimTaskItem *Item) const;
    // Shows and enables the menu items for the selected task; false when no
    // item would be visible (or nothing is selected): then no menu opens.
    bool PreparePopupMenu();

    // Commands on the selected task; nothing happens without a selected row.
    void CommandStop();
    void CommandPause();
    void CommandResume();
    void CommandDownloadAndInstall();
    void CommandDownload();
    void CommandInstall();
    void CommandDelete();
    void CommandDoubleClick();
    void CommandClearAll();
    void CommandOpenDownloadDir();
    void CommandSetDownloadDir();

    std::function<void(TOVTasksTab *Sender)> OnNewTask;
    std::function<void(TOVTasksTab *Sender, const QString &ShortcutText)> OnCountersChanged;
    std::function<void(TOVTasksTab *Sender)> OnSetDownloadDir;
    // Injectable for tests; ShowMessageBox with the current language by default.
    std::function<int(QWidget *Owner, const QString &Text, const QString &Caption, unsigned Type)> MessageBox;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void TaskMgrItemStateChange(TBrimTaskItem &Item);
    QTreeWidgetItem *NewRow(TOVTaskItem *Task);
    void SetRowIcon(QTreeWidgetItem *Row, int Index);
    void SetRowStateText(QTreeWidgetItem *Row, const QString &Key, const QString &Arg = {});
    void OpenPopupMenu(const QPoint &ViewportPos);
    void SaveList();
    int AskQuestion(const QString &TextKey, unsigned Type);

    TBrimTaskManager *m_taskMgr;
    QTreeWidget *m_lvTasks = nullptr;
    QMenu *m_pmTasks = nullptr;
    TBrimImageButton *m_btnTasksClear = nullptr;
    QLabel *m_lblTasksTitle = nullptr;
    QLabel *m_lblTasksOpenDownloadDir = nullptr;
    QLabel *m_lblTasksSetDownloadDir = nullptr;
    QList<QIcon> m_ilTasks;
    QString m_shortcutText;
};

namespace tasks {
// Column 2 of a running download: the total size and the share done; empty
// while the total is still unknown (0).
QString DownloadProgressText(quint32 CurrentSize, quint32 TotalSize);
// CurrentSize * 100 / TotalSize rounded to the nearest integer, halves to the
// even neighbour, without overflow, at most 100; -1 when TotalSize is 0.
int DownloadPercent(quint32 CurrentSize, quint32 TotalSize);
} // namespace tasks
