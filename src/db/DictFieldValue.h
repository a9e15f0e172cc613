#pragma once
// Definitions of fields and indexes, and the conversions between stored bytes and values.

#include "db/DictDBCommon.h"

#include <QDateTime>
#include <QList>
#include <QVariant>

struct TDictFieldDef
{
    QString Name;
    int FieldType = ftUnknown;
    int FieldSize = 0;
    int DataProcessMode = 0;
    int Offset = 0; // within the record
    int Size = 0; // bytes in the record
    bool IsBlob() const { return dictdb::isBlobType(FieldType); }
};

struct TDictIndexDef
{
    QString Name;
    uint8_t Options = 0;
    QList<int> Fields;
};

struct TDictTableDef
{
    QString Name;
    int TableNo = -1;
};

namespace dictdb {

// A field's value as it takes part in a key: the plain record bytes of a fixed-size
// field, or the value of a blob field.
using FieldBytes = QByteArray;

// The value of a field's plain bytes (blob fields: the blob value as bytes).
QVariant decodeFieldValue(const TDictFieldDef &def, const FieldBytes &bytes);
// The plain bytes for a value, by the field's own conversion; raises on bad input.
FieldBytes encodeFieldValue(const TDictFieldDef &def, const QVariant &value);
// Text form of a stored value.
QString fieldText(const TDictFieldDef &def, const FieldBytes &bytes);
// A value as a boolean: "true"/"false"/"1"/"0"/blank texts, or the value's own truth; raises on other texts.
bool valueToBool(const QVariant &v);
// Compares key a with stored b: negative, zero or positive.
int compareFieldBytes(const TDictFieldDef &def, const FieldBytes &a, const FieldBytes &b,
                      bool caseInsensitive, bool partial);

// Day numbers count 1 January 0001 as day 1.
int32_t dayNumberOf(const QDate &date);
QDate dateOfDayNumber(int32_t day);
constexpr double kMsPerDay = 86400000.0;

} // namespace dictdb
