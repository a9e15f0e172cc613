#include "MainWindowTestSupport.h"
#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/OVCommandLine.h"
#include "installed/UninstManager.h"
#include "installed/tab/UninstallTab.h"
#include "online/BrimNetConnCheck.h"
#include "online/WebAPIClient.h"
#include "platform/Registry.h"
#include "procmon/ProcessTestSupport.h"
#include "procmon/Processes.h"
#include "procmon/RunningTabRules.h"
#include "procmon/tab/RunningTab.h"
#include "shell/FormOVAbout.h"
#include "shell/FormOVSettings.h"
#include "support/LoopbackServer.h"
#include "support/RecordingLauncher.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskItem.h"
#include "tasks/tab/TasksTab.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimTabControl.h"
#include "ui/OVLangBridge.h"
#include "ui/OVTabPage.h"

#include <QAction>
#include <QCheckBox>
#include <QGlyphRun>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRawFont>
#include <QSpinBox>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>

using namespace mwtest;
using testsupport::LoopbackServer;

namespace {

class MainWindow : public MainWindowFixture
{
protected:
    RecordingLauncher launcher;

    QByteArray readConfig() const
    {
        QFile f(appDir + "Config/Config.ini");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

const QByteArray kTaskList
    = "[COUNT]\r\nN=1\r\n[0]\r\nName=Kept Tool\r\nHttpUrl=http://127.0.0.1:9/k.exe\r\n"
      "LocalFile=/nonexistent/k.exe\r\nState=7\r\nTotalSize=2048\r\nCurrentSize=2048\r\n"
      "DownloadDate=99999\r\n";

} // namespace

TEST_F(MainWindow, FormCreateBringsTheWindowToLifeInOrder)
{
    ASSERT_TRUE(writeFile(appDir + "Config/Config.ini",
                          "[LANGUAGE]\r\nLanguage=67588\r\n[ORVANE]\r\nFileKeepDays=-1\r\n"));
    ASSERT_TRUE(writeFile(appDir + "Langs/2052/Orvane.ini",
                          "[HEAD]\r\nLCID=2052\r\n[LANG_ITEMS]\r\nFormOVMain.btnTabTopX.Caption=Ruanjian\r\n"
                          "String.URL.WAPI=http://127.0.0.1:9/api\r\n"));
    ASSERT_TRUE(writeFile(appDir + "Config/OVTasks.ini", kTaskList));

    TFormOVMain &f = makeForm();

    for (const char *d : {"Config", "Downloads", "Files"})
        EXPECT_TRUE(QFileInfo(appDir + d).isDir()) << d;
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabTopX);
    EXPECT_FALSE(f.btnTabTopX->isEnabled());
    EXPECT_TRUE(f.btnTabRunning->isEnabled());
    EXPECT_EQ(f.LanguageId, 2052);
    EXPECT_EQ(f.btnTabTopX->Caption(), "Ruanjian"); // language file over the defaults
    EXPECT_EQ(f.btnTabRunning->Caption(), "Running");
    ASSERT_NE(f.WebAPI(), nullptr);
    EXPECT_EQ(f.WebAPI()->APIUrl, "http://127.0.0.1:9/api");
    EXPECT_EQ(f.WebAPI()->LanguageID, 2052);
    EXPECT_TRUE(f.WebAPI()->Encrypt);
    ASSERT_EQ(f.TasksTab->lvTasks()->topLevelItemCount(), 1); // the task list was loaded into the tab
    EXPECT_EQ(f.TasksTab->lvTasks()->topLevelItem(0)->text(0), "Kept Tool");
    EXPECT_TRUE(f.Header->imgAD->isVisible());
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.size(), QSize(800, 600));
    EXPECT_EQ(OVMultiLangs(), f.MultiLangs());

    // The probe fails: the diagnosis question (current language), and the upgrade question (language 0).
    ASSERT_TRUE(waitUntil([&] { return boxes.size() >= 2; }));
    ASSERT_TRUE(waitUntil([&] { return !f.NetCheck()->Busy(); }));
    ASSERT_TRUE(testsupport::flushQueuedCalls()); // no third question on its way
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(countBoxes(0x44), 1);
    EXPECT_EQ(countBoxes(0x24), 1);
    for (const Box &b : boxes) {
        if (b.type == 0x44) {
            EXPECT_EQ(b.text, "Upgrade");
            EXPECT_EQ(b.caption, "Upgrade");
            EXPECT_EQ(b.languageId, 0);
        } else {
            EXPECT_EQ(b.text, "Network is unreachable, do you want to diagnose network?");
            EXPECT_EQ(b.caption, "Question");
            EXPECT_EQ(b.languageId, 2052);
        }
    }
    EXPECT_EQ(probed(), f.ProbeURLs()); // every address tried, in order
    EXPECT_TRUE(launcher.calls.isEmpty()); // "No" starts nothing
}

TEST_F(MainWindow, ReachableNetworkAsksOnlyTheUpgradeQuestionAndYesStartsTheUpgrader)
{
    probeAnswer = true;
    answer = [](const Box &b) { return b.type == 0x44 ? IDYES : IDNO; };
    ASSERT_TRUE(writeFile(appDir + "Upwell", "#!/bin/sh\n"));
    makeForm();
    ASSERT_TRUE(waitUntil([&] { return !boxes.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return !form->NetCheck()->Busy() && form->NetCheck()->Status() == 1; }));
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, 0x44u);
    EXPECT_EQ(launcher.calls, QStringList {"start|" + appDir + "Upwell"});
}

TEST_F(MainWindow, ProbeAddressesComeFromTheEnvironmentOrTheBuiltInList)
{
    makeForm(false);
    const QByteArray saved = qgetenv("ORVANE_PROBE_URLS");
    qputenv("ORVANE_PROBE_URLS", " http://127.0.0.1:1/ ,, http://[::1]:2/");
    EXPECT_EQ(form->ProbeURLs(), (QStringList {"http://127.0.0.1:1/", "http://[::1]:2/"}));
    qunsetenv("ORVANE_PROBE_URLS");
    const QStringList builtIn = form->ProbeURLs();
    ASSERT_EQ(builtIn.size(), 6);
    EXPECT_EQ(builtIn.mid(0, 3), builtIn.mid(3, 3));
    EXPECT_EQ(builtIn[2], "http://127.0.0.1:8770"); // the vendor's host, from String.URL.Home
    for (const QString &u : builtIn)
        EXPECT_TRUE(u.startsWith("http://")) << qPrintable(u);
    qputenv("ORVANE_PROBE_URLS", saved);
}

namespace {

// A tab page that records what the window asks of it.
struct RecordingPage : QWidget, IOVTabPage
{
    QStringList calls;
    QWidget *PageWidget() override { return this; }
    void FirstActivate() override { calls << "first"; }
    void Activate() override { calls << "activate"; }
    void Deactivate() override { calls << "deactivate"; }
    void ApplyTexts() override { calls << "texts"; }
};

} // namespace

TEST_F(MainWindow, TabSwitchesStartAndStopTheirWork)
{
    TFormOVMain &f = makeForm(false);
    // Owned by the sheets once installed.
    auto *topX = new RecordingPage;
    auto *running = new RecordingPage;
    auto *uninst = new RecordingPage;
    f.SetTabPage(TFormOVMain::TabTopX, topX);
    f.SetTabPage(TFormOVMain::TabRunning, running);
    f.SetTabPage(TFormOVMain::TabUninst, uninst);
    f.FormCreate();
    EXPECT_EQ(topX->calls, (QStringList {"first", "activate"}));
    EXPECT_TRUE(running->calls.isEmpty()); // registering a tab does not deactivate an unshown page

    QTest::mouseClick(f.btnTabRunning, Qt::LeftButton);
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabRunning);
    EXPECT_FALSE(f.btnTabRunning->isEnabled());
    EXPECT_TRUE(f.btnTabTopX->isEnabled());
    EXPECT_EQ(running->calls, (QStringList {"first", "activate"}));
    EXPECT_EQ(topX->calls.last(), "deactivate");
    EXPECT_TRUE(f.tsRunning->isVisible());
    EXPECT_TRUE(running->isVisible());
    EXPECT_FALSE(f.tsTopX->isVisible());
    QTest::mouseClick(f.btnTabRunning, Qt::LeftButton); // the current tab's button is disabled
    EXPECT_EQ(running->calls.size(), 2);

    f.imgTabTasksClick(); // the shortcut selects the Tasks tab
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabTasks);
    EXPECT_EQ(running->calls.last(), "deactivate");
    EXPECT_TRUE(f.btnTabRunning->isEnabled());
    EXPECT_TRUE(f.tsTasks->isVisible());
    f.imgTabTasksClick(); // again: no visible change
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabTasks);
    EXPECT_TRUE(f.tsTasks->isVisible());

    QApplication::setActiveWindow(&f);
    f.btnTabUninst->setFocus(); // keyboard users reach the tabs too
    ASSERT_TRUE(waitUntil([&] { return f.btnTabUninst->hasFocus(); }));
    QTest::keyClick(f.btnTabUninst, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return f.CurrentTab() == TFormOVMain::TabUninst; }));
    EXPECT_EQ(uninst->calls, (QStringList {"first", "activate"}));

    ApplyPopupCode(PopupRunning);
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabRunning);
    EXPECT_EQ(running->calls.count("first"), 1); // first-activation work only once
    EXPECT_EQ(running->calls.last(), "activate");
    ApplyPopupCode(PopupUninstall);
    ApplyPopupCode(12345);
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabUninst);
    EXPECT_EQ(uninst->calls.count("first"), 1);
    EXPECT_EQ(running->calls.last(), "deactivate");

    f.MultiLangsLanguageChanged(); // every page re-applies its texts
    for (RecordingPage *page : {topX, running, uninst})
        EXPECT_EQ(page->calls.last(), "texts");

    form.reset(); // the window no longer takes popup codes
    ApplyPopupCode(PopupTopX);
}

TEST_F(MainWindow, HelpByMenuAndF1OpensTheLanguagesHelpFileOrWarns)
{
    ASSERT_TRUE(writeFile(appDir + "Config/Config.ini", "[LANGUAGE]\r\nLanguage=2052\r\n"));
    TFormOVMain &f = makeForm();
    ASSERT_TRUE(waitUntil([&] { return boxes.size() >= 2; }));
    QApplication::setActiveWindow(&f);
    f.activateWindow();

    const QString help = appDir + "Langs/2052/Help.chm";
    const QString lost = "Sorry! Lost help file. Please reinstall this software to solve this problem.";
    const QString noViewer
        = "No program to read the help is installed. The help is a CHM file: install a CHM"
          " viewer, for example the Debian package xchm (sudo apt install xchm), then press"
          " F1 again.";
    struct Case
    {
        const char *what;
        bool filePresent;
        bool viewer; // the desktop has a program for the type
        bool opens; // the launcher succeeds
        QStringList failingKinds; // requests that fail nonetheless
        QStringList calls; // what the launcher was asked to do
        QString box; // the warning shown, if any
    };
    const Case cases[] = {
        {"file missing", false, true, true, {}, {}, lost},
        {"file present, viewer installed", true, true, true, {}, {"open|" + help}, {}},
        {"file present, no viewer", true, false, true, {}, {}, noViewer},
        // Without a desktop association the known viewers are started directly.
        {"file present, the opener finds no program",
         true,
         true,
         true,
         {"open"},
         {"open|" + help, "start|xchm|" + help},
         {}},
        {"file present, nothing starts",
         true,
         true,
         false,
         {},
         {"open|" + help, "start|xchm|" + help, "start|kchmviewer|" + help},
         noViewer},
    };
    for (const Case &c : cases) {
        if (c.filePresent) {
            ASSERT_TRUE(writeFile(help, "ITSF"));
        } else {
            QFile::remove(help);
        }
        launcher.canOpen = c.viewer;
        launcher.succeed = c.opens;
        launcher.failingKinds = c.failingKinds;
        // The menu item and F1 alike.
        for (int way = 0; way < 2; ++way) {
            boxes.clear();
            launcher.calls.clear();
            launcher.typeQueries.clear();
            if (way == 0)
                f.mniMainHelp->trigger();
            else
                QTest::keyClick(&f, Qt::Key_F1);
            const char *by = way == 0 ? "menu" : "F1";
            EXPECT_EQ(launcher.calls, c.calls) << c.what << by;
            const QStringList asked
                = c.filePresent ? QStringList {"application/vnd.ms-htmlhelp"} : QStringList();
            EXPECT_EQ(launcher.typeQueries, asked) << c.what << by;
            if (c.box.isEmpty()) {
                EXPECT_TRUE(boxes.empty()) << c.what << by;
                continue;
            }
            ASSERT_EQ(boxes.size(), 1u) << c.what << by;
            EXPECT_EQ(boxes[0].text, c.box) << c.what << by;
            EXPECT_EQ(boxes[0].caption, "Warning");
            EXPECT_EQ(boxes[0].type, 0x30u);
            EXPECT_EQ(boxes[0].languageId, 2052);
        }
    }

    launcher.succeed = true;
    launcher.failingKinds.clear();
    launcher.calls.clear();
    f.mniMainHomePage->trigger();
    f.Header->imgAD->Click();
    EXPECT_EQ(launcher.calls, QStringList({"open|" + f.URL_HOME, "start|" + appDir + "Upwell"}));
}

TEST_F(MainWindow, WithoutLanguageKeyHelpIsLookedForUnderLanguageZero)
{
    TFormOVMain &f = makeForm();
    ASSERT_TRUE(writeFile(appDir + "Langs/0/Help.chm", "ITSF"));
    f.mniMainHelpClick();
    EXPECT_EQ(launcher.calls, QStringList {"open|" + appDir + "Langs/0/Help.chm"});
}

TEST_F(MainWindow, SettingsAndAboutOpenModallyAndAreForgottenAfterwards)
{
    TFormOVMain &f = makeForm();
    ASSERT_TRUE(waitUntil([&] { return boxes.size() >= 2; }));
    bool sawSettings = false;
    QTimer::singleShot(0, &f, [&] {
        sawSettings = f.FormSettings() && f.FormSettings()->isVisible() && f.FormSettings()->isModal();
        if (f.FormSettings())
            f.FormSettings()->btnOk->Click();
    });
    f.mniMainSettings->trigger();
    EXPECT_TRUE(sawSettings);
    EXPECT_EQ(f.FormSettings(), nullptr);
    EXPECT_TRUE(readConfig().contains("FileKeepDays=7"));

    // The Tasks tab's link opens the same dialog.
    bool sawFromTab = false;
    QTimer::singleShot(0, &f, [&] {
        sawFromTab = f.FormSettings() != nullptr;
        if (f.FormSettings())
            f.FormSettings()->btnCancel->Click();
    });
    f.TasksTab->OnSetDownloadDir(f.TasksTab);
    EXPECT_TRUE(sawFromTab);

    QString version, home;
    QTimer::singleShot(0, &f, [&] {
        if (!f.FormAbout())
            return;
        version = f.FormAbout()->lblVersion->text();
        home = f.FormAbout()->lblHome->toolTip();
        QTest::keyClick(f.FormAbout(), Qt::Key_Escape);
    });
    f.mniMainAbout->trigger();
    EXPECT_TRUE(version.startsWith("Version "));
    EXPECT_EQ(home, f.URL_HOME);
    EXPECT_EQ(f.FormAbout(), nullptr);
}

TEST_F(MainWindow, AboutDialogShowsTheLanguagesTextsAndFonts)
{
    ASSERT_TRUE(writeFile(appDir + "Config/Config.ini", "[LANGUAGE]\r\nLanguage=1033\r\n"));
    ASSERT_TRUE(writeFile(appDir + "Langs/1033/Orvane.ini",
                          "[FONT_RES]\r\n3=Arial;FF0000;14;[fsBold,fsUnderline]\r\n"
                          "[FONT_SET]\r\nFormOVAbout.lblTitle.Font=3\r\n"));
    TFormOVMain &f = makeForm();
    TFormOVAbout about(f.URL_HOME, &f);
    const QFont title = about.lblTitle->font();
    EXPECT_TRUE(title.bold());
    EXPECT_TRUE(title.underline());
    EXPECT_EQ(title.pointSize(), 14);
    EXPECT_EQ(about.lblTitle->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(about.lblTitle->text(), "Orvane");
    EXPECT_TRUE(about.lblCopyright->text().contains(QChar(0xA9)));
    EXPECT_TRUE(about.mmoDesc->isReadOnly());
    EXPECT_EQ(about.mmoDesc->document()->blockCount(), 4); // the description's four lines
    EXPECT_TRUE(about.mmoDesc->toPlainText().startsWith("\"Orvane\" is a utility"));
    EXPECT_EQ(about.size(), QSize(500, 360));
    about.lblHomeClick();
    EXPECT_EQ(launcher.calls, QStringList {"open|" + f.URL_HOME});
}

// The toolkit's own words (standard buttons, the folder picker) follow the
// Code of the language file in use, however the language was switched; and
// characters the interface font lacks come from the language's caption family.
TEST_F(MainWindow, ToolkitTextsAndGlyphsFollowTheLanguageFile)
{
    ASSERT_TRUE(QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm"))
        << "Qt's translations are not installed";
    ASSERT_TRUE(writeFile(appDir + "Config/Config.ini", "[LANGUAGE]\r\nLanguage=2052\r\n"));
    TFormOVMain &f = makeForm();
    const auto yes = [] { return QCoreApplication::translate("QPlatformTheme", "&Yes"); };
    // The family that draws a Chinese word in the window's own font.
    const auto chineseFamily = [&f] {
        QTextLayout layout(QString::fromUtf16(u"\u5185\u5b58"), f.font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        return runs.isEmpty() ? QString() : runs.first().rawFont().familyName();
    };
    const QByteArray chinese = "Code=zh-CN\r\n[FONT_RES]\r\n0=Noto Sans CJK SC;FFFFFF;12;[fsBold]\r\n"
                               "[FONT_SET]\r\nFormOVMain.SkinMgr.Title.Font=0\r\n";

    struct Step
    {
        const char *lcid;
        QByteArray head; // beyond [HEAD] LCID
        bool translated;
    } steps[] = {
        {"2052", chinese, true},
        {"1033", "Code=en-US\r\n", false},
        {"2052", chinese, true},
        {"1031", "", false}, // a file naming no language: the toolkit's English
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.lcid);
        const QString file = appDir + "Langs/" + s.lcid + "/Orvane.ini";
        ASSERT_TRUE(writeFile(file, QByteArray("[HEAD]\r\nLCID=") + s.lcid + "\r\n" + s.head));
        f.MultiLangs()->LoadLanguageFile(file);
        EXPECT_EQ(yes() != "&Yes", s.translated) << yes().toStdString();
        if (s.translated) {
            EXPECT_EQ(chineseFamily().toLower().toStdString(), "noto sans cjk sc");
        }
    }
}

// Settings dialog: what it shows for a stored file, and what OK stores.
TEST_F(MainWindow, SettingsDialogShowsAndStoresTheFileClamped)
{
    struct Case
    {
        const char *file; // Config.ini content, nullptr for none
        const char *dir;
        bool autoInstall;
        int radio; // 1..3
        int spin;
        bool spinEnabled;
        const char *storedDays;
    } cases[] = {
        {nullptr, "<app>Downloads/", true, 1, 7, true, "FileKeepDays=7"},
        {"[ORVANE]\r\nFileKeepDays=250\r\nAutoInstall=yes\r\n", "<app>Downloads/", true, 1, 100, true,
         "FileKeepDays=100"},
        {"[ORVANE]\r\nFileKeepDays=-5\r\nAutoInstall=0\r\nDownloadsDir=<app>D\r\n", "<app>D", false, 1, 1,
         true, "FileKeepDays=1"},
        {"[ORVANE]\r\nFileKeepDays=0\r\n", "<app>Downloads/", true, 2, 7, false, "FileKeepDays=0"},
        {"[ORVANE]\r\nFileKeepDays=-1\r\nResumeBroken=0\r\n", "<app>Downloads/", true, 3, 7, false,
         "FileKeepDays=-1"},
    };
    TFormOVMain &f = makeForm();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        QFile::remove(appDir + "Config/Config.ini");
        if (c.file) {
            ASSERT_TRUE(writeFile(appDir + "Config/Config.ini",
                                  QByteArray(c.file).replace("<app>", appDir.toUtf8())));
        }
        TFormOVSettings dialog(&f);
        EXPECT_EQ(dialog.edtDownloadsDirValue->text(), QString(c.dir).replace("<app>", appDir));
        EXPECT_EQ(dialog.chkAutoInstallValue->isChecked(), c.autoInstall);
        QRadioButton *radios[] = {dialog.rbFileKeepDays1, dialog.rbFileKeepDays2, dialog.rbFileKeepDays3};
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(radios[r]->isChecked(), r + 1 == c.radio) << r;
        EXPECT_EQ(dialog.sedtFileKeepDaysValue->value(), c.spin);
        EXPECT_EQ(dialog.sedtFileKeepDaysValue->isEnabled(), c.spinEnabled);
        dialog.btnOk->Click();
        const QByteArray stored = readConfig();
        EXPECT_TRUE(stored.contains(c.storedDays)) << stored.constData();
        for (const char *key : {"DownloadsDir=", "AutoInstall=", "ResumeBroken="})
            EXPECT_TRUE(stored.contains(key)) << key;
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
}

TEST_F(MainWindow, SettingsDialogApplyCancelAndItsFolderControls)
{
    TFormOVMain &f = makeForm();
    {
        TFormOVSettings dialog(&f);
        dialog.rbFileKeepDays3->click();
        EXPECT_FALSE(dialog.sedtFileKeepDaysValue->isEnabled());
        dialog.rbFileKeepDays1->click();
        EXPECT_TRUE(dialog.sedtFileKeepDaysValue->isEnabled());
        dialog.rbFileKeepDays2->click();
        dialog.btnApply->Click();
        EXPECT_EQ(OVSettings::FileKeepDays.load(), 0); // in memory at once
        dialog.chkResumeBrokenValue->setChecked(false);
        dialog.edtDownloadsDirValue->setText(appDir + "Elsewhere");
        dialog.btnCancel->Click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_TRUE(readConfig().contains("FileKeepDays=0")); // Apply stays stored
    EXPECT_TRUE(readConfig().contains("ResumeBroken=1"));
    {
        TFormOVSettings dialog(&f);
        EXPECT_EQ(dialog.edtDownloadsDirValue->text(), appDir + "Downloads/"); // Cancel stored nothing
        EXPECT_TRUE(dialog.rbFileKeepDays2->isChecked());

        QStringList picks {"", "  ", "/picked/dir"};
        QString titleSeen;
        dialog.BrowseFolder = [&](const QString &title, QWidget *) {
            titleSeen = title;
            return picks.takeFirst();
        };
        dialog.btnDownloadsDirBrowse->Click();
        dialog.btnDownloadsDirBrowse->Click();
        EXPECT_EQ(dialog.edtDownloadsDirValue->text(),
                  appDir + "Downloads/"); // cancelled or blank: unchanged
        dialog.btnDownloadsDirBrowse->Click();
        EXPECT_EQ(dialog.edtDownloadsDirValue->text(), "/picked/dir");
        EXPECT_EQ(titleSeen, "Specify a folder to save download files.");

        dialog.lblDownloadsDirOpenClick();
        dialog.lblDownloadsDirDefaultClick();
        EXPECT_EQ(dialog.edtDownloadsDirValue->text(), appDir + "Downloads/");
        dialog.lblDownloadsDirOpenClick();
        EXPECT_EQ(launcher.calls,
                  QStringList {"folder|" + appDir + "Downloads/"}); // a missing folder opens nothing
        EXPECT_EQ(dialog.lblDownloadsDirDefault->x(),
                  dialog.lblDownloadsDirOpen->x() + dialog.lblDownloadsDirOpen->width() + 6);
        EXPECT_EQ(dialog.btnOk->Caption(), "OK");
        EXPECT_EQ(dialog.btnApply->Caption(), "Apply");
        EXPECT_EQ(dialog.btnCancel->Caption(), "Cancel");
    }
}

TEST_F(MainWindow, StatusLineShortcutAndMenuCarryTheirTexts)
{
    TFormOVMain &f = makeForm();
    EXPECT_TRUE(f.lblStatusVersion->text().startsWith("Orvane Version: "));
    EXPECT_EQ(f.lblStatusInfo->x(), f.lblStatusVersion->x() + f.lblStatusVersion->width() + 6);
    EXPECT_EQ(f.Header->lblTabTasks->text(), "Download(0) / Install(0)");
    EXPECT_EQ(f.mniMainSettings->text(), "Settings...");
    EXPECT_EQ(f.mniMainHelp->text(), "Help");
    EXPECT_EQ(f.mniMainHomePage->text(), "Homepage");
    EXPECT_EQ(f.mniMainAbout->text(), "About...");
    EXPECT_EQ(f.actHelp->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(f.btnTabUninst->accessibleName(), "Uninstall");
    EXPECT_FALSE(f.btnTabTasks->isVisible());
}

TEST_F(MainWindow, NewTaskIsListedAnimatesTheShortcutAndIsSavedAtTheEnd)
{
    LoopbackServer server;
    server.server.Get("/tool.bin", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(std::string(4096, 'x'), "application/octet-stream");
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(writeFile(appDir + "Config/Config.ini", "[ORVANE]\r\nAutoInstall=0\r\n"));
    TFormOVMain &f = makeForm();
    ASSERT_TRUE(waitUntil([&] { return boxes.size() >= 2; }));

    TOVTaskItem *task = f.AddDownloadTask("Tiny Tool", QString::fromStdString(server.url("/tool.bin")));
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(f.TasksTab->lvTasks()->topLevelItemCount(), 1);
    EXPECT_TRUE(f.Header->tmrTasksAnimate->isActive());
    EXPECT_EQ(f.Header->tmrTasksAnimate->interval(), 5000);
    EXPECT_TRUE(f.Header->imgTabTasksFrame->isVisible());
    EXPECT_TRUE(f.Header->imgTabTasksFrame->GIFAnimation());
    ASSERT_TRUE(waitUntil([&] { return task->State == 7; }, 10000)); // DownloadCompleted
    EXPECT_EQ(f.Header->lblTabTasks->text(), f.TasksTab->ShortcutText());

    f.Header->tmrTasksAnimateTimer(); // five seconds later
    EXPECT_FALSE(f.Header->tmrTasksAnimate->isActive());
    EXPECT_FALSE(f.Header->imgTabTasksFrame->isVisible());

    form.reset(); // FormDestroy writes the list
    QFile list(appDir + "Config/OVTasks.ini");
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_TRUE(list.readAll().contains("Name=Tiny Tool"));
}

// A program of the program's own registry runs: its row leads to its Uninstall entry, and
// its uninstall closes it first (the uninstaller, a test script, records what it met).
TEST_F(MainWindow, RunningProgramLeadsToItsEntryAndIsClosedBeforeItsUninstall)
{
    QTemporaryDir programs; // outside the application folder: not one of the program's own files
    ASSERT_TRUE(programs.isValid());
    const QString folder = programs.path() + QStringLiteral("/Demo");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/demo-editor");
    ASSERT_TRUE(QFile::copy(QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath(), program));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    const QString pidFile = appDir + QStringLiteral("demo.pid");
    const QString met = appDir + QStringLiteral("met");
    const QString script = appDir + QStringLiteral("uninstall.sh");
    ASSERT_TRUE(writeFile(script,
                          "#!/bin/sh\np=$(cat \"$1\")\n"
                          "if [ -e /proc/$p ] && ! grep -q '^State:[[:space:]]*Z' /proc/$p/status; then\n"
                          "  echo running > \"$2\"\nelse\n  echo ended > \"$2\"\nfi\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    platform::setRegistryDirectory(appDir + QStringLiteral("Registry"));
    ASSERT_TRUE(
        writeFile(appDir + QStringLiteral("Registry/HKEY_CURRENT_USER.reg"),
                  "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
                  "Uninstall\\\\DemoEditor] 1\n\"DisplayName\"=\"Demo Editor\"\n\"InstallLocation\"=\""
                      + QFile::encodeName(folder) + "\"\n\"UninstallString\"=\"'" + QFile::encodeName(script)
                      + "' '" + QFile::encodeName(pidFile) + "' '" + QFile::encodeName(met) + "'\"\n"));
    proctest::Child demo({program.toStdString(), "300"});
    ASSERT_GT(demo.pid, 0);
    ASSERT_TRUE(writeFile(pidFile, QByteArray::number(demo.pid)));

    answer = [](const Box &box) { return box.text.contains(QLatin1String("running")) ? IDYES : IDNO; };
    TFormOVMain &f = makeForm();
    f.SelectTab(TFormOVMain::TabRunning);
    TOVRunningTab *running = f.RunningTab;
    ASSERT_TRUE(waitUntil([&] { return running->RowOf(quint32(demo.pid)) != nullptr; }));
    QTreeWidgetItem *row = running->RowOf(quint32(demo.pid));
    running->lvRunning->setCurrentItem(row);
    row->setSelected(true);
    ASSERT_NE(running->SelectedProcess(), nullptr);
    EXPECT_EQ(running->SelectedProcess()->Name, "demo-editor");
    EXPECT_EQ(row->text(procmon::ColDescription), "Demo Editor") << "the application describes its program";

    running->CommandShowInUninstallList();
    EXPECT_EQ(f.CurrentTab(), TFormOVMain::TabUninst);
    ASSERT_NE(f.UninstTab->SelectedEntry(), nullptr);
    EXPECT_EQ(f.UninstTab->SelectedEntry()->DisplayName, "Demo Editor");

    // No: nothing is closed and nothing uninstalled.
    answer = [](const Box &) { return IDNO; };
    boxes.clear();
    f.UninstTab->CommandUninstall();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(proctest::isRunning(demo.pid));
    EXPECT_EQ(f.UninstMgr()->RunningUninstalls(), 0);

    answer = [](const Box &box) { return box.text.contains(QLatin1String("running")) ? IDYES : IDNO; };
    boxes.clear();
    f.UninstTab->CommandUninstall();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("demo-editor [%1]").arg(demo.pid)))
        << boxes[0].text.toStdString();
    EXPECT_FALSE(proctest::isRunning(demo.pid));
    ASSERT_TRUE(waitUntil([&] { return f.UninstMgr()->RunningUninstalls() == 0 && QFileInfo::exists(met); }));
    QFile result(met);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll().trimmed(), "ended");
    form.reset();
    platform::setRegistryDirectory(QString());
}
