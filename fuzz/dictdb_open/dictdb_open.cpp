// Opens arbitrary bytes as a database in memory and reads every table, record, field,
// blob and index order, then searches every field by index and by scan; any damage
// must end in a database error.
#include "db/DictDBCheck.h"
#include "db/DictDBFileIO.h"
#include "db/DictTable.h"

#include <cstdint>
#include <cstdlib>

namespace {

void searchEveryField(const QString &name)
{
    TDictDatabase db;
    db.DatabaseName = name;
    db.MediumType = mtMemory;
    db.KeepConnection = true;
    db.SetPassword(QStringLiteral("fuzz")); // encrypted seeds are made with this password
    db.Open();
    for (const QString &table : db.GetTableNames()) {
        TDictTable t;
        t.SetMediumType(mtMemory);
        t.SetDatabaseName(name);
        t.SetTableName(table);
        try {
            t.Open();
        } catch (const EDictDBError &) {
            continue;
        }
        for (int f = 0; f < t.FieldCount(); ++f) {
            for (unsigned options : {0u, 3u}) {
                try {
                    const QVariant key
                        = t.Field(f)->IsBlob() ? QVariant(QByteArray("a")) : QVariant(QStringLiteral("1"));
                    if (t.Locate(t.Field(f)->FieldName(), key, options))
                        (void)t.Field(f)->AsString();
                } catch (const EDictDBError &) { }
            }
        }
        for (const auto &index : t.TableIO()->IndexDefs()) {
            t.SetIndexName(index.Name);
            try {
                for (t.Last(); !t.Bof(); t.Prior())
                    (void)t.GetBookmark();
            } catch (const EDictDBError &) { }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString name = TDictMemoryStreams::Register(&bytes);
    try {
        (void)dictdb::CheckDatabase(name, mtMemory, QStringLiteral("fuzz"));
        searchEveryField(name);
    } catch (const EDictDBError &) {
        // a clean error is fine; anything else escapes and fails the run
    }
    TDictMemoryStreams::Unregister(name);
    return 0;
}
