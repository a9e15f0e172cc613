// The /proc files the process list reads carry text that processes choose
// (names, arguments), and a sandbox's root holds its own .flatpak-info:
// every parser gets the same bytes.
#include "platform/ProcFs.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    platform::ProcStat stat;
    if (platform::parseProcStat(text, &stat))
        (void)platform::processText({stat.comm, size_t(stat.commLength)});
    platform::ProcStatus status;
    (void)platform::parseProcStatus(text, &status);
    platform::CpuTimes all;
    std::vector<platform::CpuTimes> cpus;
    (void)platform::parseSystemStat(text, &all, &cpus);
    quint64 total = 0, available = 0;
    (void)platform::parseMeminfo(text, &total, &available);
    (void)platform::commandLineText(text);
    (void)platform::parseLoginDefsUidMin(text);
    (void)platform::parseFlatpakInfoAppId(text);
    return 0;
}
