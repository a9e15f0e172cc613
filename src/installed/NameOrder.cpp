#include "installed/NameOrder.h"

#include "core/BrimSystem.h"
#include "installed/PinyinTable.h"
#include "platform/AnsiCodePage.h"

namespace installed {

namespace {

// Full-width ASCII row: brackets, digits and Latin letters.
bool isFullWidthAsciiTrail(uchar b2)
{
    return b2 == 0xA8 || b2 == 0xA9 || (b2 >= 0xB0 && b2 <= 0xB9) || (b2 >= 0xC1 && b2 <= 0xDB) || b2 == 0xDD
        || (b2 >= 0xE1 && b2 <= 0xFA);
}

QByteArray twoBytePiece(uchar b1, uchar b2)
{
    if (b1 == 0xA3 && isFullWidthAsciiTrail(b2))
        return QByteArray(1, char(b2 - 0x80));
    if (b1 == 0xA2 && b2 > 0xA0)
        return QByteArray(kGbkRowA2[b2 - 0xA1]);
    if (b1 == 0xA6 && ((b2 >= 0xA1 && b2 <= 0xB8) || (b2 >= 0xC1 && b2 <= 0xD8)))
        return QByteArray(kGbkRowA6[b2 - 0xA1]);
    if (b1 >= 0x81 && b1 <= 0xFE && b2 >= 0x40 && b2 <= 0xFE) {
        const int n = kGbkPinyin[(b1 - 0x81) * kGbkPinyinColumns + (b2 - 0x40)];
        if (n > 0 && n <= kPinyinSyllableCount)
            return QByteArray(kPinyinSyllables[n - 1]);
    }
    QByteArray self;
    self += char(b1);
    self += char(b2);
    return self;
}

uchar foldAscii(uchar c)
{
    return c >= 'a' && c <= 'z' ? uchar(c - 32) : c;
}

int compareBytesIgnoringAsciiCase(const QByteArray &a, const QByteArray &b)
{
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const uchar x = foldAscii(uchar(a[i]));
        const uchar y = foldAscii(uchar(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

QByteArray TransliterateName(const QString &name)
{
    const QByteArray bytes = platform::toAnsiCodePage(name);
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar b1 = uchar(bytes[i]);
        QByteArray piece;
        if (b1 >= 0x81 && i + 1 < bytes.size()) {
            const uchar b2 = uchar(bytes[i + 1]);
            piece = b2 >= 0x40 ? twoBytePiece(b1, b2) : bytes.mid(i, 2);
            i += 2;
        } else {
            piece = QByteArray(1, char(b1));
            ++i;
        }
        if (!piece.isEmpty()) {
            out += ' ';
            out += piece;
        }
    }
    return out;
}

TNameSortKey MakeNameSortKey(const QString &name)
{
    TNameSortKey key;
    if (name.trimmed().isEmpty())
        return key;
    const QByteArray first = platform::toAnsiCodePage(name.left(name.at(0).isHighSurrogate() ? 2 : 1));
    if (!first.isEmpty() && platform::isAnsiLeadByte(uchar(first[0])) && first.size() >= 2) {
        key.group = 2;
        key.translit = TransliterateName(name);
    } else {
        key.group = 1;
        key.text = name;
    }
    return key;
}

int CompareNameSortKeys(const TNameSortKey &a, const TNameSortKey &b)
{
    if (a.group != b.group)
        return a.group < b.group ? -1 : 1;
    if (a.group == 1)
        return CompareTextOrder(a.text, b.text, true);
    if (a.group == 2)
        return compareBytesIgnoringAsciiCase(a.translit, b.translit);
    return 0;
}

int CompareProgramNames(const QString &a, const QString &b)
{
    return CompareNameSortKeys(MakeNameSortKey(a), MakeNameSortKey(b));
}

} // namespace installed
