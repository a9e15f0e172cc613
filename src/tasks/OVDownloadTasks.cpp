#include "tasks/OVDownloadTasks.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"
#include "core/OVSettings.h"
#include "core/Sha256Digest.h"
#include "tasks/Clock.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"

#include <QFileInfo>
#include <QLocale>

namespace {
// Room for the suffix within the usual 255-byte limit of one file name.
constexpr qsizetype kMaxTitleBytes = 200;

// Whether a name is some task's file already, or a file (or partial-state
// file) in the folder.
bool LocalFileTaken(const TBrimTaskManager &TaskMgr, const QString &File)
{
    if (QFileInfo::exists(File) || QFileInfo::exists(File + QStringLiteral(".rb")))
        return true;
    for (int i = 0; i < TaskMgr.Count(); ++i)
        if (const auto *t = dynamic_cast<const TOVTaskItem *>(TaskMgr.Items(i)); t && t->LocalFile == File)
            return true;
    return false;
}
} // namespace

QString MakeLocalFileName(const QString &Dir, const QString &Title)
{
    QString base;
    base.reserve(Title.size() + 16);
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < Title.size(); ++i) {
        QChar c = Title.at(i);
        QString piece;
        if (c.isHighSurrogate() && i + 1 < Title.size() && Title.at(i + 1).isLowSurrogate()) {
            piece = Title.mid(i, 2);
            ++i;
        } else if (c.isSurrogate() || c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'/' || c == u'\\'
                   || c == u' ') {
            // Separators and control characters would leave the folder or make the name unusable.
            piece = QStringLiteral("_");
        } else {
            piece = QString(c);
        }
        const qsizetype len = piece.toUtf8().size();
        if (bytes + len > kMaxTitleBytes)
            break;
        bytes += len;
        base += piece;
    }
    base += QStringLiteral("_")
        + QStringLiteral("%1").arg(tasks::tickCount(), 2, 16, QLatin1Char('0')).toUpper();

    QString folder = Dir;
    if (folder.trimmed().isEmpty())
        folder = appfiles::DownloadsDir();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder + base + QStringLiteral(".exe");
}

QString FormatFileSize(quint32 Bytes, int Decimals)
{
    const QLocale locale;
    Decimals = std::clamp(Decimals, 0, 15);
    QString number;
    QString unit;
    if (Bytes <= 1023) {
        number = locale.toString(double(Bytes), 'f', 0);
        unit = QStringLiteral(" B");
    } else if (Bytes <= 0xFFFFF) {
        number = locale.toString(double(Bytes) / 1024.0, 'f', Decimals);
        unit = QStringLiteral(" KB");
    } else {
        number = locale.toString(double(Bytes) / 1048576.0, 'f', Decimals);
        unit = QStringLiteral(" MB");
    }
    return number.rightJustified(3, u' ') + unit;
}

TOVTaskItem *AddDownloadTask(TBrimTaskManager &TaskMgr, const QString &Title, const QString &Url,
                             const QString &Sha256)
{
    auto *task = TaskMgr.Add<TOVTaskItem>();
    task->AutoInstall = OVSettings::AutoInstall;
    task->ResumeBroken = OVSettings::ResumeBroken;
    task->DownloadDate = OleDateNow();
    task->Name = Title;
    task->HttpUrl = Url;
    // A value that is not a digest is kept, marked as the task list marks a
    // damaged one: it never matches, so it can only stop an install, never let
    // one through unchecked.
    const QString given = Sha256.trimmed();
    const QString digest = core::NormalisedSha256(given);
    task->Sha256 = digest.isEmpty() && !given.isEmpty() ? QStringLiteral("?") + given : digest;
    // The tick count in the name repeats within one millisecond and after
    // every boot: two downloads must never share a file, nor take over one
    // left in the folder. A number before the extension tells them apart.
    QString file = MakeLocalFileName(OVSettings::DownloadsDir, Title);
    const QString stem = file.chopped(4);
    for (int n = 2; LocalFileTaken(TaskMgr, file); ++n)
        file = stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".exe");
    task->LocalFile = file;
    TaskMgr.NotifyListChange();
    task->Start();
    return task;
}
