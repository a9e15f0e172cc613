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
#include <atomic>
#include <functional>
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

// ---- References in pages and style sheets ------------------------------------

struct TPageReference
{
    enum Kind {
        Resource, // picture, script, icon, font: fetched as it is
        StyleSheet, // fetched and searched for references in turn
        Base, // <base href>: the address relative references resolve against
    };
    enum Syntax {
        HtmlValue, // an attribute value
        CssString, // a quoted string in CSS
        CssBare, // an unquoted url(...) in CSS
    };
    Kind RefKind = Resource;
    Syntax RefSyntax = HtmlValue;
    bool InAttribute = false; // CSS inside a style attribute
    qsizetype Offset = 0; // raw bytes of the address in the source
    qsizetype Length = 0;
    QString Value; // the address, character references decoded, trimmed
};

// The resources an HTML page loads by itself: img src and srcset, script src,
// link stylesheet and icons, input type=image, background and poster
// attributes, style attributes and <style> elements, and <base href>.
QList<TPageReference> FindHtmlReferences(const QByteArray &Html);
// url(...) and @import in a style sheet (or a style attribute's value).
QList<TPageReference> FindCssReferences(const QByteArray &Css);

// ---- Showing an archive --------------------------------------------------------

// http(s)://host:port/p?q -> orvane-mht://host:port/p?q (port 80 left out);
// an invalid URL for anything else.
QUrl PageArchiveMirrorUrl(const QUrl &Original);
// The origin text a browser reports for Url ("scheme://host[:port]").
QString UrlOriginText(const QUrl &Url);
// The part's bytes as the mirror serves them: in the page and in style sheets
// every reference to another part of the archive points to that part's mirror
// address (and <base href> to the mirror of its target), so nothing the copy
// holds is fetched from the network.
QByteArray MirroredPartBody(const TPageArchive &Archive, const TArchivePart &Part);

// ---- Saving a live page ----------------------------------------------------------

struct TArchiveFetchResult
{
    bool Ok = false; // transfer complete with a 2xx status
    bool TooLarge = false; // the body went past the limit
    long Status = 0;
    QByteArray Body;
    QByteArray ContentType;
    QUrl FinalUrl; // after redirects
    QString Error;
};

// Fetches Url (GET, redirects followed within http and https), at most
// MaxBytes of body. Cancel, when set, aborts the transfer.
using TArchiveFetchFunc
    = std::function<TArchiveFetchResult(const QUrl &Url, qint64 MaxBytes, const std::atomic<bool> *Cancel)>;
// The fetch used by default: the program's HTTP set-up with connect, stall
// and whole-transfer time-outs.
TArchiveFetchResult FetchForArchive(const QUrl &Url, qint64 MaxBytes, const std::atomic<bool> *Cancel);

struct TArchiveLimits
{
    qint64 PageBytes = 4 * 1024 * 1024; // the page itself; larger pages are not saved
    qint64 ResourceBytes = 4 * 1024 * 1024; // one resource; larger ones are left out
    qint64 TotalBytes = 24 * 1024 * 1024; // all parts; resources past it are left out
    int MaxResources = 300;
    int MaxStyleSheetDepth = 3; // @import chains
    qint64 TotalTimeMs = 90000; // resources not fetched by then are left out
};

struct TArchiveSaveResult
{
    bool Ok = false;
    QString Error;
    int Parts = 0; // including the page
    int Skipped = 0; // resources that failed or went past a limit
    qint64 Bytes = 0; // decoded bytes of all parts
};

// Fetches the page at Url and every resource it refers to. The page must come
// from Url's origin (a redirect elsewhere is refused) and be HTML with a 2xx
// status; a resource that fails or is too large is left out (the copy then
// refers to its live address).
TArchiveSaveResult CollectPageArchive(const QUrl &Url, TPageArchive &Archive,
                                      const TArchiveLimits &Limits = {},
                                      const TArchiveFetchFunc &Fetch = FetchForArchive,
                                      const std::atomic<bool> *Cancel = nullptr);
// CollectPageArchive, then WritePageArchiveFile. The old file is replaced only
// after a complete new one was written. Url and FileName above
// PageArchiveMaxUrlLength characters are refused.
TArchiveSaveResult SavePageArchive(const QString &Url, const QString &FileName,
                                   const TArchiveLimits &Limits = {},
                                   const TArchiveFetchFunc &Fetch = FetchForArchive,
                                   const std::atomic<bool> *Cancel = nullptr);
