#pragma once

#include <QString>

namespace platform {

// Directory of the running executable, always with a trailing '/'.
QString applicationDirectory();

// A path that names the running executable's own file, for reading it.
QString executablePath();

// Tests run their binaries from the build tree; they point the application
// directory at a scratch folder instead. An empty path removes the override.
void setApplicationDirectoryOverride(const QString &dir);

} // namespace platform
