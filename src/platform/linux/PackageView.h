#pragma once

// The read-only view of installed packages under the uninstall key: one key
// per installed package of the package manager's status file, its values
// (name, publisher, version, size, date, removal command, icon) made from the
// package's fields, its file list and the desktop entries it installs.

#include "platform/Registry.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace platform {

// One uninstall entry of the package view.
struct PackageViewEntry
{
    QString keyName;
    QList<RegValue> values;
};

struct PackageView
{
    QHash<QString, PackageViewEntry> byName; // lower-cased key name
    QStringList names; // in status-file order
};

// The uninstall key's path in lower case.
QString uninstallPrefixLower();
// The folder that holds the status file is the package manager's
// administrative folder; per-package file lists lie in its "info" folder.
QString packageAdminDir(const QString &statusFile);
// Reads the status file afresh. The packages' icons come from their file lists
// and desktop entries (in appsDir), read again only when listsChanged or there
// is no previous view; otherwise the icons found last time are kept.
std::shared_ptr<const PackageView> buildPackageView(const QString &statusFile, const QString &appsDir,
                                                    const std::shared_ptr<const PackageView> &previous,
                                                    bool listsChanged);

} // namespace platform
