#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace platform {

// Version data of an executable: the fixed file and product versions and,
// for Windows files, the string tables and translations of the version resource.
struct FileVersionInfo
{
    bool hasFixedInfo = false;
    quint32 fileVersionMS = 0;
    quint32 fileVersionLS = 0;
    quint32 productVersionMS = 0;
    quint32 productVersionLS = 0;
    // Each table: its key ("040904B0": language and code page in hex) and its
    // (name, value) pairs in file order.
    QList<QPair<QString, QList<QPair<QString, QString>>>> stringTables;
    // (language << 16) | code page, as listed under "Translation".
    QList<quint32> translations;
};

// Random access to the bytes of a file or a buffer. read() returns fewer
// bytes than asked (possibly none) where the data ends.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual quint64 size() const = 0;
    virtual QByteArray read(quint64 offset, quint32 length) const = 0;
};

class BufferByteSource final : public ByteSource
{
public:
    explicit BufferByteSource(QByteArray data)
        : m_data(std::move(data))
    { }
    quint64 size() const override { return quint64(m_data.size()); }
    QByteArray read(quint64 offset, quint32 length) const override;

private:
    QByteArray m_data;
};

// The version resource of a Windows PE file (RT_VERSION, first name, first language).
std::optional<FileVersionInfo> readPeVersionInfo(const ByteSource &source);
// The version note our own build writes into its ELF executables.
std::optional<FileVersionInfo> readElfVersionNote(const ByteSource &source);
// Either of the above, chosen by the file's header; nothing when the file
// cannot be read or carries no version.
std::optional<FileVersionInfo> readFileVersionInfo(const QString &fileName);

// An icon group of a Windows PE file as the bytes of an .ico file: index 0
// or above is the index-th RT_GROUP_ICON in resource order, a negative index
// the group whose resource id is its absolute value (as "file.exe,-101" names
// it). Empty when the file has no such icon.
QByteArray readPeIcon(const ByteSource &source, int index);
QByteArray readPeIconFile(const QString &fileName, int index);

// "major.minor.release.build" from the two version double words.
QString formatVersion(quint32 ms, quint32 ls);

// Name and type of the ELF note that carries the program's version: its
// description is two 32-bit words, the most and the least significant
// halves of the version, in the file's byte order.
inline constexpr char kVersionNoteName[] = "Orvane";
inline constexpr quint32 kVersionNoteType = 0x4F560001u;
inline constexpr char kVersionNoteSection[] = ".note.orvane.version";

} // namespace platform
