#include "platform/SharedFile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct flock rangeOf(short type, qint64 start, qint64 length)
{
    struct flock fl
    {
    };
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    return fl;
}

} // namespace

SharedFile::~SharedFile()
{
    close();
}

bool SharedFile::open(const QString &path)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // no write bit for anyone counts as a read-only file, also for the superuser
    m_readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    int fd = -1;
    if (!m_readOnly) {
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
            m_readOnly = true;
    }
    if (fd < 0 && m_readOnly)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    m_fd = fd;
    return true;
}

void SharedFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_readOnly = false;
}

qint64 SharedFile::readAt(qint64 offset, void *buffer, qint64 count)
{
    qint64 done = 0;
    while (m_fd >= 0 && offset >= 0 && done < count) {
        const ssize_t n
            = ::pread(m_fd, static_cast<char *>(buffer) + done, size_t(count - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool SharedFile::writeAt(qint64 offset, const void *buffer, qint64 count)
{
    if (m_fd < 0 || offset < 0)
        return false;
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_fd, static_cast<const char *>(buffer) + done, size_t(count - done),
                                   off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

qint64 SharedFile::size()
{
    struct stat st
    {
    };
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : 0;
}

bool SharedFile::flush()
{
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

FileStamp SharedFile::stamp()
{
    return fileStampOf(m_fd);
}

SharedFile::LockResult SharedFile::tryLock(qint64 start, qint64 length, LockKind kind)
{
    if (m_fd < 0)
        return LockResult::Failed;
    struct flock fl = rangeOf(kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK, start, length);
    for (;;) {
        if (::fcntl(m_fd, F_OFD_SETLK, &fl) == 0)
            return LockResult::Taken;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EACCES ? LockResult::Busy : LockResult::Failed;
    }
}

void SharedFile::unlock(qint64 start, qint64 length)
{
    if (m_fd < 0)
        return;
    struct flock fl = rangeOf(F_UNLCK, start, length);
    while (::fcntl(m_fd, F_OFD_SETLK, &fl) != 0 && errno == EINTR) { }
}

bool SharedFile::lockedElsewhere(qint64 start, qint64 length, LockKind kind)
{
    if (m_fd < 0)
        return false;
    struct flock fl = rangeOf(kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK, start, length);
    if (::fcntl(m_fd, F_OFD_GETLK, &fl) != 0)
        return false;
    return fl.l_type != F_UNLCK;
}

} // namespace platform
