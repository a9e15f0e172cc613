#pragma once

#include <QByteArrayView>
#include <QString>

namespace tasks {

// What a downloaded installer is, judged by its first bytes, never its name.
enum class InstallerKind {
    Unknown,
    LinuxProgram, // an ELF binary
    Script, // "#!"
    WindowsProgram, // "MZ"
    DebianPackage, // an ar archive whose first member is "debian-binary"
    FlatpakBundle, // a single-file Flatpak bundle: its metadata opens with Flatpak's marker
};

// The bytes a judgement needs at most.
inline constexpr qsizetype kInstallerHeadSize = 68;

InstallerKind installerKindOf(QByteArrayView head);
// Unknown as well when the file cannot be read.
InstallerKind installerKindOfFile(const QString &file);

} // namespace tasks
