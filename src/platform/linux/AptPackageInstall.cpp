#include "platform/PackageInstall.h"
#include "platform/ProcessJob.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace platform {

namespace {

// A free name beside the file that ends in ".deb".
QString linkNameFor(const QString &file)
{
    QString name = file + QStringLiteral(".deb");
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = file + u'-' + QString::number(n) + QStringLiteral(".deb");
    return name;
}

class AptPackageInstall final : public IPackageInstall
{
public:
    explicit AptPackageInstall(AptOptions options)
        : m_options(std::move(options))
    { }

    PackageInstallCommand command(const QString &packageFile) const override
    {
        PackageInstallCommand c;
        c.file = QFileInfo(packageFile).absoluteFilePath();
        if (!c.file.endsWith(QLatin1String(".deb")))
            c.link = linkNameFor(c.file);
        c.elevation = aptElevation(m_options);
        // An absolute path: apt reads a word with a slash as a file, never as a package name.
        c.argv = elevatedCommand(m_options.AptGet, c.elevation)
            << QStringLiteral("install") << QStringLiteral("-y") << (c.link.isEmpty() ? c.file : c.link);
        if (c.elevation.missing())
            c.argv[0] = m_options.Pkexec; // what would have run, for the record
        return c;
    }

    PackageInstallResult install(const PackageInstallCommand &command,
                                 const std::atomic<bool> *cancel) const override
    {
        PackageInstallResult result;
        if (command.elevation.missing()) {
            result.Outcome = PackageOutcome::NoElevation;
            result.JobResult = JobStartFailed;
            return result;
        }
        // Before pkexec asks for a password that could not help.
        if (aptDatabaseLocked(m_options.AdminDir)) {
            result.Outcome = PackageOutcome::Locked;
            result.JobResult = JobStartFailed;
            return result;
        }
        if (!command.link.isEmpty() && !makeLink(command.file, command.link, result))
            return result;
        const CapturedJob job = runCapturedJob(command.argv, kWaitInfinite, m_options.Environment, cancel);
        result.JobResult = job.result;
        result.ExitStatus = job.exitStatus;
        if (job.result == JobCancelled) {
            // The package manager goes on and may still read the file by that name.
            result.Outcome = PackageOutcome::Cancelled;
            return result;
        }
        if (!command.link.isEmpty())
            QFile::remove(command.link);
        if (job.result == JobStartFailed) {
            result.Outcome = command.elevation.elevate ? PackageOutcome::NoElevation : PackageOutcome::Failed;
            result.Reason = command.argv.value(0);
            return result;
        }
        const AptVerdict verdict = judgeAptRun(job.exitStatus.value_or(-1), job.output, job.errors,
                                               command.elevation, m_options.AdminDir);
        result.Outcome = verdict.outcome;
        result.Reason = verdict.reason;
        return result;
    }

private:
    // The same file under the name apt takes: a second name for it, so what
    // runs is the file that was checked; a symbolic link where that is not allowed.
    static bool makeLink(const QString &file, const QString &link, PackageInstallResult &result)
    {
        const QByteArray from = QFile::encodeName(file), to = QFile::encodeName(link);
        if (::link(from.constData(), to.constData()) == 0 || ::symlink(from.constData(), to.constData()) == 0)
            return true;
        result.Outcome = PackageOutcome::Failed;
        result.JobResult = JobStartFailed;
        result.Reason = link + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    AptOptions m_options;
};

} // namespace

std::unique_ptr<IPackageInstall> makeAptPackageInstall(AptOptions options)
{
    return std::make_unique<AptPackageInstall>(std::move(options));
}

} // namespace platform
