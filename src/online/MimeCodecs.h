#pragma once

// The MIME pieces a page archive is made of: the transfer encodings of part
// bodies, header blocks and Content-Type values. Internal to the archive code.

#include <QByteArray>
#include <QHash>
#include <optional>

namespace mime {

// Base64 in lines of 76 characters joined by CRLF.
QByteArray base64Lines(const QByteArray &bytes);
// Quoted-printable that keeps the bytes exactly: a line feed is a hard line
// break, every other control byte (carriage returns included), '=' and
// non-ASCII bytes are escaped, and so is white space before a break.
QByteArray quotedPrintable(const QByteArray &bytes);
// nullopt for a malformed escape.
std::optional<QByteArray> decodeQuotedPrintable(const QByteArray &text);
// The Content-MD5 value of bytes.
QByteArray md5Text(const QByteArray &bytes);
// Header values come from servers: printable ASCII only, bounded.
QByteArray headerSafe(const QByteArray &value, qsizetype max = 256);

struct Line
{
    qsizetype start = 0; // first byte
    qsizetype end = 0; // past the last byte, line break excluded
    qsizetype next = 0; // start of the following line
};

// The line starting at pos (its break may be CRLF or LF).
Line lineAt(const QByteArray &bytes, qsizetype pos);

// Header names in lower case.
using Headers = QHash<QByteArray, QByteArray>;

// Reads a header block from pos up to its blank line; pos is left after it.
// nullopt when the block is cut off, too long or malformed.
std::optional<Headers> readHeaders(const QByteArray &bytes, qsizetype &pos, qsizetype limit);

struct ContentType
{
    QByteArray mime; // lower case
    QHash<QByteArray, QByteArray> params; // names in lower case, values unquoted
};

ContentType parseContentType(const QByteArray &value);

QByteArray rtrimBlanks(QByteArray s);

} // namespace mime
