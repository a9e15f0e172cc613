#include "SiteServer.h"

#include "online/WebAPIClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using orvane::site::SiteServer;

namespace {

class SiteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString Error;
        ASSERT_TRUE(Site.Load(SITE_ROOT, Error)) << Error.toStdString();
        Port = Site.Bind("127.0.0.1", 0);
        ASSERT_GT(Port, 0);
        Thread = std::thread([this] { Site.Listen(); });
        for (int I = 0; I < 500 && !Site.IsRunning(); ++I)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_TRUE(Site.IsRunning());
        Base = "http://127.0.0.1:" + std::to_string(Port);
    }
    void TearDown() override
    {
        Site.Stop();
        if (Thread.joinable())
            Thread.join();
    }

    SiteServer Site;
    int Port = -1;
    std::string Base;
    std::thread Thread;
};

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
        // Texts with '+' and '&' survive the client's URL-decoding of the answer.
        EXPECT_TRUE(Client.LastResponse.contains("100+ filters"));
        EXPECT_TRUE(Top3.PayMoreURL.startsWith(Host));

        // Keywords that match nothing still get the top entries.
        ASSERT_TRUE(Client.GetSoftwareTop3("", Top3));
        EXPECT_EQ(Top3.FreeItems.value(0).Title, "NoteLark");
        EXPECT_EQ(Top3.PayItems.size(), 3);
    }
}

TEST_F(SiteTest, UnknownMethodIsAFailureAnswer)
{
    THttpClient Http;
    Http.URL = QString::fromStdString(Base + "/index.php/halvex_api");
    Http.AddParam("lng", "1033");
    Http.AddParam("method", "software_top99");
    const QString Answer = Http.Execute();
    EXPECT_FALSE(Answer.isEmpty());
    EXPECT_FALSE(TWebAPIClient::IsSuccessAnswer(Answer)) << Answer.toStdString();
}

TEST_F(SiteTest, InstallersServeByteRanges)
{
    const auto &P = Site.Programs().front();
    const std::string Whole = SiteServer::MakeInstaller(P, 0).toStdString();
    ASSERT_GT(Whole.size(), 100000u);
    const std::string Path = "/files/" + P.Installer.toStdString();
    httplib::Client Http("127.0.0.1", Port);

    auto Full = Http.Get(Path);
    ASSERT_TRUE(Full);
    EXPECT_EQ(Full->status, 200);
    EXPECT_EQ(Full->body, Whole);
    EXPECT_EQ(Full->body.rfind("#!/bin/sh\n", 0), 0u);

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

    auto Missing = Http.Get("/files/nothing.exe");
    ASSERT_TRUE(Missing);
    EXPECT_EQ(Missing->status, 404);
    auto Traversal = Http.Get("/icons/../catalogue.json");
    ASSERT_TRUE(Traversal);
    EXPECT_EQ(Traversal->status, 404);
}

TEST_F(SiteTest, PagesPointAtThisHost)
{
    httplib::Client Http("127.0.0.1", Port);
    auto Page = Http.Get("/index.php/soft_api");
    ASSERT_TRUE(Page);
    ASSERT_EQ(Page->status, 200);
    const QString Html = QString::fromStdString(Page->body);
    EXPECT_TRUE(Html.contains("window.external.DownloadAndInstall(title, url)"));
    const QRegularExpression Download(QStringLiteral("data-url=\"([^\"]*)\""));
    int Buttons = 0;
    for (const auto &M : Download.globalMatch(Html)) {
        ++Buttons;
        const std::string Url = M.captured(1).toStdString();
        EXPECT_EQ(Url.rfind(Base + "/files/", 0), 0u) << Url;
        auto File = Http.Get(Url.substr(Base.size()));
        ASSERT_TRUE(File);
        EXPECT_EQ(File->status, 200) << Url;
    }
    EXPECT_GE(Buttons, 6);
    EXPECT_FALSE(Html.contains("{{BASE}}"));

    auto Icon = Http.Get("/icons/" + Site.Programs().front().Icon.toStdString());
    ASSERT_TRUE(Icon);
    EXPECT_EQ(Icon->body.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    for (const char *Path : {"/", "/help.html"}) {
        auto Res = Http.Get(Path);
        ASSERT_TRUE(Res);
        EXPECT_EQ(Res->status, 200) << Path;
    }
}

TEST(SiteProgram, ServesAndEndsCleanlyOnSigterm)
{
    // A free port: bind, note it, release it for the child.
    int Port = -1;
    {
        const int Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in Addr {};
        Addr.sin_family = AF_INET;
        Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Len = sizeof Addr;
        if (Fd >= 0 && bind(Fd, reinterpret_cast<sockaddr *>(&Addr), sizeof Addr) == 0
            && getsockname(Fd, reinterpret_cast<sockaddr *>(&Addr), &Len) == 0)
            Port = ntohs(Addr.sin_port);
        if (Fd >= 0)
            close(Fd);
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
