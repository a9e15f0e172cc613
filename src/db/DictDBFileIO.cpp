#include "db/DictDBFileIO.h"

#include "platform/AnsiCodePage.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>

using namespace dictdb;

namespace {

// Sharing between openers is a lock on byte 0, beside the lock on byte 1 that table
// access takes: two byte-range locks of one open file that never overlap. A whole-file
// sharing lock would cover byte 1 on a network file system, where it becomes a
// byte-range lock too, and every table access would wait for the program's own open.
constexpr qint64 kShareLockOffset = 0;
constexpr qint64 kAccessLockOffset = 1;

class DiskStream final : public TDictDBStream
{
public:
    explicit DiskStream(std::unique_ptr<platform::SharedFile> file)
        : m_file(std::move(file))
    { }
    qint64 ReadAt(qint64 offset, void *buffer, qint64 count) override
    {
        return m_file->readAt(offset, buffer, count);
    }
    void WriteAt(qint64 offset, const void *buffer, qint64 count) override
    {
        m_flushed = false;
        if (!m_file->writeAt(offset, buffer, count))
            throw EDictDBError(QStringLiteral("Failed to write file"));
    }
    qint64 Size() override { return m_file->size(); }
    void Flush() override
    {
        m_file->flush();
        m_flushed = true;
    }
    bool IsFlushed() const override { return m_flushed; }

private:
    std::unique_ptr<platform::SharedFile> m_file;
    bool m_flushed = true;
};

class MemoryStream final : public TDictDBStream
{
public:
    explicit MemoryStream(QByteArray *buffer)
        : m_buffer(buffer)
    { }
    qint64 ReadAt(qint64 offset, void *buffer, qint64 count) override
    {
        if (offset < 0 || offset >= m_buffer->size())
            return 0;
        const qint64 n = std::min<qint64>(count, m_buffer->size() - offset);
        std::memcpy(buffer, m_buffer->constData() + offset, size_t(n));
        return n;
    }
    void WriteAt(qint64 offset, const void *buffer, qint64 count) override
    {
        if (offset + count > m_buffer->size())
            m_buffer->resize(qsizetype(offset + count), 0);
        std::memcpy(m_buffer->data() + offset, buffer, size_t(count));
    }
    qint64 Size() override { return m_buffer->size(); }

private:
    QByteArray *m_buffer;
};

QMutex g_memoryMutex;
QHash<QString, QByteArray *> g_memoryStreams;
quint64 g_memoryCounter = 0;

} // namespace

QString TDictMemoryStreams::Register(QByteArray *buffer)
{
    QMutexLocker lock(&g_memoryMutex);
    const QString name = QStringLiteral(":%1").arg(++g_memoryCounter, 0, 16).toUpper();
    g_memoryStreams.insert(name.toUpper(), buffer);
    return name;
}

void TDictMemoryStreams::Unregister(const QString &name)
{
    QMutexLocker lock(&g_memoryMutex);
    g_memoryStreams.remove(name.toUpper());
}

QByteArray *TDictMemoryStreams::Find(const QString &name)
{
    QMutexLocker lock(&g_memoryMutex);
    return g_memoryStreams.value(name.toUpper(), nullptr);
}

TDictDBFileIO::TDictDBFileIO(TDictDatabase *owner)
    : m_owner(owner)
{ }

TDictDBFileIO::~TDictDBFileIO()
{
    Close();
}

void TDictDBFileIO::Open(const QString &fileName, TDictDBMediumType medium, bool exclusive)
{
    if (IsOpen())
        return;
    m_fileName = fileName;
    m_medium = medium;
    m_exclusive = exclusive;
    try {
        if (medium == mtMemory) {
            openMemory(fileName);
            ReadDatabaseHeader();
            ReadTableDirectory();
        } else {
            openDisk(fileName, exclusive); // reads the fixed blocks as well
        }
        checkTableCount();
        selectAlgorithms();
    } catch (...) {
        Close();
        throw;
    }
}

void TDictDBFileIO::checkIdentification(const char *first12, const QString &fileName)
{
    if (getCStr(first12, kIdentSize) != "DictDB")
        throw EDictDBError(QStringLiteral("Database file '%1' is a invalid DictDB").arg(fileName));
}

void TDictDBFileIO::checkVersion(const char *first12)
{
    const QByteArray version = getCStr(first12 + kVersionOffset, kVersionSize);
    m_version = QString::fromLatin1(version);
    if (version == "1.00")
        throw EDictDBError(QStringLiteral("Version 1.00 is not compatible"));
    if (version > QByteArray("1.0"))
        throw EDictDBError(QStringLiteral("Version of database file is too High"));
}

void TDictDBFileIO::openDisk(const QString &fileName, bool exclusive)
{
    auto file = std::make_unique<platform::SharedFile>();
    if (!file->open(fileName))
        throw EDictDBError(QStringLiteral("Failed to open file"));
    m_readOnly = file->readOnly();
    // identification, version, database header and directory in one read of one open
    char fixed[kFixedRegionSize] = {};
    file->readAt(0, fixed, kFixedRegionSize);
    checkIdentification(fixed, fileName);
    checkVersion(fixed);
    std::memcpy(m_header, fixed + kDatabaseHeaderOffset, kDatabaseHeaderSize);
    std::memcpy(m_directory, fixed + kTableDirectoryOffset, kTableDirectorySize);
    // Sharing: every opener holds the share byte; an exclusive opener holds it alone, so
    // it is refused while others have the file open and refuses them while it does.
    using Kind = platform::SharedFile::LockKind;
    using Result = platform::SharedFile::LockResult;
    Result shared = Result::Failed;
    if (!exclusive) {
        shared = file->tryLock(kShareLockOffset, 1, Kind::Shared);
    } else if (!m_readOnly) {
        shared = file->tryLock(kShareLockOffset, 1, Kind::Exclusive);
    } else if (!file->lockedElsewhere(kShareLockOffset, 1, Kind::Exclusive)) {
        // an open for reading can hold only a shared lock: it refuses exclusive openers
        // and comes in only when no one else has the file open
        shared = file->tryLock(kShareLockOffset, 1, Kind::Shared);
    }
    if (shared != Result::Taken)
        throw EDictDBError(QStringLiteral("Failed to open file"));
    m_disk = file.get();
    m_stream = std::make_unique<DiskStream>(std::move(file));
}

void TDictDBFileIO::openMemory(const QString &fileName)
{
    static const QRegularExpression nameSyntax(QStringLiteral("^:[0-9A-Fa-f]+$"));
    if (!nameSyntax.match(fileName).hasMatch())
        throw EDictDBError(QStringLiteral("Invalid database name '%1'").arg(fileName));
    QByteArray *buffer = TDictMemoryStreams::Find(fileName);
    if (!buffer)
        throw EDictDBError(QStringLiteral("Failed to open file"));
    m_readOnly = false;
    m_stream = std::make_unique<MemoryStream>(buffer);
    char first[12] = {};
    m_stream->ReadAt(0, first, 12);
    checkIdentification(first, fileName);
    checkVersion(first);
}

void TDictDBFileIO::selectAlgorithms()
{
    if (Compressed())
        m_compress.SetAlgorithm(CompressAlgoName());
    if (Encrypted()) {
        m_encrypt.SetAlgorithm(EncryptAlgoName());
        m_encrypt.SetMode(EncryptMode());
    }
}

void TDictDBFileIO::Close()
{
    while (m_lockDepth > 0)
        Unlock();
    m_disk = nullptr;
    m_stream.reset(); // closing the file drops its sharing and byte locks
    m_haveTableNames = false;
    m_tableNames.clear();
}

bool TDictDBFileIO::IsFlushed() const
{
    return !m_stream || m_stream->IsFlushed();
}

void TDictDBFileIO::Flush()
{
    if (m_stream)
        m_stream->Flush();
}

TDictDBStream &TDictDBFileIO::stream()
{
    if (!m_stream)
        throw EDictDBError(QStringLiteral("Cannot perform this operation on a closed database"));
    return *m_stream;
}

void TDictDBFileIO::ReadDatabaseHeader()
{
    ReadAt(kDatabaseHeaderOffset, m_header, kDatabaseHeaderSize);
}

void TDictDBFileIO::ReadTableDirectory()
{
    ReadAt(kTableDirectoryOffset, m_directory, kTableDirectorySize);
}

void TDictDBFileIO::checkTableCount()
{
    const int32_t count = getI32(m_directory);
    if (count < 0 || count > kMaxTables)
        damaged("table count outside 0 to 256");
}

int TDictDBFileIO::TableCount() const
{
    return getI32(m_directory);
}

qint64 TDictDBFileIO::TableHeaderOffset(int tableNo) const
{
    if (tableNo < 0 || tableNo >= TableCount())
        throw EDictDBError(QStringLiteral("General error"));
    return getI32(m_directory + 8 + 4 * tableNo);
}

void TDictDBFileIO::ReadTableHeader(int tableNo, char *buffer, qint64 fileSize)
{
    const qint64 offset = TableHeaderOffset(tableNo);
    if (offset < kFixedRegionSize || offset >= (fileSize < 0 ? FileSize() : fileSize))
        damaged("table header outside the file");
    ReadAt(offset, buffer, kTableHeaderSize);
}

void TDictDBFileIO::WriteTableHeader(int tableNo, const char *buffer)
{
    const qint64 offset = TableHeaderOffset(tableNo);
    if (offset < kFixedRegionSize)
        damaged("table header outside the file");
    WriteAt(offset, buffer, kTableHeaderSize);
}

QStringList TDictDBFileIO::GetTableNames()
{
    QStringList names;
    char buffer[kTableHeaderSize];
    const qint64 size = FileSize();
    for (int i = 0; i < TableCount(); ++i) {
        ReadTableHeader(i, buffer, size);
        names << platform::fromAnsiCodePage(getCStr(buffer + thTableName, kNameSize));
    }
    m_tableNames = names;
    m_haveTableNames = true;
    return names;
}

QStringList TDictDBFileIO::CachedTableNames()
{
    return m_haveTableNames ? m_tableNames : GetTableNames();
}

void TDictDBFileIO::ReadAt(qint64 offset, void *buffer, qint64 count)
{
    if (count <= 0)
        return;
    const qint64 got = offset < 0 ? 0 : stream().ReadAt(offset, buffer, count);
    if (got < count)
        std::memset(static_cast<char *>(buffer) + std::max<qint64>(got, 0), 0,
                    size_t(count - std::max<qint64>(got, 0)));
}

void TDictDBFileIO::WriteAt(qint64 offset, const void *buffer, qint64 count)
{
    if (m_readOnly)
        throw EDictDBError(QStringLiteral("Cannot modify a read-only dataset"));
    if (offset < 0 || offset + count > 0x7FFFFFFF)
        throw EDictDBError(QStringLiteral("General error"));
    stream().WriteAt(offset, buffer, count);
}

qint64 TDictDBFileIO::FileSize()
{
    return stream().Size();
}

TDictFileStamp TDictDBFileIO::Stamp()
{
    TDictFileStamp stamp;
    if (m_medium != mtDisk || !m_disk)
        return stamp;
    const platform::FileStamp s = m_disk->stamp();
    stamp.Valid = s.Valid;
    stamp.Device = s.Device;
    stamp.Inode = s.Inode;
    stamp.Size = s.Size;
    stamp.ModifiedNs = s.ModifiedNs;
    stamp.ChangedNs = s.ChangedNs;
    return stamp;
}

void TDictDBFileIO::Lock()
{
    if (m_medium != mtDisk || !IsOpen() || !m_disk)
        return;
    if (m_lockDepth++ > 0)
        return; // already held by this object
    using Kind = platform::SharedFile::LockKind;
    using Result = platform::SharedFile::LockResult;
    // an open for reading can hold only a shared lock
    const Kind kind = m_readOnly ? Kind::Shared : Kind::Exclusive;
    int failures = 0;
    for (;;) {
        const Result r = m_disk->tryLock(kAccessLockOffset, 1, kind);
        if (r == Result::Taken)
            return;
        ++failures;
        if (r == Result::Failed || (LockRetryCount != 0 && failures > LockRetryCount)) {
            m_lockDepth = 0;
            throw EDictDBError(QStringLiteral("Wait for unlock time out"));
        }
        QThread::msleep(ulong(std::max(0, LockWaitTime)));
    }
}

void TDictDBFileIO::Unlock()
{
    if (m_lockDepth <= 0)
        return;
    if (--m_lockDepth > 0)
        return;
    if (m_disk)
        m_disk->unlock(kAccessLockOffset, 1);
}

QString TDictDBFileIO::CompressAlgoName() const
{
    return platform::fromAnsiCodePage(getCStr(m_header + dhCompressAlgoName, kNameSize));
}
QString TDictDBFileIO::EncryptAlgoName() const
{
    return platform::fromAnsiCodePage(getCStr(m_header + dhEncryptAlgoName, kNameSize));
}

bool TDictDBFileIO::SetPassword(const QString &password)
{
    if (!IsOpen())
        return false;
    if (!Encrypted())
        return true;
    const QString stored = platform::fromAnsiCodePage(getCStr(m_header + dhPasswordHash, kPasswordHashSize));
    if (passwordDigestText(password) != stored)
        return false;
    std::lock_guard lock(m_dataLock);
    m_encrypt.SetPassword(password);
    return true;
}

void TDictDBFileIO::DecodeValue(const char *src, char *dst, int len)
{
    if (!Encrypted()) {
        std::memmove(dst, src, size_t(len));
        return;
    }
    std::lock_guard lock(m_dataLock);
    m_encrypt.DecryptBuffer(reinterpret_cast<const uint8_t *>(src), reinterpret_cast<uint8_t *>(dst),
                            size_t(len));
}

void TDictDBFileIO::EncodeValue(const char *src, char *dst, int len)
{
    if (!Encrypted()) {
        std::memmove(dst, src, size_t(len));
        return;
    }
    std::lock_guard lock(m_dataLock);
    m_encrypt.EncryptBuffer(reinterpret_cast<const uint8_t *>(src), reinterpret_cast<uint8_t *>(dst),
                            size_t(len));
}

QByteArray TDictDBFileIO::DecodeBlob(const QByteArray &stored, bool compressed, bool encrypted)
{
    std::lock_guard lock(m_dataLock);
    QByteArray value = encrypted ? m_encrypt.DecodeStream(stored) : stored;
    return compressed ? m_compress.DecodeStream(value) : value;
}

QByteArray TDictDBFileIO::EncodeBlob(const QByteArray &value, bool compressed, bool encrypted)
{
    std::lock_guard lock(m_dataLock);
    QByteArray stored = compressed ? m_compress.EncodeStream(value) : value;
    return encrypted ? m_encrypt.EncodeStream(stored) : stored;
}
