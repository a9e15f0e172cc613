#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// A file for plain unbuffered writes and reads at given offsets, reporting the
// operating system's error number when something fails (what a downloader
// shows its user). Closed on destruction.
class RawFile
{
public:
    enum class Mode {
        ReadWrite, // an existing file
        WriteCreate, // created when missing, kept otherwise
        ReadWriteCreateTruncate, // created or emptied
    };

    RawFile() = default;
    ~RawFile() { close(); }
    RawFile(const RawFile &) = delete;
    RawFile &operator=(const RawFile &) = delete;

    bool open(const QString &path, Mode mode);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // All of data at the current position, which moves past it.
    bool write(const char *data, qint64 size);
    // All of data at offset; the current position stays.
    bool writeAt(qint64 offset, const char *data, qint64 size);
    // Up to size bytes from offset; the count read, or -1.
    qint64 readAt(qint64 offset, char *data, qint64 size);
    // Cuts or extends the file to size and moves the current position there.
    bool resizeAndSeek(qint64 size);

    // The error number of the last failure (0 when none is known).
    int error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

// Creates dir and any missing parents; 0, or the error number of the failure.
int makeDirectories(const QString &dir);

} // namespace platform
