// The real main window from the keyboard and through a screen reader's eyes:
// Tab visits every control of the window in order and finds its way out of
// the web page, the tab keys switch tabs from anywhere, and the skinned
// controls read with their roles and captions in both languages.
#include "MainWindowTestSupport.h"
#include "platform/LanguageBroadcast.h"
#include "shell/FormOVAbout.h"
#include "shell/TopXTab.h"
#include "support/LoopbackServer.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkinManager.h"
#include "ui/BrimTabControl.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QLabel>
#include <QTest>
#include <QWebEngineView>

using namespace mwtest;
using testsupport::LoopbackServer;

namespace {

class MainWindowKeys : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        // The recommendation page: three controls a Tab stops at.
        site.server.Get("/soft_api", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html><body><a id='a' href='#a'>First</a> <button id='b'>Second</button>"
                            " <a id='c' href='#c'>Third</a></body></html>",
                            "text/html");
        });
        ASSERT_TRUE(site.start());
        ASSERT_TRUE(writeFile(appDir + "Config/Config.ini", "[LANGUAGE]\r\nLanguage=1033\r\n"));
        writeLanguage("1033", "Software", "Running", "Uninstall", "Menu of the window");
        writeLanguage("2052", "软件推荐", "正在运行", "软件卸载", "主菜单");
    }

    void writeLanguage(const char *lcid, const char *topX, const char *running, const char *uninst,
                       const char *menu)
    {
        const QString file = appDir + "Langs/" + lcid + "/Orvane.ini";
        ASSERT_TRUE(writeFile(file,
                              QStringLiteral("[HEAD]\r\nLCID=%1\r\n[LANG_ITEMS]\r\n"
                                             "FormOVMain.btnTabTopX.Caption=%2\r\n"
                                             "FormOVMain.btnTabRunning.Caption=%3\r\n"
                                             "FormOVMain.btnTabUninst.Caption=%4\r\n"
                                             "String.MainMenu=%5\r\nString.URL.TopX=%6\r\n")
                                  .arg(lcid, topX, running, uninst, menu, site.qurl("/soft_api"))
                                  .toUtf8()));
    }

    // The window, shown and active, with the recommendation page loaded.
    TFormOVMain &readyForm()
    {
        TFormOVMain &f = makeForm();
        QApplication::setActiveWindow(&f);
        EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &f; }));
        EXPECT_TRUE(waitUntil([&] { return boxes.size() >= 1; })); // the upgrade question, answered No
        TBrimWebBrowser *page = f.TopXTab->wbTopXOnline;
        EXPECT_TRUE(waitUntil([&] { return page && page->ReadyState() == READYSTATE_COMPLETE; }, 20000));
        return f;
    }

    static bool inPage(TFormOVMain &f, QWidget *w)
    {
        return w && f.TopXTab->wbTopXOnline && f.TopXTab->wbTopXOnline->isAncestorOf(w);
    }

    // The element of the page that has the focus ("" for the page itself).
    static QString pageFocus(TFormOVMain &f)
    {
        QString id = QStringLiteral("?");
        bool done = false;
        f.TopXTab->wbTopXOnline->View()->page()->runJavaScript(
            QStringLiteral("document.activeElement ? document.activeElement.id : ''"),
            [&](const QVariant &v) {
                id = v.toString();
                done = true;
            });
        waitUntil([&] { return done; });
        return id;
    }

    LoopbackServer site;
};

} // namespace

TEST_F(MainWindowKeys, TabVisitsEveryControlInOrderAndLeavesTheWebPage)
{
    TFormOVMain &f = readyForm();
    f.btnTabRunning->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitUntil([&] { return f.btnTabRunning->hasFocus(); }));

    // Forward from the first tab button round the whole window; inside the
    // page each Tab is the page's own until it hands the focus back.
    QList<QWidget *> visited {f.btnTabRunning};
    QStringList pageStops;
    for (int i = 0; i < 30 && (visited.size() < 2 || visited.last() != f.btnTabRunning); ++i) {
        QWidget *from = QApplication::focusWidget();
        ASSERT_NE(from, nullptr);
        const QString before = inPage(f, from) ? pageFocus(f) : QString();
        QTest::keyClick(from, Qt::Key_Tab);
        // The engine moves its focus on its own thread: wait for another
        // element to have it, or for the focus to leave the page.
        const auto moved = [&] {
            QWidget *w = QApplication::focusWidget();
            return !inPage(f, w) || (!pageFocus(f).isEmpty() && (!inPage(f, from) || pageFocus(f) != before));
        };
        waitUntil(moved, 3000);
        if (inPage(f, QApplication::focusWidget()))
            pageStops << pageFocus(f);
        QWidget *now = QApplication::focusWidget();
        if (now != visited.last())
            visited << now;
    }
    ASSERT_EQ(visited.last(), f.btnTabRunning) << "Tab never came round to the tabs again";

    const auto at = [&](QWidget *w) { return visited.indexOf(w); };
    const auto firstInPage = [&] {
        for (int i = 0; i < visited.size(); ++i)
            if (inPage(f, visited[i]))
                return i;
        return -1;
    };
    TBrimImageButton *minimize = f.SkinMgr->CommandButton(TSMButtonKind::Min);
    TBrimImageButton *close = f.SkinMgr->CommandButton(TSMButtonKind::Close);
    // The current tab (disabled) is passed over; the others, the Tasks
    // shortcut and the banner, the page, then the title bar's buttons.
    EXPECT_EQ(at(f.btnTabTopX), -1);
    EXPECT_LT(at(f.btnTabRunning), at(f.btnTabUninst));
    EXPECT_LT(at(f.btnTabUninst), at(f.Header->lblTabTasks));
    EXPECT_LT(at(f.Header->lblTabTasks), at(f.Header->imgAD));
    EXPECT_LT(at(f.Header->imgAD), firstInPage());
    EXPECT_LT(firstInPage(), at(f.btnMainMenu));
    EXPECT_LT(at(f.btnMainMenu), at(minimize));
    EXPECT_LT(at(minimize), at(close));
    EXPECT_EQ(pageStops, (QStringList {"a", "b", "c"}));
    // Nothing of the hidden pages is visited.
    for (QWidget *w : visited)
        EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();

    // Backwards from the tabs: the close button first, the page from its end.
    QTest::keyClick(f.btnTabRunning, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(close->hasFocus());
    EXPECT_TRUE(close->FocusShown()); // the keyboard's focus is marked
    QTest::keyClick(close, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(minimize, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(f.btnMainMenu, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(inPage(f, QApplication::focusWidget()));
    EXPECT_TRUE(waitUntil([&] { return pageFocus(f) == "c"; }, 3000));
}

TEST_F(MainWindowKeys, EveryPagesControlsComeBetweenTheTabsAndTheTitleBar)
{
    TFormOVMain &f = readyForm();
    const struct
    {
        int tab;
        QStringList controls; // in the order Tab reaches them
    } pages[] = {
        {TFormOVMain::TabRunning, {"lvRunning", "lblRunningHideSystem"}},
        {TFormOVMain::TabUninst,
         {"edtUninstSearch", "btnUninstSearch", "lvUninst", "lblUninstShowDetails", "lblUninstRefreshList",
          "chkUninstShowSystem", "chkTop3Disabled"}},
        {TFormOVMain::TabTasks,
         {"lvTasks", "lblTasksOpenDownloadDir", "lblTasksSetDownloadDir", "btnTasksClear"}},
    };
    for (const auto &page : pages) {
        ASSERT_TRUE(f.SelectTab(page.tab));
        f.btnTabTopX->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(waitUntil([&] { return f.btnTabTopX->hasFocus(); }));
        QStringList visited;
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *now = QApplication::focusWidget();
            ASSERT_NE(now, nullptr);
            if (now == f.btnTabTopX)
                break;
            visited << now->objectName();
        }
        qsizetype last = visited.indexOf("imgAD");
        for (const QString &name : page.controls) {
            const qsizetype at = visited.indexOf(name);
            EXPECT_GT(at, last) << name.toStdString() << " on tab " << page.tab << ": "
                                << visited.join(' ').toStdString();
            last = qMax(last, at);
        }
        EXPECT_GT(visited.indexOf("btnMainMenu"), last) << visited.join(' ').toStdString();
    }
}

TEST_F(MainWindowKeys, TabKeysSwitchTabsFromAnywhereAndTakeTheFocusAlong)
{
    TFormOVMain &f = readyForm();
    // Into the page, as a click would put it there.
    f.TopXTab->wbTopXOnline->View()->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(waitUntil([&] { return inPage(f, QApplication::focusWidget()); }));

    const struct
    {
        int key;
        Qt::KeyboardModifiers mods;
        int tab;
    } steps[] = {
        {Qt::Key_Tab, Qt::ControlModifier, TFormOVMain::TabRunning},
        {Qt::Key_PageDown, Qt::ControlModifier, TFormOVMain::TabUninst},
        {Qt::Key_PageDown, Qt::ControlModifier, TFormOVMain::TabTasks},
        {Qt::Key_Tab, Qt::ControlModifier, TFormOVMain::TabTopX}, // round again
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, TFormOVMain::TabTasks},
        {Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier, TFormOVMain::TabUninst},
        {Qt::Key_PageUp, Qt::ControlModifier, TFormOVMain::TabRunning},
    };
    for (const auto &s : steps) {
        QWidget *from = QApplication::focusWidget();
        ASSERT_NE(from, nullptr);
        QTest::keyClick(from, Qt::Key(s.key), s.mods);
        ASSERT_TRUE(waitUntil([&] { return f.CurrentTab() == s.tab; }, 3000))
            << "key " << s.key << " from " << from->objectName().toStdString();
        // The focus went along into the new page.
        QWidget *now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        EXPECT_TRUE(f.TabCtrl->ActiveItem()->Page()->isAncestorOf(now)) << now->objectName().toStdString();
    }

    // From a tab button the focus stays where it is.
    f.btnTabTopX->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.btnTabTopX, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabUninst);
    EXPECT_TRUE(f.btnTabTopX->hasFocus());
    EXPECT_TRUE(f.btnTabTopX->FocusShown());

    // A tab chosen with Space on its button hands the focus to its page (the
    // button itself is disabled as the current tab).
    QTest::keyClick(f.btnTabTopX, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return f.CurrentTab() == TFormOVMain::TabTopX; }));
    EXPECT_TRUE(waitUntil([&] { return inPage(f, QApplication::focusWidget()); }));
    // A click on a tab leaves no mark behind.
    QTest::mouseClick(f.btnTabRunning, Qt::LeftButton);
    ASSERT_EQ(f.CurrentTab(), TFormOVMain::TabRunning);
    for (auto *b : f.findChildren<TBrimImageButton *>())
        EXPECT_FALSE(b->FocusShown()) << b->objectName().toStdString();
}

TEST_F(MainWindowKeys, ScreenReaderReadsRolesAndCaptionsInEitherLanguage)
{
    TFormOVMain &f = readyForm();
    const auto iface = [](QObject *o) { return QAccessible::queryAccessibleInterface(o); };

    // The tab buttons are page tabs in one page tab list, the current one selected.
    QAccessibleInterface *topX = iface(f.btnTabTopX);
    ASSERT_NE(topX, nullptr);
    QAccessibleInterface *list = topX->parent();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::PageTabList);
    const struct
    {
        QWidget *tab;
        const char *name;
    } tabs[] = {{f.btnTabTopX, "Software"},
                {f.btnTabRunning, "Running"},
                {f.btnTabUninst, "Uninstall"},
                {f.Header->lblTabTasks, "Download / Install"}};
    for (const auto &t : tabs) {
        QAccessibleInterface *tab = iface(t.tab);
        ASSERT_NE(tab, nullptr) << t.name;
        EXPECT_EQ(tab->role(), QAccessible::PageTab) << t.name;
        EXPECT_EQ(tab->text(QAccessible::Name), t.name);
        EXPECT_EQ(tab->parent()->object(), list->object()) << t.name;
        EXPECT_EQ(tab->state().selected, t.tab == f.btnTabTopX) << t.name;
    }
    EXPECT_FALSE(topX->state().disabled); // current, not unavailable
    EXPECT_EQ(iface(f.Header->lblTabTasks)->text(QAccessible::Description), "Download(0) / Install(0)");

    // Buttons read as buttons by their captions; pressing one acts as a click.
    const struct
    {
        QWidget *button;
        const char *name;
    } buttons[] = {{f.btnMainMenu, "Menu of the window"},
                   {f.Header->imgAD, "Upgrade"},
                   {f.SkinMgr->CommandButton(TSMButtonKind::Min), "Minimize"},
                   {f.SkinMgr->CommandButton(TSMButtonKind::Close), "Close"}};
    for (const auto &b : buttons) {
        QAccessibleInterface *button = iface(b.button);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->role(), QAccessible::Button) << b.name;
        EXPECT_EQ(button->text(QAccessible::Name), b.name);
        EXPECT_TRUE(button->state().focusable) << b.name;
    }

    {
        // The dialogs' close button too.
        TFormOVAbout about(f.URL_HOME, &f);
        QAccessibleInterface *close = iface(about.SkinMgr->CommandButton(TSMButtonKind::Close));
        ASSERT_NE(close, nullptr);
        EXPECT_EQ(close->role(), QAccessible::Button);
        EXPECT_EQ(close->text(QAccessible::Name), "Close");
    }

    // Link labels read as links by their captions, not their markup.
    const struct
    {
        const char *label;
        const char *caption;
    } links[] = {{"lblUninstRefreshList", "Refresh"},
                 {"lblTasksOpenDownloadDir", "Open directory of downloaded files"},
                 {"lblRunningHideSystem", "Hide system applications"}};
    for (const auto &l : links) {
        auto *label = f.findChild<QLabel *>(l.label);
        ASSERT_NE(label, nullptr) << l.label;
        EXPECT_EQ(iface(label)->role(), QAccessible::Link) << l.label;
        EXPECT_EQ(iface(label)->text(QAccessible::Name), l.caption);
    }

    // Pressing a tab selects it.
    QAccessibleInterface *uninst = iface(f.btnTabUninst);
    QAccessibleActionInterface *press = uninst->actionInterface();
    ASSERT_NE(press, nullptr);
    ASSERT_TRUE(press->actionNames().contains(QAccessibleActionInterface::pressAction()));
    press->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(waitUntil([&] { return f.CurrentTab() == TFormOVMain::TabUninst; }));
    EXPECT_TRUE(uninst->state().selected);
    EXPECT_FALSE(iface(f.btnTabTopX)->state().selected);

    // The recommendation panels and the selected row's panel are groups named
    // by what they show.
    auto *panel = f.findChild<QLabel *>("pnlTop3PayWare_0");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(iface(panel)->role(), QAccessible::Grouping);
    EXPECT_EQ(iface(panel)->text(QAccessible::Name), panel->text());
    panel->findChild<QLabel *>("lblTop3PayWareTitle_0")->setText("Atlas Notes");
    panel->findChild<QLabel *>("lblTop3PayWareTitle_0")->show();
    panel->setText(QString());
    EXPECT_EQ(iface(panel)->text(QAccessible::Name), "Atlas Notes");
    // Its icon, the way to the recommendation's page, is a button.
    auto *icon = panel->findChild<QWidget *>("imgTop3PayWareIcon_0");
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(iface(icon)->role(), QAccessible::Button);
    EXPECT_FALSE(iface(icon)->text(QAccessible::Name).isEmpty());
    EXPECT_TRUE(icon->focusPolicy() & Qt::TabFocus);
    for (const char *name : {"pnlUninstSelItem", "pnlRunningSelItem"}) {
        auto *sel = f.findChild<QWidget *>(name);
        ASSERT_NE(sel, nullptr) << name;
        EXPECT_EQ(iface(sel)->role(), QAccessible::Grouping) << name;
    }

    // Another language: every name follows at once.
    ASSERT_TRUE(f.WndProcLanguageBroadcast(LanguageBroadcastMessage(), 1, LanguageBroadcastLParam(2052)));
    EXPECT_EQ(iface(f.btnTabTopX)->text(QAccessible::Name), "软件推荐");
    EXPECT_EQ(iface(f.btnTabRunning)->text(QAccessible::Name), "正在运行");
    EXPECT_EQ(iface(f.btnMainMenu)->text(QAccessible::Name), "主菜单");
}
