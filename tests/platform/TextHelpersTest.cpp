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
