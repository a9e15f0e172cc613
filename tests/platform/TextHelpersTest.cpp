// The shared text helpers.
#include "platform/TextHelpers.h"

#include <gtest/gtest.h>

TEST(TextHelpers, HexDigitTakesBothCasesAndNothingElse)
{
    const struct
    {
        char32_t c;
        int expected;
    } cases[] = {
        {U'0', 0},  {U'9', 9},  {U'a', 10}, {U'f', 15}, {U'A', 10}, {U'F', 15}, {U'g', -1},      {U'G', -1},
        {U'/', -1}, {U':', -1}, {U'@', -1}, {U'`', -1}, {U' ', -1}, {0, -1},    {U'\uFF10', -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(textutil::hexDigit(c.c), c.expected) << int(c.c);
        EXPECT_EQ(textutil::hexDigit(QChar(char16_t(c.c))), c.expected) << int(c.c);
        if (c.c < 0x80) {
            EXPECT_EQ(textutil::hexDigit(char(c.c)), c.expected) << int(c.c);
        }
    }
    // Bytes past ASCII are no digits, whatever their low bits.
    EXPECT_EQ(textutil::hexDigit(char(0xB1)), -1);
    EXPECT_EQ(textutil::hexDigit(QChar(u'\u0131')), -1);
}

TEST(TextHelpers, LowerCasedIsToLowerEverywhere)
{
    const QString cases[] = {
        QString(),
        QStringLiteral("software\\already\\lower"),
        QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\M12"),
        QStringLiteral("@[]^_`{}~ AZaz09"),
        QString::fromUtf8("Programme\\Größe\\ÄÖÜ"),
        QString::fromUtf8("İSTANBUL\\ΣΊΣΥΦΟΣ"),
        QString::fromUtf8("mixed ASCII then 日本語 TEXT"),
    };
    for (const QString &text : cases)
        EXPECT_EQ(textutil::lowerCased(text), text.toLower()) << text.toStdString();
    // Text with nothing to lower is handed back as it is, without a copy.
    const QString lower = QStringLiteral("nothing\\to\\change");
    EXPECT_EQ(textutil::lowerCased(lower).constData(), lower.constData());
}
