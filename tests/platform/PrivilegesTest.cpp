#include "platform/Privileges.h"

#include <gtest/gtest.h>
#include <sys/capability.h>
#include <unistd.h>

TEST(Privileges, DebugPrivilegeFollowsThePermittedCapability)
{
    cap_t caps = cap_get_proc();
    ASSERT_NE(caps, nullptr);
    cap_flag_value_t permitted = CAP_CLEAR;
    cap_get_flag(caps, CAP_SYS_PTRACE, CAP_PERMITTED, &permitted);
    cap_free(caps);
    EXPECT_EQ(platform::enablePrivilege("SeDebugPrivilege"),
              permitted == CAP_SET ? 0u : platform::kErrorNotAllAssigned);
    EXPECT_EQ(platform::enablePrivilege("SeNoSuchPrivilege"), platform::kErrorNoSuchPrivilege);
    EXPECT_EQ(platform::enablePrivilege("SeDebugPrivilege", getpid()),
              permitted == CAP_SET ? 0u : platform::kErrorNotAllAssigned);
    EXPECT_EQ(platform::enablePrivilege("SeDebugPrivilege", 1), platform::kErrorAccessDenied);
}
