#pragma once

// Installation of a downloaded Flatpak bundle into the user's own
// installation, so that no administrator rights are asked for. Blocking: for
// a worker, waiting for every process the flatpak command starts.

#include "platform/PackageInstall.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>

namespace platform {

// The Debian package that brings the flatpak command.
inline constexpr char kFlatpakPackage[] = "flatpak";

struct FlatpakOptions
{
    QString Flatpak = QStringLiteral("flatpak"); // a name looked up in PATH, or a path
    QStringList Environment; // "NAME=value" added for it (FLATPAK_USER_DIR)
};

// The command's full path; empty when it is not installed.
QString flatpakProgram(const FlatpakOptions &options = {});

// flatpak install --user -y --noninteractive --bundle <absolute path>;
// empty when the command is not installed.
QStringList flatpakBundleCommand(const QString &bundle, const FlatpakOptions &options = {});

// Runs the command. Done when Flatpak installed the bundle; Failed with its
// own words (Reason) when it refused, or with JobResult JobStartFailed when
// it could not be started; Cancelled when the caller stopped waiting (the
// installation goes on by itself).
PackageInstallResult installFlatpakBundle(const QStringList &command, const FlatpakOptions &options,
                                          const std::atomic<bool> *cancel);

// Flatpak's own words from a failed run (a refusal, an unknown reference, a
// missing runtime): its error output, else what it wrote on its standard output.
QString flatpakErrorText(const QByteArray &output, const QByteArray &errors);

} // namespace platform
