#include "core/IniFile.h"
#include "core/OVSettings.h"
#include "core/OVStartup.h"
#include "platform/AppPath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class Settings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        app = dir.path() + u'/';
        platform::setApplicationDirectoryOverride(app);
        config = app + "Config/Config.ini";
    }
    void TearDown() override { platform::setApplicationDirectoryOverride({}); }

    void write(const QByteArray &text)
    {
        QDir().mkpath(app + "Config");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray read() const
    {
        QFile f(config);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString app;
    QString config;
};

void expectDefaults(const QString &app)
{
    EXPECT_EQ(OVSettings::DownloadsDir, app + "Downloads/");
    EXPECT_TRUE(OVSettings::AutoInstall);
    EXPECT_EQ(OVSettings::FileKeepDays, 7);
    EXPECT_TRUE(OVSettings::ResumeBroken);
}

} // namespace

TEST_F(Settings, MissingFileGivesDefaultsAndCreatesNothing)
{
    OVSettings::AutoInstall = false;
    OVSettings::FileKeepDays = 3;
    EXPECT_FALSE(OVSettings::LoadSettings(config));
    expectDefaults(app);
    EXPECT_FALSE(QFileInfo::exists(app + "Downloads"));
}

TEST_F(Settings, ValuesFromTheFileAndWhatCountsAsMissing)
{
    struct Case
    {
        QByteArray body;
        QString downloads; // relative to the application folder; "=" for an empty value
        bool autoInstall;
        int keepDays;
        bool resume;
    } cases[] = {
        {"[ORVANE]\r\nDownloadsDir=%1dl\r\nAutoInstall=0\r\nFileKeepDays=-1\r\nResumeBroken=0\r\n", "dl",
         false, -1, false},
        {"[orvane]\nautoinstall=yes\nFILEKEEPDAYS=250\nResumeBroken=2\n", "Downloads/", true, 250, true},
        {"[ORVANE]\nFileKeepDays=7days\nAutoInstall=\nResumeBroken=-1\n", "Downloads/", true, 7, true},
        {"[ORVANE]\nDownloadsDir=\nFileKeepDays=0\nAutoInstall=0x0\n", "=", false, 0, true},
        {"[OTHER]\nAutoInstall=0\n", "Downloads/", true, 7, true},
    };
    for (const Case &c : cases) {
        write(QString::fromLatin1(c.body).arg(app).toUtf8());
        EXPECT_TRUE(OVSettings::LoadSettings(config)) << c.body.constData();
        EXPECT_EQ(OVSettings::DownloadsDir, c.downloads == "=" ? QString() : app + c.downloads)
            << c.body.constData();
        EXPECT_EQ(OVSettings::AutoInstall, c.autoInstall) << c.body.constData();
        EXPECT_EQ(OVSettings::FileKeepDays, c.keepDays) << c.body.constData();
        EXPECT_EQ(OVSettings::ResumeBroken, c.resume) << c.body.constData();
    }
    // The stored folder is created on load, with its parents.
    write(QString("[ORVANE]\nDownloadsDir=%1a/b/c/\n").arg(app).toUtf8());
    EXPECT_TRUE(OVSettings::LoadSettings(config));
    EXPECT_TRUE(QFileInfo(app + "a/b/c").isDir());
}

TEST_F(Settings, SaveWritesInPlaceAndKeepsTheLanguage)
{
    write("; kept\r\n[LANGUAGE]\r\nLanguage=2052\r\n[ORVANE]\r\nFileKeepDays=1\r\nExtra=x\r\n");
    OVSettings::ResetSettings();
    OVSettings::DownloadsDir = "/data/dl";
    OVSettings::AutoInstall = false;
    OVSettings::FileKeepDays = 30;
    ASSERT_TRUE(OVSettings::SaveSettings(config));
    EXPECT_EQ(read(),
              QByteArray("; kept\r\n[LANGUAGE]\r\nLanguage=2052\r\n[ORVANE]\r\nFileKeepDays=30\r\nExtra=x\r\n"
                         "DownloadsDir=/data/dl\r\nAutoInstall=0\r\nResumeBroken=1\r\n"));
    OVSettings::ResetSettings();
    ASSERT_TRUE(OVSettings::LoadSettings(config));
    EXPECT_EQ(OVSettings::DownloadsDir, "/data/dl");
    EXPECT_FALSE(OVSettings::AutoInstall);
    EXPECT_EQ(OVSettings::FileKeepDays, 30);
    EXPECT_EQ(LoadLanguageSelection(config).LanguageId, 2052);
}

TEST_F(Settings, SaveCreatesTheFolderOrFailsWithoutWriting)
{
    OVSettings::ResetSettings();
    ASSERT_TRUE(OVSettings::SaveSettings(app + "New/Sub/Config.ini"));
    EXPECT_TRUE(QFileInfo::exists(app + "New/Sub/Config.ini"));

    // A plain file where the folder should be: nothing can be created there.
    QFile blocker(app + "blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(OVSettings::SaveSettings(app + "blocker/Config.ini"));
    EXPECT_EQ(QFileInfo(app + "blocker").size(), 0);
}

TEST_F(Settings, LanguageSelectionUsesTheLow16Bits)
{
    struct Case
    {
        QByteArray body;
        quint16 id;
    } cases[] = {
        {"[LANGUAGE]\nLanguage=2052\n", 2052}, {"[language]\nlanguage=67588\n", 2052}, // 65536 + 2052
        {"[LANGUAGE]\nLanguage=-1\n", 65535},  {"[LANGUAGE]\nLanguage=abc\n", 0},
        {"[ORVANE]\nFileKeepDays=1\n", 0},
    };
    for (const Case &c : cases) {
        write(c.body);
        const LanguageSelection s = LoadLanguageSelection(config);
        EXPECT_EQ(s.LanguageId, c.id) << c.body.constData();
        EXPECT_EQ(s.LanguageDir, QString::number(c.id) + "/");
        EXPECT_EQ(s.LanguageFile, app + "Langs/" + QString::number(c.id) + "/Orvane.ini");
    }
    QFile::remove(config);
    EXPECT_EQ(LoadLanguageSelection().LanguageFile, app + "Langs/0/Orvane.ini");
    // Only read: the file is not created.
    EXPECT_FALSE(QFileInfo::exists(config));
}

TEST_F(Settings, ForceAppDirsCreatesTheWorkingFolders)
{
    EXPECT_TRUE(ForceAppDirs());
    for (const char *d : {"Config", "Downloads", "Files"})
        EXPECT_TRUE(QFileInfo(app + d).isDir()) << d;
    EXPECT_TRUE(ForceAppDirs());
}
