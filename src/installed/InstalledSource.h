#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TUninstItem;
class TUninstManager;

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
};

// The uninstall keys of the registry (both roots, in order).
std::unique_ptr<InstalledSource> MakeRegistrySource();
// The applications of the Flatpak installations, system and user; each is
// removed with "flatpak uninstall" for its own installation and reference.
// Locale: the interface language's locale ("zh_CN"), asked at every scan;
// empty function: the published language's.
std::unique_ptr<InstalledSource> MakeFlatpakSource(std::function<QString()> Locale = {});

} // namespace installed
