// The recommendation tab against a loopback vendor site: the copy written on
// the first run, shown first on the next, kept when the site is down, refused
// when damaged, and the live page following a language change.
#include "shell/TopXTab.h"

#include "online/PageArchive.h"
#include "online/PageCollect.h"
#include "shell/OVWebExternal.h"
#include "support/GuiApp.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"
#include "support/WebPage.h"
#include "ui/BrimWebBrowser.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

using testsupport::LoopbackServer;

using testsupport::waitUntil;

QByteArray pngBytes()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

class TopXTabTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        TBrimWebBrowser::PrepareApplication();
        testsupport::guiApp();
    }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        appPath = dir.path() + QLatin1Char('/');
        QDir().mkpath(appPath + "Files");
        startSite();
        topXUrl = QString::fromStdString(site->url("/index.php/soft_api"));
        window = std::make_unique<QWidget>();
        window->resize(794, 450);
    }

    void TearDown() override
    {
        tab.reset();
        window.reset();
        release = true;
        if (site)
            site->stop();
    }

    // The vendor's page: a title naming its version, a picture, a style sheet,
    // a script and a download button as the real page has them.
    void startSite()
    {
        site = std::make_unique<LoopbackServer>();
        auto &s = site->server;
        s.set_keep_alive_max_count(1);
        s.Get("/index.php/soft_api", [this](const httplib::Request &req, httplib::Response &r) {
            ++pageHits;
            // The browser's request waits here until the test lets it go.
            const bool hold
                = holdLive && req.get_header_value("User-Agent").find("QtWebEngine") != std::string::npos;
            if (hold)
                ++heldRequests;
            while (hold && holdLive && !release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::string version;
            {
                std::lock_guard lock(mutex);
                version = pageVersion;
            }
            r.set_content(
                "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + version
                    + "</title><link rel=\"stylesheet\" href=\"/css/page.css\">"
                      "<script src=\"/js/page.js\"></script></head><body>"
                      "<img id=\"icon\" src=\"../icons/app.png\">"
                      "<button data-title=\"Atlas Notes\" data-url=\"http://127.0.0.1:9/atlas.exe\" "
                      "onclick=\"install(this)\">Download</button></body></html>",
                "text/html; charset=UTF-8");
        });
        s.Get("/index.php/other_api", [this](const httplib::Request &, httplib::Response &r) {
            ++otherHits;
            r.set_content("<html><head><title>other</title></head></html>", "text/html");
        });
        s.Get("/css/page.css", [](const httplib::Request &, httplib::Response &r) {
            r.set_content("body { background: #fff }", "text/css");
        });
        s.Get("/js/page.js", [](const httplib::Request &, httplib::Response &r) {
            r.set_content("function install(b) {"
                          "  window.external.DownloadAndInstall(b.getAttribute('data-title'), "
                          "b.getAttribute('data-url'));"
                          "}",
                          "application/javascript");
        });
        s.Get("/icons/app.png", [](const httplib::Request &, httplib::Response &r) {
            const QByteArray png = pngBytes();
            r.set_content(png.constData(), size_t(png.size()), "image/png");
        });
        ASSERT_TRUE(site->start());
    }

    void setVersion(const std::string &v)
    {
        std::lock_guard lock(mutex);
        pageVersion = v;
    }

    TOVTopXTab &makeTab()
    {
        tab = std::make_unique<TOVTopXTab>(
            appPath + "Files/TopX.mht", [this] { return topXUrl; },
            [this](const QString &title, const QString &url, const QString &sha256) {
                tasks.push_back({title, url});
                digests.push_back(sha256);
                return QString();
            },
            window.get());
        tab->setGeometry(0, 0, 794, 450);
        window->show();
        return *tab;
    }

    QVariant js(TBrimWebBrowser *wb, const QString &code)
    {
        return testsupport::evalInPage(wb->Page(), code);
    }

    // Counts in onlineLoads the loads the online browser starts. See loadsSettled.
    void countOnlineLoads()
    {
        QObject::connect(tab->wbTopXOnline->Page(), &QWebEnginePage::loadStarted, tab.get(),
                         [this] { ++onlineLoads; });
    }

    // A script call on the online page, answered: the engine reports the start
    // of a load asked for before the call before it answers it, so onlineLoads
    // is then up to date. A load starts before anything reaches the server.
    bool loadsSettled() { return js(tab->wbTopXOnline, "true").toBool(); }

    bool saved()
    {
        return waitUntil([&] { return tab->TopXSaveDone == -1; }, 20000);
    }

    std::optional<TPageArchive> copy() { return ReadPageArchiveFile(appPath + "Files/TopX.mht"); }

    QTemporaryDir dir;
    QString appPath;
    QString topXUrl;
    std::unique_ptr<LoopbackServer> site;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<TOVTopXTab> tab;
    std::vector<std::pair<QString, QString>> tasks;
    std::vector<QString> digests; // beside tasks
    std::mutex mutex;
    std::string pageVersion = "first";
    std::atomic<int> pageHits {0};
    std::atomic<int> otherHits {0};
    std::atomic<int> heldRequests {0};
    int onlineLoads = 0;
    std::atomic<bool> holdLive {false};
    std::atomic<bool> release {false};
};

TEST_F(TopXTabTest, FirstRunShowsTheLivePageAndWritesTheCopyOnce)
{
    TOVTopXTab &t = makeTab();
    t.Activate();
    ASSERT_TRUE(t.wbTopXOnline && t.wbTopXLocal);
    EXPECT_TRUE(t.wbTopXOnline->isVisible());
    EXPECT_FALSE(t.wbTopXLocal->isVisible());
    bool savedOk = false;
    t.OnCopySaved = [&](TOVTopXTab *, bool ok) { savedOk = ok; };
    ASSERT_TRUE(saved());
    EXPECT_TRUE(savedOk);
    EXPECT_FALSE(t.TopXSaveOnce);
    const auto written = copy();
    ASSERT_TRUE(written);
    EXPECT_EQ(written->Parts.size(), 4); // page, style sheet, script, picture
    EXPECT_TRUE(written->Find(QUrl(QString::fromStdString(site->url("/icons/app.png")))));
    EXPECT_TRUE(t.wbTopXLocal->LocationURL().isEmpty()); // the copy's browser was never used

    // The live page's button adds a task.
    js(t.wbTopXOnline, "document.querySelector('button').click()");
    ASSERT_TRUE(waitUntil([&] { return tasks.size() == 1; }));
    EXPECT_EQ(tasks[0], std::make_pair(QString("Atlas Notes"), QString("http://127.0.0.1:9/atlas.exe")));

    // Coming back to the tab reloads nothing and saves nothing.
    const int hits = pageHits;
    countOnlineLoads();
    t.Deactivate();
    t.Activate();
    t.ShowTopXPage();
    ASSERT_TRUE(loadsSettled());
    EXPECT_EQ(onlineLoads, 0);
    EXPECT_EQ(pageHits, hits);
    EXPECT_TRUE(t.wbTopXOnline->isVisible());
}

TEST_F(TopXTabTest, NextRunShowsTheCopyFirstThenTheLivePageAndRenewsTheCopy)
{
    setVersion("saved copy");
    ASSERT_TRUE(SavePageArchive(topXUrl, appPath + "Files/TopX.mht").Ok);
    setVersion("live page");
    holdLive = true;

    TOVTopXTab &t = makeTab();
    t.Activate();
    EXPECT_TRUE(t.wbTopXLocal->isVisible());
    EXPECT_FALSE(t.wbTopXOnline->isVisible());
    ASSERT_TRUE(waitUntil([&] { return t.wbTopXLocal->Page()->title() == "saved copy"; }, 15000));
    EXPECT_TRUE(waitUntil(
        [&] { return js(t.wbTopXLocal, "document.getElementById('icon').naturalWidth").toInt() == 16; },
        15000));
    // The live page's request is held at the server, so it cannot have been shown yet.
    ASSERT_TRUE(waitUntil([&] { return heldRequests > 0; }, 15000));
    EXPECT_TRUE(t.wbTopXLocal->isVisible());
    EXPECT_FALSE(t.wbTopXOnline->isVisible());

    holdLive = false;
    ASSERT_TRUE(waitUntil([&] { return t.wbTopXOnline->isVisible(); }, 15000));
    EXPECT_FALSE(t.wbTopXLocal->isVisible());
    EXPECT_EQ(t.wbTopXLocal->Page()->lifecycleState(), QWebEnginePage::LifecycleState::Discarded);
    EXPECT_EQ(t.wbTopXOnline->Page()->title(), "live page");
    ASSERT_TRUE(saved());
    const auto renewed = copy();
    ASSERT_TRUE(renewed);
    EXPECT_TRUE(renewed->Root()->Body.contains("<title>live page</title>"));
}

TEST_F(TopXTabTest, WithTheSiteDownTheCopyStaysAndItsButtonsStillAddTasks)
{
    ASSERT_TRUE(SavePageArchive(topXUrl, appPath + "Files/TopX.mht").Ok);
    const QByteArray before = [&] {
        QFile f(appPath + "Files/TopX.mht");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    site->stop();

    TOVTopXTab &t = makeTab();
    bool onlineDone = false;
    t.Activate();
    QObject::connect(t.wbTopXOnline->Page(), &QWebEnginePage::loadFinished, [&] { onlineDone = true; });
    ASSERT_TRUE(waitUntil([&] { return t.wbTopXLocal->Page()->title() == "first"; }, 15000));
    // The tab handles the failed load in the same signal, before onlineDone is set.
    ASSERT_TRUE(waitUntil([&] { return onlineDone; }, 15000));
    EXPECT_TRUE(t.wbTopXLocal->isVisible());
    EXPECT_FALSE(t.wbTopXOnline->isVisible());
    EXPECT_TRUE(t.TopXSaveOnce); // nothing to save from
    EXPECT_TRUE(waitUntil(
        [&] { return js(t.wbTopXLocal, "document.getElementById('icon').naturalWidth").toInt() == 16; },
        15000));

    js(t.wbTopXLocal, "document.querySelector('button').click()");
    ASSERT_TRUE(waitUntil([&] { return tasks.size() == 1; }));
    EXPECT_EQ(tasks[0], std::make_pair(QString("Atlas Notes"), QString("http://127.0.0.1:9/atlas.exe")));

    QFile f(appPath + "Files/TopX.mht");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    // Still so after the round trips through the copy's page.
    EXPECT_TRUE(t.wbTopXLocal->isVisible());
    EXPECT_FALSE(t.wbTopXOnline->isVisible());
}

TEST_F(TopXTabTest, ADamagedCopyIsNotShownAndTheNextSaveReplacesIt)
{
    ASSERT_TRUE(SavePageArchive(topXUrl, appPath + "Files/TopX.mht").Ok);
    QFile f(appPath + "Files/TopX.mht");
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.resize(f.size() * 2 / 3); // cut off
    f.close();
    ASSERT_FALSE(copy());

    TOVTopXTab &t = makeTab();
    t.Activate();
    EXPECT_TRUE(t.wbTopXOnline->isVisible());
    EXPECT_FALSE(t.wbTopXLocal->isVisible());
    ASSERT_TRUE(saved());
    EXPECT_TRUE(copy());
    EXPECT_TRUE(t.wbTopXLocal->LocationURL().isEmpty());
}

TEST_F(TopXTabTest, ALanguageChangeReloadsTheLivePageOnlyWhileTheTabIsCurrent)
{
    TOVTopXTab &t = makeTab();
    t.ApplyTexts(); // before the first showing: nothing
    t.Activate();
    ASSERT_TRUE(saved());

    topXUrl = QString::fromStdString(site->url("/index.php/other_api"));
    countOnlineLoads();
    t.Deactivate();
    t.ApplyTexts();
    ASSERT_TRUE(loadsSettled());
    EXPECT_EQ(onlineLoads, 0);
    EXPECT_EQ(otherHits, 0);

    t.Activate();
    t.ApplyTexts();
    ASSERT_TRUE(waitUntil([&] { return t.wbTopXOnline->Page()->title() == "other"; }, 15000));
    EXPECT_EQ(otherHits, 1);
    EXPECT_TRUE(t.wbTopXOnline->isVisible());
    // Saved once per run only. The tab handles the reload's end before the state
    // is complete; after that no save runs (the tab's saver, one save at a time,
    // takes a new one) and the copy is still the first page's.
    ASSERT_TRUE(waitUntil([&] { return t.wbTopXOnline->ReadyState() == READYSTATE_COMPLETE; }, 15000));
    EXPECT_EQ(onlineLoads, 1);
    int reports = 0;
    t.OnCopySaved = [&](TOVTopXTab *, bool) { ++reports; };
    ASSERT_TRUE(t.SaveUrlAsMht(topXUrl, appPath + "probe.mht")) << "a second save was running";
    ASSERT_TRUE(waitUntil([&] { return reports == 1; }, 20000));
    EXPECT_EQ(copy()->Root()->Location.path(), "/index.php/soft_api");
}

TEST_F(TopXTabTest, TooLongAnAddressOrFileNameIsNotSaved)
{
    TOVTopXTab &t = makeTab();
    EXPECT_FALSE(t.SaveUrlAsMht(topXUrl + "?" + QString(1100, 'x'), appPath + "Files/TopX.mht"));
    EXPECT_FALSE(t.SaveUrlAsMht(topXUrl, appPath + QString(1100, 'f')));
    EXPECT_TRUE(t.SaveUrlAsMht(topXUrl, appPath + "Files/TopX.mht"));
    ASSERT_TRUE(saved());
    EXPECT_TRUE(copy());
}

// What a page hands over as the third argument: a digest in either case, none
// (two arguments, as before digests, or an empty value), or something that is
// not a digest, which adds no task.
TEST_F(TopXTabTest, PageScriptsPassADigestNoneOrGarbage)
{
    TOVTopXTab &t = makeTab();
    t.Activate();
    ASSERT_TRUE(waitUntil([&] { return t.wbTopXOnline->Page()->title() == "first"; }, 15000));
    const QString digest = QString(64, 'a').replace(0, 6, "0123AB");
    js(t.wbTopXOnline,
       "window.answers = [];"
       "function note(i, p) { p.then(function () { answers[i] = 'added'; },"
       "                             function (e) { answers[i] = 'refused: ' + e.message; }); }"
       "note(0, window.external.DownloadAndInstall('With', 'http://127.0.0.1:9/a.exe', '"
           + digest
           + "'));"
             "note(1, window.external.DownloadAndInstall('Without', 'http://127.0.0.1:9/b.exe'));"
             "note(2, window.external.DownloadAndInstall('Empty', 'http://127.0.0.1:9/c.exe', ''));"
             "note(3, window.external.DownloadAndInstall('Short', 'http://127.0.0.1:9/d.exe', 'abc123'));"
             "note(4, window.external.DownloadAndInstall('Padded', 'http://127.0.0.1:9/e.exe', ' "
           + digest + "'));");
    ASSERT_TRUE(waitUntil(
        [&] { return js(t.wbTopXOnline, "answers.filter(function (a) { return a; }).length").toInt() == 5; },
        15000));
    const QStringList answers = js(t.wbTopXOnline, "answers.join('|')").toString().split('|');
    EXPECT_EQ(answers.mid(0, 3), QStringList({"added", "added", "added"}));
    EXPECT_TRUE(answers[3].startsWith("refused: ")) << answers[3].toStdString();
    EXPECT_TRUE(answers[4].startsWith("refused: ")) << answers[4].toStdString();
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].first, "With");
    EXPECT_EQ(digests[0], digest.toLower());
    EXPECT_EQ(tasks[1].first, "Without");
    EXPECT_EQ(digests[1], QString());
    EXPECT_EQ(tasks[2].first, "Empty");
    EXPECT_EQ(digests[2], QString());
}

TEST(OVWebExternal, ArgumentsAsTextAndFailuresAsRejections)
{
    std::vector<std::pair<QString, QString>> added;
    TOVWebExternal external([&](const QString &title, const QString &url, const QString &) {
        if (title == QLatin1String("throws"))
            throw std::runtime_error("disk full");
        if (title == QLatin1String("refused"))
            return QStringLiteral("no download folder");
        added.push_back({title, url});
        return QString();
    });
    const struct
    {
        QVariant title, url;
        const char *titleText, *urlText;
    } cases[] = {
        {QVariant(), QVariant::fromValue(nullptr), "", ""},
        {QString("Atlas"), QString("http://h/a.exe"), "Atlas", "http://h/a.exe"},
        {7.0, 0.5, "7", "0.5"},
        {true, false, "true", "false"},
    };
    for (const auto &c : cases) {
        const QVariant r = external.DownloadAndInstall(c.title, c.url);
        EXPECT_NE(r.metaType(), QMetaType::fromType<TBrimScriptFault>());
        ASSERT_FALSE(added.empty());
        EXPECT_EQ(added.back(), std::make_pair(QString(c.titleText), QString(c.urlText)));
    }
    EXPECT_EQ(added.size(), 4u);
    for (const auto &[title, message] :
         {std::pair {"throws", "disk full"}, {"refused", "no download folder"}}) {
        const QVariant r = external.DownloadAndInstall(QString(title), QString("u"));
        ASSERT_EQ(r.metaType(), QMetaType::fromType<TBrimScriptFault>());
        EXPECT_EQ(r.value<TBrimScriptFault>().Message, message);
    }
    EXPECT_EQ(TOVWebExternal(nullptr).DownloadAndInstall(QString("a"), QString("b")).metaType(),
              QMetaType::fromType<TBrimScriptFault>());
}

} // namespace
