#include "tasks/DownloadParsing.h"

#include <QList>
#include <atomic>
#include <limits>

namespace tasks {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

bool startsWithCaseless(QByteArrayView v, QByteArrayView prefix)
{
    if (v.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        const char a = v[i] >= 'A' && v[i] <= 'Z' ? char(v[i] - 'A' + 'a') : v[i];
        if (a != prefix[i])
            return false;
    }
    return true;
}

// Leading decimal digits as a number; -1 when there are none or they do not
// fit a file offset. *end gets the position after the digits.
qint64 leadingNumber(QByteArrayView v, qsizetype *end)
{
    qint64 n = 0;
    qsizetype i = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        if (n > (std::numeric_limits<qint64>::max() - 9) / 10) {
            *end = i;
            return -1;
        }
        n = n * 10 + (v[i] - '0');
    }
    *end = i;
    return i == 0 ? -1 : n;
}

} // namespace

std::optional<ContentRange> ParseContentRangeLine(QByteArrayView line)
{
    line = trimmed(line);
    constexpr QByteArrayView name("content-range:");
    if (!startsWithCaseless(line, name))
        return std::nullopt;
    QByteArrayView v = trimmed(line.sliced(name.size()));
    if (!startsWithCaseless(v, "bytes") || (v.size() > 5 && !isBlank(v[5])))
        return std::nullopt;
    v = trimmed(v.sliced(5));

    ContentRange r;
    qsizetype end = 0;
    r.First = leadingNumber(v, &end);
    if (r.First < 0)
        return r;
    v = v.sliced(end);
    if (!v.startsWith('-'))
        return r;
    v = v.sliced(1);
    const qint64 last = leadingNumber(v, &end);
    if (last < 0)
        return r;
    r.Last = last;
    v = v.sliced(end);
    if (!v.startsWith('/'))
        return r;
    v = v.sliced(1);
    if (v == "*") {
        r.Valid = r.First <= r.Last;
        return r;
    }
    const qint64 complete = leadingNumber(v, &end);
    if (complete < 0 || end != v.size())
        return r;
    r.Complete = complete;
    r.Valid = r.First <= r.Last && r.Last < r.Complete;
    return r;
}

std::optional<PartialState> ParsePartialState(QByteArrayView bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    auto le32 = [&bytes](qsizetype at) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data()) + at;
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    };
    PartialState s;
    s.Written = le32(0);
    if (bytes.size() >= 8)
        s.Total = le32(4);
    return s;
}

quint32 ResumeOffset(quint32 Written, qint64 TargetSize)
{
    // Bytes the target no longer holds cannot be resumed into it.
    if (Written > 0 && TargetSize < qint64(Written))
        return 0;
    return Written;
}

namespace {

std::atomic<bool> loopbackIsRemote {false};

bool isLoopbackIpv4(QStringView text)
{
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (QStringView p : parts) {
        bool ok = false;
        if (p.isEmpty() || p.size() > 3 || p.toUInt(&ok) > 255 || !ok)
            return false;
        for (QChar c : p)
            if (c < u'0' || c > u'9')
                return false;
    }
    return parts.first() == u"127";
}

bool isLoopbackAddress(QString text)
{
    text = text.trimmed().toLower();
    if (text.startsWith(u'[') && text.endsWith(u']'))
        text = text.mid(1, text.size() - 2);
    if (text == u"::1" || text == u"0:0:0:0:0:0:0:1")
        return true;
    if (text.startsWith(QLatin1String("::ffff:")))
        text = text.mid(7);
    return isLoopbackIpv4(text);
}

} // namespace

bool FromThisMachine(const QString &Host, const QString &PeerAddress)
{
    if (loopbackIsRemote.load())
        return false;
    const QString host = Host.trimmed().toLower();
    const bool named = host == u"localhost" || host == u"localhost." || isLoopbackAddress(host);
    return named && isLoopbackAddress(PeerAddress);
}

void SetLoopbackCountsAsRemote(bool On)
{
    loopbackIsRemote = On;
}

} // namespace tasks
