#include "platform/linux/PackageView.h"

#include "platform/DesktopIcons.h"
#include "platform/DpkgStatus.h"
#include "platform/FileIO.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

RegValue textValue(const char *name, const QString &text)
{
    RegValue v;
    v.name = QString::fromLatin1(name);
    v.type = REG_SZ;
    v.isText = true;
    v.text = text;
    return v;
}

RegValue dwordValue(const char *name, quint32 n)
{
    RegValue v;
    v.name = QString::fromLatin1(name);
    v.type = REG_DWORD;
    v.bytes = QByteArray(4, '\0');
    for (int k = 0; k < 4; ++k)
        v.bytes[k] = char((n >> (8 * k)) & 0xFF);
    return v;
}

QString maintainerName(const QString &maintainer)
{
    const qsizetype lt = maintainer.indexOf(u'<');
    const QString name = (lt >= 0 ? maintainer.left(lt) : maintainer).trimmed();
    return name.isEmpty() ? maintainer.trimmed() : name;
}

QString quoteWord(const QString &word)
{
    bool plain = !word.isEmpty();
    for (QChar c : word)
        if (!(c.isLetterOrNumber() || QStringLiteral("/._-+:=,@").contains(c)))
            plain = false;
    if (plain)
        return word;
    QString quoted = word;
    quoted.replace(u'\'', QLatin1String("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString removalCommand(const QString &statusFile, const QString &package)
{
    QStringList argv;
    if (::geteuid() != 0)
        argv << QStringLiteral("pkexec");
    argv << QStringLiteral("/usr/bin/dpkg");
    const QString admin = packageAdminDir(statusFile);
    if (QDir::cleanPath(admin) != QStringLiteral("/var/lib/dpkg"))
        argv << QStringLiteral("--admindir=") + admin;
    argv << QStringLiteral("--remove") << package;
    QStringList words;
    for (const QString &a : argv)
        words << quoteWord(a);
    return words.join(u' ');
}

// A themed icon name resolved to a picture file under share/icons/hicolor
// and share/pixmaps; an absolute path is taken when it exists.
QString resolveIcon(const QString &icon, const QString &shareDir)
{
    if (icon.isEmpty())
        return {};
    if (icon.startsWith(u'/'))
        return QFileInfo(icon).isFile() ? icon : QString();
    if (icon.contains(u'/'))
        return {};
    static const char *const sizes[]
        = {"48x48", "64x64", "32x32", "128x128", "256x256", "scalable", "24x24", "16x16"};
    static const char *const exts[] = {".png", ".svg", ".xpm"};
    for (const char *size : sizes)
        for (const char *ext : exts) {
            const QString f = shareDir + QStringLiteral("/icons/hicolor/") + QLatin1String(size)
                + QStringLiteral("/apps/") + icon + QLatin1String(ext);
            if (QFileInfo(f).isFile())
                return f;
        }
    for (const char *ext : exts) {
        const QString f = shareDir + QStringLiteral("/pixmaps/") + icon + QLatin1String(ext);
        if (QFileInfo(f).isFile())
            return f;
    }
    return {};
}

// Package (qualified name) -> icon, from the desktop entries each package's
// file list names. Reading every file list is the costly part of the view,
// so this runs only when the lists or the desktop entries have changed.
QHash<QString, QString> packageIcons(const QString &infoDir, const QString &appsDir)
{
    QHash<QString, QString> icons;
    QDir apps(appsDir);
    const QStringList desktopFiles = apps.entryList({QStringLiteral("*.desktop")}, QDir::Files);
    if (desktopFiles.isEmpty())
        return icons;
    const QString shareDir = QFileInfo(QDir::cleanPath(appsDir)).absolutePath();
    const QByteArray needle = QFile::encodeName(QDir::cleanPath(apps.absolutePath())) + '/';
    QDir info(infoDir);
    for (const QString &list : info.entryList({QStringLiteral("*.list")}, QDir::Files)) {
        const QByteArray data = readWholeFile(info.filePath(list));
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = data.indexOf(needle, from);
            if (at < 0)
                break;
            if (at > 0 && data.at(at - 1) != '\n') {
                from = at + 1;
                continue;
            }
            qsizetype end = data.indexOf('\n', at);
            if (end < 0)
                end = data.size();
            const QString path = QFile::decodeName(data.mid(at, end - at));
            from = end;
            if (!path.endsWith(QStringLiteral(".desktop")) || path.mid(needle.size()).contains(u'/'))
                continue;
            const QString icon = readDesktopEntry(path).value(QStringLiteral("Icon"));
            if (icon.isEmpty())
                continue;
            const QString resolved = resolveIcon(icon, shareDir);
            const QString package = list.chopped(5);
            icons.insert(package, resolved.isEmpty() ? icon : resolved);
            break;
        }
    }
    return icons;
}

} // namespace

QString uninstallPrefixLower()
{
    static const QString p = QString::fromUtf16(kUninstallKeyPath).toLower();
    return p;
}

QString packageAdminDir(const QString &statusFile)
{
    return QFileInfo(statusFile).absolutePath();
}

std::shared_ptr<const PackageView> buildPackageView(const QString &statusFile, const QString &appsDir,
                                                    const std::shared_ptr<const PackageView> &previous,
                                                    bool listsChanged)
{
    auto view = std::make_shared<PackageView>();
    bool ok = false;
    const QByteArray data = readWholeFile(statusFile, &ok);
    if (!ok)
        return view;
    const QString infoDir = packageAdminDir(statusFile) + QStringLiteral("/info/");
    static QHash<QString, QString> iconCache;
    static QString iconCacheKey;
    const QString cacheKey = infoDir + u'\n' + appsDir;
    if (listsChanged || iconCacheKey != cacheKey || !previous) {
        iconCache = packageIcons(infoDir, appsDir);
        iconCacheKey = cacheKey;
    }
    const QList<DpkgPackage> packages = parseDpkgStatus(data);
    view->byName.reserve(packages.size());
    for (const DpkgPackage &p : packages) {
        if (!p.isInstalled())
            continue;
        const QString key = p.qualifiedName();
        const QString lower = key.toLower();
        if (view->byName.contains(lower))
            continue;
        PackageViewEntry e;
        e.keyName = key;
        const bool summaryHelps = !p.summary.isEmpty() && p.summary.compare(p.name, Qt::CaseInsensitive) != 0;
        e.values << textValue("DisplayName",
                              summaryHelps ? p.name + QStringLiteral(" - ") + p.summary : p.name);
        e.values << textValue("Publisher", maintainerName(p.maintainer));
        e.values << textValue("DisplayVersion", p.version);
        if (p.installedSizeKiB >= 0)
            e.values << dwordValue("EstimatedSize", quint32(qMin<qint64>(p.installedSizeKiB, 0x7FFFFFFF)));
        struct stat st;
        const QByteArray listFile = QFile::encodeName(infoDir + key + QStringLiteral(".list"));
        if (::stat(listFile.constData(), &st) == 0)
            e.values << textValue(
                "InstallDate",
                QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec).toString(QStringLiteral("yyyyMMdd")));
        e.values << textValue("UninstallString", removalCommand(statusFile, key));
        e.values << textValue("Comments", p.summary);
        const QString icon = iconCache.value(key);
        if (!icon.isEmpty())
            e.values << textValue("DisplayIcon", icon);
        view->names << key;
        view->byName.insert(lower, std::move(e));
    }
    return view;
}

} // namespace platform
