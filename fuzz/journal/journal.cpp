// Feeds arbitrary journal files to the reader, then checks that what it read
// survives being written as records and read again.
#include "core/OVJournal.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::vector<journal::Entry> entries = journal::Parse(input);

    QByteArray again;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        again += journal::StartLine(it->Id, it->Started, it->OperationKind, it->What);
        if (it->Ended.isValid())
            again += journal::EndLine(it->Id, it->Ended, it->Outcome, it->ExitStatus, it->Error);
    }
    const std::vector<journal::Entry> reread = journal::Parse(again);
    if (reread.size() != entries.size())
        __builtin_trap();
    for (size_t i = 0; i < entries.size(); ++i)
        if (reread[i].Id != entries[i].Id || reread[i].Outcome != entries[i].Outcome
            || reread[i].What.Command != entries[i].What.Command || reread[i].Error != entries[i].Error)
            __builtin_trap();
    return 0;
}
