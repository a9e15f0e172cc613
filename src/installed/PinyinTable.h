#pragma once

#include <QtGlobal>

namespace installed {

// Toneless lower-case pinyin syllables in alphabetical order; a table number n
// (from 1) names kPinyinSyllables[n - 1].
extern const int kPinyinSyllableCount;
extern const char *const kPinyinSyllables[];

// Syllable number of every GBK code: lead byte 0x81..0xFE, trail byte 0x40..0xFE;
// 0 for a code without a reading.
inline constexpr int kGbkPinyinRows = 0xFE - 0x81 + 1;
inline constexpr int kGbkPinyinColumns = 0xFE - 0x40 + 1;
extern const quint16 kGbkPinyin[];

// Short texts of the numbered-list row (lead byte 0xA2, trail 0xA1..0xFE) and
// the Greek-letter row (lead byte 0xA6, trail 0xA1..0xFE); empty where a code
// has none.
extern const char *const kGbkRowA2[0xFE - 0xA1 + 1];
extern const char *const kGbkRowA6[0xFE - 0xA1 + 1];

} // namespace installed
