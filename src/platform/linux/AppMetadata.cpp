#include "platform/AppMetadata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// GLib headers use "signals" as a plain name; Qt makes it a keyword.
#pragma push_macro("signals")
#undef signals
#include <appstream.h>
#pragma pop_macro("signals")

namespace platform {

namespace {

QString fromUtf8(const gchar *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

QHash<QString, QString> tableOf(GHashTable *table)
{
    QHash<QString, QString> out;
    if (!table)
        return out;
    GHashTableIter it;
    gpointer key = nullptr, value = nullptr;
    g_hash_table_iter_init(&it, table);
    while (g_hash_table_iter_next(&it, &key, &value))
        out.insert(fromUtf8(static_cast<const gchar *>(key)), fromUtf8(static_cast<const gchar *>(value)));
    return out;
}

qint64 mtimeOf(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1;
}

} // namespace

std::optional<AppStreamApp> readAppStreamFile(const QString &file)
{
    AsMetadata *metadata = as_metadata_new();
    // Every translation is kept: the interface language can change without a new parse.
    as_metadata_set_locale(metadata, "ALL");
    as_metadata_set_format_style(metadata, AS_FORMAT_STYLE_METAINFO);
    GFile *gfile = g_file_new_for_path(QFile::encodeName(file).constData());
    GError *error = nullptr;
    std::optional<AppStreamApp> out;
    if (as_metadata_parse_file(metadata, gfile, AS_FORMAT_KIND_XML, &error)) {
        AsComponent *cpt = as_metadata_get_component(metadata);
        if (cpt && as_component_get_kind(cpt) == AS_COMPONENT_KIND_DESKTOP_APP) {
            AppStreamApp app;
            app.id = fromUtf8(as_component_get_id(cpt));
            app.names = tableOf(as_component_get_name_table(cpt));
            app.summaries = tableOf(as_component_get_summary_table(cpt));
            app.developer = fromUtf8(as_component_get_developer_name(cpt));
            app.homepage = fromUtf8(as_component_get_url(cpt, AS_URL_KIND_HOMEPAGE));
            app.help = fromUtf8(as_component_get_url(cpt, AS_URL_KIND_HELP));
            QString stock;
            GPtrArray *icons = as_component_get_icons(cpt);
            for (guint i = 0; icons && i < icons->len; ++i) {
                AsIcon *icon = static_cast<AsIcon *>(g_ptr_array_index(icons, i));
                if (as_icon_get_kind(icon) == AS_ICON_KIND_LOCAL && app.icon.isEmpty())
                    app.icon = fromUtf8(as_icon_get_filename(icon));
                else if (as_icon_get_kind(icon) == AS_ICON_KIND_STOCK && stock.isEmpty())
                    stock = fromUtf8(as_icon_get_name(icon));
            }
            if (app.icon.isEmpty())
                app.icon = stock;
            if (AsLaunchable *launch = as_component_get_launchable(cpt, AS_LAUNCHABLE_KIND_DESKTOP_ID)) {
                GPtrArray *entries = as_launchable_get_entries(launch);
                for (guint i = 0; entries && i < entries->len; ++i)
                    app.desktopIds << fromUtf8(static_cast<const gchar *>(g_ptr_array_index(entries, i)));
            }
            // Older files name the desktop entry by their id.
            if (app.desktopIds.isEmpty() && app.id.endsWith(QLatin1String(".desktop")))
                app.desktopIds << app.id;
            out = std::move(app);
        }
    }
    if (error)
        g_error_free(error);
    g_object_unref(gfile);
    g_object_unref(metadata);
    return out;
}

QStringList xdgDataFolders()
{
    QStringList folders;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    folders << QDir::cleanPath(home);
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString clean = QDir::cleanPath(dir);
        if (!folders.contains(clean))
            folders << clean;
    }
    return folders;
}

QString pickTranslation(const QHash<QString, QString> &byLocale, const QString &locale)
{
    if (!locale.isEmpty()) {
        auto it = byLocale.constFind(locale);
        if (it != byLocale.constEnd() && !it->isEmpty())
            return *it;
        const QString language = locale.section(QLatin1Char('_'), 0, 0);
        it = byLocale.constFind(language);
        if (it != byLocale.constEnd() && !it->isEmpty())
            return *it;
    }
    const QString c = byLocale.value(QStringLiteral("C"));
    return c.isEmpty() ? byLocale.value(QString()) : c;
}

QString desktopEntryValue(const QHash<QString, QString> &entry, const QString &key, const QString &locale)
{
    if (!locale.isEmpty()) {
        const QString exact = entry.value(key + u'[' + locale + u']');
        if (!exact.isEmpty())
            return exact;
        const QString language = entry.value(key + u'[' + locale.section(QLatin1Char('_'), 0, 0) + u']');
        if (!language.isEmpty())
            return language;
    }
    return entry.value(key);
}

IconThemeLookup::IconThemeLookup(QStringList dataFolders)
    : m_dataFolders(dataFolders.isEmpty() ? xdgDataFolders() : std::move(dataFolders))
{ }

bool IconThemeLookup::refresh()
{
    if (!m_built)
        return false;
    for (auto it = m_stamps.constBegin(); it != m_stamps.constEnd(); ++it)
        if (mtimeOf(it.key()) != it.value()) {
            m_built = false;
            return true;
        }
    return false;
}

void IconThemeLookup::build()
{
    m_dirs.clear();
    m_found.clear();
    m_stamps.clear();
    // How near a size folder is to 48 pixels; scalable pictures count as good as 48.
    auto rank = [](const QString &sizeDir) {
        if (sizeDir.startsWith(QLatin1String("scalable")))
            return 1;
        const int n = sizeDir.section(QLatin1Char('x'), 0, 0).section(QLatin1Char('@'), 0, 0).toInt();
        if (n <= 0)
            return 500;
        return n >= 48 ? (n - 48) / 8 + 1 : (48 - n) / 4 + 2;
    };
    QStringList homeBases;
    for (const QString &data : m_dataFolders)
        homeBases << data + QStringLiteral("/icons");
    homeBases.insert(1, QDir::homePath() + QStringLiteral("/.icons"));
    for (const QString &theme : {QStringLiteral("hicolor"), QString()}) {
        for (const QString &base : homeBases) {
            m_stamps.insert(base, mtimeOf(base));
            QStringList themes;
            if (!theme.isEmpty())
                themes << theme;
            else
                for (const QString &t : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                    if (t != QLatin1String("hicolor"))
                        themes << t;
            for (const QString &t : themes) {
                const QString themeDir = base + u'/' + t;
                QList<std::pair<int, QString>> ranked;
                // Both layouts: <size>/apps (hicolor) and apps/<size> (some themes).
                for (const QString &size : QDir(themeDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                    if (QFileInfo::exists(themeDir + u'/' + size + QStringLiteral("/apps")))
                        ranked.append({rank(size), themeDir + u'/' + size + QStringLiteral("/apps")});
                    else if (size == QLatin1String("apps"))
                        for (const QString &s : QDir(themeDir + QStringLiteral("/apps"))
                                                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                            ranked.append({rank(s), themeDir + QStringLiteral("/apps/") + s});
                }
                std::stable_sort(ranked.begin(), ranked.end(),
                                 [](const auto &a, const auto &b) { return a.first < b.first; });
                for (const auto &r : ranked)
                    m_dirs << r.second;
            }
        }
    }
    for (const QString &data : m_dataFolders)
        m_dirs << data + QStringLiteral("/pixmaps");
    // One listing of each folder, best folder first: a look-up is then one hash search.
    for (const QString &dir : std::as_const(m_dirs)) {
        m_stamps.insert(dir, mtimeOf(dir));
        for (const QString &file : QDir(dir).entryList(
                 {QStringLiteral("*.png"), QStringLiteral("*.svg"), QStringLiteral("*.xpm")}, QDir::Files)) {
            const QString path = dir + u'/' + file;
            if (!m_found.contains(file.chopped(4)))
                m_found.insert(file.chopped(4), path);
            if (!m_found.contains(QStringLiteral("\n") + file))
                m_found.insert(QStringLiteral("\n") + file, path);
        }
    }
    m_built = true;
}

QString IconThemeLookup::find(const QString &iconName)
{
    if (iconName.isEmpty())
        return {};
    if (iconName.startsWith(u'/'))
        return QFileInfo(iconName).isFile() ? iconName : QString();
    if (iconName.contains(u'/'))
        return {};
    if (!m_built)
        build();
    // A name may carry its extension already ("app.png").
    QString found = m_found.value(iconName);
    if (found.isEmpty() && iconName.size() > 4 && iconName.at(iconName.size() - 4) == u'.')
        found = m_found.value(QStringLiteral("\n") + iconName);
    return found;
}

} // namespace platform
