#pragma once

// Installation of a downloaded package file through the package manager, so
// that the packages it depends on come along. In two steps: the command is
// worked out first (it is what the journal records before anything runs),
// then it is run on a worker, waiting for every process it starts.

#include "platform/AptCommand.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

namespace platform {

struct PackageInstallCommand
{
    QStringList argv; // what runs: apt-get install -y <file>, through pkexec when needed
    AptElevation elevation;
    QString file; // the package file as given (absolute)
    // The name apt is handed when the file's own does not end in ".deb"
    // (apt takes a local file only by that ending): a link made for the run.
    QString link;
    bool ok() const { return !argv.isEmpty() && !elevation.missing(); }
};

struct PackageInstallResult
{
    PackageOutcome Outcome = PackageOutcome::Failed;
    QString Reason; // the package manager's (or pkexec's) own words
    quint32 JobResult = 0; // runJobAndWait's result; 0 once everything it started has ended
    std::optional<int> ExitStatus; // of the started program, when it ran and ended
    bool ok() const { return Outcome == PackageOutcome::Done; }
};

class IPackageInstall
{
public:
    virtual ~IPackageInstall() = default;
    // The command that installs the package file; not ok() when administrator
    // rights are needed and pkexec is not installed.
    virtual PackageInstallCommand command(const QString &packageFile) const = 0;
    // Runs it and waits for every process it starts; a locked package database
    // is reported without asking for a password. Blocks: for a worker. A
    // cancel stops the waiting, never the package manager.
    virtual PackageInstallResult install(const PackageInstallCommand &command,
                                         const std::atomic<bool> *cancel) const = 0;
};

std::unique_ptr<IPackageInstall> makeAptPackageInstall(AptOptions options = {});

} // namespace platform
