#pragma once

#include "platform/DpkgStatus.h"

#include <QString>
#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {

// Which installed package owns a file, from the package database: the status
// file (read by parseDpkgStatus) and the file lists of the info folder
// (<package>[:<arch>].list, one path a line). Building the path index reads
// every list, so it is built once in the background and kept; it is built
// again when the status file changes (a package was installed or removed).
// One thread uses an index at a time.
class DpkgPackageIndex
{
public:
    explicit DpkgPackageIndex(QString infoDir = QStringLiteral("/var/lib/dpkg/info"),
                              QString statusFile = QStringLiteral("/var/lib/dpkg/status"));
    ~DpkgPackageIndex();
    DpkgPackageIndex(const DpkgPackageIndex &) = delete;
    DpkgPackageIndex &operator=(const DpkgPackageIndex &) = delete;

    // The index the program shares (the system's package database).
    static DpkgPackageIndex &shared();

    // Starts building in the background unless it is built or being built.
    void startBuild();
    // Blocks until the first build has finished; true when an index is there.
    bool waitUntilBuilt();

    // The installed package that lists the file: the path as given, its other
    // spelling where /bin, /sbin or /lib are links into /usr, and the path
    // with its links resolved. Waits for the first build.
    std::optional<DpkgPackage> packageOfFile(const QString &path);
    std::optional<DpkgPackage> package(const QString &name);

    // 64-bit hash of a path's bytes, as the index keys its paths.
    static quint64 pathHash(std::string_view path);

private:
    struct Data;
    static std::shared_ptr<const Data> build(const QString &infoDir, const QString &statusFile,
                                             const std::atomic<bool> *cancel);
    std::shared_ptr<const Data> current();
    std::optional<DpkgPackage> lookup(const Data &data, std::string_view path) const;

    QString m_infoDir;
    QString m_statusFile;
    std::atomic<bool> m_cancel {false};
    std::future<std::shared_ptr<const Data>> m_pending;
    std::shared_ptr<const Data> m_data;
    qint64 m_builtFromStamp = -1; // modification time of the status file the index was built from
    qint64 m_lastCheckMs = 0;
};

} // namespace platform
