#include "online/WebAPIClient.h"

#include "online/JSONValues.h"
#include "support/LoopbackServer.h"

#include <QElapsedTimer>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testsupport::LoopbackServer;

std::string s(const QString &q)
{
    return q.toStdString();
}

// Undoes the obscuring by hand: hexadecimal pairs, XOR with the key, Base64 text.
QByteArray unobscure(const QString &hex)
{
    const char key[] = "qunvelto";
    QByteArray text;
    for (int i = 0; i + 1 < hex.size(); i += 2)
        text += char(hex.mid(i, 2).toInt(nullptr, 16) ^ key[(i / 2) % 8]);
    return text;
}

struct Answer
{
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    int delayMs = 0;
};

struct Seen
{
    std::string method, target, body;
    httplib::Headers headers;
    int count = 0;
};

// A web API on loopback that records each request and sends the configured answer.
class ApiServer
{
public:
    ApiServer()
    {
        srv.server.Post("/api", [this](const httplib::Request &req, httplib::Response &res) {
            Answer a;
            {
                std::lock_guard<std::mutex> lock(mutex);
                seen.method = req.method;
                seen.target = req.target;
                seen.body = req.body;
                seen.headers = req.headers;
                ++seen.count;
                a = answer;
            }
            if (a.delayMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(a.delayMs));
            res.status = a.status;
            if (a.status == 302)
                res.set_header("Location", srv.url("/elsewhere"));
            res.set_content(a.body, a.contentType.c_str());
        });
        srv.server.Post("/elsewhere", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("{\"result\":\"success\"}", "text/html");
        });
        started = srv.start();
    }
    void set(const Answer &a)
    {
        std::lock_guard<std::mutex> lock(mutex);
        answer = a;
    }
    Seen last()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    QString url() const { return QString::fromStdString(srv.url("/api")); }

    LoopbackServer srv;
    bool started = false;

private:
    std::mutex mutex;
    Answer answer;
    Seen seen;
};

std::string urlEncoded(const char *json)
{
    return QUrl::toPercentEncoding(QString::fromUtf8(json)).toStdString();
}

int closedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

const char *const FullAnswer = R"({"result":"success",
  "top3_pay":{"more_url":"http://h/more-pay","count":5,"items":[
     {"title":"P0","description":"C++ & more 100%","icon_url":"http://h/p0.png","details_url":"http://h/p0",
      "download_url":"http://h/p0.exe","purchase_url":"http://h/buy0","freeware":false},
     {"title":"P1","purchase_url":"http://h/buy1"},
     {"title":"P2"},{"title":"P3"}]},
  "top3_free":{"more_url":"http://h/more-free","items":[{"title":"F0","purchase_url":"http://h/never","freeware":true}]}})";

} // namespace

TEST(THttpClient, FormEncodingAndParameterList)
{
    THttpClient http;
    http.Encrypt = false;
    http.AddParam("lng", "1033");
    http.AddParam("method", "software_top3");
    http.AddParam("keywords", QStringLiteral("Foo Bar é&=+~*@._-$!'()/"));
    EXPECT_EQ(s(http.Query()),
              "lng=1033&method=software_top3&keywords=Foo+Bar+%c3%a9%26%3d%2b%7e*@._-$!'()%2f");
    http.AddParam("lng", "2052"); // replaced in place
    http.AddParam("method", ""); // an empty value removes the entry
    http.AddParam("keywords", "x");
    EXPECT_EQ(s(http.Query()), "lng=2052&keywords=x");
    http.AddParam("method", "m");
    EXPECT_EQ(s(http.Query()), "lng=2052&keywords=x&method=m");
}

TEST(THttpClient, ObscuredValuesDecodeBackByHand)
{
    THttpClient http; // obscuring is on by default
    const QString method = http.EncodeValue("software_top3");
    EXPECT_EQ(method.size(), 40);
    EXPECT_EQ(method, method.toUpper());
    EXPECT_EQ(unobscure(method), QByteArray("c29mdHdhcmVfdG9wMw=="));
    EXPECT_EQ(QByteArray::fromBase64(unobscure(method)), QByteArray("software_top3"));

    // The value is form-encoded before it is obscured.
    EXPECT_EQ(QByteArray::fromBase64(unobscure(http.EncodeValue("a b/é"))), QByteArray("a+b%2f%c3%a9"));

    // Base64 lines of 76 characters end with CR LF, also the last one when it is full.
    const QByteArray full = unobscure(http.EncodeValue(QString(57, 'a')));
    ASSERT_EQ(full.size(), 78);
    EXPECT_TRUE(full.endsWith("\r\n"));
    const QByteArray longer = unobscure(http.EncodeValue(QString(58, 'a')));
    ASSERT_EQ(longer.size(), 76 + 2 + 4);
    EXPECT_EQ(longer.mid(76, 2), QByteArray("\r\n"));
    EXPECT_FALSE(longer.endsWith("\r\n"));
    EXPECT_EQ(QByteArray::fromBase64(longer), QByteArray(58, 'a'));
    EXPECT_TRUE(http.EncodeValue("").isEmpty());
}

TEST(THttpClient, BodyDecoding)
{
    struct Case
    {
        QByteArray body;
        QByteArray contentType;
        QString text;
    } cases[] = {
        {"%7B%22a%22%3A1%7D", "text/html", "{\"a\":1}"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF%7Bx+y%7D", "", "{x y}"},
        {"\xEF\xBB\xBF%7B", "text/html; charset=\"utf8\"", "{"},
        {"\xC3\xA9", "text/plain; charset=iso-8859-1", "é"},
        {"\xC3\xA9", "text/plain; charset=UTF-8", "é"},
        {"%c3%a9 %E2%82%AC", "", "é €"},
        {"a+b%%c", "", "a b%c"},
        {"50%", "", "50%"},
        {"5%0g+x", "", "5%0g+x"},
        {"\xEF\xBB\xBF{\"p\":\"100%\"}", "", "{\"p\":\"100%\"}"},
        {"  \r\n", "", "  \r\n"},
        {"", "", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(s(THttpClient::DecodeBody(c.body, c.contentType)), s(c.text)) << c.body.toStdString();
}

TEST(TWebAPIClient, SendsAPostWithEmptyBodyAndTheQueryInOrder)
{
    ApiServer api;
    ASSERT_TRUE(api.started);
    api.set({200, "text/html", "\xEF\xBB\xBF" + urlEncoded(R"({"result":"success"})")});

    TWebAPIClient client;
    client.APIUrl = api.url();
    client.LanguageID = 1033;
    client.Encrypt = false;
    TSoftwareTop3 top3;
    EXPECT_TRUE(client.GetSoftwareTop3("Foo Bar", top3));
    EXPECT_EQ(s(client.LastResponse), R"({"result":"success"})");
    Seen seen = api.last();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.target, "/api?lng=1033&method=software_top3&keywords=Foo+Bar");
    EXPECT_EQ(seen.body, "");
    auto header = [&](const char *name) {
        auto it = seen.headers.find(name);
        return it == seen.headers.end() ? std::string("(none)") : it->second;
    };
    EXPECT_EQ(header("Content-Length"), "0");
    EXPECT_EQ(header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(header("Accept"), "text/html, */*");

    EXPECT_TRUE(client.GetSoftwareTop3("", top3));
    EXPECT_EQ(api.last().target, "/api?lng=1033&method=software_top3");

    client.Encrypt = true;
    EXPECT_TRUE(client.GetSoftwareTop3("Foo", top3));
    const std::string target = api.last().target;
    const QUrlQuery query(QUrl(QString::fromStdString(target)).query());
    EXPECT_EQ(query.queryItems().size(), 3);
    EXPECT_EQ(query.queryItems().at(0).first, "lng");
    EXPECT_EQ(QByteArray::fromBase64(unobscure(query.queryItemValue("lng"))), QByteArray("1033"));
    EXPECT_EQ(QByteArray::fromBase64(unobscure(query.queryItemValue("method"))), QByteArray("software_top3"));
    EXPECT_EQ(QByteArray::fromBase64(unobscure(query.queryItemValue("keywords"))), QByteArray("Foo"));
}

TEST(TWebAPIClient, AnswersAndFailures)
{
    ApiServer api;
    ASSERT_TRUE(api.started);
    struct Case
    {
        Answer answer;
        bool success;
        std::string lastResponse;
    } cases[] = {
        {{200, "text/html", urlEncoded(R"({"result":"SUCCESS"})")}, true, R"({"result":"SUCCESS"})"},
        {{200, "text/html; charset=UTF-8", "\xEF\xBB\xBF{'result':'Success'}"}, true, "{'result':'Success'}"},
        {{200, "text/html", R"({"note":"100%","result":"success"})"},
         true,
         R"({"note":"100%","result":"success"})"},
        {{200, "text/html", R"({"result":"error"})"}, false, R"({"result":"error"})"},
        {{200, "text/html", R"({"result":"successful"})"}, false, R"({"result":"successful"})"},
        {{200, "text/html", R"({"status":"success"})"}, false, R"({"status":"success"})"},
        {{200, "text/html", "not json at all"}, false, "not json at all"},
        {{200, "text/html", "   "}, false, "   "},
        {{404, "text/html", R"({"result":"success"})"}, false, ""},
        {{500, "text/html", R"({"result":"success"})"}, false, ""},
        {{302, "text/html", ""}, false, ""}, // the redirect is not followed
    };
    TWebAPIClient client;
    client.APIUrl = api.url();
    for (const Case &c : cases) {
        api.set(c.answer);
        TSoftwareTop3 top3;
        top3.PayCount = 9;
        EXPECT_EQ(client.GetSoftwareTop3("k", top3), c.success) << c.answer.body;
        EXPECT_EQ(s(client.LastResponse), c.lastResponse) << c.answer.body;
        EXPECT_EQ(client.IsSuccess(), c.success);
        EXPECT_EQ(top3.PayCount, 0);
    }

    // No request at all without an endpoint.
    const int before = api.last().count;
    client.APIUrl = "   ";
    TSoftwareTop3 top3;
    EXPECT_FALSE(client.GetSoftwareTop3("k", top3));
    EXPECT_EQ(api.last().count, before);
    EXPECT_TRUE(client.LastResponse.isEmpty());
}

TEST(TWebAPIClient, DeadServersEndTheCallInBoundedTime)
{
    TWebAPIClient client;
    TSoftwareTop3 top3;
    client.APIUrl = QStringLiteral("http://127.0.0.1:%1/api").arg(closedLoopbackPort());
    EXPECT_FALSE(client.GetSoftwareTop3("k", top3));

    ApiServer api;
    ASSERT_TRUE(api.started);
    api.set({200, "text/html", R"({"result":"success"})", 1500});
    client.APIUrl = api.url();
    client.TotalTimeoutMs = 300;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(client.GetSoftwareTop3("k", top3));
    EXPECT_LT(clock.elapsed(), 1200);
}

TEST(TWebAPIClient, ReadsRecommendationsFromTheAnswer)
{
    ApiServer api;
    ASSERT_TRUE(api.started);
    api.set({200, "text/html", "\xEF\xBB\xBF" + urlEncoded(FullAnswer)});
    TWebAPIClient client;
    client.APIUrl = api.url();
    TSoftwareTop3 top3;
    ASSERT_TRUE(client.GetSoftwareTop3("Some Program", top3));
    EXPECT_EQ(s(top3.PayMoreURL), "http://h/more-pay");
    EXPECT_EQ(s(top3.FreeMoreURL), "http://h/more-free");
    EXPECT_EQ(top3.PayCount, 3); // count 5 with four items shows three
    ASSERT_EQ(top3.PayItems.size(), 3);
    EXPECT_EQ(s(top3.PayItems[0].Description), "C++ & more 100%");
    EXPECT_EQ(s(top3.PayItems[0].DownloadURL), "http://h/p0.exe");
    EXPECT_FALSE(top3.PayItems[0].Freeware);
    EXPECT_TRUE(top3.PayItems[1].DownloadURL.isEmpty()); // a paid item to buy, not to download
    EXPECT_EQ(s(top3.PayItems[1].PurchaseURL), "http://h/buy1");
    EXPECT_EQ(top3.FreeCount, 0); // no count: nothing shown
    ASSERT_EQ(top3.FreeItems.size(), 1);
    EXPECT_TRUE(top3.FreeItems[0].PurchaseURL.isEmpty());
    EXPECT_TRUE(top3.FreeItems[0].Freeware);

    // An accessor error anywhere fails the whole call and leaves the record empty.
    api.set({200, "text/html",
             urlEncoded(R"({"result":"success","top3_pay":{"count":1,"items":[{"freeware":"yes"}]}})")});
    EXPECT_FALSE(client.GetSoftwareTop3("Some Program", top3));
    EXPECT_EQ(top3, TSoftwareTop3());
}

TEST(ReadSoftwareTop3, ReadingRules)
{
    struct Case
    {
        const char *answer;
        int payCount, payItems, freeCount, freeItems;
    } cases[] = {
        {R"({"top3_pay":{"count":2,"items":[{},{},{}]},"top3_free":{"count":"2","items":[{},{}]}})", 2, 3, 2,
         2},
        {R"({"top3_pay":{"count":-4,"items":[{}]},"top3_free":{"count":3}})", 0, 1, 0, 0},
        {R"({"top3_pay":null,"top3_free":{"count":null,"items":null,"more_url":null}})", 0, 0, 0, 0},
        {R"({"top3_pay":{"count":2.7,"items":[{},{}]}})", 2, 2, 0, 0},
        {R"({"top3_pay":{"count":1e300,"items":[{},{}]}})", 2, 2, 0, 0},
        {R"({"result":"success"})", 0, 0, 0, 0},
        {R"(not json)", 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        TSoftwareTop3 t;
        t.PayMoreURL = "stale";
        ReadSoftwareTop3(QString::fromUtf8(c.answer), t);
        EXPECT_EQ(t.PayCount, c.payCount) << c.answer;
        EXPECT_EQ(t.PayItems.size(), c.payItems) << c.answer;
        EXPECT_EQ(t.FreeCount, c.freeCount) << c.answer;
        EXPECT_EQ(t.FreeItems.size(), c.freeItems) << c.answer;
        EXPECT_TRUE(t.PayMoreURL.isEmpty());
    }

    const char *failing[] = {
        R"({"top3_pay":"none"})",
        R"({"top3_pay":{"items":{}}})",
        R"({"top3_free":{"items":[1]}})",
        R"({"top3_free":{"items":[{},,{}]}})",
        R"({"top3_free":{"items":[{"freeware":2}]}})",
        R"({"top3_pay":{"count":"many","items":[]}})",
        R"({"top3_pay":{"count":true,"items":[]}})",
    };
    for (const char *answer : failing) {
        TSoftwareTop3 t;
        EXPECT_THROW(ReadSoftwareTop3(QString::fromUtf8(answer), t), EOnlineError) << answer;
    }
}

// An item's "sha256" in either case is kept in lower case; an empty or null
// one is no digest; anything else fails the whole answer, like an entry of the
// wrong kind, rather than leave a file to be installed unchecked.
TEST(ReadSoftwareTop3, DigestsOfTheDownloads)
{
    const QString digest = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    const QString answer
        = QStringLiteral(R"({"top3_pay":{"count":3,"items":[{"sha256":"%1"},{"sha256":""},{}]},)"
                         R"("top3_free":{"count":1,"items":[{"sha256":null}]}})")
              .arg(digest.toUpper());
    TSoftwareTop3 t;
    ReadSoftwareTop3(answer, t);
    ASSERT_EQ(t.PayItems.size(), 3);
    EXPECT_EQ(t.PayItems[0].Sha256, digest);
    EXPECT_EQ(t.PayItems[1].Sha256, QString());
    EXPECT_EQ(t.PayItems[2].Sha256, QString());
    EXPECT_EQ(t.FreeItems.value(0).Sha256, QString());

    for (const QString &bad :
         {digest.left(63), digest + "0", " " + digest, digest.left(63) + "g", QString("sha256")}) {
        TSoftwareTop3 r;
        EXPECT_THROW(
            ReadSoftwareTop3(
                QStringLiteral(R"({"top3_free":{"count":1,"items":[{"sha256":"%1"}]}})").arg(bad), r),
            EOnlineError)
            << bad.toStdString();
    }
    TSoftwareTop3 r;
    EXPECT_THROW(ReadSoftwareTop3(R"({"top3_free":{"count":1,"items":[{"sha256":42}]}})", r), EOnlineError);
}
