// Where the program's files live: beside the executable, or split between the
// read-only application folder and the user's folder when installed.

#include "core/AppFiles.h"

#include "core/IniFile.h"
#include "core/OVSettings.h"
#include "core/OVStartup.h"
#include "platform/AppPath.h"
#include "platform/Registry.h"
#include "support/Files.h"

#include <QDir>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using testsupport::ScratchDir;

namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvVar
{
public:
    EnvVar(const char *name, const std::optional<QByteArray> &value)
        : m_name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            m_old = qgetenv(name);
        set(value);
    }
    ~EnvVar() { set(m_old); }
    EnvVar(const EnvVar &) = delete;
    EnvVar &operator=(const EnvVar &) = delete;

private:
    void set(const std::optional<QByteArray> &value)
    {
        if (value)
            qputenv(m_name, *value);
        else
            qunsetenv(m_name);
    }
    const char *m_name;
    std::optional<QByteArray> m_old;
};

class AppFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.isValid());
        app = scratch.path("app/");
        dataHome = scratch.path("data/");
        userDir = dataHome + "orvane/";
        ASSERT_TRUE(QDir().mkpath(app));
        platform::setApplicationDirectoryOverride(app);
    }
    void TearDown() override
    {
        platform::setApplicationDirectoryOverride({});
        platform::setRegistryDirectory({});
        appfiles::DecideLayout();
    }

    void markInstalled() { ASSERT_TRUE(scratch.write("app/" + appfiles::InstalledMarkerName(), "")); }

    ScratchDir scratch;
    QString app;
    QString dataHome;
    QString userDir;
    EnvVar xdg {"XDG_DATA_HOME", scratch.path("data").toUtf8()};
};

struct PathCase
{
    const char *what;
    std::function<QString()> path;
    const char *portable; // relative to the application folder
    bool userFile; // moves to the user folder when installed
};

const PathCase kPaths[] = {
    {"ConfigFile", appfiles::ConfigFile, "Config/Config.ini", true},
    {"TaskListFile", appfiles::TaskListFile, "Config/OVTasks.ini", true},
    {"DownloadsDir", appfiles::DownloadsDir, "Downloads/", true},
    {"TopXArchiveFile", appfiles::TopXArchiveFile, "Files/TopX.mht", true},
    {"RegistryDir", appfiles::RegistryDir, "Registry/", true},
    {"ConfigFileName", ConfigFileName, "Config/Config.ini", true},
    {"ProcDBFile", appfiles::ProcDBFile, "ProcDB.db", false},
    {"LanguageFile", [] { return appfiles::LanguageFile(2052); }, "Langs/2052/Orvane.ini", false},
    {"HelpFile", [] { return appfiles::HelpFile(1033); }, "Langs/1033/Help.chm", false},
    {"SiblingProgram", [] { return appfiles::SiblingProgram("Upwell"); }, "Upwell", false},
};

} // namespace

TEST_F(AppFiles, EachFileLandsWhereItsLayoutPutsIt)
{
    for (bool installed : {false, true}) {
        if (installed)
            markInstalled();
        EXPECT_EQ(appfiles::DecideLayout(),
                  installed ? appfiles::Layout::Installed : appfiles::Layout::Portable);
        EXPECT_EQ(appfiles::AppDir(), app);
        for (const PathCase &c : kPaths) {
            const QString base = installed && c.userFile ? userDir : app;
            EXPECT_EQ(c.path(), base + c.portable) << c.what << (installed ? " installed" : " portable");
        }
        OVSettings::ResetSettings();
        EXPECT_EQ(OVSettings::DownloadsDir, (installed ? userDir : app) + "Downloads/");

        ASSERT_TRUE(appfiles::Initialise());
        EXPECT_EQ(platform::registryDirectory(), (installed ? userDir : app) + "Registry/");
        ASSERT_TRUE(ForceAppDirs());
        for (const char *d : {"Config", "Downloads", "Files"})
            EXPECT_TRUE(QFileInfo((installed ? userDir : app) + d).isDir()) << d;
    }
    // The installed pass put no settings into the application folder.
    EXPECT_FALSE(QFileInfo(app + "Config/Config.ini").exists());
}

// Tests point the program at folders they have not made yet; such a folder is
// no reason to write into the user's real data folder.
TEST_F(AppFiles, ApplicationFolderNotMadeYetStaysPortable)
{
    const QString notYet = scratch.path("not-yet/");
    platform::setApplicationDirectoryOverride(notYet);
    EXPECT_EQ(appfiles::DecideLayout(), appfiles::Layout::Portable);
    EXPECT_EQ(appfiles::TaskListFile(), notYet + "Config/OVTasks.ini");
}

TEST_F(AppFiles, UserFolderFollowsTheDataHome)
{
    markInstalled();
    const EnvVar home("HOME", scratch.path("home").toUtf8());
    const struct
    {
        std::optional<QByteArray> xdgDataHome;
        QString expected;
    } cases[] = {
        {scratch.path("elsewhere").toUtf8(), scratch.path("elsewhere/orvane/")},
        {scratch.path("elsewhere/").toUtf8(), scratch.path("elsewhere/orvane/")},
        {std::nullopt, scratch.path("home/.local/share/orvane/")},
        {QByteArray(), scratch.path("home/.local/share/orvane/")},
        {QByteArray("relative/data"), scratch.path("home/.local/share/orvane/")}, // ignored, as it must be
    };
    for (const auto &c : cases) {
        const EnvVar x("XDG_DATA_HOME", c.xdgDataHome);
        appfiles::DecideLayout();
        EXPECT_EQ(appfiles::UserDir(), c.expected)
            << (c.xdgDataHome ? c.xdgDataHome->constData() : "(unset)");
    }
}

TEST_F(AppFiles, FirstStartSeedsTheUserFolderAndLaterStartsLeaveItAlone)
{
    markInstalled();
    ASSERT_TRUE(scratch.write("app/Config/Config.ini", "[ORVANE]\r\nAutoInstall=0\r\n"));
    ASSERT_TRUE(scratch.write("app/Registry/HKEY_CURRENT_USER.reg", "shipped hive"));
    ASSERT_TRUE(scratch.write("app/Files/deep/note.txt", "note"));
    appfiles::DecideLayout();

    ASSERT_TRUE(appfiles::PrepareUserFolder(QStringLiteral("zh_CN.UTF-8")));
    EXPECT_EQ(scratch.read("data/orvane/Registry/HKEY_CURRENT_USER.reg"), "shipped hive");
    EXPECT_EQ(scratch.read("data/orvane/Files/deep/note.txt"), "note");
    {
        const IniFile ini(userDir + "Config/Config.ini");
        EXPECT_EQ(ini.readInteger("ORVANE", "AutoInstall", -1), 0);
        EXPECT_EQ(ini.readInteger("LANGUAGE", "Language", 0), 2052);
        EXPECT_EQ(LoadLanguageSelection().LanguageFile, app + "Langs/2052/Orvane.ini");
    }
    // The shipped defaults stay as they were.
    EXPECT_FALSE(IniFile(app + "Config/Config.ini").valueExists("LANGUAGE", "Language"));
    // Nothing is left over from building the folder.
    EXPECT_EQ(QDir(dataHome).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList {"orvane"});

    // The user changes things; the next start, in another locale and with new
    // shipped defaults, keeps them.
    ASSERT_TRUE(scratch.write("data/orvane/Config/Config.ini", "[LANGUAGE]\r\nLanguage=1033\r\n"));
    ASSERT_TRUE(QFile::remove(userDir + "Files/deep/note.txt"));
    ASSERT_TRUE(scratch.write("app/Registry/HKEY_CURRENT_USER.reg", "newer shipped hive"));
    ASSERT_TRUE(scratch.write("data/orvane/Registry/HKEY_CURRENT_USER.reg", "user hive"));
    ASSERT_TRUE(appfiles::PrepareUserFolder(QStringLiteral("de_DE.UTF-8")));
    EXPECT_EQ(scratch.read("data/orvane/Config/Config.ini"), "[LANGUAGE]\r\nLanguage=1033\r\n");
    EXPECT_EQ(scratch.read("data/orvane/Registry/HKEY_CURRENT_USER.reg"), "user hive");
    EXPECT_FALSE(QFileInfo::exists(userDir + "Files/deep/note.txt"));
}

TEST_F(AppFiles, FirstStartWithoutShippedDefaultsRecordsOnlyTheLanguage)
{
    markInstalled();
    appfiles::DecideLayout();
    ASSERT_TRUE(appfiles::PrepareUserFolder(QStringLiteral("en_GB.UTF-8")));
    EXPECT_EQ(QDir(userDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"Config"});
    EXPECT_EQ(IniFile(userDir + "Config/Config.ini").readInteger("LANGUAGE", "Language", 0), 1033);
}

TEST_F(AppFiles, PortableStartWritesNoLanguage)
{
    appfiles::DecideLayout();
    ASSERT_TRUE(appfiles::PrepareUserFolder(QStringLiteral("zh_CN.UTF-8")));
    EXPECT_FALSE(QFileInfo::exists(app + "Config"));
    EXPECT_FALSE(QFileInfo::exists(dataHome));
}

TEST_F(AppFiles, AUserFolderThatCannotBeMadeIsReported)
{
    markInstalled();
    ASSERT_TRUE(scratch.write("blocker", "a file where a folder should be"));
    const EnvVar x("XDG_DATA_HOME", scratch.path("blocker/data").toUtf8());
    appfiles::DecideLayout();
    EXPECT_FALSE(appfiles::PrepareUserFolder(QStringLiteral("zh_CN")));
    EXPECT_FALSE(appfiles::Initialise());
}

TEST(AppFilesLanguage, LocaleGivesTheInterfaceLanguage)
{
    const struct
    {
        const char *locale;
        quint16 lcid;
    } cases[] = {
        {"zh_CN.UTF-8", 2052}, {"zh_TW.UTF-8", 2052}, {"zh", 2052},      {"ZH_cn", 2052},
        {"en_US.UTF-8", 1033}, {"de_DE", 1033},       {"C.UTF-8", 1033}, {"", 1033},
    };
    for (const auto &c : cases)
        EXPECT_EQ(appfiles::InterfaceLanguageFor(QString::fromLatin1(c.locale)), c.lcid) << c.locale;
}

TEST(AppFilesLanguage, MessageLocaleIsLookedUpInTheCLibrarysOrder)
{
    using V = std::optional<QByteArray>;
    const struct
    {
        V lcAll, lcMessages, lang, language;
        const char *expected;
    } cases[] = {
        {V("zh_CN.UTF-8"), V("en_US.UTF-8"), V("de_DE"), std::nullopt, "zh_CN.UTF-8"},
        {std::nullopt, V("zh_TW"), V("en_US.UTF-8"), std::nullopt, "zh_TW"},
        {V(""), std::nullopt, V("en_US.UTF-8"), std::nullopt, "en_US.UTF-8"},
        {std::nullopt, std::nullopt, V("en_US.UTF-8"), V("zh_CN:en"), "zh_CN"},
        {std::nullopt, std::nullopt, V("C"), V("zh_CN:en"), "C"}, // the C locale ignores LANGUAGE
        {std::nullopt, std::nullopt, std::nullopt, V("zh_CN"), ""},
    };
    for (const auto &c : cases) {
        const EnvVar a("LC_ALL", c.lcAll), m("LC_MESSAGES", c.lcMessages), l("LANG", c.lang),
            g("LANGUAGE", c.language);
        EXPECT_EQ(appfiles::UserInterfaceLocale(), QString::fromLatin1(c.expected)) << c.expected;
    }
}
