#include "core/OVFuncs.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"
#include "platform/Launcher.h"

#include <QFileInfo>

namespace {

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Characters that may stand in a URL as they are (RFC 3986 unreserved and reserved).
bool isUrlChar(char16_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return true;
    return c < 128 && QByteArrayView("-._~:/?#[]@!$&'()*+,;=").contains(char(c));
}

QString percentEncodeInvalid(const QString &url)
{
    QString out;
    for (qsizetype i = 0; i < url.size(); ++i) {
        const QChar c = url.at(i);
        if (c == u'%' && i + 2 < url.size() && isHex(url.at(i + 1)) && isHex(url.at(i + 2))) {
            out += c;
            continue;
        }
        if (c != u'%' && isUrlChar(c.unicode())) {
            out += c;
            continue;
        }
        // Everything else as UTF-8 bytes, surrogate pairs kept together.
        qsizetype len = 1;
        if (c.isHighSurrogate() && i + 1 < url.size() && url.at(i + 1).isLowSurrogate())
            len = 2;
        const QByteArray bytes = url.mid(i, len).toUtf8();
        for (const char b : bytes)
            out += QStringLiteral("%%1").arg(uint(uchar(b)), 2, 16, QLatin1Char('0')).toUpper();
        i += len - 1;
    }
    return out;
}

} // namespace

namespace {
// Viewers of compiled help files that Debian packages install under these names.
const QStringList &helpViewers()
{
    static const QStringList viewers {QStringLiteral("xchm"), QStringLiteral("kchmviewer")};
    return viewers;
}
} // namespace

bool OpenHelpFile(const QString &path)
{
    const QString p = path.trimmed();
    if (p.isEmpty())
        return false;
    platform::ILauncher &launcher = platform::launcher();
    if (launcher.openWithDesktop(p))
        return true;
    // A viewer installed without the desktop's type database knowing it (no
    // association, or no desktop at all) can still be started directly.
    for (const QString &viewer : helpViewers())
        if (launcher.startProgram({viewer, p}))
            return true;
    return false;
}

bool HelpViewerInstalled()
{
    return platform::launcher().canOpenType(QStringLiteral("application/vnd.ms-htmlhelp"), helpViewers());
}

QString MakeSearchUrl(const QString &text, const QString &urlTemplate)
{
    QString url = urlTemplate.trimmed().isEmpty() ? QString::fromLatin1(kDefaultSearchTemplate) : urlTemplate;
    url.replace(QStringLiteral("%s"), text);
    return percentEncodeInvalid(url);
}

void SearchOnline(const QString &text, const QString &urlTemplate)
{
    if (text.trimmed().isEmpty())
        return;
    platform::launcher().openWithDesktop(MakeSearchUrl(text, urlTemplate));
}

quint32 LaunchTessalyPopup(int code)
{
    const QString file = appfiles::SiblingProgram(QStringLiteral("Tessaly"));
    if (!QFileInfo(file).isFile())
        return kTessalyMissing;
    // Opened as a document it would lose its arguments.
    if (!QFileInfo(file).isExecutable())
        return kTessalyStartFailed;
    return ShellExecuteOpen(file, QStringLiteral("-popup ") + QString::number(code), SW_SHOWNORMAL)
        ? 0
        : kTessalyStartFailed;
}
