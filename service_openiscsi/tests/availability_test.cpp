// Whether the open-iscsi service can work on a host, each reason it cannot
// with its own status, and how it finds that iscsid listens, over host
// folders of the tests' own.
#include <gtest/gtest.h>

#include <string>
#include <sys/utsname.h>

#include "service_dispatch/service_choice.h"
#include "service_openiscsi/host_checks.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_openiscsi/tests/service_fixture.h"

namespace {

std::string modulesDep()
{
    struct utsname system {};
    uname(&system);
    return std::string("/lib/modules/") + system.release + "/modules.dep";
}

TEST_F(OpeniscsiService, AvailabilityNamesTheFirstMissingPiece)
{
    const std::string dep = modulesDep();
    struct Case {
        const char *what;
        bool installed;
        bool root;
        std::vector<std::pair<std::string, std::string>> files;
        ISDSC_STATUS status;
    };
    const Case cases[] = {
        {"no iscsiadm",
         false,
         true,
         {{"/sys/module/iscsi_tcp/refcnt", "0\n"}},
         OPENISCSI_TOOL_NOT_INSTALLED},
        {"not root", true, false, {{"/sys/module/iscsi_tcp/refcnt", "0\n"}}, OPENISCSI_NEEDS_ROOT},
        {"loaded", true, true, {{"/sys/module/iscsi_tcp/refcnt", "0\n"}}, 0},
        {"a transport class", true, true, {{"/sys/class/iscsi_transport/tcp/handle", "1\n"}}, 0},
        {"no module, nothing loaded", true, true, {}, OPENISCSI_NO_TCP_TRANSPORT},
        {"modules of others only",
         true,
         true,
         {{dep, "kernel/drivers/scsi/libiscsi.ko: kernel/drivers/scsi/scsi_transport_iscsi.ko\n"
                "kernel/drivers/scsi/iscsi_tcp_ext.ko:\n"}},
         OPENISCSI_NO_TCP_TRANSPORT},
        {"a compressed module",
         true,
         true,
         {{dep, "kernel/drivers/scsi/sd_mod.ko:\nkernel/drivers/scsi/iscsi_tcp.ko.xz: "
                "kernel/drivers/scsi/libiscsi_tcp.ko.xz\n"},
          {"/proc/sys/kernel/modules_disabled", "0\n"}},
         0},
        {"module loading disabled",
         true,
         true,
         {{dep, "kernel/drivers/scsi/iscsi_tcp.ko:\n"},
          {"/proc/sys/kernel/modules_disabled", "1\n"}},
         OPENISCSI_MODULES_DISABLED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        for (const auto &file : c.files)
            hostFile(file.first, file.second);
        EXPECT_EQ(c.status, availabilityFrom(c.installed, c.root));
        if (c.status != 0) {
            WCHAR16 text[512];
            EXPECT_GT(openiscsiServiceTable.lookupMessage(c.status, 0, text, 512), 0u);
        }
    }
}

TEST_F(OpeniscsiService, IscsidListensWhenItsSocketAcceptsConnections)
{
    iscsidListens(true);
    EXPECT_TRUE(iscsidListening());
    // Only a connected end of its socket (no listener), or no file at all.
    iscsidListens(false);
    EXPECT_FALSE(iscsidListening());
    removeHostFile("/proc/net/unix");
    EXPECT_FALSE(iscsidListening());
}

TEST(ServiceTable, TheOpeniscsiServiceIsNamedAndFirstToBeTried)
{
    EXPECT_STREQ("open-iscsi", openiscsiServiceTable.name);
    ASSERT_GE(kServiceRegistryCount, 2u);
    EXPECT_EQ(&openiscsiServiceTable, kServiceRegistry[0]);
    EXPECT_STREQ("embedded", kServiceRegistry[kServiceRegistryCount - 1]->name);
}

}  // namespace
