// Opens arbitrary bytes as a database in memory and reads every table, record, field,
// blob and index order; any damage must end in a database error.
#include "db/DictDBCheck.h"
#include "db/DictDBFileIO.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString name = TDictMemoryStreams::Register(&bytes);
    try {
        // encrypted seeds are made with this password
        (void)dictdb::CheckDatabase(name, mtMemory, QStringLiteral("fuzz"));
    } catch (const EDictDBError &) {
        // a clean error is fine; anything else escapes and fails the run
    }
    TDictMemoryStreams::Unregister(name);
    return 0;
}
