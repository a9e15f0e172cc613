// The Wine prefix as an uninstall source, against a prefix that Wine itself
// created and wrote (wineboot, then Wine's own reg tool).
#include "SiteFixture.h"
#include "core/OVSettings.h"
#include "installed/UninstManager.h"
#include "platform/AnsiCodePage.h"
#include "platform/FileVersion.h"
#include "platform/Registry.h"
#include "platform/WinePrefix.h"
#include "procmon/Processes.h"
#include "support/Files.h"
#include "support/Wait.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// One scratch prefix for the whole test program: wineboot takes a while.
struct Prefix
{
    QTemporaryDir dir;
    QString prefix;
    QString home;
    QString error;

    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("WINEPREFIX"), prefix);
        e.insert(QStringLiteral("HOME"), home);
        e.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        // No Mono or Gecko install dialogs in a test prefix.
        e.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
        return e;
    }
    // Runs a program with the prefix's environment; its exit code, or -1.
    int run(const QString &program, const QStringList &args, int timeoutMs = 120000) const
    {
        QProcess p;
        p.setProcessEnvironment(env());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    int wine(const QStringList &args) const { return run(QStringLiteral("wine"), args); }
    // Until the server has ended, the hive files may not hold the latest changes.
    void flush() const { run(QStringLiteral("wineserver"), {QStringLiteral("-w")}); }
    bool regAdd(const QString &key, const QString &name, const QString &type, const QString &data) const
    {
        return wine({QStringLiteral("reg"), QStringLiteral("add"), key, QStringLiteral("/v"), name,
                     QStringLiteral("/t"), type, QStringLiteral("/d"), data, QStringLiteral("/f")})
            == 0;
    }
};

const QString kUninst = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");

Prefix *g_prefix = nullptr;

class WineSource : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testsupport::coreApp();
        if (g_prefix)
            return;
        g_prefix = new Prefix;
        Prefix &p = *g_prefix;
        if (QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty()) {
            p.error = QStringLiteral("wine is not installed");
            return;
        }
        p.prefix = p.dir.path() + QStringLiteral("/prefix");
        p.home = p.dir.path() + QStringLiteral("/home");
        QDir().mkpath(p.home);
        if (p.run(QStringLiteral("wineboot"), {QStringLiteral("-i")}, 240000) != 0) {
            p.error = QStringLiteral("wineboot failed");
            return;
        }
        const QString m = QStringLiteral("HKLM\\") + kUninst;
        const bool ok = p.regAdd(m + u"App1"_qs, u"DisplayName"_qs, u"REG_SZ"_qs, u"中文软件"_qs)
            && p.regAdd(m + u"App1"_qs, u"UninstallString"_qs, u"REG_EXPAND_SZ"_qs,
                        u"\"C:\\Program Files\\App1\\uninst.exe\" /S"_qs)
            && p.regAdd(m + u"App1"_qs, u"Comments"_qs, u"REG_MULTI_SZ"_qs, u"one\\0two"_qs)
            && p.regAdd(m + u"App1"_qs, u"EstimatedSize"_qs, u"REG_DWORD"_qs, u"1234"_qs)
            && p.regAdd(m + u"App1"_qs, u"Publisher"_qs, u"REG_SZ"_qs, u"出版者"_qs)
            && p.regAdd(m + u"App1"_qs, u"InstallLocation"_qs, u"REG_SZ"_qs, u"C:\\Program Files\\App1"_qs)
            && p.regAdd(m + u"App1"_qs, u"DisplayIcon"_qs, u"REG_SZ"_qs,
                        u"C:\\windows\\system32\\NOTEPAD.EXE,0"_qs)
            && p.regAdd(m + u"Patch1"_qs, u"DisplayName"_qs, u"REG_SZ"_qs, u"App1 hotfix"_qs)
            && p.regAdd(m + u"Patch1"_qs, u"ParentDisplayName"_qs, u"REG_SZ"_qs, u"中文软件"_qs)
            && p.regAdd(m + u"Hidden"_qs, u"DisplayName"_qs, u"REG_SZ"_qs, u"Hidden part"_qs)
            && p.regAdd(m + u"Hidden"_qs, u"SystemComponent"_qs, u"REG_DWORD"_qs, u"1"_qs)
            && p.regAdd(
                QStringLiteral(
                    "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Old32"),
                u"DisplayName"_qs, u"REG_SZ"_qs, u"Old 32-bit tool"_qs)
            && p.regAdd(QStringLiteral("HKCU\\") + kUninst + u"Mine"_qs, u"DisplayName"_qs, u"REG_SZ"_qs,
                        u"Bei user"_qs)
            && p.regAdd(QStringLiteral("HKCU\\") + kUninst + u"Mine"_qs, u"UninstallString"_qs, u"REG_SZ"_qs,
                        u"MsiExec.exe /X{11111111-2222-3333-4444-555555555555}"_qs);
        p.flush();
        if (!ok)
            p.error = QStringLiteral("wine reg add failed");
    }

    void SetUp() override
    {
        if (!g_prefix->error.isEmpty())
            GTEST_SKIP() << g_prefix->error.toStdString();
        // The program's own hives stay out of these scans.
        platform::setRegistryDirectory(scratch.path(QStringLiteral("Registry")));
        platform::setAnsiCodePageOverride("GBK");
        qputenv("XDG_CACHE_HOME", scratch.path(QStringLiteral("cache")).toUtf8());
    }
    void TearDown() override
    {
        platform::setRegistryDirectory(QString());
        platform::setAnsiCodePageOverride({});
        qunsetenv("XDG_CACHE_HOME");
    }

    std::vector<std::unique_ptr<installed::InstalledSource>> wineOnly() const
    {
        std::vector<std::unique_ptr<installed::InstalledSource>> s;
        s.push_back(installed::MakeWineSource(g_prefix->prefix));
        return s;
    }
    static TUninstItem *byName(const TUninstManager &m, const QString &name)
    {
        for (int i = 0; i < m.Count(); ++i)
            if (m.Item(i)->DisplayName == name)
                return m.Item(i);
        return nullptr;
    }

    testsupport::ScratchDir scratch;
};

TEST_F(WineSource, ListsThePrefixEntriesAsWineWroteThem)
{
    TUninstManager m;
    m.SetSources(wineOnly());
    m.Rescan();
    QStringList names;
    for (int i = 0; i < m.Count(); ++i)
        names << m.Item(i)->DisplayName;
    // Latin names first, then Chinese by pinyin; the system component is left out.
    EXPECT_EQ(names, (QStringList {u"Bei user"_qs, u"Old 32-bit tool"_qs, u"中文软件"_qs}))
        << names.join(u", ").toStdString();

    TUninstItem *app = byName(m, u"中文软件"_qs);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->Source, installed::EntrySource::Wine);
    EXPECT_EQ(app->Publisher, u"出版者"_qs);
    EXPECT_EQ(app->UninstallString, u"\"C:\\Program Files\\App1\\uninst.exe\" /S"_qs); // str(2) as stored
    EXPECT_EQ(app->Comments, QString()); // str(7) is no string value
    EXPECT_EQ(app->EstimatedSize, 1234);
    EXPECT_EQ(app->InstallLocation, g_prefix->prefix + u"/drive_c/Program Files/App1"_qs);
    EXPECT_EQ(app->KeyPath, u"HKEY_LOCAL_MACHINE\\"_qs + kUninst + u"App1"_qs);
    ASSERT_EQ(app->ChildCount(), 1);
    EXPECT_EQ(app->Child(0)->DisplayName, u"App1 hotfix"_qs);

    // DisplayIcon names notepad's first icon group (written as NOTEPAD.EXE: matched ignoring case).
    ASSERT_NE(app->SmallIconIndex, m.DefaultIconIndex());
    const QString picture = m.IconFiles().value(app->SmallIconIndex);
    EXPECT_TRUE(picture.startsWith(scratch.path(QStringLiteral("cache")))) << picture.toStdString();
    const QByteArray ico = testsupport::readFile(picture);
    EXPECT_TRUE(ico.startsWith(QByteArray("\0\0\1\0", 4)));
    EXPECT_GT(ico.size(), 100);

    // The user's root is read too; entries without an icon keep the default.
    TUninstItem *mine = byName(m, u"Bei user"_qs);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->KeyPath, u"HKEY_CURRENT_USER\\"_qs + kUninst + u"Mine"_qs);
    EXPECT_EQ(mine->SmallIconIndex, m.DefaultIconIndex());

    m.SetShowSystemComponents(true);
    m.Rescan();
    EXPECT_NE(byName(m, u"Hidden part"_qs), nullptr);
}

TEST_F(WineSource, AMissingPrefixListsNothing)
{
    TUninstManager m;
    std::vector<std::unique_ptr<installed::InstalledSource>> s;
    s.push_back(installed::MakeWineSource(scratch.path(QStringLiteral("no-prefix"))));
    m.SetSources(std::move(s));
    m.Rescan();
    EXPECT_EQ(m.Count(), 0);
}

// Builds the site's installer for one small program with makensis; its path, or empty.
QString buildInstaller(const testsupport::ScratchDir &dir, const QString &key)
{
    const QString src = QStringLiteral(ORVANE_SOURCE_DIR "/data/site/windows/");
    const QString icon = QStringLiteral("/usr/share/nsis/Contrib/Graphics/Icons/box-install.ico");
    const QString program = dir.path(key + u".exe"_qs), setup = dir.path(key + u"-setup.exe"_qs);
    const QStringList common = {u"-V1"_qs, u"-DNAME=Tiny Tool"_qs, u"-DVERSION=1.2.3"_qs,
                                u"-DPUBLISHER=Halvex"_qs, u"-DICON="_qs + icon};
    if (g_prefix->run(u"makensis"_qs,
                      common + QStringList {u"-DOUTFILE="_qs + program, src + u"program.nsi"_qs})
            != 0
        || g_prefix->run(u"makensis"_qs,
                         common
                             + QStringList {u"-DKEY="_qs + key, u"-DPROGRAM="_qs + program, u"-DSIZE=120"_qs,
                                            u"-DOUTFILE="_qs + setup, src + u"installer.nsi"_qs})
            != 0)
        return {};
    return setup;
}

TEST_F(WineSource, AnInstalledProgramIsListedAndItsUninstallerRemovesIt)
{
    if (QStandardPaths::findExecutable(u"makensis"_qs).isEmpty())
        GTEST_SKIP() << "makensis is not installed";
    const QString setup = buildInstaller(scratch, u"TinyTool"_qs);
    ASSERT_FALSE(setup.isEmpty());
    ASSERT_EQ(g_prefix->wine({setup}), 0);
    g_prefix->flush();
    const QString folder = g_prefix->prefix + u"/drive_c/Program Files/TinyTool"_qs;
    ASSERT_TRUE(QFileInfo::exists(folder + u"/TinyTool.exe"_qs));

    TUninstManager m;
    m.SetSources(wineOnly());
    m.Rescan();
    TUninstItem *tool = byName(m, u"Tiny Tool"_qs);
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->Version, u"1.2.3"_qs);
    EXPECT_EQ(tool->Publisher, u"Halvex"_qs);
    EXPECT_EQ(tool->EstimatedSize, 120);
    EXPECT_EQ(tool->InstallLocation, folder);
    EXPECT_NE(tool->SmallIconIndex, m.DefaultIconIndex()); // the program's own icon

    // The NSIS uninstaller copies itself to a temporary file and starts that
    // copy: the completion comes only once the copy has removed the program.
    QString completed;
    m.OnUninstCompleted = [&completed](TUninstManager *, const QString &name) { completed = name; };
    tool->StartUninstall();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !completed.isEmpty(); }, 120000));
    EXPECT_EQ(completed, u"Tiny Tool"_qs);
    EXPECT_FALSE(QFileInfo::exists(folder));
    m.Rescan();
    EXPECT_EQ(byName(m, u"Tiny Tool"_qs), nullptr);
}

TEST_F(WineSource, ADeadEntryIsDeletedThroughWinesRegTool)
{
    ASSERT_TRUE(g_prefix->regAdd(u"HKLM\\"_qs + kUninst + u"Dead"_qs, u"DisplayName"_qs, u"REG_SZ"_qs,
                                 u"Dead entry"_qs));
    g_prefix->flush();
    TUninstManager m;
    m.SetSources(wineOnly());
    m.Rescan();
    TUninstItem *dead = byName(m, u"Dead entry"_qs);
    ASSERT_NE(dead, nullptr);
    ASSERT_FALSE(dead->HasUninstallCommand());
    // Wine's registry tool runs on a worker: the list is rescanned when it is done.
    bool removed = false;
    m.OnEntryRemoved = [&removed](TUninstManager *sender) {
        sender->Rescan();
        removed = true;
    };
    dead->RemoveFromList();
    ASSERT_TRUE(testsupport::waitUntil([&] { return removed; }, 120000));
    EXPECT_EQ(byName(m, u"Dead entry"_qs), nullptr);
    EXPECT_FALSE(testsupport::readFile(g_prefix->prefix + u"/system.reg"_qs).contains("Uninstall\\\\Dead]"));
    // The program's own hives were left alone.
    EXPECT_FALSE(QFileInfo::exists(scratch.path(u"Registry"_qs)));
}

// The whole road: a task downloads the site's Windows installer, runs it under
// wine in the user's prefix, the Uninstall list shows the program, and its
// uninstaller takes it away again.
TEST_F(WineSource, FromTheSitesDownloadToUninstalled)
{
    RunningSite site(QStringLiteral(SITE_STAGE_ROOT));
    ASSERT_TRUE(site.Ok()) << site.Error;
    const orvane::site::Program *notelark = nullptr;
    for (const orvane::site::Program &p : site.Site.Programs())
        if (p.Id == u"notelark"_qs)
            notelark = &p;
    ASSERT_TRUE(notelark && !notelark->WindowsInstaller.isEmpty());

    // The user's prefix is the scratch one.
    const QByteArray oldPrefix = qgetenv("WINEPREFIX");
    qputenv("WINEPREFIX", g_prefix->prefix.toUtf8());
    struct Restore
    {
        QByteArray value;
        ~Restore() { qputenv("WINEPREFIX", value); }
    } restore {oldPrefix};
    OVSettings::FileKeepDays = 1;

    TBrimTaskManager tasks;
    auto *task = tasks.Add<TOVTaskItem>();
    task->Name = notelark->Title;
    task->HttpUrl = QString::fromStdString(site.Base) + u"/files/windows/"_qs + notelark->WindowsInstaller;
    task->LocalFile = scratch.path(notelark->WindowsInstaller);
    task->AutoInstall = true;
    int finalState = 0;
    tasks.OnItemStateChange = [&finalState](TBrimTaskManager *, TBrimTaskItem &item) {
        if (item.State == int(OVTaskState::InstallCompleted) || item.State == int(OVTaskState::Failed))
            finalState = item.State;
    };
    task->Start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return finalState != 0; }, 180000));
    ASSERT_EQ(finalState, int(OVTaskState::InstallCompleted));
    g_prefix->flush();

    TUninstManager m; // as the program reads them: its own registry and the user's prefix
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(installed::MakeRegistrySource());
    sources.push_back(installed::MakeWineSource());
    m.SetSources(std::move(sources));
    m.Rescan();
    TUninstItem *entry = byName(m, notelark->Title);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Source, installed::EntrySource::Wine);
    EXPECT_EQ(entry->Version, notelark->Version);
    EXPECT_EQ(entry->Publisher, notelark->Publisher);
    EXPECT_NE(entry->SmallIconIndex, m.DefaultIconIndex());
    const QString folder = entry->InstallLocation;
    EXPECT_TRUE(QFileInfo::exists(folder + u"/notelark.exe"_qs)) << folder.toStdString();

    bool done = false;
    m.OnUninstCompleted = [&done](TUninstManager *, const QString &) { done = true; };
    entry->StartUninstall();
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }, 120000));
    m.Rescan();
    EXPECT_EQ(byName(m, notelark->Title), nullptr);
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// A Windows program under Wine is named by its own executable, whose version
// resource describes it, not by Wine's loader.
TEST_F(WineSource, RunningWindowsProgramsAreNamedByTheirExecutable)
{
    if (QStandardPaths::findExecutable(u"makensis"_qs).isEmpty())
        GTEST_SKIP() << "makensis is not installed";
    // A Windows program that waits a while, with a version resource.
    const QString folder = g_prefix->prefix + u"/drive_c/Program Files/Sleeper"_qs;
    const QString exe = folder + u"/sleeper.exe"_qs;
    const QString script
        = scratch.file(u"sleeper.nsi"_qs,
                       "Unicode true\nTarget amd64-unicode\nOutFile \"" + exe.toUtf8()
                           + "\"\nSilentInstall silent\nRequestExecutionLevel user\n"
                             "VIProductVersion \"1.0.0.0\"\n"
                             "VIAddVersionKey /LANG=1033 \"FileDescription\" \"Sleeper tool\"\n"
                             "VIAddVersionKey /LANG=1033 \"FileVersion\" \"1.0\"\n"
                             "VIAddVersionKey /LANG=1033 \"ProductName\" \"Sleeper\"\n"
                             "VIAddVersionKey /LANG=1033 \"LegalCopyright\" \"none\"\n"
                             "Section\n  Sleep 60000\nSectionEnd\n");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(g_prefix->run(u"makensis"_qs, {u"-V1"_qs, script}), 0);

    QProcess sleeper;
    sleeper.setProcessEnvironment(g_prefix->env());
    sleeper.start(u"wine"_qs, {u"C:\\Program Files\\Sleeper\\sleeper.exe"_qs});
    ASSERT_TRUE(sleeper.waitForStarted());
    struct End
    {
        QProcess &p;
        ~End()
        {
            // Ends the programs of the scratch prefix only.
            g_prefix->run(u"wineserver"_qs, {u"-k"_qs});
            p.waitForFinished(30000);
        }
    } end {sleeper};

    TProcesses procs;
    const TProcessItem *found = nullptr;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            procs.Refresh();
            for (int i = 0; i < procs.Count() && !found; ++i)
                if (procs.Items(i)->ImagePath == exe)
                    found = procs.Items(i);
            return found != nullptr;
        },
        60000));
    EXPECT_EQ(found->Name, u"sleeper.exe"_qs);
    const auto info = platform::readFileVersionInfo(found->ImagePath);
    ASSERT_TRUE(info.has_value());
    QString description;
    for (const auto &table : info->stringTables)
        for (const auto &[name, value] : table.second)
            if (name == u"FileDescription"_qs)
                description = value;
    EXPECT_EQ(description, u"Sleeper tool"_qs);
}

TEST(WinePaths, CommandLinesSplitAsWindowsSplitsThem)
{
    struct Case
    {
        QString line;
        QStringList words;
    } cases[] = {
        {u"\"C:\\Program Files\\A\\uninst.exe\" /S"_qs, {u"C:\\Program Files\\A\\uninst.exe"_qs, u"/S"_qs}},
        {u"MsiExec.exe /X{1-2}"_qs, {u"MsiExec.exe"_qs, u"/X{1-2}"_qs}},
        {u"C:\\a\\b.exe \"x y\" z"_qs, {u"C:\\a\\b.exe"_qs, u"x y"_qs, u"z"_qs}},
        // Backslashes are literal unless they precede a quote.
        {u"p.exe C:\\dir\\ a\\\\\\\"b \"c\\\\\""_qs, {u"p.exe"_qs, u"C:\\dir\\"_qs, u"a\\\"b"_qs, u"c\\"_qs}},
        {u"   "_qs, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::splitWindowsCommandLine(c.line), c.words) << c.line.toStdString();
}

} // namespace
