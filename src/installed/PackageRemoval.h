#pragma once

#include "platform/PackageRemoval.h"
#include "platform/Worker.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace installed {

// A package entry's removal as the Uninstall tab runs it: what goes is worked
// out on a worker, the user sees that list, and exactly that set is removed
// on a worker. One at a time: the package manager takes one removal anyway.
// Main thread only; the events arrive on it.
class TPackageRemover
{
public:
    using TPlanEvent = std::function<void(const platform::PackageRemovalPlan &Plan,
                                          const platform::PackageRemovalResult &Result)>;
    using TDoneEvent = std::function<void(const platform::PackageRemovalResult &Result)>;

    // Empty backend: apt on the machine's own package database.
    explicit TPackageRemover(std::shared_ptr<const platform::IPackageRemoval> Backend = {});
    ~TPackageRemover();
    TPackageRemover(const TPackageRemover &) = delete;
    TPackageRemover &operator=(const TPackageRemover &) = delete;

    void SetBackend(std::shared_ptr<const platform::IPackageRemoval> Backend);

    // False (and no event) while a simulation or removal is still running.
    bool Plan(const QString &Package, TPlanEvent Done);
    bool Remove(const platform::PackageRemovalPlan &Plan, TDoneEvent Done);
    bool Busy() const { return m_workers.running() > 0; }

private:
    std::shared_ptr<const platform::IPackageRemoval> m_backend;
    // A removal under way when the program ends is left to finish.
    platform::Worker m_workers;
};

// What the question before a removal lists, besides the entry's own name:
// the packages that depend on it and the dependencies left without a user.
// Empty when the removal takes the package alone.
QString RemovalPlanText(const platform::PackageRemovalPlan &Plan);

class PackagePurger;
// Purges packages' left-over configuration through the same checked removal
// (empty backend: apt on the machine's own package database).
std::unique_ptr<PackagePurger> MakePackagePurger(std::shared_ptr<const platform::IPackageRemoval> Backend
                                                 = {});
// The message for a plan that cannot be carried out or a removal that did not
// happen (empty for a finished one), with the package manager's own reason.
QString RemovalFailureText(const platform::PackageRemovalResult &Result,
                           const platform::PackageRemovalPlan &Plan);

} // namespace installed
