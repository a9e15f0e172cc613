#include "platform/Privileges.h"

#include <sys/capability.h>
#include <unistd.h>

namespace platform {
namespace {

struct PrivilegeCapability
{
    const char *privilege;
    cap_value_t capability;
};

const PrivilegeCapability kPrivileges[] = {
    {"SeDebugPrivilege", CAP_SYS_PTRACE},       {"SeShutdownPrivilege", CAP_SYS_BOOT},
    {"SeBackupPrivilege", CAP_DAC_READ_SEARCH}, {"SeRestorePrivilege", CAP_DAC_OVERRIDE},
    {"SeTakeOwnershipPrivilege", CAP_CHOWN},    {"SeIncreaseBasePriorityPrivilege", CAP_SYS_NICE},
    {"SeSystemtimePrivilege", CAP_SYS_TIME},    {"SeTimeZonePrivilege", CAP_SYS_TIME},
    {"SeLoadDriverPrivilege", CAP_SYS_MODULE},  {"SeSecurityPrivilege", CAP_AUDIT_CONTROL},
};

} // namespace

quint32 enablePrivilege(const QString &name, qint64 pid)
{
    if (pid != 0 && pid != getpid())
        return kErrorAccessDenied;
    const PrivilegeCapability *found = nullptr;
    for (const PrivilegeCapability &p : kPrivileges)
        if (name.compare(QLatin1String(p.privilege), Qt::CaseInsensitive) == 0)
            found = &p;
    if (!found)
        return kErrorNoSuchPrivilege;

    cap_t caps = cap_get_proc();
    if (!caps)
        return kErrorAccessDenied;
    quint32 result = kErrorNotAllAssigned;
    cap_flag_value_t permitted = CAP_CLEAR;
    if (cap_get_flag(caps, found->capability, CAP_PERMITTED, &permitted) == 0 && permitted == CAP_SET) {
        cap_value_t list[] = {found->capability};
        if (cap_set_flag(caps, CAP_EFFECTIVE, 1, list, CAP_SET) == 0 && cap_set_proc(caps) == 0)
            result = 0;
    }
    cap_free(caps);
    return result;
}

} // namespace platform
