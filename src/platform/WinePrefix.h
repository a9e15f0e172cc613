#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// A Wine prefix: the folder holding a Windows installation's registry
// (system.reg for the machine root, user.reg for the user's root), its
// drive_c and the dosdevices links naming its drives. Wine's own server owns
// the hive files while it runs: they are only read here, and changed only
// through Wine's own tools run in the prefix.

// WINEPREFIX when set and not empty, else ~/.wine (no trailing slash).
QString defaultWinePrefix();
// The wine program (ORVANE_WINE when set, else wine in PATH); empty when
// Wine is not installed.
QString wineProgram();
// The Debian package that provides it, for messages.
inline constexpr char kWinePackage[] = "wine";

// The Linux path of a Windows path of the prefix ("C:\Program Files\x"
// through dosdevices/c:). A component that does not exist as written is
// matched ignoring case, as Windows does. Empty for a path without a drive
// letter or a drive the prefix does not have.
QString wineLinuxPath(const QString &prefix, const QString &windowsPath);

// A command line split as Windows programs split theirs: the program name
// up to the closing quote (no escapes), then arguments where 2n backslashes
// before a quote give n and open or close quoting, 2n+1 give n and a quote.
QStringList splitWindowsCommandLine(const QString &commandLine);

// argv that runs a Windows program in the prefix: env WINEPREFIX=<prefix>
// WINEDEBUG=-all <wine> args... (no shell).
QStringList wineArgv(const QString &prefix, const QStringList &windowsArgs);

// Waits up to timeoutMs for the prefix's wineserver to end (it saves the
// registry files as it goes). True when no server runs any more.
bool waitForWineServer(const QString &prefix, int timeoutMs);

} // namespace platform
