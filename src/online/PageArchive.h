#pragma once

// A web page with everything it refers to, kept in one MIME HTML file
// (multipart/related): the page itself first, then its pictures, style sheets,
// scripts and icons, each part carrying the absolute address it was fetched
// from. The reader checks every part, so a damaged, truncated or foreign file
// is refused as a whole rather than shown half.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// The URL scheme under which a browser is shown an archive: the address
// http://host:port/path?query of a part is served as
// orvane-mht://host:port/path?query, so the page's relative links, pictures and
// scripts stay within the copy.
inline constexpr const char *PageArchiveScheme = "orvane-mht";

// Longest address or file name the archive code accepts.
inline constexpr qsizetype PageArchiveMaxUrlLength = 1024;

struct TArchivePart
{
    QUrl Location; // absolute http or https address, no fragment
    QByteArray ContentType; // as the server named it, e.g. "text/html; charset=UTF-8"
    QByteArray Body; // decoded bytes

    // The media type alone, lower case ("text/html").
    QByteArray MimeType() const;
    bool IsHtml() const;
    bool IsCss() const;
};

struct TPageArchive
{
    // Parts[0] is the page; the rest are its resources, each address once.
    QList<TArchivePart> Parts;

    bool IsEmpty() const { return Parts.isEmpty(); }
    const TArchivePart *Root() const { return Parts.isEmpty() ? nullptr : &Parts.front(); }
    // The part fetched from Url (fragment ignored; default ports equal explicit ones).
    const TArchivePart *Find(const QUrl &Url) const;
    // The part a mirror address (PageArchiveScheme) stands for.
    const TArchivePart *FindMirrored(const QUrl &MirrorUrl) const;
};

// ---- The file format -------------------------------------------------------

// The whole file: header, one part per resource, closing delimiter.
QByteArray SerializePageArchive(const TPageArchive &Archive);
// Writes the file atomically (a temporary file renamed over the old one).
bool WritePageArchiveFile(const TPageArchive &Archive, const QString &FileName, QString *Error = nullptr);

// Reads a file written by SerializePageArchive. Refuses (nullopt, Error set)
// anything it cannot vouch for: no closing delimiter, a part whose checksum,
// encoding or address is wrong, another format version, no HTML page.
std::optional<TPageArchive> ParsePageArchive(const QByteArray &Bytes, QString *Error = nullptr);
std::optional<TPageArchive> ReadPageArchiveFile(const QString &FileName, QString *Error = nullptr);

// Largest archive file read or written.
inline constexpr qsizetype PageArchiveMaxFileBytes = 64 * 1024 * 1024;
