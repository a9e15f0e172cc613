#pragma once

// What the desktop knows about installed applications: AppStream metainfo
// files (read through libappstream), desktop entries and the icon theme.

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

// One AppStream component of type desktop application.
struct AppStreamApp
{
    QString id;
    // Translations by locale ("C" is the untranslated text, then "zh_CN", "de" ...).
    QHash<QString, QString> names;
    QHash<QString, QString> summaries;
    QString developer;
    QString icon; // a theme icon name or an absolute picture path; empty when none
    QString homepage;
    QString help;
    QStringList desktopIds; // launchable desktop entries ("org.example.App.desktop")
};

// Parses one metainfo file; nothing when it does not parse or holds no
// desktop application.
std::optional<AppStreamApp> readAppStreamFile(const QString &file);

// The XDG data folders, the user's first: $XDG_DATA_HOME (~/.local/share),
// then $XDG_DATA_DIRS (/usr/local/share:/usr/share).
QStringList xdgDataFolders();

// The text of a translated value for a locale ("zh_CN"): the locale itself,
// then its language ("zh"), then the untranslated text. byLocale maps
// locales to texts, the untranslated one under "C" or "".
QString pickTranslation(const QHash<QString, QString> &byLocale, const QString &locale);
// The same for a desktop entry's key: Name[zh_CN], Name[zh], Name.
QString desktopEntryValue(const QHash<QString, QString> &entry, const QString &key, const QString &locale);

// Resolves icon names to picture files in the icon themes below the data
// folders (hicolor first, then any other theme) and in pixmaps folders,
// preferring sizes near 48 pixels. An absolute path is taken when it exists.
// Results are kept until the theme folders change.
class IconThemeLookup
{
public:
    explicit IconThemeLookup(QStringList dataFolders = {});
    QString find(const QString &iconName);
    // Looks at the theme folders' stamps again (once per scan is enough);
    // true when they changed, so that earlier answers may be out of date.
    bool refresh();

private:
    void build();
    QStringList m_dataFolders;
    QStringList m_dirs; // candidate folders, best first
    QHash<QString, qint64> m_stamps;
    QHash<QString, QString> m_found;
    bool m_built = false;
};

} // namespace platform
