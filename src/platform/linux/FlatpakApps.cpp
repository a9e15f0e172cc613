#include "platform/FlatpakApps.h"

#include "platform/DesktopIcons.h"

// Compiled with QT_NO_KEYWORDS: GLib's headers use "signals" as a name.
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <appstream.h>
#include <flatpak.h>

namespace platform {

namespace {

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// What the application's own metainfo file says, in the wanted language.
void readMetainfo(FlatpakApp &app, const QString &Locale)
{
    const QString share = app.DeployDir + QStringLiteral("/files/share/");
    const QStringList candidates = {
        share + QStringLiteral("metainfo/") + app.Id + QStringLiteral(".metainfo.xml"),
        share + QStringLiteral("metainfo/") + app.Id + QStringLiteral(".appdata.xml"),
        share + QStringLiteral("appdata/") + app.Id + QStringLiteral(".appdata.xml"),
    };
    for (const QString &path : candidates) {
        if (!QFileInfo(path).isFile())
            continue;
        g_autoptr(AsMetadata) metadata = as_metadata_new();
        if (!Locale.isEmpty())
            as_metadata_set_locale(metadata, Locale.toUtf8().constData());
        g_autoptr(GFile) file = g_file_new_for_path(QFile::encodeName(path).constData());
        g_autoptr(GError) error = nullptr;
        if (!as_metadata_parse_file(metadata, file, AS_FORMAT_KIND_XML, &error))
            continue;
        AsComponent *component = as_metadata_get_component(metadata);
        if (!component)
            continue;
        app.Name = fromUtf8(as_component_get_name(component)).trimmed();
        app.Summary = fromUtf8(as_component_get_summary(component)).trimmed();
        app.Developer = fromUtf8(as_component_get_developer_name(component)).trimmed();
        app.Homepage = fromUtf8(as_component_get_url(component, AS_URL_KIND_HOMEPAGE));
        app.HelpLink = fromUtf8(as_component_get_url(component, AS_URL_KIND_HELP));
        // The version of the newest release (files list them in any order).
        GPtrArray *releases = as_component_get_releases(component);
        guint64 newest = 0;
        for (guint i = 0; releases && i < releases->len; ++i) {
            auto *release = AS_RELEASE(g_ptr_array_index(releases, i));
            if (app.Version.isEmpty() || as_release_get_timestamp(release) > newest) {
                newest = as_release_get_timestamp(release);
                app.Version = fromUtf8(as_release_get_version(release));
            }
        }
        return;
    }
}

// A localised key of a desktop entry: "Name[zh_CN]", "Name[zh]", then "Name".
QString localised(const QHash<QString, QString> &entry, const QString &key, const QString &Locale)
{
    if (!Locale.isEmpty()) {
        const QString exact = entry.value(key + u'[' + Locale + u']');
        if (!exact.isEmpty())
            return exact;
        const QString language = Locale.section(u'_', 0, 0);
        const QString general = entry.value(key + u'[' + language + u']');
        if (!general.isEmpty())
            return general;
    }
    return entry.value(key);
}

// Without metainfo, the application's own desktop entry names it.
void readDesktopEntryOf(FlatpakApp &app, const QString &Locale)
{
    const QHash<QString, QString> entry = readDesktopEntry(
        app.DeployDir + QStringLiteral("/export/share/applications/") + app.Id + QStringLiteral(".desktop"));
    if (app.Name.isEmpty())
        app.Name = localised(entry, QStringLiteral("Name"), Locale);
    if (app.Summary.isEmpty())
        app.Summary = localised(entry, QStringLiteral("Comment"), Locale);
}

// The exported icon with the most pixels; a scalable one wins.
QString findIcon(const QString &DeployDir, const QString &Id)
{
    const QString base = DeployDir + QStringLiteral("/export/share/icons/hicolor/");
    const QString scalable = base + QStringLiteral("scalable/apps/") + Id + QStringLiteral(".svg");
    if (QFileInfo(scalable).isFile())
        return scalable;
    QString best;
    int bestSize = 0;
    const QStringList sizes = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &size : sizes) {
        // Folders are named <n>x<n>, possibly with a scale suffix ("@2").
        const int pixels = size.section(u'x', 0, 0).toInt();
        if (pixels <= bestSize)
            continue;
        const QString png = base + size + QStringLiteral("/apps/") + Id + QStringLiteral(".png");
        if (QFileInfo(png).isFile()) {
            best = png;
            bestSize = pixels;
        }
    }
    return best;
}

// A deployed commit never changes, so what was read from it once is kept: a
// rescan parses no metainfo again.
struct AppData
{
    QString Name, Summary, Version, Developer, Homepage, HelpLink, IconFile;
};

QMutex cacheLock;
QHash<QString, AppData> cache; // deploy folder, commit and locale

QString cacheKey(const FlatpakApp &app, const QString &Commit, const QString &Locale)
{
    return app.DeployDir + u'\n' + Commit + u'\n' + Locale;
}

bool cachedData(FlatpakApp &app, const QString &Key)
{
    const QMutexLocker lock(&cacheLock);
    const auto it = cache.constFind(Key);
    if (it == cache.constEnd())
        return false;
    app.Name = it->Name;
    app.Summary = it->Summary;
    app.Version = it->Version;
    app.Developer = it->Developer;
    app.Homepage = it->Homepage;
    app.HelpLink = it->HelpLink;
    app.IconFile = it->IconFile;
    return true;
}

void cacheData(const FlatpakApp &app, const QString &Key)
{
    const QMutexLocker lock(&cacheLock);
    cache.insert(Key,
                 AppData {app.Name, app.Summary, app.Version, app.Developer, app.Homepage, app.HelpLink,
                          app.IconFile});
}

void listInstallation(FlatpakInstallation *installation, const QString &Locale, std::vector<FlatpakApp> &out)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GPtrArray) refs = flatpak_installation_list_installed_refs_by_kind(
        installation, FLATPAK_REF_KIND_APP, nullptr, &error);
    if (!refs)
        return;
    const bool user = flatpak_installation_get_is_user(installation);
    const QString id = user ? QStringLiteral("user") : fromUtf8(flatpak_installation_get_id(installation));
    const QString displayName = fromUtf8(flatpak_installation_get_display_name(installation));
    for (guint i = 0; i < refs->len; ++i) {
        auto *installed = FLATPAK_INSTALLED_REF(g_ptr_array_index(refs, i));
        auto *ref = FLATPAK_REF(installed);
        FlatpakApp app;
        g_autofree char *full = flatpak_ref_format_ref(ref);
        app.Ref = fromUtf8(full);
        app.Id = fromUtf8(flatpak_ref_get_name(ref));
        app.Arch = fromUtf8(flatpak_ref_get_arch(ref));
        app.Branch = fromUtf8(flatpak_ref_get_branch(ref));
        app.Origin = fromUtf8(flatpak_installed_ref_get_origin(installed));
        app.User = user;
        app.Installation = id;
        app.InstallationName = displayName;
        app.DeployDir = QFile::decodeName(flatpak_installed_ref_get_deploy_dir(installed));
        app.InstalledSize = flatpak_installed_ref_get_installed_size(installed);
        const QFileInfo deploy(app.DeployDir);
        if (deploy.exists())
            app.DeployedAt = deploy.lastModified().toSecsSinceEpoch();
        const QString key = cacheKey(app, fromUtf8(flatpak_ref_get_commit(ref)), Locale);
        if (!cachedData(app, key)) {
            readMetainfo(app, Locale);
            // What Flatpak kept of the application's data when it deployed it.
            if (app.Name.isEmpty())
                app.Name = fromUtf8(flatpak_installed_ref_get_appdata_name(installed)).trimmed();
            if (app.Summary.isEmpty())
                app.Summary = fromUtf8(flatpak_installed_ref_get_appdata_summary(installed)).trimmed();
            if (app.Version.isEmpty())
                app.Version = fromUtf8(flatpak_installed_ref_get_appdata_version(installed)).trimmed();
            readDesktopEntryOf(app, Locale);
            app.IconFile = findIcon(app.DeployDir, app.Id);
            cacheData(app, key);
        }
        out.push_back(std::move(app));
    }
}

} // namespace

std::vector<FlatpakApp> ListFlatpakApps(const QString &Locale)
{
    std::vector<FlatpakApp> out;
    {
        g_autoptr(GError) error = nullptr;
        g_autoptr(GPtrArray) systems = flatpak_get_system_installations(nullptr, &error);
        if (systems)
            for (guint i = 0; i < systems->len; ++i)
                listInstallation(FLATPAK_INSTALLATION(g_ptr_array_index(systems, i)), Locale, out);
    }
    g_autoptr(GError) error = nullptr;
    g_autoptr(FlatpakInstallation) user = flatpak_installation_new_user(nullptr, &error);
    if (user)
        listInstallation(user, Locale, out);
    return out;
}

} // namespace platform
