// The store page in a real browser engine at the size of the program's
// recommendation tab, live and as a saved copy under another URL scheme, and
// the icons through Qt's own picture readers.

#include "SiteFixture.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QSet>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>

using orvane::site::Program;

namespace {

constexpr char CopyScheme[] = "orvane-copy";

// Serves one page under CopyScheme, as the program shows its saved copy.
class CopyHandler : public QWebEngineUrlSchemeHandler
{
public:
    QByteArray Page;
    void requestStarted(QWebEngineUrlRequestJob *Job) override
    {
        auto *Body = new QBuffer(Job);
        Body->setData(Page);
        Body->open(QIODevice::ReadOnly);
        Job->reply("text/html", Body);
    }
};
CopyHandler *Copies = nullptr;

class QuietPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;
    QStringList Errors;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel Level, const QString &Message, int,
                                  const QString &) override
    {
        if (Level == ErrorMessageLevel)
            Errors << Message;
    }
    void javaScriptAlert(const QUrl &, const QString &) override { }
    bool javaScriptConfirm(const QUrl &, const QString &) override { return false; }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override
    {
        return false;
    }
};

bool WaitFor(const std::function<bool()> &Condition, int Ms = 20000)
{
    QElapsedTimer Timer;
    Timer.start();
    while (!Condition()) {
        if (Timer.elapsed() > Ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class StorePageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Running.Ok()) << Running.Error;
        View.setPage(Page);
        View.resize(786, 455);
        View.show();
    }

    bool Load(const QUrl &Url)
    {
        auto Done = std::make_shared<int>(-1);
        const auto Connection
            = QObject::connect(Page, &QWebEnginePage::loadFinished, [Done](bool Ok) { *Done = Ok ? 1 : 0; });
        Page->load(Url);
        const bool Finished = WaitFor([Done] { return *Done >= 0; });
        QObject::disconnect(Connection);
        return Finished && *Done == 1;
    }

    QVariant Js(const QString &Code)
    {
        auto Result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
        Page->runJavaScript(Code, [Result](const QVariant &V) { *Result = {true, V}; });
        EXPECT_TRUE(WaitFor([Result] { return Result->first; })) << Code.toStdString();
        return Result->second;
    }

    QString Visible()
    {
        return Js("Array.from(document.querySelectorAll('#list .app')).filter(r => !r.hidden)"
                  ".map(r => r.id).join(' ')")
            .toString();
    }
    void Search(const QString &Text)
    {
        Js(QStringLiteral("(function (t) { var q = document.getElementById('q'); q.value = t;"
                          " q.dispatchEvent(new Event('input')); })(%1)")
               .arg(QString("\"" + QString(Text).replace("\"", "\\\"") + "\"")));
    }
    void Click(const QString &Selector) { Js("document.querySelector('" + Selector + "').click()"); }
    bool FitsWithoutSideScrolling()
    {
        return Js("var m = document.querySelector('main');"
                  "window.innerWidth === 786 && document.documentElement.scrollWidth <= window.innerWidth"
                  " && m.scrollWidth <= m.clientWidth"
                  " && Array.from(document.querySelectorAll('.app, header, nav')).every("
                  "   e => e.hidden || e.getBoundingClientRect().right <= window.innerWidth)")
            .toBool();
    }
    // Replaces the browser's own object as the program's bridge does; calls are
    // recorded with every argument they pass.
    void InstallBridge()
    {
        Js("window.calls = []; Object.defineProperty(window, 'external', {configurable: true, value: {"
           " DownloadAndInstall: function () { window.calls.push(Array.from(arguments).join('|')); } }});");
    }
    // "|" and the digest of the program's installer as served to this client.
    std::string Digest(const char *Id) const
    {
        for (const Program &P : Running.Site.Programs())
            if (P.Id == QLatin1String(Id))
                return "|" + Running.Site.InstallerAt(P, Running.Base)->Sha256.toStdString();
        return "|?";
    }

    // The programs whose searchable text holds Word, in ranking order.
    QString Expected(const std::function<bool(const Program &)> &Keep)
    {
        QStringList Ids;
        for (const Program &P : Running.Site.Programs())
            if (Keep(P))
                Ids << P.Id;
        return Ids.join(' ');
    }

    RunningSite Running;
    QWebEngineView View;
    QuietPage *Page = new QuietPage(&View);
};

bool Mentions(const Program &P, const QString &Word)
{
    QStringList Text {P.Title, P.Description, P.Category, P.Publisher};
    Text += P.Keywords;
    return Text.join(' ').toLower().contains(Word);
}

} // namespace

TEST_F(StorePageTest, FitsTheTabFiltersInPlaceAndHandsDownloadsToTheProgram)
{
    ASSERT_TRUE(Load(QUrl(QString::fromStdString(Running.Base + "/index.php/soft_api"))));
    // Every icon, whatever its format, shows.
    EXPECT_TRUE(WaitFor([this] {
        return Js("Array.from(document.images).every(i => i.complete && i.naturalWidth === 48)").toBool();
    })) << Js("Array.from(document.images).filter(i => i.naturalWidth !== 48).map(i => i.src).join(' ')")
               .toString()
               .toStdString();
    EXPECT_TRUE(FitsWithoutSideScrolling());
    EXPECT_EQ(Visible(), Expected([](const Program &) { return true; }));
    Js("window.stillHere = 1");

    Search("zip");
    EXPECT_EQ(Visible(), "pebblezip");
    Search("  Media   PLAYER ");
    EXPECT_EQ(Visible(), "tidewave");
    Search("editor");
    EXPECT_EQ(Visible(), Expected([](const Program &P) { return Mentions(P, "editor"); }));
    // Places are counted among what is shown.
    QStringList Places;
    for (int I = 1; I <= Visible().split(' ').size(); ++I)
        Places << QString::number(I);
    EXPECT_EQ(Js("Array.from(document.querySelectorAll('#list .app')).filter(r => !r.hidden)"
                 ".map(r => r.querySelector('.rank').textContent).join(' ')")
                  .toString(),
              Places.join(' '));
    Search("nothing-like-this");
    EXPECT_EQ(Visible(), "");
    EXPECT_FALSE(Js("document.getElementById('empty').hidden").toBool());
    Search(QString(120, 'w'));
    EXPECT_TRUE(FitsWithoutSideScrolling());
    Search("");

    Click("#cats button[data-cat=games]");
    EXPECT_EQ(Visible(), Expected([](const Program &P) { return P.Category == "games"; }));
    Click("#kind button[data-kind=pay]");
    EXPECT_EQ(Visible(), Expected([](const Program &P) { return P.Category == "games" && !P.Freeware; }));
    EXPECT_EQ(Js("document.getElementById('count').textContent").toString(),
              QString::number(Visible().split(' ').size()) + " programs");
    // The categories count what the price filter lets through.
    EXPECT_EQ(Js("document.querySelector('#cats button[data-cat=all] .n').textContent").toString(),
              QString::number(Expected([](const Program &P) { return !P.Freeware; }).split(' ').size()));
    Click("#cats button[data-cat=all]");
    Click("#kind button[data-kind=free]");
    EXPECT_EQ(Visible(), Expected([](const Program &P) { return P.Freeware; }));
    Click("#kind button[data-kind=all]");
    EXPECT_TRUE(FitsWithoutSideScrolling());
    EXPECT_EQ(Js("window.stillHere").toInt(), 1); // all of it without loading a page

    InstallBridge();
    Click("#tidewave button.get");
    Click("#halvex-guard button.get");
    Click("#tidewave button.get");
    EXPECT_EQ(Js("window.calls.join('\\n')").toString(),
              QString::fromStdString("Tidewave Player|" + Running.Base + "/files/tidewave-setup.exe"
                                     + Digest("tidewave") + "\nHalvex Guard|" + Running.Base
                                     + "/files/halvex-guard-trial.exe" + Digest("halvex-guard")
                                     + "\nTidewave Player|" + Running.Base + "/files/tidewave-setup.exe"
                                     + Digest("tidewave")));
    EXPECT_TRUE(Page->Errors.isEmpty()) << Page->Errors.join('\n').toStdString();
}

// The Chinese page's script writes its headings, counts and marks in Chinese,
// finds programs by their Chinese texts and hands over their Chinese titles.
TEST_F(StorePageTest, ChinesePageFiltersAndHandsDownloadsInChinese)
{
    ASSERT_TRUE(Load(
        QUrl(QString::fromStdString(Running.Base + "/index.php/soft_api?lang=2052&kind=free&cat=games"))));
    const QString Games = Expected([](const Program &P) { return P.Category == "games" && P.Freeware; });
    EXPECT_EQ(Visible(), Games);
    auto Text = [this](const char *Id) {
        return Js(QStringLiteral("document.getElementById('%1').textContent").arg(Id)).toString();
    };
    EXPECT_EQ(Text("title"), QStringLiteral("游戏类热门免费软件"));
    EXPECT_EQ(Text("count"), QStringLiteral("%1 款软件").arg(Games.split(' ').size()));
    EXPECT_TRUE(FitsWithoutSideScrolling());

    Click("#cats button[data-cat=all]");
    Click("#kind button[data-kind=all]");
    EXPECT_EQ(Text("title"), QStringLiteral("热门软件"));
    Search(QStringLiteral("压缩"));
    EXPECT_EQ(Visible(), "pebblezip");
    Search(QStringLiteral("播放器"));
    EXPECT_EQ(Visible(), "tidewave");
    EXPECT_EQ(Text("title"), QStringLiteral("\u201c播放器\u201d的搜索结果"));
    Click("#cats button[data-cat=media]");
    EXPECT_EQ(Text("title"), QStringLiteral("影音类中\u201c播放器\u201d的搜索结果"));
    Search("zip"); // the English names still find them
    EXPECT_EQ(Visible(), "");
    Click("#cats button[data-cat=all]");
    EXPECT_EQ(Visible(), "pebblezip");

    InstallBridge();
    Click("#pebblezip button.get");
    Search("");
    Click("#tidewave button.get");
    EXPECT_EQ(Js("window.calls.join('\\n')").toString(),
              QString::fromStdString("PebbleZip|" + Running.Base + "/files/pebblezip-setup.exe"
                                     + Digest("pebblezip") + "\n")
                  + QStringLiteral("Tidewave 播放器|")
                  + QString::fromStdString(Running.Base + "/files/tidewave-setup.exe" + Digest("tidewave")));
    EXPECT_EQ(Js("document.querySelector('#tidewave button.get').textContent").toString(),
              QStringLiteral("\u2713 已添加"));
    EXPECT_TRUE(FitsWithoutSideScrolling());
    EXPECT_TRUE(Page->Errors.isEmpty()) << Page->Errors.join('\n').toStdString();
}

// A saved copy is shown from another URL scheme: its scripts must still
// filter and hand downloads, with every address pointing at the live site.
TEST_F(StorePageTest, SavedCopyWorksUnderAnotherScheme)
{
    httplib::Client Http("127.0.0.1", Running.Port);
    auto Res = Http.Get("/index.php/soft_api");
    ASSERT_TRUE(Res);
    Copies->Page = QByteArray::fromStdString(Res->body);
    ASSERT_TRUE(Load(QUrl(QString(CopyScheme) + "://topx/TopX.mht")));
    EXPECT_TRUE(FitsWithoutSideScrolling());
    Search("radio");
    EXPECT_EQ(Visible(), "lyrebox");
    InstallBridge();
    Click("#lyrebox button.get");
    EXPECT_EQ(Js("window.calls.join('\\n')").toString(),
              QString::fromStdString("Lyrebox Radio|" + Running.Base + "/files/lyrebox-setup.exe"
                                     + Digest("lyrebox")));
    EXPECT_TRUE(Page->Errors.isEmpty()) << Page->Errors.join('\n').toStdString();
}

// The recommendation panels read icons through Qt's picture readers.
TEST(SiteIcons, EveryIconDecodesWithQtReaders)
{
    orvane::site::SiteServer Site;
    QString Error;
    ASSERT_TRUE(Site.Load(SITE_ROOT, Error)) << Error.toStdString();
    QSet<QByteArray> Formats;
    QSet<QByteArray> Pictures;
    for (const Program &P : Site.Programs()) {
        SCOPED_TRACE(P.Icon.toStdString());
        const QImage Image = QImage::fromData(P.IconBytes);
        ASSERT_FALSE(Image.isNull());
        EXPECT_EQ(Image.size(), QSize(48, 48));
        Formats.insert(P.IconType.toLatin1());
        const QImage Rgb = Image.convertToFormat(QImage::Format_RGB32);
        QSet<QRgb> Colours; // a drawing, not a blank or a plain tile
        for (int Y = 0; Y < 48; ++Y)
            for (int X = 0; X < 48; ++X)
                Colours.insert(Rgb.pixel(X, Y));
        EXPECT_GT(Colours.size(), 8);
        Pictures.insert(QByteArray(reinterpret_cast<const char *>(Rgb.constBits()), Rgb.sizeInBytes()));
    }
    EXPECT_EQ(Formats, (QSet<QByteArray> {"image/png", "image/jpeg", "image/gif", "image/bmp"}));
    EXPECT_EQ(Pictures.size(), Site.Programs().size());
}

int main(int argc, char **argv)
{
    QWebEngineUrlScheme Scheme(CopyScheme);
    Scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    Scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(Scheme);
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication App(argc, argv);
    CopyHandler Handler;
    Copies = &Handler;
    QWebEngineProfile::defaultProfile()->installUrlSchemeHandler(CopyScheme, &Handler);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
