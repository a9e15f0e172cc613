#pragma once

#include "platform/RegistryHive.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TUninstItem;
class TUninstManager;

namespace installed {

// Read access to one set of registry keys: the program's own hives, or the
// hive files of a Wine prefix. Paths are as the set names them.
class UninstallKeyReader
{
public:
    virtual ~UninstallKeyReader() = default;
    // The key's direct subkeys with their values; nothing when it cannot be opened.
    virtual QList<platform::RegHive::SubKey> SubKeys(const QString &Path) = 0;
};

// Every entry below Root (which ends in a backslash) that has a
// "DisplayName", with its values read; KeyPath and SourceId are Root + key
// name. Icons are left at the default: where "DisplayIcon" points depends on
// the set.
void ScanUninstallKeys(TUninstManager &Manager, UninstallKeyReader &Keys, const QString &Root,
                       std::vector<std::unique_ptr<TUninstItem>> &Entries);

} // namespace installed
