// Version resources of Windows executables and the version note of our own:
// both are read from files the program does not control, as are the icon
// groups of Windows programs.
#include "platform/FileVersion.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const platform::BufferByteSource source(
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (const auto info = platform::readPeVersionInfo(source))
        (void)platform::formatVersion(info->fileVersionMS, info->fileVersionLS);
    (void)platform::readElfVersionNote(source);
    // Icons named by a Wine program's DisplayIcon: by position and by resource id.
    (void)platform::readPeIcon(source, 0);
    (void)platform::readPeIcon(source, -1);
    return 0;
}
