#include "platform/DpkgStatus.h"
#include "platform/PackageRemoval.h"
#include "platform/ProcessJob.h"

#include <QFile>
#include <QHash>
#include <QSet>

namespace platform {

namespace {

// A simulation reads the package lists only; a minute is far more than it takes.
constexpr int kSimulationTimeoutMs = 60000;

QList<DpkgPackage> readStatus(const QString &adminDir)
{
    QFile file(adminDir + QStringLiteral("/status"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseDpkgStatus(file.readAll());
}

// The installed packages of the status file that an apt name means.
QList<const DpkgPackage *> installedMatching(const QList<DpkgPackage> &status, const QString &aptName)
{
    QList<const DpkgPackage *> found;
    for (const DpkgPackage &p : status) {
        if (!p.isInstalled())
            continue;
        const QString full = p.name + u':' + p.architecture;
        if (samePackage(aptName, p.name) && (!aptName.contains(u':') || aptName == full))
            found << &p;
    }
    return found;
}

class AptPackageRemoval final : public IPackageRemoval
{
public:
    explicit AptPackageRemoval(AptRemovalOptions options)
        : m_options(std::move(options))
    { }

    PackageRemovalResult simulate(const QStringList &packages, PackageRemovalPlan &plan,
                                  const std::atomic<bool> *cancel) const override
    {
        plan = {};
        PackageRemovalResult result;
        for (const QString &p : packages)
            if (!isValidPackageName(p.section(u':', 0, 0))) {
                result.Reason = p;
                return result;
            }
        if (packages.isEmpty())
            return result;
        // What the package manager would remove anyway (left over from earlier
        // removals) is not this removal's business and stays.
        QStringList leftOver, withDependents, withUnneeded;
        for (auto [args, into] :
             {std::pair {QStringList {QStringLiteral("autoremove")}, &leftOver},
              std::pair {QStringList {QStringLiteral("remove")} + packages, &withDependents},
              std::pair {QStringList {QStringLiteral("remove"), QStringLiteral("--autoremove")} + packages,
                         &withUnneeded}}) {
            const CapturedRun run = simulation(args, cancel);
            if (cancel && cancel->load()) {
                result.Outcome = RemovalOutcome::Cancelled;
                return result;
            }
            if (!run.started || !run.finished || run.exitCode != 0) {
                result.Reason = run.started ? aptErrorText(run.errors) : m_options.AptGet.value(0);
                return result;
            }
            *into = parseAptRemovals(run.output);
        }
        for (const QString &name : withDependents) {
            bool asked = false;
            for (const QString &p : packages)
                asked = asked || samePackage(name, p);
            (asked ? plan.requested : plan.dependents) << name;
        }
        for (const QString &name : withUnneeded)
            if (!withDependents.contains(name) && !leftOver.contains(name))
                plan.unneeded << name;
        for (const QString &name : withUnneeded)
            if (withDependents.contains(name) || plan.unneeded.contains(name))
                plan.everything << name;
        plan.blocked = mustStay(plan.everything);
        result.Outcome = RemovalOutcome::Done;
        return result;
    }

    PackageRemovalResult remove(const PackageRemovalPlan &plan,
                                const std::atomic<bool> *cancel) const override
    {
        PackageRemovalResult result;
        if (plan.everything.isEmpty())
            return result;
        // Every word goes to apt's command line: none may read as an option.
        for (const QString &p : plan.everything)
            if (!isValidPackageName(p.section(u':', 0, 0))) {
                result.Reason = p;
                return result;
            }
        // Checked again: the status may have changed since the plan was made.
        if (!plan.blocked.isEmpty() || !mustStay(plan.everything).isEmpty()) {
            result.Outcome = RemovalOutcome::Refused;
            return result;
        }
        if (databaseLocked()) {
            result.Outcome = RemovalOutcome::Locked;
            return result;
        }
        const AptElevation elevation = aptElevation(m_options);
        if (elevation.missing()) {
            result.Outcome = RemovalOutcome::NoElevation;
            return result;
        }
        // Exactly the set the user saw, or nothing: apt would take along
        // whatever has come to depend on it since.
        const QString verb = plan.purge ? QStringLiteral("purge") : QStringLiteral("remove");
        const CapturedRun check = simulation(QStringList {verb} + plan.everything, cancel);
        if (!check.finished || check.exitCode != 0) {
            result.Outcome = cancel && cancel->load() ? RemovalOutcome::Cancelled : RemovalOutcome::Failed;
            result.Reason = aptErrorText(check.errors);
            return result;
        }
        const QStringList now = parseAptRemovals(check.output);
        if (QSet<QString>(now.begin(), now.end())
            != QSet<QString>(plan.everything.begin(), plan.everything.end())) {
            result.Outcome = RemovalOutcome::Changed;
            return result;
        }

        QHash<QString, QString> wantBefore;
        for (const DpkgPackage &p : readStatus(m_options.AdminDir))
            if (p.isInstalled())
                wantBefore.insert(p.qualifiedName(), p.want);

        QStringList argv = elevatedCommand(m_options.AptGet, elevation);
        argv << QStringLiteral("-y") << QStringLiteral("-q") << verb << plan.everything;
        CaptureOptions run;
        run.environment = m_options.Environment;
        run.cancel = cancel;
        // Never cut off halfway: that is what leaves a package half removed.
        run.killOnStop = false;
        const CapturedRun removal = runCaptured(argv, run);
        if (!removal.started) {
            result.Outcome = elevation.elevate ? RemovalOutcome::NoElevation : RemovalOutcome::Failed;
            result.Reason = argv.value(0);
            return result;
        }
        if (!removal.finished) {
            result.Outcome = RemovalOutcome::Cancelled;
            return result;
        }
        const AptVerdict verdict
            = judgeAptRun(removal.exitCode, removal.output, removal.errors, elevation, m_options.AdminDir);
        result.Outcome = verdict.outcome;
        result.Reason = verdict.reason;
        if (result.Outcome == RemovalOutcome::Failed || result.Outcome == RemovalOutcome::Locked)
            restoreSelections(wantBefore, elevation, result);
        return result;
    }

private:
    CapturedRun simulation(const QStringList &args, const std::atomic<bool> *cancel) const
    {
        CaptureOptions run;
        run.environment = m_options.Environment;
        run.timeoutMs = kSimulationTimeoutMs;
        run.cancel = cancel;
        return runCaptured(m_options.AptGet + QStringList {QStringLiteral("-s"), QStringLiteral("-q")} + args,
                           run);
    }

    bool databaseLocked() const { return aptDatabaseLocked(m_options.AdminDir); }

    // The packages of names the system must keep.
    QStringList mustStay(const QStringList &names) const
    {
        const QList<DpkgPackage> status = readStatus(m_options.AdminDir);
        QStringList out;
        for (const QString &name : names)
            for (const DpkgPackage *p : installedMatching(status, name))
                if ((p->essential || p->protectedPackage || p->priority == u"required")
                    && !out.contains(name))
                    out << name;
        return out;
    }

    // A failed removal may have left packages that are still installed marked
    // for removal, which a later run of the package manager would carry out:
    // their selections are put back as they were.
    void restoreSelections(const QHash<QString, QString> &before, const AptElevation &elevation,
                           PackageRemovalResult &result) const
    {
        QByteArray changed;
        for (const DpkgPackage &p : readStatus(m_options.AdminDir)) {
            const QString was = before.value(p.qualifiedName());
            if (p.isInstalled() && !was.isEmpty() && was != p.want)
                changed += QFile::encodeName(p.qualifiedName()) + ' ' + was.toLatin1() + '\n';
        }
        if (changed.isEmpty())
            return;
        CaptureOptions run;
        run.environment = m_options.Environment;
        run.input = changed;
        run.killOnStop = false;
        const CapturedRun set = runCaptured(
            elevatedCommand(m_options.Dpkg, elevation) << QStringLiteral("--set-selections"), run);
        result.SelectionsRestored = set.finished && set.exitCode == 0;
        if (!result.SelectionsRestored)
            result.SelectionsReason
                = set.started ? QString::fromUtf8(set.errors).trimmed() : m_options.Dpkg.value(0);
    }

    AptRemovalOptions m_options;
};

} // namespace

PackageRemovalPlan configurationPurgePlan(const QStringList &packages)
{
    PackageRemovalPlan plan;
    plan.requested = packages;
    plan.everything = packages;
    plan.purge = true;
    return plan;
}

std::unique_ptr<IPackageRemoval> makeAptPackageRemoval(AptRemovalOptions options)
{
    return std::make_unique<AptPackageRemoval>(std::move(options));
}

} // namespace platform
