#include "platform/AnsiCodePage.h"

#include <QLocale>
#include <QMutex>
#include <cerrno>
#include <iconv.h>

namespace platform {

namespace {

QMutex g_mutex;
QByteArray g_override;

QByteArray localeCodePage()
{
    static const QByteArray name = QLocale::system().language() == QLocale::Chinese
        ? QByteArrayLiteral("GBK")
        : QByteArrayLiteral("WINDOWS-1252");
    return name;
}

} // namespace

QByteArray ansiCodePageName()
{
    QMutexLocker lock(&g_mutex);
    return g_override.isEmpty() ? localeCodePage() : g_override;
}

void setAnsiCodePageOverride(const QByteArray &name)
{
    QMutexLocker lock(&g_mutex);
    g_override = name.toUpper();
}

bool ansiCodePageIsDoubleByte()
{
    return ansiCodePageName() == "GBK";
}

bool isAnsiLeadByte(uchar b)
{
    return ansiCodePageIsDoubleByte() && b >= 0x81 && b <= 0xFE;
}

namespace {

bool isAscii(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        if (uchar(data[i]) >= 0x80)
            return false;
    return true;
}

// iconv descriptors are not thread-safe and costly to open: each thread keeps
// one pair, reopened only when the code page changes.
struct Converters
{
    QByteArray codePage;
    iconv_t toUtf16 = iconv_t(-1);
    iconv_t fromUtf16 = iconv_t(-1);

    ~Converters() { close(); }
    void close()
    {
        if (toUtf16 != iconv_t(-1))
            iconv_close(toUtf16);
        if (fromUtf16 != iconv_t(-1))
            iconv_close(fromUtf16);
        toUtf16 = fromUtf16 = iconv_t(-1);
    }
    void use(const QByteArray &name)
    {
        if (name == codePage)
            return;
        close();
        codePage = name;
        toUtf16 = iconv_open("UTF-16LE", name.constData());
        fromUtf16 = iconv_open(name.constData(), "UTF-16LE");
    }
};

Converters &converters()
{
    thread_local Converters c;
    c.use(ansiCodePageName());
    return c;
}

} // namespace

QString fromAnsiCodePage(const char *data, qsizetype size)
{
    if (size <= 0)
        return {};
    if (isAscii(data, size))
        return QString::fromLatin1(data, size);
    iconv_t cd = converters().toUtf16;
    if (cd == iconv_t(-1))
        return QString::fromLatin1(data, size);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(size * 4 + 8, Qt::Uninitialized);
    char *ip = const_cast<char *>(data);
    size_t inLeft = size_t(size);
    char *op = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &ip, &inLeft, &op, &outLeft) != size_t(-1))
            continue;
        if ((errno == EILSEQ || errno == EINVAL) && outLeft >= 2) {
            // A byte the code page cannot decode (or a cut-off double byte): one '?'.
            *op++ = '?';
            *op++ = 0;
            outLeft -= 2;
            ++ip;
            --inLeft;
            continue;
        }
        break;
    }
    return QString(reinterpret_cast<const QChar *>(out.constData()), (op - out.data()) / 2);
}

QByteArray toAnsiCodePage(const QString &text)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return text.toLatin1();
    iconv_t cd = converters().fromUtf16;
    if (cd == iconv_t(-1))
        return text.toLatin1();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray in(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    QByteArray out(text.size() * 4 + 8, Qt::Uninitialized);
    char *ip = in.data();
    size_t inLeft = size_t(in.size());
    char *op = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft >= 2) {
        if (iconv(cd, &ip, &inLeft, &op, &outLeft) != size_t(-1))
            continue;
        if ((errno == EILSEQ || errno == EINVAL) && outLeft > 0) {
            // A character the code page lacks (or half a surrogate pair): one '?'.
            const char16_t u = char16_t(uchar(ip[0]) | (uchar(ip[1]) << 8));
            const size_t skip = (u >= 0xD800 && u < 0xDC00 && inLeft >= 4) ? 4 : 2;
            *op++ = '?';
            --outLeft;
            ip += skip;
            inLeft -= skip;
            continue;
        }
        break;
    }
    out.resize(qsizetype(op - out.data()));
    return out;
}

} // namespace platform
