#include "online/MimeCodecs.h"

#include "online/PageArchiveDetail.h"
#include "platform/TextHelpers.h"

#include <QCryptographicHash>
#include <QList>
#include <algorithm>

namespace mime {

namespace {

constexpr int kMaxHeaderLines = 64;
constexpr qsizetype kMaxHeaderLineBytes = 8192;

} // namespace

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
            const int hi = textutil::hexDigit(text[i + 1]);
            const int lo = textutil::hexDigit(text[i + 2]);
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

QByteArray headerSafe(const QByteArray &value, qsizetype max)
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
        lastName = pagearchive::lower(line.left(colon).trimmed());
        headers[lastName] = line.mid(colon + 1).trimmed();
    }
    return std::nullopt; // no blank line: the block is cut off
}

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
    ct.mime = pagearchive::lower(pieces.front().trimmed());
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const qsizetype eq = pieces[i].indexOf('=');
        if (eq <= 0)
            continue;
        QByteArray v = pieces[i].mid(eq + 1).trimmed();
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.mid(1, v.size() - 2);
        ct.params[pagearchive::lower(pieces[i].left(eq).trimmed())] = v;
    }
    return ct;
}

QByteArray rtrimBlanks(QByteArray s)
{
    while (!s.isEmpty() && (s.back() == ' ' || s.back() == '\t'))
        s.chop(1);
    return s;
}

} // namespace mime
