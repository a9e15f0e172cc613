#include "platform/AptCommand.h"

#include "platform/FileIO.h"
#include "platform/ProcessJob.h"

#include <QFile>
#include <cstdio>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

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
    const QByteArray all = readWholeFile(QStringLiteral("/proc/locks"));
    for (const QByteArray &line : all.split('\n'))
        // "->" lines are processes waiting for a lock, not holding it.
        if (!line.contains("->") && line.contains(wanted))
            return true;
    return false;
}

} // namespace

AptElevation aptElevation(const AptOptions &options)
{
    AptElevation e;
    e.elevate = options.UsePkexec == 1 || (options.UsePkexec == -1 && ::geteuid() != 0);
    if (e.elevate)
        e.pkexec = findProgram(options.Pkexec);
    return e;
}

QStringList elevatedCommand(const QStringList &base, const AptElevation &elevation)
{
    QStringList argv = base;
    if (elevation.elevate) {
        const QString program = findProgram(argv.value(0));
        if (!program.isEmpty())
            argv[0] = program;
        argv.prepend(elevation.pkexec);
    }
    return argv;
}

bool aptDatabaseLocked(const QString &adminDir)
{
    return lockHeld(adminDir + QStringLiteral("/lock-frontend"))
        || lockHeld(adminDir + QStringLiteral("/lock"));
}

AptVerdict judgeAptRun(int exitCode, const QByteArray &output, const QByteArray &errors,
                       const AptElevation &elevation, const QString &adminDir)
{
    AptVerdict v;
    if (exitCode == 0) {
        v.outcome = PackageOutcome::Done;
        return v;
    }
    if (elevation.elevate && (exitCode == 126 || exitCode == 127)) {
        // pkexec's own refusals: nothing ran.
        v.reason = QString::fromUtf8(errors + output).trimmed();
        // Nobody to ask for the password: no agent in the session, or no
        // authorization service on the system bus at all.
        const bool noOneToAsk = v.reason.contains(QLatin1String("authentication agent"), Qt::CaseInsensitive)
            || v.reason.contains(QLatin1String("Error getting authority"), Qt::CaseInsensitive);
        v.outcome = noOneToAsk ? PackageOutcome::NoAgent : PackageOutcome::NotAuthorized;
        return v;
    }
    v.reason = aptFailureText(output, errors);
    const bool lockWords = errors.contains(QFile::encodeName(adminDir + QStringLiteral("/lock")));
    v.outcome = aptDatabaseLocked(adminDir) || lockWords ? PackageOutcome::Locked : PackageOutcome::Failed;
    return v;
}

} // namespace platform
