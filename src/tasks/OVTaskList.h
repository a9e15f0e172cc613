#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace platform {
class TerminationSignalWatcher;
}

class TBrimTaskManager;
class TOVTaskItem;

// "Config/OVTasks.ini" in the folder the program writes to (see AppFiles).
QString TaskListFileName();

// Writes every task of the manager, replacing the file atomically. False when
// the file could not be written.
bool SaveTaskList(const TBrimTaskManager &TaskMgr, const QString &fileName = TaskListFileName());
// Reads the file into the manager, dropping old or installed tasks (with their
// files) by the FileKeepDays setting. A missing file leaves the manager alone.
void LoadTaskList(TBrimTaskManager &TaskMgr, const QString &fileName = TaskListFileName());

// OLE Automation dates: days since 30 December 1899, the fraction the time of day.
double OleDateFromDateTime(const class QDateTime &localTime);
double OleDateNow();
// Text form written to the file: "." as decimal separator, up to 15 significant digits.
QString OleDateToText(double date);
// Accepts "." and the locale's decimal separator; false for anything else.
bool OleDateFromText(const QString &text, double *date);

// Keeps the task list file current: saves after every add, delete and clear of
// the manager, and when the process is asked to end (SIGTERM, SIGHUP, SIGINT),
// after which the application quits normally. It must not outlive the manager.
class TOVTaskListKeeper : public QObject
{
    Q_OBJECT
public:
    explicit TOVTaskListKeeper(TBrimTaskManager &TaskMgr, const QString &fileName = TaskListFileName(),
                               QObject *parent = nullptr);
    ~TOVTaskListKeeper() override;

    void Save();
    // Routes termination signals to a save followed by QCoreApplication::quit().
    void HandleTerminationSignals();

private:
    void onSignal();

    TBrimTaskManager &m_taskMgr;
    QString m_fileName;
    std::unique_ptr<platform::TerminationSignalWatcher> m_signals;
};
