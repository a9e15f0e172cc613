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

// The look-up indexes follow every edit: repeated headers continue their
// section, the first line of a key is the one that counts, erased sections
// come back at the end, and many erasures leave the rest intact and in order.
TEST(IniFile, IndexesFollowEditsInFileOrder)
{
    IniFile ini;
    ini.parse("[A]\r\nk=1\r\n[B]\r\nx=1\r\n[a]\r\nK=2\r\nk2=3\r\n");
    EXPECT_EQ(ini.sections(), QStringList({"A", "B"}));
    EXPECT_EQ(ini.readString("a", "K"), "1");
    EXPECT_EQ(ini.keys("A"), QStringList({"k", "K", "k2"}));
    ini.deleteKey("A", "k"); // the first line goes; the second now counts
    EXPECT_EQ(ini.readString("A", "k"), "2");
    ini.writeString("A", "K", "4");
    ini.eraseSection("b");
    EXPECT_FALSE(ini.sectionExists("B"));
    EXPECT_EQ(ini.readString("B", "x", "gone"), "gone");
    ini.writeString("b", "y", "5");
    EXPECT_EQ(ini.serialize(), QByteArray("[A]\r\nK=4\r\nk2=3\r\n[b]\r\ny=5\r\n"));

    // Names that differ only in case outside ASCII still meet.
    ini.writeString(QString::fromUtf8("Größe"), "Wert", "1");
    EXPECT_EQ(ini.readString(QString::fromUtf8("GRÖSSE"), "wert", "none"), "none"); // no full folding
    EXPECT_EQ(ini.readString(QString::fromUtf8("GRÖßE"), "WERT"), "1");

    IniFile many;
    for (int i = 0; i < 1000; ++i)
        many.writeInteger(QString::number(i), "V", i);
    for (int i = 0; i < 1000; i += 2)
        many.eraseSection(QString::number(i));
    many.writeInteger("0", "V", 1000); // erased, so it comes back at the end
    many.writeInteger("999", "V", -1);
    QStringList expected;
    for (int i = 1; i < 1000; i += 2)
        expected << QString::number(i);
    expected << "0";
    EXPECT_EQ(many.sections(), expected);
    for (int i = 1; i < 999; i += 2)
        ASSERT_EQ(many.readInteger(QString::number(i), "v", -2), i);
    EXPECT_EQ(many.readInteger("999", "V", 0), -1);
    EXPECT_EQ(many.readInteger("0", "V", 0), 1000);
    EXPECT_FALSE(many.sectionExists("2"));
    EXPECT_TRUE(many.serialize().endsWith("[999]\r\nV=-1\r\n[0]\r\nV=1000\r\n"));
}
