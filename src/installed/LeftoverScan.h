#pragma once

#include "installed/InstalledSource.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TUninstItem;
class TUninstManager;

// What an uninstalled application leaves behind, found only from facts that
// tie a file to it (its package, desktop-entry ids, main executables, Flatpak
// id, the folders its registration named), never from similar names. Every
// file found goes to the Trash, where it can be restored.
namespace installed {

// The user's folders the scan looks in (absolute, no trailing slash).
struct LeftoverPlaces
{
    QString Home;
    QString ConfigHome; // $XDG_CONFIG_HOME or ~/.config
    QString DataHome; // $XDG_DATA_HOME or ~/.local/share
    QString CacheHome; // $XDG_CACHE_HOME or ~/.cache
    QString StateHome; // $XDG_STATE_HOME or ~/.local/state
    QString DpkgStatusFile = QStringLiteral("/var/lib/dpkg/status");

    // From the environment, as the XDG base directory rules say (a relative
    // value counts as unset).
    static LeftoverPlaces FromEnvironment();
};

// The facts about one application, taken while it is still installed.
struct LeftoverFacts
{
    QString Program; // its display name
    QString Version;
    EntrySource Source = EntrySource::Registry;
    // Exact names a per-user folder of its own would carry: desktop-entry
    // ids, the package, main executables, the Flatpak id.
    QStringList Names;
    QString Package; // the dpkg package, without architecture
    QString FlatpakId;
    QString InstallLocation; // the Linux folder its registration named
    QStringList RegisteredFiles; // other files the registration named (its icon)
    QStringList Executables; // absolute paths of its programs, to tie launchers to it
    // A launcher (autostart entry, user unit, Wine menu entry) of a program
    // that is gone; set for programs removed elsewhere.
    QString Launcher;
};

// The facts of an entry, read from it and its folder now.
LeftoverFacts FactsOf(const TUninstItem &Item, const LeftoverPlaces &Places);

// Another installed application: what it claims.
struct Claim
{
    QString Program;
    QSet<QString> Names;
    QString InstallLocation;
};
// The claims of every entry of the manager but Except (cheap: no folder is read).
std::vector<Claim> ClaimsOf(const TUninstManager &Manager, const TUninstItem *Except = nullptr);

struct Leftover
{
    enum class Kind {
        PackageConfig, // a removed package's configuration files (state "config-files")
        ConfigFolder,
        DataFolder,
        CacheFolder,
        StateFolder,
        FlatpakData, // ~/.var/app/<id>
        Autostart, // ~/.config/autostart/<x>.desktop of a program that is gone
        SystemdUnit, // a user unit of a program that is gone
        WineLocation, // the Wine program's install folder, still there
        WineMenu, // its Start-menu entry under applications/wine/
        Registered, // a folder or file its registration named
    };
    Kind What = Kind::ConfigFolder;
    QString Program;
    QString Version;
    QString Path; // for PackageConfig: the package name
    QString Fact; // the name or program that ties it to Program
    qint64 Size = -1; // bytes; -1 when not known
    bool Preselected = true;
    QString SharedWith; // another installed application that claims it too
};

// The reason shown for an item, in the interface language.
QString ReasonText(const Leftover &Item);

// What Facts tie to the application now. Other installed applications'
// claims keep an item from being preselected.
std::vector<Leftover> ScanLeftovers(const LeftoverFacts &Facts, const LeftoverPlaces &Places,
                                    const std::vector<Claim> &Others = {});

// Programs removed without this program, whose leftovers remain: removed
// packages with configuration files, Flatpak data of applications no
// longer installed, launchers of programs that are gone.
std::vector<LeftoverFacts> RemovedPrograms(const LeftoverPlaces &Places, const std::vector<Claim> &Installed);

// Moves the items (not package configurations) to the Trash; the paths that
// could not be moved. One journal record per program.
QStringList TrashLeftovers(const std::vector<Leftover> &Items);

// A desktop entry's or user unit's program and folder, as far as the scan needs them.
struct LauncherInfo
{
    QString Program; // the first word of Exec / ExecStart, past "env" and its assignments
    QString WorkingFolder; // Path= of a desktop entry
    QString Name; // Name= of a desktop entry, Description= of a unit
};
LauncherInfo ReadLauncher(const QByteArray &Bytes, bool SystemdUnit);

// Purging removed packages' configuration files goes through the package
// manager's checked path; the program hands one in once it has it.
class PackagePurger
{
public:
    virtual ~PackagePurger() = default;
    virtual bool CanPurge() const = 0;
    // Purges the packages; false with Error set when it did not.
    virtual bool Purge(const QStringList &Packages, QString &Error) = 0;
};
// The purger in use (one that cannot purge until another is set).
PackagePurger &packagePurger();
void SetPackagePurger(std::unique_ptr<PackagePurger> Purger);

} // namespace installed
