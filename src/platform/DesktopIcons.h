#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace platform {

// Theme name of the icon shown for executables without an icon of their own.
inline constexpr char kGenericExecutableIcon[] = "application-x-executable";

// The icon the desktop gives a program: the Icon value (a theme icon name or
// an absolute file path) of the desktop entry whose Exec starts that
// executable, matched by the resolved path, else by the file name. Empty text
// when no entry names it. The entries are read once, on first use.
QString desktopIconFor(const QString &executablePath);

// The desktop entry file that starts that executable, matched as for the
// icon; and the entry of an application id (a Flatpak's, "<id>.desktop").
// Empty when there is none.
QString desktopEntryFileFor(const QString &executablePath);
QString desktopEntryFileOfId(const QString &applicationId);

// The keys of a desktop entry's main group ("[Desktop Entry]"); none for a
// file that cannot be read or is larger than 1 MiB.
QHash<QString, QString> readDesktopEntry(const QString &file);

// The program an Exec value starts (its first word; "env A=b prog" names
// prog), and that program resolved to a file through PATH; empty when none.
QString desktopExecProgram(const QString &exec);
QString resolveDesktopProgram(const QString &program);

// The folders holding *.desktop files: the user's and the system's
// "applications" folders by the XDG base directory rules.
QStringList desktopEntryFolders();
// Replaces the folders (tests); the entries are read again on the next look-up.
void setDesktopEntryFolders(const QStringList &folders);

} // namespace platform
