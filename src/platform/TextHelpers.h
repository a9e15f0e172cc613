#pragma once

// Small text helpers every layer shares.

#include <QChar>
#include <QString>

namespace textutil {

// The value of a hexadecimal digit (either case), -1 for anything else.
constexpr int hexDigit(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return int(c - U'0');
    if (c >= U'a' && c <= U'f')
        return int(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return int(c - U'A') + 10;
    return -1;
}

constexpr int hexDigit(char c)
{
    return hexDigit(char32_t(static_cast<unsigned char>(c)));
}

constexpr int hexDigit(QChar c)
{
    return hexDigit(char32_t(c.unicode()));
}

// The same text as QString::toLower(), quicker for the ASCII text most keys and names are:
// Qt looks every character up in its Unicode tables.
inline QString lowerCased(const QString &text)
{
    const char16_t *chars = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    qsizetype firstUpper = -1;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = chars[i];
        if (c >= 0x80)
            return text.toLower();
        if (firstUpper < 0 && c >= u'A' && c <= u'Z')
            firstUpper = i;
    }
    if (firstUpper < 0)
        return text;
    QString lower = text;
    char16_t *out = reinterpret_cast<char16_t *>(lower.data());
    for (qsizetype i = firstUpper; i < size; ++i)
        if (out[i] >= u'A' && out[i] <= u'Z')
            out[i] = char16_t(out[i] + (u'a' - u'A'));
    return lower;
}

} // namespace textutil
