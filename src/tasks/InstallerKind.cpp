#include "tasks/InstallerKind.h"

#include <QFile>

namespace tasks {

InstallerKind installerKindOf(QByteArrayView head)
{
    if (head.startsWith("\x7f"
                        "ELF"))
        return InstallerKind::LinuxProgram;
    if (head.startsWith("#!"))
        return InstallerKind::Script;
    if (head.startsWith("MZ"))
        return InstallerKind::WindowsProgram;
    // A bundle is a static delta whose metadata dictionary begins with the
    // entry {"flatpak": <uint32 0xe5890001>}: the key, the value in either
    // byte order, then the value's type.
    if (head.size() >= 14 && head.startsWith(QByteArrayView("flatpak\0", 8))
        && head.sliced(12, 2) == QByteArrayView("\0u", 2)) {
        const QByteArrayView value = head.sliced(8, 4);
        if (value == QByteArrayView("\x01\x00\x89\xe5", 4) || value == QByteArrayView("\xe5\x89\x00\x01", 4))
            return InstallerKind::FlatpakBundle;
    }
    // The archive's magic, then the first member's header: a 16-byte name
    // (padded with blanks, GNU tools end it with '/') and its closing "`\n".
    if (head.size() >= kInstallerHeadSize && head.startsWith("!<arch>\n") && head.sliced(66, 2) == "`\n") {
        QByteArrayView name = head.sliced(8, 16);
        while (name.endsWith(' '))
            name.chop(1);
        if (name.endsWith('/'))
            name.chop(1);
        if (name == "debian-binary")
            return InstallerKind::DebianPackage;
    }
    return InstallerKind::Unknown;
}

InstallerKind installerKindOfFile(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return InstallerKind::Unknown;
    return installerKindOf(f.read(kInstallerHeadSize));
}

} // namespace tasks
