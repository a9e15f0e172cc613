#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// Identity and change marks of a file or folder, for recognising an unchanged one
// without reading it. Valid is false when it does not exist or cannot be looked at.
struct FileStamp
{
    bool Valid = false;
    quint64 Device = 0, Inode = 0;
    qint64 Size = 0, ModifiedNs = 0, ChangedNs = 0;
    bool operator==(const FileStamp &) const = default;
};

// The stamp of what path names (links followed).
FileStamp fileStampOf(const QString &path);
// The stamp of an open file.
FileStamp fileStampOf(int fd);

} // namespace platform
