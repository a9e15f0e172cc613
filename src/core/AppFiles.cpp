#include "core/AppFiles.h"

#include "core/IniFile.h"
#include "platform/AppPath.h"
#include "platform/Registry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>

namespace appfiles {

namespace {

// The folders the program writes into; in the installed layout they move to
// the user folder, seeded from the application folder's copies.
const char *const kWritableFolders[] = {"Config", "Downloads", "Files", "Registry"};

struct Decision
{
    bool made = false;
    QString appDir;
    QString userDir;
    Layout layout = Layout::Portable;
};

// Function-local: the settings' defaults ask for paths during static initialisation.
QMutex &decisionMutex()
{
    static QMutex m;
    return m;
}

Decision &decision()
{
    static Decision d;
    return d;
}

QString withSlash(QString dir)
{
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

// $XDG_DATA_HOME when it is an absolute path (relative ones are to be ignored), else ~/.local/share.
QString dataHome()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return withSlash(QDir::cleanPath(xdg));
    return withSlash(QDir::homePath()) + QStringLiteral(".local/share/");
}

Decision decide(const QString &appDir)
{
    Decision d;
    d.made = true;
    d.appDir = appDir;
    const bool marked = QFileInfo(appDir + InstalledMarkerName()).exists();
    // A folder that does not exist yet is not taken for a read-only one: it is
    // made where the portable layout puts it.
    const QFileInfo folder(appDir);
    const bool readOnly = folder.exists() && !folder.isWritable();
    d.layout = marked || readOnly ? Layout::Installed : Layout::Portable;
    d.userDir = d.layout == Layout::Installed ? dataHome() + QStringLiteral("orvane/") : appDir;
    return d;
}

Decision current()
{
    const QString appDir = platform::applicationDirectory();
    QMutexLocker lock(&decisionMutex());
    Decision &d = decision();
    if (!d.made || d.appDir != appDir)
        d = decide(appDir);
    return d;
}

// Copies the regular files and folders under from into to (which exists).
bool copyTree(const QString &from, const QString &to)
{
    bool ok = true;
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    const QDir source(from);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString target = to + u'/' + source.relativeFilePath(path);
        if (info.isDir())
            ok = QDir().mkpath(target) && ok;
        else if (info.isFile())
            ok = QFile::copy(path, target) && ok;
    }
    return ok;
}

} // namespace

QString InstalledMarkerName()
{
    return QStringLiteral("installed-layout");
}

Layout DecideLayout()
{
    const QString appDir = platform::applicationDirectory();
    QMutexLocker lock(&decisionMutex());
    decision() = decide(appDir);
    return decision().layout;
}

Layout CurrentLayout()
{
    return current().layout;
}

QString AppDir()
{
    return current().appDir;
}

QString UserDir()
{
    return current().userDir;
}

quint16 InterfaceLanguageFor(const QString &locale)
{
    return locale.startsWith(QLatin1String("zh"), Qt::CaseInsensitive) ? 2052 : 1033;
}

QString UserInterfaceLocale()
{
    QString locale;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = qEnvironmentVariable(name);
        if (!locale.isEmpty())
            break;
    }
    // LANGUAGE, a list of preferences, counts only when a real locale is set.
    const QString preferred = qEnvironmentVariable("LANGUAGE").section(u':', 0, 0);
    if (!locale.isEmpty() && locale != u"C" && !locale.startsWith(QLatin1String("C.")) && locale != u"POSIX"
        && !preferred.isEmpty())
        return preferred;
    return locale;
}

bool PrepareUserFolder(const QString &locale)
{
    const Decision d = current();
    if (d.layout == Layout::Portable)
        return true;
    const QString userDir = QDir::cleanPath(d.userDir);
    if (QFileInfo(userDir).isDir())
        return true;
    const QString parent = QFileInfo(userDir).absolutePath();
    if (!QDir().mkpath(parent))
        return false;

    // Built beside its final place and renamed into it, so a start that fails
    // half-way leaves no half-seeded folder behind to be taken as the user's.
    QTemporaryDir building(parent + QStringLiteral("/.orvane-new-XXXXXX"));
    if (!building.isValid())
        return false;
    bool ok = true;
    for (const char *name : kWritableFolders) {
        const QString shipped = d.appDir + QLatin1String(name);
        if (QFileInfo(shipped).isDir()) {
            const QString target = building.filePath(QLatin1String(name));
            ok = QDir().mkpath(target) && copyTree(shipped, target) && ok;
        }
    }
    IniFile config(building.filePath(QStringLiteral("Config/Config.ini")));
    config.writeInteger(QStringLiteral("LANGUAGE"), QStringLiteral("Language"), InterfaceLanguageFor(locale));
    ok = QDir().mkpath(building.filePath(QStringLiteral("Config"))) && config.save() && ok;
    if (!ok)
        return false;
    if (!QDir().rename(building.path(), userDir))
        return QFileInfo(userDir).isDir(); // someone else prepared it meanwhile
    building.setAutoRemove(false);
    return true;
}

bool Initialise()
{
    DecideLayout();
    const bool ok = PrepareUserFolder();
    platform::setRegistryDirectory(RegistryDir());
    return ok;
}

QString ConfigDir()
{
    return UserDir() + QStringLiteral("Config/");
}

QString ConfigFile()
{
    return ConfigDir() + QStringLiteral("Config.ini");
}

QString TaskListFile()
{
    return ConfigDir() + QStringLiteral("OVTasks.ini");
}

QString JournalFile()
{
    return ConfigDir() + QStringLiteral("OVJournal.log");
}

QString DownloadsDir()
{
    return UserDir() + QStringLiteral("Downloads/");
}

QString FilesDir()
{
    return UserDir() + QStringLiteral("Files/");
}

QString TopXArchiveFile()
{
    return FilesDir() + QStringLiteral("TopX.mht");
}

QString RegistryDir()
{
    return UserDir() + QStringLiteral("Registry/");
}

QString ProcDBFile()
{
    return AppDir() + QStringLiteral("ProcDB.db");
}

QString LanguagesDir()
{
    return AppDir() + QStringLiteral("Langs/");
}

QString LanguageSubdir(quint16 lcid)
{
    return QString::number(lcid) + u'/';
}

QString LanguageFile(quint16 lcid)
{
    return LanguagesDir() + LanguageSubdir(lcid) + QStringLiteral("Orvane.ini");
}

QString HelpFile(quint16 lcid)
{
    return LanguagesDir() + LanguageSubdir(lcid) + QStringLiteral("Help.chm");
}

QString MessageBoxLibrary()
{
    return AppDir() + QStringLiteral("CMBLib.so");
}

QString SiblingProgram(const QString &name)
{
    return AppDir() + name;
}

} // namespace appfiles
