#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

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

// pread from the start of an open file until its end; the buffer grows when the
// file does not fit (up to 64 MiB). false on a read error or a larger file.
bool preadWhole(int fd, std::vector<char> *buffer, size_t *size);
// Reads a file whole into the buffer (grown as needed, up to 64 MiB, and kept
// for the next call); false when it cannot be read. Works for /proc files,
// whose size is not known beforehand.
bool readWholeFile(const char *path, std::vector<char> *buffer, size_t *size);
// The same into a byte array; *ok (when given) false when the file cannot be read.
QByteArray readWholeFile(const QString &path, bool *ok = nullptr);

// Replaces file with data so that a crash leaves the old or the new content,
// never a part: a temporary file beside it, flushed to disk, renamed over it
// (mode 0644). On failure error names the file and the reason.
bool writeFileAtomically(const QString &file, const QByteArray &data, QString &error);

// Creates dir and any missing parents; 0, or the error number of the failure.
int makeDirectories(const QString &dir);

// Appends data to file (created with mode 0600 when missing) in one write and
// flushes it to disk before returning, so that a crash right afterwards keeps
// it and every record before it. 0, or the error number of the failure.
int appendDurably(const QString &file, const QByteArray &data);
// The last maxBytes of a file at most (all of a smaller one); *ok false when it
// cannot be read.
QByteArray readFileTail(const QString &path, qint64 maxBytes, bool *ok = nullptr);

} // namespace platform
