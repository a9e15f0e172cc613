#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

class TUninstItem;
class TUninstManager;
namespace platform {
class DpkgPackageIndex;
}

namespace installed {

// The key an entry keeps across rescans: its source and its own name there.
QString EntryKey(const TUninstItem &Item);

// Which listed application a running program belongs to: a Flatpak by its
// application id, a program of the registry or the Wine prefix by the folder
// it was installed to (or its uninstaller's), a packaged one by the package
// owning its file. Built from a manager's entries after a rescan; keeps copies,
// never the entries.
class ApplicationIndex
{
public:
    struct Application
    {
        QString Key;
        QString Name;
        QString Description; // its summary or comments, else its name
    };

    // Packages: the package database to ask (the program's shared one when null).
    explicit ApplicationIndex(platform::DpkgPackageIndex *Packages = nullptr);

    void Build(const TUninstManager &Manager);
    bool IsBuilt() const { return m_built; }
    // FlatpakId: the application a sandboxed process runs (empty outside one);
    // File: the file that runs (a script's own file for a script).
    std::optional<Application> Find(const QString &File, const QString &FlatpakId) const;

private:
    platform::DpkgPackageIndex *m_packages;
    bool m_built = false;
    QHash<QString, Application> m_byFlatpakId;
    std::vector<std::pair<QString, Application>> m_byFolder; // folder with a trailing '/', deepest first
    QHash<QString, Application> m_byPackage; // the package's qualified name
};

} // namespace installed
