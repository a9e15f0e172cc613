#pragma once

// The store's catalogue: the programs the site recommends, sells and serves
// installers for, read from catalogue.json with their icons.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace orvane::site {

// The languages the store speaks; English unless a client asks for Chinese.
enum class Language { English, Chinese };

// The language for a client's language id (an LCID): Simplified Chinese for
// 2052, English for every other.
Language LanguageForLcid(uint Lcid);
// The language a page address asks for in its "lang" parameter: an LCID
// ("2052") or a language tag ("zh-CN", "zh-Hans", "zh"); English otherwise.
Language LanguageForParam(const QString &Value);
// The query text that asks a page for Language ("lang=2052"); empty for English.
QString LanguageQuery(Language Lang);
// Url with LanguageQuery(Lang) added to its query, before any fragment.
QString WithLanguage(const QString &Url, Language Lang);

struct Program
{
    QString Id; // lower-case letters, digits and '-': anchors, file names, registry key
    QString Title;
    QString Category; // one of Categories()
    int Rank = 0; // 1 is the most recommended
    QString Version;
    QString Publisher;
    QString Description;
    QStringList Keywords; // words matched against the name of an installed program
    bool Freeware = false;
    QString Price; // paid programs: the price in dollars, as shown
    QString PurchasePath; // paid programs: the purchase page, a path on this site
    bool Downloadable = true; // a paid program without a trial only has a purchase page
    QString Icon; // file name under /icons/
    QByteArray IconBytes;
    QString IconType; // its content type, from the picture's own first bytes
    QString Installer; // file name under /files/; empty when not downloadable
    qint64 InstallerSize = 0; // bytes, the same for every client
    // The Windows installer built for the program (NSIS), served under
    // /files/windows/; empty name when there is none.
    QString WindowsInstaller;
    QByteArray WindowsInstallerBytes;
    QString WindowsSha256; // of WindowsInstallerBytes, lower-case hexadecimal
    QString TitleZh; // Simplified Chinese texts; empty when the catalogue has none
    QString DescriptionZh;

    // The texts in Lang, the English ones where the catalogue has no translation.
    QString TitleIn(Language Lang) const;
    QString DescriptionIn(Language Lang) const;
};

// The categories in the order the store shows them.
const QStringList &Categories();
// The category's name as shown ("development" -> "Development", "开发").
QString CategoryTitle(const QString &Category, Language Lang = Language::English);

// The content type of a PNG, JPEG, GIF or BMP picture from its first bytes;
// empty for anything else.
QString PictureType(const QByteArray &Bytes);

// Reads Dir/catalogue.json and the icons under Dir/icons/ into Programs,
// sorted by rank. False with Error set when anything is missing, malformed,
// duplicated or unsafe to use in a path, a page or a script.
bool LoadCatalogue(const QString &Dir, QVector<Program> &Programs, QString &Error);

} // namespace orvane::site
