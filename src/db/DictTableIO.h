#pragma once
// One table of a connected database: its definitions, record locations, index orders,
// record and field reads, and the write path.

#include "db/DictDBFileIO.h"
#include "db/DictFieldValue.h"

#include <optional>
#include <vector>

struct TRecordTabItem
{
    int32_t DataOffset = 0;
    uint8_t Deleted = 0;
};
using TRecordTabItems = std::vector<TRecordTabItem>;

// One entry of an order or a view: where the record is and its number.
struct TDictOrderEntry
{
    int32_t DataOffset = 0;
    int32_t RecordNo = 0;
};
using TDictOrder = std::vector<TDictOrderEntry>;

// A whole record as the write path takes it: plain fixed bytes and the blob values
// (nullopt: leave the stored blob as it is).
struct TDictRecordImage
{
    QByteArray Plain;
    std::vector<std::optional<QByteArray>> Blobs; // one per field; only blob fields used
};

class TDictTableIO
{
public:
    TDictTableIO(TDictDBFileIO &file, const QString &tableName);

    QString TableName() const { return m_tableName; }
    int TableNo() const { return m_tableNo; }
    int OpenCount() const { return m_openCount; }

    // The first open loads the table under the file lock; the last close releases it.
    void Open();
    void Close();
    bool Loaded() const { return m_openCount > 0; }
    int LoadCount() const { return m_loadCount; }

    const QList<TDictFieldDef> &FieldDefs() const { return m_fields; }
    const QList<TDictIndexDef> &IndexDefs() const { return m_indexes; }
    int FieldIndex(const QString &name) const; // case-insensitive; -1 when absent
    int RecordSize() const { return m_recordSize; }
    int AutoIncField() const { return m_autoIncField; }
    int32_t LastAutoInc() const;
    int32_t RecordTabCount() const { return int32_t(m_items.size()); }
    const TRecordTabItems &Items() const { return m_items; }
    const std::vector<qint64> &RecordBlockStarts() const { return m_recordBlocks; }
    // Order 0 is physical order, order i + 1 the order of index i.
    const TDictOrder &Order(int order) const { return m_orders.at(size_t(order)); }
    int OrderCount() const { return int(m_orders.size()); }
    TDictDBFileIO &File() { return m_file; }

    // Reads a record's plain fixed bytes (blob descriptors as stored); takes the lock.
    QByteArray ReadRecord(int32_t dataOffset);
    // Reads one field of a record for a comparison (no lock): plain bytes or blob value.
    dictdb::FieldBytes ReadField(int32_t recordNo, int field);
    // Loads a blob through its descriptor at the given file position.
    QByteArray ReadBlob(qint64 descriptorPos, int field);

    // Binary search of order (index + 1) for a key (one value per key field of the index);
    // returns a position in that order or -1.
    int FindKey(int index, const std::vector<dictdb::FieldBytes> &key, bool partial);
    // Key of a record image on the fields of an index.
    std::vector<dictdb::FieldBytes> KeyOf(int index, const TDictRecordImage &image) const;
    // Key of a stored record on the fields of an index (read from the file, no lock).
    std::vector<dictdb::FieldBytes> RecordKey(int index, int32_t recordNo);
    // Where a key sorts against a stored record in the order of an index: negative
    // before it, zero equal, positive after it.
    int CompareKeyWithRecord(int index, const std::vector<dictdb::FieldBytes> &key, int32_t recordNo,
                             bool partial);

    // Write path; each takes the file lock. Returns the new record's number.
    int32_t AppendRecord(TDictRecordImage image);
    void UpdateRecord(int32_t recordNo, TDictRecordImage image);
    void DeleteRecord(int32_t recordNo);

private:
    void load();
    void unload();
    bool restoreFromCache(const TDictFileStamp &stamp);
    void rememberInCache(const TDictFileStamp &stamp);
    template<typename OnItem>
    void readItemsChain(qint64 first, int itemSize, qint64 fileSize, std::vector<qint64> &blocks,
                        OnItem onItem);
    void writeHeader();
    void checkUnique(const TDictRecordImage &image, int32_t self);
    int insertPosition(int index, const std::vector<dictdb::FieldBytes> &key);
    void linkIntoIndex(int index, int32_t recordNo, const std::vector<dictdb::FieldBytes> &key);
    void unlinkFromIndex(int index, int32_t recordNo);
    void writeIndexNext(int index, int32_t recordNo);
    qint64 appendBlock(int blockSize);
    QByteArray storeRecord(const TDictRecordImage &image, int32_t dataOffset, const QByteArray *oldStored);
    qint64 writeBlob(int field, const QByteArray &value, const char *oldDescriptor, char *descriptor);
    void removeFromOrders(int32_t recordNo);
    void checkWritable();

    TDictDBFileIO &m_file;
    QString m_tableName;
    int m_tableNo = -1;
    int m_openCount = 0;
    int m_loadCount = 0;
    QByteArray m_header;
    QList<TDictFieldDef> m_fields;
    QList<TDictIndexDef> m_indexes;
    int m_recordSize = 0;
    int m_autoIncField = -1;
    TRecordTabItems m_items;
    std::vector<qint64> m_recordBlocks;
    std::vector<std::vector<qint64>> m_indexBlocks;
    std::vector<std::vector<int32_t>> m_indexNext; // NextRecordNo per record, per index
    std::vector<TDictOrder> m_orders;
};

namespace dictdb {
// How long a file must have stayed unchanged before its table lists are kept for reuse.
void setTableCacheSettleTime(qint64 nanoseconds);
qint64 tableCacheHits();
} // namespace dictdb
