#include "online/HttpSetup.h"

#include "support/LoopbackServer.h"

#include <QElapsedTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using testsupport::LoopbackServer;

// Pages with the answers the set-up has to deal with.
class Site
{
public:
    Site()
    {
        auto &s = srv.server;
        s.Get("/page", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> lock(mutex);
            agent = req.get_header_value("User-Agent");
            extra = req.get_header_value("X-Extra");
            res.set_content("<p>hello</p>", "text/html; charset=utf-8");
        });
        s.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("gone", "text/plain");
        });
        s.Get("/moved", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/page"); });
        s.Get("/loop", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop"); });
        s.Get("/to-file", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("file:///etc/hostname");
        });
        s.Get("/big", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(std::string(5000, 'x'), "application/octet-stream");
        });
        // No length given: only the bytes themselves show the size.
        s.Get("/big-chunked", [](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink &sink) {
                const std::string block(1000, 'y');
                for (int i = 0; i < 5; ++i)
                    sink.write(block.data(), block.size());
                sink.done();
                return true;
            });
        });
        // Headers and a first piece, then nothing for a long time.
        s.Get("/stall", [this](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink &sink) {
                if (offset == 0) {
                    sink.write("a", 1);
                    return true;
                }
                for (int i = 0; i < 100 && !quit; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                sink.done();
                return true;
            });
        });
        s.Post("/form", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> lock(mutex);
            posted = req.body;
            postedType = req.get_header_value("Content-Type");
            res.set_content("thanks", "text/plain");
        });
        EXPECT_TRUE(srv.start());
    }
    ~Site()
    {
        quit = true;
        srv.stop();
    }
    QString url(const std::string &path) const { return QString::fromStdString(srv.url(path)); }

    std::mutex mutex;
    std::string agent, extra, posted, postedType;
    std::atomic<bool> quit {false};
    LoopbackServer srv;
};

TEST(HttpSetup, GetAnswersWithBodyTypeAndStatus)
{
    Site site;
    online::HttpOptions o;
    o.agent = "Tester_1_Agent";
    o.headers << "X-Extra: yes";
    const online::HttpResponse page = online::HttpGet(site.url("/page"), o);
    EXPECT_TRUE(page.ok) << page.error.toStdString();
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, "<p>hello</p>");
    EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
    EXPECT_TRUE(page.error.isEmpty());
    {
        std::lock_guard<std::mutex> lock(site.mutex);
        EXPECT_EQ(site.agent, "Tester_1_Agent");
        EXPECT_EQ(site.extra, "yes");
    }
    // An error status is still a complete answer; the caller judges it.
    const online::HttpResponse missing = online::HttpGet(site.url("/missing"));
    EXPECT_TRUE(missing.ok);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "gone");

    // Nothing listens on the discard port.
    const online::HttpResponse refused = online::HttpGet(QStringLiteral("http://127.0.0.1:9/"));
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.error.isEmpty());
    EXPECT_NE(refused.osError, 0);
}

TEST(HttpSetup, RedirectRulesAndProtocols)
{
    Site site;
    const struct
    {
        const char *path;
        online::Redirects rule;
        bool ok;
        long status;
        const char *endsWith;
    } cases[] = {
        {"/moved", online::Redirects::Follow, true, 200, "/page"},
        {"/moved", online::Redirects::FollowKeepTls, true, 200, "/page"},
        {"/moved", online::Redirects::None, true, 302, "/moved"},
        {"/loop", online::Redirects::Follow, false, 302, "/loop"},
        {"/to-file", online::Redirects::Follow, false, 302, "hostname"},
    };
    for (const auto &c : cases) {
        online::HttpOptions o;
        o.redirects = c.rule;
        o.maxRedirects = 3;
        const online::HttpResponse r = online::HttpGet(site.url(c.path), o);
        EXPECT_EQ(r.ok, c.ok) << c.path;
        EXPECT_EQ(r.status, c.status) << c.path;
        EXPECT_TRUE(r.effectiveUrl.endsWith(c.endsWith)) << c.path << " " << r.effectiveUrl.toStdString();
    }
    for (const char *other : {"file:///etc/hostname", "ftp://127.0.0.1/x", "gopher://127.0.0.1/"}) {
        const online::HttpResponse r = online::HttpGet(QString::fromLatin1(other));
        EXPECT_FALSE(r.ok) << other;
        EXPECT_TRUE(r.body.isEmpty()) << other;
    }
}

TEST(HttpSetup, SizeCapWithAndWithoutLength)
{
    Site site;
    for (const char *path : {"/big", "/big-chunked"}) {
        online::HttpOptions o;
        o.maxBytes = 4999;
        const online::HttpResponse r = online::HttpGet(site.url(path), o);
        EXPECT_FALSE(r.ok) << path;
        EXPECT_TRUE(r.tooLarge) << path;
        EXPECT_TRUE(r.body.isEmpty()) << path;
        o.maxBytes = 5000;
        const online::HttpResponse fits = online::HttpGet(site.url(path), o);
        EXPECT_TRUE(fits.ok) << path;
        EXPECT_EQ(fits.body.size(), 5000) << path;
    }
}

TEST(HttpSetup, SinkReceivesTheBodyAndCanRefuseIt)
{
    Site site;
    QByteArray got;
    const online::HttpResponse r
        = online::HttpGet(site.url("/big-chunked"), {}, [&](const char *data, qsizetype size) {
              got.append(data, size);
              return true;
          });
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_EQ(got, QByteArray(5000, 'y'));

    const online::HttpResponse refused
        = online::HttpGet(site.url("/big"), {}, [](const char *, qsizetype) { return false; });
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.tooLarge);
}

TEST(HttpSetup, StalledTransferEndsAndCancelFlagAbandons)
{
    Site site;
    {
        online::HttpOptions o;
        o.stallTimeoutMs = 1000;
        QElapsedTimer clock;
        clock.start();
        const online::HttpResponse r = online::HttpGet(site.url("/stall"), o);
        EXPECT_FALSE(r.ok);
        EXPECT_LT(clock.elapsed(), 4000);
    }
    {
        std::atomic<bool> cancel {false};
        online::HttpOptions o;
        o.stallTimeoutMs = 0;
        o.cancel = &cancel;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            cancel = true;
        });
        QElapsedTimer clock;
        clock.start();
        const online::HttpResponse r = online::HttpGet(site.url("/stall"), o);
        canceller.join();
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.cancelled);
        EXPECT_LT(clock.elapsed(), 3000);
        // Already cancelled: no exchange at all.
        EXPECT_TRUE(online::HttpGet(site.url("/page"), o).cancelled);
    }
}

TEST(HttpSetup, PostSendsBodyAndType)
{
    Site site;
    const online::HttpResponse r
        = online::HttpPost(site.url("/form"), "a=1&b=2", "application/x-www-form-urlencoded");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "thanks");
    std::lock_guard<std::mutex> lock(site.mutex);
    EXPECT_EQ(site.posted, "a=1&b=2");
    EXPECT_EQ(site.postedType, "application/x-www-form-urlencoded");
}

TEST(HttpSetup, ProxyVariablesHonouredUnlessTurnedOff)
{
    Site site;
    // A proxy nobody answers on: every exchange through it fails.
    const QByteArray old = qgetenv("http_proxy");
    const QByteArray oldNo = qgetenv("no_proxy");
    qputenv("http_proxy", "http://127.0.0.1:9");
    qunsetenv("no_proxy");
    online::HttpOptions o;
    EXPECT_FALSE(online::HttpGet(site.url("/page"), o).ok);
    o.useProxy = false;
    EXPECT_TRUE(online::HttpGet(site.url("/page"), o).ok);
    if (old.isNull())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", old);
    if (!oldNo.isNull())
        qputenv("no_proxy", oldNo);
}

} // namespace
