// Page archives: fetching a page with its resources from a loopback site,
// the file format's round trip and its refusal of damaged files, and the
// mirror addresses under which a browser is shown the copy.
#include "online/PageArchive.h"

#include "online/PageCollect.h"
#include "online/PageMirror.h"
#include "online/PageReferences.h"
#include "online/PageSaveJob.h"
#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

using testsupport::LoopbackServer;

QCoreApplication *app()
{
    static int argc = 1;
    static char name[] = "test_online";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return instance;
}

QByteArray binaryPicture()
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0; i < 600; ++i)
        png += char(i * 7 % 256);
    return png;
}

// A small vendor-like site: a page referring to its resources in every way a
// page does, one of them missing, one far larger than the others.
class ArchiveSite : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto &s = server.server;
        const std::string base = server.url("");
        s.Get("/shop/page", [this, base](const httplib::Request &, httplib::Response &r) {
            ++pageHits;
            r.set_content("<!DOCTYPE html><html><head><title>Shop</title>\n"
                          "<link rel=\"stylesheet\" href=\"css/site.css\">\n"
                          "<link rel=\"shortcut icon\" href=\"/favicon.ico\">\n"
                          "<script src=\""
                              + base
                              + "/js/app.js?v=2&amp;x=1\"></script>\n"
                                "<style>.banner { background: url('/img/banner.png') }</style>\n"
                                "<!-- <img src=\"/img/commented.png\"> -->\n"
                                "</head><body>\n"
                                "<img src=\"img/logo.png\" srcset=\"img/logo.png 1x, /img/logo2.png 2x\">\n"
                                "<img src=\""
                              + base
                              + "/img/absolute.png\">\n"
                                "<img src=\"/img/missing.png\">\n"
                                "<img src=\"/img/huge.png\">\n"
                                "<div style=\"background-image: url(/img/tile.png)\">x</div>\n"
                                "<a href=\"/other\">not a resource</a>\n"
                                "<script>var s = '<img src=\"/img/inscript.png\">';</script>\n"
                                "</body></html>\n",
                          "text/html; charset=UTF-8");
        });
        s.Get("/shop/css/site.css", [](const httplib::Request &, httplib::Response &r) {
            r.set_content("@import \"more.css\";\nbody { background: url(../img/body.png) }\n", "text/css");
        });
        s.Get("/shop/css/more.css", [](const httplib::Request &, httplib::Response &r) {
            r.set_content("h1 { background: url( \"deep.png\" ) }\n", "text/css");
        });
        for (const char *path : {"/shop/css/deep.png", "/shop/img/body.png", "/img/banner.png",
                                 "/img/logo2.png", "/img/absolute.png", "/img/tile.png", "/favicon.ico"}) {
            s.Get(path, [path](const httplib::Request &, httplib::Response &r) {
                r.set_content(std::string("picture ") + path, "image/png");
            });
        }
        s.Get("/shop/img/logo.png", [](const httplib::Request &, httplib::Response &r) {
            const QByteArray png = binaryPicture();
            r.set_content(png.constData(), size_t(png.size()), "image/png");
        });
        s.Get("/img/huge.png", [](const httplib::Request &, httplib::Response &r) {
            r.set_content(std::string(300000, 'h'), "image/png");
        });
        s.Get("/js/app.js", [](const httplib::Request &req, httplib::Response &r) {
            r.set_content("window.appVersion = '" + req.get_param_value("v") + "';\r\n",
                          "application/javascript");
        });
        s.Get("/elsewhere",
              [this](const httplib::Request &, httplib::Response &r) { r.set_redirect(other.url("/page")); });
        s.Get("/moved", [](const httplib::Request &, httplib::Response &r) { r.set_redirect("/shop/page"); });
        s.Get("/plain",
              [](const httplib::Request &, httplib::Response &r) { r.set_content("hello", "text/plain"); });
        s.Get("/broken", [](const httplib::Request &, httplib::Response &r) {
            r.status = 500;
            r.set_content("<html>error</html>", "text/html");
        });
        s.Get("/slow", [this](const httplib::Request &, httplib::Response &r) {
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            r.set_content("<html>late</html>", "text/html");
        });
        other.server.Get("/page", [](const httplib::Request &, httplib::Response &r) {
            r.set_content("<html>another site</html>", "text/html");
        });
        ASSERT_TRUE(other.start());
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override
    {
        release = true;
        server.stop();
        other.stop();
    }

    QUrl url(const char *path) const { return QUrl(QString::fromStdString(server.url(path))); }

    LoopbackServer server;
    LoopbackServer other; // another origin
    QTemporaryDir dir;
    std::atomic<int> pageHits {0};
    std::atomic<bool> release {false};
};

TEST_F(ArchiveSite, CollectsEveryResourceOnceLeavingOutTheMissingAndTheTooLarge)
{
    TArchiveLimits limits;
    limits.ResourceBytes = 100000;
    TPageArchive archive;
    const TArchiveSaveResult result = CollectPageArchive(url("/shop/page"), archive, limits);
    ASSERT_TRUE(result.Ok) << qPrintable(result.Error);
    EXPECT_EQ(result.Skipped, 2); // missing.png, huge.png
    EXPECT_EQ(result.Parts, archive.Parts.size());
    ASSERT_TRUE(archive.Root());
    EXPECT_EQ(archive.Root()->Location, url("/shop/page"));

    const struct
    {
        const char *path;
        bool present;
    } expected[] = {
        {"/shop/css/site.css", true}, {"/shop/css/more.css", true},
        {"/shop/css/deep.png", true}, {"/shop/img/body.png", true},
        {"/img/banner.png", true},    {"/shop/img/logo.png", true},
        {"/img/logo2.png", true},     {"/img/absolute.png", true},
        {"/img/tile.png", true},      {"/favicon.ico", true},
        {"/js/app.js?v=2&x=1", true}, {"/img/missing.png", false},
        {"/img/huge.png", false},     {"/img/commented.png", false},
        {"/img/inscript.png", false}, {"/other", false},
    };
    for (const auto &e : expected)
        EXPECT_EQ(archive.Find(url(e.path)) != nullptr, e.present) << e.path;
    EXPECT_EQ(archive.Find(url("/shop/img/logo.png"))->Body, binaryPicture());
    EXPECT_EQ(archive.Find(url("/js/app.js?v=2&x=1"))->Body, "window.appVersion = '2';\r\n");
    EXPECT_EQ(archive.Find(url("/shop/css/site.css"))->ContentType, "text/css");
}

TEST_F(ArchiveSite, SavedFileReadsBackExactlyAndAFailedSaveKeepsTheOldFile)
{
    const QString file = dir.filePath("Files/TopX.mht");
    TArchiveLimits limits;
    limits.ResourceBytes = 100000;
    const TArchiveSaveResult saved = SavePageArchive(url("/shop/page").toString(), file, limits);
    ASSERT_TRUE(saved.Ok) << qPrintable(saved.Error);
    TPageArchive collected;
    CollectPageArchive(url("/shop/page"), collected, limits);

    QString error;
    const auto read = ReadPageArchiveFile(file, &error);
    ASSERT_TRUE(read) << qPrintable(error);
    ASSERT_EQ(read->Parts.size(), collected.Parts.size());
    for (qsizetype i = 0; i < read->Parts.size(); ++i) {
        EXPECT_EQ(read->Parts[i].Location, collected.Parts[i].Location);
        EXPECT_EQ(read->Parts[i].Body, collected.Parts[i].Body)
            << qPrintable(collected.Parts[i].Location.toString());
        EXPECT_EQ(read->Parts[i].ContentType, collected.Parts[i].ContentType);
    }
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.contains("Content-Type: multipart/related;"));
    EXPECT_TRUE(bytes.contains("Content-Location: " + url("/shop/img/logo.png").toEncoded() + "\r\n"));
    f.close();

    // Pages that must not replace a good copy.
    TArchiveLimits tiny;
    tiny.PageBytes = 100; // the page is larger
    const struct
    {
        QUrl url;
        TArchiveLimits limits;
    } failing[] = {
        {url("/shop/page"), tiny}, {url("/elsewhere"), {}},           {url("/plain"), {}},
        {url("/broken"), {}},      {QUrl("http://127.0.0.1:9/"), {}},
    };
    for (const auto &c : failing) {
        const TArchiveSaveResult r = SavePageArchive(c.url.toString(), file, c.limits);
        EXPECT_FALSE(r.Ok) << qPrintable(c.url.toString());
        const auto again = ReadPageArchiveFile(file);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->Parts.size(), collected.Parts.size());
    }
    EXPECT_FALSE(SavePageArchive(url("/shop/page").toString() + "?" + QString(1100, 'q'), file).Ok);
    EXPECT_FALSE(SavePageArchive(url("/shop/page").toString(), dir.filePath(QString(1100, 'f'))).Ok);

    // A redirect within the site is followed; the page keeps its final address.
    TPageArchive moved;
    ASSERT_TRUE(CollectPageArchive(url("/moved"), moved).Ok);
    EXPECT_EQ(moved.Root()->Location, url("/shop/page"));
}

TEST(PageArchiveFormat, BodiesRoundTripByteForByte)
{
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes += char(i);
    const struct
    {
        const char *type;
        QByteArray body;
    } parts[] = {
        {"text/html; charset=UTF-8", "<html>\n<p>a = b</p>\n</html>\n"},
        {"text/css", "a { }  \n\t\nb{}\t"},
        {"text/plain", "windows\r\nlines\r\nend\r"},
        {"text/plain", QByteArray(200, 'x') + "\n" + QByteArray(150, '=')},
        {"text/plain", "caf\xc3\xa9 \xe4\xb8\xad\n.\n--\n"},
        {"text/plain", ""},
        {"application/javascript", "var x='----=_OrvanePart_';\n"},
        {"image/png", allBytes},
        {"application/octet-stream", QByteArray(1000, '\0')},
    };
    TPageArchive archive;
    int n = 0;
    for (const auto &p : parts)
        archive.Parts.append({QUrl(QStringLiteral("http://example.test/p%1").arg(n++)), p.type, p.body});
    const QByteArray bytes = SerializePageArchive(archive);
    QString error;
    const auto read = ParsePageArchive(bytes, &error);
    ASSERT_TRUE(read) << qPrintable(error);
    ASSERT_EQ(read->Parts.size(), archive.Parts.size());
    for (qsizetype i = 0; i < archive.Parts.size(); ++i) {
        EXPECT_EQ(read->Parts[i].Body, archive.Parts[i].Body) << i;
        EXPECT_EQ(read->Parts[i].ContentType, archive.Parts[i].ContentType) << i;
    }
    // Text stays readable; lines stay short.
    EXPECT_TRUE(bytes.contains("<p>a =3D b</p>"));
    for (const QByteArray &line : bytes.split('\n'))
        EXPECT_LE(line.size(), 200);
    // Line ends converted to LF on the way still read the same.
    const auto unix = ParsePageArchive(QByteArray(bytes).replace("\r\n", "\n"));
    ASSERT_TRUE(unix);
    EXPECT_EQ(unix->Parts[7].Body, allBytes);
}

TEST(PageArchiveFormat, RefusesDamagedTruncatedAndForeignFiles)
{
    TPageArchive archive;
    archive.Parts.append({QUrl("http://example.test/"), "text/html", "<html><img src=a.png></html>"});
    archive.Parts.append({QUrl("http://example.test/a.png"), "image/png", binaryPicture()});
    const QByteArray good = SerializePageArchive(archive);
    ASSERT_TRUE(ParsePageArchive(good));

    // Cut anywhere: never read.
    for (qsizetype cut = 0; cut < good.size() - 2; cut += 7)
        EXPECT_FALSE(ParsePageArchive(good.left(cut))) << cut;

    const qsizetype pictureAt = good.indexOf("Content-MD5", good.indexOf("a.png\r\n")) + 45;
    const struct
    {
        const char *name;
        QByteArray bytes;
    } bad[] = {
        {"flipped byte", QByteArray(good).replace(pictureAt, 1, good.at(pictureAt) == 'A' ? "B" : "A")},
        {"older format", QByteArray(good).replace("X-Orvane-Archive: 1", "X-Orvane-Archive: 0")},
        {"no format", QByteArray(good).replace("X-Orvane-Archive: 1\r\n", "")},
        {"no checksum", QByteArray(good).replace("Content-MD5:", "X-MD5:")},
        {"bad address", QByteArray(good).replace("http://example.test/a.png", "file:///etc/passwd")},
        {"bad quoted-printable", QByteArray(good).replace("<html>", "<html>=ZZ")},
        {"not multipart", QByteArray(good).replace("multipart/related", "text/html")},
        {"empty", QByteArray()},
        {"text", "hello\r\n\r\nworld"},
    };
    for (const auto &b : bad)
        EXPECT_FALSE(ParsePageArchive(b.bytes)) << b.name;

    TPageArchive pictureFirst;
    pictureFirst.Parts = {archive.Parts[1], archive.Parts[0]};
    EXPECT_FALSE(ParsePageArchive(SerializePageArchive(pictureFirst)));
}

TEST(PageReferences, EachTagsAttributeIsItsKindOfReference)
{
    // Expected: the references in order, "R" resource, "S" style sheet, "B" base.
    const struct
    {
        const char *html;
        const char *expected;
    } cases[] = {
        {"<IMG SRC=a.png srcset='b.png 1x, c.png 2x'>", "R a.png|R b.png|R c.png"},
        {"<picture><source srcset=\"d.webp, e.webp 2x\"></picture>", "R d.webp|R e.webp"},
        {"<script src=j.js>var s = '<img src=no.png>';</script>", "R j.js"},
        {"<link rel='Alternate Stylesheet' href=s.css><link rel=\"shortcut icon\" href=i.ico>"
         "<link rel=next href=no.html>",
         "S s.css|R i.ico"},
        {"<input type=IMAGE src=go.png><input type=text src=no.png>", "R go.png"},
        {"<video poster=p.jpg><table background=t.gif><tr><td background=&quot;q&amp;.gif>",
         "R p.jpg|R t.gif|R \"q&.gif"},
        {"<base href=/b/><base href=/c/>", "B /b/"},
        {"<div style='background:url(u&amp;v.png)'>", "R u&v.png"},
        {"<div style=\"background:url(&quot;q.png&quot;)\"><p style='x:url( &#39;r s.png&#39; )'>",
         "R q.png|R r s.png"},
        {"<div style=\"background:url(&quot;&quot;)\">", ""},
        {"<style>@import 'i.css'; a { background: url(z.png) }</style>", "S i.css|R z.png"},
        {"<!-- <img src=no.png> --><textarea><img src=no.png></textarea><img src=yes.png>", "R yes.png"},
        {"<plaintext style='background:url(p.png)'><img src=no.png>", "R p.png"},
        {"<img src=''><img src>", ""},
    };
    for (const auto &c : cases) {
        const QByteArray html(c.html);
        QStringList got;
        for (const TPageReference &ref : FindHtmlReferences(html)) {
            const char kind = ref.RefKind == TPageReference::Resource ? 'R'
                : ref.RefKind == TPageReference::StyleSheet           ? 'S'
                                                                      : 'B';
            got << QString(QLatin1Char(kind)) + QLatin1Char(' ') + ref.Value;
            ASSERT_LE(ref.Offset + ref.Length, html.size()) << c.html;
        }
        EXPECT_EQ(got.join(QLatin1Char('|')), QString::fromUtf8(c.expected)) << c.html;
    }
}

TEST(PageArchiveMirror, AddressesAndOrigins)
{
    const struct
    {
        const char *original;
        const char *mirror;
        const char *origin;
    } cases[] = {
        {"http://127.0.0.1:8770/index.php/soft_api?a=1#top",
         "orvane-mht://127.0.0.1:8770/index.php/soft_api?a=1#top", "http://127.0.0.1:8770"},
        {"http://Example.TEST/x", "orvane-mht://example.test/x", "http://example.test"},
        {"http://example.test:80", "orvane-mht://example.test/", "http://example.test"},
        {"https://example.test/s", "orvane-mht://example.test:443/s", "https://example.test"},
        {"http://user:pw@example.test/", "orvane-mht://example.test/", "http://example.test"},
        {"http://[::1]:81/", "orvane-mht://[::1]:81/", "http://[::1]:81"},
        {"file:///tmp/x.html", "", "null"},
        {"about:blank", "", "null"},
    };
    for (const auto &c : cases) {
        const QUrl original(QString::fromLatin1(c.original));
        EXPECT_EQ(PageArchiveMirrorUrl(original).toString(), QString::fromLatin1(c.mirror)) << c.original;
        EXPECT_EQ(UrlOriginText(original), QString::fromLatin1(c.origin)) << c.original;
    }
    EXPECT_EQ(UrlOriginText(QUrl("orvane-mht://127.0.0.1:8770/x")), "orvane-mht://127.0.0.1:8770");

    TPageArchive archive;
    archive.Parts.append({QUrl("https://example.test/a"), "text/html", "x"});
    archive.Parts.append({QUrl("http://example.test/b?q=1"), "image/png", "y"});
    EXPECT_TRUE(archive.FindMirrored(QUrl("orvane-mht://example.test:443/a")));
    EXPECT_TRUE(archive.FindMirrored(QUrl("orvane-mht://EXAMPLE.test/b?q=1#f")));
    EXPECT_FALSE(archive.FindMirrored(QUrl("orvane-mht://example.test/a")));
    EXPECT_FALSE(archive.FindMirrored(QUrl("orvane-mht://example.test/b")));
    EXPECT_FALSE(archive.FindMirrored(QUrl("http://example.test/b?q=1")));
}

TEST(PageArchiveMirror, ServedPagePointsAtArchivedPartsOnly)
{
    TPageArchive archive;
    archive.Parts.append(
        {QUrl("http://site.test/dir/page"), "text/html",
         "<img src=\"http://site.test/a.png\"><img src='b.png' srcset=\"b.png 1x,/c.png 2x\">"
         "<img src=http://site.test/a.png?x=1&amp;y=2>"
         "<img src=\"http://cdn.test/d.png\"><img src=\"http://site.test/gone.png\">"
         "<div style=\"background:url(http://site.test/a.png)\"></div>"
         "<p style=\"background:url(&quot;/c.png&quot;)\"></p>"
         "<style>p{background:url('/c.png')} q{background:url(gone.png)}</style>"
         "<a href=\"http://site.test/a.png\">link</a>"});
    archive.Parts.append({QUrl("http://site.test/a.png"), "image/png", "a"});
    archive.Parts.append({QUrl("http://site.test/dir/b.png"), "image/png", "b"});
    archive.Parts.append({QUrl("http://site.test/c.png"), "image/png", "c"});
    archive.Parts.append({QUrl("http://site.test/a.png?x=1&y=2"), "image/png", "a2"});
    archive.Parts.append({QUrl("http://cdn.test/d.png"), "image/png", "d"});
    archive.Parts.append(
        {QUrl("http://site.test/s.css"), "text/css", "@import 'http://site.test/c.png'; x{y:url(a.png)}"});

    const QByteArray page = MirroredPartBody(archive, archive.Parts[0]);
    EXPECT_EQ(page,
              "<img src=\"orvane-mht://site.test/a.png\"><img src='orvane-mht://site.test/dir/b.png' "
              "srcset=\"orvane-mht://site.test/dir/b.png 1x,orvane-mht://site.test/c.png 2x\">"
              "<img src=orvane-mht://site.test/a.png?x=1&amp;y=2>"
              "<img src=\"orvane-mht://cdn.test/d.png\"><img src=\"http://site.test/gone.png\">"
              "<div style=\"background:url(&quot;orvane-mht://site.test/a.png&quot;)\"></div>"
              "<p style=\"background:url(&quot;orvane-mht://site.test/c.png&quot;)\"></p>"
              "<style>p{background:url('orvane-mht://site.test/c.png')} q{background:url(gone.png)}</style>"
              "<a href=\"http://site.test/a.png\">link</a>");
    EXPECT_EQ(MirroredPartBody(archive, archive.Parts[6]),
              "@import 'orvane-mht://site.test/c.png'; x{y:url(\"orvane-mht://site.test/a.png\")}");
    EXPECT_EQ(MirroredPartBody(archive, archive.Parts[1]), "a");

    // <base href> moves the page's relative references into the mirror too.
    TPageArchive based;
    based.Parts.append(
        {QUrl("http://site.test/"), "text/html", "<base href=\"http://site.test/dir/\"><img src=b.png>"});
    based.Parts.append({QUrl("http://site.test/dir/b.png"), "image/png", "b"});
    EXPECT_EQ(MirroredPartBody(based, based.Parts[0]),
              "<base href=\"orvane-mht://site.test/dir/\"><img src=orvane-mht://site.test/dir/b.png>");
}

TEST_F(ArchiveSite, SaveJobReportsOnTheMainThreadAndEndsWhenDestroyedMidway)
{
    app();
    const QString file = dir.filePath("TopX.mht");
    bool done = false;
    TArchiveSaveResult got;
    Qt::HANDLE doneThread = nullptr;
    {
        TPageSaveJob job;
        ASSERT_TRUE(job.Start(url("/shop/page").toString(), file, [&](const TArchiveSaveResult &r) {
            done = true;
            got = r;
            doneThread = QThread::currentThreadId();
        }));
        EXPECT_FALSE(job.Start(url("/shop/page").toString(), file, {})); // one at a time
        QElapsedTimer t;
        t.start();
        while (!done && t.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_TRUE(done);
    EXPECT_TRUE(got.Ok) << qPrintable(got.Error);
    EXPECT_EQ(doneThread, QThread::currentThreadId());
    EXPECT_TRUE(ReadPageArchiveFile(file));

    // Destroyed while the page is still on its way: the worker stops, nothing is reported.
    bool late = false;
    QElapsedTimer t;
    t.start();
    {
        TPageSaveJob job;
        ASSERT_TRUE(job.Start(url("/slow").toString(), dir.filePath("late.mht"),
                              [&](const TArchiveSaveResult &) { late = true; }));
        QThread::msleep(100);
    }
    EXPECT_LT(t.elapsed(), 5000);
    release = true;
    QCoreApplication::processEvents();
    EXPECT_FALSE(late);
    EXPECT_FALSE(QFile::exists(dir.filePath("late.mht")));

    // Too long an address or file name is refused at once.
    TPageSaveJob job;
    EXPECT_FALSE(job.Start(QString(1025, 'u'), file, {}));
    EXPECT_FALSE(job.Start(url("/shop/page").toString(), QString(1025, 'f'), {}));
}

} // namespace
