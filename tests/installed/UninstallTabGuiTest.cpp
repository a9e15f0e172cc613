#include "core/BrimMultiLangs.h"
#include "core/MessageBoxTypes.h"
#include "core/OVDefaultTexts.h"
#include "installed/FlatpakSource.h"
#include "installed/UninstManager.h"
#include "installed/tab/UninstallTab.h"
#include "platform/Registry.h"
#include "support/Files.h"
#include "support/GuiApp.h"
#include "support/LoopbackServer.h"
#include "support/RecordingLauncher.h"
#include "support/ScratchPackages.h"
#include "support/Wait.h"
#include "ui/BrimImageButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QUrlQuery>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>

using namespace platform;

namespace {

using testsupport::LoopbackServer;

using testsupport::flushQueuedCalls;
using testsupport::guiApp;
using testsupport::waitUntil;

using testsupport::writeFile;

QByteArray entry(const char *key, const QByteArray &values)
{
    return QByteArray("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\") + key
        + "] 1\n" + values;
}

// The web API on loopback: answers by the keywords asked for, optionally late.
class Api
{
public:
    Api()
    {
        srv.server.Post("/api", [this](const httplib::Request &req, httplib::Response &res) {
            const QUrlQuery q(QUrl(QString::fromStdString("http://x" + req.target)));
            const QString keywords = q.queryItemValue(QStringLiteral("keywords"), QUrl::FullyDecoded);
            std::string body;
            int delay = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                asked << keywords;
                body = answers.value(keywords, fallback);
                delay = delays.value(keywords, 0);
            }
            if (delay)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            res.set_content(QUrl::toPercentEncoding(QString::fromStdString(body)).toStdString(), "text/html");
            std::lock_guard<std::mutex> lock(mutex);
            answered << keywords;
        });
        started = srv.start();
    }
    QStringList askedSoFar()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return asked;
    }
    // The keywords whose answer the server has finished (sent, or found nobody listening).
    QStringList answeredSoFar()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return answered;
    }
    QString url() const { return QString::fromStdString(srv.url("/api")); }

    std::mutex mutex;
    QHash<QString, std::string> answers;
    QHash<QString, int> delays;
    std::string fallback = R"({"result":"failure"})";
    QStringList asked;
    QStringList answered;
    LoopbackServer srv;
    bool started = false;
};

const char *const kFullAnswer = R"({"result":"success",
  "top3_pay":{"more_url":"http://127.0.0.1:9/more-pay","count":5,"items":[
    {"title":"P0","description":"paid zero","icon_url":"","details_url":"http://127.0.0.1:9/d0","download_url":"http://127.0.0.1:9/p0.sh","sha256":"0000000000000000000000000000000000000000000000000000000000ABCDEF","purchase_url":"http://127.0.0.1:9/buy0"},
    {"title":"P1","description":"paid one","download_url":"","purchase_url":"http://127.0.0.1:9/buy1"},
    {"title":"P2"},{"title":"P3"}]},
  "top3_free":{"more_url":"http://127.0.0.1:9/more-free","items":[{"title":"F0","download_url":"http://127.0.0.1:9/f0.sh"}]}})";

class UninstallTab : public ::testing::Test
{
protected:
    void SetUp() override
    {
        guiApp();
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        SetOVMultiLangs(&langs);
        setRegistryDirectory(dir.path() + QStringLiteral("/Registry"));
        ASSERT_TRUE(api.started);
        web.APIUrl = api.url();
        web.Encrypt = false;
        web.TotalTimeoutMs = 10000;
    }
    void TearDown() override
    {
        tab.reset();
        mgr.reset();
        SetOVMultiLangs(nullptr);
        setRegistryDirectory(QString());
    }
    void user(const QByteArray &entries)
    {
        ASSERT_TRUE(writeFile(dir.path() + QStringLiteral("/Registry/HKEY_CURRENT_USER.reg"),
                              "WINE REGISTRY Version 2\n" + entries));
    }
    void open()
    {
        mgr = std::make_unique<TUninstManager>();
        if (!sources.empty()) {
            mgr->SetSources(std::move(sources));
            mgr->SetShowSystemComponents(true);
        }
        tab = std::make_unique<TOVUninstallTab>(mgr.get());
        if (removal)
            tab->PackageRemover().SetBackend(removal);
        tab->WebAPI = &web;
        tab->MessageBox = [this](QWidget *, const QString &text, const QString &caption, unsigned type) {
            boxes << QStringLiteral("%1|%2|%3").arg(caption, text).arg(type, 0, 16);
            return answer;
        };
        tab->AddDownloadTask = [this](const QString &title, const QString &url, const QString &sha256) {
            tasks << title + u'|' + url;
            digests << sha256;
        };
        tab->resize(780, 460);
        tab->show();
        tab->FirstActivate();
    }
    QStringList captions()
    {
        QStringList out;
        for (int i = 0; i < tab->lvUninst()->topLevelItemCount(); ++i) {
            QTreeWidgetItem *row = tab->lvUninst()->topLevelItem(i);
            if (!row->text(0).isEmpty())
                out << row->text(0);
        }
        return out;
    }
    QTreeWidgetItem *row(const QString &caption)
    {
        for (int i = 0; i < tab->lvUninst()->topLevelItemCount(); ++i)
            if (tab->lvUninst()->topLevelItem(i)->text(0) == caption)
                return tab->lvUninst()->topLevelItem(i);
        return nullptr;
    }
    void select(const QString &caption)
    {
        QTreeWidgetItem *r = row(caption);
        ASSERT_NE(r, nullptr) << caption.toStdString();
        tab->lvUninst()->setCurrentItem(r);
    }
    QString selectedCaption()
    {
        const auto rows = tab->lvUninst()->selectedItems();
        return rows.isEmpty() ? QString() : rows.first()->text(0);
    }

    QTemporaryDir dir;
    TBrimMultiLangs langs;
    Api api;
    TWebAPIClient web;
    RecordingLauncher launcher;
    std::unique_ptr<TUninstManager> mgr;
    std::unique_ptr<TOVUninstallTab> tab;
    QStringList boxes;
    QStringList tasks;
    QStringList digests; // beside tasks
    int answer = IDNO;
    // Set before open(): the manager's sources (system components shown) and the tab's package removal.
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    std::shared_ptr<const platform::IPackageRemoval> removal;
};

} // namespace

TEST_F(UninstallTab, ListFillShowsProgramsAndOrphanedUpdates)
{
    user(entry("App",
               "\"DisplayName\"=\"Editor\"\n\"UninstallString\"=\"/bin/true\"\n\"Publisher\"=\"Maker\"\n")
         + entry("AppUpdate", "\"DisplayName\"=\"Editor Update\"\n\"ParentDisplayName\"=\"Editor\"\n")
         + entry("Orphan1", "\"DisplayName\"=\"Fix 1\"\n\"ParentDisplayName\"=\"Old Suite\"\n")
         + entry("Orphan2", "\"DisplayName\"=\"Fix 2\"\n\"ParentDisplayName\"=\"Old Suite\"\n")
         + entry("Terminal",
                 "\"DisplayName\"=\"Server "
                 "Part\"\n\"TSAware\"=dword:00000001\n\"UninstallString\"=\"/bin/true\"\n")
         + entry("Nameless", "\"DisplayName\"=\"\"\n\"UninstallString\"=\"/bin/true\"\n"));
    open();
    EXPECT_EQ(captions(),
              (QStringList {QStringLiteral("(Unknown Name)"), QStringLiteral("Editor"),
                            QStringLiteral("Fix 1"), QStringLiteral("Fix 2")}));
    EXPECT_EQ(tab->lblUninstStatus()->text(), QStringLiteral("Applications: 4"));
    EXPECT_EQ(row(QStringLiteral("Editor"))->text(1), QStringLiteral("Maker"));

    // The selected row's panel and the details follow the selection; a nameless entry shows the missing-name
    // text.
    select(QStringLiteral("(Unknown Name)"));
    EXPECT_TRUE(waitUntil([&] { return tab->pnlUninstSelItem()->isVisible(); }));
    EXPECT_EQ(tab->lblUninstSelItemTitle()->text(), QStringLiteral("(Unknown Name)"));
    EXPECT_EQ(tab->DetailValue("NameV")->text(), QStringLiteral("(Unknown Name)"));

    // Hiding the details gives their room to the list; showing them refreshes them.
    const int listHeight = tab->lvUninst()->height();
    tab->ToggleDetails();
    EXPECT_TRUE(tab->DetailsHidden());
    EXPECT_FALSE(tab->pnlUninstDetails()->isVisible());
    EXPECT_GT(tab->lvUninst()->height(), listHeight);
    EXPECT_TRUE(tab->lblUninstShowDetails()->text().contains(QStringLiteral("Show details")));
    select(QStringLiteral("Editor"));
    EXPECT_EQ(tab->DetailValue("NameV")->text(), QStringLiteral("(Unknown Name)"))
        << "hidden details are not updated";
    tab->ToggleDetails();
    EXPECT_EQ(tab->lvUninst()->height(), listHeight);
    EXPECT_EQ(tab->DetailValue("NameV")->text(), QStringLiteral("Editor"));
    EXPECT_EQ(tab->DetailValue("PublisherV")->text(), QStringLiteral("Maker"));

    // Sorting by name: the first click sorts ascending, the next descending; by publisher likewise.
    tab->ColumnClick(0);
    EXPECT_EQ(captions().first(), QStringLiteral("(Unknown Name)"));
    tab->ColumnClick(0);
    EXPECT_EQ(captions(),
              (QStringList {QStringLiteral("Fix 2"), QStringLiteral("Fix 1"), QStringLiteral("Editor"),
                            QStringLiteral("(Unknown Name)")}));
    EXPECT_EQ(selectedCaption(), QStringLiteral("Editor")) << "the selection survives sorting";
    tab->ColumnClick(1);
    EXPECT_EQ(captions().last(), QStringLiteral("Editor"));
}

TEST_F(UninstallTab, DetailLinksAndTheirFailures)
{
    const QString deep
        = dir.path() + QStringLiteral("/Programs/A folder with a long descriptive name/v1.2.3");
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString longName = QStringLiteral("Linked Suite Professional Edition with Extras and Add-ons");
    user(entry("A",
               "\"DisplayName\"=\"Linked\"\n\"InstallLocation\"=\"" + QFile::encodeName(dir.path())
                   + "\"\n\"HelpLink\"=\" \"\n\"URLUpdateInfo\"=\"http://127.0.0.1:9/update\"\n"
                     "\"InstallDate\"=\"20100315\"\n")
         + entry("B", "\"DisplayName\"=\"Unlinked\"\n\"InstallLocation\"=\"/nonexistent/folder\"\n")
         + entry("C",
                 "\"DisplayName\"=\"" + longName.toUtf8() + "\"\n\"InstallLocation\"=\""
                     + QFile::encodeName(deep) + "\"\n"));
    open();
    select(QStringLiteral("Linked"));
    EXPECT_FALSE(tab->DetailValue("DateV")->text().isEmpty());
    EXPECT_EQ(tab->DetailValue("LinkV")->text(), QStringLiteral("http://127.0.0.1:9/update"));
    tab->OpenLocation();
    tab->OpenLink();
    EXPECT_EQ(launcher.calls,
              (QStringList {QStringLiteral("folder|") + dir.path() + u'/',
                            QStringLiteral("open|http://127.0.0.1:9/update")}));
    EXPECT_TRUE(boxes.isEmpty());

    // Values too long for their labels are elided on screen; opening uses the whole text.
    select(longName);
    const QString shownName = tab->DetailValue("NameV")->text();
    EXPECT_TRUE(shownName.endsWith(QChar(0x2026))) << shownName.toStdString();
    EXPECT_EQ(tab->DetailValue("NameV")->toolTip(), longName);
    EXPECT_TRUE(tab->DetailValue("LocationV")->text().contains(QChar(0x2026)));
    EXPECT_TRUE(tab->DetailValue("LocationV")->text().endsWith(QStringLiteral("v1.2.3")));
    launcher.calls.clear();
    tab->OpenLocation();
    EXPECT_EQ(launcher.calls, QStringList {QStringLiteral("folder|") + deep + u'/'});

    select(QStringLiteral("Unlinked"));
    EXPECT_TRUE(tab->DetailValue("DateV")->text().isEmpty());
    EXPECT_TRUE(tab->DetailValue("LinkV")->isHidden());
    tab->OpenLocation();
    tab->OpenLink();
    EXPECT_EQ(boxes,
              (QStringList {QStringLiteral("Failure|Failure to open directory!|10"),
                            QStringLiteral("Failure|Failure to open the link!|10")}));
}

TEST_F(UninstallTab, SearchFindsOneMatchPerClickThenStartsAgain)
{
    user(entry("1", "\"DisplayName\"=\"Alpha Tool\"\n") + entry("2", "\"DisplayName\"=\"Beta\"\n")
         + entry("3", "\"DisplayName\"=\"Gamma TOOLS\"\n") + entry("4", "\"DisplayName\"=\"Zeta tool\"\n"));
    open();
    EXPECT_TRUE(tab->SearchShowsPlaceholder());
    EXPECT_EQ(tab->edtUninstSearch()->text(), QStringLiteral("Software Name"));

    // Typing replaces the placeholder.
    tab->edtUninstSearch()->setFocus();
    QTest::keyClicks(tab->edtUninstSearch(), QStringLiteral("tool"));
    EXPECT_EQ(tab->edtUninstSearch()->text(), QStringLiteral("tool"));
    EXPECT_FALSE(tab->SearchShowsPlaceholder());

    QStringList found;
    for (int i = 0; i < 3; ++i) {
        tab->CommandSearch();
        found << selectedCaption();
    }
    EXPECT_EQ(found,
              (QStringList {QStringLiteral("Alpha Tool"), QStringLiteral("Gamma TOOLS"),
                            QStringLiteral("Zeta tool")}));
    EXPECT_TRUE(boxes.isEmpty());
    tab->CommandSearch();
    EXPECT_EQ(boxes, QStringList {QStringLiteral("Information|Can not find \"tool\".|40")});
    EXPECT_EQ(tab->NextSearchPosition(), 0);
    QTest::keyClick(tab->edtUninstSearch(), Qt::Key_Return); // Enter searches like the button
    EXPECT_EQ(selectedCaption(), QStringLiteral("Alpha Tool"));

    // Emptying the box puts the placeholder back; searching then looks for the placeholder itself.
    tab->edtUninstSearch()->clear();
    EXPECT_TRUE(tab->SearchShowsPlaceholder());
    EXPECT_EQ(tab->edtUninstSearch()->text(), QStringLiteral("Software Name"));
    boxes.clear();
    tab->CommandSearch();
    EXPECT_EQ(boxes, QStringList {QStringLiteral("Information|Can not find \"Software Name\".|40")});
}

TEST_F(UninstallTab, UninstallAndRemoval)
{
    const QString marker = dir.path() + QStringLiteral("/uninstalled");
    const QString script = dir.path() + QStringLiteral("/uninstall.sh");
    // The uninstaller leaves a grandchild working on after it ends.
    ASSERT_TRUE(writeFile(script, "#!/bin/sh\n(sleep 0.3; touch \"$1\") >/dev/null 2>&1 &\nexit 0\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    user(entry("Real",
               "\"DisplayName\"=\"Real\"\n\"UninstallString\"=\"'" + QFile::encodeName(script) + "' '"
                   + QFile::encodeName(marker) + "'\"\n")
         + entry("Dead", "\"DisplayName\"=\"Dead\"\n"));
    open();
    select(QStringLiteral("Real"));
    answer = IDNO;
    tab->CommandUninstall();
    EXPECT_EQ(
        boxes,
        QStringList {QStringLiteral("Question|Are you sure you want to uninstall this application?|124")});
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(mgr->RunningUninstalls(), 0);

    answer = IDYES;
    tab->CommandUninstall();
    EXPECT_EQ(mgr->RunningUninstalls(), 1);
    ASSERT_TRUE(waitUntil([&] { return mgr->RunningUninstalls() == 0; }));
    EXPECT_TRUE(QFileInfo::exists(marker)) << "the list was rebuilt before the uninstaller's processes ended";
    EXPECT_TRUE(tab->lvUninst()->selectedItems().isEmpty()) << "the list was rebuilt";
    // Nothing shows the removed program any more.
    for (const char *value : {"NameV", "PublisherV", "VersionV", "DateV"})
        EXPECT_TRUE(tab->DetailValue(value)->text().isEmpty()) << value;
    EXPECT_TRUE(tab->DetailValue("LocationV")->isHidden());
    EXPECT_FALSE(tab->pnlUninstSelItem()->isVisible());
    EXPECT_FALSE(tab->Top3Pending());

    // An entry without an uninstaller is offered for removal from the list.
    boxes.clear();
    select(QStringLiteral("Dead"));
    tab->CommandUninstall();
    EXPECT_EQ(boxes,
              QStringList {QStringLiteral("Question|Cannot uninstall this application, do you want to remove "
                                          "this item from the list?|124")});
    EXPECT_FALSE(RegKeyExists(TUninstManager::UninstallRoots().at(1) + QStringLiteral("Dead")));
    EXPECT_EQ(captions(), QStringList {QStringLiteral("Real")});
    EXPECT_EQ(tab->lblUninstStatus()->text(), QStringLiteral("Applications: 1"));
}

TEST_F(UninstallTab, RecommendationPanels)
{
    user(entry("1", "\"DisplayName\"=\"Full\"\n") + entry("2", "\"DisplayName\"=\"Broken\"\n")
         + entry("3", "\"DisplayName\"=\"Slow\"\n") + entry("4", "\"DisplayName\"=\"Quick\"\n"));
    {
        std::lock_guard<std::mutex> lock(api.mutex);
        api.answers.insert(QStringLiteral("Full"), kFullAnswer);
        api.answers.insert(QStringLiteral("Broken"), R"({"top3_pay":{"count":1,"items":[{"title":"X"}]}})");
        api.answers.insert(QStringLiteral("Slow"), kFullAnswer);
        api.delays.insert(QStringLiteral("Slow"), 1500);
        api.answers.insert(QStringLiteral("Quick"),
                           R"({"result":"success","top3_free":{"count":1,"items":[{"title":"Q"}]}})");
    }
    open();
    EXPECT_EQ(tab->lblTop3PayWares()->text(), QStringLiteral("Recommended paid software 0"));

    select(QStringLiteral("Full"));
    ASSERT_TRUE(waitUntil([&] { return !tab->Top3Pending(); }));
    EXPECT_EQ(tab->lblTop3PayWares()->text(), QStringLiteral("Recommended paid software 3"));
    EXPECT_EQ(tab->lblTop3FreeWares()->text(), QStringLiteral("Recommended free software 0"))
        << "no count: nothing shown";
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(tab->Top3Slot(true, i).Valid);
        EXPECT_TRUE(tab->Top3Panel(true, i)->text().isEmpty());
        EXPECT_FALSE(tab->Top3Button(true, i)->isHidden());
        EXPECT_FALSE(tab->Top3Slot(false, i).Valid);
        EXPECT_EQ(tab->Top3Panel(false, i)->text(), QStringLiteral("..."));
        EXPECT_TRUE(tab->Top3Button(false, i)->isHidden());
    }
    EXPECT_EQ(tab->Top3Button(true, 0)->Caption(), QStringLiteral("Download"));
    EXPECT_EQ(tab->Top3Button(true, 1)->Caption(), QStringLiteral("Purchase"));

    // Purchase opens the purchase page and makes no task; Download makes one.
    tab->Top3ButtonClick(true, 1);
    EXPECT_TRUE(tasks.isEmpty());
    EXPECT_EQ(launcher.calls, QStringList {QStringLiteral("open|http://127.0.0.1:9/buy1")});
    tab->Top3ButtonClick(true, 0);
    EXPECT_EQ(tasks, QStringList {QStringLiteral("P0|http://127.0.0.1:9/p0.sh")});
    EXPECT_EQ(digests, QStringList {QString(58, '0') + "abcdef"}); // the answer's digest, in stored form
    tab->Top3IconClick(true, 0);
    tab->Top3MoreClick(true);
    EXPECT_EQ(launcher.calls.mid(1),
              (QStringList {QStringLiteral("open|http://127.0.0.1:9/d0"),
                            QStringLiteral("open|http://127.0.0.1:9/more-pay")}));

    // A failed call shows six empty panels.
    select(QStringLiteral("Broken"));
    ASSERT_TRUE(waitUntil([&] { return !tab->Top3Pending(); }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tab->Top3Panel(true, i)->text(), QStringLiteral("..."));
        EXPECT_EQ(tab->Top3Panel(false, i)->text(), QStringLiteral("..."));
    }
    EXPECT_EQ(tab->lblTop3PayWares()->text(), QStringLiteral("Recommended paid software 0"));

    // While a request is pending nothing of the previous answer is shown or clickable.
    select(QStringLiteral("Full"));
    ASSERT_TRUE(waitUntil([&] { return !tab->Top3Pending(); }));
    ASSERT_TRUE(tab->Top3Slot(true, 0).Valid);
    tasks.clear();
    launcher.calls.clear();
    QElapsedTimer clock;
    clock.start();
    select(QStringLiteral("Slow"));
    EXPECT_LT(clock.elapsed(), 1000) << "the window waited for the web API";
    EXPECT_TRUE(tab->Top3Pending());
    EXPECT_EQ(tab->lblTop3PayWares()->text(), QStringLiteral("Recommended paid software 0"));
    for (int i = 0; i < 3; ++i)
        for (bool pay : {true, false}) {
            EXPECT_FALSE(tab->Top3Slot(pay, i).Valid);
            EXPECT_TRUE(tab->Top3Button(pay, i)->isHidden());
            tab->Top3ButtonClick(pay, i);
            tab->Top3IconClick(pay, i);
        }
    EXPECT_TRUE(tasks.isEmpty()) << "a download of an empty slot";
    EXPECT_TRUE(launcher.calls.isEmpty());
    const TTop3Requests::CancelFlag slowFlag = tab->Top3Requests().CurrentCancelFlag();
    ASSERT_NE(slowFlag, nullptr);
    // The slow request is on the server before the next selection supersedes it.
    ASSERT_TRUE(waitUntil([&] { return api.askedSoFar().contains(QStringLiteral("Slow")); }));

    // A new selection cancels the pending request; its late answer is dropped, and the window never waits.
    clock.restart();
    select(QStringLiteral("Quick"));
    EXPECT_LT(clock.elapsed(), 1000) << "the window waited for the web API";
    EXPECT_TRUE(slowFlag->load()) << "the superseded request was not cancelled";
    ASSERT_TRUE(waitUntil([&] { return api.askedSoFar().contains(QStringLiteral("Quick")); }));
    ASSERT_TRUE(waitUntil([&] { return !tab->Top3Pending(); }));
    EXPECT_EQ(tab->lblTop3FreeWares()->text(), QStringLiteral("Recommended free software 1"));
    // The slow answer has been sent and every worker has reported back: it changed nothing.
    ASSERT_TRUE(waitUntil([&] { return api.answeredSoFar().contains(QStringLiteral("Slow")); }));
    ASSERT_TRUE(waitUntil([&] { return tab->Top3Requests().Finished() == tab->Top3RequestsStarted(); }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(tab->lblTop3FreeWares()->text(), QStringLiteral("Recommended free software 1"));
    EXPECT_EQ(tab->lblTop3PayWares()->text(), QStringLiteral("Recommended paid software 0"));
    EXPECT_EQ(tab->Top3Slot(false, 0).Title, QStringLiteral("Q"));

    // Switched off: panels empty at once, and a new selection asks nothing.
    tab->chkTop3Disabled()->click();
    EXPECT_TRUE(tab->Top3Panel(false, 0)->text().isEmpty());
    EXPECT_TRUE(tab->Top3Button(false, 0)->isHidden());
    const int asked = int(api.askedSoFar().size());
    const int started = tab->Top3RequestsStarted();
    select(QStringLiteral("Full"));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_FALSE(tab->Top3Pending());
    EXPECT_EQ(tab->Top3RequestsStarted(), started);
    EXPECT_EQ(api.askedSoFar().size(), asked);
}

TEST_F(UninstallTab, TabGoneBeforeTheAnswerArrives)
{
    user(entry("1", "\"DisplayName\"=\"Slow\"\n"));
    {
        std::lock_guard<std::mutex> lock(api.mutex);
        api.answers.insert(QStringLiteral("Slow"), kFullAnswer);
        api.delays.insert(QStringLiteral("Slow"), 400);
    }
    open();
    select(QStringLiteral("Slow"));
    ASSERT_TRUE(waitUntil([&] { return api.askedSoFar().size() == 1; }));
    const TTop3Requests::CancelFlag flag = tab->Top3Requests().CurrentCancelFlag();
    ASSERT_NE(flag, nullptr);
    tab.reset();
    EXPECT_TRUE(flag->load()) << "the request outlived the tab";
    // The answer comes to nobody: once it is sent and what was queued has run, nothing happened.
    ASSERT_TRUE(waitUntil([&] { return api.answeredSoFar().size() == 1; }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_TRUE(tasks.isEmpty());
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_TRUE(launcher.calls.isEmpty());
}

// Clicks on the selected row's panel that none of its buttons take stay on the
// panel: the selection stays, and no new recommendation request starts.
TEST_F(UninstallTab, ClicksOnTheSelectionPanelStayThere)
{
    QByteArray entries;
    for (int i = 1; i <= 6; ++i)
        entries
            += entry(QByteArray::number(i),
                     "\"DisplayName\"=\"Program " + QByteArray::number(i) + "\"\n\"Publisher\"=\"Maker\"\n");
    user(entries);
    open();
    select(QStringLiteral("Program 2"));
    QWidget *panel = tab->pnlUninstSelItem();
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible() && panel->height() > 0; }));
    QWidget *icon = panel->findChild<QWidget *>(QStringLiteral("imgUninstSelItemIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(panel->rect().contains(icon->geometry())) << "the icon is cut by its panel";
    QLabel *publisher = tab->lblUninstSelItemPublisher();
    struct Target
    {
        const char *what;
        QWidget *widget;
        QPoint at;
        bool togglesDetails;
    };
    const Target targets[] = {
        {"publisher", publisher, publisher->rect().center(), false},
        {"blank part", panel, QPoint(3, panel->height() - 3), false},
        {"icon, lower half", icon, QPoint(icon->width() / 2, icon->height() * 3 / 4), true},
        {"title", tab->lblUninstSelItemTitle(), QPoint(2, 2), false},
    };
    for (const Target &t : targets) {
        SCOPED_TRACE(t.what);
        const int started = tab->Top3RequestsStarted();
        const bool hidden = tab->DetailsHidden();
        QTest::mouseClick(t.widget, Qt::LeftButton, {}, t.at);
        ASSERT_TRUE(flushQueuedCalls());
        EXPECT_EQ(selectedCaption(), QStringLiteral("Program 2"));
        EXPECT_EQ(tab->Top3RequestsStarted(), started);
        EXPECT_EQ(tab->DetailsHidden(), t.togglesDetails ? !hidden : hidden);
    }
}

TEST_F(UninstallTab, ShowSystemPackagesListsSystemComponentsToo)
{
    user(entry("App", "\"DisplayName\"=\"Editor\"\n\"UninstallString\"=\"/bin/true\"\n")
         + entry("Lib",
                 "\"DisplayName\"=\"Base Library\"\n\"UninstallString\"=\"/bin/true\"\n"
                 "\"SystemComponent\"=dword:00000001\n"));
    open();
    QCheckBox *show = tab->chkUninstShowSystem();
    EXPECT_EQ(show->text(), QStringLiteral("Show system packages"));
    EXPECT_TRUE(show->isVisible());
    EXPECT_FALSE(show->isChecked());
    EXPECT_EQ(captions(), QStringList {QStringLiteral("Editor")});

    QTest::mouseClick(show, Qt::LeftButton, {}, QPoint(6, show->height() / 2));
    EXPECT_TRUE(show->isChecked());
    EXPECT_TRUE(mgr->ShowSystemComponents());
    EXPECT_EQ(captions(), (QStringList {QStringLiteral("Base Library"), QStringLiteral("Editor")}));
    EXPECT_EQ(tab->lblUninstStatus()->text(), QStringLiteral("Applications: 2"));
    // The refresh link keeps the choice.
    tab->ListFill();
    EXPECT_EQ(captions().size(), 2);

    show->click();
    EXPECT_EQ(captions(), QStringList {QStringLiteral("Editor")});
    EXPECT_EQ(tab->lblUninstStatus()->text(), QStringLiteral("Applications: 1"));
}

TEST_F(UninstallTab, APackageGoesWithWhatTheQuestionListedAndRefusalsAreExplained)
{
    testsupport::ScratchPackages db;
    ASSERT_TRUE(db.isValid());
    QString log;
    ASSERT_TRUE(db.install({db.build(QStringLiteral("orvt-lib")),
                            db.build(QStringLiteral("orvt-app"), QStringLiteral("Depends: orvt-lib")),
                            db.build(QStringLiteral("orvt-plugin"), QStringLiteral("Depends: orvt-app")),
                            db.build(QStringLiteral("orvt-solo")),
                            db.build(QStringLiteral("orvt-core"), QStringLiteral("Essential: yes"))},
                           &log))
        << log.toStdString();
    ASSERT_TRUE(db.markAuto({QStringLiteral("orvt-lib")}));
    installed::PackageSourceOptions packages;
    packages.StatusFile = db.statusFile();
    packages.DataFolders = {dir.path() + QStringLiteral("/no-data")};
    sources.push_back(installed::MakePackageSource(packages));
    platform::AptRemovalOptions apt;
    apt.AdminDir = db.adminDir();
    apt.Environment = db.aptEnvironment();
    apt.Dpkg = db.dpkgCommand();
    apt.UsePkexec = 0;
    removal = platform::makeAptPackageRemoval(apt);
    open();
    ASSERT_TRUE(captions().contains(QStringLiteral("orvt-app")));

    // What the system needs offers no button, and says why.
    select(QStringLiteral("orvt-core"));
    EXPECT_TRUE(tab->btnUninstSelItemUninstall()->isHidden());
    EXPECT_FALSE(tab->lblUninstSelItemNote()->isHidden());
    EXPECT_EQ(tab->lblUninstSelItemNote()->toolTip(), OVGetText(QStringLiteral("String.PackageEssential")));
    tab->CommandUninstall();
    EXPECT_FALSE(tab->PackageRemover().Busy());

    select(QStringLiteral("orvt-app"));
    EXPECT_FALSE(tab->btnUninstSelItemUninstall()->isHidden());
    EXPECT_TRUE(tab->lblUninstSelItemNote()->isHidden());
    const QString question
        = QStringLiteral("Question|Are you sure you want to uninstall the package orvt-app?\n\n"
                         "These packages need it and are removed too: orvt-plugin\n"
                         "These packages were installed only for it and are removed too: orvt-lib|124");
    answer = IDNO;
    tab->CommandUninstall();
    ASSERT_TRUE(waitUntil([&] { return !boxes.isEmpty() && !tab->PackageRemover().Busy(); }));
    EXPECT_EQ(boxes, QStringList {question});
    EXPECT_TRUE(db.statusOf(QStringLiteral("orvt-app")).endsWith(QLatin1String(" installed")));

    boxes.clear();
    answer = IDYES;
    tab->CommandUninstall();
    ASSERT_TRUE(waitUntil([&] { return !captions().contains(QStringLiteral("orvt-app")); }, 60000));
    EXPECT_EQ(boxes, QStringList {question}) << "no failure after the question";
    for (const char *gone : {"orvt-app", "orvt-plugin", "orvt-lib"})
        EXPECT_FALSE(captions().contains(QLatin1String(gone))) << gone;
    EXPECT_TRUE(captions().contains(QStringLiteral("orvt-solo")));

    // Another program holds the package database: said so, and nothing goes.
    const int fd = ::open(QFile::encodeName(db.adminDir() + QStringLiteral("/lock-frontend")).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    ASSERT_GE(fd, 0);
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_SETLK, &lock), 0);
    boxes.clear();
    select(QStringLiteral("orvt-solo"));
    tab->CommandUninstall();
    ASSERT_TRUE(waitUntil([&] { return boxes.size() == 2; }, 60000));
    ::close(fd);
    EXPECT_EQ(boxes.at(1),
              QStringLiteral("Failure|") + OVGetText(QStringLiteral("String.MsgText.PackageDatabaseLocked"))
                  + QStringLiteral("|10"));
    EXPECT_TRUE(captions().contains(QStringLiteral("orvt-solo")));
}

TEST_F(UninstallTab, TheRemovalQuestionNamesTheOtherApplicationsOfThePackage)
{
    platform::PackageRemovalPlan plan;
    plan.requested = plan.everything = {QStringLiteral("suite")};
    EXPECT_EQ(TOVUninstallTab::PackageRemovalQuestion(QStringLiteral("Writer"), QStringLiteral("suite"),
                                                      {QStringLiteral("Sheets"), QStringLiteral("Slides")},
                                                      plan),
              QStringLiteral("Are you sure you want to uninstall Writer (package suite)?\n\n"
                             "These applications of the same package are removed with it: Sheets, Slides"));
}

namespace {

// One Flatpak application whose uninstaller refuses, as a system installation's would.
class RefusingFlatpakSource final : public installed::InstalledSource
{
public:
    installed::EntrySource Kind() const override { return installed::EntrySource::Flatpak; }
    void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) override
    {
        platform::FlatpakApp app;
        app.Ref = QStringLiteral("app/org.example.Paint/x86_64/stable");
        app.Id = QStringLiteral("org.example.Paint");
        app.Arch = QStringLiteral("x86_64");
        app.Branch = QStringLiteral("stable");
        app.Origin = QStringLiteral("example-remote");
        app.Installation = QStringLiteral("default");
        app.Name = QStringLiteral("Paint");
        app.Version = QStringLiteral("3.1");
        auto item = std::make_unique<TUninstItem>(&Manager);
        installed::FillFlatpakEntry(*item, app);
        Entries.push_back(std::move(item));
    }
    UninstallJob MakeUninstallJob(const TUninstItem &) override
    {
        return [](const std::atomic<bool> *) {
            return QStringLiteral("error: Flatpak system operation Uninstall not allowed for user");
        };
    }
};

} // namespace

TEST_F(UninstallTab, AFlatpakEntryNamesItsBranchRemoteAndInstallationAndARefusalSaysWhy)
{
    sources.push_back(std::make_unique<RefusingFlatpakSource>());
    open();
    select(QStringLiteral("Paint"));
    EXPECT_EQ(tab->DetailText(2),
              QStringLiteral("3.1 (branch stable, from example-remote, system installation)"));
    answer = IDYES;
    tab->CommandUninstall();
    ASSERT_TRUE(waitUntil([&] { return boxes.size() == 2; }));
    EXPECT_EQ(boxes.at(1),
              QStringLiteral("Failure|Paint was not uninstalled. The uninstaller says:\n"
                             "error: Flatpak system operation Uninstall not allowed for user|10"));
    ASSERT_TRUE(waitUntil([&] { return mgr->RunningUninstalls() == 0; }));
    EXPECT_EQ(captions(), QStringList {QStringLiteral("Paint")});
}
