#pragma once

// What installing and removing packages through apt have in common: where
// the package manager works, when pkexec is put in front of it, and how a
// run of it is judged from its exit status and what it wrote.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

enum class PackageOutcome {
    Done,
    Refused, // the plan holds packages the system must keep; nothing was run
    Failed, // the package manager refused or failed; Reason holds its words
    Locked, // another program holds the package database
    NoElevation, // administrator rights are needed and pkexec is not installed
    NoAgent, // pkexec found no authentication agent (or no polkit service) to ask for the password
    NotAuthorized, // the user dismissed the password question, or was not allowed
    Changed, // the set has changed since it was shown; nothing was removed
    Cancelled, // the caller stopped waiting
};

// Where the package manager works. The defaults are the machine's own;
// tests point every part at a scratch root.
struct AptOptions
{
    QString AdminDir = QStringLiteral("/var/lib/dpkg"); // status file and locks
    QStringList AptGet = {QStringLiteral("apt-get")}; // the command and its leading options
    QStringList Dpkg = {QStringLiteral("dpkg")}; // for putting selections back
    QStringList Environment; // "NAME=value" added for these programs (APT_CONFIG)
    QString Pkexec = QStringLiteral("pkexec");
    // -1: pkexec unless running as the administrator; 0: never; 1: always.
    int UsePkexec = -1;
};

// How a changing run of the package manager is started.
struct AptElevation
{
    bool elevate = false; // through pkexec
    QString pkexec; // its full path; empty when it is needed and not installed
    bool missing() const { return elevate && pkexec.isEmpty(); }
};

AptElevation aptElevation(const AptOptions &options);

// base with pkexec in front when elevating; pkexec is handed the program's
// full path, never a name to look up.
QStringList elevatedCommand(const QStringList &base, const AptElevation &elevation);

// Whether another program holds the package database's locks.
bool aptDatabaseLocked(const QString &adminDir);

struct AptVerdict
{
    PackageOutcome outcome = PackageOutcome::Failed;
    QString reason; // apt's or pkexec's own words
};

// The outcome of a changing run that started and ended with exitCode.
AptVerdict judgeAptRun(int exitCode, const QByteArray &output, const QByteArray &errors,
                       const AptElevation &elevation, const QString &adminDir);

// apt's error lines ("E: ...") without the prefix, joined by line breaks;
// the last lines of the text when it wrote none.
QString aptErrorText(const QByteArray &errors);

// Why apt refused, from both of its outputs: the unmet dependencies it
// listed (on its standard output), then its error text.
QString aptFailureText(const QByteArray &output, const QByteArray &errors);

} // namespace platform
