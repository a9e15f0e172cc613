#include "db/DictDBWriter.h"

#include "db/DictCipher.h"
#include "db/DictDataProcess.h"
#include "platform/AnsiCodePage.h"

#include <QSaveFile>
#include <QSet>

namespace dictdb {

namespace {

[[noreturn]] void invalid(const QString &what)
{
    throw EDictDBError(QStringLiteral("Invalid definition: %1").arg(what));
}

QByteArray checkedName(const QString &name, const char *kind)
{
    const QByteArray bytes = platform::toAnsiCodePage(name);
    if (name.trimmed().isEmpty() || bytes.size() > kNameSize - 1 || bytes.contains('\0'))
        invalid(QStringLiteral("%1 name '%2' must have 1 to 32 characters").arg(QLatin1String(kind), name));
    return bytes;
}

} // namespace

QByteArray BuildDatabaseImage(const TDictCreateOptions &options, const QList<TDictTableSchema> &tables)
{
    if (tables.size() > kMaxTables)
        invalid(QStringLiteral("more than 256 tables"));
    QByteArray image(kFixedRegionSize + qsizetype(tables.size()) * kTableHeaderSize, 0);
    char *p = image.data();
    std::memcpy(p, "DictDB", 6);
    const QByteArray version = options.Version.toLatin1();
    if (version.size() > kVersionSize)
        invalid(QStringLiteral("version text longer than 5 characters"));
    std::memcpy(p + kVersionOffset, version.constData(), size_t(version.size()));

    char *h = p + kDatabaseHeaderOffset;
    if (options.Compressed) {
        TCompressMgr probe;
        probe.SetAlgorithm(options.CompressAlgoName); // raises for an unknown name
        h[dhCompressed] = 1;
        putCStr(h + dhCompressAlgoName, kNameSize, platform::toAnsiCodePage(options.CompressAlgoName));
    }
    if (options.Encrypted) {
        TEncryptMgr probe;
        probe.SetAlgorithm(options.EncryptAlgoName);
        if (options.EncryptMode < 0 || options.EncryptMode > 4)
            invalid(QStringLiteral("cipher mode must be 0 to 4"));
        if (options.Password.isEmpty())
            invalid(QStringLiteral("an encrypted database needs a password"));
        h[dhEncrypted] = 1;
        h[dhEncryptMode] = char(options.EncryptMode);
        putCStr(h + dhEncryptAlgoName, kNameSize, platform::toAnsiCodePage(options.EncryptAlgoName));
        putCStr(h + dhPasswordHash, kPasswordHashSize, passwordDigestText(options.Password).toLatin1());
    }
    h[dhVerifyBlobWrites] = options.VerifyBlobWrites ? 1 : 0;

    char *dir = p + kTableDirectoryOffset;
    putI32(dir, int32_t(tables.size()));
    QSet<QString> tableNames;
    for (int t = 0; t < tables.size(); ++t) {
        const TDictTableSchema &schema = tables[t];
        const qint64 offset = kFixedRegionSize + qint64(t) * kTableHeaderSize;
        putI32(dir + 8 + 4 * t, int32_t(offset));
        char *th = p + offset;
        putCStr(th + thTableName, kNameSize, checkedName(schema.Name, "table"));
        if (tableNames.contains(schema.Name.toLower()))
            invalid(QStringLiteral("table '%1' defined twice").arg(schema.Name));
        tableNames.insert(schema.Name.toLower());
        if (schema.Fields.size() > kMaxFields)
            invalid(QStringLiteral("table '%1' has more than 96 fields").arg(schema.Name));
        if (schema.Indexes.size() > kMaxIndexes)
            invalid(QStringLiteral("table '%1' has more than 8 indexes").arg(schema.Name));
        putI32(th + thFieldCount, int32_t(schema.Fields.size()));
        QStringList fieldNames;
        qint64 recordSize = 0;
        for (int f = 0; f < schema.Fields.size(); ++f) {
            const TDictFieldSchema &field = schema.Fields[f];
            char *e = th + thFields + f * kFieldEntrySize;
            putCStr(e + feName, kNameSize, checkedName(field.Name, "field"));
            for (const QString &n : fieldNames)
                if (n.compare(field.Name, Qt::CaseInsensitive) == 0)
                    invalid(QStringLiteral("field '%1' defined twice").arg(field.Name));
            fieldNames << field.Name;
            const int size = fieldStorageSize(field.FieldType, field.FieldSize);
            if (size < 0)
                invalid(QStringLiteral("field '%1' has an unsupported type or size").arg(field.Name));
            recordSize += size;
            e[feType] = char(field.FieldType);
            putI32(e + feSize, isStringType(field.FieldType) ? field.FieldSize : 0);
            e[feProcessMode] = char(field.DataProcessMode);
        }
        if (recordSize > kMaxRecordSize)
            invalid(QStringLiteral("table '%1' has too large a record").arg(schema.Name));
        putI32(th + thIndexCount, int32_t(schema.Indexes.size()));
        for (int i = 0; i < schema.Indexes.size(); ++i) {
            const TDictIndexSchema &index = schema.Indexes[i];
            char *e = th + thIndexes + i * kIndexEntrySize;
            putCStr(e + ieName, kNameSize, checkedName(index.Name, "index"));
            e[ieOptions] = char(index.Options);
            if (index.Fields.isEmpty() || index.Fields.size() > kMaxIndexFields)
                invalid(QStringLiteral("index '%1' needs 1 to 8 key fields").arg(index.Name));
            for (int j = 0; j < kMaxIndexFields; ++j)
                putI32(e + ieFields + 4 * j, -1);
            for (int j = 0; j < index.Fields.size(); ++j) {
                int found = -1;
                for (int f = 0; f < fieldNames.size(); ++f)
                    if (fieldNames[f].compare(index.Fields[j].trimmed(), Qt::CaseInsensitive) == 0)
                        found = f;
                if (found < 0)
                    invalid(QStringLiteral("index '%1' names unknown field '%2'")
                                .arg(index.Name, index.Fields[j]));
                putI32(e + ieFields + 4 * j, found);
            }
            putI32(e + ieTabOffset, 0);
            putI32(e + ieHead, -1);
        }
    }
    return image;
}

void CreateDatabaseFile(const QString &fileName, const TDictCreateOptions &options,
                        const QList<TDictTableSchema> &tables)
{
    const QByteArray image = BuildDatabaseImage(options, tables);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit())
        throw EDictDBError(QStringLiteral("Failed to create file '%1'").arg(fileName));
}

} // namespace dictdb
