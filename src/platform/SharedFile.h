#pragma once

#include "platform/FileStamp.h"

#include <QString>
#include <QtGlobal>

namespace platform {

// A regular file that several processes read and write at explicit positions, with
// byte-range locks that belong to this open of the file (not to the process): two opens
// in one process exclude each other exactly as two processes do, and closing one never
// drops the locks of another. On Linux the locks are open-file-description locks, which
// network file systems carry as ordinary byte-range locks.
class SharedFile
{
public:
    enum class LockKind { Shared, Exclusive };
    enum class LockResult {
        Taken,
        Busy, // another open of the file holds a conflicting lock
        Failed, // not possible at all (for example an exclusive lock on a read-only open)
    };

    SharedFile() = default;
    ~SharedFile();
    SharedFile(const SharedFile &) = delete;
    SharedFile &operator=(const SharedFile &) = delete;

    // Opens an existing regular file for reading and writing; for reading only when no
    // one has write permission on it or it cannot be opened for writing. False when it
    // does not exist, is not a regular file or cannot be opened at all.
    bool open(const QString &path);
    void close(); // every lock of this open goes with it
    bool isOpen() const { return m_fd >= 0; }
    bool readOnly() const { return m_readOnly; }

    // Reads up to count bytes; returns how many there were (fewer at the end of the file).
    qint64 readAt(qint64 offset, void *buffer, qint64 count);
    // Writes all count bytes; false when the system refused.
    bool writeAt(qint64 offset, const void *buffer, qint64 count);
    qint64 size();
    // Forces the written bytes to the storage device.
    bool flush();
    FileStamp stamp();

    // Locks the bytes [start, start + length) without waiting. Ranges may lie past the
    // end of the file. A lock taken again on the same range changes its kind.
    LockResult tryLock(qint64 start, qint64 length, LockKind kind);
    void unlock(qint64 start, qint64 length);
    // Whether another open of the file holds a lock on the range that conflicts with
    // one of the given kind.
    bool lockedElsewhere(qint64 start, qint64 length, LockKind kind);

private:
    int m_fd = -1;
    bool m_readOnly = false;
};

} // namespace platform
