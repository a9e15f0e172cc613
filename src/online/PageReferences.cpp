#include "online/PageReferences.h"

#include "online/PageArchiveDetail.h"

#include <algorithm>
#include <iterator>

using namespace pagearchive;

namespace {

// Character references in attribute values: the named ones that occur in
// addresses and the numeric ones.
QString decodeEntities(const QByteArray &raw)
{
    if (!raw.contains('&'))
        return QString::fromUtf8(raw);
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const qsizetype semi = raw.indexOf(';', i + 1);
        if (semi < 0 || semi - i > 10) {
            out += raw[i];
            continue;
        }
        const QByteArray name = raw.mid(i + 1, semi - i - 1);
        QString replacement;
        if (name == "amp")
            replacement = QStringLiteral("&");
        else if (name == "lt")
            replacement = QStringLiteral("<");
        else if (name == "gt")
            replacement = QStringLiteral(">");
        else if (name == "quot")
            replacement = QStringLiteral("\"");
        else if (name == "apos")
            replacement = QStringLiteral("'");
        else if (name.startsWith('#') && name.size() > 1) {
            bool ok = false;
            const uint code
                = (name[1] == 'x' || name[1] == 'X') ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                const char32_t c = char32_t(code);
                replacement = QString::fromUcs4(&c, 1);
            }
        }
        if (replacement.isNull()) {
            out += raw[i];
            continue;
        }
        out += replacement.toUtf8();
        i = semi;
    }
    return QString::fromUtf8(out);
}

QString trimmedValue(const QByteArray &raw, bool entities)
{
    return (entities ? decodeEntities(raw) : QString::fromUtf8(raw)).trimmed();
}

// ---- Tags ----------------------------------------------------------------------------

struct HtmlAttribute
{
    QByteArray name; // lower case
    qsizetype offset = 0; // raw value in the source
    qsizetype length = 0;
    bool hasValue = false;
};

struct HtmlTag
{
    QByteArray name; // lower case
    QList<HtmlAttribute> attributes;
    // The content of an element whose content is text, not markup (script,
    // style, ...): up to its end tag. textStart < 0 for other elements.
    qsizetype textStart = -1;
    qsizetype textEnd = -1;

    // The first attribute called name that has a value.
    const HtmlAttribute *value(const char *attribute) const
    {
        for (const HtmlAttribute &a : attributes) {
            if (a.hasValue && a.name == attribute)
                return &a;
        }
        return nullptr;
    }
};

// The start tags of a page in order, as leniently as browsers read them:
// comments, declarations and end tags are passed over, and so is the content
// of raw-text elements; <plaintext> ends the markup.
class HtmlTagScanner
{
public:
    explicit HtmlTagScanner(const QByteArray &html)
        : h(html)
        , n(html.size())
    { }

    bool next(HtmlTag &tag)
    {
        while (!done && i < n) {
            const qsizetype lt = h.indexOf('<', i);
            if (lt < 0 || lt + 1 >= n)
                break;
            if (h.mid(lt, 4) == "<!--") {
                const qsizetype end = h.indexOf("-->", lt + 4);
                i = end < 0 ? n : end + 3;
                continue;
            }
            const char first = h[lt + 1];
            if (first == '!' || first == '?' || first == '/') {
                const qsizetype end = h.indexOf('>', lt + 1);
                i = end < 0 ? n : end + 1;
                continue;
            }
            if (!isAlpha(first)) {
                i = lt + 1;
                continue;
            }
            readTag(lt, tag);
            return true;
        }
        done = true;
        return false;
    }

private:
    void readTag(qsizetype lt, HtmlTag &tag)
    {
        qsizetype p = lt + 1;
        while (p < n && !isSpace(h[p]) && h[p] != '>' && h[p] != '/')
            ++p;
        tag = HtmlTag();
        tag.name = lower(h.mid(lt + 1, p - lt - 1));
        while (p < n) {
            while (p < n && (isSpace(h[p]) || h[p] == '/'))
                ++p;
            if (p >= n || h[p] == '>')
                break;
            const qsizetype nameStart = p;
            ++p; // a name is at least one character, even '='
            while (p < n && !isSpace(h[p]) && h[p] != '>' && h[p] != '/' && h[p] != '=')
                ++p;
            HtmlAttribute a;
            a.name = lower(h.mid(nameStart, p - nameStart));
            qsizetype q = p;
            while (q < n && isSpace(h[q]))
                ++q;
            if (q < n && h[q] == '=') {
                ++q;
                while (q < n && isSpace(h[q]))
                    ++q;
                a.hasValue = true;
                if (q < n && (h[q] == '"' || h[q] == '\'')) {
                    const char quote = h[q];
                    qsizetype end = h.indexOf(quote, q + 1);
                    if (end < 0)
                        end = n;
                    a.offset = q + 1;
                    a.length = end - q - 1;
                    p = std::min(end + 1, n);
                } else {
                    const qsizetype start = q;
                    while (q < n && !isSpace(h[q]) && h[q] != '>')
                        ++q;
                    a.offset = start;
                    a.length = q - start;
                    p = q;
                }
            }
            tag.attributes << a;
        }
        const qsizetype tagEnd = p < n ? p + 1 : n;

        static const char *const rawText[]
            = {"script", "style", "textarea", "title", "xmp", "noscript", "iframe", "noembed", "noframes"};
        if (std::any_of(std::begin(rawText), std::end(rawText),
                        [&tag](const char *t) { return tag.name == t; })) {
            const QByteArray closeTag = "</" + tag.name;
            qsizetype close = tagEnd;
            while (true) {
                close = h.indexOf("</", close);
                if (close < 0 || startsWithNoCase(h, close, closeTag.constData()))
                    break;
                close += 2;
            }
            if (close < 0)
                close = n;
            tag.textStart = tagEnd;
            tag.textEnd = close;
            i = close;
        } else if (tag.name == "plaintext") {
            done = true;
        } else {
            i = tagEnd;
        }
    }

    const QByteArray &h;
    const qsizetype n;
    qsizetype i = 0;
    bool done = false;
};

// ---- Which attribute is which reference ------------------------------------------------

enum class Use {
    Resource, // the value is one address
    Srcset, // comma-separated candidates, each an address and descriptors
    LinkHref, // a style sheet or an icon, after the rel attribute; other links are not loaded
    ImageInputSource, // only for type=image
    FirstBase, // only the document's first <base href> counts
    InlineStyle, // CSS in a style attribute
};

struct Rule
{
    const char *tag; // nullptr: every element
    const char *attribute;
    Use use;
};

// In the order the references of one element are reported.
constexpr Rule kRules[] = {
    {"img", "src", Use::Resource},         {"img", "srcset", Use::Srcset},
    {"source", "srcset", Use::Srcset},     {"script", "src", Use::Resource},
    {"link", "href", Use::LinkHref},       {"input", "src", Use::ImageInputSource},
    {"video", "poster", Use::Resource},    {"base", "href", Use::FirstBase},
    {"body", "background", Use::Resource}, {"table", "background", Use::Resource},
    {"td", "background", Use::Resource},   {"th", "background", Use::Resource},
    {"tr", "background", Use::Resource},   {nullptr, "style", Use::InlineStyle},
};

} // namespace

QList<TPageReference> FindCssReferences(const QByteArray &Css)
{
    QList<TPageReference> refs;
    const qsizetype n = Css.size();
    // The text of a quoted string starting at the quote at q; end is past the closing quote.
    const auto stringAt = [&Css, n](qsizetype q, qsizetype &valueEnd, qsizetype &end) {
        const char quote = Css[q];
        qsizetype k = q + 1;
        while (k < n && Css[k] != quote && Css[k] != '\n') {
            if (Css[k] == '\\')
                ++k;
            ++k;
        }
        valueEnd = std::min(k, n);
        end = std::min(k + 1, n);
    };
    // url( at i (already matched): adds the reference and returns the position after it.
    const auto urlAt = [&](qsizetype i, TPageReference::Kind kind) {
        qsizetype k = i + 4;
        while (k < n && isSpace(Css[k]))
            ++k;
        TPageReference ref;
        ref.RefKind = kind;
        if (k < n && (Css[k] == '"' || Css[k] == '\'')) {
            qsizetype valueEnd = k, end = k;
            stringAt(k, valueEnd, end);
            ref.Offset = k + 1;
            ref.Length = valueEnd - k - 1;
            ref.RefSyntax = TPageReference::CssString;
            k = end;
            while (k < n && Css[k] != ')' && Css[k] != ';' && Css[k] != '\n')
                ++k;
        } else {
            const qsizetype start = k;
            while (k < n && Css[k] != ')' && Css[k] != '\n')
                ++k;
            qsizetype end = k;
            while (end > start && isSpace(Css[end - 1]))
                --end;
            ref.Offset = start;
            ref.Length = end - start;
            ref.RefSyntax = TPageReference::CssBare;
        }
        ref.Value = trimmedValue(Css.mid(ref.Offset, ref.Length), false);
        if (!ref.Value.isEmpty())
            refs << ref;
        return k < n ? k + 1 : n;
    };
    qsizetype i = 0;
    while (i < n) {
        const char c = Css[i];
        if (c == '/' && i + 1 < n && Css[i + 1] == '*') {
            const qsizetype end = Css.indexOf("*/", i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == '@' && startsWithNoCase(Css, i, "@import")) {
            qsizetype k = i + 7;
            while (k < n && isSpace(Css[k]))
                ++k;
            if (k < n && (Css[k] == '"' || Css[k] == '\'')) {
                qsizetype valueEnd = k, end = k;
                stringAt(k, valueEnd, end);
                TPageReference ref;
                ref.RefKind = TPageReference::StyleSheet;
                ref.RefSyntax = TPageReference::CssString;
                ref.Offset = k + 1;
                ref.Length = valueEnd - k - 1;
                ref.Value = trimmedValue(Css.mid(ref.Offset, ref.Length), false);
                if (!ref.Value.isEmpty())
                    refs << ref;
                i = end;
            } else if (startsWithNoCase(Css, k, "url(")) {
                i = urlAt(k, TPageReference::StyleSheet);
            } else {
                i = k;
            }
        } else if (c == '"' || c == '\'') {
            qsizetype valueEnd = i, end = i;
            stringAt(i, valueEnd, end);
            i = end;
        } else if ((c == 'u' || c == 'U') && startsWithNoCase(Css, i, "url(")
                   && (i == 0 || !(isAlpha(Css[i - 1]) || Css[i - 1] == '-' || Css[i - 1] == '_'))) {
            i = urlAt(i, TPageReference::Resource);
        } else {
            ++i;
        }
    }
    return refs;
}

QList<TPageReference> FindHtmlReferences(const QByteArray &Html)
{
    QList<TPageReference> refs;
    const QByteArray &h = Html;
    bool haveBase = false;

    const auto add = [&refs, &h](TPageReference::Kind kind, qsizetype offset, qsizetype length) {
        TPageReference ref;
        ref.RefKind = kind;
        ref.Offset = offset;
        ref.Length = length;
        ref.Value = trimmedValue(h.mid(offset, length), true);
        if (!ref.Value.isEmpty())
            refs << ref;
    };
    const auto addCss = [&refs](const QByteArray &css, qsizetype offset, bool inAttribute) {
        for (TPageReference ref : FindCssReferences(css)) {
            ref.Offset += offset;
            ref.InAttribute = inAttribute;
            if (inAttribute) {
                ref.Value = decodeEntities(ref.Value.toUtf8()).trimmed();
                // A quoted url() in a style attribute is usually written with
                // &quot; or &#39;: the quotes only appear once decoded.
                const qsizetype n = ref.Value.size();
                if (ref.RefSyntax == TPageReference::CssBare && n >= 2 && ref.Value[0] == ref.Value[n - 1]
                    && (ref.Value[0] == u'"' || ref.Value[0] == u'\''))
                    ref.Value = ref.Value.mid(1, n - 2).trimmed();
                if (ref.Value.isEmpty())
                    continue;
            }
            refs << ref;
        }
    };
    const auto addSrcset = [&](const HtmlAttribute &a) {
        qsizetype q = a.offset;
        const qsizetype end = a.offset + a.length;
        while (q < end) {
            while (q < end && (isSpace(h[q]) || h[q] == ','))
                ++q;
            if (q >= end)
                break;
            const qsizetype start = q;
            while (q < end && !isSpace(h[q]))
                ++q;
            qsizetype urlEnd = q;
            bool commaEnded = false;
            while (urlEnd > start && h[urlEnd - 1] == ',') {
                --urlEnd;
                commaEnded = true;
            }
            if (urlEnd > start)
                add(TPageReference::Resource, start, urlEnd - start);
            if (commaEnded)
                continue;
            int depth = 0;
            while (q < end && !(h[q] == ',' && depth == 0)) {
                if (h[q] == '(')
                    ++depth;
                else if (h[q] == ')' && depth > 0)
                    --depth;
                ++q;
            }
        }
    };

    HtmlTagScanner scanner(Html);
    HtmlTag tag;
    while (scanner.next(tag)) {
        const auto valueText = [&](const char *name) {
            const HtmlAttribute *a = tag.value(name);
            return a ? lower(decodeEntities(h.mid(a->offset, a->length)).toUtf8()) : QByteArray();
        };
        for (const Rule &rule : kRules) {
            if (rule.tag && tag.name != rule.tag)
                continue;
            const HtmlAttribute *a = tag.value(rule.attribute);
            if (!a)
                continue;
            switch (rule.use) {
            case Use::Resource:
                add(TPageReference::Resource, a->offset, a->length);
                break;
            case Use::Srcset:
                addSrcset(*a);
                break;
            case Use::LinkHref: {
                const QList<QByteArray> rel = valueText("rel").simplified().split(' ');
                if (rel.contains("stylesheet"))
                    add(TPageReference::StyleSheet, a->offset, a->length);
                else if (std::any_of(rel.begin(), rel.end(),
                                     [](const QByteArray &r) { return r.endsWith("icon"); }))
                    add(TPageReference::Resource, a->offset, a->length);
                break;
            }
            case Use::ImageInputSource:
                if (valueText("type").trimmed() == "image")
                    add(TPageReference::Resource, a->offset, a->length);
                break;
            case Use::FirstBase:
                if (!haveBase) {
                    haveBase = true;
                    add(TPageReference::Base, a->offset, a->length);
                }
                break;
            case Use::InlineStyle:
                addCss(h.mid(a->offset, a->length), a->offset, true);
                break;
            }
        }
        if (tag.name == "style" && tag.textStart >= 0)
            addCss(h.mid(tag.textStart, tag.textEnd - tag.textStart), tag.textStart, false);
    }
    return refs;
}
