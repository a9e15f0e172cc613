#pragma once

#include "tasks/TaskListModel.h"
#include "ui/OVTabPage.h"

#include <QHash>
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
// The rows, what they show, the menu rules and the counters belong to its
// list model; the tab shows them and turns the user's commands into task calls.
// Rows refer to tasks of TaskMgr without owning them.
class TOVTasksTab : public QWidget, public IOVTabPage
{
    Q_OBJECT
public:
    // Data kept on column 0 of every row.
    enum RowRole {
        TaskRole = Qt::UserRole, // the task's address (quintptr); checked against TaskMgr before use
        IconIndexRole, // index of the row's icon in ilTasks (tasks::TaskIcon)
    };

    // Does not own TaskMgr; its model takes over the manager's OnItemStateChange.
    explicit TOVTasksTab(TBrimTaskManager *TaskMgr, QWidget *parent = nullptr);
    ~TOVTasksTab() override;

    // Creates a task from the current settings, lists it at the top, saves the
    // list, announces it through OnNewTask and starts it.
    // Sha256: the vendor's digest of the file, empty when none was given.
    TOVTaskItem *AddDownloadTask(const QString &Title, const QString &Url, const QString &Sha256 = {});
    // One row per task already in TaskMgr (after LoadTaskList), once at start-up.
    void FillFromTaskList();
    // Refreshes lblTasksTitle and hands the shortcut text to OnCountersChanged.
    // The model calls it whenever its figures change.
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
    const tasks::TaskListModel &Model() const { return m_model; }

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
    QTreeWidgetItem *NewRow(const tasks::TaskRow &Row);
    // Brings one list row up to date with its model row.
    void ShowRow(QTreeWidgetItem *Item, const tasks::TaskRow &Row);
    void RemoveRow(const TBrimTaskItem *Task);
    void OpenPopupMenu(const QPoint &ViewportPos);
    void SaveList();
    int AskQuestion(const QString &TextKey, unsigned Type);
    // Asks whether a file that cannot be checked may be installed; true when
    // it may (also when there was nothing to ask).
    bool ConsentToInstall(TOVTaskItem *Task);

    TBrimTaskManager *m_taskMgr;
    tasks::TaskListModel m_model;
    // The list row of each task with a row, so an update finds its row at once.
    QHash<const TBrimTaskItem *, QTreeWidgetItem *> m_items;
    QTreeWidget *m_lvTasks = nullptr;
    QMenu *m_pmTasks = nullptr;
    TBrimImageButton *m_btnTasksClear = nullptr;
    QLabel *m_lblTasksTitle = nullptr;
    QLabel *m_lblTasksOpenDownloadDir = nullptr;
    QLabel *m_lblTasksSetDownloadDir = nullptr;
    QList<QIcon> m_ilTasks;
    QString m_shortcutText;
};
