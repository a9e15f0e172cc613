#pragma once

#include "platform/DesktopNotifier.h"

#include <QString>

namespace tasks {

// The desktop notice at the end of an installer run for the program Title,
// in the current language; Reason, when given, replaces the failure text.
platform::DesktopNotice InstallNotice(const QString &Title, bool Succeeded, const QString &Reason = {});

// The desktop notice when the program Title was downloaded but its automatic
// install waits: it came unchecked over plain HTTP from Host.
platform::DesktopNotice HeldInstallNotice(const QString &Title, const QString &Host);

} // namespace tasks
