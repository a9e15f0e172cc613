#pragma once

// The installed packages with the applications they bring: the package
// manager's status file, each package's install date (its file list's
// time), the AppStream desktop applications of the metainfo folders and the
// menu-shown desktop entries of the applications folders, each tied to the
// package that owns its file. What is read is kept and read again only when
// the status file, the info folder or one of the metainfo, applications and
// icon folders changes.

#include "platform/AppMetadata.h"
#include "platform/DpkgStatus.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <future>
#include <memory>

namespace platform {

struct PackageRecord
{
    DpkgPackage package;
    qint64 installTime = 0; // seconds since 1970 of the file list; 0 when unknown
    QString location; // <system data folder>/<package> or /usr/lib/<package> when there; else empty
};

struct PackageAppRecord
{
    QString file; // the metainfo file, or the desktop entry when there is none
    QString owner; // qualified name of the package owning the file
    QHash<QString, QString> names; // by locale, "C" untranslated
    QHash<QString, QString> summaries;
    QString developer;
    QString iconFile; // a picture file; empty when none was found
    QString homepage;
    QString help;
    QString location; // see PackageAppsReader
};

struct PackageAppsSnapshot
{
    QList<PackageRecord> packages; // installed ones, in status-file order
    QHash<QString, int> byName; // qualified name -> index in packages
    QList<PackageAppRecord> apps; // owned by an installed package, by file name
};

class PackageAppsReader
{
public:
    // dataFolders: the XDG data folders (metainfo/, applications/, icons/,
    // pixmaps/ below each); empty for the user's and the system's. The
    // packages' file lists in infoDir tell which package owns a file.
    PackageAppsReader(QString statusFile, QString infoDir, QStringList dataFolders);
    ~PackageAppsReader();
    PackageAppsReader(const PackageAppsReader &) = delete;
    PackageAppsReader &operator=(const PackageAppsReader &) = delete;

    // Starts reading the files in the background, so that the first read()
    // finds them parsed.
    void prefetch();
    // The current state; only what changed on disk since the last call is read again.
    std::shared_ptr<const PackageAppsSnapshot> read();

    struct Parsed;

private:
    QString m_statusFile;
    QString m_infoDir;
    QStringList m_dataFolders;
    std::future<std::shared_ptr<Parsed>> m_pending;
    std::shared_ptr<Parsed> m_parsed;
    std::shared_ptr<const PackageAppsSnapshot> m_snapshot;
};

} // namespace platform
