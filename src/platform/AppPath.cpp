#include "platform/AppPath.h"

#include <QFileInfo>
#include <QMutex>

namespace platform {
namespace {
QMutex overrideMutex;
QString overrideDir;
} // namespace

QString applicationDirectory()
{
    {
        QMutexLocker lock(&overrideMutex);
        if (!overrideDir.isEmpty())
            return overrideDir;
    }
    static const QString dir = [] {
        QString path = QFileInfo(executablePath()).canonicalFilePath();
        QString d = path.isEmpty() ? QStringLiteral("/") : QFileInfo(path).absolutePath();
        if (!d.endsWith(u'/'))
            d += u'/';
        return d;
    }();
    return dir;
}

QString executablePath()
{
    return QStringLiteral("/proc/self/exe");
}

void setApplicationDirectoryOverride(const QString &dir)
{
    QMutexLocker lock(&overrideMutex);
    overrideDir = dir;
    if (!overrideDir.isEmpty() && !overrideDir.endsWith(u'/'))
        overrideDir += u'/';
}

} // namespace platform
