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
    const QByteArray codePage = ansiCodePageName();
    iconv_t cd = iconv_open(codePage.constData(), "UTF-16LE");
    if (cd == iconv_t(-1))
        return text.toLatin1();
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
    iconv_close(cd);
    out.resize(qsizetype(op - out.data()));
    return out;
}

} // namespace platform
