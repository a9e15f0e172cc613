// Text-level pieces of the language component: escapes, Pascal-style
// formatting and font descriptions.
#include "core/BrimFont.h"
#include "core/BrimMultiLangs.h"
#include "core/TextFormat.h"

#include <QLocale>
#include <gtest/gtest.h>

TEST(LangEscapes, ReplacedInOrderWithoutRegardToCase)
{
    struct Case
    {
        const char16_t *in;
        const char16_t *out;
    } cases[] = {
        {u"Line#N#RNext", u"Line\n\rNext"},
        {u"Line#n#rNext", u"Line\n\rNext"},
        {u"##N", u"\n"}, // "##" first, then the "#N" it leaves behind
        {u"###", u"##"},
        {u"#35#13#10", u"#\r\n"},
        {u"a#Bb#32c#td#9e", u"a b c\td\te"},
        {u"#(C)#(r)#(Tm)", u"\u00A9\u00AE\u2122"},
        {u"#169#174#8482", u"\u00A9\u00AE\u2122"},
        {u"#1690", u"\u00A90"},
        {u"#X # 100%", u"#X # 100%"},
        {u"", u""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TBrimMultiLangs::DecodeEscapes(QString::fromUtf16(c.in)), QString::fromUtf16(c.out))
            << QString::fromUtf16(c.in).toStdString();
}

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);

} // namespace

TEST(LangFormat, ConversionsThatFit)
{
    struct Case
    {
        const char *format;
        QVariantList args;
        const char *out;
    } cases[] = {
        {"%s", {"abc"}, "abc"},
        {"%d|%d", {42, -7}, "42|-7"},
        {"CPU: %.2d  |", {5}, "CPU: 05  |"},
        {"%.2d|%.2d", {123, -5}, "123|-05"},
        {"%3.0n|%3.0n|%3.0n", {1234567.0, 5.0, 999.6}, "1,234,567|  5|1,000"},
        {"%3.0n|%3.0n", {qint64(-1234), 12345u}, "-1,234|12,345"},
        {"%.2n|%n|%.1n", {1234.5, 0.125, -0.04}, "1,234.50|0.13|0.0"},
        {"%d %%|%%", {50}, "50 %|%"},
        {"[%5s|%-5s]", {"ab", "cd"}, "[   ab|cd   ]"},
        {"%.2s", {"abcdef"}, "ab"},
        {"%x|%.4x|%x|%u", {255, 255, -1, -1}, "FF|00FF|FFFFFFFF|4294967295"},
        {"%x", {qint64(-1)}, "FFFFFFFFFFFFFFFF"},
        {"%1:s %0:s %s", {"a", "b", "c"}, "b a b"},
        {"%*d|%-*d|", {4, 7, 3, 8}, "   7|8  |"},
        {"%D %S", {3, "x"}, "3 x"},
        {"%f|%.0f", {2.5, 2.4}, "2.50|2"},
        {"%e", {1234.5}, "1.23450000000000E+003"},
        {"%d", {1, 2}, "1"}, // extra arguments are ignored
        {"no conversions", {}, "no conversions"},
        {"%d activated applications %s, CPU usage: %d %%, memory usage: %d %%.",
         {12, "(x)", 5, 40},
         "12 activated applications (x), CPU usage: 5 %, memory usage: 40 %."},
    };
    for (const Case &c : cases) {
        bool ok = false;
        EXPECT_EQ(DelphiFormat(QString::fromUtf8(c.format), c.args, english, &ok), QString::fromUtf8(c.out))
            << c.format;
        EXPECT_TRUE(ok) << c.format;
    }
}

TEST(LangFormat, FormatThatDoesNotFitGivesEmptyText)
{
    struct Case
    {
        const char *format;
        QVariantList args;
    } cases[] = {
        {"%d", {}},        {"%d %d", {1}},   {"%d", {"x"}},    {"%d", {1.5}},
        {"%s", {5}},       {"%n", {"x"}},    {"%d", {true}},   {"tail %", {1}},
        {"%q", {1}},       {"%5", {1}},      {"%99999d", {1}}, {"%.99999d", {1}},
        {"%*d", {"x", 1}}, {"%*d", {-3, 1}}, {"%5:d", {1}},    {"%-", {1}},
    };
    for (const Case &c : cases) {
        bool ok = true;
        EXPECT_EQ(DelphiFormat(QString::fromUtf8(c.format), c.args, english, &ok), QString()) << c.format;
        EXPECT_FALSE(ok) << c.format;
    }
}

TEST(LangFormat, NumbersUseTheLocaleSeparators)
{
    EXPECT_EQ(DelphiFormat(u"%3.0n|%.2n", {1234567.0, 1234.5}, german), QString("1.234.567|1.234,50"));

    // FormatText takes the default locale, which is the user's unless changed.
    TBrimMultiLangs langs;
    langs.SetDefaultText("Memory", "Memory: %3.0n KB  |");
    const QLocale saved;
    QLocale::setDefault(german);
    const QString text = langs.FormatText("Memory", {204800.0});
    QLocale::setDefault(saved);
    EXPECT_EQ(text, "Memory: 204.800 KB  |");
}

TEST(LangFontDescription, PartsParsedLikeTheFilesWriteThem)
{
    struct Case
    {
        const char *text;
        const char *name;
        quint32 colour;
        int size;
        TFontStyles style;
    } cases[] = {
        {"Arial;FF0000;14;[fsBold,fsUnderline]", "Arial", 0xFF0000, 14, fsBold | fsUnderline},
        {"Arial;0000FF;9;[fsBold, fsItalic]", "Arial", 0x0000FF, 9, fsBold},
        {"Arial;ffffff;9;FSBOLD,fsitalic,fsStrikeOut", "Arial", 0xFFFFFF, 9, fsBold | fsItalic | fsStrikeOut},
        {"Tahoma", "Tahoma", TBrimFont::DefaultColor, 0, 0},
        {"Tahoma;zz;abc;[]", "Tahoma", TBrimFont::DefaultColor, 0, 0},
        {"Tahoma; FF;12", "Tahoma", TBrimFont::DefaultColor, 12, 0},
        {"Tahoma;1000000;99999999", "Tahoma", TBrimFont::DefaultColor, 0, 0},
        {"Tahoma;-1;-3;[fsBogus]", "Tahoma", TBrimFont::DefaultColor, 0, 0},
        {" Sans Serif ;0;8", " Sans Serif ", 0, 8, 0},
    };
    for (const Case &c : cases) {
        const std::optional<TBrimFont> font = ParseFontDescription(QString::fromUtf8(c.text));
        ASSERT_TRUE(font) << c.text;
        EXPECT_EQ(font->Name, QString::fromUtf8(c.name)) << c.text;
        EXPECT_EQ(font->Color, c.colour) << c.text;
        EXPECT_EQ(font->Size, c.size) << c.text;
        EXPECT_EQ(font->Style, c.style) << c.text;
    }
    EXPECT_FALSE(ParseFontDescription(u""));
    EXPECT_FALSE(ParseFontDescription(u"   "));

    const TBrimFont blue = *ParseFontDescription(u"Arial;FF0000;14");
    EXPECT_EQ(blue.Blue(), 255);
    EXPECT_EQ(blue.Red(), 0);
    EXPECT_TRUE(blue.HasColor());
    EXPECT_EQ(FontStylesToText(fsBold | fsItalic), "[fsBold,fsItalic]");
}
