#include "SiteServer.h"

#include "Installer.h"
#include "SiteFixture.h"
#include "online/WebAPIClient.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using orvane::site::Program;
using orvane::site::SiteServer;

namespace {

class SiteTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Running.Ok()) << Running.Error; }

    const Program &ById(const QString &Id) const
    {
        for (const Program &P : Running.Site.Programs())
            if (P.Id == Id)
                return P;
        throw std::runtime_error("no program " + Id.toStdString());
    }

    RunningSite Running;
    const std::string &Base = Running.Base;
    httplib::Client Http {"127.0.0.1", Running.Port};
};

// A listening loopback socket on a free port; closed with the object.
struct Listener
{
    Listener()
    {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in Addr {};
        Addr.sin_family = AF_INET;
        Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Len = sizeof Addr;
        if (Fd >= 0 && bind(Fd, reinterpret_cast<sockaddr *>(&Addr), sizeof Addr) == 0 && listen(Fd, 4) == 0
            && getsockname(Fd, reinterpret_cast<sockaddr *>(&Addr), &Len) == 0)
            Port = ntohs(Addr.sin_port);
    }
    ~Listener()
    {
        if (Fd >= 0)
            close(Fd);
    }
    int Fd = -1;
    int Port = -1;
};

bool HasChinese(const QString &Text)
{
    return std::any_of(Text.begin(), Text.end(),
                       [](QChar C) { return C.unicode() >= 0x4e00 && C.unicode() <= 0x9fff; });
}

} // namespace

// The server must read back exactly what the client's encoder produced, with
// or without obscuring, including line breaks of long values and bytes that
// form encoding escapes; plain values that merely look like hex stay as sent.
TEST(SiteParams, DecodesWhatTheClientEncodes)
{
    const QString Values[] = {
        "software_top3",
        "1033",
        "Mozilla Firefox 115.0 (x64 en-US)",
        QString::fromUtf8("Caf\xc3\xa9 C++ 100% & more = ok"),
        QString(200, 'x') + QString::fromUtf8(" \xe6\x97\xa5\xe6\x9c\xac"),
    };
    for (const QString &V : Values) {
        THttpClient Client;
        Client.Encrypt = true;
        QString Back;
        ASSERT_TRUE(orvane::site::Unobscure(Client.EncodeValue(V).toUtf8(), Back)) << V.toStdString();
        EXPECT_EQ(Back, V);
    }
    for (const char *Plain : {"CAFE", "1033", "ABCDEF12", "software_top3", ""})
        EXPECT_EQ(orvane::site::ParamValue(Plain), QString::fromLatin1(Plain));
}

TEST_F(SiteTest, Top3AnswersTheRealClientWithAndWithoutObscuring)
{
    for (const bool Encrypt : {true, false}) {
        SCOPED_TRACE(Encrypt ? "obscured" : "plain");
        TWebAPIClient Client;
        Client.APIUrl = QString::fromStdString(Base + "/index.php/halvex_api");
        Client.LanguageID = 1033;
        Client.Encrypt = Encrypt;
        Client.TotalTimeoutMs = 10000;
        TSoftwareTop3 Top3;
        ASSERT_TRUE(Client.GetSoftwareTop3("PebbleZip archiver 9.1 (x64)", Top3))
            << Client.LastResponse.toStdString();
        ASSERT_EQ(Top3.FreeCount, 3);
        ASSERT_EQ(Top3.PayCount, 3);
        ASSERT_EQ(Top3.FreeItems.size(), 3);
        EXPECT_EQ(Top3.FreeItems[0].Title, "PebbleZip"); // the match comes first
        EXPECT_TRUE(Top3.FreeItems[0].Freeware);
        EXPECT_TRUE(Top3.FreeItems[0].PurchaseURL.isEmpty());
        const QString Host = QString::fromStdString(Base) + "/";
        for (const TSoftwareItem &Item : Top3.FreeItems + Top3.PayItems) {
            EXPECT_TRUE(Item.IconURL.startsWith(Host + "icons/")) << Item.IconURL.toStdString();
            EXPECT_TRUE(Item.DetailsURL.startsWith(Host)) << Item.DetailsURL.toStdString();
        }
        for (const TSoftwareItem &Item : Top3.PayItems) {
            EXPECT_FALSE(Item.Freeware);
            EXPECT_TRUE(Item.PurchaseURL.startsWith(Host));
        }
        EXPECT_TRUE(Top3.PayMoreURL.startsWith(Host));

        // Keywords that match nothing still get the best-ranked entries.
        ASSERT_TRUE(Client.GetSoftwareTop3("", Top3));
        EXPECT_EQ(Top3.FreeItems.value(0).Title, "NoteLark");
        EXPECT_EQ(Top3.PayItems.size(), 3);

        // A paid program without a trial comes without a download: the panel buys.
        ASSERT_TRUE(Client.GetSoftwareTop3("OpenVPN privacy client", Top3));
        ASSERT_FALSE(Top3.PayItems.isEmpty());
        EXPECT_EQ(Top3.PayItems[0].Title, "Moatline VPN");
        EXPECT_TRUE(Top3.PayItems[0].DownloadURL.isEmpty());
        EXPECT_TRUE(Top3.PayItems[0].PurchaseURL.startsWith(Host));

        // Texts with '+' and '&' survive the client's URL-decoding of the answer.
        ASSERT_TRUE(Client.GetSoftwareTop3("photo editor", Top3));
        EXPECT_EQ(Top3.PayItems.value(0).Description, "Edits photos with layers, masks and 100+ filters.");
    }
}

// The program's Chinese interface (language id 2052) gets Chinese texts and
// addresses of Chinese pages; every other language the English ones.
TEST_F(SiteTest, Top3AnswersInTheProgramsLanguage)
{
    const struct
    {
        quint16 Lcid;
        const char *FreeTitle, *FreeDescription, *PayTitle;
        bool Chinese;
    } Cases[] = {
        {2052, "Tidewave 播放器", "播放音乐和视频，支持播放列表与均衡器。", "ReelCut 视频编辑器", true},
        {1033, "Tidewave Player", "Plays music and video, with playlists & equalizer.",
         "ReelCut Video Editor", false},
        {1028, "Tidewave Player", "Plays music and video, with playlists & equalizer.",
         "ReelCut Video Editor", false}, // Traditional Chinese is not what the store speaks
        {0, "Tidewave Player", "Plays music and video, with playlists & equalizer.", "ReelCut Video Editor",
         false},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Lcid);
        TWebAPIClient Client;
        Client.APIUrl = QString::fromStdString(Base + "/index.php/halvex_api");
        Client.LanguageID = C.Lcid;
        Client.TotalTimeoutMs = 10000;
        TSoftwareTop3 Top3;
        ASSERT_TRUE(Client.GetSoftwareTop3("VLC media player 3.0 (video)", Top3))
            << Client.LastResponse.toStdString();
        ASSERT_FALSE(Top3.FreeItems.isEmpty());
        ASSERT_FALSE(Top3.PayItems.isEmpty());
        EXPECT_EQ(Top3.FreeItems[0].Title, QString::fromUtf8(C.FreeTitle));
        EXPECT_EQ(Top3.FreeItems[0].Description, QString::fromUtf8(C.FreeDescription));
        EXPECT_EQ(Top3.PayItems[0].Title, QString::fromUtf8(C.PayTitle));

        // The pages the panels open speak the same language, and still lead
        // to the program's entry and to the chosen price.
        const TSoftwareItem &Pay = Top3.PayItems[0];
        EXPECT_TRUE(Top3.FreeItems[0].DetailsURL.endsWith("#tidewave"));
        EXPECT_TRUE(Top3.FreeMoreURL.contains("kind=free"));
        for (const QString &Url :
             {Top3.FreeItems[0].DetailsURL, Top3.FreeMoreURL, Pay.DetailsURL, Pay.PurchaseURL}) {
            SCOPED_TRACE(Url.toStdString());
            ASSERT_TRUE(Url.startsWith(QString::fromStdString(Base) + "/"));
            auto Page
                = Http.Get(QUrl(Url)
                               .toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment)
                               .toStdString());
            ASSERT_TRUE(Page);
            ASSERT_EQ(Page->status, 200);
            EXPECT_EQ(Page->body.find(C.Chinese ? "<html lang=\"zh-CN\">" : "<html lang=\"en\">"),
                      Page->body.find("<html"));
        }
    }
}

// Whatever arrives, the web API answers with its failure envelope: never a
// success, never an empty or broken answer.
TEST_F(SiteTest, BadInputGetsTheFailureEnvelope)
{
    const struct
    {
        const char *Why;
        std::vector<std::pair<QString, QString>> Params;
        bool Obscure;
    } Cases[] = {
        {"no method", {{"lng", "1033"}, {"keywords", "zip"}}, true},
        {"unknown method", {{"lng", "1033"}, {"method", "software_top99"}}, true},
        {"language not a number", {{"lng", "english"}, {"method", "software_top3"}}, false},
        {"language out of range", {{"lng", "70000"}, {"method", "software_top3"}}, true},
        {"keywords too long", {{"method", "software_top3"}, {"keywords", QString(1500, 'k')}}, false},
        {"obscured-looking garbage", {{"method", "0A1B2C3D"}}, false},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Why);
        THttpClient Client;
        Client.URL = QString::fromStdString(Base + "/index.php/halvex_api");
        Client.Encrypt = C.Obscure;
        for (const auto &[Name, Value] : C.Params)
            Client.AddParam(Name, Value);
        const QString Answer = Client.Execute();
        const QJsonObject Json = QJsonDocument::fromJson(Answer.toUtf8()).object();
        EXPECT_EQ(Json.value("result").toString(), "error") << Answer.toStdString();
        EXPECT_FALSE(Json.value("message").toString().isEmpty());
        EXPECT_FALSE(TWebAPIClient::IsSuccessAnswer(Answer));
    }
    // Bodies beyond any sensible size are refused before they are read.
    auto Huge = Http.Post("/index.php/halvex_api", std::string(200 * 1024, 'x'), "application/octet-stream");
    ASSERT_TRUE(Huge);
    EXPECT_EQ(Huge->status, 413);
}

TEST_F(SiteTest, UnknownPathsAreNotFoundAndWrongMethodsNotAllowed)
{
    const struct
    {
        const char *Method;
        const char *Path;
        int Status;
        const char *Allow;
    } Cases[] = {
        {"GET", "/nothing.html", 404, nullptr},
        {"GET", "/files/nothing.exe", 404, nullptr},
        {"GET", "/icons/nothing.png", 404, nullptr},
        {"GET", "/icons/../catalogue.json", 404, nullptr},
        {"GET", "/catalogue.json", 404, nullptr},
        {"GET", "/index.php/buy?id=notelark", 404, nullptr}, // free: nothing to buy
        {"GET", "/index.php/buy?id=nobody", 404, nullptr},
        {"POST", "/nothing", 404, nullptr},
        {"POST", "/", 405, "GET, HEAD"},
        {"PUT", "/files/notelark-setup.exe", 405, "GET, HEAD"},
        {"DELETE", "/index.php/halvex_api", 405, "GET, HEAD, POST"},
        {"POST", "/index.php/soft_api", 405, "GET, HEAD"},
        {"OPTIONS", "/icons/notelark.png", 405, "GET, HEAD"},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(std::string(C.Method) + " " + C.Path);
        httplib::Request Req;
        Req.method = C.Method;
        Req.path = C.Path;
        auto Res = Http.send(Req);
        ASSERT_TRUE(Res);
        EXPECT_EQ(Res->status, C.Status);
        EXPECT_EQ(Res->get_header_value("Allow"), C.Allow ? C.Allow : "");
    }
    // A person who mistypes an address gets a page that leads back.
    auto Missing = Http.Get("/nothing.html");
    ASSERT_TRUE(Missing);
    EXPECT_NE(Missing->body.find(Base + "/index.php/soft_api"), std::string::npos);
}

TEST_F(SiteTest, InstallersServeByteRanges)
{
    const Program &P = Running.Site.Programs().front();
    const std::string Whole = orvane::site::MakeInstaller(P, QString::fromStdString(Base)).toStdString();
    ASSERT_GT(Whole.size(), 100000u);
    const std::string Path = "/files/" + P.Installer.toStdString();

    auto Full = Http.Get(Path);
    ASSERT_TRUE(Full);
    EXPECT_EQ(Full->status, 200);
    EXPECT_EQ(Full->body, Whole);
    EXPECT_EQ(Full->body.rfind("#!/bin/sh\n", 0), 0u);
    EXPECT_EQ(qint64(Full->body.size()), P.InstallerSize);

    auto Part = Http.Get(Path, {{"Range", "bytes=1000-1999"}});
    ASSERT_TRUE(Part);
    EXPECT_EQ(Part->status, 206);
    EXPECT_EQ(Part->body, Whole.substr(1000, 1000));

    auto Tail = Http.Get(Path, {{"Range", "bytes=" + std::to_string(Whole.size() - 10) + "-"}});
    ASSERT_TRUE(Tail);
    EXPECT_EQ(Tail->status, 206);
    EXPECT_EQ(Tail->body, Whole.substr(Whole.size() - 10));

    auto Past = Http.Get(Path, {{"Range", "bytes=" + std::to_string(Whole.size()) + "-"}});
    ASSERT_TRUE(Past);
    EXPECT_EQ(Past->status, 416);
    EXPECT_EQ(Past->get_header_value("Content-Range"), "bytes */" + std::to_string(Whole.size()));
}

// HEAD describes the download exactly as GET would, and a resume that names
// another version of the file gets the whole current file instead of a part.
TEST_F(SiteTest, InstallersCarryValidatorsAndHonourIfRange)
{
    const Program &P = ById("tidewave");
    const std::string Path = "/files/" + P.Installer.toStdString();
    auto Get = Http.Get(Path);
    ASSERT_TRUE(Get);
    const std::string ETag = Get->get_header_value("ETag");
    const std::string Modified = Get->get_header_value("Last-Modified");
    ASSERT_EQ(ETag.size(), 34u);
    ASSERT_EQ(ETag.front(), '"');
    EXPECT_EQ(Modified, Running.Site.InstallersModified().toStdString());
    EXPECT_TRUE(QRegularExpression("^[A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d GMT$")
                    .match(QString::fromStdString(Modified))
                    .hasMatch())
        << Modified;

    auto Head = Http.Head(Path);
    ASSERT_TRUE(Head);
    EXPECT_EQ(Head->status, 200);
    EXPECT_TRUE(Head->body.empty());
    for (const char *Name : {"ETag", "Last-Modified", "Content-Length", "Accept-Ranges", "Content-Type"})
        EXPECT_EQ(Head->get_header_value(Name), Get->get_header_value(Name)) << Name;
    EXPECT_EQ(Head->get_header_value("Content-Length"), std::to_string(Get->body.size()));

    // Another program's installer is another file with another tag.
    auto Other = Http.Head("/files/" + ById("notelark").Installer.toStdString());
    ASSERT_TRUE(Other);
    EXPECT_NE(Other->get_header_value("ETag"), ETag);

    // Only the exact Last-Modified text allows a part: the same instant written
    // any other way may be another copy's date.
    std::string MixedCase = Modified;
    MixedCase[1] = char(std::toupper(static_cast<unsigned char>(MixedCase[1])));
    std::string OtherDay = Modified;
    OtherDay.replace(0, 3, Modified.compare(0, 3, "Mon") == 0 ? "Tue" : "Mon");
    std::string LowerZone = Modified;
    LowerZone.replace(LowerZone.size() - 3, 3, "gmt");
    const struct
    {
        std::string Validator;
        bool Matches;
    } Cases[] = {
        {ETag, true},
        {Modified, true},
        {" " + Modified + " ", true},
        {MixedCase, false},
        {OtherDay, false},
        {LowerZone, false},
        {std::string(Modified).insert(4, " "), false},
        {"\"0123456789abcdef0123456789abcdef\"", false},
        {"W/" + ETag, false}, // weak tags never allow a part
        {"Mon, 01 Jan 2001 00:00:00 GMT", false},
        {"yesterday", false},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Validator);
        auto Res = Http.Get(Path, {{"Range", "bytes=100-199"}, {"If-Range", C.Validator}});
        ASSERT_TRUE(Res);
        if (C.Matches) {
            EXPECT_EQ(Res->status, 206);
            EXPECT_EQ(Res->body, Get->body.substr(100, 100));
        } else {
            EXPECT_EQ(Res->status, 200);
            EXPECT_EQ(Res->body, Get->body);
            EXPECT_FALSE(Res->has_header("Content-Range"));
        }
    }
    // Even a range past the end is moot when the validator does not match.
    auto Stale = Http.Get(Path, {{"Range", "bytes=99999999-"}, {"If-Range", "\"stale\""}});
    ASSERT_TRUE(Stale);
    EXPECT_EQ(Stale->status, 200);
    EXPECT_EQ(Stale->body.size(), Get->body.size());
}

// The catalogue has what the store and the recommendation panels need, and
// everything it names is served.
TEST_F(SiteTest, CatalogueIsCompleteAndServed)
{
    const auto &Programs = Running.Site.Programs();
    EXPECT_GE(Programs.size(), 30);
    QSet<QString> Categories, IconTypes, IconBytes, Titles, ChineseTitles;
    int Free = 0, PurchaseOnly = 0, PreviousRank = 0;
    for (const Program &P : Programs) {
        SCOPED_TRACE(P.Id.toStdString());
        EXPECT_GT(P.Rank, PreviousRank); // served in ranking order
        PreviousRank = P.Rank;
        Categories.insert(P.Category);
        Titles.insert(P.Title);
        // Chinese texts for every program: a title (a brand name may stay as
        // it is) and a description that is really translated.
        EXPECT_FALSE(P.TitleZh.isEmpty());
        EXPECT_TRUE(HasChinese(P.DescriptionZh)) << P.DescriptionZh.toStdString();
        ChineseTitles.insert(P.TitleZh);
        EXPECT_FALSE(P.Keywords.isEmpty());
        Free += P.Freeware;
        PurchaseOnly += !P.Downloadable;

        auto Icon = Http.Get("/icons/" + P.Icon.toStdString());
        ASSERT_TRUE(Icon);
        EXPECT_EQ(Icon->status, 200);
        EXPECT_EQ(Icon->get_header_value("Content-Type"),
                  orvane::site::PictureType(QByteArray::fromStdString(Icon->body)).toStdString());
        IconTypes.insert(QString::fromStdString(Icon->get_header_value("Content-Type")));
        IconBytes.insert(QString::fromLatin1(QByteArray::fromStdString(Icon->body).toBase64()));

        if (P.Downloadable) {
            auto Setup = Http.Head("/files/" + P.Installer.toStdString());
            ASSERT_TRUE(Setup);
            EXPECT_EQ(Setup->status, 200);
        }
        if (!P.Freeware) {
            EXPECT_FALSE(P.Price.isEmpty());
            auto Buy = Http.Get(P.PurchasePath.toStdString());
            ASSERT_TRUE(Buy);
            EXPECT_EQ(Buy->status, 200);
            EXPECT_NE(Buy->body.find(P.Title.toHtmlEscaped().toStdString()), std::string::npos);
        }
    }
    EXPECT_EQ(Categories,
              QSet<QString>(orvane::site::Categories().begin(), orvane::site::Categories().end()));
    EXPECT_EQ(IconTypes, (QSet<QString> {"image/png", "image/jpeg", "image/gif", "image/bmp"}));
    EXPECT_EQ(IconBytes.size(), Programs.size()); // every program its own icon
    EXPECT_EQ(Titles.size(), Programs.size());
    EXPECT_EQ(ChineseTitles.size(), Programs.size());
    EXPECT_GE(Free, 3);
    EXPECT_GE(Programs.size() - Free, 3);
    EXPECT_GE(PurchaseOnly, 1);
}

TEST_F(SiteTest, StorePagePointsAtThisHostAndStaysLight)
{
    auto Page = Http.Get("/index.php/soft_api");
    ASSERT_TRUE(Page);
    ASSERT_EQ(Page->status, 200);
    const QString Html = QString::fromStdString(Page->body);
    EXPECT_TRUE(Html.contains("window.external.DownloadAndInstall(title, url)"));
    EXPECT_TRUE(Html.contains("if (window.external && window.external.DownloadAndInstall)"));
    EXPECT_FALSE(Html.contains("{{"));
    // Its core works from a saved copy: no calls back to the server.
    for (const char *Call : {"fetch(", "XMLHttpRequest", "import("})
        EXPECT_FALSE(Html.contains(Call)) << Call;

    int Buttons = 0;
    for (const auto &M : QRegularExpression(QStringLiteral("data-url=\"([^\"]*)\"")).globalMatch(Html)) {
        ++Buttons;
        const std::string Url = M.captured(1).toStdString();
        EXPECT_EQ(Url.rfind(Base + "/files/", 0), 0u) << Url;
    }
    int Downloadable = 0;
    for (const Program &P : Running.Site.Programs())
        Downloadable += P.Downloadable;
    EXPECT_EQ(Buttons, Downloadable);

    // Every resource the page loads sits on this host; with them it stays small.
    qint64 Total = qint64(Page->body.size());
    int Resources = 0;
    for (const auto &M : QRegularExpression(QStringLiteral("(?:src|href)=\"([^\"#]*)\"")).globalMatch(Html)) {
        const std::string Url = M.captured(1).toStdString();
        EXPECT_EQ(Url.rfind(Base + "/", 0), 0u) << Url;
        if (M.captured(0).startsWith("src")) {
            auto Res = Http.Get(Url.substr(Base.size()));
            ASSERT_TRUE(Res);
            EXPECT_EQ(Res->status, 200) << Url;
            Total += qint64(Res->body.size());
            ++Resources;
        }
    }
    EXPECT_EQ(Resources, Running.Site.Programs().size());
    EXPECT_LT(Total, 200 * 1024);
    EXPECT_FALSE(Html.contains("<link")); // styles inline
    EXPECT_FALSE(Html.contains("<script src"));

    for (const char *Path : {"/", "/help.html", "/index.php/soft_api?kind=free&cat=games"}) {
        auto Res = Http.Get(Path);
        ASSERT_TRUE(Res);
        EXPECT_EQ(Res->status, 200) << Path;
        EXPECT_EQ(Res->body.find("{{"), std::string::npos) << Path;
    }
}

// The store page and the purchase pages speak Chinese when their address asks
// for it, and only then: no English label is left on the Chinese page and no
// Chinese text leaks into the English one.
TEST_F(SiteTest, PagesSpeakChineseWhenAskedTo)
{
    const std::string Count = std::to_string(Running.Site.Programs().size());
    const std::vector<std::string> ChineseTexts {"<html lang=\"zh-CN\">",
                                                 "placeholder=\"在 " + Count + " 款软件中搜索\"",
                                                 "data-cat=\"office\">办公<",
                                                 "data-cat=\"graphics\">图形图像<",
                                                 ">全部软件<",
                                                 ">免费</button>",
                                                 ">付费</button>",
                                                 "class=\"badge free\">免费<",
                                                 ">下载</button>",
                                                 ">免费试用</button>",
                                                 ">购买</a>",
                                                 ">立即购买</a>",
                                                 "Tidewave 播放器",
                                                 "播放音乐和视频，支持播放列表与均衡器。",
                                                 "\"added\":\"✓ 已添加\""};
    const std::vector<std::string> EnglishTexts {"<html lang=\"en\">",
                                                 "placeholder=\"Search " + Count + " programs\"",
                                                 "data-cat=\"office\">Office<",
                                                 ">All programs<",
                                                 ">Free</button>",
                                                 ">Download</button>",
                                                 ">Try free</button>",
                                                 ">Buy</a>",
                                                 ">Buy now</a>",
                                                 "Tidewave Player",
                                                 "Plays music and video, with playlists &amp; equalizer."};
    const struct
    {
        const char *Path;
        bool Chinese;
    } Cases[] = {
        {"/index.php/soft_api?lang=2052", true},
        {"/index.php/soft_api?kind=free&lang=zh-CN&cat=games", true},
        {"/index.php/soft_api?lang=zh-hans", true},
        {"/index.php/soft_api", false},
        {"/index.php/soft_api?lang=1033", false},
        {"/index.php/soft_api?lang=1028", false},
        {"/index.php/soft_api?lang=%3Cscript%3E", false},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Path);
        auto Page = Http.Get(C.Path);
        ASSERT_TRUE(Page);
        ASSERT_EQ(Page->status, 200);
        const std::string &Html = Page->body;
        for (const std::string &Text : C.Chinese ? ChineseTexts : EnglishTexts)
            EXPECT_NE(Html.find(Text), std::string::npos) << Text;
        for (const std::string &Text : C.Chinese ? EnglishTexts : ChineseTexts)
            EXPECT_EQ(Html.find(Text), std::string::npos) << Text;
        EXPECT_EQ(Html.find("{{"), std::string::npos);
        if (!C.Chinese) {
            EXPECT_FALSE(HasChinese(QString::fromStdString(Html)));
        }

        // The purchase links keep the language, and so does the way back.
        const QRegularExpression BuyLink(QStringLiteral("href=\"([^\"]*/index\\.php/buy\\?[^\"]*)\""));
        const QString Buy = BuyLink.match(QString::fromStdString(Html)).captured(1).replace("&amp;", "&");
        ASSERT_FALSE(Buy.isEmpty());
        EXPECT_EQ(Buy.contains("lang=2052"), C.Chinese) << Buy.toStdString();
        auto Purchase
            = Http.Get(QUrl(Buy).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
        ASSERT_TRUE(Purchase);
        ASSERT_EQ(Purchase->status, 200);
        const bool ChinesePurchase = Purchase->body.find("返回商店") != std::string::npos;
        EXPECT_EQ(ChinesePurchase, C.Chinese);
        EXPECT_EQ(Purchase->body.find("Back to the store") == std::string::npos, C.Chinese);
        EXPECT_EQ(Purchase->body.find("/index.php/soft_api?lang=2052#") != std::string::npos, C.Chinese);
    }
}

// Chinese texts are optional in a catalogue (a program without them shows its
// English ones) but, when given, as checked as the English ones.
TEST(SiteCatalogue, ChineseTextsAreOptionalButChecked)
{
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    ASSERT_TRUE(QDir().mkpath(Dir.filePath("icons")));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(SITE_ROOT "/icons/notelark.png"), Dir.filePath("icons/notelark.png")));
    const struct
    {
        const char *Zh; // the "zh" entry as written in the file; empty: none
        bool Loads;
        const char *Title, *Description; // what the Chinese store shows
    } Cases[] = {
        {"", true, "NoteLark", "Keeps notes."},
        {R"("zh": {"title": "云雀笔记", "description": "记笔记。"},)", true, "云雀笔记", "记笔记。"},
        {R"("zh": {"title": "云雀笔记"},)", false, nullptr, nullptr},
        {R"("zh": {"title": " ", "description": "记笔记。"},)", false, nullptr, nullptr},
        {R"("zh": {"title": "云雀笔记", "description": "记\u0007笔记。"},)", false, nullptr, nullptr},
        {R"("zh": "云雀笔记",)", false, nullptr, nullptr},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Zh);
        QFile File(Dir.filePath("catalogue.json"));
        ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
        File.write(QByteArray(R"({"programs": [{"id": "notelark", "title": "NoteLark", "category": "office",
            "rank": 1, "version": "1.0", "publisher": "Northmoss", "description": "Keeps notes.", )")
                   + C.Zh + R"( "keywords": ["notes"], "freeware": true, "icon": "notelark.png",
            "installer": "notelark-setup.exe"}]})");
        File.close();
        QVector<Program> Programs;
        QString Error;
        ASSERT_EQ(orvane::site::LoadCatalogue(Dir.path(), Programs, Error), C.Loads) << Error.toStdString();
        if (!C.Loads) {
            EXPECT_TRUE(Error.contains("zh")) << Error.toStdString();
            continue;
        }
        ASSERT_EQ(Programs.size(), 1);
        EXPECT_EQ(Programs[0].TitleIn(orvane::site::Language::Chinese), QString::fromUtf8(C.Title));
        EXPECT_EQ(Programs[0].DescriptionIn(orvane::site::Language::Chinese),
                  QString::fromUtf8(C.Description));
        EXPECT_EQ(Programs[0].TitleIn(orvane::site::Language::English), "NoteLark");
    }
}

TEST(SiteProgram, ServesAndEndsCleanlyOnSigterm)
{
    int Port = -1;
    {
        Listener Probe; // a free port: note it, release it for the child
        Port = Probe.Port;
    }
    ASSERT_GT(Port, 0);
    QProcess Site;
    Site.start(SITE_EXE, {"--port", QString::number(Port), "--root", SITE_ROOT});
    ASSERT_TRUE(Site.waitForStarted(5000));
    httplib::Client Http("127.0.0.1", Port);
    Http.set_connection_timeout(1);
    bool Up = false;
    for (int I = 0; I < 100 && !Up; ++I) {
        auto Res = Http.Get("/");
        Up = Res && Res->status == 200;
        if (!Up)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(Up);
    Site.terminate(); // SIGTERM
    ASSERT_TRUE(Site.waitForFinished(5000));
    EXPECT_EQ(Site.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Site.exitCode(), 0);

    QProcess Bad;
    Bad.start(SITE_EXE, {"--port", QString::number(Port), "--root", "/nonexistent"});
    ASSERT_TRUE(Bad.waitForFinished(5000));
    EXPECT_NE(Bad.exitCode(), 0);
}

// A port someone else listens on is an error at start, never a shared port.
TEST(SiteProgram, RefusesAPortThatIsTaken)
{
    Listener Taken;
    ASSERT_GT(Taken.Port, 0);
    QProcess Site;
    Site.start(SITE_EXE, {"--port", QString::number(Taken.Port), "--root", SITE_ROOT});
    ASSERT_TRUE(Site.waitForFinished(10000));
    EXPECT_EQ(Site.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(Site.exitCode(), 0);
    EXPECT_TRUE(Site.readAllStandardError().contains("already in use"));

    // The same between two servers of one process.
    RunningSite First;
    ASSERT_TRUE(First.Ok()) << First.Error;
    SiteServer Second;
    QString Error;
    ASSERT_TRUE(Second.Load(SITE_ROOT, Error));
    EXPECT_EQ(Second.Bind("127.0.0.1", First.Port), -1);
    EXPECT_EQ(Second.BindError(), EADDRINUSE);
}

// The Windows installers built at build time are offered beside the others.
TEST(SiteWindows, ThreeProgramsOfferTheirBuiltWindowsInstallers)
{
    RunningSite Staged(QStringLiteral(SITE_STAGE_ROOT));
    ASSERT_TRUE(Staged.Ok()) << Staged.Error;
    httplib::Client Http {"127.0.0.1", Staged.Port};
    int Offered = 0;
    for (const Program &P : Staged.Site.Programs()) {
        if (P.WindowsInstaller.isEmpty())
            continue;
        ++Offered;
        auto Got = Http.Get("/files/windows/" + P.WindowsInstaller.toStdString());
        ASSERT_TRUE(Got);
        EXPECT_EQ(Got->status, 200);
        EXPECT_EQ(Got->body.rfind("MZ", 0), 0u);
        EXPECT_EQ(QByteArray::fromStdString(Got->body), P.WindowsInstallerBytes);
        auto Part = Http.Get("/files/windows/" + P.WindowsInstaller.toStdString(), {{"Range", "bytes=0-1"}});
        ASSERT_TRUE(Part);
        EXPECT_EQ(Part->status, 206);
        EXPECT_EQ(Part->body, "MZ");
    }
    EXPECT_GE(Offered, 3);
    auto Missing = Http.Get("/files/windows/nothing-setup.exe");
    ASSERT_TRUE(Missing);
    EXPECT_EQ(Missing->status, 404);
}
