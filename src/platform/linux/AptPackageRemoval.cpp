#include "platform/DpkgStatus.h"
#include "platform/PackageRemoval.h"
#include "platform/ProcessJob.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// A simulation reads the package lists only; a minute is far more than it takes.
constexpr int kSimulationTimeoutMs = 60000;

// Whether any process holds a lock on the file. The kernel's list of locks
// is readable by everyone, unlike the package manager's lock files.
bool lockHeld(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, " %02x:%02x:%llu ", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    const int fd = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    QByteArray all;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    ::close(fd);
    for (const QByteArray &line : all.split('\n'))
        // "->" lines are processes waiting for a lock, not holding it.
        if (!line.contains("->") && line.contains(wanted))
            return true;
    return false;
}

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
        const bool elevate = m_options.UsePkexec == 1 || (m_options.UsePkexec == -1 && ::geteuid() != 0);
        const QString pkexec = elevate ? findProgram(m_options.Pkexec) : QString();
        if (elevate && pkexec.isEmpty()) {
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

        QStringList argv = command(m_options.AptGet, elevate, pkexec);
        argv << QStringLiteral("-y") << QStringLiteral("-q") << verb << plan.everything;
        CaptureOptions run;
        run.environment = m_options.Environment;
        run.cancel = cancel;
        // Never cut off halfway: that is what leaves a package half removed.
        run.killOnStop = false;
        const CapturedRun removal = runCaptured(argv, run);
        if (!removal.started) {
            result.Outcome = elevate ? RemovalOutcome::NoElevation : RemovalOutcome::Failed;
            result.Reason = argv.value(0);
            return result;
        }
        if (!removal.finished) {
            result.Outcome = RemovalOutcome::Cancelled;
            return result;
        }
        if (removal.exitCode == 0) {
            result.Outcome = RemovalOutcome::Done;
            return result;
        }
        if (elevate && (removal.exitCode == 126 || removal.exitCode == 127)) {
            // pkexec's own refusals: nothing ran.
            const QString said = QString::fromUtf8(removal.errors + removal.output).trimmed();
            // Nobody to ask for the password: no agent in the session, or no
            // authorization service on the system bus at all.
            const bool noOneToAsk = said.contains(QLatin1String("authentication agent"), Qt::CaseInsensitive)
                || said.contains(QLatin1String("Error getting authority"), Qt::CaseInsensitive);
            result.Outcome = noOneToAsk ? RemovalOutcome::NoAgent : RemovalOutcome::NotAuthorized;
            result.Reason = said;
            return result;
        }
        result.Reason = aptErrorText(removal.errors);
        if (result.Reason.isEmpty())
            result.Reason = aptErrorText(removal.output);
        const bool lockWords
            = removal.errors.contains(QFile::encodeName(m_options.AdminDir + QStringLiteral("/lock")));
        result.Outcome = databaseLocked() || lockWords ? RemovalOutcome::Locked : RemovalOutcome::Failed;
        restoreSelections(wantBefore, elevate, pkexec, result);
        return result;
    }

private:
    QStringList command(const QStringList &base, bool elevate, const QString &pkexec) const
    {
        QStringList argv = base;
        if (elevate) {
            // pkexec is handed the program's full path, never a name to look up.
            const QString program = findProgram(argv.value(0));
            if (!program.isEmpty())
                argv[0] = program;
            argv.prepend(pkexec);
        }
        return argv;
    }

    CapturedRun simulation(const QStringList &args, const std::atomic<bool> *cancel) const
    {
        CaptureOptions run;
        run.environment = m_options.Environment;
        run.timeoutMs = kSimulationTimeoutMs;
        run.cancel = cancel;
        return runCaptured(m_options.AptGet + QStringList {QStringLiteral("-s"), QStringLiteral("-q")} + args,
                           run);
    }

    bool databaseLocked() const
    {
        return lockHeld(m_options.AdminDir + QStringLiteral("/lock-frontend"))
            || lockHeld(m_options.AdminDir + QStringLiteral("/lock"));
    }

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
    void restoreSelections(const QHash<QString, QString> &before, bool elevate, const QString &pkexec,
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
            command(m_options.Dpkg, elevate, pkexec) << QStringLiteral("--set-selections"), run);
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
