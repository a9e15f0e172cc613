#pragma once
// File level of the database: opening and checking a file, its fixed blocks, the
// inter-process lock and the processing of stored values.

#include "db/DictDBCommon.h"
#include "db/DictDataProcess.h"
#include "platform/SharedFile.h"

#include <QStringList>
#include <memory>
#include <mutex>

class TDictDatabase;

// Identity and change marks of a disk file, for recognising an unchanged file.
struct TDictFileStamp
{
    bool Valid = false;
    quint64 Device = 0, Inode = 0;
    qint64 Size = 0, ModifiedNs = 0, ChangedNs = 0;
    bool SameFileAndContent(const TDictFileStamp &o) const
    {
        return Valid && o.Valid && Device == o.Device && Inode == o.Inode && Size == o.Size
            && ModifiedNs == o.ModifiedNs && ChangedNs == o.ChangedNs;
    }
};

// Positioned access to the bytes of a database, on disk or in memory.
class TDictDBStream
{
public:
    virtual ~TDictDBStream() = default;
    // Reads up to count bytes; returns how many were there.
    virtual qint64 ReadAt(qint64 offset, void *buffer, qint64 count) = 0;
    virtual void WriteAt(qint64 offset, const void *buffer, qint64 count) = 0;
    virtual qint64 Size() = 0;
    virtual void Flush() { }
    virtual bool IsFlushed() const { return true; }
};

// Buffers handed out under names ":<hex>" for the memory medium.
class TDictMemoryStreams
{
public:
    // The caller keeps the buffer alive until it unregisters it.
    static QString Register(QByteArray *buffer);
    static void Unregister(const QString &name);
    static QByteArray *Find(const QString &name);
};

class TDictDBFileIO
{
public:
    explicit TDictDBFileIO(TDictDatabase *owner = nullptr);
    ~TDictDBFileIO();
    TDictDBFileIO(const TDictDBFileIO &) = delete;
    TDictDBFileIO &operator=(const TDictDBFileIO &) = delete;

    void Open(const QString &fileName, TDictDBMediumType medium = mtDisk, bool exclusive = false);
    void Close();
    bool IsOpen() const { return m_stream != nullptr; }
    bool IsFlushed() const;
    void Flush();

    void ReadDatabaseHeader();
    void ReadTableDirectory();
    void ReadTableHeader(int tableNo, char *buffer, qint64 fileSize = -1);
    void WriteTableHeader(int tableNo, const char *buffer);
    QStringList GetTableNames();
    // The names as read by the first GetTableNames of this open (they never change while open).
    QStringList CachedTableNames();
    int TableCount() const;
    qint64 TableHeaderOffset(int tableNo) const;

    // Reads count bytes at offset; bytes past the end of the file read as zero.
    void ReadAt(qint64 offset, void *buffer, qint64 count);
    void WriteAt(qint64 offset, const void *buffer, qint64 count);
    qint64 FileSize();
    // Only for disk files; a memory stream gives an invalid stamp.
    TDictFileStamp Stamp();

    void Lock();
    void Unlock();
    int LockRetryCount = 20;
    int LockWaitTime = 100;

    bool SetPassword(const QString &password);

    // Value processing; each runs under the data-processing lock.
    void DecodeValue(const char *src, char *dst, int len);
    void EncodeValue(const char *src, char *dst, int len);
    QByteArray DecodeBlob(const QByteArray &stored, bool compressed, bool encrypted);
    QByteArray EncodeBlob(const QByteArray &value, bool compressed, bool encrypted);

    TDictDatabase *Owner() const { return m_owner; }
    QString FileName() const { return m_fileName; }
    TDictDBMediumType Medium() const { return m_medium; }
    bool Exclusive() const { return m_exclusive; }
    bool ReadOnly() const { return m_readOnly; }
    bool Compressed() const { return m_header[dictdb::dhCompressed] != 0; }
    bool Encrypted() const { return m_header[dictdb::dhEncrypted] != 0; }
    bool VerifyBlobWrites() const { return m_header[dictdb::dhVerifyBlobWrites] != 0; }
    int EncryptMode() const { return uint8_t(m_header[dictdb::dhEncryptMode]); }
    QString CompressAlgoName() const;
    QString EncryptAlgoName() const;
    QString VersionText() const { return m_version; }
    const char *DatabaseHeader() const { return m_header; }

    TCompressMgr &CompressMgr() { return m_compress; }
    TEncryptMgr &EncryptMgr() { return m_encrypt; }

private:
    void openDisk(const QString &fileName, bool exclusive);
    void openMemory(const QString &fileName);
    void checkIdentification(const char *first12, const QString &fileName);
    void checkVersion(const char *first12);
    void selectAlgorithms();
    void checkTableCount();
    TDictDBStream &stream();

    TDictDatabase *m_owner;
    QString m_fileName;
    TDictDBMediumType m_medium = mtDisk;
    bool m_exclusive = false;
    bool m_readOnly = false;
    std::unique_ptr<TDictDBStream> m_stream;
    platform::SharedFile *m_disk = nullptr; // disk files: owned by m_stream, carries the locks
    int m_lockDepth = 0;
    QString m_version;
    QStringList m_tableNames;
    bool m_haveTableNames = false;
    char m_header[dictdb::kDatabaseHeaderSize] = {};
    char m_directory[dictdb::kTableDirectorySize] = {};
    TCompressMgr m_compress;
    TEncryptMgr m_encrypt;
    std::recursive_mutex m_dataLock;
};

// Holds the file lock for a scope; released on every path.
class TDictFileLock
{
public:
    explicit TDictFileLock(TDictDBFileIO &io)
        : m_io(io)
    {
        m_io.Lock();
    }
    ~TDictFileLock() { m_io.Unlock(); }
    TDictFileLock(const TDictFileLock &) = delete;
    TDictFileLock &operator=(const TDictFileLock &) = delete;

private:
    TDictDBFileIO &m_io;
};
