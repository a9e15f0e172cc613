#pragma once

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
class TOVTasksTab : public QWidget
{
    Q_OBJECT
public:
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

    QTreeWidget *lvTasks() const { return m_lvTasks; }
    QMenu *pmTasks() const { return m_pmTasks; }
    TBrimImageButton *btnTasksClear() const { return m_btnTasksClear; }
    QLabel *lblTasksTitle() const { return m_lblTasksTitle; }
    QLabel *lblTasksOpenDownloadDir() const { return m_lblTasksOpenDownloadDir; }
    QLabel *lblTasksSetDownloadDir() const { return m_lblTasksSetDownloadDir; }
    // The text last handed to OnCountersChanged.
    QString ShortcutText() const { return m_shortcutText; }

    // The menu items, shown and enabled for the selected task as the popup
    // would show them (tests and the context menu use the same rule).
    QAction *mniTasksStop = nullptr;
    QAction *mniTasksPause = nullptr;
    QAction *mniTasksResume = nullptr;
    QAction *mniTasksLine1 = nullptr;
    QAction *mniTasksStart = nullptr;
    QAction *mniTasksDownload = nullptr;
    QAction *mniTasksInstall = nullptr;
    QAction *mniTasksLine2 = nullptr;
    QAction *mniTasksDelete = nullptr;

    // The task of the selected row; null without a selection.
    TOVTaskItem *SelectedTask() const;
    // Sets up the menu items for the selected task; false when no item would be
    // visible (or nothing is selected), in which case no menu opens.
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

    std::function<void(TOVTasksTab *Sender)> OnNewTask;
    std::function<void(TOVTasksTab *Sender, const QString &ShortcutText)> OnCountersChanged;
    std::function<void(TOVTasksTab *Sender)> OnSetDownloadDir;
    // Injectable for tests; ShowMessageBox with the current language by default.
    std::function<int(QWidget *Owner, const QString &Text, const QString &Caption, unsigned Type)> MessageBox;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void TaskMgrItemStateChange(TBrimTaskItem &Item);
    QTreeWidgetItem *RowOf(const TBrimTaskItem *Item) const;
    QTreeWidgetItem *NewRow(TOVTaskItem *Task);
    void SaveList();
    void ApplyStateTexts(QTreeWidgetItem *Row, TOVTaskItem *Task);

    TBrimTaskManager *m_taskMgr;
    QTreeWidget *m_lvTasks = nullptr;
    QMenu *m_pmTasks = nullptr;
    TBrimImageButton *m_btnTasksClear = nullptr;
    QLabel *m_lblTasksTitle = nullptr;
    QLabel *m_lblTasksOpenDownloadDir = nullptr;
    QLabel *m_lblTasksSetDownloadDir = nullptr;
    QString m_shortcutText;
};
