#include "platform/PackageApps.h"

#include "platform/DesktopIcons.h"
#include "platform/FileIO.h"
#include "platform/FileStamp.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <sys/stat.h>

namespace platform {

namespace {

bool isDir(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An application before its owner is known.
struct Candidate
{
    PackageAppRecord record;
    QString desktopFile; // its desktop entry, when it has one
    QString executable; // resolved program of the desktop entry
};

} // namespace

struct PackageAppsReader::Parsed
{
    FileStamp status;
    FileStamp info;
    QList<PackageRecord> packages;
    QHash<QString, int> byName;
    QHash<QString, FileStamp> folders; // every metainfo and applications folder looked at
    QList<Candidate> apps;
    QHash<QString, QString> owners; // application file -> package
    std::unique_ptr<IconThemeLookup> icons;
};

namespace {

void parseStatus(PackageAppsReader::Parsed &p, const QString &statusFile, const QString &infoDir,
                 const QStringList &dataFolders)
{
    // A package's own folder: <data>/<name> in a system data folder (the
    // first folder is the user's), else /usr/lib/<name>.
    QStringList bases;
    for (qsizetype i = 1; i < dataFolders.size(); ++i)
        bases << dataFolders.at(i) + u'/';
    bases << QStringLiteral("/usr/lib/");
    p.status = fileStampOf(statusFile);
    p.info = fileStampOf(infoDir);
    p.packages.clear();
    p.byName.clear();
    bool ok = false;
    const QByteArray data = readWholeFile(statusFile, &ok);
    if (!ok)
        return;
    for (DpkgPackage &pkg : parseDpkgStatus(data)) {
        if (!pkg.isInstalled())
            continue;
        const QString key = pkg.qualifiedName();
        if (p.byName.contains(key))
            continue;
        PackageRecord r;
        struct stat st;
        if (::stat(QFile::encodeName(infoDir + u'/' + key + QStringLiteral(".list")).constData(), &st) == 0)
            r.installTime = st.st_mtim.tv_sec;
        for (const QString &base : std::as_const(bases))
            if (isDir(base + pkg.name)) {
                r.location = base + pkg.name;
                break;
            }
        r.package = std::move(pkg);
        p.byName.insert(key, int(p.packages.size()));
        p.packages.append(std::move(r));
    }
}

QHash<QString, QString> desktopTranslations(const QHash<QString, QString> &entry, const QString &key)
{
    QHash<QString, QString> out;
    const QString prefix = key + u'[';
    for (auto it = entry.constBegin(); it != entry.constEnd(); ++it) {
        if (it.key() == key)
            out.insert(QStringLiteral("C"), it.value());
        else if (it.key().startsWith(prefix) && it.key().endsWith(u']'))
            // Name[sr@latin] and Name[zh_CN.UTF-8] are looked up by their locale part.
            out.insert(it.key().mid(prefix.size()).chopped(1).section(u'.', 0, 0).section(u'@', 0, 0),
                       it.value());
    }
    return out;
}

void parseApps(PackageAppsReader::Parsed &p, const QStringList &dataFolders)
{
    p.folders.clear();
    p.apps.clear();
    if (!p.icons)
        p.icons = std::make_unique<IconThemeLookup>(dataFolders);

    // Desktop entries by their desktop-file id; the first folder's entry hides later ones.
    struct Desktop
    {
        QString file;
        QHash<QString, QString> keys;
    };
    QHash<QString, Desktop> desktops;
    QStringList desktopOrder;
    for (const QString &data : dataFolders) {
        const QString apps = data + QStringLiteral("/applications");
        p.folders.insert(apps, fileStampOf(apps));
        if (!isDir(apps))
            continue;
        QDirIterator dirs(apps, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (dirs.hasNext()) {
            const QString d = dirs.next();
            p.folders.insert(d, fileStampOf(d));
        }
        QDirIterator it(apps, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            const QString id = file.mid(apps.size() + 1).replace(u'/', u'-');
            if (desktops.contains(id))
                continue;
            desktops.insert(id, {file, readDesktopEntry(file)});
            desktopOrder << id;
        }
    }
    auto icon = [&p](const QString &name) { return p.icons->find(name); };
    auto fromDesktop = [&](Candidate &c, const Desktop &d) {
        c.desktopFile = d.file;
        if (c.record.names.isEmpty())
            c.record.names = desktopTranslations(d.keys, QStringLiteral("Name"));
        if (c.record.summaries.isEmpty()) {
            c.record.summaries = desktopTranslations(d.keys, QStringLiteral("Comment"));
            if (c.record.summaries.isEmpty())
                c.record.summaries = desktopTranslations(d.keys, QStringLiteral("GenericName"));
        }
        if (c.record.iconFile.isEmpty())
            c.record.iconFile = icon(d.keys.value(QStringLiteral("Icon")));
        QString program = desktopExecProgram(d.keys.value(QStringLiteral("Exec")));
        if (program.isEmpty())
            program = d.keys.value(QStringLiteral("TryExec"));
        c.executable = resolveDesktopProgram(program);
    };

    QSet<QString> claimed;
    QSet<QString> seenMetainfo;
    for (const QString &data : dataFolders) {
        const QString dir = data + QStringLiteral("/metainfo");
        p.folders.insert(dir, fileStampOf(dir));
        if (!isDir(dir))
            continue;
        for (const QString &name : QDir(dir).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name)) {
            if (seenMetainfo.contains(name))
                continue;
            seenMetainfo.insert(name);
            const QString file = dir + u'/' + name;
            std::optional<AppStreamApp> app = readAppStreamFile(file);
            if (!app)
                continue;
            Candidate c;
            c.record.file = file;
            c.record.names = app->names;
            c.record.summaries = app->summaries;
            c.record.developer = app->developer;
            c.record.homepage = app->homepage;
            c.record.help = app->help;
            c.record.iconFile = icon(app->icon);
            for (const QString &id : std::as_const(app->desktopIds)) {
                const auto d = desktops.constFind(id);
                if (d == desktops.constEnd())
                    continue;
                claimed.insert(id);
                if (c.desktopFile.isEmpty())
                    fromDesktop(c, *d);
            }
            p.apps.append(std::move(c));
        }
    }
    for (const QString &id : std::as_const(desktopOrder)) {
        if (claimed.contains(id))
            continue;
        const Desktop &d = desktops[id];
        // What menus show: applications not marked hidden or not-for-display.
        if (d.keys.value(QStringLiteral("Type")) != u"Application"
            || d.keys.value(QStringLiteral("NoDisplay")).compare(u"true", Qt::CaseInsensitive) == 0
            || d.keys.value(QStringLiteral("Hidden")).compare(u"true", Qt::CaseInsensitive) == 0)
            continue;
        Candidate c;
        c.record.file = d.file;
        fromDesktop(c, d);
        p.apps.append(std::move(c));
    }
}

// Which package owns each application file: the packages' file lists name
// them. Only lines that can be such a file (.desktop, .xml) are looked up,
// so this reads the lists without indexing every path they hold.
void scanOwners(PackageAppsReader::Parsed &p, const QString &infoDir)
{
    p.owners.clear();
    QHash<QByteArray, QString> wanted; // a path as the lists write it -> the file's name here
    auto want = [&wanted](const QString &file) {
        if (file.isEmpty())
            return;
        wanted.insert(QFile::encodeName(file), file);
        // A folder reached through a link: the lists name the real path.
        const QString real = QFileInfo(file).canonicalFilePath();
        if (!real.isEmpty() && real != file)
            wanted.insert(QFile::encodeName(real), file);
    };
    for (const Candidate &c : std::as_const(p.apps)) {
        want(c.record.file);
        want(c.desktopFile);
    }
    if (wanted.isEmpty())
        return;
    std::vector<char> buffer(1 << 16);
    size_t size = 0;
    for (const QString &list : QDir(infoDir).entryList({QStringLiteral("*.list")}, QDir::Files, QDir::Name)) {
        const QString package = list.chopped(5);
        if (!p.byName.contains(package))
            continue;
        if (!readWholeFile(QFile::encodeName(infoDir + u'/' + list).constData(), &buffer, &size))
            continue;
        std::string_view text(buffer.data(), size);
        while (!text.empty()) {
            const size_t nl = text.find('\n');
            const std::string_view line = text.substr(0, nl);
            if (line.ends_with(".desktop") || line.ends_with(".xml")) {
                const auto it
                    = wanted.constFind(QByteArray::fromRawData(line.data(), qsizetype(line.size())));
                if (it != wanted.constEnd() && !p.owners.contains(*it))
                    p.owners.insert(*it, package);
            }
            if (nl == std::string_view::npos)
                break;
            text.remove_prefix(nl + 1);
        }
    }
}

bool foldersChanged(const PackageAppsReader::Parsed &p)
{
    for (auto it = p.folders.constBegin(); it != p.folders.constEnd(); ++it)
        if (!(fileStampOf(it.key()) == it.value()))
            return true;
    return false;
}

std::shared_ptr<PackageAppsReader::Parsed> parseAll(const QString &statusFile, const QString &infoDir,
                                                    const QStringList &dataFolders)
{
    auto p = std::make_shared<PackageAppsReader::Parsed>();
    parseStatus(*p, statusFile, infoDir, dataFolders);
    parseApps(*p, dataFolders);
    scanOwners(*p, infoDir);
    return p;
}

// Where an application lives: the folder of a program installed outside the
// system folders (/opt/<name>, below /usr/local), else the package's own
// data or library folder, else the folder of its program.
QString appLocation(const Candidate &c, const PackageRecord &package)
{
    const QString exe = c.executable;
    if (exe.startsWith(QLatin1String("/opt/"))) {
        const QString top = exe.section(u'/', 0, 2);
        return isDir(top) ? top : QFileInfo(exe).absolutePath();
    }
    if (!exe.isEmpty() && !exe.startsWith(QLatin1String("/usr/bin/"))
        && !exe.startsWith(QLatin1String("/bin/")) && !exe.startsWith(QLatin1String("/usr/games/"))
        && !exe.startsWith(QLatin1String("/usr/sbin/")))
        return QFileInfo(exe).absolutePath();
    if (!package.location.isEmpty())
        return package.location;
    return exe.isEmpty() ? QString() : QFileInfo(exe).absolutePath();
}

} // namespace

PackageAppsReader::PackageAppsReader(QString statusFile, QString infoDir, QStringList dataFolders)
    : m_statusFile(std::move(statusFile))
    , m_infoDir(std::move(infoDir))
    , m_dataFolders(dataFolders.isEmpty() ? xdgDataFolders() : std::move(dataFolders))
{ }

PackageAppsReader::~PackageAppsReader()
{
    if (m_pending.valid())
        m_pending.wait();
}

void PackageAppsReader::prefetch()
{
    if (m_pending.valid() || m_parsed)
        return;
    m_pending = std::async(std::launch::async, parseAll, m_statusFile, m_infoDir, m_dataFolders);
}

std::shared_ptr<const PackageAppsSnapshot> PackageAppsReader::read()
{
    if (m_pending.valid())
        m_parsed = m_pending.get();
    bool statusChanged = false;
    bool appsChanged = false;
    if (!m_parsed) {
        m_parsed = parseAll(m_statusFile, m_infoDir, m_dataFolders);
        statusChanged = appsChanged = true;
    } else {
        statusChanged
            = !(fileStampOf(m_statusFile) == m_parsed->status) || !(fileStampOf(m_infoDir) == m_parsed->info);
        appsChanged = foldersChanged(*m_parsed) || (m_parsed->icons && m_parsed->icons->refresh());
        if (statusChanged)
            parseStatus(*m_parsed, m_statusFile, m_infoDir, m_dataFolders);
        if (appsChanged)
            parseApps(*m_parsed, m_dataFolders);
        if (statusChanged || appsChanged)
            scanOwners(*m_parsed, m_infoDir);
    }
    if (m_snapshot && !statusChanged && !appsChanged)
        return m_snapshot;

    auto snapshot = std::make_shared<PackageAppsSnapshot>();
    snapshot->packages = m_parsed->packages;
    snapshot->byName = m_parsed->byName;
    for (const Candidate &c : std::as_const(m_parsed->apps)) {
        QString owner = m_parsed->owners.value(c.record.file);
        if (owner.isEmpty())
            owner = m_parsed->owners.value(c.desktopFile);
        const auto at = snapshot->byName.constFind(owner);
        // Files no package owns belong to other sources (Flatpak's exports, Wine's menus) or to nobody.
        if (owner.isEmpty() || at == snapshot->byName.constEnd())
            continue;
        PackageAppRecord r = c.record;
        r.owner = owner;
        r.location = appLocation(c, snapshot->packages.at(*at));
        snapshot->apps.append(std::move(r));
    }
    m_snapshot = std::move(snapshot);
    return m_snapshot;
}

} // namespace platform
