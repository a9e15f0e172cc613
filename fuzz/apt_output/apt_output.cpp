// Any bytes as what apt writes: the removals read from a simulation are valid
// package names, each once, and the error and failure texts never fail.
#include "platform/AptCommand.h"
#include "platform/DpkgStatus.h"
#include "platform/PackageRemoval.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList names = platform::parseAptRemovals(bytes);
    for (const QString &name : names) {
        if (!platform::isValidPackageName(name.section(u':', 0, 0)) || names.count(name) != 1)
            std::abort();
        if (!platform::samePackage(name, name))
            std::abort();
    }
    platform::aptErrorText(bytes);
    platform::aptFailureText(bytes, bytes);
    return 0;
}
