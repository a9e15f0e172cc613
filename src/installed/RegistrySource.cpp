#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "installed/UninstallKeyScan.h"
#include "platform/Registry.h"
#include "platform/TextHelpers.h"

#include <QFileInfo>
#include <QHash>

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

// The values an entry is read from, in the order they are read.
enum Field {
    DisplayName,
    SystemComponent,
    UninstallString,
    ModifyPath,
    ParentDisplayName,
    DisplayVersion,
    Publisher,
    EstimatedSize,
    InstallDate,
    InstallLocation,
    HelpLink,
    URLInfoAbout,
    URLUpdateInfo,
    Comments,
    TSAware,
    ReleaseType,
    DisplayIcon,
    FieldCount
};

constexpr const char *kFieldNames[FieldCount] = {
    "DisplayName",    "SystemComponent", "UninstallString", "ModifyPath",  "ParentDisplayName",
    "DisplayVersion", "Publisher",       "EstimatedSize",   "InstallDate", "InstallLocation",
    "HelpLink",       "URLInfoAbout",    "URLUpdateInfo",   "Comments",    "TSAware",
    "ReleaseType",    "DisplayIcon",
};

// Value name -> field, as written and in lower case; made once.
struct FieldNames
{
    QHash<QString, int> exact;
    QHash<QString, int> lower;
    FieldNames()
    {
        for (int i = 0; i < FieldCount; ++i) {
            exact.insert(QLatin1String(kFieldNames[i]), i);
            lower.insert(QString::fromLatin1(kFieldNames[i]).toLower(), i);
        }
    }
};

const FieldNames &fieldNames()
{
    static const FieldNames n;
    return n;
}

} // namespace

void ScanUninstallKeys(TUninstManager &manager, UninstallKeyReader &keys, const QString &Root,
                       std::vector<std::unique_ptr<TUninstItem>> &entries)
{
    const FieldNames &fields = fieldNames();
    const QList<platform::RegHive::SubKey> subKeys = keys.SubKeys(Root);
    for (const platform::RegHive::SubKey &key : subKeys) {
        const QString &name = key.name;
        const QList<platform::RegValue> &values = key.values;
        // One pass over the key's values finds every field: a value written
        // as the field is named wins over one that differs only in case.
        const platform::RegValue *exact[FieldCount] = {};
        const platform::RegValue *folded[FieldCount] = {};
        for (const platform::RegValue &v : values) {
            const auto e = fields.exact.constFind(v.name);
            if (e != fields.exact.constEnd()) {
                if (!exact[*e])
                    exact[*e] = &v;
                continue;
            }
            const auto l = fields.lower.constFind(textutil::lowerCased(v.name));
            if (l != fields.lower.constEnd() && !folded[*l])
                folded[*l] = &v;
        }
        auto value = [&](Field f) { return exact[f] ? exact[f] : folded[f]; };
        auto str = [&](Field f) {
            const platform::RegValue *v = value(f);
            return v ? v->stringValue().value_or(QString()) : QString();
        };
        auto num = [&](Field f) {
            const platform::RegValue *v = value(f);
            return v ? qint32(v->dwordValue().value_or(0)) : 0;
        };
        if (!value(DisplayName))
            continue;
        const QString path = Root + name;
        auto item = std::make_unique<TUninstItem>(&manager);
        item->SystemComponent = num(SystemComponent) == 1;
        item->SourceId = path;
        item->KeyPath = path;
        item->KeyName = name;
        item->UninstallString = str(UninstallString);
        item->ModifyPath = str(ModifyPath);
        item->ParentName = str(ParentDisplayName);
        item->DisplayName = str(DisplayName);
        item->Version = str(DisplayVersion);
        item->Publisher = str(Publisher);
        item->EstimatedSize = num(EstimatedSize);
        item->InstallDate = installed::ParseInstallDate(str(InstallDate));
        item->InstallLocation = str(InstallLocation);
        item->HelpLink = str(HelpLink);
        item->AboutLink = str(URLInfoAbout);
        item->UpdateLink = str(URLUpdateInfo);
        item->Comments = str(Comments);
        item->TSAware = num(TSAware) == 1;
        item->ReleaseType = str(ReleaseType);
        item->SmallIconIndex = item->LargeIconIndex = manager.DefaultIconIndex();
        item->IconFile = str(DisplayIcon);
        entries.push_back(std::move(item));
    }
}

namespace {

// The program's own hives, through the registry layer.
class OwnRegistryKeys final : public UninstallKeyReader
{
public:
    QList<platform::RegHive::SubKey> SubKeys(const QString &Path) override
    {
        return platform::RegReadSubKeys(Path);
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
