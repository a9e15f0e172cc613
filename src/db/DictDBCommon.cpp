#include "db/DictDBCommon.h"

#include <QLocale>
#include <iconv.h>
#include <mutex>

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

const char *ansiCodePage()
{
    static const char *name = QLocale::system().language() == QLocale::Chinese ? "GBK" : "WINDOWS-1252";
    return name;
}

bool isAscii(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        if (uint8_t(data[i]) >= 0x80)
            return false;
    return true;
}

// iconv descriptors are not thread-safe; one pair per thread.
struct Converters
{
    iconv_t toUtf16 = iconv_t(-1), fromUtf16 = iconv_t(-1);
    Converters()
    {
        toUtf16 = iconv_open("UTF-16LE", ansiCodePage());
        fromUtf16 = iconv_open(ansiCodePage(), "UTF-16LE");
    }
    ~Converters()
    {
        if (toUtf16 != iconv_t(-1))
            iconv_close(toUtf16);
        if (fromUtf16 != iconv_t(-1))
            iconv_close(fromUtf16);
    }
};
Converters &converters()
{
    thread_local Converters c;
    return c;
}

QByteArray runIconv(iconv_t cd, const char *data, size_t size)
{
    QByteArray out;
    if (cd == iconv_t(-1))
        return out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.resize(qsizetype(size * 4 + 8));
    char *in = const_cast<char *>(data);
    size_t inLeft = size;
    char *o = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) {
            if (errno == EILSEQ || errno == EINVAL) {
                // undecodable byte: substitute and go on
                if (outLeft >= 2) {
                    *o++ = '?';
                    *o++ = 0;
                    outLeft -= 2;
                }
                ++in;
                --inLeft;
                continue;
            }
            break;
        }
    }
    out.resize(qsizetype(o - out.data()));
    return out;
}

} // namespace

QString fromAnsi(const char *data, qsizetype size)
{
    if (isAscii(data, size))
        return QString::fromLatin1(data, size);
    const QByteArray utf16 = runIconv(converters().toUtf16, data, size_t(size));
    return QString(reinterpret_cast<const QChar *>(utf16.constData()), utf16.size() / 2);
}

QByteArray toAnsi(const QString &text)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return text.toLatin1();
    QByteArray utf16(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    iconv_t cd = converters().fromUtf16;
    if (cd == iconv_t(-1))
        return text.toLatin1();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(text.size() * 4 + 8, Qt::Uninitialized);
    char *in = utf16.data();
    size_t inLeft = size_t(utf16.size());
    char *o = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft >= 2) {
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) {
            if ((errno == EILSEQ || errno == EINVAL) && outLeft > 0) {
                *o++ = '?';
                --outLeft;
                in += 2;
                inLeft -= 2;
                continue;
            }
            break;
        }
    }
    out.resize(qsizetype(o - out.data()));
    return out;
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
