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
