// The embedded browser on the offscreen platform: window.external for the
// allowed origins only, calls from a page's first script, no context menu, the
// masked control keys, script errors, and a page archive shown through its scheme.
#include "ui/BrimWebBrowser.h"

#include "core/MessageBoxTypes.h"
#include "online/PageArchive.h"
#include "online/PageCollect.h"
#include "online/PageMirror.h"
#include "support/GuiApp.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"
#include "support/WebPage.h"
#include "ui/BrimArchiveSchemeHandler.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

using testsupport::LoopbackServer;

using testsupport::waitUntil;

struct Call
{
    QString title, url;
};

// The host object the tests hand out: records each call; a title of "fail" is refused.
class RecordingExternal : public QObject
{
    Q_OBJECT
public:
    explicit RecordingExternal(std::vector<Call> *calls)
        : m_calls(calls)
    { }

    Q_INVOKABLE QVariant DownloadAndInstall(const QVariant &Title, const QVariant &Url)
    {
        const auto text = [](const QVariant &v) { return v.isNull() ? QString() : v.toString(); };
        if (text(Title) == QLatin1String("fail"))
            return TBrimWebBrowser::ScriptFault(QStringLiteral("no room on the disk"));
        m_calls->push_back({text(Title), text(Url)});
        return {};
    }

private:
    std::vector<Call> *m_calls;
};

std::string channelLibrary()
{
    QFile f(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

QByteArray pngBytes(QColor color)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void html(httplib::Response &r, const std::string &body)
{
    r.set_content("<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + body, "text/html; charset=UTF-8");
}

class WebBrowserTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        TBrimWebBrowser::PrepareApplication();
        testsupport::guiApp();
    }

    void SetUp() override
    {
        const std::string other = otherSite.url("");
        const std::string qwc = channelLibrary();
        auto &v = vendor.server;
        v.Get("/first", [this](const httplib::Request &, httplib::Response &r) {
            ++firstHits;
            html(r,
                 "<script>"
                 "window.external.DownloadAndInstall('One', 'http://127.0.0.1:9/one.exe');"
                 "window.external.DownloadAndInstall('One', 'http://127.0.0.1:9/one.exe')"
                 "  .then(function () { document.title = 'resolved'; });"
                 "</script></head><body>first</body></html>");
        });
        v.Get("/args", [](const httplib::Request &, httplib::Response &r) {
            html(r,
                 "<script>"
                 "var e = window.external;"
                 "e.DownloadAndInstall(null, undefined);"
                 "e.DownloadAndInstall({toString: function () { return 'object'; }}, 7);"
                 "e.DownloadAndInstall('fail', 'x').catch(function (err) { document.title = 'rejected: ' + "
                 "err.message; });"
                 "</script></head><body>args</body></html>");
        });
        v.Get("/framed", [other](const httplib::Request &, httplib::Response &r) {
            html(r,
                 "<script>window.addEventListener('message', function (m) { document.title = m.data; });"
                 "</script></head><body><iframe src=\""
                     + other + "/frame\"></iframe></body></html>");
        });
        v.Get("/redirect",
              [other](const httplib::Request &, httplib::Response &r) { r.set_redirect(other + "/page"); });
        v.Get("/later", [other](const httplib::Request &, httplib::Response &r) {
            html(r, "</head><body><a id=\"away\" href=\"" + other + "/page\">away</a></body></html>");
        });
        v.Get("/menu", [](const httplib::Request &, httplib::Response &r) {
            html(r,
                 "<style>body{margin:0} a,img{display:block;height:40px}</style><script>"
                 "window.menus = 0; window.keys = [];"
                 "document.addEventListener('contextmenu', function () { window.menus++; });"
                 "document.addEventListener('keydown', function (e) {"
                 "  if (e.key === 'Control' || e.key === 'Shift' || e.key === 'Alt') return;"
                 "  window.keys.push((e.ctrlKey ? 'C' : '') + (e.altKey ? 'A' : '') + (e.shiftKey ? 'S' : "
                 "'') + "
                 "e.key.toUpperCase());"
                 "});"
                 "</script></head><body><p style=\"height:40px;margin:0\">text</p>"
                 "<a href=\"/first\">a link</a><img src=\"/pic.png\" width=\"40\"></body></html>");
        });
        v.Get("/pic.png", [](const httplib::Request &, httplib::Response &r) {
            const QByteArray png = pngBytes(Qt::red);
            r.set_content(png.constData(), size_t(png.size()), "image/png");
        });
        v.Get("/faulty", [](const httplib::Request &, httplib::Response &r) {
            html(r,
                 "<script>var n = 0; setInterval(function () { document.title = 'tick ' + (++n); }, 20);"
                 "</script>\n<script>\n  missingFunction();\n</script></head><body>faulty</body></html>");
        });
        v.Get("/script", [](const httplib::Request &, httplib::Response &r) {
            html(r, "<script>document.title = 'scripts run';</script></head><body></body></html>");
        });

        auto &o = otherSite.server;
        const auto report = "<script>"
                            "document.title = typeof window.external.DownloadAndInstall === 'function' ? "
                            "'external' : 'none';"
                            "try { window.external.DownloadAndInstall('Other', 'u'); } catch (e) {}"
                            "</script>";
        o.Get("/page", [report](const httplib::Request &, httplib::Response &r) {
            html(r, std::string(report) + "</head><body>other</body></html>");
        });
        o.Get("/frame", [](const httplib::Request &, httplib::Response &r) {
            html(r,
                 "<script>"
                 "var seen = [typeof qt !== 'undefined' && !!qt.webChannelTransport,"
                 "            typeof window.external.DownloadAndInstall];"
                 "try { window.external.DownloadAndInstall('Frame', 'u'); } catch (e) {}"
                 "try { parent.external.DownloadAndInstall('Parent', 'u'); } catch (e) { "
                 "seen.push('denied'); }"
                 "parent.postMessage('frame: ' + seen.join(' '), '*');"
                 "</script></head><body>frame</body></html>");
        });
        // A page of another origin that talks to the channel directly.
        o.Get("/forge", [qwc](const httplib::Request &, httplib::Response &r) {
            html(r,
                 "<script>" + qwc
                     + "</script><script>"
                       "new QWebChannel(qt.webChannelTransport, function (ch) {"
                       "  ch.objects.brimHost.Invoke('DownloadAndInstall', ['Forged', 'u'], function (a) {"
                       "    document.title = 'forged: ' + (a && a.error ? 'refused' : 'accepted'); });"
                       "});</script></head><body>forge</body></html>");
        });
        // One request per connection: the engine's idle connections would hold up stopping the servers.
        v.set_keep_alive_max_count(1);
        o.set_keep_alive_max_count(1);
        ASSERT_TRUE(vendor.start());
        ASSERT_TRUE(otherSite.start());

        window = std::make_unique<QWidget>();
        window->resize(400, 300);
        wb = new TBrimWebBrowser(window.get());
        wb->setGeometry(0, 0, 400, 300);
        wb->SetNoBorder(true);
        wb->SetNoContextMenu(true);
        wb->SetScriptErrorAction(eaCancel);
        wb->SetExternalOrigins({QString::fromStdString(vendor.url(""))});
        wb->OnGetExternal = [this](TBrimWebBrowser *) { return new RecordingExternal(&calls); };
        wb->OnDocumentComplete = [this](TBrimWebBrowser *, const QUrl &) { ++completes; };
        wb->OnShowMessage = [this](TBrimWebBrowser *, const QString &text, const QString &, quint32 type) {
            boxes.push_back({text, type});
            return answer;
        };
        window->show();
    }

    void TearDown() override
    {
        window.reset();
        vendor.stop();
        otherSite.stop();
    }

    QString url(LoopbackServer &server, const char *path) { return QString::fromStdString(server.url(path)); }

    bool open(const QString &address)
    {
        const int before = completes;
        wb->Navigate(address);
        return waitUntil([&] { return completes > before; }, 15000);
    }

    bool titleIs(const QString &title, int ms = 8000)
    {
        return waitUntil([&] { return wb->Page()->title() == title; }, ms);
    }

    QVariant js(const QString &code) { return testsupport::evalInPage(wb->Page(), code); }

    struct Box
    {
        QString text;
        quint32 type;
    };

    LoopbackServer vendor;
    LoopbackServer otherSite;
    std::unique_ptr<QWidget> window;
    TBrimWebBrowser *wb = nullptr;
    std::vector<Call> calls;
    std::vector<Box> boxes;
    int answer = IDNO;
    int completes = 0;
    std::atomic<int> firstHits {0};
};

TEST_F(WebBrowserTest, FirstScriptCallsReachTheHostInOrderWithTextArguments)
{
    ASSERT_TRUE(open(url(vendor, "/first")));
    ASSERT_TRUE(titleIs("resolved"));
    ASSERT_EQ(calls.size(), 2u); // the same address twice is two calls
    for (const Call &c : calls) {
        EXPECT_EQ(c.title, "One");
        EXPECT_EQ(c.url, "http://127.0.0.1:9/one.exe");
    }

    calls.clear();
    ASSERT_TRUE(open(url(vendor, "/args")));
    ASSERT_TRUE(titleIs("rejected: no room on the disk"));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].title, "");
    EXPECT_EQ(calls[0].url, "");
    EXPECT_EQ(calls[1].title, "object");
    EXPECT_EQ(calls[1].url, "7");
    EXPECT_TRUE(js("Object.getOwnPropertyDescriptor(window, 'external').configurable === false").toBool());
}

TEST_F(WebBrowserTest, PagesAndFramesOfOtherOriginsGetNoExternal)
{
    // Another site, reached directly, by a redirect and by a link.
    ASSERT_TRUE(open(url(otherSite, "/page")));
    EXPECT_TRUE(titleIs("none"));
    ASSERT_TRUE(open(url(vendor, "/redirect")));
    EXPECT_TRUE(titleIs("none"));
    EXPECT_EQ(wb->LocationURL().port(), otherSite.port);
    ASSERT_TRUE(open(url(vendor, "/later")));
    const int before = completes;
    js("document.getElementById('away').click()");
    ASSERT_TRUE(waitUntil([&] { return completes > before; }, 15000));
    EXPECT_TRUE(titleIs("none"));

    // A frame of another origin inside the vendor's page: no transport, no
    // external of its own, no way to the parent's.
    ASSERT_TRUE(open(url(vendor, "/framed")));
    ASSERT_TRUE(titleIs("frame: false undefined denied"));

    // Talking to the channel directly from another origin is refused by the host.
    ASSERT_TRUE(open(url(otherSite, "/forge")));
    EXPECT_TRUE(titleIs("forged: refused"));
    EXPECT_TRUE(calls.empty());

    // Without a host object no page gets one, the vendor's included.
    // The page's first call then throws; its report comes through the channel
    // after anything the page sent before.
    wb->OnGetExternal = nullptr;
    std::vector<QString> errors;
    wb->OnScriptError
        = [&](TBrimWebBrowser *, const QString &, const QString &, const QString &, const QString &message,
              const QString &, TScriptErrorAction &) { errors.push_back(message); };
    ASSERT_TRUE(open(url(vendor, "/first")));
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }, 15000));
    EXPECT_TRUE(errors[0].contains("DownloadAndInstall is not a function")) << qPrintable(errors[0]);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(wb->External(), nullptr);
}

TEST_F(WebBrowserTest, NoContextMenuAnywhereAndMaskedControlKeysSwallowed)
{
    std::vector<QChar> masked;
    wb->OnMaskedCtrlChar = [&](TBrimWebBrowser *, QChar c) { masked.push_back(c); };
    ASSERT_TRUE(open(url(vendor, "/menu")));
    ASSERT_TRUE(waitUntil([&] { return js("document.images[0].complete").toBool(); }));
    ASSERT_TRUE(waitUntil([&] { return wb->View()->focusProxy() != nullptr; }));
    QWidget *surface = wb->View()->focusProxy();

    // The menu exists when allowed, so its absence below means something.
    wb->SetNoContextMenu(false);
    QTest::mouseClick(surface, Qt::RightButton, {}, QPoint(20, 20));
    ASSERT_TRUE(
        waitUntil([] { return qobject_cast<QMenu *>(QApplication::activePopupWidget()) != nullptr; }));
    QApplication::activePopupWidget()->close();
    ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() == nullptr; }));

    wb->SetNoContextMenu(true);
    const int before = js("window.menus").toInt();
    int expected = before;
    for (const QPoint at : {QPoint(20, 20), QPoint(20, 60), QPoint(20, 100)}) { // text, link, picture
        QTest::mouseClick(surface, Qt::RightButton, {}, at);
        ++expected;
        // The page counted the event before it asked for the menu, in the same
        // dispatch, so the answer carrying the count comes after that request.
        ASSERT_TRUE(waitUntil([&] { return js("window.menus").toInt() == expected; })) << at.y();
        ASSERT_TRUE(testsupport::flushQueuedCalls());
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << at.y();
    }

    surface->setFocus();
    QTest::keyClick(surface, Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(surface, Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(surface, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(surface, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(surface, Qt::Key_Z);
    ASSERT_TRUE(waitUntil([&] { return js("window.keys.join(',')").toString().endsWith("Z"); }));
    EXPECT_EQ(js("window.keys.join(',')").toString(), "CSN,CM,Z");
    EXPECT_EQ(masked, (std::vector<QChar> {u'N', u'N'}));
    // No extra windows: one a script opens (after the keys the page may ask for
    // one) is closed at once and loads nothing.
    js("window.opened = window.open('/first')");
    EXPECT_TRUE(waitUntil([&] { return js("window.opened === null || window.opened.closed").toBool(); }));
    EXPECT_EQ(firstHits, 0);
    EXPECT_EQ(wb->Page()->url().path(), "/menu"); // nothing opened, nothing navigated
}

TEST_F(WebBrowserTest, ScriptErrorsReportFiveFieldsAndStopOrContinueAsChosen)
{
    struct Case
    {
        TScriptErrorAction action;
        int answer;
        bool asked;
        bool keepsRunning;
    } cases[] = {
        {eaCancel, IDNO, false, false},
        {eaContinue, IDNO, false, true},
        {eaAskUser, IDNO, true, false},
        {eaAskUser, IDYES, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.action) * 10 + c.answer);
        boxes.clear();
        answer = c.answer;
        wb->SetScriptErrorAction(c.action);
        std::vector<QStringList> errors;
        wb->OnScriptError
            = [&](TBrimWebBrowser *, const QString &line, const QString &character, const QString &code,
                  const QString &message, const QString &address, TScriptErrorAction &action) {
                  errors.push_back({line, character, code, message, address});
                  EXPECT_EQ(action, c.action);
              };
        ASSERT_TRUE(open(url(vendor, "/faulty")));
        ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
        EXPECT_EQ(errors[0],
                  (QStringList {"3", "3", "ReferenceError",
                                "Uncaught ReferenceError: missingFunction is "
                                "not defined",
                                url(vendor, "/faulty")}));
        EXPECT_EQ(boxes.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONWARNING);
        }
        // The page's timer either goes on or has stopped. Stopped scripts refuse
        // our probe too; the title comes through the same channel as the
        // probe's answer, so once that is refused the last tick is shown.
        const auto probe = [&] { return js("typeof n"); };
        if (c.keepsRunning) {
            ASSERT_EQ(probe().toString(), "number");
            const int ticks = js("n").toInt();
            EXPECT_TRUE(waitUntil([&] { return js("n").toInt() > ticks; }));
        } else {
            ASSERT_TRUE(waitUntil([&] { return !probe().isValid(); })) << "the page's scripts still run";
            const QString then = wb->Page()->title();
            EXPECT_FALSE(probe().isValid());
            EXPECT_EQ(wb->Page()->title(), then);
        }
    }
    // The next page runs its scripts again, here a local file given by its path.
    QTemporaryDir dir;
    QFile local(dir.filePath("local.html"));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write("<html><head><script>document.title = 'local file';</script></head></html>");
    local.close();
    ASSERT_TRUE(open(local.fileName()));
    EXPECT_TRUE(titleIs("local file"));

    // Without scripts the same page runs none: its script would have run
    // before the page finished loading, and our probe is refused as well.
    wb->SetNoScript(true);
    ASSERT_TRUE(open(url(vendor, "/script")));
    EXPECT_FALSE(js("true").isValid());
    EXPECT_NE(wb->Page()->title(), "scripts run");
    wb->SetNoScript(false);
    ASSERT_TRUE(waitUntil([&] { return wb->Page()->title() == "scripts run"; })); // reloaded with scripts
}

TEST_F(WebBrowserTest, ArchiveCopyRunsItsScriptsAndCallsTheHostWithTheSiteGone)
{
    auto &v = vendor.server;
    v.Get("/shop", [](const httplib::Request &, httplib::Response &r) {
        html(
            r,
            "<title>Caf\xc3\xa9</title><link rel=\"stylesheet\" href=\"css/shop.css\">"
            "<script src=\"/js/shop.js\"></script></head><body>"
            "<img id=\"logo\" src=\"/img/logo.png\"><div id=\"tile\"></div>"
            "<button onclick=\"window.external.DownloadAndInstall('From copy', 'http://127.0.0.1:9/c.exe')\">"
            "Download</button></body></html>");
    });
    v.Get("/css/shop.css", [](const httplib::Request &, httplib::Response &r) {
        r.set_content("#tile { width: 8px; height: 8px; background: url(../img/tile.png) }", "text/css");
    });
    v.Get("/js/shop.js", [](const httplib::Request &, httplib::Response &r) {
        r.set_content("window.external.DownloadAndInstall('From script', 'http://127.0.0.1:9/s.exe');"
                      "window.shopScript = location.origin;",
                      "application/javascript");
    });
    for (const char *path : {"/img/logo.png", "/img/tile.png"}) {
        v.Get(path, [](const httplib::Request &, httplib::Response &r) {
            const QByteArray png = pngBytes(Qt::blue);
            r.set_content(png.constData(), size_t(png.size()), "image/png");
        });
    }
    TPageArchive archive;
    ASSERT_TRUE(CollectPageArchive(QUrl(url(vendor, "/shop")), archive).Ok);
    ASSERT_EQ(archive.Parts.size(), 5);
    vendor.stop();

    QWebEngineProfile profile;
    auto copy = std::make_unique<TBrimWebBrowser>(window.get(), &profile);
    TBrimArchiveSchemeHandler handler(&profile);
    handler.SetArchive(std::make_shared<const TPageArchive>(archive));
    const QUrl page = handler.PageUrl();
    copy->SetExternalOrigins({page.toString()});
    copy->OnGetExternal = [this](TBrimWebBrowser *) { return new RecordingExternal(&calls); };
    bool complete = false;
    int stateAtComplete = -1;
    copy->OnDocumentComplete = [&](TBrimWebBrowser *sender, const QUrl &) {
        complete = true;
        stateAtComplete = sender->ReadyState();
    };
    copy->setGeometry(0, 0, 400, 300);
    copy->show();
    copy->Navigate(page.toString());
    ASSERT_TRUE(waitUntil([&] { return complete; }, 15000));
    EXPECT_EQ(stateAtComplete, READYSTATE_INTERACTIVE); // a document arrived
    EXPECT_EQ(copy->ReadyState(), READYSTATE_COMPLETE);
    EXPECT_EQ(copy->Page()->title(), QString::fromUtf8("Caf\xc3\xa9"));

    const auto eval = [&](const QString &code) { return testsupport::evalInPage(copy->Page(), code); };
    EXPECT_EQ(eval("window.shopScript").toString(), UrlOriginText(page));
    EXPECT_TRUE(waitUntil([&] { return eval("document.getElementById('logo').naturalWidth").toInt() == 8; }));
    EXPECT_NE(eval("getComputedStyle(document.getElementById('tile')).backgroundImage")
                  .toString()
                  .indexOf("orvane-mht://"),
              -1);
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 1; }));
    EXPECT_EQ(calls[0].title, "From script");
    eval("document.querySelector('button').click()");
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls[1].title, "From copy");

    // Addresses past the length limit are refused.
    complete = false;
    copy->Navigate(page.toString() + "?" + QString(1100, 'x'));
    ASSERT_TRUE(waitUntil([&] { return complete; }, 15000));
    EXPECT_EQ(stateAtComplete, READYSTATE_COMPLETE); // nothing new to show
    copy.reset(); // the page goes before its profile
}

} // namespace

#include "BrimWebBrowserTest.moc"
