#pragma once

#include "platform/FlatpakApps.h"

#include <QStringList>

class TUninstItem;

namespace installed {

// The command that removes the application from its own installation, as
// words (started without a shell).
QStringList FlatpakUninstallCommand(const platform::FlatpakApp &App);
// The words as one command line that SplitCommandLine splits back into them.
QString FlatpakCommandLine(const QStringList &Argv);
// The entry's fields from the application (the icon index is the caller's).
void FillFlatpakEntry(TUninstItem &Item, const platform::FlatpakApp &App);

} // namespace installed
