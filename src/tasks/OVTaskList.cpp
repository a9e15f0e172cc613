#include "tasks/OVTaskList.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"
#include "core/IniFile.h"
#include "core/OVSettings.h"
#include "core/Sha256Digest.h"
#include "platform/TerminationSignals.h"
#include "tasks/BrimHttpDownload.h"
#include "tasks/Clock.h"
#include "tasks/OVTaskItem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

const QString kCount = QStringLiteral("COUNT");
constexpr qsizetype kMaxStoredDigest = 128;
constexpr qsizetype kMaxStoredHost = 255; // the longest host name

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

// A stored digest in its normal form. Anything else that stands there is kept
// rather than dropped: a task whose digest was damaged must not turn into one
// that installs unchecked; it simply never matches. It is kept marked with a
// leading "?" (so that no cleaning can make a digest of it) and in a form that
// reads back as it was written (no blanks, quotes or control characters).
QString readDigest(const IniFile &ini, const QString &section)
{
    const QString text = ini.readString(section, QStringLiteral("Sha256")).trimmed();
    if (text.isEmpty())
        return {};
    const QString digest = core::NormalisedSha256(text);
    if (!digest.isEmpty())
        return digest;
    QString kept = QStringLiteral("?");
    for (const QChar c : text) {
        if (kept.size() >= kMaxStoredDigest)
            break;
        const char16_t u = c.unicode();
        if ((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z')
            || QStringView(u"+/=:._-").contains(c))
            kept += c;
    }
    return kept;
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
    return appfiles::TaskListFile();
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
        const int state = task ? normalisedState(*task) : OVTaskState::NotDownloaded;
        ini.writeInteger(section, QStringLiteral("State"), state);
        ini.writeString(section, QStringLiteral("Installed"),
                        task && task->Installed ? QStringLiteral("1") : QStringLiteral("0"));
        if (task && !task->Sha256.isEmpty())
            ini.writeString(section, QStringLiteral("Sha256"), task->Sha256);
        // Where the bytes on disk came from, also when that was nowhere in
        // doubt (an empty value): a list without the key predates it, and its
        // files are judged by their address instead.
        if (task && state != OVTaskState::NotDownloaded)
            ini.writeString(section, QStringLiteral("PlainHttpHost"), task->PlainHttpHost);
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

    // Which sections become tasks: every numbered section present below "N", in
    // number order. A number missing among them (a section erased by an earlier
    // clean-up that was not followed by a save) still gives its empty task, but
    // never more such tasks than there are sections: the work stays bounded by
    // the file's size, so a damaged count cannot turn into millions of tasks.
    const int count = readInt(ini, kCount, QStringLiteral("N"), 0);
    std::vector<int> present;
    for (const QString &s : ini.sections()) {
        bool ok = false;
        const int n = s.toInt(&ok);
        if (ok && n >= 0 && n < count && QString::number(n) == s)
            present.push_back(n);
    }
    std::sort(present.begin(), present.end());
    size_t gapTasks = present.size();

    const int keepDays = OVSettings::FileKeepDays.load();
    const double now = OleDateNow();
    bool erased = false;
    auto visit = [&](int i) {
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
                if (ini.sectionExists(section)) {
                    ini.eraseSection(section);
                    erased = true;
                }
                return;
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
        task->Sha256 = readDigest(ini, section);
        task->PlainHttpHost = ini.valueExists(section, QStringLiteral("PlainHttpHost"))
            ? ini.readString(section, QStringLiteral("PlainHttpHost")).left(kMaxStoredHost).trimmed()
            : tasks::plainHttpHostOf(task->HttpUrl);
        task->ResumeBroken = OVSettings::ResumeBroken;
        task->AutoInstall = false;
        task->DownloadOnly = false;
    };
    int next = 0;
    for (const int n : present) {
        for (; next < n && gapTasks > 0; ++next, --gapTasks)
            visit(next);
        next = n + 1;
        visit(n);
    }
    if (erased)
        ini.save();
    std::swap(onListChange, TaskMgr.OnListChange);
}

// --- keeping the file current ---

namespace {

enum class SaveRule { Now, Progress, Nothing };

// What a state change means for the file. The file holds sizes, the state
// reduced to "missing / complete / partial" and Installed, so only the ends of
// a download or an install change it at once; progress changes only sizes.
SaveRule saveRule(int state)
{
    switch (state) {
    case OVTaskState::StartDownload: // the file may have been created or truncated
    case OVTaskState::Downloading:
    case OVTaskState::DownloadResumed:
        return SaveRule::Progress;
    case OVTaskState::StartInstall:
    case OVTaskState::Installing:
        // Stored as the completed download it is until the run ends: a kill
        // during the install comes back downloaded and not installed.
        return SaveRule::Nothing;
    default:
        return SaveRule::Now;
    }
}

} // namespace

TOVTaskListKeeper::TOVTaskListKeeper(TBrimTaskManager &TaskMgr, const QString &fileName, QObject *parent)
    : QObject(parent)
    , m_taskMgr(TaskMgr)
    , m_fileName(fileName)
    , m_progressTimer(new QTimer(this))
    , m_clock(&tasks::monotonicMs)
{
    m_progressTimer->setSingleShot(true);
    connect(m_progressTimer, &QTimer::timeout, this, &TOVTaskListKeeper::Save);
    m_taskMgr.OnListChange = [this](TBrimTaskManager *) { Save(); };
    m_taskMgr.OnItemChange = [this](TBrimTaskManager *, TBrimTaskItem &Item) { onItemChange(Item); };
}

TOVTaskListKeeper::~TOVTaskListKeeper()
{
    m_taskMgr.OnListChange = nullptr;
    m_taskMgr.OnItemChange = nullptr;
}

void TOVTaskListKeeper::Save()
{
    // Whatever progress was waiting is in this write.
    m_progressTimer->stop();
    SaveTaskList(m_taskMgr, m_fileName);
    ++m_saves;
    m_saved = true;
    m_lastSave = m_clock();
}

bool TOVTaskListKeeper::ProgressPending() const
{
    return m_progressTimer->isActive();
}

void TOVTaskListKeeper::onItemChange(const TBrimTaskItem &item)
{
    switch (saveRule(item.State)) {
    case SaveRule::Now:
        Save();
        break;
    case SaveRule::Progress:
        onProgress();
        break;
    case SaveRule::Nothing:
        break;
    }
}

void TOVTaskListKeeper::onProgress()
{
    // Called once per received block: a time check, never a write per block.
    const qint64 since = m_clock() - m_lastSave;
    if (!m_saved || since >= m_progressIntervalMs || since < 0) {
        Save();
        return;
    }
    // The last progress before a pause in the data is written too.
    if (!m_progressTimer->isActive())
        m_progressTimer->start(int(m_progressIntervalMs - since));
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
