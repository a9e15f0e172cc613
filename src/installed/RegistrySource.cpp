#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "installed/UninstallKeyScan.h"
#include "platform/Registry.h"

#include <QFileInfo>

namespace installed {

QString EntrySourceName(EntrySource Source)
{
    switch (Source) {
    case EntrySource::Registry:
        return QStringLiteral("registry");
    case EntrySource::Package:
        return QStringLiteral("package");
    case EntrySource::Flatpak:
        return QStringLiteral("flatpak");
    case EntrySource::Wine:
        return QStringLiteral("wine");
    }
    return {};
}

namespace {

// Value names, made once: a scan asks for each of them thousands of times.
struct ValueNames
{
    const QString DisplayName = QStringLiteral("DisplayName");
    const QString SystemComponent = QStringLiteral("SystemComponent");
    const QString UninstallString = QStringLiteral("UninstallString");
    const QString ModifyPath = QStringLiteral("ModifyPath");
    const QString ParentDisplayName = QStringLiteral("ParentDisplayName");
    const QString DisplayVersion = QStringLiteral("DisplayVersion");
    const QString Publisher = QStringLiteral("Publisher");
    const QString EstimatedSize = QStringLiteral("EstimatedSize");
    const QString InstallDate = QStringLiteral("InstallDate");
    const QString InstallLocation = QStringLiteral("InstallLocation");
    const QString HelpLink = QStringLiteral("HelpLink");
    const QString URLInfoAbout = QStringLiteral("URLInfoAbout");
    const QString URLUpdateInfo = QStringLiteral("URLUpdateInfo");
    const QString Comments = QStringLiteral("Comments");
    const QString TSAware = QStringLiteral("TSAware");
    const QString ReleaseType = QStringLiteral("ReleaseType");
    const QString DisplayIcon = QStringLiteral("DisplayIcon");
};

const ValueNames &names()
{
    static const ValueNames n;
    return n;
}

} // namespace

void ScanUninstallKeys(TUninstManager &manager, UninstallKeyReader &keys, const QString &Root,
                       std::vector<std::unique_ptr<TUninstItem>> &entries)
{
    const ValueNames &v = names();
    const QStringList keyNames = keys.KeyNames(Root);
    for (const QString &name : keyNames) {
        const QString path = Root + name;
        if (!keys.ValueExists(path, v.DisplayName))
            continue;
        auto item = std::make_unique<TUninstItem>(&manager);
        item->SystemComponent = keys.ReadInteger(path, v.SystemComponent) == 1;
        item->SourceId = path;
        item->KeyPath = path;
        item->KeyName = name;
        auto str = [&path, &keys](const QString &value) { return keys.ReadString(path, value); };
        item->UninstallString = str(v.UninstallString);
        item->ModifyPath = str(v.ModifyPath);
        item->ParentName = str(v.ParentDisplayName);
        item->DisplayName = str(v.DisplayName);
        item->Version = str(v.DisplayVersion);
        item->Publisher = str(v.Publisher);
        item->EstimatedSize = keys.ReadInteger(path, v.EstimatedSize);
        item->InstallDate = installed::ParseInstallDate(str(v.InstallDate));
        item->InstallLocation = str(v.InstallLocation);
        item->HelpLink = str(v.HelpLink);
        item->AboutLink = str(v.URLInfoAbout);
        item->UpdateLink = str(v.URLUpdateInfo);
        item->Comments = str(v.Comments);
        item->TSAware = keys.ReadInteger(path, v.TSAware) == 1;
        item->ReleaseType = str(v.ReleaseType);
        item->SmallIconIndex = item->LargeIconIndex = manager.DefaultIconIndex();
        item->IconFile = str(v.DisplayIcon);
        entries.push_back(std::move(item));
    }
}

namespace {

// The program's own hives, through the registry layer.
class OwnRegistryKeys final : public UninstallKeyReader
{
public:
    QStringList KeyNames(const QString &Path) override
    {
        QStringList names;
        platform::RegKeyNames(Path, names);
        return names;
    }
    bool ValueExists(const QString &Path, const QString &Name) override
    {
        return platform::RegValueExists(Path, Name);
    }
    QString ReadString(const QString &Path, const QString &Name) override
    {
        return platform::RegReadString(Path, Name);
    }
    qint32 ReadInteger(const QString &Path, const QString &Name) override
    {
        return platform::RegReadInteger(Path, Name);
    }
};

void scanRoot(TUninstManager &manager, const QString &Root,
              std::vector<std::unique_ptr<TUninstItem>> &entries)
{
    OwnRegistryKeys keys;
    const size_t first = entries.size();
    ScanUninstallKeys(manager, keys, Root, entries);
    for (size_t i = first; i < entries.size(); ++i) {
        TUninstItem &item = *entries[i];
        // A path followed by an icon number (",0") names no file and keeps the default icon.
        if (!item.IconFile.isEmpty() && QFileInfo(item.IconFile).isFile())
            item.SmallIconIndex = item.LargeIconIndex = manager.IconIndexFor(item.IconFile);
    }
}

class RegistrySource final : public InstalledSource
{
public:
    EntrySource Kind() const override { return EntrySource::Registry; }
    void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) override
    {
        // Each root is read on its own: a machine-wide list that is missing or
        // empty must not hide the per-user entries.
        for (const QString &root : TUninstManager::UninstallRoots())
            scanRoot(Manager, root, Entries);
    }
};

} // namespace

std::unique_ptr<InstalledSource> MakeRegistrySource()
{
    return std::make_unique<RegistrySource>();
}

} // namespace installed
