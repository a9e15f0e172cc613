#pragma once

// Removal of installed packages through the package manager, in two steps:
// first work out exactly what would go (the packages that depend on the ones
// asked for, and the automatically installed dependencies nothing else needs
// any more), then, once the user has seen that list, remove exactly that set.
// Nothing here removes a package by itself or asks the user anything; both
// steps block and belong on a worker thread.

#include "platform/AptCommand.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

namespace platform {

// What a removal of some packages takes with it, in the package manager's order.
struct PackageRemovalPlan
{
    QStringList requested; // the packages asked for
    QStringList dependents; // installed packages that depend on them
    QStringList unneeded; // automatically installed dependencies left without a user
    // Packages of the set the system must keep (essential, required or
    // protected): a plan with any of them is never carried out.
    QStringList blocked;
    // The whole set as the package manager named it: what a removal removes.
    QStringList everything;
    // Their configuration files go too: for packages removed earlier whose
    // configuration stayed behind (dpkg's state "config-files").
    bool purge = false;
};

// The plan that purges the configuration of packages already removed: the
// set is the packages themselves, and the removal checks it with apt again.
PackageRemovalPlan configurationPurgePlan(const QStringList &packages);

using RemovalOutcome = PackageOutcome;

struct PackageRemovalResult
{
    RemovalOutcome Outcome = RemovalOutcome::Failed;
    QString Reason; // the package manager's own message, when it gave one
    // After a failure: the selections of packages still installed that had
    // changed were put back (true), or could not be (false, SelectionsReason says why).
    bool SelectionsRestored = true;
    QString SelectionsReason;
    bool ok() const { return Outcome == RemovalOutcome::Done; }
};

class IPackageRemoval
{
public:
    virtual ~IPackageRemoval() = default;
    // Works out what removing packages takes (as the user; nothing changes).
    // Outcome Done with the plan filled, or Failed with the reason.
    virtual PackageRemovalResult simulate(const QStringList &packages, PackageRemovalPlan &plan,
                                          const std::atomic<bool> *cancel) const = 0;
    // Removes plan.everything, no more and no less; with administrator rights
    // through pkexec unless already running as the administrator. A plan that
    // no longer matches what the package manager would remove is not carried out.
    virtual PackageRemovalResult remove(const PackageRemovalPlan &plan,
                                        const std::atomic<bool> *cancel) const = 0;
};

using AptRemovalOptions = AptOptions;

std::unique_ptr<IPackageRemoval> makeAptPackageRemoval(AptRemovalOptions options = {});

// The packages an apt simulation says it removes ("Remv" and "Purg" lines),
// in its order, each once, as apt names them ("name" or "name:arch").
// Lines that do not name a valid package are left out.
QStringList parseAptRemovals(const QByteArray &simulationOutput);

// Whether a name apt printed (with or without ":arch") means a package asked for by name.
bool samePackage(const QString &aptName, const QString &requested);

} // namespace platform
