#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class TUninstItem;
class TUninstManager;
namespace platform {
class PackageAppsReader;
}

namespace installed {

// Where an uninstall entry comes from.
enum class EntrySource { Registry, Package, Flatpak, Wine };

// "registry", "package", "flatpak", "wine": the words a listing prints.
QString EntrySourceName(EntrySource Source);

// One origin of uninstall entries. A rescan asks each source in turn; a
// source hands over its programs and updates (ParentName set) and the manager
// files and sorts them together with the other sources' entries. Entries a
// source marks SystemComponent are left out unless system components are
// shown. Called on the main thread.
class InstalledSource
{
public:
    virtual ~InstalledSource() = default;
    virtual EntrySource Kind() const = 0;
    virtual void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) = 0;

    // What an uninstall worker runs for one of this source's entries (it
    // holds copies, never the entry); empty: the uninstall command split into
    // words and waited for as written. It returns why the uninstaller
    // refused or failed, in its own words; empty when it ended well or
    // nothing is known.
    using UninstallJob = std::function<QString(const std::atomic<bool> *Cancel)>;
    virtual UninstallJob MakeUninstallJob(const TUninstItem & /*Item*/) { return {}; }
    // What a worker runs to remove a dead entry from where the source keeps it
    // (it holds copies, never the entry); empty: the entry's key is deleted
    // from the program's own registry at once.
    using RemoveJob = std::function<void(const std::atomic<bool> *Cancel)>;
    virtual RemoveJob MakeRemoveJob(const TUninstItem & /*Item*/) { return {}; }
};

// The uninstall keys of the registry (both roots, in order).
std::unique_ptr<InstalledSource> MakeRegistrySource();
// The applications of the Flatpak installations, system and user; each is
// removed with "flatpak uninstall" for its own installation and reference.
// Locale: the interface language's locale ("zh_CN"), asked at every scan;
// empty function: the published language's.
std::unique_ptr<InstalledSource> MakeFlatpakSource(std::function<QString()> Locale = {});

// Where the package source reads from; the defaults are the machine's.
struct PackageSourceOptions
{
    QString StatusFile = QStringLiteral("/var/lib/dpkg/status");
    QString InfoDir; // empty: "info" beside the status file
    QStringList DataFolders; // XDG data folders; empty: the user's and the system's
    // The interface language's locale ("zh_CN"), asked at every scan; empty
    // function: the published language's.
    std::function<QString()> Locale;
    // Read the files in the background from the start, so that the first scan finds them parsed.
    bool Prefetch = false;
    // A reader another source already uses for the same files, so that they are
    // parsed once; empty: one of its own from the fields above.
    std::shared_ptr<platform::PackageAppsReader> Reader;
};

// The installed packages: one entry per application a package brings (its
// AppStream component or menu-shown desktop entry; SourceId = the package,
// Siblings = the package's other applications), and one SystemComponent
// entry for every package without an application.
std::unique_ptr<InstalledSource> MakePackageSource(PackageSourceOptions Options = {});

// The locale of an interface language (2052 -> "zh_CN", 1033 -> "en_US"); empty when unknown.
QString LocaleOfLanguage(quint16 LanguageId);

// The sources the program reads, in order: its own registry hives, the
// system's packages, the Flatpak installations, the user's Wine prefix.
// Language: the interface language at scan time (empty
// function: the published language's).
// Packages: the machine's package reader when several sets of sources are
// made (MakeDefaultPackageReader), so that its files are read once.
std::vector<std::unique_ptr<InstalledSource>>
MakeDefaultSources(std::function<quint16()> Language = {},
                   std::shared_ptr<platform::PackageAppsReader> Packages = {});
// The reader of the machine's package database and applications, reading in the background from now.
std::shared_ptr<platform::PackageAppsReader> MakeDefaultPackageReader();
// The uninstall keys of a Wine prefix's hive files (the user's default
// prefix when Prefix is empty, read again at every scan).
std::unique_ptr<InstalledSource> MakeWineSource(const QString &Prefix = {});

} // namespace installed
