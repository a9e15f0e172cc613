#include "platform/FileIO.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace platform {

bool RawFile::open(const QString &path, Mode mode)
{
    close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::WriteCreate:
        flags |= O_WRONLY | O_CREAT;
        break;
    case Mode::ReadWriteCreateTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    m_fd = ::open(QFile::encodeName(path).constData(), flags, 0644);
    m_error = m_fd < 0 ? errno : 0;
    return m_fd >= 0;
}

void RawFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawFile::write(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = errno;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool RawFile::writeAt(qint64 offset, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, data, size_t(size), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = errno;
            return false;
        }
        if (n == 0) {
            m_error = EIO;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

qint64 RawFile::readAt(qint64 offset, char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::pread(m_fd, data, size_t(size), off_t(offset));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_error = errno;
            return -1;
        }
    }
}

bool RawFile::resizeAndSeek(qint64 size)
{
    if (::ftruncate(m_fd, off_t(size)) != 0 || ::lseek(m_fd, off_t(size), SEEK_SET) < 0) {
        m_error = errno;
        return false;
    }
    return true;
}

int makeDirectories(const QString &dir)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(dir).toStdString()), ec);
    return ec ? ec.value() : 0;
}

} // namespace platform
