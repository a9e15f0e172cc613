#pragma once

// Byte and address helpers shared by the page archive's files. Internal.

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace pagearchive {

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

inline bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline char lowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline QByteArray lower(QByteArray s)
{
    for (char &c : s)
        c = lowerChar(c);
    return s;
}

// word is lower case.
inline bool startsWithNoCase(const QByteArray &s, qsizetype at, const char *word)
{
    for (qsizetype k = 0; word[k]; ++k) {
        if (at + k >= s.size() || lowerChar(s[at + k]) != word[k])
            return false;
    }
    return true;
}

bool isWebScheme(const QString &scheme);
int defaultPort(const QString &scheme);
// One key per address: host, effective port, path and query; the scheme is
// left out so that a mirror address finds its part.
QString partKey(const QUrl &url);
QUrl withoutFragment(const QUrl &url);
// A fetchable absolute address, or an invalid URL.
QUrl resolveWebUrl(const QUrl &base, const QString &value);

} // namespace pagearchive
