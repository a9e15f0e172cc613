#pragma once
// Shared definitions of the database engine: errors, field types, block layout.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstring>
#include <stdexcept>

// A database error: an exception carrying an English message.
class EDictDBError : public std::runtime_error
{
public:
    explicit EDictDBError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    { }
    const QString &Message() const { return m_message; }

private:
    QString m_message;
};

// Raised by a cipher used before its key was set.
class EEncryptException : public EDictDBError
{
public:
    using EDictDBError::EDictDBError;
};

// A silent abort (the user cancelled the login); callers show nothing.
class EDictDBAbort : public EDictDBError
{
public:
    EDictDBAbort()
        : EDictDBError(QStringLiteral("Operation aborted"))
    { }
};

enum TDictFieldType : uint8_t {
    ftUnknown = 0,
    ftString = 1,
    ftSmallint = 2,
    ftInteger = 3,
    ftWord = 4,
    ftBoolean = 5,
    ftFloat = 6,
    ftCurrency = 7,
    ftBCD = 8,
    ftDate = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftBytes = 12,
    ftAutoInc = 14,
    ftBlob = 15,
    ftMemo = 16,
    ftGraphic = 17,
    ftFmtMemo = 18,
    ftParadoxOle = 19,
    ftDBaseOle = 20,
    ftTypedBinary = 21,
    ftFixedChar = 23,
    ftWideString = 24,
    ftLargeint = 25,
    ftOraBlob = 30,
    ftOraClob = 31,
};

enum TDDIndexOption : uint8_t {
    tiPrimary = 1,
    tiUnique = 2,
    tiDescending = 4,
    tiCaseInsensitive = 8,
};

enum TDictDBMediumType { mtDisk, mtMemory };

// Options of Locate.
enum TLocateOption : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };

namespace dictdb {

// Fixed places and sizes of the file format.
constexpr int kIdentSize = 7;
constexpr int kVersionOffset = 7;
constexpr int kVersionSize = 5;
constexpr int kDatabaseHeaderOffset = 2317;
constexpr int kDatabaseHeaderSize = 472;
constexpr int kTableDirectoryOffset = 2789;
constexpr int kTableDirectorySize = 1032;
constexpr int kFixedRegionSize = 3821;
constexpr int kTableHeaderSize = 4821;
constexpr int kNameSize = 33;
constexpr int kMaxTables = 256;
constexpr int kMaxFields = 96;
constexpr int kMaxIndexes = 8;
constexpr int kMaxIndexFields = 8;
constexpr int kFieldEntrySize = 43;
constexpr int kIndexEntrySize = 78;
constexpr int kItemsPerBlock = 1024;
constexpr int kRecordTabItemSize = 5;
constexpr int kRecordTabBlockSize = 4 + kItemsPerBlock * kRecordTabItemSize; // 5124
constexpr int kIndexTabItemSize = 8;
constexpr int kIndexTabBlockSize = 4 + kItemsPerBlock * kIndexTabItemSize; // 8196
constexpr int kBlobDescriptorSize = 20;

// DatabaseHeader field offsets (relative to the header)
constexpr int dhCompressed = 0;
constexpr int dhCompressAlgoName = 2;
constexpr int dhEncrypted = 35;
constexpr int dhEncryptMode = 36;
constexpr int dhEncryptAlgoName = 37;
constexpr int dhVerifyBlobWrites = 70;
constexpr int dhPasswordHash = 327;
constexpr int kPasswordHashSize = 129;

// TableHeader field offsets
constexpr int thTableName = 0;
constexpr int thRecordTabOffset = 33;
constexpr int thRecordTabCount = 37;
constexpr int thLastAutoInc = 41;
constexpr int thFieldCount = 45;
constexpr int thFields = 49;
constexpr int thIndexCount = 4177;
constexpr int thIndexes = 4181;

// FieldEntry / IndexEntry offsets
constexpr int feName = 0;
constexpr int feType = 33;
constexpr int feSize = 34;
constexpr int feProcessMode = 38;
constexpr int ieName = 0;
constexpr int ieOptions = 33;
constexpr int ieFields = 34;
constexpr int ieTabOffset = 66;
constexpr int ieHead = 70;

// Limits that keep damaged files from demanding absurd memory.
constexpr qint64 kMaxFieldSize = 1 << 24;
constexpr qint64 kMaxRecordSize = 1 << 24;
constexpr qint64 kMaxBlobValue = qint64(1) << 29; // 512 MiB

inline int32_t getI32(const char *p)
{
    uint32_t v = uint8_t(p[0]) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16
        | uint32_t(uint8_t(p[3])) << 24;
    return static_cast<int32_t>(v);
}
inline void putI32(char *p, int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
    p[2] = char((v >> 16) & 0xFF);
    p[3] = char((v >> 24) & 0xFF);
}
// A zero-terminated 8-bit text in a fixed-size char array.
inline QByteArray getCStr(const char *p, int size)
{
    const void *z = std::memchr(p, 0, size_t(size));
    return QByteArray(p, z ? int(static_cast<const char *>(z) - p) : size);
}
inline void putCStr(char *p, int size, const QByteArray &text)
{
    std::memset(p, 0, size_t(size));
    std::memcpy(p, text.constData(), size_t(std::min<qsizetype>(text.size(), size - 1)));
}

// Bytes a field of this type takes in a record; -1 for a type the format does not allow.
int fieldStorageSize(int type, qint64 fieldSize);
bool isBlobType(int type);
bool isStringType(int type);

// The order of texts in keys and indexes: negative, zero or positive as key a sorts
// before, with or after b. It is the same under every locale. With partial set, a that
// is a prefix of b counts as equal.
int compareText(const QString &a, const QString &b, bool caseInsensitive, bool partial);

[[noreturn]] void damaged(const char *what);

} // namespace dictdb
