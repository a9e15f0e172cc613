#include "tasks/TasksTab.h"

#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskItem.h"

#include <QTreeWidget>

TOVTasksTab::TOVTasksTab(TBrimTaskManager *TaskMgr, QWidget *parent)
    : QWidget(parent)
    , m_taskMgr(TaskMgr)
{
    m_lvTasks = new QTreeWidget(this);
}

TOVTasksTab::~TOVTasksTab() = default;

TOVTaskItem *TOVTasksTab::AddDownloadTask(const QString &, const QString &) { return nullptr; }
void TOVTasksTab::FillFromTaskList() { }
void TOVTasksTab::UpdateTaskCounters() { }
void TOVTasksTab::MultiLangsLanguageChanged() { }
TOVTaskItem *TOVTasksTab::SelectedTask() const { return nullptr; }
bool TOVTasksTab::PreparePopupMenu() { return false; }
void TOVTasksTab::CommandStop() { }
void TOVTasksTab::CommandPause() { }
void TOVTasksTab::CommandResume() { }
void TOVTasksTab::CommandDownloadAndInstall() { }
void TOVTasksTab::CommandDownload() { }
void TOVTasksTab::CommandInstall() { }
void TOVTasksTab::CommandDelete() { }
void TOVTasksTab::CommandDoubleClick() { }
void TOVTasksTab::CommandClearAll() { }
void TOVTasksTab::CommandOpenDownloadDir() { }
bool TOVTasksTab::eventFilter(QObject *watched, QEvent *event) { return QWidget::eventFilter(watched, event); }
void TOVTasksTab::TaskMgrItemStateChange(TBrimTaskItem &) { }
QTreeWidgetItem *TOVTasksTab::RowOf(const TBrimTaskItem *) const { return nullptr; }
QTreeWidgetItem *TOVTasksTab::NewRow(TOVTaskItem *) { return nullptr; }
void TOVTasksTab::SaveList() { }
void TOVTasksTab::ApplyStateTexts(QTreeWidgetItem *, TOVTaskItem *) { }
