#include "Catalogue.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace orvane::site {

namespace {

bool Matches(const char *Pattern, const QString &Text)
{
    return QRegularExpression(QString::fromLatin1(Pattern)).match(Text).hasMatch();
}

// Text that goes into pages, answers, scripts and menu entries: no control
// characters and no backslash (which menu entries and shells would read as
// an escape), within a length that keeps pages and panels tidy.
bool PlainText(const QString &Text, int MaxLength)
{
    if (Text.trimmed().isEmpty() || Text.size() > MaxLength)
        return false;
    return std::none_of(Text.begin(), Text.end(), [](QChar C) {
        return C.category() == QChar::Other_Control || C == '\\' || C == QChar::LineSeparator
            || C == QChar::ParagraphSeparator;
    });
}

bool ReadFile(const QString &Path, QByteArray &Bytes, qint64 MaxSize)
{
    QFile F(Path);
    if (!F.open(QIODevice::ReadOnly) || F.size() > MaxSize)
        return false;
    Bytes = F.readAll();
    return true;
}

QString Extension(const QString &Name)
{
    return Name.mid(Name.lastIndexOf('.') + 1).toLower();
}

} // namespace

const QStringList &Categories()
{
    static const QStringList List {"office", "media",       "internet", "security",
                                   "system", "development", "graphics", "games"};
    return List;
}

QString CategoryTitle(const QString &Category, Language Lang)
{
    if (Lang == Language::Chinese) {
        static const QMap<QString, QString> Chinese {
            {"office", QStringLiteral("办公")},       {"media", QStringLiteral("影音")},
            {"internet", QStringLiteral("网络")},     {"security", QStringLiteral("安全")},
            {"system", QStringLiteral("系统工具")},   {"development", QStringLiteral("开发")},
            {"graphics", QStringLiteral("图形图像")}, {"games", QStringLiteral("游戏")},
        };
        if (const auto It = Chinese.find(Category); It != Chinese.end())
            return *It;
    }
    return Category.isEmpty() ? Category : Category.left(1).toUpper() + Category.mid(1);
}

Language LanguageForLcid(uint Lcid)
{
    return Lcid == 2052 ? Language::Chinese : Language::English;
}

Language LanguageForParam(const QString &Value)
{
    const QString V = Value.trimmed().toLower();
    if (V == "zh" || V == "zh-cn" || V == "zh-hans" || V == "zh-hans-cn")
        return Language::Chinese;
    bool Ok = false;
    const uint Lcid = V.toUInt(&Ok);
    return Ok ? LanguageForLcid(Lcid) : Language::English;
}

QString LanguageQuery(Language Lang)
{
    return Lang == Language::Chinese ? QStringLiteral("lang=2052") : QString();
}

QString WithLanguage(const QString &Url, Language Lang)
{
    const QString Query = LanguageQuery(Lang);
    if (Query.isEmpty())
        return Url;
    const qsizetype Hash = Url.indexOf('#');
    const QString Address = Hash < 0 ? Url : Url.left(Hash);
    const QString Fragment = Hash < 0 ? QString() : Url.mid(Hash);
    return Address + (Address.contains('?') ? '&' : '?') + Query + Fragment;
}

QString Program::TitleIn(Language Lang) const
{
    return Lang == Language::Chinese && !TitleZh.isEmpty() ? TitleZh : Title;
}

QString Program::DescriptionIn(Language Lang) const
{
    return Lang == Language::Chinese && !DescriptionZh.isEmpty() ? DescriptionZh : Description;
}

QString PictureType(const QByteArray &Bytes)
{
    if (Bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("image/png");
    if (Bytes.startsWith("\xff\xd8"))
        return QStringLiteral("image/jpeg");
    if (Bytes.startsWith("GIF87a") || Bytes.startsWith("GIF89a"))
        return QStringLiteral("image/gif");
    if (Bytes.startsWith("BM") && Bytes.size() > 54)
        return QStringLiteral("image/bmp");
    return {};
}

bool LoadCatalogue(const QString &Root, QVector<Program> &Programs, QString &Error)
{
    const QString Dir = Root.endsWith('/') ? Root : Root + '/';
    QByteArray Bytes;
    if (!ReadFile(Dir + "catalogue.json", Bytes, 4 * 1024 * 1024)) {
        Error = "cannot read " + Dir + "catalogue.json";
        return false;
    }
    QJsonParseError ParseError;
    const QJsonDocument Doc = QJsonDocument::fromJson(Bytes, &ParseError);
    if (!Doc.isObject() || !Doc.object().value("programs").isArray()) {
        Error = "catalogue.json: no \"programs\" array (" + ParseError.errorString() + ")";
        return false;
    }
    QVector<Program> Result;
    QSet<QString> Ids, Installers;
    QSet<int> Ranks;
    for (const QJsonValue &V : Doc.object().value("programs").toArray()) {
        const QJsonObject O = V.toObject();
        Program P;
        P.Id = O.value("id").toString();
        auto Bad = [&](const QString &Why) {
            Error = "catalogue.json: entry \"" + P.Id + "\": " + Why;
            return false;
        };
        if (!Matches("^[a-z0-9]+(-[a-z0-9]+)*$", P.Id) || P.Id.size() > 40)
            return Bad("the id must be lower-case letters, digits and single hyphens");
        if (Ids.contains(P.Id))
            return Bad("the id is used twice");
        P.Title = O.value("title").toString();
        P.Category = O.value("category").toString();
        P.Rank = O.value("rank").toInt(0);
        P.Version = O.value("version").toString();
        P.Publisher = O.value("publisher").toString();
        P.Description = O.value("description").toString();
        if (!PlainText(P.Title, 60) || !PlainText(P.Publisher, 60) || !PlainText(P.Description, 200))
            return Bad("title, publisher and description must be short plain texts");
        // Chinese texts are optional: a program without them shows its English ones.
        if (O.contains("zh")) {
            const QJsonObject Zh = O.value("zh").toObject();
            P.TitleZh = Zh.value("title").toString();
            P.DescriptionZh = Zh.value("description").toString();
            if (!O.value("zh").isObject() || !PlainText(P.TitleZh, 60) || !PlainText(P.DescriptionZh, 200))
                return Bad("\"zh\" must hold a short plain title and description");
        }
        if (!Categories().contains(P.Category))
            return Bad("unknown category \"" + P.Category + "\"");
        if (P.Rank < 1 || Ranks.contains(P.Rank))
            return Bad("the rank must be a positive number that no other entry has");
        if (!Matches("^[0-9A-Za-z][0-9A-Za-z.+-]{0,19}$", P.Version))
            return Bad("the version must be letters, digits, '.', '+' and '-'");
        for (const QJsonValue &K : O.value("keywords").toArray()) {
            if (!PlainText(K.toString(), 40))
                return Bad("keywords must be short plain texts");
            P.Keywords << K.toString();
        }
        if (!O.value("freeware").isBool())
            return Bad("\"freeware\" must be true or false");
        P.Freeware = O.value("freeware").toBool();
        P.Downloadable = O.value("download").toBool(true);
        if (P.Freeware) {
            if (!P.Downloadable || O.contains("price") || O.contains("purchase"))
                return Bad("a free program has a download and no price");
        } else {
            P.Price = O.value("price").toString();
            P.PurchasePath = O.value("purchase").toString();
            if (!Matches("^[0-9]{1,4}\\.[0-9]{2}$", P.Price))
                return Bad("a paid program needs a price like \"19.95\"");
            if (!Matches("^/[A-Za-z0-9/._?=&-]*$", P.PurchasePath))
                return Bad("a paid program needs a purchase page path on this site");
        }
        P.Icon = O.value("icon").toString();
        static const QStringList IconTypes {"png", "jpg", "jpeg", "gif", "bmp"};
        if (!Matches("^[a-z0-9-]+\\.[a-z]+$", P.Icon) || !IconTypes.contains(Extension(P.Icon)))
            return Bad("the icon must be a PNG, JPEG, GIF or BMP file name");
        if (!ReadFile(Dir + "icons/" + P.Icon, P.IconBytes, 64 * 1024))
            return Bad("cannot read icons/" + P.Icon + " (or it is larger than 64 KiB)");
        P.IconType = PictureType(P.IconBytes);
        const QString Ext = Extension(P.Icon);
        if (P.IconType.isEmpty() || !P.IconType.endsWith(Ext == "jpg" ? QStringLiteral("jpeg") : Ext))
            return Bad("icons/" + P.Icon + " is not the picture its name says");
        P.Installer = O.value("installer").toString();
        if (P.Downloadable) {
            if (!Matches("^[a-z0-9-]+\\.exe$", P.Installer) || Installers.contains(P.Installer))
                return Bad("a downloadable program needs an installer name of its own ending in .exe");
            Installers.insert(P.Installer);
        } else if (!P.Installer.isEmpty()) {
            return Bad("a program without a download has no installer");
        }
        Ids.insert(P.Id);
        Ranks.insert(P.Rank);
        Result.append(P);
    }
    if (Result.isEmpty()) {
        Error = "catalogue.json lists no programs";
        return false;
    }
    std::sort(Result.begin(), Result.end(),
              [](const Program &A, const Program &B) { return A.Rank < B.Rank; });
    Programs = Result;
    return true;
}

} // namespace orvane::site
