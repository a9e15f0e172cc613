#pragma once

#include <QString>
#include <atomic>
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

    // What an uninstall worker runs for one of this source's entries (it
    // holds copies, never the entry); empty: the uninstall command split into
    // words and waited for as written.
    using UninstallJob = std::function<void(const std::atomic<bool> *Cancel)>;
    virtual UninstallJob MakeUninstallJob(const TUninstItem & /*Item*/) { return {}; }
    // Removes a dead entry from where the source keeps it; false leaves it to
    // the deletion of its key in the program's own registry.
    virtual bool RemoveEntry(const TUninstItem & /*Item*/) { return false; }
};

// The uninstall keys of the registry (both roots, in order).
std::unique_ptr<InstalledSource> MakeRegistrySource();
// The uninstall keys of a Wine prefix's hive files (the user's default
// prefix when Prefix is empty, read again at every scan).
std::unique_ptr<InstalledSource> MakeWineSource(const QString &Prefix = {});

} // namespace installed
