#pragma once

#include <QString>

namespace platform {

inline constexpr quint32 kErrorAccessDenied = 5;
inline constexpr quint32 kErrorNotAllAssigned = 1300;
inline constexpr quint32 kErrorNoSuchPrivilege = 1313;

// Enables a privilege, named as on Windows ("SeDebugPrivilege"), for the
// process pid (0 = this process). On Linux a privilege is the capability
// that grants the same power (SeDebugPrivilege = CAP_SYS_PTRACE); it is
// raised into the effective set when the permitted set holds it.
// Capabilities belong to threads: the calling thread and the threads it
// starts afterwards have it.
// 0 on success, kErrorNotAllAssigned when the capability is not permitted,
// kErrorNoSuchPrivilege for an unknown name, kErrorAccessDenied for another process.
quint32 enablePrivilege(const QString &name, qint64 pid = 0);

} // namespace platform
