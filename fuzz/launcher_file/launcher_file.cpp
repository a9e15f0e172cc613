// Feeds arbitrary bytes to the reader of desktop entries and user units that
// the leftover scan looks at in the user's folders, read both ways.
#include "installed/LeftoverScan.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    for (bool unit : {false, true}) {
        const installed::LauncherInfo info = installed::ReadLauncher(input, unit);
        // The program is one word of the command: never longer than the input.
        if (info.Program.size() > input.size() || info.Name.size() > input.size())
            __builtin_trap();
    }
    return 0;
}
