#pragma once

// The demonstration installers served under /files/: one POSIX shell script
// per program that installs a small runnable program for the current user
// (program, icon, uninstaller, menu entry) and registers its uninstall entry
// through orvane-reg. The script ends with "exit" and is padded after it, so
// that a download takes long enough to be watched.

#include "Catalogue.h"

#include <QByteArray>
#include <QString>

namespace orvane::site {

// The padded size of the installer of the Index-th program in rank order.
qint64 InstallerSizeFor(int Index);

// The installer of P as served to a client that reached the site at Base
// ("http://host:port"): exactly P.InstallerSize bytes unless the script
// itself is longer.
QByteArray MakeInstaller(const Program &P, const QString &Base);

// The registry key of P's uninstall entry.
QString UninstallKey(const Program &P);

} // namespace orvane::site
