#include "db/DictDBCommon.h"

namespace dictdb {

int fieldStorageSize(int type, qint64 fieldSize)
{
    switch (type) {
    case ftString:
    case ftFixedChar:
        if (fieldSize < 0 || fieldSize > kMaxFieldSize)
            return -1;
        return int(fieldSize + 1);
    case ftSmallint:
    case ftWord:
    case ftBoolean:
        return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
        return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftLargeint:
        return 8;
    default:
        return isBlobType(type) ? kBlobDescriptorSize : -1;
    }
}

bool isBlobType(int type)
{
    switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
        return true;
    default:
        return false;
    }
}

bool isStringType(int type)
{
    return type == ftString || type == ftFixedChar || type == ftWideString;
}

namespace {

// The next code point of text at i (a lone surrogate stands for itself).
char32_t nextCodePoint(const QString &text, qsizetype &i)
{
    const char16_t c = text.at(i++).unicode();
    if (QChar::isHighSurrogate(c) && i < text.size() && QChar::isLowSurrogate(text.at(i).unicode()))
        return QChar::surrogateToUcs4(c, text.at(i++).unicode());
    return c;
}

} // namespace

int compareText(const QString &a, const QString &b, bool caseInsensitive, bool partial)
{
    // One rule for every reader and writer, whatever their locale: simple Unicode case
    // folding when case is ignored, then code point order. A file indexed under one
    // locale is therefore searched correctly under any other, and all texts sharing a
    // prefix sit together, which the partial-key search relies on.
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t x = nextCodePoint(a, i), y = nextCodePoint(b, j);
        if (caseInsensitive) {
            x = QChar::toCaseFolded(x);
            y = QChar::toCaseFolded(y);
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size() && !partial)
        return -1; // with the partial-key option only as many characters as the key has take part
    return 0;
}

void damaged(const char *what)
{
    throw EDictDBError(QStringLiteral("Database file is damaged: %1").arg(QLatin1String(what)));
}

} // namespace dictdb
