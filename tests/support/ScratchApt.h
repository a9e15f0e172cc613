#pragma once

// apt pointed at a scratch package database, and pkexec's refusals as stand-ins:
// what the tests of package installs and removals share.

#include "platform/AptCommand.h"
#include "support/Files.h"
#include "support/ScratchPackages.h"

#include <QFile>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

// Options that keep apt and dpkg inside db, run without pkexec.
inline platform::AptOptions scratchAptOptions(const ScratchPackages &db)
{
    platform::AptOptions o;
    o.AdminDir = db.adminDir();
    o.Environment = db.aptEnvironment();
    o.Dpkg = db.dpkgCommand();
    o.UsePkexec = 0;
    return o;
}

struct PkexecStandIn
{
    QString pkexec;
    platform::PackageOutcome outcome;
};

// A missing pkexec and pkexec's refusals, each as pkexec words it, written into dir as
// scripts that never run what they are given.
inline std::vector<PkexecStandIn> pkexecRefusals(const ScratchDir &dir)
{
    using platform::PackageOutcome;
    return {
        {dir.path(QStringLiteral("no-such-pkexec")), PackageOutcome::NoElevation},
        {dir.script(
             QStringLiteral("no-agent"),
             "echo 'Error executing command as another user: No authentication agent found.' >&2; exit 127"),
         PackageOutcome::NoAgent},
        {dir.script(QStringLiteral("no-polkit"),
                    "echo 'Error getting authority: Error initializing authority: Could not connect: No "
                    "such file or directory'; exit 127"),
         PackageOutcome::NoAgent},
        {dir.script(QStringLiteral("dismissed"),
                    "echo 'Error executing command as another user: Request dismissed' >&2; exit 126"),
         PackageOutcome::NotAuthorized},
        {dir.script(QStringLiteral("not-allowed"),
                    "echo 'Error executing command as another user: Not authorized' >&2; exit 127"),
         PackageOutcome::NotAuthorized},
    };
}

// A write lock on one of dpkg's lock files ("lock", "lock-frontend"), held as another
// package manager holds it, until the object goes.
class HeldDpkgLock
{
public:
    HeldDpkgLock(const ScratchPackages &db, const char *name)
    {
        const QByteArray path = QFile::encodeName(db.adminDir() + u'/' + QLatin1String(name));
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        m_held = m_fd >= 0 && ::fcntl(m_fd, F_SETLK, &lock) == 0;
    }
    ~HeldDpkgLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HeldDpkgLock(const HeldDpkgLock &) = delete;
    HeldDpkgLock &operator=(const HeldDpkgLock &) = delete;
    bool held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

} // namespace testsupport
