#include "installed/LeftoverScan.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/OVJournal.h"
#include "installed/UninstManager.h"
#include "platform/DpkgStatus.h"
#include "platform/FileIO.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <algorithm>

namespace installed {

namespace {

// A launcher file is small; anything larger is no launcher of ours.
constexpr qint64 kMaxLauncherBytes = 64 * 1024;
// Sizing stops counting after this many files: the list must come up quickly.
constexpr int kMaxSizedFiles = 200000;

QString xdgFolder(const char *variable, const QString &home, const char *fallback)
{
    const QString value = qEnvironmentVariable(variable);
    // The base directory rules: only an absolute path counts.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + u'/' + QLatin1String(fallback));
}

bool existsNoFollow(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Strictly inside folder (both clean, absolute).
bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && path.startsWith(folder + u'/') && path.size() > folder.size() + 1;
}

qint64 sizeOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return info.isSymLink() ? 0 : info.size();
    qint64 total = 0;
    int files = 0;
    // Links are counted as themselves: what they point at is not moved.
    QDirIterator it(path, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && ++files < kMaxSizedFiles) {
        it.next();
        const QFileInfo f = it.fileInfo();
        if (f.isFile() && !f.isSymLink())
            total += f.size();
    }
    return total;
}

bool programIsGone(const QString &program)
{
    if (program.isEmpty())
        return false; // nothing to judge by
    if (program.contains(u'/'))
        return !QFileInfo::exists(program);
    return QStandardPaths::findExecutable(program).isEmpty();
}

QString packageName(const QString &qualified)
{
    const qsizetype colon = qualified.indexOf(u':');
    return colon < 0 ? qualified : qualified.left(colon);
}

// The flatpak id of a reference "app/<id>/<arch>/<branch>".
QString flatpakIdOf(const TUninstItem &Item)
{
    if (!Item.KeyName.isEmpty())
        return Item.KeyName;
    const QStringList parts = Item.SourceId.split(u'/');
    return parts.size() >= 2 ? parts.at(1) : QString();
}

// Executable files directly in folder and in its bin/, apart from uninstallers.
QStringList executablesIn(const QString &folder)
{
    QStringList found;
    if (folder.isEmpty())
        return found;
    for (const QString &dir : {folder, folder + QStringLiteral("/bin")}) {
        const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Executable);
        for (const QFileInfo &f : files)
            if (!f.fileName().startsWith(QLatin1String("uninstall"), Qt::CaseInsensitive))
                found << QDir::cleanPath(f.absoluteFilePath());
    }
    return found;
}

QByteArray readSmall(const QString &path)
{
    if (QFileInfo(path).size() > kMaxLauncherBytes)
        return {};
    return platform::readFileTail(path, kMaxLauncherBytes);
}

struct Launcher
{
    QString path;
    QString id; // file name without its suffix
    LauncherInfo info;
};

std::vector<Launcher> launchersIn(const QString &folder, const QStringList &patterns, bool units,
                                  bool recursive)
{
    std::vector<Launcher> out;
    QDirIterator it(folder, patterns, QDir::Files | QDir::Hidden,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString path = QDir::cleanPath(it.next());
        Launcher l;
        l.path = path;
        l.id = it.fileInfo().completeBaseName();
        l.info = ReadLauncher(readSmall(path), units);
        out.push_back(std::move(l));
    }
    return out;
}

} // namespace

LeftoverPlaces LeftoverPlaces::FromEnvironment()
{
    LeftoverPlaces p;
    p.Home = QDir::cleanPath(QDir::homePath());
    p.ConfigHome = xdgFolder("XDG_CONFIG_HOME", p.Home, ".config");
    p.DataHome = xdgFolder("XDG_DATA_HOME", p.Home, ".local/share");
    p.CacheHome = xdgFolder("XDG_CACHE_HOME", p.Home, ".cache");
    p.StateHome = xdgFolder("XDG_STATE_HOME", p.Home, ".local/state");
    return p;
}

LauncherInfo ReadLauncher(const QByteArray &Bytes, bool SystemdUnit)
{
    LauncherInfo info;
    const QString group = SystemdUnit ? QString() : QStringLiteral("[Desktop Entry]");
    QString current;
    QString exec;
    for (QByteArray raw : Bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            current = line;
            continue;
        }
        if (!group.isEmpty() && current != group)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (SystemdUnit) {
            if (key == QLatin1String("ExecStart") && exec.isEmpty() && current == QLatin1String("[Service]"))
                exec = value;
            else if (key == QLatin1String("Description") && info.Name.isEmpty())
                info.Name = value;
        } else if (key == QLatin1String("Exec") && exec.isEmpty())
            exec = value;
        else if (key == QLatin1String("Path") && info.WorkingFolder.isEmpty())
            info.WorkingFolder = value;
        else if (key == QLatin1String("Name") && info.Name.isEmpty())
            info.Name = value;
    }
    QStringList words = SplitCommandLine(exec);
    if (SystemdUnit && !words.isEmpty()) {
        // The prefixes that change how the command runs, not which program it is.
        QString &first = words.first();
        while (!first.isEmpty() && QStringLiteral("-@:+!").contains(first.front()))
            first.remove(0, 1);
    }
    // "env VAR=value ... program" runs program.
    if (!words.isEmpty()
        && (words.first() == QLatin1String("env") || words.first().endsWith(QLatin1String("/env")))) {
        words.removeFirst();
        while (!words.isEmpty() && (words.first().contains(u'=') || words.first().startsWith(u'-')))
            words.removeFirst();
    }
    if (!words.isEmpty())
        info.Program = words.first();
    return info;
}

LeftoverFacts FactsOf(const TUninstItem &Item, const LeftoverPlaces &Places)
{
    LeftoverFacts f;
    f.Program = Item.DisplayName;
    f.Version = Item.Version;
    f.Source = Item.Source;
    const QString location = Item.InstallLocation.isEmpty() || !QDir::isAbsolutePath(Item.InstallLocation)
        ? QString()
        : QDir::cleanPath(Item.InstallLocation);
    switch (Item.Source) {
    case EntrySource::Package:
        f.Package = packageName(Item.SourceId);
        f.Names << f.Package;
        break;
    case EntrySource::Flatpak:
        f.FlatpakId = flatpakIdOf(Item);
        f.Names << f.FlatpakId;
        break;
    case EntrySource::Wine:
        f.InstallLocation = location;
        break;
    case EntrySource::Registry: {
        f.InstallLocation = location;
        if (!Item.IconFile.isEmpty() && QDir::isAbsolutePath(Item.IconFile))
            f.RegisteredFiles << QDir::cleanPath(Item.IconFile.section(u',', 0, 0));
        f.Executables = executablesIn(location);
        // The user's menu entries that start a program of its folder name its desktop ids and
        // its main executables; without one, every program of the folder counts.
        QStringList main;
        for (const Launcher &l :
             launchersIn(Places.DataHome + QStringLiteral("/applications"), {"*.desktop"}, false, false))
            if (isInside(QDir::cleanPath(l.info.Program), location)) {
                f.Names << l.id;
                main << QFileInfo(l.info.Program).fileName();
                f.Executables << QDir::cleanPath(l.info.Program);
            }
        if (main.isEmpty())
            for (const QString &e : f.Executables)
                main << QFileInfo(e).fileName();
        f.Names << main;
        break;
    }
    }
    f.Names.removeAll(QString());
    f.Names.removeDuplicates();
    f.Executables.removeDuplicates();
    return f;
}

std::vector<Claim> ClaimsOf(const TUninstManager &Manager, const TUninstItem *Except)
{
    std::vector<Claim> claims;
    auto add = [&](const TUninstItem *e) {
        if (e == Except)
            return;
        Claim c;
        c.Program = e->DisplayName;
        if (e->Source == EntrySource::Package)
            c.Names.insert(packageName(e->SourceId));
        else if (e->Source == EntrySource::Flatpak)
            c.Names.insert(flatpakIdOf(*e));
        if (!e->InstallLocation.isEmpty() && QDir::isAbsolutePath(e->InstallLocation)) {
            c.InstallLocation = QDir::cleanPath(e->InstallLocation);
            c.Names.insert(QFileInfo(c.InstallLocation).fileName());
        }
        c.Names.remove(QString());
        claims.push_back(std::move(c));
    };
    for (int i = 0; i < Manager.Count(); ++i) {
        const TUninstItem *e = Manager.Item(i);
        add(e);
        for (int c = 0; c < e->ChildCount(); ++c)
            add(e->Child(c));
    }
    return claims;
}

QString ReasonText(const Leftover &Item)
{
    static const QHash<int, const char *> keys {
        {int(Leftover::Kind::PackageConfig), "PackageConfig"},
        {int(Leftover::Kind::ConfigFolder), "ConfigFolder"},
        {int(Leftover::Kind::DataFolder), "DataFolder"},
        {int(Leftover::Kind::CacheFolder), "CacheFolder"},
        {int(Leftover::Kind::StateFolder), "StateFolder"},
        {int(Leftover::Kind::FlatpakData), "FlatpakData"},
        {int(Leftover::Kind::Autostart), "Autostart"},
        {int(Leftover::Kind::SystemdUnit), "SystemdUnit"},
        {int(Leftover::Kind::WineLocation), "WineLocation"},
        {int(Leftover::Kind::WineMenu), "WineMenu"},
        {int(Leftover::Kind::Registered), "Registered"},
    };
    const QString reason = OVFormatText(
        QStringLiteral("String.Leftover.Reason.") + QLatin1String(keys.value(int(Item.What))), {Item.Fact});
    if (Item.SharedWith.isEmpty())
        return reason;
    return OVFormatText(QStringLiteral("String.Leftover.Shared"), {reason, Item.SharedWith});
}

std::vector<Leftover> ScanLeftovers(const LeftoverFacts &Facts, const LeftoverPlaces &Places,
                                    const std::vector<Claim> &Others)
{
    std::vector<Leftover> items;
    QSet<QString> seen;
    const QStringList bases {Places.Home,      Places.ConfigHome,
                             Places.DataHome,  Places.CacheHome,
                             Places.StateHome, Places.DataHome + QStringLiteral("/applications")};
    auto add = [&](Leftover::Kind kind, const QString &rawPath, const QString &fact) {
        const QString path = QDir::cleanPath(rawPath);
        // Only what lies in the user's own folders, never one of the folders themselves.
        if (!isInside(path, Places.Home) || bases.contains(path) || seen.contains(path)
            || !existsNoFollow(path))
            return;
        seen.insert(path);
        Leftover l;
        l.What = kind;
        l.Program = Facts.Program;
        l.Version = Facts.Version;
        l.Path = path;
        l.Fact = fact;
        l.Size = sizeOf(path);
        const QString name = QFileInfo(path).fileName();
        for (const Claim &c : Others)
            if (c.Names.contains(name) || path == c.InstallLocation || isInside(path, c.InstallLocation)
                || isInside(c.InstallLocation, path)) {
                l.SharedWith = c.Program;
                l.Preselected = false;
                break;
            }
        items.push_back(std::move(l));
    };

    if (!Facts.Package.isEmpty()) {
        bool read = false;
        const QByteArray status = platform::readWholeFile(Places.DpkgStatusFile, &read);
        for (const platform::DpkgPackage &p : platform::parseDpkgStatus(status))
            if (p.name == Facts.Package && p.status == QLatin1String("config-files")) {
                Leftover l;
                l.What = Leftover::Kind::PackageConfig;
                l.Program = Facts.Program;
                l.Version = p.version;
                l.Path = p.name;
                l.Fact = p.name;
                // Purging needs the administrator: offered only where the package path can do it.
                l.Preselected = packagePurger().CanPurge();
                items.push_back(std::move(l));
                break;
            }
    }

    const std::pair<Leftover::Kind, QString> xdg[] = {
        {Leftover::Kind::ConfigFolder, Places.ConfigHome},
        {Leftover::Kind::DataFolder, Places.DataHome},
        {Leftover::Kind::CacheFolder, Places.CacheHome},
        {Leftover::Kind::StateFolder, Places.StateHome},
    };
    // Folders every desktop shares, whatever a program happens to be called.
    static const QSet<QString> shared {"autostart",
                                       "systemd",
                                       "applications",
                                       "icons",
                                       "mime",
                                       "Trash",
                                       "fonts",
                                       "themes",
                                       "flatpak",
                                       "dbus-1",
                                       "orvane",
                                       "menus",
                                       "pulse",
                                       "dconf",
                                       "gtk-3.0",
                                       "gtk-4.0",
                                       "fontconfig",
                                       "keyrings",
                                       "recently-used.xbel",
                                       "user-dirs.dirs"};
    for (const QString &name : Facts.Names) {
        // A name is one path component: nothing else may reach outside its base.
        if (name.isEmpty() || name.contains(u'/') || name == QLatin1String(".") || name == QLatin1String("..")
            || shared.contains(name))
            continue;
        for (const auto &[kind, base] : xdg)
            add(kind, base + u'/' + name, name);
    }
    if (!Facts.FlatpakId.isEmpty() && !Facts.FlatpakId.contains(u'/') && !Facts.FlatpakId.startsWith(u'.'))
        add(Leftover::Kind::FlatpakData, Places.Home + QStringLiteral("/.var/app/") + Facts.FlatpakId,
            Facts.FlatpakId);

    // Launchers of a program that is gone, tied by their id or their program.
    auto tied = [&](const Launcher &l) {
        if (!Facts.Launcher.isEmpty())
            return l.path == Facts.Launcher;
        const QString program = QDir::cleanPath(l.info.Program);
        return Facts.Names.contains(l.id) || Facts.Executables.contains(program)
            || isInside(program, Facts.InstallLocation);
    };
    for (const Launcher &l :
         launchersIn(Places.ConfigHome + QStringLiteral("/autostart"), {"*.desktop"}, false, false))
        if (tied(l) && programIsGone(l.info.Program))
            add(Leftover::Kind::Autostart, l.path, QFileInfo(l.info.Program).fileName());
    for (const Launcher &l :
         launchersIn(Places.ConfigHome + QStringLiteral("/systemd/user"), {"*.service"}, true, false))
        if (tied(l) && programIsGone(l.info.Program))
            add(Leftover::Kind::SystemdUnit, l.path, QFileInfo(l.info.Program).fileName());

    if (Facts.Source == EntrySource::Wine || !Facts.Launcher.isEmpty()) {
        if (Facts.Source == EntrySource::Wine && !Facts.InstallLocation.isEmpty())
            add(Leftover::Kind::WineLocation, Facts.InstallLocation, Facts.Program);
        // Wine's menu entries name the program's folder as their working folder.
        for (const Launcher &l : launchersIn(Places.DataHome + QStringLiteral("/applications/wine"),
                                             {"*.desktop"}, false, true)) {
            const bool ours = Facts.Launcher.isEmpty()
                ? (!Facts.InstallLocation.isEmpty()
                   && (QDir::cleanPath(l.info.WorkingFolder) == Facts.InstallLocation
                       || isInside(QDir::cleanPath(l.info.WorkingFolder), Facts.InstallLocation)))
                : l.path == Facts.Launcher;
            if (ours)
                add(Leftover::Kind::WineMenu, l.path, l.info.Name.isEmpty() ? Facts.Program : l.info.Name);
        }
    }

    if (Facts.Source == EntrySource::Registry && Facts.Launcher.isEmpty()) {
        if (!Facts.InstallLocation.isEmpty())
            add(Leftover::Kind::Registered, Facts.InstallLocation, Facts.Program);
        for (const QString &file : Facts.RegisteredFiles)
            add(Leftover::Kind::Registered, file, Facts.Program);
    }
    return items;
}

std::vector<LeftoverFacts> RemovedPrograms(const LeftoverPlaces &Places, const std::vector<Claim> &Installed)
{
    std::vector<LeftoverFacts> removed;
    QSet<QString> claimed;
    for (const Claim &c : Installed)
        claimed.unite(c.Names);

    bool read = false;
    const QByteArray status = platform::readWholeFile(Places.DpkgStatusFile, &read);
    for (const platform::DpkgPackage &p : platform::parseDpkgStatus(status))
        if (p.status == QLatin1String("config-files")) {
            LeftoverFacts f;
            f.Program = p.name;
            f.Version = p.version;
            f.Source = EntrySource::Package;
            f.Package = p.name;
            f.Names << p.name;
            removed.push_back(std::move(f));
        }
    const QStringList apps
        = QDir(Places.Home + QStringLiteral("/.var/app")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &id : apps)
        if (!claimed.contains(id)) {
            LeftoverFacts f;
            f.Program = id;
            f.Source = EntrySource::Flatpak;
            f.FlatpakId = id;
            removed.push_back(std::move(f));
        }
    auto orphan = [&](const Launcher &l, EntrySource source) {
        LeftoverFacts f;
        f.Program = l.info.Name.isEmpty() ? l.id : l.info.Name;
        f.Source = source;
        f.Launcher = l.path;
        removed.push_back(std::move(f));
    };
    for (const Launcher &l :
         launchersIn(Places.ConfigHome + QStringLiteral("/autostart"), {"*.desktop"}, false, false))
        if (programIsGone(l.info.Program))
            orphan(l, EntrySource::Registry);
    for (const Launcher &l :
         launchersIn(Places.ConfigHome + QStringLiteral("/systemd/user"), {"*.service"}, true, false))
        if (programIsGone(l.info.Program))
            orphan(l, EntrySource::Registry);
    for (const Launcher &l :
         launchersIn(Places.DataHome + QStringLiteral("/applications/wine"), {"*.desktop"}, false, true))
        if (!l.info.WorkingFolder.isEmpty() && QDir::isAbsolutePath(l.info.WorkingFolder)
            && !QFileInfo::exists(l.info.WorkingFolder))
            orphan(l, EntrySource::Wine);
    return removed;
}

QStringList TrashLeftovers(const std::vector<Leftover> &Items)
{
    QStringList failed;
    QHash<QString, QStringList> byProgram;
    QHash<QString, QString> versions;
    QStringList order;
    for (const Leftover &l : Items) {
        if (l.What == Leftover::Kind::PackageConfig)
            continue;
        if (!byProgram.contains(l.Program))
            order << l.Program;
        byProgram[l.Program] << l.Path;
        versions[l.Program] = l.Version;
    }
    for (const QString &program : order) {
        const QStringList paths = byProgram.value(program);
        const QString record = journal::Begin(
            journal::Kind::CleanLeftovers, {program, versions.value(program), QString(), paths.join(u'\n')});
        QStringList notMoved;
        for (const QString &path : paths) {
            // Into the user's Trash with its .trashinfo, never deleted outright.
            QString inTrash;
            if (!QFile::moveToTrash(path, &inTrash))
                notMoved << path;
        }
        journal::End(record, notMoved.isEmpty() ? journal::Result::Succeeded : journal::Result::Failed,
                     std::nullopt, notMoved.join(u'\n'));
        failed << notMoved;
    }
    return failed;
}

namespace {
class NoPurger : public PackagePurger
{
public:
    bool CanPurge() const override { return false; }
    bool Purge(const QStringList &, QString &Error) override
    {
        Error = QStringLiteral("no package removal path");
        return false;
    }
};
std::unique_ptr<PackagePurger> &purgerSlot()
{
    static std::unique_ptr<PackagePurger> purger = std::make_unique<NoPurger>();
    return purger;
}
} // namespace

PackagePurger &packagePurger()
{
    return *purgerSlot();
}

void SetPackagePurger(std::unique_ptr<PackagePurger> Purger)
{
    purgerSlot() = Purger ? std::move(Purger) : std::make_unique<NoPurger>();
}

} // namespace installed
