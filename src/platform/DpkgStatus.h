#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace platform {

// One package paragraph of the package manager's status file, with the
// fields the installed-software list shows.
struct DpkgPackage
{
    QString name;
    QString architecture;
    QString version;
    QString maintainer;
    QString summary; // first line of Description
    QString homepage; // Homepage field
    QString status; // third word of Status ("installed", "config-files" ...)
    QString want; // first word of Status, the selection ("install", "hold", "deinstall", "purge")
    QString priority; // Priority field ("required", "important", "optional" ...)
    bool essential = false; // Essential: yes
    bool protectedPackage = false; // Protected: yes
    qint64 installedSizeKiB = -1; // -1 when not given or not a number
    bool multiArchSame = false;

    // "name" or, for packages installable for several architectures at once, "name:arch":
    // the name the package manager's per-package files and commands use.
    QString qualifiedName() const;
    // True when the package's files are on disk (not just its configuration).
    bool isInstalled() const;
};

// Reads the status file's paragraphs. Malformed lines are skipped; a
// paragraph without a valid package name is left out. Never fails.
QList<DpkgPackage> parseDpkgStatus(const QByteArray &data);

// Package names as the package manager allows them: lower-case letters,
// digits, '+', '-' and '.', at least two characters, starting with a letter or digit.
bool isValidPackageName(const QString &name);

} // namespace platform
