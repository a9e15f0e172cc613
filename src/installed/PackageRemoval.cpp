#include "installed/PackageRemoval.h"

#include "core/BrimMultiLangs.h"
#include "installed/LeftoverScan.h"

namespace installed {

TPackageRemover::TPackageRemover(std::shared_ptr<const platform::IPackageRemoval> Backend)
    : m_backend(std::move(Backend))
{ }

TPackageRemover::~TPackageRemover()
{
    m_workers.cancel();
}

void TPackageRemover::SetBackend(std::shared_ptr<const platform::IPackageRemoval> Backend)
{
    m_backend = std::move(Backend);
}

bool TPackageRemover::Plan(const QString &Package, TPlanEvent Done)
{
    if (Busy())
        return false;
    if (!m_backend)
        m_backend = platform::makeAptPackageRemoval();
    struct Answer
    {
        platform::PackageRemovalPlan plan;
        platform::PackageRemovalResult result;
    };
    return m_workers.start(
        [backend = m_backend, Package](const platform::WorkerContext &run) {
            Answer a;
            a.result = backend->simulate({Package}, a.plan, run.cancelFlag());
            return a;
        },
        [Done](Answer a) {
            if (Done)
                Done(a.plan, a.result);
        });
}

bool TPackageRemover::Remove(const platform::PackageRemovalPlan &Plan, TDoneEvent Done)
{
    if (Busy())
        return false;
    if (!m_backend)
        m_backend = platform::makeAptPackageRemoval();
    return m_workers.start(
        [backend = m_backend, Plan](const platform::WorkerContext &run) {
            return backend->remove(Plan, run.cancelFlag());
        },
        [Done](platform::PackageRemovalResult r) {
            if (Done)
                Done(r);
        });
}

QString RemovalPlanText(const platform::PackageRemovalPlan &Plan)
{
    QStringList parts;
    if (!Plan.dependents.isEmpty())
        parts << OVFormatText(QStringLiteral("String.MsgText.PackageRemovalDependents"),
                              {Plan.dependents.join(QStringLiteral(", "))});
    if (!Plan.unneeded.isEmpty())
        parts << OVFormatText(QStringLiteral("String.MsgText.PackageRemovalUnneeded"),
                              {Plan.unneeded.join(QStringLiteral(", "))});
    return parts.join(u'\n');
}

QString RemovalFailureText(const platform::PackageRemovalResult &Result,
                           const platform::PackageRemovalPlan &Plan)
{
    using platform::RemovalOutcome;
    QString text;
    switch (Result.Outcome) {
    case RemovalOutcome::Done:
    case RemovalOutcome::Cancelled:
        return {};
    case RemovalOutcome::Refused:
        text = OVFormatText(QStringLiteral("String.MsgText.PackageRemovalRefused"),
                            {Plan.blocked.join(QStringLiteral(", "))});
        break;
    case RemovalOutcome::Failed:
        text = OVFormatText(QStringLiteral("String.MsgText.PackageRemovalFailed"), {Result.Reason});
        break;
    case RemovalOutcome::Locked:
        text = OVGetText(QStringLiteral("String.MsgText.PackageDatabaseLocked"));
        break;
    case RemovalOutcome::NoElevation:
        text = OVGetText(QStringLiteral("String.MsgText.PkexecMissing"));
        break;
    case RemovalOutcome::NoAgent:
        text = OVGetText(QStringLiteral("String.MsgText.NoPolkitAgent"));
        break;
    case RemovalOutcome::NotAuthorized:
        text = OVGetText(QStringLiteral("String.MsgText.PackageRemovalNotAuthorized"));
        break;
    case RemovalOutcome::Changed:
        text = OVGetText(QStringLiteral("String.MsgText.PackageRemovalChanged"));
        break;
    }
    // The package manager marked packages it kept for removal and they could not be marked back.
    if (!Result.SelectionsRestored)
        text += u'\n'
            + OVFormatText(QStringLiteral("String.MsgText.PackageSelectionsNotRestored"),
                           {Result.SelectionsReason});
    return text;
}

namespace {

class CheckedPurger : public PackagePurger
{
public:
    explicit CheckedPurger(std::shared_ptr<const platform::IPackageRemoval> Backend)
        : m_backend(Backend ? std::move(Backend) : platform::makeAptPackageRemoval())
    { }
    bool CanPurge() const override { return true; }
    bool Purge(const QStringList &Packages, QString &Error) override
    {
        const platform::PackageRemovalPlan plan = platform::configurationPurgePlan(Packages);
        const platform::PackageRemovalResult result = m_backend->remove(plan, nullptr);
        if (!result.ok())
            Error = RemovalFailureText(result, plan);
        return result.ok();
    }

private:
    std::shared_ptr<const platform::IPackageRemoval> m_backend;
};

} // namespace

std::unique_ptr<PackagePurger> MakePackagePurger(std::shared_ptr<const platform::IPackageRemoval> Backend)
{
    return std::make_unique<CheckedPurger>(std::move(Backend));
}

} // namespace installed
