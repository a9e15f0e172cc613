#pragma once
// Creating database files: the fixed blocks, the table directory and empty tables with
// their field and index definitions.

#include "db/DictDBCommon.h"

#include <QList>
#include <QStringList>

struct TDictFieldSchema
{
    QString Name;
    int FieldType = ftString;
    int FieldSize = 0; // characters, for ftString and ftFixedChar
    int DataProcessMode = 0;
};

struct TDictIndexSchema
{
    QString Name;
    uint8_t Options = 0;
    QStringList Fields; // key fields, most significant first
};

struct TDictTableSchema
{
    QString Name;
    QList<TDictFieldSchema> Fields;
    QList<TDictIndexSchema> Indexes;
};

struct TDictCreateOptions
{
    bool Compressed = false;
    QString CompressAlgoName = QStringLiteral("ZLIB");
    bool Encrypted = false;
    QString EncryptAlgoName = QStringLiteral("Blowfish");
    int EncryptMode = 0;
    QString Password;
    bool VerifyBlobWrites = false;
    QString Version = QStringLiteral("1.0");
};

namespace dictdb {

// The bytes of a new database with empty tables; raises on an invalid definition.
QByteArray BuildDatabaseImage(const TDictCreateOptions &options, const QList<TDictTableSchema> &tables);
// Writes a new database file (replacing any file of that name).
void CreateDatabaseFile(const QString &fileName, const TDictCreateOptions &options,
                        const QList<TDictTableSchema> &tables);

} // namespace dictdb
