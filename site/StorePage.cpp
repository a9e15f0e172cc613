#include "StorePage.h"

#include <QJsonDocument>
#include <QJsonObject>
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

// The pages' own texts in one language; %1 and %2 stand for what is filled in.
struct PageTexts
{
    QString HtmlLang;
    QString StoreTitle, StoreTag, Search /* %1 count */, SearchLabel, PriceLabel, KindAll, KindFree, KindPaid;
    QString CategoriesLabel, AllPrograms, Home, Help, Top, CountOne, CountMany /* %1 count */, Empty, ShowAll;
    QString Note, Free, Download, DownloadHint /* %1 title */, TryFree, Buy, BuyNow;
    QString BuyTitle /* %1 title */, Version /* %1 version */, Licence, Notice, Back, Trial;
    // What the page's script writes as the visitor filters: headings by price
    // ("all", "free", "pay"), alone and within a category (%1), search results
    // (%1 the search) alone and within a category (%2), and the mark of a
    // program handed to the program.
    QJsonObject Script;
};

const PageTexts &Texts(Language Lang)
{
    static const PageTexts English {
        "en",
        "Halvex Store - Recommended software",
        "Store",
        "Search %1 programs",
        "Search programs",
        "Price",
        "All",
        "Free",
        "Paid",
        "Categories",
        "All programs",
        "Home",
        "Help",
        "Top programs",
        "%1 program",
        "%1 programs",
        "No program matches your search.",
        "Show all programs",
        QStringLiteral(
            "Halvex Software \u00b7 demonstration store: prices are examples and nothing is charged."),
        "Free",
        "Download",
        "Download and install %1",
        "Try free",
        "Buy",
        "Buy now",
        "Buy %1 - Halvex Store",
        "Version %1",
        "one licence, all updates for a year",
        "This is a demonstration store: no order is taken and nothing is charged.",
        "Back to the store",
        "Download the free trial",
        QJsonObject {
            {"top",
             QJsonObject {
                 {"all", "Top programs"}, {"free", "Top free programs"}, {"pay", "Top paid programs"}}},
            {"topIn",
             QJsonObject {{"all", "Top programs in %1"},
                          {"free", "Top free programs in %1"},
                          {"pay", "Top paid programs in %1"}}},
            {"results", QStringLiteral("Results for \u201c%1\u201d")},
            {"resultsIn", QStringLiteral("Results for \u201c%1\u201d in %2")},
            {"one", "%1 program"},
            {"many", "%1 programs"},
            {"added", QStringLiteral("\u2713 Added")},
        },
    };
    static const PageTexts Chinese {
        "zh-CN",
        QStringLiteral("Halvex 软件商店 - 推荐软件"),
        QStringLiteral("软件商店"),
        QStringLiteral("在 %1 款软件中搜索"),
        QStringLiteral("搜索软件"),
        QStringLiteral("价格"),
        QStringLiteral("全部"),
        QStringLiteral("免费"),
        QStringLiteral("付费"),
        QStringLiteral("分类"),
        QStringLiteral("全部软件"),
        QStringLiteral("首页"),
        QStringLiteral("帮助"),
        QStringLiteral("热门软件"),
        QStringLiteral("%1 款软件"),
        QStringLiteral("%1 款软件"),
        QStringLiteral("没有找到符合条件的软件。"),
        QStringLiteral("显示全部软件"),
        QStringLiteral("Halvex Software \u00b7 演示商店：价格仅为示例，不会收取任何费用。"),
        QStringLiteral("免费"),
        QStringLiteral("下载"),
        QStringLiteral("下载并安装 %1"),
        QStringLiteral("免费试用"),
        QStringLiteral("购买"),
        QStringLiteral("立即购买"),
        QStringLiteral("购买 %1 - Halvex 软件商店"),
        QStringLiteral("版本 %1"),
        QStringLiteral("单份许可证，含一年内的全部更新"),
        QStringLiteral("这是一个演示商店：不接受订单，也不会收取任何费用。"),
        QStringLiteral("返回商店"),
        QStringLiteral("下载免费试用版"),
        QJsonObject {
            {"top",
             QJsonObject {{"all", QStringLiteral("热门软件")},
                          {"free", QStringLiteral("热门免费软件")},
                          {"pay", QStringLiteral("热门付费软件")}}},
            {"topIn",
             QJsonObject {{"all", QStringLiteral("%1类热门软件")},
                          {"free", QStringLiteral("%1类热门免费软件")},
                          {"pay", QStringLiteral("%1类热门付费软件")}}},
            {"results", QStringLiteral("\u201c%1\u201d的搜索结果")},
            {"resultsIn", QStringLiteral("%2类中\u201c%1\u201d的搜索结果")},
            {"one", QStringLiteral("%1 款软件")},
            {"many", QStringLiteral("%1 款软件")},
            {"added", QStringLiteral("\u2713 已添加")},
        },
    };
    return Lang == Language::Chinese ? Chinese : English;
}

// A JSON object to place inside a script element: nothing in it may end the element.
QString ScriptJson(const QJsonObject &Object)
{
    return QString::fromUtf8(QJsonDocument(Object).toJson(QJsonDocument::Compact))
        .replace(QStringLiteral("</"), QStringLiteral("<\\/"));
}

QString IconUrl(const Program &P, const QString &Base)
{
    return Base + "/icons/" + P.Icon;
}

QString DownloadButton(const Program &P, const QString &Base, const QString &Label, Language Lang,
                       const QString &Digest)
{
    const QString Title = P.TitleIn(Lang);
    const QString Sha256 = Digest.isEmpty() ? QString() : " data-sha256=\"" + Esc(Digest) + '"';
    return QStringLiteral("<button class=\"get\" type=\"button\" data-title=\"%1\" data-url=\"%2\"%3 "
                          "title=\"%4\">%5</button>")
        .arg(Esc(Title), Esc(Base + "/files/" + P.Installer), Sha256,
             Esc(Texts(Lang).DownloadHint.arg(Title)), Esc(Label));
}

QString Item(const Program &P, const QString &Base, Language Lang, const QString &Digest)
{
    const PageTexts &T = Texts(Lang);
    QStringList Search {P.Title, P.Description, P.Category, P.Publisher};
    if (Lang != Language::English)
        Search << P.TitleIn(Lang) << P.DescriptionIn(Lang) << CategoryTitle(P.Category, Lang);
    Search += P.Keywords;
    QString Actions;
    if (P.Freeware) {
        Actions = DownloadButton(P, Base, T.Download, Lang, Digest);
    } else {
        const QString Buy = Esc(WithLanguage(Base + P.PurchasePath, Lang));
        if (P.Downloadable)
            Actions = DownloadButton(P, Base, T.TryFree, Lang, Digest)
                + QStringLiteral("<a class=\"buy\" href=\"%1\">%2</a>").arg(Buy, Esc(T.Buy));
        else
            Actions = QStringLiteral("<a class=\"buy solid\" href=\"%1\">%2</a>").arg(Buy, Esc(T.BuyNow));
    }
    QStringList Meta {CategoryTitle(P.Category, Lang), "v" + P.Version, P.Publisher};
    if (P.Downloadable)
        Meta << SizeText(P.InstallerSize);
    return QStringLiteral("<li class=\"app\" id=\"%1\" data-cat=\"%2\" data-kind=\"%3\" data-text=\"%4\">"
                          "<span class=\"rank\">%5</span>"
                          "<img class=\"icon\" src=\"%6\" width=\"40\" height=\"40\" alt=\"\">"
                          "<div class=\"info\"><div class=\"name\">%7<span class=\"badge %8\">%9</span></div>"
                          "<div class=\"desc\">%10</div><div class=\"meta\">%11</div></div>"
                          "<div class=\"act\">%12</div></li>\n")
        .arg(Esc(P.Id), Esc(P.Category), QString(P.Freeware ? "free" : "pay"),
             Esc(Search.join(' ').toLower()), QString::number(P.Rank), Esc(IconUrl(P, Base)),
             Esc(P.TitleIn(Lang)), QString(P.Freeware ? "free" : "paid"),
             P.Freeware ? Esc(T.Free) : "$" + P.Price, Esc(P.DescriptionIn(Lang)),
             Esc(Meta.join(QStringLiteral(" \u00b7 "))), Actions);
}

} // namespace

QString SizeText(qint64 Bytes)
{
    if (Bytes < 1024 * 1024)
        return QString::number((Bytes + 1023) / 1024) + " KB";
    return QString::number(double(Bytes) / (1024 * 1024), 'f', 1) + " MB";
}

QByteArray StorePage(const QByteArray &Template, const QVector<Program> &Programs, const QString &Base,
                     const QString &Kind, const QString &Category, Language Lang,
                     const InstallerDigests &Digests)
{
    const PageTexts &T = Texts(Lang);
    const QString StartKind = (Kind == "free" || Kind == "pay") ? Kind : QStringLiteral("all");
    const QString StartCategory = Categories().contains(Category) ? Category : QStringLiteral("all");
    auto NavButton = [&](const QString &Cat, const QString &Title, qsizetype Count) {
        return QStringLiteral(
                   "<button type=\"button\" data-cat=\"%1\"%2>%3<span class=\"n\">%4</span></button>\n")
            .arg(Cat, QString(Cat == StartCategory ? " class=\"on\"" : ""), Esc(Title),
                 QString::number(Count));
    };
    QString Nav = NavButton("all", T.AllPrograms, Programs.size());
    for (const QString &Cat : Categories()) {
        const auto Count = std::count_if(Programs.begin(), Programs.end(),
                                         [&](const Program &P) { return P.Category == Cat; });
        Nav += NavButton(Cat, CategoryTitle(Cat, Lang), Count);
    }
    QString Items;
    for (const Program &P : Programs)
        Items += Item(P, Base, Lang, Digests.value(P.Id));

    const QString Count = QString::number(Programs.size());
    return Fill(Template,
                {{"CATEGORIES", Nav},
                 {"ITEMS", Items},
                 {"KIND", StartKind},
                 {"CATEGORY", StartCategory},
                 {"BASE", Esc(Base)},
                 {"LANG", T.HtmlLang},
                 {"TEXT_TITLE", Esc(T.StoreTitle)},
                 {"TEXT_TAG", Esc(T.StoreTag)},
                 {"TEXT_SEARCH", Esc(T.Search.arg(Count))},
                 {"TEXT_SEARCH_LABEL", Esc(T.SearchLabel)},
                 {"TEXT_PRICE", Esc(T.PriceLabel)},
                 {"TEXT_ALL", Esc(T.KindAll)},
                 {"TEXT_FREE", Esc(T.KindFree)},
                 {"TEXT_PAID", Esc(T.KindPaid)},
                 {"TEXT_CATEGORIES", Esc(T.CategoriesLabel)},
                 {"TEXT_HOME", Esc(T.Home)},
                 {"TEXT_HELP", Esc(T.Help)},
                 {"TEXT_TOP", Esc(T.Top)},
                 {"TEXT_COUNT", Esc((Programs.size() == 1 ? T.CountOne : T.CountMany).arg(Count))},
                 {"TEXT_EMPTY", Esc(T.Empty)},
                 {"TEXT_SHOW_ALL", Esc(T.ShowAll)},
                 {"TEXT_NOTE", Esc(T.Note)},
                 {"SCRIPT_TEXTS", ScriptJson(T.Script)}});
}

QByteArray PurchasePage(const QByteArray &Template, const Program &P, const QString &Base, Language Lang,
                        const QString &Digest)
{
    const PageTexts &T = Texts(Lang);
    return Fill(Template,
                {{"TRIAL", P.Downloadable ? DownloadButton(P, Base, T.Trial, Lang, Digest) : ""},
                 {"ID", Esc(P.Id)},
                 {"TITLE", Esc(P.TitleIn(Lang))},
                 {"VERSION", Esc(P.Version)},
                 {"PUBLISHER", Esc(P.Publisher)},
                 {"DESCRIPTION", Esc(P.DescriptionIn(Lang))},
                 {"PRICE", Esc(P.Price)},
                 {"ICON_URL", Esc(IconUrl(P, Base))},
                 {"BASE", Esc(Base)},
                 {"STORE_URL", Esc(WithLanguage(Base + "/index.php/soft_api#" + P.Id, Lang))},
                 {"LANG", T.HtmlLang},
                 {"TEXT_BUY_TITLE", Esc(T.BuyTitle.arg(P.TitleIn(Lang)))},
                 {"TEXT_VERSION", Esc(T.Version.arg(P.Version))},
                 {"TEXT_LICENCE", Esc(T.Licence)},
                 {"TEXT_NOTICE", Esc(T.Notice)},
                 {"TEXT_BACK", Esc(T.Back)}});
}

} // namespace orvane::site
