#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace platform {
class TerminationSignalWatcher;
}

class QTimer;
class TBrimTaskItem;
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

// Keeps the task list file current, so that a crash, a kill or a power loss
// forgets nothing that was finished: saves at once after every add, delete and
// clear of the manager, and whenever a task reaches a state that changes what
// the file holds for it (a download completed, stopped, paused or failed, an
// install ended). Download progress is written at most once per progress
// interval, plus once after the last of it. It also saves when the process is
// asked to end (SIGTERM, SIGHUP, SIGINT), after which the application quits
// normally. Main thread only; it must not outlive the manager.
class TOVTaskListKeeper : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultProgressIntervalMs = 3000;
    // Milliseconds on a monotonic clock.
    using TClock = std::function<qint64()>;

    explicit TOVTaskListKeeper(TBrimTaskManager &TaskMgr, const QString &fileName = TaskListFileName(),
                               QObject *parent = nullptr);
    ~TOVTaskListKeeper() override;

    void Save();
    // Routes termination signals to a save followed by QCoreApplication::quit().
    void HandleTerminationSignals();

    void SetProgressInterval(int ms) { m_progressIntervalMs = ms; }
    void SetClock(TClock clock) { m_clock = std::move(clock); }
    // Writes of the file so far (for tests of the throttle).
    int SaveCount() const { return m_saves; }
    // A progress write is still due.
    bool ProgressPending() const;

private:
    void onItemChange(const TBrimTaskItem &item);
    void onProgress();
    void onSignal();

    TBrimTaskManager &m_taskMgr;
    QString m_fileName;
    std::unique_ptr<platform::TerminationSignalWatcher> m_signals;
    QTimer *m_progressTimer = nullptr;
    TClock m_clock;
    int m_progressIntervalMs = DefaultProgressIntervalMs;
    qint64 m_lastSave = 0;
    bool m_saved = false;
    int m_saves = 0;
};
