#include "installed/InstalledSource.h"

#include "installed/UninstManager.h"
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

void scanRoot(TUninstManager &manager, const QString &Root, std::vector<std::unique_ptr<TUninstItem>> &entries)
{
    const ValueNames &v = names();
    QStringList names;
    if (platform::RegKeyNames(Root, names) == 0)
        return;
    for (const QString &name : names) {
        const QString path = Root + name;
        if (!platform::RegValueExists(path, v.DisplayName))
            continue;
        auto item = std::make_unique<TUninstItem>(&manager);
        item->SystemComponent = platform::RegReadInteger(path, v.SystemComponent) == 1;
        item->SourceId = path;
        item->KeyPath = path;
        item->KeyName = name;
        auto str = [&path](const QString &value) { return platform::RegReadString(path, value); };
        item->UninstallString = str(v.UninstallString);
        item->ModifyPath = str(v.ModifyPath);
        item->ParentName = str(v.ParentDisplayName);
        item->DisplayName = str(v.DisplayName);
        item->Version = str(v.DisplayVersion);
        item->Publisher = str(v.Publisher);
        item->EstimatedSize = platform::RegReadInteger(path, v.EstimatedSize);
        item->InstallDate = installed::ParseInstallDate(str(v.InstallDate));
        item->InstallLocation = str(v.InstallLocation);
        item->HelpLink = str(v.HelpLink);
        item->AboutLink = str(v.URLInfoAbout);
        item->UpdateLink = str(v.URLUpdateInfo);
        item->Comments = str(v.Comments);
        item->TSAware = platform::RegReadInteger(path, v.TSAware) == 1;
        item->ReleaseType = str(v.ReleaseType);
        item->SmallIconIndex = item->LargeIconIndex = manager.DefaultIconIndex();
        item->IconFile = str(v.DisplayIcon);
        // A path followed by an icon number (",0") names no file and keeps the default icon.
        if (!item->IconFile.isEmpty() && QFileInfo(item->IconFile).isFile())
            item->SmallIconIndex = item->LargeIconIndex = manager.IconIndexFor(item->IconFile);
        entries.push_back(std::move(item));
    }
}

} // namespace

namespace {

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
