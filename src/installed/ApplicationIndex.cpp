#include "installed/ApplicationIndex.h"

#include "installed/UninstManager.h"
#include "platform/DpkgPackageIndex.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace installed {

QString EntryKey(const TUninstItem &Item)
{
    return EntrySourceName(Item.Source) + u':' + Item.SourceId;
}

namespace {

// A folder that holds many programs says nothing about which application one of them belongs to.
bool isSharedFolder(const QString &folder)
{
    static const QStringList shared = {
        QStringLiteral("/"),           QStringLiteral("/bin/"),
        QStringLiteral("/sbin/"),      QStringLiteral("/usr/"),
        QStringLiteral("/usr/bin/"),   QStringLiteral("/usr/sbin/"),
        QStringLiteral("/usr/lib/"),   QStringLiteral("/usr/libexec/"),
        QStringLiteral("/usr/local/"), QStringLiteral("/usr/local/bin/"),
        QStringLiteral("/usr/share/"), QStringLiteral("/opt/"),
        QStringLiteral("/tmp/"),       QStringLiteral("/home/"),
        QStringLiteral("/etc/"),
    };
    if (shared.contains(folder))
        return true;
    const QString home = QDir::homePath() + u'/';
    return folder == home || folder == home + QStringLiteral(".local/")
        || folder == home + QStringLiteral(".local/bin/")
        || folder.count(u'/') < 3; // "/x/": a whole top-level folder
}

QString folderOf(const QString &path, bool isFolder)
{
    if (!path.startsWith(u'/'))
        return {};
    QString folder = QDir::cleanPath(isFolder ? path : QFileInfo(path).path());
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return isSharedFolder(folder) ? QString() : folder;
}

// The program a command names first: a quoted first word, else up to the first blank.
QString firstWord(const QString &command)
{
    const QString text = command.trimmed();
    for (QChar quote : {u'\'', u'"'}) {
        if (text.startsWith(quote)) {
            const qsizetype end = text.indexOf(quote, 1);
            return end > 0 ? text.mid(1, end - 1) : QString();
        }
    }
    const qsizetype blank = text.indexOf(u' ');
    return blank < 0 ? text : text.left(blank);
}

} // namespace

ApplicationIndex::ApplicationIndex(platform::DpkgPackageIndex *Packages)
    : m_packages(Packages ? Packages : &platform::DpkgPackageIndex::shared())
{ }

void ApplicationIndex::Build(const TUninstManager &Manager)
{
    m_byFlatpakId.clear();
    m_byFolder.clear();
    m_byPackage.clear();
    for (const TUninstItem *e : ListedEntries(Manager)) {
        Application app;
        app.Key = EntryKey(*e);
        app.Name = e->DisplayName;
        // What the entry says of itself, else its name: either tells the user what runs.
        app.Description = !e->Summary.trimmed().isEmpty() ? e->Summary
            : !e->Comments.trimmed().isEmpty()            ? e->Comments
                                                          : e->DisplayName;
        switch (e->Source) {
        case EntrySource::Flatpak:
            if (!m_byFlatpakId.contains(e->KeyName))
                m_byFlatpakId.insert(e->KeyName, app);
            break;
        case EntrySource::Package:
            // The first application of a package stands for the package's programs.
            if (!m_byPackage.contains(e->SourceId))
                m_byPackage.insert(e->SourceId, app);
            break;
        case EntrySource::Registry:
        case EntrySource::Wine: {
            const QString location = folderOf(e->InstallLocation, true);
            if (!location.isEmpty())
                m_byFolder.emplace_back(location, app);
            // A Wine entry's uninstaller is a Windows path; its folder came in as the location.
            if (e->Source == EntrySource::Registry) {
                const QString uninstaller = folderOf(firstWord(e->UninstallString), false);
                if (!uninstaller.isEmpty() && uninstaller != location)
                    m_byFolder.emplace_back(uninstaller, app);
            }
            break;
        }
        }
    }
    // The deepest folder names the application most closely.
    std::stable_sort(m_byFolder.begin(), m_byFolder.end(),
                     [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
    m_built = true;
}

std::optional<ApplicationIndex::Application> ApplicationIndex::Find(const QString &File,
                                                                    const QString &FlatpakId) const
{
    if (!FlatpakId.isEmpty()) {
        const auto it = m_byFlatpakId.constFind(FlatpakId);
        return it == m_byFlatpakId.constEnd() ? std::nullopt : std::optional<Application>(*it);
    }
    if (!File.startsWith(u'/'))
        return std::nullopt;
    const QString resolved = QFileInfo(File).canonicalFilePath();
    for (const auto &[folder, app] : m_byFolder)
        if (File.startsWith(folder) || (!resolved.isEmpty() && resolved.startsWith(folder)))
            return app;
    if (m_byPackage.isEmpty())
        return std::nullopt;
    if (const auto package = m_packages->packageOfFile(File)) {
        for (const QString &name : {package->qualifiedName(), package->name}) {
            const auto it = m_byPackage.constFind(name);
            if (it != m_byPackage.constEnd())
                return *it;
        }
    }
    return std::nullopt;
}

} // namespace installed
