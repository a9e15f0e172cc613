#include "core/BrimMultiLangs.h"
#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "platform/PackageApps.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

namespace installed {

QString LocaleOfLanguage(quint16 LanguageId)
{
    switch (LanguageId) {
    case 2052:
        return QStringLiteral("zh_CN");
    case 1028:
        return QStringLiteral("zh_TW");
    case 1033:
        return QStringLiteral("en_US");
    case 2057:
        return QStringLiteral("en_GB");
    case 1031:
        return QStringLiteral("de_DE");
    case 1036:
        return QStringLiteral("fr_FR");
    case 1041:
        return QStringLiteral("ja_JP");
    default:
        return {};
    }
}

namespace {

QString maintainerName(const QString &maintainer)
{
    const qsizetype lt = maintainer.indexOf(u'<');
    const QString name = (lt >= 0 ? maintainer.left(lt) : maintainer).trimmed();
    return name.isEmpty() ? maintainer.trimmed() : name;
}

double dayCount(qint64 secs)
{
    if (secs <= 0)
        return 0;
    return double(QDate(1899, 12, 30).daysTo(QDateTime::fromSecsSinceEpoch(secs).date()));
}

class PackageSource final : public InstalledSource
{
public:
    explicit PackageSource(PackageSourceOptions options)
        : m_options(std::move(options))
    {
        m_reader = m_options.Reader;
        if (m_reader)
            return;
        QString info = m_options.InfoDir;
        if (info.isEmpty())
            info = QFileInfo(m_options.StatusFile).absolutePath() + QStringLiteral("/info");
        m_reader = std::make_shared<platform::PackageAppsReader>(m_options.StatusFile, info,
                                                                 m_options.DataFolders);
        if (m_options.Prefetch)
            m_reader->prefetch();
    }

    EntrySource Kind() const override { return EntrySource::Package; }

    void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) override
    {
        const std::shared_ptr<const platform::PackageAppsSnapshot> data = m_reader->read();
        QString locale = m_options.Locale ? m_options.Locale() : LocaleOfLanguage(OVLanguageId());
        if (locale.isEmpty())
            locale = QLocale::system().name();

        QHash<QString, QStringList> namesOf; // package -> its applications' names
        std::vector<std::unique_ptr<TUninstItem>> apps;
        std::vector<qsizetype> places; // each application's place among its package's
        for (const platform::PackageAppRecord &app : data->apps) {
            const platform::PackageRecord &pkg = data->packages.at(data->byName.value(app.owner));
            auto item = makeItem(Manager, pkg);
            const QString name = platform::pickTranslation(app.names, locale);
            if (!name.isEmpty())
                item->DisplayName = name;
            item->Summary = platform::pickTranslation(app.summaries, locale);
            item->Comments = item->Summary.isEmpty() ? pkg.package.summary : item->Summary;
            if (!app.developer.isEmpty())
                item->Publisher = app.developer;
            if (!app.homepage.isEmpty())
                item->AboutLink = app.homepage;
            item->HelpLink = app.help;
            item->InstallLocation = app.location;
            if (!app.iconFile.isEmpty())
                item->SmallIconIndex = item->LargeIconIndex = Manager.IconIndexFor(app.iconFile);
            QStringList &names = namesOf[app.owner];
            places.push_back(names.size());
            names << item->DisplayName;
            apps.push_back(std::move(item));
        }
        for (size_t i = 0; i < apps.size(); ++i) {
            apps[i]->Siblings = namesOf.value(apps[i]->SourceId);
            apps[i]->Siblings.removeAt(places[i]);
            Entries.push_back(std::move(apps[i]));
        }
        // Packages without an application are parts of the system: listed only when asked for.
        if (!Manager.ShowSystemComponents())
            return;
        for (const platform::PackageRecord &pkg : data->packages) {
            if (namesOf.contains(pkg.package.qualifiedName()))
                continue;
            auto item = makeItem(Manager, pkg);
            item->SystemComponent = true;
            item->Summary = pkg.package.summary;
            item->Comments = pkg.package.summary;
            item->InstallLocation = pkg.location;
            Entries.push_back(std::move(item));
        }
    }

private:
    static std::unique_ptr<TUninstItem> makeItem(TUninstManager &manager, const platform::PackageRecord &pkg)
    {
        auto item = std::make_unique<TUninstItem>(&manager);
        const QString id = pkg.package.qualifiedName();
        item->Source = EntrySource::Package;
        item->SourceId = id;
        item->KeyName = id;
        item->DisplayName = pkg.package.name;
        item->Version = pkg.package.version;
        item->Publisher = maintainerName(pkg.package.maintainer);
        item->EstimatedSize = int(qBound(qint64(0), pkg.package.installedSizeKiB, qint64(0x7FFFFFFF)));
        item->InstallDate = dayCount(pkg.installTime);
        item->AboutLink = pkg.package.homepage;
        // What removes it, for reading: a removal goes through the package
        // manager's own checks, never by running this text.
        item->UninstallString = QStringLiteral("apt-get remove ") + id;
        item->SmallIconIndex = item->LargeIconIndex = manager.DefaultIconIndex();
        // The package manager would refuse these, or take the system apart with them.
        if (pkg.package.essential)
            item->NoUninstallReason = QStringLiteral("String.PackageEssential");
        else if (pkg.package.protectedPackage)
            item->NoUninstallReason = QStringLiteral("String.PackageProtected");
        else if (pkg.package.priority == u"required")
            item->NoUninstallReason = QStringLiteral("String.PackageRequired");
        return item;
    }

    PackageSourceOptions m_options;
    std::shared_ptr<platform::PackageAppsReader> m_reader;
};

} // namespace

std::unique_ptr<InstalledSource> MakePackageSource(PackageSourceOptions Options)
{
    return std::make_unique<PackageSource>(std::move(Options));
}

std::shared_ptr<platform::PackageAppsReader> MakeDefaultPackageReader()
{
    const PackageSourceOptions defaults;
    auto reader = std::make_shared<platform::PackageAppsReader>(
        defaults.StatusFile, QFileInfo(defaults.StatusFile).absolutePath() + QStringLiteral("/info"),
        defaults.DataFolders);
    reader->prefetch();
    return reader;
}

std::vector<std::unique_ptr<InstalledSource>>
MakeDefaultSources(std::function<quint16()> Language, std::shared_ptr<platform::PackageAppsReader> Packages)
{
    std::vector<std::unique_ptr<InstalledSource>> sources;
    sources.push_back(MakeRegistrySource());
    PackageSourceOptions packages;
    if (Language)
        packages.Locale = [Language] { return LocaleOfLanguage(Language()); };
    // The package database and the applications are read while the user is elsewhere.
    packages.Prefetch = true;
    packages.Reader = std::move(Packages);
    sources.push_back(MakePackageSource(std::move(packages)));
    sources.push_back(MakeFlatpakSource(
        Language ? std::function<QString()>([Language] { return LocaleOfLanguage(Language()); })
                 : std::function<QString()>()));
    sources.push_back(MakeWineSource());
    return sources;
}

} // namespace installed
