#include "tasks/OVTaskList.h"

#include "core/BrimSystem.h"
#include "core/IniFile.h"
#include "core/OVSettings.h"
#include "platform/TerminationSignals.h"
#include "tasks/BrimHttpDownload.h"
#include "tasks/OVTaskItem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>

namespace {

const QString kCount = QStringLiteral("COUNT");

int normalisedState(const TOVTaskItem &task)
{
    if (task.LocalFile.isEmpty() || task.LocalFile.contains(QChar(0)) || !QFileInfo(task.LocalFile).isFile())
        return OVTaskState::NotDownloaded;
    // A file whose length was never reported is not known to be complete.
    if (task.CurrentSize == task.TotalSize && task.TotalSize != 0)
        return OVTaskState::DownloadCompleted;
    return OVTaskState::DownloadStopped;
}

// Sizes are stored as signed 32-bit numbers; read back either form.
quint32 readSize(const IniFile &ini, const QString &section, const QString &key)
{
    bool ok = false;
    const qint64 v = ini.readString(section, key).toLongLong(&ok);
    if (!ok || v < -2147483648LL || v > 0xFFFFFFFFLL)
        return 0;
    return quint32(quint64(v));
}

int readInt(const IniFile &ini, const QString &section, const QString &key, int defaultValue)
{
    return ini.readInteger(section, key, defaultValue);
}

void removeTaskFiles(const QString &localFile)
{
    if (localFile.isEmpty())
        return;
    QFile::remove(localFile);
    QFile::remove(TBrimHttpDownload::PartialStateFileName(localFile));
}

} // namespace

QString TaskListFileName()
{
    return GetAppPath() + QStringLiteral("Config/OVTasks.ini");
}

double OleDateFromDateTime(const QDateTime &localTime)
{
    static const QDate epoch(1899, 12, 30);
    const QDateTime t = localTime.toLocalTime();
    return double(epoch.daysTo(t.date())) + double(t.time().msecsSinceStartOfDay()) / 86400000.0;
}

double OleDateNow()
{
    return OleDateFromDateTime(QDateTime::currentDateTime());
}

QString OleDateToText(double date)
{
    return QString::number(date, 'g', 15);
}

bool OleDateFromText(const QString &text, double *date)
{
    const QString t = text.trimmed();
    bool ok = false;
    double v = QLocale::c().toDouble(t, &ok);
    if (!ok) {
        // Written under a locale with another decimal separator.
        const QString sep = QLocale::system().decimalPoint();
        QString alt = t;
        if (!sep.isEmpty() && sep != QLatin1String("."))
            alt.replace(sep, QStringLiteral("."));
        alt.replace(u',', u'.');
        v = QLocale::c().toDouble(alt, &ok);
    }
    if (!ok || !std::isfinite(v))
        return false;
    *date = v;
    return true;
}

bool SaveTaskList(const TBrimTaskManager &TaskMgr, const QString &fileName)
{
    IniFile ini;
    for (int i = 0; i < TaskMgr.Count(); ++i) {
        const QString section = QString::number(i);
        TBrimTaskItem *item = TaskMgr.Items(i);
        const auto *task = dynamic_cast<const TOVTaskItem *>(item);
        ini.writeString(section, QStringLiteral("DownloadDate"),
                        OleDateToText(task ? task->DownloadDate : 0.0));
        ini.writeString(section, QStringLiteral("Name"), item->Name);
        ini.writeString(section, QStringLiteral("Description"), item->Description);
        ini.writeString(section, QStringLiteral("HttpUrl"), task ? task->HttpUrl : QString());
        ini.writeString(section, QStringLiteral("LocalFile"), task ? task->LocalFile : QString());
        ini.writeInteger(section, QStringLiteral("CurrentSize"), task ? qint32(task->CurrentSize) : 0);
        ini.writeInteger(section, QStringLiteral("TotalSize"), task ? qint32(task->TotalSize) : 0);
        ini.writeInteger(section, QStringLiteral("State"),
                         task ? normalisedState(*task) : OVTaskState::NotDownloaded);
        ini.writeString(section, QStringLiteral("Installed"),
                        task && task->Installed ? QStringLiteral("1") : QStringLiteral("0"));
        ini.writeInteger(kCount, QStringLiteral("N"), i + 1);
    }
    return ini.saveAs(fileName);
}

void LoadTaskList(TBrimTaskManager &TaskMgr, const QString &fileName)
{
    if (!QFileInfo(fileName).isFile())
        return;
    IniFile ini(fileName);

    // Loading is not a change worth saving; the caller decides when to write.
    TBrimTaskManager::TNotifyEvent onListChange;
    std::swap(onListChange, TaskMgr.OnListChange);
    TaskMgr.Clear();

    int count = readInt(ini, kCount, QStringLiteral("N"), 0);
    // Sections beyond the last one present carry nothing: a damaged count must not
    // turn into millions of empty tasks.
    int highest = -1;
    for (const QString &s : ini.sections()) {
        int n = 0;
        bool ok = false;
        n = s.toInt(&ok);
        if (ok && n >= 0 && QString::number(n) == s)
            highest = std::max(highest, n);
    }
    count = std::min(count, highest + 1);

    const int keepDays = OVSettings::FileKeepDays.load();
    const double now = OleDateNow();
    bool erased = false;
    for (int i = 0; i < count; ++i) {
        const QString section = QString::number(i);
        double date = 0;
        if (!OleDateFromText(ini.readString(section, QStringLiteral("DownloadDate"), QStringLiteral("0")),
                             &date))
            date = 0;
        // Negative values other than -1 are not a number of days: keep everything.
        if (keepDays >= 0) {
            const bool installed = ini.readBool(section, QStringLiteral("Installed"), false);
            const double age = std::trunc(std::fabs(now - date));
            const bool drop = keepDays == 0 ? installed : age >= double(keepDays);
            if (drop) {
                removeTaskFiles(ini.readString(section, QStringLiteral("LocalFile")));
                ini.eraseSection(section);
                erased = true;
                continue;
            }
        }
        auto *task = TaskMgr.Add<TOVTaskItem>();
        task->DownloadDate = date;
        task->Name = ini.readString(section, QStringLiteral("Name"));
        task->Description = ini.readString(section, QStringLiteral("Description"));
        task->HttpUrl = ini.readString(section, QStringLiteral("HttpUrl"));
        task->LocalFile = ini.readString(section, QStringLiteral("LocalFile"));
        task->CurrentSize = readSize(ini, section, QStringLiteral("CurrentSize"));
        task->TotalSize = readSize(ini, section, QStringLiteral("TotalSize"));
        task->State = readInt(ini, section, QStringLiteral("State"), OVTaskState::NotDownloaded);
        task->Installed = ini.readBool(section, QStringLiteral("Installed"), false);
        task->ResumeBroken = OVSettings::ResumeBroken;
        task->AutoInstall = false;
        task->DownloadOnly = false;
    }
    if (erased)
        ini.save();
    std::swap(onListChange, TaskMgr.OnListChange);
}

// --- keeping the file current ---

TOVTaskListKeeper::TOVTaskListKeeper(TBrimTaskManager &TaskMgr, const QString &fileName, QObject *parent)
    : QObject(parent)
    , m_taskMgr(TaskMgr)
    , m_fileName(fileName)
{
    m_taskMgr.OnListChange = [this](TBrimTaskManager *) { Save(); };
}

TOVTaskListKeeper::~TOVTaskListKeeper()
{
    m_taskMgr.OnListChange = nullptr;
}

void TOVTaskListKeeper::Save()
{
    SaveTaskList(m_taskMgr, m_fileName);
}

void TOVTaskListKeeper::HandleTerminationSignals()
{
    if (m_signals)
        return;
    m_signals = std::make_unique<platform::TerminationSignalWatcher>([this] { onSignal(); });
    if (!m_signals->active())
        m_signals.reset();
}

void TOVTaskListKeeper::onSignal()
{
    Save();
    QCoreApplication::quit();
}
