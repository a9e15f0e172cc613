#include "platform/FlatpakBundleInstall.h"

#include "platform/ProcessJob.h"

#include <QFileInfo>

namespace platform {

QString flatpakProgram(const FlatpakOptions &options)
{
    return findProgram(options.Flatpak);
}

QStringList flatpakBundleCommand(const QString &bundle, const FlatpakOptions &options)
{
    const QString flatpak = flatpakProgram(options);
    if (flatpak.isEmpty())
        return {};
    // An absolute path, so no word of the name is read as an option or a reference.
    return {flatpak,
            QStringLiteral("install"),
            QStringLiteral("--user"),
            QStringLiteral("-y"),
            QStringLiteral("--noninteractive"),
            QStringLiteral("--bundle"),
            QFileInfo(bundle).absoluteFilePath()};
}

PackageInstallResult installFlatpakBundle(const QStringList &command, const FlatpakOptions &options,
                                          const std::atomic<bool> *cancel)
{
    PackageInstallResult result;
    const CapturedJob job = runCapturedJob(command, kWaitInfinite, options.Environment, cancel);
    result.JobResult = job.result;
    result.ExitStatus = job.exitStatus;
    if (job.result == JobCancelled) {
        result.Outcome = PackageOutcome::Cancelled;
        return result;
    }
    if (job.result == JobStartFailed || job.result == JobBadCommand) {
        result.Reason = command.value(0);
        return result;
    }
    if (job.exitStatus == 0) {
        result.Outcome = PackageOutcome::Done;
        return result;
    }
    result.Reason = flatpakErrorText(job.output, job.errors);
    return result;
}

QString flatpakErrorText(const QByteArray &output, const QByteArray &errors)
{
    const QString said = QString::fromUtf8(errors).trimmed();
    return said.isEmpty() ? QString::fromUtf8(output).trimmed() : said;
}

} // namespace platform
