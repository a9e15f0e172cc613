#include "core/IniFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(IniFile, CaseInsensitiveLookupAndInPlaceReplacement)
{
    IniFile ini;
    ini.parse("; comment\r\n[Orvane]\r\nAutoInstall = 1\r\nName=\"quoted value\"\r\n[Other]\r\nX=2\r\n");
    EXPECT_EQ(ini.readInteger("ORVANE", "autoinstall", 7), 1);
    EXPECT_EQ(ini.readString("orvane", "NAME"), "quoted value");
    ini.writeString("ORVANE", "AUTOINSTALL", "0");
    ini.writeString("New", "K", "v");
    EXPECT_EQ(
        ini.serialize(),
        QByteArray("; comment\r\n[Orvane]\r\nAutoInstall=0\r\nName=\"quoted value\"\r\n[Other]\r\nX=2\r\n"
                   "[New]\r\nK=v\r\n"));
}

TEST(IniFile, IntegersMustBeWholeNumbers)
{
    struct Case
    {
        const char *text;
        bool ok;
        int value;
    } cases[] = {{"12", true, 12},   {"-1", true, -1},          {"$1F", true, 31},
                 {"0x10", true, 16}, {"yes", false, 0},         {"12abc", false, 0},
                 {"", false, 0},     {"99999999999", false, 0}, {" 250 ", true, 250}};
    for (const Case &c : cases) {
        int v = 0;
        EXPECT_EQ(IniFile::parseInteger(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(IniFile, SaveReplacesFileAndCreatesDirectory)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/Config/Config.ini";
    IniFile ini(path);
    EXPECT_FALSE(ini.exists());
    ini.writeInteger("S", "K", 5);
    ASSERT_TRUE(ini.save());
    IniFile back(path);
    EXPECT_TRUE(back.exists());
    EXPECT_EQ(back.readInteger("s", "k", 0), 5);
    back.eraseSection("S");
    ASSERT_TRUE(back.save());
    EXPECT_FALSE(IniFile(path).sectionExists("S"));
}
