#include "online/PageArchive.h"

#include "online/MimeCodecs.h"
#include "online/PageArchiveDetail.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>

using namespace pagearchive;

namespace {

// The format this program writes; files of another version are not read.
constexpr const char *kFormatHeader = "X-Orvane-Archive";
constexpr const char *kFormatVersion = "1";
constexpr int kMaxParts = 2000;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

// ---- Addresses -----------------------------------------------------------------------

namespace pagearchive {

bool isWebScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

int defaultPort(const QString &scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

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

} // namespace pagearchive

// ---- Parts and lookups ------------------------------------------------------------

QByteArray TArchivePart::MimeType() const
{
    return mime::parseContentType(ContentType).mime;
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
        QByteArray type = mime::headerSafe(p.ContentType);
        if (type.isEmpty())
            type = "application/octet-stream";
        out += "\r\n--" + boundary + "\r\n";
        out += "Content-Type: " + type + "\r\n";
        out += QByteArray("Content-Transfer-Encoding: ") + (text ? "quoted-printable" : "base64") + "\r\n";
        out += "Content-Location: " + p.Location.toEncoded() + "\r\n";
        out += "Content-MD5: " + mime::md5Text(p.Body) + "\r\n";
        out += "\r\n";
        out += text ? mime::quotedPrintable(p.Body) : mime::base64Lines(p.Body);
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
    const std::optional<mime::Headers> top = mime::readHeaders(Bytes, pos, Bytes.size());
    if (!top)
        return refuse("no message header");
    if (top->value(lower(kFormatHeader)).trimmed() != kFormatVersion)
        return refuse("not an archive of this format version");
    const mime::ContentType type = mime::parseContentType(top->value("content-type"));
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
        const mime::Line l = mime::lineAt(Bytes, pos);
        const qsizetype lineLength = l.end - l.start;
        const bool candidate
            = (lineLength >= delimiter.size() && Bytes[l.start] == '-' && Bytes.at(l.start + 1) == '-');
        QByteArray line;
        if (candidate)
            line = mime::rtrimBlanks(Bytes.mid(l.start, lineLength));
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
                const std::optional<mime::Headers> h = mime::readHeaders(Bytes, at, partEnd);
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
                    decoded = mime::decodeQuotedPrintable(body);
                } else if (cte.isEmpty() || cte == "7bit" || cte == "8bit" || cte == "binary") {
                    decoded = body;
                }
                if (!decoded)
                    return refuse("damaged part body");
                const QByteArray md5 = h->value("content-md5").trimmed();
                if (md5.isEmpty() || md5 != mime::md5Text(*decoded))
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
