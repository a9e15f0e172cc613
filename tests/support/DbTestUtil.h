#pragma once
// Small helpers of the tests that make database files.

#include <QByteArray>
#include <QString>

inline QByteArray fromHex(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}
inline QString toHexUpper(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

#include "db/DictDBWriter.h"
#include "db/DictTable.h"

#include <QTemporaryDir>

// A table schema with one field of every stored type and a few indexes.
inline TDictTableSchema everyTypeTable(const QString &name = QStringLiteral("All"))
{
    TDictTableSchema t;
    t.Name = name;
    t.Fields = {
        {QStringLiteral("Id"), ftAutoInc},        {QStringLiteral("Name"), ftString, 40},
        {QStringLiteral("Code"), ftFixedChar, 4}, {QStringLiteral("Small"), ftSmallint},
        {QStringLiteral("Int"), ftInteger},       {QStringLiteral("Word"), ftWord},
        {QStringLiteral("Flag"), ftBoolean},      {QStringLiteral("Real"), ftFloat},
        {QStringLiteral("Money"), ftCurrency},    {QStringLiteral("Day"), ftDate},
        {QStringLiteral("Clock"), ftTime},        {QStringLiteral("Stamp"), ftDateTime},
        {QStringLiteral("Big"), ftLargeint},      {QStringLiteral("Data"), ftBlob},
        {QStringLiteral("Note"), ftMemo},
    };
    t.Indexes = {
        {QStringLiteral("ById"), tiPrimary, {QStringLiteral("Id")}},
        {QStringLiteral("ByName"), tiCaseInsensitive, {QStringLiteral("Name")}},
    };
    return t;
}

// Opens a table on a file with the default session.
inline void openTable(TDictTable &t, const QString &file, const QString &table)
{
    t.SetDatabaseName(file);
    t.SetTableName(table);
    t.Open();
}
