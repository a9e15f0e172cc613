#include "online/PageArchive.h"

#include "online/HttpSetup.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <memory>

namespace {

// The format this program writes; files of another version are not read.
constexpr const char *kFormatHeader = "X-Orvane-Archive";
constexpr const char *kFormatVersion = "1";
constexpr int kMaxParts = 2000;
constexpr int kMaxHeaderLines = 64;
constexpr qsizetype kMaxHeaderLineBytes = 8192;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

QByteArray lower(QByteArray s)
{
    for (char &c : s)
        c = lowerChar(c);
    return s;
}

bool startsWithNoCase(const QByteArray &s, qsizetype at, const char *word)
{
    for (qsizetype k = 0; word[k]; ++k) {
        if (at + k >= s.size() || lowerChar(s[at + k]) != word[k])
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isWebScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

int defaultPort(const QString &scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

// One key per address: host, effective port, path and query; the scheme is
// left out so that a mirror address finds its part.
QString partKey(const QUrl &url)
{
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    QString key = url.host().toLower() + QLatin1Char(':')
        + QString::number(url.port(defaultPort(url.scheme()))) + path;
    if (url.hasQuery())
        key += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    return key;
}

QUrl withoutFragment(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment);
}

// A fetchable absolute address, or an invalid URL.
QUrl resolveWebUrl(const QUrl &base, const QString &value)
{
    if (value.isEmpty() || value.size() > PageArchiveMaxUrlLength || value.startsWith(QLatin1Char('#')))
        return {};
    const QUrl ref(value);
    if (!ref.isValid())
        return {};
    const QUrl url = base.resolved(ref);
    if (!url.isValid() || !isWebScheme(url.scheme()) || url.host().isEmpty())
        return {};
    if (url.toEncoded().size() > PageArchiveMaxUrlLength)
        return {};
    return url;
}

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

// ---- MIME encodings ----------------------------------------------------------

QByteArray base64Lines(const QByteArray &bytes)
{
    const QByteArray b64 = bytes.toBase64();
    QByteArray out;
    out.reserve(b64.size() + b64.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < b64.size(); i += 76) {
        if (i)
            out += "\r\n";
        out += b64.mid(i, 76);
    }
    return out;
}

// Quoted-printable that keeps the bytes exactly: a line feed is a hard line
// break, every other control byte (carriage returns included), '=' and
// non-ASCII bytes are escaped, and so is white space before a break.
QByteArray quotedPrintable(const QByteArray &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 8);
    int lineLength = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\n') {
            out += "\r\n";
            lineLength = 0;
            continue;
        }
        const bool blankAtEnd = (b == ' ' || b == '\t') && (i + 1 == n || bytes[i + 1] == '\n');
        const bool literal = ((b >= 33 && b <= 126 && b != '=') || b == ' ' || b == '\t') && !blankAtEnd;
        const int width = literal ? 1 : 3;
        if (lineLength + width > 75) {
            out += "=\r\n";
            lineLength = 0;
        }
        if (literal) {
            out += char(b);
        } else {
            out += '=';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
        lineLength += width;
    }
    return out;
}

std::optional<QByteArray> decodeQuotedPrintable(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start <= n) {
        qsizetype nl = text.indexOf('\n', start);
        const bool last = nl < 0;
        if (last)
            nl = n;
        qsizetype end = nl;
        if (end > start && text[end - 1] == '\r')
            --end;
        bool soft = false;
        for (qsizetype i = start; i < end; ++i) {
            const char c = text[i];
            if (c != '=') {
                out += c;
                continue;
            }
            if (i + 1 == end) {
                soft = true;
                break;
            }
            if (i + 2 >= end)
                return std::nullopt;
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += char(hi * 16 + lo);
            i += 2;
        }
        if (last)
            break;
        if (!soft)
            out += '\n';
        start = nl + 1;
    }
    return out;
}

QByteArray md5Text(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toBase64();
}

// Header values come from servers: printable ASCII only, bounded.
QByteArray headerSafe(const QByteArray &value, qsizetype max = 256)
{
    QByteArray out;
    for (char c : value) {
        if (c >= 0x20 && c <= 0x7E)
            out += c;
        if (out.size() >= max)
            break;
    }
    return out.trimmed();
}

// ---- MIME reading -------------------------------------------------------------

struct Line
{
    qsizetype start = 0; // first byte
    qsizetype end = 0; // past the last byte, line break excluded
    qsizetype next = 0; // start of the following line
};

// The line starting at pos (its break may be CRLF or LF).
Line lineAt(const QByteArray &bytes, qsizetype pos)
{
    Line l;
    l.start = pos;
    qsizetype nl = bytes.indexOf('\n', pos);
    if (nl < 0) {
        l.end = bytes.size();
        l.next = bytes.size() + 1;
        return l;
    }
    l.next = nl + 1;
    l.end = (nl > pos && bytes[nl - 1] == '\r') ? nl - 1 : nl;
    return l;
}

using Headers = QHash<QByteArray, QByteArray>;

// Reads a header block from pos up to its blank line; pos is left after it.
std::optional<Headers> readHeaders(const QByteArray &bytes, qsizetype &pos, qsizetype limit)
{
    Headers headers;
    QByteArray lastName;
    int count = 0;
    while (pos < limit) {
        const Line l = lineAt(bytes, pos);
        const qsizetype end = std::min(l.end, limit);
        pos = std::min(l.next, limit);
        if (end == l.start)
            return headers;
        if (end - l.start > kMaxHeaderLineBytes || ++count > kMaxHeaderLines)
            return std::nullopt;
        const QByteArray line = bytes.mid(l.start, end - l.start);
        if ((line[0] == ' ' || line[0] == '\t')) {
            if (lastName.isEmpty())
                return std::nullopt;
            headers[lastName] += ' ' + line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return std::nullopt;
        lastName = lower(line.left(colon).trimmed());
        headers[lastName] = line.mid(colon + 1).trimmed();
    }
    return std::nullopt; // no blank line: the block is cut off
}

struct ContentType
{
    QByteArray mime;
    QHash<QByteArray, QByteArray> params;
};

ContentType parseContentType(const QByteArray &value)
{
    ContentType ct;
    QList<QByteArray> pieces;
    QByteArray current;
    bool quoted = false;
    for (char c : value) {
        if (c == '"')
            quoted = !quoted;
        if (c == ';' && !quoted) {
            pieces << current;
            current.clear();
        } else {
            current += c;
        }
    }
    pieces << current;
    ct.mime = lower(pieces.front().trimmed());
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const qsizetype eq = pieces[i].indexOf('=');
        if (eq <= 0)
            continue;
        QByteArray v = pieces[i].mid(eq + 1).trimmed();
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.mid(1, v.size() - 2);
        ct.params[lower(pieces[i].left(eq).trimmed())] = v;
    }
    return ct;
}

QByteArray rtrimBlanks(QByteArray s)
{
    while (!s.isEmpty() && (s.back() == ' ' || s.back() == '\t'))
        s.chop(1);
    return s;
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

// ---- Parts and lookups ------------------------------------------------------------

QByteArray TArchivePart::MimeType() const
{
    return parseContentType(ContentType).mime;
}

bool TArchivePart::IsHtml() const
{
    const QByteArray m = MimeType();
    return m == "text/html" || m == "application/xhtml+xml";
}

bool TArchivePart::IsCss() const
{
    return MimeType() == "text/css";
}

const TArchivePart *TPageArchive::Find(const QUrl &Url) const
{
    if (!Url.isValid() || Url.host().isEmpty())
        return nullptr;
    const QString key = partKey(withoutFragment(Url));
    for (const TArchivePart &p : Parts) {
        if (partKey(p.Location) == key)
            return &p;
    }
    return nullptr;
}

const TArchivePart *TPageArchive::FindMirrored(const QUrl &MirrorUrl) const
{
    if (MirrorUrl.scheme() != QLatin1String(PageArchiveScheme))
        return nullptr;
    return Find(MirrorUrl);
}

// ---- Writing ---------------------------------------------------------------------------

QByteArray SerializePageArchive(const TPageArchive &Archive)
{
    const QByteArray boundary = "----=_OrvanePart_"
        + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + '_'
        + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    const QByteArray root = Archive.Root() ? Archive.Root()->Location.toEncoded() : QByteArray();

    QByteArray out;
    out += "MIME-Version: 1.0\r\n";
    out += QByteArray(kFormatHeader) + ": " + kFormatVersion + "\r\n";
    out += "Date: " + QDateTime::currentDateTimeUtc().toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    if (!root.isEmpty())
        out += "Content-Location: " + root + "\r\n";
    out += "Content-Type: multipart/related;\r\n\ttype=\"text/html\";\r\n\tboundary=\"" + boundary + "\"\r\n";
    out += "\r\nThis is a multi-part message in MIME format.\r\n";
    for (const TArchivePart &p : Archive.Parts) {
        const bool text = p.MimeType().startsWith("text/") || p.MimeType() == "application/javascript"
            || p.MimeType() == "application/x-javascript" || p.MimeType() == "application/xhtml+xml"
            || p.MimeType() == "image/svg+xml";
        QByteArray type = headerSafe(p.ContentType);
        if (type.isEmpty())
            type = "application/octet-stream";
        out += "\r\n--" + boundary + "\r\n";
        out += "Content-Type: " + type + "\r\n";
        out += QByteArray("Content-Transfer-Encoding: ") + (text ? "quoted-printable" : "base64") + "\r\n";
        out += "Content-Location: " + p.Location.toEncoded() + "\r\n";
        out += "Content-MD5: " + md5Text(p.Body) + "\r\n";
        out += "\r\n";
        out += text ? quotedPrintable(p.Body) : base64Lines(p.Body);
    }
    out += "\r\n--" + boundary + "--\r\n";
    return out;
}

bool WritePageArchiveFile(const TPageArchive &Archive, const QString &FileName, QString *Error)
{
    if (Archive.IsEmpty())
        return fail(Error, QStringLiteral("nothing to write"));
    const QByteArray bytes = SerializePageArchive(Archive);
    if (bytes.size() > PageArchiveMaxFileBytes)
        return fail(Error, QStringLiteral("archive too large"));
    QDir().mkpath(QFileInfo(FileName).absolutePath());
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(Error, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return fail(Error, file.errorString());
    }
    if (!file.commit())
        return fail(Error, file.errorString());
    return true;
}

// ---- Reading -------------------------------------------------------------------------------

std::optional<TPageArchive> ParsePageArchive(const QByteArray &Bytes, QString *Error)
{
    const auto refuse = [Error](const char *why) -> std::optional<TPageArchive> {
        if (Error)
            *Error = QString::fromLatin1(why);
        return std::nullopt;
    };
    if (Bytes.size() > PageArchiveMaxFileBytes)
        return refuse("file too large");
    qsizetype pos = 0;
    const std::optional<Headers> top = readHeaders(Bytes, pos, Bytes.size());
    if (!top)
        return refuse("no message header");
    if (top->value(lower(kFormatHeader)).trimmed() != kFormatVersion)
        return refuse("not an archive of this format version");
    const ContentType type = parseContentType(top->value("content-type"));
    const QByteArray boundary = type.params.value("boundary");
    if (type.mime != "multipart/related" || boundary.isEmpty() || boundary.size() > 200)
        return refuse("not a multipart/related message");
    const QByteArray delimiter = "--" + boundary;
    const QByteArray closing = delimiter + "--";

    TPageArchive archive;
    QSet<QString> keys;
    qsizetype partStart = -1;
    bool closed = false;
    while (pos < Bytes.size()) {
        const Line l = lineAt(Bytes, pos);
        const qsizetype lineLength = l.end - l.start;
        const bool candidate
            = (lineLength >= delimiter.size() && Bytes[l.start] == '-' && Bytes.at(l.start + 1) == '-');
        QByteArray line;
        if (candidate)
            line = rtrimBlanks(Bytes.mid(l.start, lineLength));
        const bool isClosing = candidate && line == closing;
        if (candidate && (line == delimiter || isClosing)) {
            if (partStart >= 0) {
                // The line break before the delimiter belongs to the delimiter.
                qsizetype partEnd = l.start;
                if (partEnd > partStart && Bytes[partEnd - 1] == '\n')
                    --partEnd;
                if (partEnd > partStart && Bytes[partEnd - 1] == '\r')
                    --partEnd;
                if (partEnd < partStart)
                    partEnd = partStart;
                qsizetype at = partStart;
                const std::optional<Headers> h = readHeaders(Bytes, at, partEnd);
                if (!h)
                    return refuse("damaged part header");
                const QByteArray body = Bytes.mid(at, partEnd - at);
                const QByteArray cte = lower(h->value("content-transfer-encoding").trimmed());
                std::optional<QByteArray> decoded;
                if (cte == "base64") {
                    QByteArray compact;
                    compact.reserve(body.size());
                    for (char c : body) {
                        if (!isSpace(c))
                            compact += c;
                    }
                    auto result
                        = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
                    if (result)
                        decoded = *result;
                } else if (cte == "quoted-printable") {
                    decoded = decodeQuotedPrintable(body);
                } else if (cte.isEmpty() || cte == "7bit" || cte == "8bit" || cte == "binary") {
                    decoded = body;
                }
                if (!decoded)
                    return refuse("damaged part body");
                const QByteArray md5 = h->value("content-md5").trimmed();
                if (md5.isEmpty() || md5 != md5Text(*decoded))
                    return refuse("part checksum does not match");
                const QByteArray location = h->value("content-location").trimmed();
                const QUrl url = QUrl::fromEncoded(location, QUrl::StrictMode);
                if (location.size() > PageArchiveMaxUrlLength || !url.isValid() || !isWebScheme(url.scheme())
                    || url.host().isEmpty() || url.hasFragment())
                    return refuse("part without a valid address");
                const QString key = partKey(url);
                if (keys.contains(key))
                    return refuse("two parts with one address");
                keys.insert(key);
                if (archive.Parts.size() >= kMaxParts)
                    return refuse("too many parts");
                archive.Parts.append({url, h->value("content-type").trimmed(), *decoded});
            }
            if (isClosing) {
                closed = true;
                break;
            }
            partStart = l.next;
        }
        pos = l.next;
    }
    if (!closed)
        return refuse("archive is cut off");
    if (archive.Parts.isEmpty() || !archive.Parts.front().IsHtml())
        return refuse("no page in the archive");
    const QByteArray rootLocation = top->value("content-location").trimmed();
    if (!rootLocation.isEmpty()
        && partKey(QUrl::fromEncoded(rootLocation)) != partKey(archive.Parts.front().Location))
        return refuse("the page is not the first part");
    return archive;
}

std::optional<TPageArchive> ReadPageArchiveFile(const QString &FileName, QString *Error)
{
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (Error)
            *Error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > PageArchiveMaxFileBytes) {
        if (Error)
            *Error = QStringLiteral("file too large");
        return std::nullopt;
    }
    return ParsePageArchive(file.readAll(), Error);
}

// ---- References --------------------------------------------------------------------------

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
    bool haveBase = false;
    const QByteArray &h = Html;
    const qsizetype n = h.size();

    struct Attr
    {
        QByteArray name;
        qsizetype offset = 0;
        qsizetype length = 0;
        bool hasValue = false;
    };
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
            if (inAttribute)
                ref.Value = decodeEntities(ref.Value.toUtf8()).trimmed();
            refs << ref;
        }
    };
    // srcset: comma-separated candidates, each an address and descriptors.
    const auto addSrcset = [&](const Attr &a) {
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

    qsizetype i = 0;
    while (i < n) {
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
        qsizetype p = lt + 1;
        while (p < n && !isSpace(h[p]) && h[p] != '>' && h[p] != '/')
            ++p;
        const QByteArray tag = lower(h.mid(lt + 1, p - lt - 1));
        QList<Attr> attrs;
        while (p < n) {
            while (p < n && (isSpace(h[p]) || h[p] == '/'))
                ++p;
            if (p >= n || h[p] == '>')
                break;
            const qsizetype nameStart = p;
            ++p; // a name is at least one character, even '='
            while (p < n && !isSpace(h[p]) && h[p] != '>' && h[p] != '/' && h[p] != '=')
                ++p;
            Attr a;
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
            attrs << a;
        }
        const qsizetype tagEnd = p < n ? p + 1 : n;

        const auto value = [&attrs, &h](const char *name) -> const Attr * {
            for (const Attr &a : attrs) {
                if (a.hasValue && a.name == name)
                    return &a;
            }
            return nullptr;
        };
        const auto valueText = [&](const char *name) {
            const Attr *a = value(name);
            return a ? lower(decodeEntities(h.mid(a->offset, a->length)).toUtf8()) : QByteArray();
        };
        if (tag == "img") {
            if (const Attr *a = value("src"))
                add(TPageReference::Resource, a->offset, a->length);
            if (const Attr *a = value("srcset"))
                addSrcset(*a);
        } else if (tag == "source") {
            if (const Attr *a = value("srcset"))
                addSrcset(*a);
        } else if (tag == "script") {
            if (const Attr *a = value("src"))
                add(TPageReference::Resource, a->offset, a->length);
        } else if (tag == "link") {
            const QList<QByteArray> rel = valueText("rel").simplified().split(' ');
            const Attr *href = value("href");
            if (href && rel.contains("stylesheet"))
                add(TPageReference::StyleSheet, href->offset, href->length);
            else if (href && std::any_of(rel.begin(), rel.end(), [](const QByteArray &r) {
                         return r.endsWith("icon");
                     }))
                add(TPageReference::Resource, href->offset, href->length);
        } else if (tag == "input") {
            if (valueText("type").trimmed() == "image") {
                if (const Attr *a = value("src"))
                    add(TPageReference::Resource, a->offset, a->length);
            }
        } else if (tag == "video") {
            if (const Attr *a = value("poster"))
                add(TPageReference::Resource, a->offset, a->length);
        } else if (tag == "base") {
            if (const Attr *a = value("href"); a && !haveBase) {
                haveBase = true;
                add(TPageReference::Base, a->offset, a->length);
            }
        }
        if (tag == "body" || tag == "table" || tag == "td" || tag == "th" || tag == "tr") {
            if (const Attr *a = value("background"))
                add(TPageReference::Resource, a->offset, a->length);
        }
        if (const Attr *a = value("style"))
            addCss(h.mid(a->offset, a->length), a->offset, true);

        // Elements whose content is text, not markup.
        static const char *const rawText[]
            = {"script", "style", "textarea", "title", "xmp", "noscript", "iframe", "noembed", "noframes"};
        if (std::any_of(std::begin(rawText), std::end(rawText), [&tag](const char *t) { return tag == t; })) {
            const QByteArray closeTag = "</" + tag;
            qsizetype close = tagEnd;
            while (true) {
                close = h.indexOf("</", close);
                if (close < 0 || startsWithNoCase(h, close, closeTag.constData()))
                    break;
                close += 2;
            }
            if (close < 0)
                close = n;
            if (tag == "style")
                addCss(h.mid(tagEnd, close - tagEnd), tagEnd, false);
            i = close;
        } else if (tag == "plaintext") {
            break;
        } else {
            i = tagEnd;
        }
    }
    return refs;
}

// ---- Mirror addresses ------------------------------------------------------------------

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

// ---- Fetching and saving ---------------------------------------------------------------

TArchiveFetchResult FetchForArchive(const QUrl &Url, qint64 MaxBytes, const std::atomic<bool> *Cancel)
{
    online::HttpOptions options;
    options.agent = "Mozilla/5.0 (compatible; Orvane)";
    options.connectTimeoutMs = 10000;
    options.stallTimeoutMs = 15000;
    options.totalTimeoutMs = 30000;
    options.maxBytes = MaxBytes;
    options.redirects = online::Redirects::Follow;
    options.maxRedirects = 5;
    options.cancel = Cancel;
    online::HttpResponse response = online::HttpGet(QString::fromLatin1(Url.toEncoded()), options);
    TArchiveFetchResult result;
    result.Status = response.status;
    result.ContentType = response.contentType;
    result.FinalUrl = response.effectiveUrl.isEmpty() ? Url : QUrl::fromEncoded(response.effectiveUrl);
    result.TooLarge = response.tooLarge;
    if (!response.ok) {
        result.Error = response.error;
        return result;
    }
    result.Body = std::move(response.body);
    result.Ok = result.Status >= 200 && result.Status < 300;
    if (!result.Ok)
        result.Error = QStringLiteral("HTTP status %1").arg(result.Status);
    return result;
}

TArchiveSaveResult CollectPageArchive(const QUrl &Url, TPageArchive &Archive, const TArchiveLimits &Limits,
                                      const TArchiveFetchFunc &Fetch, const std::atomic<bool> *Cancel)
{
    TArchiveSaveResult result;
    Archive.Parts.clear();
    const auto cancelled = [Cancel] { return Cancel && Cancel->load(); };
    if (!Url.isValid() || !isWebScheme(Url.scheme()) || Url.host().isEmpty()) {
        result.Error = QStringLiteral("not an http or https address");
        return result;
    }
    QElapsedTimer clock;
    clock.start();

    TArchiveFetchResult page = Fetch(withoutFragment(Url), Limits.PageBytes, Cancel);
    if (!page.Ok) {
        result.Error = page.Error.isEmpty() ? QStringLiteral("page not fetched") : page.Error;
        return result;
    }
    const QUrl pageUrl = withoutFragment(page.FinalUrl.isValid() ? page.FinalUrl : Url);
    if (UrlOriginText(pageUrl) != UrlOriginText(Url)) {
        result.Error = QStringLiteral("the page was redirected to another site");
        return result;
    }
    TArchivePart root {pageUrl, headerSafe(page.ContentType), page.Body};
    if (root.ContentType.isEmpty())
        root.ContentType = "text/html";
    if (!root.IsHtml()) {
        result.Error = QStringLiteral("the page is not HTML");
        return result;
    }
    Archive.Parts.append(root);
    qint64 total = root.Body.size();

    struct Pending
    {
        QUrl url;
        bool styleSheet;
        int depth;
    };
    QList<Pending> queue;
    QSet<QString> seen {partKey(pageUrl)};
    const auto enqueue = [&](const QUrl &base, const QList<TPageReference> &refs, int depth) {
        QUrl resolveBase = base;
        for (const TPageReference &ref : refs) {
            if (ref.RefKind == TPageReference::Base) {
                const QUrl b = resolveWebUrl(base, ref.Value);
                if (b.isValid())
                    resolveBase = b;
                break;
            }
        }
        for (const TPageReference &ref : refs) {
            if (ref.RefKind == TPageReference::Base)
                continue;
            const QUrl target = withoutFragment(resolveWebUrl(resolveBase, ref.Value));
            if (!target.isValid())
                continue;
            const QString key = partKey(target);
            if (seen.contains(key))
                continue;
            seen.insert(key);
            queue.append({target, ref.RefKind == TPageReference::StyleSheet, depth});
        }
    };
    enqueue(pageUrl, FindHtmlReferences(root.Body), 0);

    for (qsizetype q = 0; q < queue.size(); ++q) {
        const Pending item = queue[q];
        const qint64 room = std::min(Limits.ResourceBytes, Limits.TotalBytes - total);
        if (cancelled() || Archive.Parts.size() > Limits.MaxResources || room <= 0
            || clock.elapsed() > Limits.TotalTimeMs) {
            ++result.Skipped;
            continue;
        }
        TArchiveFetchResult got = Fetch(item.url, room, Cancel);
        if (!got.Ok) {
            ++result.Skipped;
            continue;
        }
        TArchivePart part {item.url, headerSafe(got.ContentType), got.Body};
        if (part.ContentType.isEmpty())
            part.ContentType = item.styleSheet ? "text/css" : "application/octet-stream";
        total += part.Body.size();
        if (item.styleSheet && item.depth < Limits.MaxStyleSheetDepth)
            enqueue(item.url, FindCssReferences(part.Body), item.depth + 1);
        Archive.Parts.append(std::move(part));
    }
    if (cancelled()) {
        result.Error = QStringLiteral("cancelled");
        Archive.Parts.clear();
        return result;
    }
    result.Ok = true;
    result.Parts = int(Archive.Parts.size());
    result.Bytes = total;
    return result;
}

TArchiveSaveResult SavePageArchive(const QString &Url, const QString &FileName, const TArchiveLimits &Limits,
                                   const TArchiveFetchFunc &Fetch, const std::atomic<bool> *Cancel)
{
    TArchiveSaveResult result;
    if (Url.size() > PageArchiveMaxUrlLength || FileName.size() > PageArchiveMaxUrlLength) {
        result.Error = QStringLiteral("address or file name too long");
        return result;
    }
    if (FileName.isEmpty()) {
        result.Error = QStringLiteral("no file name");
        return result;
    }
    TPageArchive archive;
    result = CollectPageArchive(QUrl(Url), archive, Limits, Fetch, Cancel);
    if (!result.Ok)
        return result;
    QString error;
    if (!WritePageArchiveFile(archive, FileName, &error)) {
        result.Ok = false;
        result.Error = error;
    }
    return result;
}
