#include "platform/FileIO.h"

#include "platform/FileStamp.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool preadWhole(int fd, std::vector<char> *buffer, size_t *size)
{
    while (true) {
        size_t got = 0;
        while (true) {
            const ssize_t n = ::pread(fd, buffer->data() + got, buffer->size() - got, off_t(got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (n == 0)
                break;
            got += size_t(n);
            if (got == buffer->size())
                break;
        }
        if (got < buffer->size()) {
            *size = got;
            return true;
        }
        if (buffer->size() >= (64u << 20))
            return false;
        buffer->resize(buffer->size() * 2);
    }
}

bool readWholeFile(const char *path, std::vector<char> *buffer, size_t *size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (buffer->empty())
        buffer->resize(4096);
    const bool ok = preadWhole(fd, buffer, size);
    ::close(fd);
    return ok;
}

QByteArray readWholeFile(const QString &path, bool *ok)
{
    std::vector<char> buffer;
    size_t size = 0;
    const bool read = readWholeFile(QFile::encodeName(path).constData(), &buffer, &size);
    if (ok)
        *ok = read;
    return read ? QByteArray(buffer.data(), qsizetype(size)) : QByteArray();
}

bool writeFileAtomically(const QString &file, const QByteArray &data, QString &error)
{
    const QByteArray target = QFile::encodeName(file);
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("cannot create a temporary file beside %1: %2")
                    .arg(file, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const char *p = data.constData();
    qsizetype left = data.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    int savedErrno = errno;
    if (ok && ::fchmod(fd, 0644) != 0) { }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        savedErrno = errno;
    }
    ::close(fd);
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        error = QStringLiteral("cannot write %1: %2")
                    .arg(file, QString::fromLocal8Bit(std::strerror(savedErrno)));
        return false;
    }
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

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

int appendDurably(const QString &file, const QByteArray &data)
{
    const int fd
        = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = 0;
    const char *at = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        at += n;
        left -= n;
    }
    if (error == 0 && ::fdatasync(fd) != 0)
        error = errno;
    ::close(fd);
    return error;
}

QByteArray readFileTail(const QString &path, qint64 maxBytes, bool *ok)
{
    if (ok)
        *ok = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st
    {
    };
    QByteArray out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const qint64 size = qint64(st.st_size);
        const qint64 from = size > maxBytes ? size - maxBytes : 0;
        out.resize(qsizetype(size - from));
        qsizetype got = 0;
        bool failed = false;
        while (got < out.size()) {
            const ssize_t n = ::pread(fd, out.data() + got, size_t(out.size() - got), off_t(from + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                failed = true;
                break;
            }
            if (n == 0)
                break; // cut shorter meanwhile
            got += n;
        }
        out.resize(got);
        if (ok)
            *ok = !failed;
    }
    ::close(fd);
    return out;
}

} // namespace platform

namespace platform {

namespace {

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileStamp stampFrom(const struct stat &st)
{
    FileStamp s;
    s.Valid = true;
    s.Device = quint64(st.st_dev);
    s.Inode = quint64(st.st_ino);
    s.Size = qint64(st.st_size);
    s.ModifiedNs = nanoseconds(st.st_mtim);
    s.ChangedNs = nanoseconds(st.st_ctim);
    return s;
}

} // namespace

FileStamp fileStampOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return stampFrom(st);
}

FileStamp fileStampOf(int fd)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return {};
    return stampFrom(st);
}

} // namespace platform
