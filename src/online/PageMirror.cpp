#include "online/PageMirror.h"

#include "online/PageArchiveDetail.h"
#include "online/PageReferences.h"

#include <QList>
#include <QSet>
#include <algorithm>

using namespace pagearchive;

namespace {

QByteArray htmlEscape(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size() + 8);
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray cssString(const QByteArray &s)
{
    QByteArray out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

QUrl PageArchiveMirrorUrl(const QUrl &Original)
{
    if (!Original.isValid() || !isWebScheme(Original.scheme()) || Original.host().isEmpty())
        return {};
    QUrl mirror(Original);
    const int port = Original.port(defaultPort(Original.scheme()));
    mirror.setUserInfo(QString());
    mirror.setScheme(QString::fromLatin1(PageArchiveScheme));
    mirror.setPort(port == 80 ? -1 : port);
    if (mirror.path().isEmpty())
        mirror.setPath(QStringLiteral("/"));
    return mirror;
}

QString UrlOriginText(const QUrl &Url)
{
    const QString scheme = Url.scheme().toLower();
    if (!Url.isValid() || Url.host().isEmpty()
        || !(isWebScheme(scheme) || scheme == QLatin1String(PageArchiveScheme)))
        return QStringLiteral("null");
    QString host = Url.host(QUrl::FullyEncoded).toLower();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    QString origin = scheme + QStringLiteral("://") + host;
    const int port = Url.port();
    if (port >= 0 && port != defaultPort(scheme))
        origin += QLatin1Char(':') + QString::number(port);
    return origin;
}

QByteArray MirroredPartBody(const TPageArchive &Archive, const TArchivePart &Part)
{
    const bool html = Part.IsHtml();
    if (!html && !Part.IsCss())
        return Part.Body;
    const QList<TPageReference> refs = html ? FindHtmlReferences(Part.Body) : FindCssReferences(Part.Body);
    QUrl base = Part.Location;
    struct Replacement
    {
        qsizetype offset, length;
        QByteArray text;
    };
    QList<Replacement> replacements;
    // The address as the source's syntax needs it at the reference's place.
    const auto spelled = [](const TPageReference &ref, const QByteArray &url) {
        switch (ref.RefSyntax) {
        case TPageReference::HtmlValue:
            return htmlEscape(url);
        case TPageReference::CssString: {
            const QByteArray quoted = cssString(url);
            const QByteArray inner = quoted.mid(1, quoted.size() - 2);
            return ref.InAttribute ? htmlEscape(inner) : inner;
        }
        case TPageReference::CssBare:
            return ref.InAttribute ? htmlEscape(cssString(url)) : cssString(url);
        }
        return url;
    };
    if (html) {
        for (const TPageReference &ref : refs) {
            if (ref.RefKind != TPageReference::Base)
                continue;
            const QUrl target = resolveWebUrl(Part.Location, ref.Value);
            if (target.isValid()) {
                base = target;
                replacements.append(
                    {ref.Offset, ref.Length, spelled(ref, PageArchiveMirrorUrl(target).toEncoded())});
            }
            break;
        }
    }
    QSet<QString> archived;
    for (const TArchivePart &p : Archive.Parts)
        archived.insert(partKey(p.Location));
    for (const TPageReference &ref : refs) {
        if (ref.RefKind == TPageReference::Base)
            continue;
        const QUrl target = resolveWebUrl(base, ref.Value);
        if (!target.isValid() || !archived.contains(partKey(withoutFragment(target))))
            continue;
        replacements.append({ref.Offset, ref.Length, spelled(ref, PageArchiveMirrorUrl(target).toEncoded())});
    }
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement &a, const Replacement &b) { return a.offset < b.offset; });
    QByteArray out;
    out.reserve(Part.Body.size() + replacements.size() * 16);
    qsizetype at = 0;
    for (const Replacement &r : replacements) {
        if (r.offset < at || r.offset + r.length > Part.Body.size())
            continue;
        out += Part.Body.mid(at, r.offset - at);
        out += r.text;
        at = r.offset + r.length;
    }
    out += Part.Body.mid(at);
    return out;
}
