// Any bytes as the package manager's status file: parsing never fails, and
// every package it yields has a valid name.
#include "platform/DpkgStatus.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const platform::DpkgPackage &p : platform::parseDpkgStatus(bytes)) {
        if (!platform::isValidPackageName(p.name))
            std::abort();
        p.qualifiedName();
        p.isInstalled();
    }
    return 0;
}
