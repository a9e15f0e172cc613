#pragma once

#include <QByteArray>
#include <QString>

namespace installed {

// The name in the system code page, read as the letters of its pinyin: each
// Chinese character becomes its syllable, full-width brackets, digits and
// letters become their ASCII forms, numbered-list and Greek characters a
// short text; every piece is preceded by one blank. For ordering only.
QByteArray TransliterateName(const QString &name);

// How a program name sorts among others: empty names first, then names that
// start with a single-byte character (compared ignoring ASCII case), then
// double-byte names by their transliteration.
struct TNameSortKey
{
    int group = 0; // 0 empty, 1 single-byte, 2 double-byte
    QString text; // single-byte: the name as is
    QByteArray translit; // double-byte: the transliteration
};
TNameSortKey MakeNameSortKey(const QString &name);
// <0, 0, >0 like strcmp.
int CompareNameSortKeys(const TNameSortKey &a, const TNameSortKey &b);
int CompareProgramNames(const QString &a, const QString &b);

} // namespace installed
