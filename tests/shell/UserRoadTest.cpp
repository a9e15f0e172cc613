// A user's whole road on the real main window, against the reference vendor
// site running as its own process: the recommendation page, a download
// started by the page's own button, its installation, the installed program
// on the Uninstall tab with its recommendations, its removal, a process ended
// from the Running tab, and the task list after a restart. Once per interface
// language. Everything the road writes stays in scratch folders.
#include "core/BrimMultiLangs.h"
#include "core/OVSettings.h"
#include "installed/UninstManager.h"
#include "installed/tab/UninstallTab.h"
#include "online/HttpFetcher.h"
#include "platform/AppPath.h"
#include "procmon/OVProcDB.h"
#include "procmon/Processes.h"
#include "procmon/tab/RunningTab.h"
#include "shell/FormOVMain.h"
#include "shell/OVHeaderBand.h"
#include "shell/TopXTab.h"
#include "support/Files.h"
#include "support/GuiApp.h"
#include "support/WebPage.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskItem.h"
#include "tasks/tab/TasksTab.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimWebBrowser.h"
#include "ui/DictLoginDialog.h"

#include <QAbstractButton>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// Texts in failure messages as text.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using testsupport::waitUntil;

const QString kUninstallKey
    = QStringLiteral("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\");

// Waits for a step of the road; a failure names the step.
::testing::AssertionResult reach(const char *step, const std::function<bool()> &done, int timeoutMs = 30000)
{
    if (waitUntil(done, timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "step not reached within " << timeoutMs << " ms: " << step;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file below a folder, with its size: what a run may not have changed.
QStringList listing(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().size());
    }
    out.sort();
    return out;
}

// A program of the site's catalogue.
QJsonObject catalogueEntry(const char *id)
{
    const QJsonArray programs
        = QJsonDocument::fromJson(readAll(QStringLiteral(ORVANE_SITE_ROOT "/catalogue.json")))
              .object()
              .value("programs")
              .toArray();
    for (const QJsonValue &p : programs)
        if (p.toObject().value("id").toString() == QLatin1String(id))
            return p.toObject();
    return {};
}

// The reference site as a process of its own on a free loopback port.
class SiteProcess
{
public:
    bool Start()
    {
        // The port is free when asked; another program may take it before
        // the site binds it, so a refused port is tried again with another.
        for (int attempt = 0; attempt < 5; ++attempt) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            Port = probe.serverPort();
            probe.close();
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start(QStringLiteral(ORVANE_SITE_EXE),
                            {"--port", QString::number(Port), "--root", QStringLiteral(ORVANE_SITE_ROOT)});
            if (!m_process.waitForStarted(10000))
                return false;
            QByteArray said;
            waitUntil(
                [&] {
                    said += m_process.readAll();
                    return said.contains("serving") || m_process.state() == QProcess::NotRunning;
                },
                15000);
            if (said.contains("serving"))
                return true;
            m_process.waitForFinished(5000);
        }
        return false;
    }
    ~SiteProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate(); // SIGTERM to its own pid
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString Url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(Port).arg(QLatin1String(path));
    }

    int Port = 0;

private:
    QProcess m_process;
};

struct RoadCase
{
    const char *name;
    quint16 language;
    int fileKeepDays; // 0: installed downloads go; -1: they stay
    const char *programId; // a free program of the site's catalogue
    const char *title;
};

void PrintTo(const RoadCase &c, std::ostream *os)
{
    *os << c.name;
}

class UserRoad : public ::testing::TestWithParam<RoadCase>
{
protected:
    static void SetUpTestSuite()
    {
        // The web engine as the program's start sets it up.
        QStringList engineFlags {QStringLiteral("--renderer-process-limit=1")};
        if (qEnvironmentVariableIntValue("QTWEBENGINE_DISABLE_SANDBOX") == 1)
            engineFlags << QStringLiteral("--no-zygote");
        TBrimWebBrowser::PrepareApplication(engineFlags);
        testsupport::guiApp();
        QApplication::setQuitOnLastWindowClosed(false);
        online::installHttpFetcher();
        // The installers put their programs and menu entries under the user's
        // data folder; the road's user lives in a scratch home for the whole
        // run (the web engine keeps its profile there too).
        s_realData = qEnvironmentVariable("XDG_DATA_HOME");
        if (!s_realData.startsWith(QLatin1Char('/')))
            s_realData = QDir::homePath() + QStringLiteral("/.local/share");
        ASSERT_TRUE(home().isValid());
        for (const char *v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            qputenv(v, QFile::encodeName(home().path() + '/' + v));
        qputenv("HOME", QFile::encodeName(home().path()));
        // Installers find the registry tool of the program's folder; nothing
        // from outside may point them elsewhere.
        qunsetenv("ORVANE_REG");
        qunsetenv("ORVANE_REGISTRY_DIR");
    }
    // The scratch home; removed when the test program ends, as the web
    // engine keeps its profile in it until then.
    static QTemporaryDir &home()
    {
        static QTemporaryDir dir;
        return dir;
    }

    void SetUp() override
    {
        const RoadCase &c = GetParam();
        ASSERT_TRUE(dir.isValid());
        appDir = dir.path() + QLatin1Char('/');
        // Each road installs into a data folder of its own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
        demoDir = dir.path() + QStringLiteral("/data/orvane-demo/") + c.programId;
        realBefore = realDemoFiles();
        stageBefore = programFolderFiles();
        ASSERT_TRUE(site.Start()) << "the reference site did not start";
        qputenv("ORVANE_PROBE_URLS", site.Url("/").toUtf8());

        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_REG_EXE), appDir + "orvane-reg"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_STAGE_DIR "/ProcDB.db"), appDir + "ProcDB.db"));
        ASSERT_TRUE(testsupport::writeFile(appDir + "Config/Config.ini",
                                           QStringLiteral("[ORVANE]\r\nAutoInstall=1\r\nFileKeepDays=%1\r\n"
                                                          "[LANGUAGE]\r\nLanguage=%2\r\n")
                                               .arg(c.fileKeepDays)
                                               .arg(c.language)
                                               .toUtf8()));
        ASSERT_TRUE(stageLanguage(c.language));
        platform::setApplicationDirectoryOverride(appDir);
        OVSettings::ResetSettings();

        // Every question the road meets is answered on the real message box,
        // by a click on one of its buttons.
        boxAnswerer.setInterval(20);
        QObject::connect(&boxAnswerer, &QTimer::timeout, [this] { answerBox(); });
        boxAnswerer.start();
    }

    void TearDown() override
    {
        boxAnswerer.stop();
        form.reset();
        if (helper.state() != QProcess::NotRunning) {
            helper.kill(); // only the helper this test started, by its pid
            helper.waitForFinished(5000);
        }
        platform::setApplicationDirectoryOverride({});
        qunsetenv("ORVANE_PROBE_URLS");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home().path() + QStringLiteral("/XDG_DATA_HOME")));
    }

    // The language file of the run, with the vendor's addresses pointing at
    // the site (as a vendor who deploys the program sets them); addresses the
    // file names itself give way.
    bool stageLanguage(quint16 lcid)
    {
        QStringList lines
            = QString::fromUtf8(
                  readAll(QStringLiteral(ORVANE_SOURCE_DIR "/data/Langs/%1/Orvane.ini").arg(lcid)))
                  .split(QLatin1Char('\n'));
        lines.removeIf(
            [](const QString &line) { return line.trimmed().startsWith(QLatin1String("String.URL.")); });
        qsizetype items = -1;
        for (qsizetype i = 0; i < lines.size() && items < 0; ++i)
            if (lines[i].trimmed().compare(QLatin1String("[LANG_ITEMS]"), Qt::CaseInsensitive) == 0)
                items = i;
        if (items < 0) {
            if (lines.size() == 1 && lines[0].isEmpty())
                lines = {QStringLiteral("[HEAD]\r"), QStringLiteral("LCID=%1\r").arg(lcid)};
            lines << QStringLiteral("[LANG_ITEMS]\r");
            items = lines.size() - 1;
        }
        const QStringList urls {
            QStringLiteral("String.URL.Home=%1\r").arg(site.Url("/")),
            QStringLiteral("String.URL.Help=%1\r").arg(site.Url("/help.html")),
            QStringLiteral("String.URL.TopX=%1\r").arg(site.Url("/index.php/soft_api")),
            QStringLiteral("String.URL.WAPI=%1\r").arg(site.Url("/index.php/halvex_api")),
        };
        for (qsizetype i = 0; i < urls.size(); ++i)
            lines.insert(items + 1 + i, urls[i]);
        return testsupport::writeFile(appDir + QStringLiteral("Langs/%1/Orvane.ini").arg(lcid),
                                      lines.join(QLatin1Char('\n')).toUtf8());
    }

    // What the demonstration installers would leave in the real user's data folder.
    static QStringList realDemoFiles()
    {
        return listing(s_realData + QStringLiteral("/orvane-demo"))
            + QDir(s_realData + QStringLiteral("/applications")).entryList({QStringLiteral("orvane-demo-*")});
    }

    // The folders of the built program and of this test program, which the
    // road must never use in place of its scratch application folder.
    static QStringList programFolderFiles()
    {
        QStringList files;
        for (const QString &base : {QStringLiteral(ORVANE_STAGE_DIR), QCoreApplication::applicationDirPath()})
            for (const char *sub : {"/Config", "/Downloads", "/Files", "/Registry", "/Langs"})
                files += listing(base + QLatin1String(sub));
        return files;
    }

    // The main window as the program's start creates it.
    TFormOVMain &startWindow()
    {
        form = std::make_unique<TFormOVMain>();
        installDictLoginDialog(form.get());
        // The program opens its knowledge base once per run, beside itself;
        // each road here has a folder of its own and reads the one in it.
        knowledgeBase = std::make_unique<procmon::OVProcDB>(appDir + "ProcDB.db");
        form->RunningTab->KnowledgeBase = knowledgeBase.get();
        form->FormCreate();
        return *form;
    }

    QString text(const char *key) const { return form->MultiLangs()->GetText(QLatin1String(key)); }

    void answerBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == answering)
            return;
        answering = box;
        const QString asked = box->text();
        const bool yes = yesTo && yesTo(asked);
        boxes << asked;
        QAbstractButton *button = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
        if (!button)
            button = box->buttons().value(0);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void click(QWidget *w, QPoint at = {})
    {
        QTest::mouseClick(w, Qt::LeftButton, {}, at.isNull() ? w->rect().center() : at);
    }

    QTreeWidgetItem *uninstRow(const QString &name) const
    {
        QTreeWidget *lv = form->UninstTab->lvUninst();
        for (int i = 0; i < lv->topLevelItemCount(); ++i)
            if (lv->topLevelItem(i)->text(0) == name)
                return lv->topLevelItem(i);
        return nullptr;
    }

    QTemporaryDir dir;
    QString appDir;
    QString demoDir;
    QStringList realBefore;
    QStringList stageBefore;
    SiteProcess site;
    std::unique_ptr<procmon::OVProcDB> knowledgeBase;
    std::unique_ptr<TFormOVMain> form;
    QProcess helper;
    QTimer boxAnswerer;
    QPointer<QMessageBox> answering;
    std::function<bool(const QString &)> yesTo;
    QStringList boxes;

    static inline QString s_realData;
};

TEST_P(UserRoad, FromTheRecommendationPageToTheRestoredTaskList)
{
    const RoadCase &c = GetParam();
    const QString title = QString::fromUtf8(c.title);
    TFormOVMain &f = startWindow();
    ASSERT_EQ(f.LanguageId, c.language);
    const QString upgrade = text("String.MsgText.Upgrade");
    // The texts are the language file's where it has them.
    const QByteArray langFile = readAll(appDir + QStringLiteral("Langs/%1/Orvane.ini").arg(c.language));
    for (const char *key : {"String.MsgText.UninstallQuery", "FormOVMain.btnTabUninst.Caption"}) {
        for (const QByteArray &line : langFile.split('\n')) {
            if (line.startsWith(QByteArray(key) + '=')) {
                EXPECT_EQ(text(key), QString::fromUtf8(line.mid(qstrlen(key) + 1).trimmed())) << key;
            }
        }
    }
    EXPECT_EQ(f.btnTabUninst->Caption(), text("FormOVMain.btnTabUninst.Caption"));
    ASSERT_TRUE(reach("the upgrade question is answered No", [&] { return boxes.contains(upgrade); }));

    // The recommendation page: the vendor's live page.
    ASSERT_EQ(f.CurrentTab(), TFormOVMain::TabTopX);
    TBrimWebBrowser *page = f.TopXTab->wbTopXOnline;
    const auto js = [&](const QString &code) { return testsupport::evalInPage(page->Page(), code); };
    ASSERT_TRUE(reach("the recommendation page shows the site's list", [&] {
        return page->isVisible() && js("document.querySelectorAll('#list .app .get').length").toInt() > 0;
    }));

    // Its Download button hands the download to the program.
    const QString button = QStringLiteral("document.querySelector('#%1 button.get')").arg(c.programId);
    ASSERT_EQ(js(button + ".getAttribute('data-title')").toString(), title);
    js(button + ".click(); true");
    ASSERT_TRUE(reach("a task is created by the page's button", [&] { return f.TaskMgr()->Count() == 1; }));
    auto *task = dynamic_cast<TOVTaskItem *>(f.TaskMgr()->Items(0));
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->Name, title);
    EXPECT_EQ(task->HttpUrl, site.Url("/files/") + c.programId + "-setup.exe");
    EXPECT_TRUE(task->LocalFile.startsWith(appDir + "Downloads/")) << qPrintable(task->LocalFile);
    const QString localFile = task->LocalFile;
    EXPECT_TRUE(f.Header->imgTabTasksFrame->isVisible()) << "the Tasks shortcut shows the new task";

    // Downloaded, then installed without a question.
    ASSERT_TRUE(reach(
        "the download completes and its installer runs",
        [&] { return task->State == OVTaskState::InstallCompleted; }, 60000))
        << "state " << task->State;
    EXPECT_TRUE(task->Installed);
    EXPECT_GE(task->TotalSize, 200u * 1024); // the site's installers are padded
    EXPECT_EQ(task->CurrentSize, task->TotalSize);
    EXPECT_EQ(QFileInfo::exists(localFile), c.fileKeepDays != 0); // 0: the installer goes once installed
    EXPECT_TRUE(QFileInfo::exists(demoDir + "/uninstall.sh")) << "installed into the scratch home";
    EXPECT_TRUE(
        readAll(appDir + "Registry/HKEY_CURRENT_USER.reg").contains((kUninstallKey + c.programId).toUtf8()));

    // The Tasks tab lists it.
    click(f.Header->imgTabTasks);
    ASSERT_TRUE(reach("the Tasks tab shows", [&] { return f.CurrentTab() == TFormOVMain::TabTasks; }));
    ASSERT_EQ(f.TasksTab->lvTasks()->topLevelItemCount(), 1);
    EXPECT_EQ(f.TasksTab->lvTasks()->topLevelItem(0)->text(0), title);
    EXPECT_EQ(f.TasksTab->lvTasks()->topLevelItem(0)->text(1),
              f.MultiLangs()->GetText(OVTaskState::Key(OVTaskState::InstallCompleted)));
    EXPECT_EQ(f.Header->lblTabTasks->text(),
              f.MultiLangs()->FormatText(QStringLiteral("String.TasksInfo_1"), {0, 0}));

    // The Uninstall tab lists the program; the search selects it and its
    // recommendations come from the site's web API.
    click(f.btnTabUninst);
    TOVUninstallTab *uninst = f.UninstTab;
    ASSERT_TRUE(reach("the Uninstall tab lists the installed program",
                      [&] { return f.CurrentTab() == TFormOVMain::TabUninst && uninstRow(title); }));
    QLineEdit *search = uninst->edtUninstSearch();
    click(search);
    QTest::keyClicks(search, title);
    QTest::keyClick(search, Qt::Key_Return);
    ASSERT_TRUE(reach("the search selects the program", [&] {
        return uninst->SelectedEntry() && uninst->SelectedEntry()->DisplayName == title;
    }));
    // The details are what its installer registered.
    const QJsonObject program = catalogueEntry(c.programId);
    // The row's panel takes its width when it is shown; until then the name may be elided.
    EXPECT_TRUE(reach("the selected row shows the whole name",
                      [&] { return uninst->lblUninstSelItemTitle()->text() == title; }));
    EXPECT_EQ(uninst->DetailValue("PublisherV")->text(), program["publisher"].toString());
    EXPECT_EQ(uninst->DetailValue("VersionV")->text(), program["version"].toString());
    const QDate today = QDate::currentDate(); // the day may turn during the road
    EXPECT_TRUE(uninst->DetailValue("DateV")->text() == QLocale().toString(today, QLocale::ShortFormat)
                || uninst->DetailValue("DateV")->text()
                    == QLocale().toString(today.addDays(-1), QLocale::ShortFormat))
        << qPrintable(uninst->DetailValue("DateV")->text());
    EXPECT_EQ(uninst->DetailText(4), demoDir); // shown elided when long
    EXPECT_TRUE(uninst->DetailText(5).startsWith(site.Url("/"))) << qPrintable(uninst->DetailText(5));
    ASSERT_TRUE(reach("its recommendations arrive", [&] {
        return uninst->Top3RequestsStarted() > 0 && !uninst->Top3Pending()
            && (uninst->Top3Slot(false, 0).Valid || uninst->Top3Slot(true, 0).Valid);
    }));
    for (bool pay : {false, true}) {
        const TTop3Item &first = uninst->Top3Slot(pay, 0);
        if (!first.Valid)
            continue;
        EXPECT_FALSE(first.Title.isEmpty());
        EXPECT_TRUE(first.IconURL.startsWith(site.Url("/icons/"))) << qPrintable(first.IconURL);
        EXPECT_TRUE(uninst->Top3Panel(pay, 0)->isVisible());
        auto *icon = uninst->Top3Panel(pay, 0)->findChild<TBrimImage *>();
        ASSERT_NE(icon, nullptr);
        EXPECT_TRUE(reach("a recommendation's icon arrives", [&] { return icon->HasPicture(); }));
    }

    // A free recommendation's Download button adds a task as the page's did:
    // on top of the Tasks tab, downloaded and installed.
    // (The site recommends the searched program too: another one is taken.)
    int pick = 0;
    while (pick < 3 && uninst->Top3Slot(false, pick).Valid && uninst->Top3Slot(false, pick).Title == title)
        ++pick;
    ASSERT_LT(pick, 3) << "no other free recommendation";
    const TTop3Item recommended = uninst->Top3Slot(false, pick);
    ASSERT_TRUE(recommended.Valid && !recommended.DownloadURL.isEmpty()) << "no free recommendation";
    click(uninst->Top3Button(false, pick));
    ASSERT_TRUE(reach("the recommendation's button adds a task", [&] { return f.TaskMgr()->Count() == 2; }));
    auto *second = dynamic_cast<TOVTaskItem *>(f.TaskMgr()->Items(1));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Name, recommended.Title);
    EXPECT_EQ(second->HttpUrl, recommended.DownloadURL);
    EXPECT_EQ(f.TasksTab->lvTasks()->topLevelItem(0)->text(0), recommended.Title);
    ASSERT_TRUE(reach(
        "the recommended program is installed",
        [&] { return second->State == OVTaskState::InstallCompleted; }, 60000))
        << "state " << second->State;
    EXPECT_TRUE(readAll(appDir + "Registry/HKEY_CURRENT_USER.reg")
                    .contains(("\"DisplayName\"=\"" + recommended.Title + '"').toUtf8()));

    // Uninstalled after the confirmation; the entry leaves the list.
    const QString uninstallQuery = text("String.MsgText.UninstallQuery");
    yesTo = [&](const QString &asked) { return asked == uninstallQuery; };
    ASSERT_TRUE(uninst->btnUninstSelItemUninstall()->isVisible());
    click(uninst->btnUninstSelItemUninstall());
    ASSERT_TRUE(
        reach("the uninstall question is answered Yes", [&] { return boxes.contains(uninstallQuery); }));
    ASSERT_TRUE(reach(
        "the uninstalled program leaves the list", [&] { return !uninstRow(title); }, 60000));
    EXPECT_FALSE(QFileInfo::exists(demoDir));
    EXPECT_EQ(uninst->SelectedEntry(), nullptr); // the rebuilt list has no selection
    EXPECT_FALSE(uninst->pnlUninstSelItem()->isVisible());
    EXPECT_FALSE(
        readAll(appDir + "Registry/HKEY_CURRENT_USER.reg").contains((kUninstallKey + c.programId).toUtf8()));

    // The Running tab lists a process of ours and ends it with its own command.
    helper.start(QStringLiteral("/bin/sleep"), {"600"});
    ASSERT_TRUE(helper.waitForStarted(10000));
    const auto pid = quint32(helper.processId());
    click(f.btnTabRunning);
    TOVRunningTab *running = f.RunningTab;
    ASSERT_TRUE(reach("the Running tab shows", [&] {
        return f.CurrentTab() == TFormOVMain::TabRunning && running->lblRunningHideSystem->isVisible()
            && !running->lblRunningSysStatus->text().isEmpty();
    }));
    // The test may run as root, whose processes count as the system's: the
    // link shows them.
    if (running->HideSystem())
        click(running->lblRunningHideSystem);
    ASSERT_FALSE(running->HideSystem()) << "the link did not show the system's processes";
    ASSERT_TRUE(reach("the Running tab lists the helper", [&] { return running->RowOf(pid); }));
    // The list is refreshed every second and may move the row between the
    // scroll and the click: a click that missed is made again.
    const auto helperSelected
        = [&] { return running->SelectedProcess() && running->SelectedProcess()->ProcessID == pid; };
    for (int attempt = 0; attempt < 5 && !helperSelected(); ++attempt) {
        QTreeWidgetItem *row = running->RowOf(pid);
        ASSERT_NE(row, nullptr) << "the helper's row went";
        running->lvRunning->scrollToItem(row);
        click(running->lvRunning->viewport(), running->lvRunning->visualItemRect(row).center());
        waitUntil(helperSelected, 2000);
    }
    ASSERT_TRUE(helperSelected()) << "a click on the helper's row does not select it";
    // Its description: the knowledge base's under Simplified Chinese only.
    QString known;
    for (const QByteArray &line :
         readAll(QStringLiteral(ORVANE_SOURCE_DIR "/data/procdb/processes.tsv")).split('\n'))
        if (line.startsWith("sleep\t"))
            known = QString::fromUtf8(line.split('\t').value(2)).trimmed();
    ASSERT_FALSE(known.isEmpty());
    const auto rowShows = [&](const QString &description) {
        QTreeWidgetItem *row = running->RowOf(pid);
        for (int col = 0; row && col < row->columnCount(); ++col)
            if (row->text(col) == description)
                return true;
        return false;
    };
    if (c.language == 2052) {
        EXPECT_TRUE(reach("the knowledge base describes the helper", [&] { return rowShows(known); }));
    } else {
        EXPECT_FALSE(rowShows(known));
    }
    const QString pidText = QString::number(pid);
    yesTo = [&](const QString &asked) { return asked.contains(pidText); };
    ASSERT_TRUE(reach("the terminate button shows",
                      [&] { return running->btnRunningSelItemTerminate->isVisible(); }));
    click(running->btnRunningSelItemTerminate);
    ASSERT_TRUE(reach("the helper ends", [&] { return helper.state() == QProcess::NotRunning; }));
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit); // killed
    ASSERT_TRUE(reach("its row goes", [&] { return !running->RowOf(pid); }));
    yesTo = nullptr;

    // The road's questions and no other box (a failure would have shown one).
    ASSERT_EQ(boxes.size(), 3) << qPrintable(boxes.join(" | "));
    EXPECT_EQ(boxes[0], upgrade);
    EXPECT_EQ(boxes[1], uninstallQuery);
    // Its two lines show without the stray carriage return of the language's line break.
    EXPECT_EQ(
        boxes[2],
        f.MultiLangs()
            ->FormatText(QStringLiteral("String.MsgText.TerminateQuery"), {QStringLiteral("sleep"), pid})
            .replace(QLatin1String("\n\r"), QLatin1String("\n")));
    EXPECT_FALSE(boxes[2].contains(QLatin1Char('\r')));

    // The page's copy is kept for the next start.
    ASSERT_TRUE(
        reach("the recommendation page's copy is saved", [&] { return f.TopXTab->TopXSaveDone == -1; }));

    // Closed with the caption's close button: the task list is written.
    QWidget *close = f.childAt(f.width() - 30 + 6, 5 + 6);
    ASSERT_NE(qobject_cast<TBrimImageButton *>(close), nullptr) << "no close button on the caption";
    click(close);
    ASSERT_TRUE(reach("the window closes", [&] { return !f.isVisible(); }));
    EXPECT_TRUE(QFileInfo::exists(appDir + "Files/TopX.mht")) << "the page's copy for the next start";
    form.reset();
    const QByteArray written = readAll(appDir + "Config/OVTasks.ini");
    EXPECT_TRUE(written.contains(("Name=" + title).toUtf8())) << written.constData();
    EXPECT_TRUE(written.contains(("Name=" + recommended.Title).toUtf8())) << written.constData();
    EXPECT_TRUE(written.contains("Installed=1")) << written.constData();

    // The next start reads it back under the FileKeepDays rule.
    boxes.clear();
    TFormOVMain &again = startWindow();
    // The page's copy shows at once, then the live page.
    EXPECT_TRUE(again.TopXTab->wbTopXLocal->isVisible());
    ASSERT_TRUE(reach("the second upgrade question is answered No", [&] { return boxes.contains(upgrade); }));
    ASSERT_TRUE(reach("the second start shows the live page", [&] {
        return again.TopXTab->wbTopXOnline->isVisible()
            && testsupport::evalInPage(again.TopXTab->wbTopXOnline->Page(),
                                       "document.querySelectorAll('#list .app .get').length")
                   .toInt()
            > 0;
    }));
    QTreeWidget *lvTasks = again.TasksTab->lvTasks();
    if (c.fileKeepDays == 0) {
        EXPECT_EQ(again.TaskMgr()->Count(), 0); // the installed download was dropped
        EXPECT_EQ(lvTasks->topLevelItemCount(), 0);
        EXPECT_FALSE(QFileInfo::exists(localFile));
        EXPECT_TRUE(QDir(appDir + "Downloads").isEmpty());
    } else {
        // Both kept, with their files; loaded rows follow the file's order.
        ASSERT_EQ(again.TaskMgr()->Count(), 2);
        const QStringList names {title, recommended.Title};
        for (int i = 0; i < 2; ++i) {
            auto *kept = dynamic_cast<TOVTaskItem *>(again.TaskMgr()->Items(i));
            ASSERT_NE(kept, nullptr);
            EXPECT_EQ(kept->Name, names[i]);
            EXPECT_TRUE(kept->Installed);
            EXPECT_EQ(kept->State, OVTaskState::DownloadCompleted);
            EXPECT_TRUE(QFileInfo::exists(kept->LocalFile)) << qPrintable(kept->LocalFile);
            ASSERT_EQ(lvTasks->topLevelItemCount(), 2);
            EXPECT_EQ(lvTasks->topLevelItem(i)->text(0), names[i]);
        }
        EXPECT_TRUE(QFileInfo::exists(localFile));
        // Nothing else: no partial-state file outlives its completed download.
        EXPECT_EQ(QDir(appDir + "Downloads").entryList(QDir::Files | QDir::Hidden).size(), 2)
            << qPrintable(QDir(appDir + "Downloads").entryList(QDir::Files | QDir::Hidden).join(' '));
    }
    form.reset();
    EXPECT_EQ(boxes, QStringList {upgrade});
    const QByteArray rewritten = readAll(appDir + "Config/OVTasks.ini");
    if (c.fileKeepDays == 0)
        EXPECT_TRUE(rewritten.isEmpty()) << rewritten.constData();
    else
        EXPECT_TRUE(rewritten.contains(("Name=" + recommended.Title).toUtf8())) << rewritten.constData();

    // Nothing outside the scratch folders changed.
    EXPECT_EQ(realDemoFiles(), realBefore);
    EXPECT_EQ(programFolderFiles(), stageBefore);
}

INSTANTIATE_TEST_SUITE_P(Languages, UserRoad,
                         ::testing::Values(RoadCase {"English", 1033, 0, "notelark", "NoteLark"},
                                           RoadCase {"SimplifiedChinese", 2052, -1, "pebblezip",
                                                     "PebbleZip"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
