#include "db/DictTableIO.h"

#include "platform/AnsiCodePage.h"

#include <QSet>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

using namespace dictdb;

namespace {
constexpr int kMaxVerifyAttempts = 3;

// Tables are loaded and released on every open and close; recycling their lists keeps
// the allocator from handing memory back to the system and faulting it in again.
template<typename T> struct Recycler
{
    std::vector<std::vector<T>> free;
    std::vector<T> take()
    {
        if (free.empty())
            return {};
        std::vector<T> v = std::move(free.back());
        free.pop_back();
        v.clear();
        return v;
    }
    void give(std::vector<T> &&v)
    {
        if (free.size() < 16 && v.capacity() > 0 && v.capacity() < (size_t(1) << 22))
            free.push_back(std::move(v));
    }
};
thread_local Recycler<TDictOrderEntry> t_orders;
thread_local Recycler<TRecordTabItem> t_items;
thread_local Recycler<int32_t> t_next;

// Lists of tables loaded from files that have not changed since, shared by all
// connections of the process. Every open still reads the table header under the lock
// and compares it and the file's identity, size and change times; only the record
// locations and index orders behind them are reused.
struct CachedTable
{
    TDictFileStamp Stamp;
    int TableNo = -1;
    QByteArray Header;
    TRecordTabItems Items;
    std::vector<qint64> RecordBlocks;
    std::vector<std::vector<qint64>> IndexBlocks;
    std::vector<std::vector<int32_t>> IndexNext;
    std::vector<TDictOrder> Orders;
};
std::mutex g_cacheMutex;
std::vector<std::shared_ptr<const CachedTable>> g_cache;
constexpr size_t kCacheEntries = 8;
constexpr size_t kCacheMaxRecords = 1 << 20;
// A file changed less than this long ago may change again within the same timestamp
// tick without its stamp showing it, so its lists are not kept yet.
std::atomic<qint64> g_settledNs {2000000000};
std::atomic<qint64> g_cacheHits {0};

template<typename T> void copyInto(std::vector<T> &to, const std::vector<T> &from, Recycler<T> &pool)
{
    to = pool.take();
    to.assign(from.begin(), from.end());
}
} // namespace

namespace dictdb {
void setTableCacheSettleTime(qint64 nanoseconds)
{
    g_settledNs = nanoseconds;
}
qint64 tableCacheHits()
{
    return g_cacheHits.load();
}
} // namespace dictdb

bool TDictTableIO::restoreFromCache(const TDictFileStamp &stamp)
{
    if (!stamp.Valid)
        return false;
    std::shared_ptr<const CachedTable> hit;
    {
        std::lock_guard guard(g_cacheMutex);
        for (const auto &entry : g_cache)
            if (entry->TableNo == m_tableNo && entry->Stamp.SameFileAndContent(stamp)
                && entry->Header == m_header) {
                hit = entry;
                break;
            }
    }
    if (!hit)
        return false;
    ++g_cacheHits;
    copyInto(m_items, hit->Items, t_items);
    m_recordBlocks = hit->RecordBlocks;
    m_indexBlocks = hit->IndexBlocks;
    m_indexNext.resize(hit->IndexNext.size());
    for (size_t i = 0; i < hit->IndexNext.size(); ++i)
        copyInto(m_indexNext[i], hit->IndexNext[i], t_next);
    m_orders.resize(hit->Orders.size());
    for (size_t i = 0; i < hit->Orders.size(); ++i)
        copyInto(m_orders[i], hit->Orders[i], t_orders);
    return true;
}

void TDictTableIO::rememberInCache(const TDictFileStamp &stamp)
{
    if (!stamp.Valid || m_items.size() > kCacheMaxRecords)
        return;
    const qint64 nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    if (nowNs - std::max(stamp.ModifiedNs, stamp.ChangedNs) < g_settledNs.load())
        return;
    auto entry = std::make_shared<CachedTable>();
    entry->Stamp = stamp;
    entry->TableNo = m_tableNo;
    entry->Header = m_header;
    entry->Items = m_items;
    entry->RecordBlocks = m_recordBlocks;
    entry->IndexBlocks = m_indexBlocks;
    entry->IndexNext = m_indexNext;
    entry->Orders = m_orders;
    std::lock_guard guard(g_cacheMutex);
    g_cache.erase(std::remove_if(g_cache.begin(), g_cache.end(),
                                 [&](const auto &e) {
                                     return e->TableNo == m_tableNo && e->Stamp.Device == stamp.Device
                                         && e->Stamp.Inode == stamp.Inode;
                                 }),
                  g_cache.end());
    g_cache.push_back(std::move(entry));
    if (g_cache.size() > kCacheEntries)
        g_cache.erase(g_cache.begin());
}

TDictTableIO::TDictTableIO(TDictDBFileIO &file, const QString &tableName)
    : m_file(file)
    , m_tableName(tableName)
{ }

void TDictTableIO::Open()
{
    if (m_openCount == 0) {
        try {
            load();
        } catch (...) {
            unload();
            throw;
        }
    }
    ++m_openCount;
}

void TDictTableIO::Close()
{
    if (m_openCount <= 0)
        return;
    if (--m_openCount == 0)
        unload();
}

void TDictTableIO::unload()
{
    m_header.clear();
    m_fields.clear();
    m_indexes.clear();
    t_items.give(std::move(m_items));
    m_items = {};
    m_recordBlocks.clear();
    m_indexBlocks.clear();
    for (auto &next : m_indexNext)
        t_next.give(std::move(next));
    m_indexNext.clear();
    for (auto &order : m_orders)
        t_orders.give(std::move(order));
    m_orders.clear();
    m_recordSize = 0;
    m_autoIncField = -1;
}

int TDictTableIO::FieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int32_t TDictTableIO::LastAutoInc() const
{
    return m_header.isEmpty() ? 0 : getI32(m_header.constData() + thLastAutoInc);
}

template<typename OnItem>
void TDictTableIO::readItemsChain(qint64 first, int itemSize, qint64 fileSize, std::vector<qint64> &blocks,
                                  OnItem onItem)
{
    const qint64 count = qint64(m_items.size());
    QSet<qint64> seen;
    qint64 pos = first;
    char buffer[4 + kItemsPerBlock * kIndexTabItemSize];
    for (qint64 done = 0; done < count;) {
        if (pos < kFixedRegionSize || pos >= fileSize)
            damaged("block outside the file");
        if (seen.contains(pos))
            damaged("block chain loops");
        seen.insert(pos);
        blocks.push_back(pos);
        const qint64 n = std::min<qint64>(kItemsPerBlock, count - done);
        m_file.ReadAt(pos, buffer, 4 + n * itemSize);
        for (qint64 j = 0; j < n; ++j)
            onItem(done + j, buffer + 4 + j * itemSize);
        done += n;
        pos = getI32(buffer);
    }
}

void TDictTableIO::load()
{
    ++m_loadCount;
    TDictFileLock lock(m_file);
    const QStringList names = m_file.CachedTableNames();
    m_tableNo = -1;
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(m_tableName, Qt::CaseInsensitive) == 0) {
            m_tableNo = i;
            break;
        }
    if (m_tableNo < 0)
        throw EDictDBError(QStringLiteral("Table '%1' not found").arg(m_tableName));
    const TDictFileStamp stamp = m_file.Stamp();
    const qint64 fileSize = stamp.Valid ? stamp.Size : m_file.FileSize();
    m_header.resize(kTableHeaderSize);
    m_file.ReadTableHeader(m_tableNo, m_header.data(), fileSize);
    const char *h = m_header.constData();

    const int32_t fieldCount = getI32(h + thFieldCount);
    const int32_t indexCount = getI32(h + thIndexCount);
    if (fieldCount < 0 || fieldCount > kMaxFields)
        damaged("field count outside 0 to 96");
    if (indexCount < 0 || indexCount > kMaxIndexes)
        damaged("index count outside 0 to 8");

    qint64 offset = 0;
    for (int i = 0; i < fieldCount; ++i) {
        const char *e = h + thFields + i * kFieldEntrySize;
        TDictFieldDef def;
        def.Name = platform::fromAnsiCodePage(getCStr(e + feName, kNameSize));
        def.FieldType = uint8_t(e[feType]);
        def.FieldSize = getI32(e + feSize);
        def.DataProcessMode = uint8_t(e[feProcessMode]);
        const int size = fieldStorageSize(def.FieldType, def.FieldSize);
        if (size < 0)
            throw EDictDBError(QStringLiteral("General error"));
        def.Offset = int(offset);
        def.Size = size;
        offset += size;
        if (offset > kMaxRecordSize)
            damaged("record size too large");
        if (def.FieldType == ftAutoInc && m_autoIncField < 0)
            m_autoIncField = i;
        m_fields << def;
    }
    m_recordSize = int(offset);

    for (int i = 0; i < indexCount; ++i) {
        const char *e = h + thIndexes + i * kIndexEntrySize;
        TDictIndexDef def;
        def.Name = platform::fromAnsiCodePage(getCStr(e + ieName, kNameSize));
        def.Options = uint8_t(e[ieOptions]);
        for (int j = 0; j < kMaxIndexFields; ++j) {
            const int32_t f = getI32(e + ieFields + 4 * j);
            if (f == -1)
                break;
            if (f < 0 || f >= fieldCount)
                damaged("index key field outside the table");
            def.Fields << f;
        }
        m_indexes << def;
    }

    const int32_t count = getI32(h + thRecordTabCount);
    if (count < 0)
        damaged("negative record count");
    // every record needs at least its 5-byte location item in the file
    if (qint64(count) * kRecordTabItemSize > fileSize)
        damaged("record count larger than the file");
    if (count > 0 && m_recordSize > fileSize)
        damaged("record larger than the file");
    if (restoreFromCache(stamp))
        return;
    m_items = t_items.take();
    m_items.resize(size_t(count));
    m_orders.resize(size_t(indexCount) + 1);
    for (auto &order : m_orders)
        order = t_orders.take();
    auto &physical = m_orders[0];
    physical.reserve(size_t(count));
    readItemsChain(getI32(h + thRecordTabOffset), kRecordTabItemSize, fileSize, m_recordBlocks,
                   [&](qint64 k, const char *raw) {
                       TRecordTabItem &item = m_items[size_t(k)];
                       item.DataOffset = getI32(raw);
                       item.Deleted = uint8_t(raw[4]);
                       if (item.Deleted != 0)
                           return;
                       if (item.DataOffset < 0 || item.DataOffset > fileSize
                           || (m_recordSize > 0 && item.DataOffset >= fileSize))
                           damaged("record outside the file");
                       physical.push_back({item.DataOffset, int32_t(k)});
                   });

    m_indexBlocks.assign(size_t(indexCount), {});
    m_indexNext.assign(size_t(indexCount), {});
    for (int i = 0; i < indexCount; ++i) {
        const char *e = h + thIndexes + i * kIndexEntrySize;
        const int32_t tabOffset = getI32(e + ieTabOffset);
        auto &next = m_indexNext[size_t(i)];
        if (tabOffset == 0 || count == 0)
            continue;
        if (qint64(count) * kIndexTabItemSize > fileSize)
            damaged("index larger than the file");
        next = t_next.take();
        next.resize(size_t(count));
        readItemsChain(tabOffset, kIndexTabItemSize, fileSize, m_indexBlocks[size_t(i)],
                       [&](qint64 k, const char *raw) { next[size_t(k)] = getI32(raw + 4); });
        auto &order = m_orders[size_t(i) + 1];
        order.reserve(physical.size());
        // Walking the chain chases one pointer per record; keeping each record's link,
        // location and deleted mark side by side makes that one memory access per step.
        struct Link
        {
            int32_t next, dataOffset;
        };
        thread_local std::vector<Link> links;
        links.resize(size_t(count));
        for (int32_t k = 0; k < count; ++k) {
            const TRecordTabItem &item = m_items[size_t(k)];
            // a deleted record is marked by a location that no live record can have
            links[size_t(k)] = {next[size_t(k)], item.Deleted ? int32_t(-1) : item.DataOffset};
        }
        int32_t r = getI32(e + ieHead);
        for (int32_t steps = 0; r != -1 && steps < count; ++steps) {
            if (uint32_t(r) >= uint32_t(count))
                damaged("index chain leaves the table");
            const Link link = links[size_t(r)];
            if (link.dataOffset >= 0)
                order.push_back({link.dataOffset, r});
            r = link.next;
        }
    }
    rememberInCache(stamp);
}

QByteArray TDictTableIO::ReadRecord(int32_t dataOffset)
{
    TDictFileLock lock(m_file);
    QByteArray rec(m_recordSize, Qt::Uninitialized);
    m_file.ReadAt(dataOffset, rec.data(), rec.size());
    if (m_file.Encrypted())
        for (const auto &def : m_fields)
            if (!def.IsBlob() && def.DataProcessMode == 0)
                m_file.DecodeValue(rec.constData() + def.Offset, rec.data() + def.Offset, def.Size);
    return rec;
}

FieldBytes TDictTableIO::ReadField(int32_t recordNo, int field)
{
    if (recordNo < 0 || recordNo >= RecordTabCount() || field < 0 || field >= m_fields.size())
        throw EDictDBError(QStringLiteral("General error"));
    const TDictFieldDef &def = m_fields[field];
    const qint64 pos = qint64(m_items[size_t(recordNo)].DataOffset) + def.Offset;
    if (def.IsBlob())
        return ReadBlob(pos, field);
    FieldBytes bytes(def.Size, Qt::Uninitialized);
    m_file.ReadAt(pos, bytes.data(), def.Size);
    if (m_file.Encrypted() && def.DataProcessMode == 0)
        m_file.DecodeValue(bytes.constData(), bytes.data(), def.Size);
    return bytes;
}

QByteArray TDictTableIO::ReadBlob(qint64 descriptorPos, int field)
{
    const TDictFieldDef &def = m_fields.at(field);
    char d[kBlobDescriptorSize];
    m_file.ReadAt(descriptorPos, d, kBlobDescriptorSize);
    const qint64 offset = getI32(d), size = getI32(d + 4);
    if (size == 0)
        return {};
    if (size < 0 || offset < 0 || offset + size > m_file.FileSize())
        damaged("blob outside the file");
    QByteArray stored(qsizetype(size), Qt::Uninitialized);
    m_file.ReadAt(offset, stored.data(), size);
    const bool processed = def.DataProcessMode == 0;
    return m_file.DecodeBlob(stored, processed && m_file.Compressed(), processed && m_file.Encrypted());
}

std::vector<FieldBytes> TDictTableIO::RecordKey(int index, int32_t recordNo)
{
    std::vector<FieldBytes> key;
    for (int f : m_indexes.at(index).Fields)
        key.push_back(ReadField(recordNo, f));
    return key;
}

int TDictTableIO::CompareKeyWithRecord(int index, const std::vector<FieldBytes> &key, int32_t recordNo,
                                       bool partial)
{
    const TDictIndexDef &idx = m_indexes[index];
    const bool ci = idx.Options & tiCaseInsensitive;
    for (int j = 0; j < idx.Fields.size(); ++j) {
        const int f = idx.Fields[j];
        const int c = compareFieldBytes(m_fields[f], key[size_t(j)], ReadField(recordNo, f), ci, partial);
        if (c != 0)
            return (idx.Options & tiDescending) ? -c : c;
    }
    return 0;
}

int TDictTableIO::FindKey(int index, const std::vector<FieldBytes> &key, bool partial)
{
    const TDictOrder &order = m_orders.at(size_t(index) + 1);
    int lo = 0, hi = int(order.size()) - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int c = CompareKeyWithRecord(index, key, order[size_t(mid)].RecordNo, partial);
        if (c == 0)
            return mid;
        if (c > 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

std::vector<FieldBytes> TDictTableIO::KeyOf(int index, const TDictRecordImage &image) const
{
    std::vector<FieldBytes> key;
    for (int f : m_indexes[index].Fields) {
        const TDictFieldDef &def = m_fields[f];
        if (def.IsBlob()) {
            const auto &v = image.Blobs.size() > size_t(f) ? image.Blobs[size_t(f)] : std::nullopt;
            key.push_back(v ? *v : QByteArray());
        } else {
            key.push_back(image.Plain.mid(def.Offset, def.Size));
        }
    }
    return key;
}

int TDictTableIO::insertPosition(int index, const std::vector<FieldBytes> &key)
{
    // after every entry that sorts equal, so equal keys keep their insertion order
    const TDictOrder &order = m_orders[size_t(index) + 1];
    int lo = 0, hi = int(order.size());
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (CompareKeyWithRecord(index, key, order[size_t(mid)].RecordNo, false) >= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void TDictTableIO::checkWritable()
{
    if (m_file.ReadOnly())
        throw EDictDBError(QStringLiteral("Cannot modify a read-only dataset"));
    if (!Loaded())
        throw EDictDBError(QStringLiteral("General error"));
}

void TDictTableIO::checkUnique(const TDictRecordImage &image, int32_t self)
{
    for (int i = 0; i < m_indexes.size(); ++i) {
        const TDictIndexDef &idx = m_indexes[i];
        if (!(idx.Options & (tiPrimary | tiUnique)))
            continue;
        const auto key = KeyOf(i, image);
        const int pos = FindKey(i, key, false);
        if (pos < 0)
            continue;
        const TDictOrder &order = m_orders[size_t(i) + 1];
        bool clash = false;
        for (int p = pos;
             p >= 0 && !clash && CompareKeyWithRecord(i, key, order[size_t(p)].RecordNo, false) == 0; --p)
            clash = order[size_t(p)].RecordNo != self;
        for (int p = pos + 1; p < int(order.size()) && !clash
             && CompareKeyWithRecord(i, key, order[size_t(p)].RecordNo, false) == 0;
             ++p)
            clash = order[size_t(p)].RecordNo != self;
        if (clash) {
            QStringList texts;
            for (int j = 0; j < idx.Fields.size(); ++j)
                texts << fieldText(m_fields[idx.Fields[j]], key[size_t(j)]);
            throw EDictDBError(
                QStringLiteral("Invalid unique field value '%1'").arg(texts.join(QLatin1Char(','))));
        }
    }
}

qint64 TDictTableIO::appendBlock(int blockSize)
{
    const qint64 pos = m_file.FileSize();
    const QByteArray zeros(blockSize, 0);
    m_file.WriteAt(pos, zeros.constData(), blockSize);
    return pos;
}

void TDictTableIO::writeHeader()
{
    m_file.WriteTableHeader(m_tableNo, m_header.constData());
}

void TDictTableIO::writeIndexNext(int index, int32_t recordNo)
{
    const auto &blocks = m_indexBlocks[size_t(index)];
    const size_t block = size_t(recordNo / kItemsPerBlock);
    if (block >= blocks.size())
        throw EDictDBError(QStringLiteral("General error"));
    char item[kIndexTabItemSize];
    putI32(item, recordNo);
    putI32(item + 4, m_indexNext[size_t(index)][size_t(recordNo)]);
    m_file.WriteAt(blocks[block] + 4 + qint64(recordNo % kItemsPerBlock) * kIndexTabItemSize, item,
                   kIndexTabItemSize);
}

void TDictTableIO::linkIntoIndex(int index, int32_t recordNo, const std::vector<FieldBytes> &key)
{
    auto &next = m_indexNext[size_t(index)];
    char *entry = m_header.data() + thIndexes + index * kIndexEntrySize;
    const int pos = insertPosition(index, key);
    TDictOrder &order = m_orders[size_t(index) + 1];
    if (pos == 0) {
        // new head; deleted records that led the chain stay behind it
        next[size_t(recordNo)] = getI32(entry + ieHead);
        putI32(entry + ieHead, recordNo);
    } else {
        const int32_t pred = order[size_t(pos) - 1].RecordNo;
        next[size_t(recordNo)] = next[size_t(pred)];
        next[size_t(pred)] = recordNo;
        writeIndexNext(index, pred);
    }
    writeIndexNext(index, recordNo);
    order.insert(order.begin() + pos, {m_items[size_t(recordNo)].DataOffset, recordNo});
}

void TDictTableIO::unlinkFromIndex(int index, int32_t recordNo)
{
    auto &next = m_indexNext[size_t(index)];
    char *entry = m_header.data() + thIndexes + index * kIndexEntrySize;
    int32_t prev = -1, r = getI32(entry + ieHead);
    for (int32_t steps = 0; r != -1 && r != recordNo && steps < RecordTabCount(); ++steps) {
        prev = r;
        r = next[size_t(r)];
        if (r < -1 || r >= RecordTabCount())
            damaged("index chain leaves the table");
    }
    if (r == recordNo) {
        if (prev == -1) {
            putI32(entry + ieHead, next[size_t(recordNo)]);
        } else {
            next[size_t(prev)] = next[size_t(recordNo)];
            writeIndexNext(index, prev);
        }
    }
    TDictOrder &order = m_orders[size_t(index) + 1];
    order.erase(std::remove_if(order.begin(), order.end(),
                               [&](const TDictOrderEntry &e) { return e.RecordNo == recordNo; }),
                order.end());
}

void TDictTableIO::removeFromOrders(int32_t recordNo)
{
    for (auto &order : m_orders)
        order.erase(std::remove_if(order.begin(), order.end(),
                                   [&](const TDictOrderEntry &e) { return e.RecordNo == recordNo; }),
                    order.end());
}

qint64 TDictTableIO::writeBlob(int field, const QByteArray &value, const char *oldDescriptor,
                               char *descriptor)
{
    const TDictFieldDef &def = m_fields[field];
    const bool processed = def.DataProcessMode == 0;
    const bool compressed = processed && m_file.Compressed(), encrypted = processed && m_file.Encrypted();
    const QByteArray stored = m_file.EncodeBlob(value, compressed, encrypted);
    const qint64 size = stored.size();
    qint64 capacity = (size / 64 + 1) * 64;
    const qint64 fileSize = m_file.FileSize();
    qint64 place = fileSize;
    if (oldDescriptor) {
        const qint64 oldOffset = getI32(oldDescriptor), oldCapacity = getI32(oldDescriptor + 8);
        if (oldOffset >= kFixedRegionSize && oldCapacity > 0 && oldOffset + oldCapacity <= fileSize) {
            if (size < oldCapacity) {
                place = oldOffset;
                capacity = oldCapacity;
            } else if (oldOffset + oldCapacity >= fileSize) {
                place = oldOffset; // the last thing in the file may simply grow
            }
        }
    }
    if (place + capacity > 0x7FFFFFFF)
        throw EDictDBError(QStringLiteral("General error"));
    QByteArray padded = stored;
    padded.append(QByteArray(qsizetype(capacity - size), 0));
    const uint32_t expected = crc32Of(value);
    for (int attempt = 0;; ++attempt) {
        m_file.WriteAt(place, padded.constData(), padded.size());
        if (!m_file.VerifyBlobWrites())
            break;
        QByteArray back(qsizetype(size), Qt::Uninitialized);
        m_file.ReadAt(place, back.data(), size);
        if (crc32Of(m_file.DecodeBlob(back, compressed, encrypted)) == expected)
            break;
        if (attempt + 1 >= kMaxVerifyAttempts)
            throw EDictDBError(QStringLiteral("Blob verification failed"));
    }
    putI32(descriptor, int32_t(place));
    putI32(descriptor + 4, int32_t(size));
    putI32(descriptor + 8, int32_t(capacity));
    std::memset(descriptor + 12, 0, 8);
    return place;
}

QByteArray TDictTableIO::storeRecord(const TDictRecordImage &image, int32_t dataOffset,
                                     const QByteArray *oldStored)
{
    QByteArray rec = image.Plain.leftJustified(m_recordSize, '\0', true);
    if (!oldStored) {
        // reserve the record's place before blobs go after it; no plain text reaches the file
        const QByteArray zeros(m_recordSize, 0);
        m_file.WriteAt(dataOffset, zeros.constData(), zeros.size());
    }
    for (int f = 0; f < m_fields.size(); ++f) {
        const TDictFieldDef &def = m_fields[f];
        if (!def.IsBlob())
            continue;
        const char *old = oldStored ? oldStored->constData() + def.Offset : nullptr;
        const auto &v = image.Blobs.size() > size_t(f) ? image.Blobs[size_t(f)] : std::nullopt;
        if (v)
            writeBlob(f, *v, old, rec.data() + def.Offset);
        else if (old)
            std::memcpy(rec.data() + def.Offset, old, kBlobDescriptorSize);
        else
            std::memset(rec.data() + def.Offset, 0, kBlobDescriptorSize);
    }
    if (m_file.Encrypted())
        for (const auto &def : m_fields)
            if (!def.IsBlob() && def.DataProcessMode == 0)
                m_file.EncodeValue(rec.constData() + def.Offset, rec.data() + def.Offset, def.Size);
    m_file.WriteAt(dataOffset, rec.constData(), rec.size());
    return rec;
}

int32_t TDictTableIO::AppendRecord(TDictRecordImage image)
{
    checkWritable();
    TDictFileLock lock(m_file);
    image.Plain = image.Plain.leftJustified(m_recordSize, '\0', true);
    char *h = m_header.data();
    int32_t last = getI32(h + thLastAutoInc);
    if (m_autoIncField >= 0) {
        char *p = image.Plain.data() + m_fields[m_autoIncField].Offset;
        int32_t v = getI32(p);
        if (v == 0) {
            v = last + 1;
            putI32(p, v);
        }
        last = std::max(last, v);
    }
    checkUnique(image, -1);
    const int32_t k = RecordTabCount();
    if (k == 0x7FFFFFFF)
        throw EDictDBError(QStringLiteral("General error"));
    for (int i = 0; i < m_indexes.size(); ++i)
        if (m_indexBlocks[size_t(i)].size() < size_t(k / kItemsPerBlock) + (k % kItemsPerBlock ? 1 : 0))
            throw EDictDBError(
                QStringLiteral("General error")); // an index without its blocks cannot be extended

    if (k % kItemsPerBlock == 0) {
        const qint64 block = appendBlock(kRecordTabBlockSize);
        if (k == 0) {
            putI32(h + thRecordTabOffset, int32_t(block));
        } else {
            char next[4];
            putI32(next, int32_t(block));
            m_file.WriteAt(m_recordBlocks.back(), next, 4);
        }
        m_recordBlocks.push_back(block);
    }
    const auto dataOffset = int32_t(m_file.FileSize());
    char item[kRecordTabItemSize];
    putI32(item, dataOffset);
    item[4] = 0;
    m_file.WriteAt(m_recordBlocks.back() + 4 + qint64(k % kItemsPerBlock) * kRecordTabItemSize, item,
                   kRecordTabItemSize);
    m_items.push_back({dataOffset, 0});
    putI32(h + thRecordTabCount, k + 1);
    putI32(h + thLastAutoInc, last);
    writeHeader();

    storeRecord(image, dataOffset, nullptr);
    m_orders[0].push_back({dataOffset, k});

    for (int i = 0; i < m_indexes.size(); ++i) {
        auto &blocks = m_indexBlocks[size_t(i)];
        if (k % kItemsPerBlock == 0) {
            const qint64 block = appendBlock(kIndexTabBlockSize);
            char *entry = h + thIndexes + i * kIndexEntrySize;
            if (blocks.empty()) {
                putI32(entry + ieTabOffset, int32_t(block));
                putI32(entry + ieHead, -1);
            } else {
                char next[4];
                putI32(next, int32_t(block));
                m_file.WriteAt(blocks.back(), next, 4);
            }
            blocks.push_back(block);
        }
        m_indexNext[size_t(i)].push_back(-1);
        linkIntoIndex(i, k, KeyOf(i, image));
    }
    writeHeader();
    return k;
}

void TDictTableIO::UpdateRecord(int32_t recordNo, TDictRecordImage image)
{
    checkWritable();
    TDictFileLock lock(m_file);
    if (recordNo < 0 || recordNo >= RecordTabCount() || m_items[size_t(recordNo)].Deleted)
        throw EDictDBError(QStringLiteral("Record not found"));
    image.Plain = image.Plain.leftJustified(m_recordSize, '\0', true);
    const int32_t dataOffset = m_items[size_t(recordNo)].DataOffset;
    QByteArray oldStored(m_recordSize, Qt::Uninitialized);
    m_file.ReadAt(dataOffset, oldStored.data(), oldStored.size());
    // unchanged blobs that are part of a key are needed for ordering
    for (const auto &idx : m_indexes)
        for (int f : idx.Fields)
            if (m_fields[f].IsBlob()) {
                if (image.Blobs.size() <= size_t(f))
                    image.Blobs.resize(size_t(m_fields.size()));
                if (!image.Blobs[size_t(f)])
                    image.Blobs[size_t(f)] = ReadField(recordNo, f);
            }
    if (m_autoIncField >= 0) {
        const int32_t v = getI32(image.Plain.constData() + m_fields[m_autoIncField].Offset);
        if (v > LastAutoInc())
            putI32(m_header.data() + thLastAutoInc, v);
    }
    checkUnique(image, recordNo);
    storeRecord(image, dataOffset, &oldStored);
    for (int i = 0; i < m_indexes.size(); ++i) {
        if (m_indexNext[size_t(i)].size() != m_items.size())
            continue;
        unlinkFromIndex(i, recordNo);
        linkIntoIndex(i, recordNo, KeyOf(i, image));
    }
    writeHeader();
}

void TDictTableIO::DeleteRecord(int32_t recordNo)
{
    checkWritable();
    TDictFileLock lock(m_file);
    if (recordNo < 0 || recordNo >= RecordTabCount())
        throw EDictDBError(QStringLiteral("Record not found"));
    if (m_items[size_t(recordNo)].Deleted)
        return;
    const char deleted = 1;
    m_file.WriteAt(m_recordBlocks.at(size_t(recordNo / kItemsPerBlock)) + 4
                       + qint64(recordNo % kItemsPerBlock) * kRecordTabItemSize + 4,
                   &deleted, 1);
    m_items[size_t(recordNo)].Deleted = 1;
    removeFromOrders(recordNo);
}
