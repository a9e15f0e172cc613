#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The code page legacy byte strings use: GBK for Chinese locales, Windows-1252
// otherwise. Tests may force one ("GBK", "WINDOWS-1252"); empty restores the locale's.
QByteArray ansiCodePageName();
void setAnsiCodePageOverride(const QByteArray &name);

// True when the code page has double-byte characters (GBK).
bool ansiCodePageIsDoubleByte();
// True when b starts a double-byte character in the code page.
bool isAnsiLeadByte(uchar b);
// text in the code page; characters it lacks become '?'.
QByteArray toAnsiCodePage(const QString &text);
// Bytes in the code page as text; bytes it cannot decode become '?'.
QString fromAnsiCodePage(const char *data, qsizetype size);
inline QString fromAnsiCodePage(const QByteArray &bytes)
{
    return fromAnsiCodePage(bytes.constData(), bytes.size());
}

} // namespace platform
