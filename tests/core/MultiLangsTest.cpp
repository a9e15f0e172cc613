// The language component: tables, default texts, language files and selection.
#include "core/BrimHashTable.h"
#include "core/BrimMultiLangs.h"
#include "core/IniFile.h"
#include "core/OVDefaultTexts.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

QString selectedMark(const QString &path)
{
    return IniFile(path).readString("HEAD", "Selected");
}

// A component with the defaults registered and its change events counted.
struct LangFiles : ::testing::Test
{
    LangFiles()
    {
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        langs.SetOnLanguageChanged([this](TBrimMultiLangs *sender) {
            EXPECT_EQ(sender, &langs);
            ++changes;
        });
        changes = 0;
    }
    QString lang(const QString &lcid) const { return dir.path() + "/Langs/" + lcid + "/Orvane.ini"; }

    QTemporaryDir dir;
    TBrimMultiLangs langs;
    int changes = 0;
};

const QByteArray chinese
    = "[HEAD]\r\nLCID=2052\r\nCode=zh-CN\r\nName=Chinese\r\nSelected=0\r\n"
      "[FONT_RES]\r\n3=Arial;FF0000;14;[fsBold,fsUnderline]\r\n01=Courier;0;9\r\n4=   \r\n"
      "[FONT_SET]\r\nFormOVAbout.lblTitle.Font=3\r\nX.Font=01\r\nY.Font=4\r\n"
      "[LANG_ITEMS]\r\nFormOVMain.Caption=Orvane CN#N#Rline\r\n"
      "String.Only.Chinese=\"  quoted  \"\r\nFormOVMain.lvTasks.Hint=first\r\n"
      "formovmain.lvtasks.hint=second\r\n";

} // namespace

TEST(LangHashTable, HashBucketsAndShadowing)
{
    EXPECT_EQ(BrimHashKey(u""), 0u);
    EXPECT_EQ(BrimHashKey(u"AB"), 326u);
    // Long keys rotate within 32 bits.
    EXPECT_EQ(BrimHashKey(u"String.URL.Home"), 2399365925u);
    const QString collider = "FormOVMain.lvRunning.Columns.Items[0].Caption";
    ASSERT_EQ(BrimHashKey(collider) % 255, BrimHashKey(u"A") % 255);

    TBrimHashTable<QString> table;
    table.Add("A", "a1");
    table.Add(collider, "c1");
    table.Add("A", "a2");
    ASSERT_TRUE(table.Find(u"A"));
    EXPECT_EQ(*table.Find(u"A"), "a2");
    EXPECT_EQ(*table.Find(collider), "c1");
    EXPECT_FALSE(table.Find(u"a")); // case matters
    EXPECT_FALSE(table.Find(u"B"));
    EXPECT_EQ(table.Count(), 3u);
}

TEST(LangTables, TextsAndFontsByKey)
{
    TBrimMultiLangs langs;
    EXPECT_EQ(langs.GetText("Never.Added"), QString());
    EXPECT_EQ(langs.FormatText("Never.Added", {1}), QString());
    langs.SetDefaultText("K", "old#Nline");
    langs.SetDefaultText("K", "new");
    EXPECT_EQ(langs.GetText("K"), "new");

    langs.SetDefaultFont(1, "Tahoma", fsBold, 10, 0xFFFFFF);
    langs.SetDefaultFontKey("Padded.Font", 1);
    langs.SetDefaultFontKey("Dangling.Font", 9);
    ASSERT_TRUE(langs.GetFontByIndex(1));
    EXPECT_EQ(langs.GetFontByIndex(1)->Size, 10);
    EXPECT_TRUE(langs.GetFont("Padded.Font"));
    EXPECT_FALSE(langs.GetFont("Dangling.Font"));
    EXPECT_FALSE(langs.GetFont("Unknown.Font"));
    EXPECT_FALSE(langs.GetFontByIndex(2));
}

TEST(LangDefaults, EveryKeyOnceWithItsExactText)
{
    // A key registered twice silently replaces its first text: every registration must be a new key.
    QSet<QString> keys;
    for (const OVDefaultText &t : OVDefaultTexts()) {
        const QString key = QString::fromUtf16(t.key);
        EXPECT_FALSE(keys.contains(key)) << "registered twice: " << key.toStdString();
        keys.insert(key);
    }
    EXPECT_EQ(qsizetype(OVDefaultTexts().size()), keys.size());

    TBrimMultiLangs langs;
    int changes = 0;
    langs.SetOnLanguageChanged([&](TBrimMultiLangs *) { ++changes; });
    EXPECT_EQ(changes, 1); // assigning the handler applies the texts once
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    EXPECT_EQ(changes, 2); // and registering the defaults announces them

    struct Case
    {
        const char16_t *key;
        const char16_t *text;
    } cases[] = {
        {u"FormOVMain.Caption", u"Orvane"},
        {u"FormOVMain.imgTop3WareIcon.Hint", u"Click icon to get details."},
        {u"FormOVMain.lblStatusInfo.Caption", u""},
        {u"FormOVMain.lblRunningSelItemDesc.Caption", u"Description\uFF1A%s"},
        {u"FormOVMain.lblRunningSelItemCPU.Caption", u"CPU: %.2d  |"},
        {u"String.MsgText.NoFind", u"Can not find \"%s\"."},
        {u"String.MsgText.HelpFailed",
         u"Sorry! Lost help file. Please reinstall this software to solve this problem."},
        {u"String.TaskState.Downloading", u"Downloading... | %s/s"},
        {u"String.Help.Topic", u"::/Tessaly_help/software/software.html"},
        {u"String.URL.Home", u"http://127.0.0.1:8770/"},
        {u"String.URL.Help", u"http://127.0.0.1:8770/help.html"},
        {u"String.URL.TopX", u"http://127.0.0.1:8770/index.php/soft_api"},
        {u"String.URL.WAPI", u"http://127.0.0.1:8770/index.php/halvex_api"},
        {u"FormOVSettings.chkResumeBrokenValue.Caption", u"Resume broken downloads."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(langs.GetText(QString::fromUtf16(c.key)), QString::fromUtf16(c.text))
            << QString::fromUtf16(c.key).toStdString();
    EXPECT_TRUE(langs.GetText("String.URL.Home").startsWith(QString::fromUtf16(OVDefaultVendorHost)));

    // Escapes in defaults are decoded on registration.
    EXPECT_TRUE(langs.GetText("String.MsgText.TerminateQuery").contains("data.\n\rAre you sure"));
    EXPECT_TRUE(langs.GetText("String.Copyright").contains(QChar(0x00A9)));
    EXPECT_TRUE(langs.GetText("FormOVAbout.mmoDesc.Lines.Text").startsWith("\"Orvane\" is a utility"));
    EXPECT_TRUE(langs.GetText("FormOVAbout.mmoDesc.Lines.Text").contains("information.\n\r1. Software"));

    EXPECT_EQ(langs.FormatText("String.TasksInfo_1", {0, 0}), "Download(0) / Install(0)");
    EXPECT_EQ(langs.FormatText("FormOVMain.lblStatusVersion.Caption", {"1.0.0.1541"}),
              "Orvane Version: 1.0.0.1541");

    struct FontCase
    {
        const char *key;
        quint32 colour;
        int size;
    } fonts[] = {
        {"FormOVMain.SkinMgr.Title.Font", 0xFFFFFF, 12},     {"FormOVMain.btnTabTopX.Font", 0xFFFFFF, 10},
        {"FormOVMain.btnTabRunning.Font", 0xFFFFFF, 10},     {"FormOVMain.btnTabUninst.Font", 0xFFFFFF, 10},
        {"FormOVAbout.SkinMgr.Title.Font", 0xFFFFFF, 10},    {"FormOVAbout.lblTitle.Font", 0x000000, 12},
        {"FormOVSettings.SkinMgr.Title.Font", 0xFFFFFF, 10},
    };
    for (const FontCase &f : fonts) {
        const std::optional<TBrimFont> font = langs.GetFont(f.key);
        ASSERT_TRUE(font) << f.key;
        EXPECT_EQ(font->Name, "Tahoma");
        EXPECT_EQ(font->Color, f.colour) << f.key;
        EXPECT_EQ(font->Size, f.size) << f.key;
        EXPECT_EQ(font->Style, TFontStyles(fsBold));
    }
}

TEST_F(LangFiles, LanguageFileOverridesDefaultsAndIsMarkedSelected)
{
    const QString file = lang("2052");
    writeFile(file, chinese);
    langs.LoadLanguageFile(file);

    EXPECT_EQ(changes, 2); // read by the list and again by the selection
    ASSERT_TRUE(langs.CurrentLanguage());
    EXPECT_EQ(langs.CurrentLanguage()->LCID, "2052");
    EXPECT_EQ(langs.CurrentLanguage()->Code, "zh-CN");
    EXPECT_TRUE(langs.CurrentLanguage()->Selected);
    EXPECT_EQ(selectedMark(file), "1");

    EXPECT_EQ(langs.GetText("FormOVMain.Caption"), "Orvane CN\n\rline");
    EXPECT_EQ(langs.GetText("String.Only.Chinese"), "  quoted  ");
    // A key written twice (in any case) has the first line's value.
    EXPECT_EQ(langs.GetText("FormOVMain.lvTasks.Hint"), "first");
    EXPECT_EQ(langs.GetText("formovmain.lvtasks.hint"), "first");
    // Keys the file lacks keep their defaults.
    EXPECT_EQ(langs.GetText("String.MsgText.HelpFailed"),
              "Sorry! Lost help file. Please reinstall this software to solve this problem.");

    const std::optional<TBrimFont> title = langs.GetFont("FormOVAbout.lblTitle.Font");
    ASSERT_TRUE(title);
    EXPECT_EQ(title->Name, "Arial");
    EXPECT_EQ(title->Blue(), 255);
    EXPECT_EQ(title->Size, 14);
    EXPECT_EQ(title->Style, TFontStyles(fsBold | fsUnderline));
    // A font set to "01" finds font 1, but a font defined under "01" is never found.
    ASSERT_TRUE(langs.GetFont("X.Font"));
    EXPECT_EQ(langs.GetFont("X.Font")->Name, "Tahoma");
    EXPECT_FALSE(langs.GetFontByIndex(4)); // blank description
    EXPECT_FALSE(langs.GetFont("Y.Font"));
}

TEST_F(LangFiles, MissingFileChangesNothing)
{
    langs.LoadLanguageFile(lang("0"));
    langs.LoadLanguageFile(dir.path()); // a folder is not a language file
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(langs.CurrentLanguage());
    EXPECT_EQ(langs.GetText("FormOVMain.Caption"), "Orvane");
}

TEST_F(LangFiles, SwitchingKeepsTheEarlierLanguagesTextForMissingKeys)
{
    writeFile(lang("2052"), chinese);
    writeFile(lang("1031"), "[HEAD]\nLCID=1031\n[LANG_ITEMS]\nFormOVMain.btnTabRunning.Caption=Laufend\n");
    langs.LoadLanguageFile(lang("2052"));
    langs.LoadLanguageFile(lang("1031"));
    EXPECT_EQ(langs.CurrentLanguage()->LCID, "1031");
    EXPECT_EQ(langs.GetText("FormOVMain.btnTabRunning.Caption"), "Laufend");
    EXPECT_EQ(langs.GetText("FormOVMain.Caption"), "Orvane CN\n\rline");
    // The list held one file at a time: the first file keeps its mark.
    EXPECT_EQ(selectedMark(lang("2052")), "1");
    EXPECT_EQ(selectedMark(lang("1031")), "1");
}

TEST_F(LangFiles, ListSelectsTheMarkedEntryAndSelectionMovesTheMark)
{
    const QStringList files = {lang("1"), lang("2"), lang("3")};
    writeFile(files[0], "[HEAD]\nLCID=1\nSelected=0\n[LANG_ITEMS]\nK=one\n");
    writeFile(files[1], "[HEAD]\nLCID=2\nSelected=1\n[LANG_ITEMS]\nK=two\n");
    writeFile(files[2], "[HEAD]\nLCID=3\n[LANG_ITEMS]\nK=three\n");

    langs.LoadLanguageList(files);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(langs.LanguageCount(), 3);
    EXPECT_EQ(langs.CurrentIndex(), 1);
    EXPECT_EQ(langs.GetText("K"), "two");
    const QByteArray untouched = readFile(files[0]);

    langs.SelectLanguage(2);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(langs.GetText("K"), "three");
    EXPECT_FALSE(langs.Language(1).Selected);
    EXPECT_TRUE(langs.Language(2).Selected);
    EXPECT_EQ(selectedMark(files[1]), "0");
    EXPECT_EQ(selectedMark(files[2]), "1");
    EXPECT_EQ(readFile(files[0]), untouched);

    langs.SelectLanguage(3);
    langs.SelectLanguage(-1);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(langs.CurrentIndex(), 2);

    // Nothing marked: the first entry is taken.
    langs.LoadLanguageList({files[0], lang("missing")});
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(langs.CurrentIndex(), 0);
    EXPECT_EQ(langs.Language(1).LCID, QString());
    EXPECT_EQ(langs.GetText("K"), "one");

    langs.LoadLanguageList({});
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(langs.CurrentLanguage());
}

TEST_F(LangFiles, HandlerMayReloadWhileTheListIsBeingRead)
{
    const QStringList files = {lang("1"), lang("2")};
    writeFile(files[0], "[HEAD]\nLCID=1\nSelected=1\n");
    writeFile(files[1], "[HEAD]\nLCID=2\nSelected=1\n");
    bool reloading = false;
    langs.OnLanguageChanged = [&](TBrimMultiLangs *sender) {
        ++changes;
        if (!reloading) {
            reloading = true;
            sender->LoadLanguageList({files[1]});
        }
    };
    langs.LoadLanguageList(files);
    EXPECT_EQ(langs.LanguageCount(), 1);
    EXPECT_EQ(langs.CurrentLanguage()->LCID, "2");
    EXPECT_EQ(changes, 2);
}

TEST_F(LangFiles, FilesThatCannotBeRewrittenFaithfullyAreLeftAlone)
{
    // Not UTF-8: writing the mark back would replace the undecodable bytes.
    const QByteArray latin1 = "[HEAD]\r\nLCID=1031\r\nSelected=0\r\n[LANG_ITEMS]\r\nK=Gr\xfc\xdf"
                              "e\r\n";
    writeFile(lang("1031"), latin1);
    langs.LoadLanguageFile(lang("1031"));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(langs.GetText("K").startsWith("Gr"));
    EXPECT_EQ(readFile(lang("1031")), latin1);

    // A file that already carries the mark is not rewritten either.
    const QByteArray marked = "[HEAD]\nLCID = 7\nSelected = 1\n";
    writeFile(lang("7"), marked);
    langs.LoadLanguageFile(lang("7"));
    EXPECT_EQ(readFile(lang("7")), marked);
}

TEST_F(LangFiles, FilesOfAPackageKeepTheirBytesWhileTheChoiceMoves)
{
    writeFile(lang("2052"), chinese);
    const QByteArray english = "[HEAD]\r\nLCID=1033\r\nSelected=0\r\n[LANG_ITEMS]\r\nK=one\r\n";
    writeFile(lang("1033"), english);
    langs.SetRecordsChoiceInFiles(false);
    langs.LoadLanguageList({lang("1033"), lang("2052")});
    langs.SelectLanguage(1);
    ASSERT_TRUE(langs.CurrentLanguage());
    EXPECT_EQ(langs.CurrentLanguage()->LCID, "2052");
    EXPECT_TRUE(langs.Language(1).Selected);
    EXPECT_FALSE(langs.Language(0).Selected);
    EXPECT_EQ(langs.GetText("FormOVMain.Caption"), "Orvane CN\n\rline");
    EXPECT_EQ(readFile(lang("2052")), chinese);
    EXPECT_EQ(readFile(lang("1033")), english);
}

TEST_F(LangFiles, OverlongValuesAreCutLikeTheProfileReaderCutsThem)
{
    const QByteArray longText(5000, 'x');
    writeFile(lang("9"), "[LANG_ITEMS]\nK=" + longText + "\n[FONT_RES]\n5=" + longText + "\n");
    langs.LoadLanguageFile(lang("9"));
    EXPECT_EQ(langs.GetText("K").size(), TBrimMultiLangs::MaxValueLength);
    ASSERT_TRUE(langs.GetFontByIndex(5));
    EXPECT_EQ(langs.GetFontByIndex(5)->Name.size(), TBrimMultiLangs::MaxValueLength);
}

TEST(LangPublished, ProgramWideTextsFollowThePublishedComponent)
{
    EXPECT_EQ(OVGetText("FormOVMain.Caption"), QString());
    TBrimMultiLangs langs;
    MultiLangsMakeDefault(&langs);
    SetOVMultiLangs(&langs);
    EXPECT_EQ(OVMultiLangs(), &langs);
    EXPECT_EQ(OVGetText("FormOVMain.Caption"), "Orvane");
    EXPECT_EQ(OVFormatText("FormOVMain.lblTasksTitle.Caption", {3}), "3 tasks in the list:");
    SetOVMultiLangs(nullptr);
    EXPECT_EQ(OVFormatText("FormOVMain.lblTasksTitle.Caption", {3}), QString());
}
