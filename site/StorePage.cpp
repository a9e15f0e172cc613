#include "StorePage.h"

#include <QMap>
#include <algorithm>

namespace orvane::site {

namespace {

QString Esc(const QString &Text)
{
    return Text.toHtmlEscaped();
}

// Replaces every {{NAME}} of Template in one pass, so that filled-in text is
// never searched again; unknown names stay as they are.
QByteArray Fill(const QByteArray &Template, const QMap<QByteArray, QString> &Values)
{
    QByteArray Out;
    Out.reserve(Template.size());
    qsizetype Pos = 0;
    while (true) {
        const qsizetype Open = Template.indexOf("{{", Pos);
        const qsizetype Close = Open < 0 ? -1 : Template.indexOf("}}", Open + 2);
        if (Close < 0)
            break;
        const QByteArray Name = Template.mid(Open + 2, Close - Open - 2);
        Out += Template.mid(Pos, Open - Pos);
        const auto It = Values.find(Name);
        Out += It == Values.end() ? Template.mid(Open, Close + 2 - Open) : It->toUtf8();
        Pos = Close + 2;
    }
    Out += Template.mid(Pos);
    return Out;
}

QString IconUrl(const Program &P, const QString &Base)
{
    return Base + "/icons/" + P.Icon;
}

QString DownloadButton(const Program &P, const QString &Base, const QString &Label)
{
    return QStringLiteral("<button class=\"get\" type=\"button\" data-title=\"%1\" data-url=\"%2\" "
                          "title=\"Download and install %1\">%3</button>")
        .arg(Esc(P.Title), Esc(Base + "/files/" + P.Installer), Label);
}

QString Item(const Program &P, const QString &Base)
{
    QStringList Search {P.Title, P.Description, P.Category, P.Publisher};
    Search += P.Keywords;
    QString Actions;
    if (P.Freeware) {
        Actions = DownloadButton(P, Base, QStringLiteral("Download"));
    } else {
        const QString Buy = Esc(Base + P.PurchasePath);
        if (P.Downloadable)
            Actions = DownloadButton(P, Base, QStringLiteral("Try free"))
                + QStringLiteral("<a class=\"buy\" href=\"%1\">Buy</a>").arg(Buy);
        else
            Actions = QStringLiteral("<a class=\"buy solid\" href=\"%1\">Buy now</a>").arg(Buy);
    }
    QStringList Meta {CategoryTitle(P.Category), "v" + P.Version, P.Publisher};
    if (P.Downloadable)
        Meta << SizeText(P.InstallerSize);
    return QStringLiteral("<li class=\"app\" id=\"%1\" data-cat=\"%2\" data-kind=\"%3\" data-text=\"%4\">"
                          "<span class=\"rank\">%5</span>"
                          "<img class=\"icon\" src=\"%6\" width=\"40\" height=\"40\" alt=\"\">"
                          "<div class=\"info\"><div class=\"name\">%7<span class=\"badge %8\">%9</span></div>"
                          "<div class=\"desc\">%10</div><div class=\"meta\">%11</div></div>"
                          "<div class=\"act\">%12</div></li>\n")
        .arg(Esc(P.Id), Esc(P.Category), QString(P.Freeware ? "free" : "pay"),
             Esc(Search.join(' ').toLower()), QString::number(P.Rank), Esc(IconUrl(P, Base)), Esc(P.Title),
             QString(P.Freeware ? "free" : "paid"), P.Freeware ? QString("Free") : "$" + P.Price,
             Esc(P.Description), Esc(Meta.join(QStringLiteral(" \u00b7 "))), Actions);
}

} // namespace

QString SizeText(qint64 Bytes)
{
    if (Bytes < 1024 * 1024)
        return QString::number((Bytes + 1023) / 1024) + " KB";
    return QString::number(double(Bytes) / (1024 * 1024), 'f', 1) + " MB";
}

QByteArray StorePage(const QByteArray &Template, const QVector<Program> &Programs, const QString &Base,
                     const QString &Kind, const QString &Category)
{
    const QString StartKind = (Kind == "free" || Kind == "pay") ? Kind : QStringLiteral("all");
    const QString StartCategory = Categories().contains(Category) ? Category : QStringLiteral("all");
    auto NavButton = [&](const QString &Cat, const QString &Title, qsizetype Count) {
        return QStringLiteral(
                   "<button type=\"button\" data-cat=\"%1\"%2>%3<span class=\"n\">%4</span></button>\n")
            .arg(Cat, QString(Cat == StartCategory ? " class=\"on\"" : ""), Title, QString::number(Count));
    };
    QString Nav = NavButton("all", "All programs", Programs.size());
    for (const QString &Cat : Categories()) {
        const auto Count = std::count_if(Programs.begin(), Programs.end(),
                                         [&](const Program &P) { return P.Category == Cat; });
        Nav += NavButton(Cat, CategoryTitle(Cat), Count);
    }
    QString Items;
    for (const Program &P : Programs)
        Items += Item(P, Base);

    return Fill(Template,
                {{"CATEGORIES", Nav},
                 {"ITEMS", Items},
                 {"KIND", StartKind},
                 {"CATEGORY", StartCategory},
                 {"COUNT", QString::number(Programs.size())},
                 {"BASE", Esc(Base)}});
}

QByteArray PurchasePage(const QByteArray &Template, const Program &P, const QString &Base)
{
    return Fill(Template,
                {{"TRIAL", P.Downloadable ? DownloadButton(P, Base, "Download the free trial") : ""},
                 {"ID", Esc(P.Id)},
                 {"TITLE", Esc(P.Title)},
                 {"VERSION", Esc(P.Version)},
                 {"PUBLISHER", Esc(P.Publisher)},
                 {"DESCRIPTION", Esc(P.Description)},
                 {"PRICE", Esc(P.Price)},
                 {"ICON_URL", Esc(IconUrl(P, Base))},
                 {"BASE", Esc(Base)}});
}

} // namespace orvane::site
