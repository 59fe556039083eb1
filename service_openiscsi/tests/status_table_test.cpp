// iscsiadm's exit codes and run ends as statuses, each with a text, and the
// causes read from what the real iscsiadm printed (recorded/).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "service_openiscsi/iscsiadm_status.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_openiscsi/tests/recorded_files.h"

namespace {

bool hasText(ISDSC_STATUS status)
{
    WCHAR16 buffer[512];
    return lookupOpeniscsiMessage(status, 0, buffer, 512) > 0;
}

TEST(ExitCodes, EachCodeOfTheManualHasItsOwnStatusAndText)
{
    EXPECT_EQ(0u, statusOfExitCode(0));
    std::set<ISDSC_STATUS> seen;
    for (int code = 1; code <= OPENISCSI_HIGHEST_EXIT_CODE; code++) {
        ISDSC_STATUS status = statusOfExitCode(code);
        EXPECT_EQ(OPENISCSI_EXIT_STATUS_BASE + static_cast<ULONG>(code), status) << code;
        EXPECT_TRUE(hasText(status)) << code;
        seen.insert(status);
    }
    EXPECT_EQ(static_cast<size_t>(OPENISCSI_HIGHEST_EXIT_CODE), seen.size());
    // A few by name, as iscsiadm(8) lists them.
    EXPECT_EQ(OPENISCSI_TRANSPORT_NOT_FOUND, statusOfExitCode(12));
    EXPECT_EQ(OPENISCSI_SESSION_EXISTS, statusOfExitCode(15));
    EXPECT_EQ(OPENISCSI_DAEMON_NOT_RUNNING, statusOfExitCode(20));
    EXPECT_EQ(OPENISCSI_NOTHING_FOUND, statusOfExitCode(21));
    EXPECT_EQ(OPENISCSI_AUTHENTICATION_FAILED, statusOfExitCode(24));
    EXPECT_EQ(OPENISCSI_SESSION_NOT_CONNECTED, statusOfExitCode(32));

    for (int code : {-1, 33, 64, 126, 127, 255})
        EXPECT_EQ(OPENISCSI_UNKNOWN_EXIT_CODE, statusOfExitCode(code)) << code;
}

TEST(ExitCodes, EveryOtherStatusHasItsTextAndNothingElseDoes)
{
    for (ISDSC_STATUS status = OPENISCSI_UNKNOWN_EXIT_CODE; status <= OPENISCSI_LAST_STATUS;
         status++)
        EXPECT_TRUE(hasText(status)) << std::hex << status;
    for (ISDSC_STATUS status :
         {0xEFFF0100u, 0xEFFF0121u, 0xEFFF013Fu, OPENISCSI_LAST_STATUS + 1, 0xEFFF0001u, 0u})
        EXPECT_FALSE(hasText(status)) << std::hex << status;
}

ChildResult exitedWith(int code, const std::string &stderrText)
{
    ChildResult run;
    memset(&run, 0, sizeof run);
    run.end = CHILD_EXITED;
    run.exitCode = code;
    run.err.data = const_cast<char *>(stderrText.c_str());
    run.err.length = stderrText.size();
    return run;
}

TEST(RunStatus, WhatTheRealIscsiadmPrintedNamesTheCause)
{
    struct Case {
        const char *recording;
        ISDSC_STATUS status;
    };
    const Case cases[] = {
        {"kernel/discover-closed", OPENISCSI_CONNECTION_REFUSED},       // exit 11
        {"kernel/discover-unreachable", OPENISCSI_PORTAL_UNREACHABLE},  // exit 11
        {"kernel/discover-silent", OPENISCSI_NO_LOGIN_RESPONSE},        // exit 19
        {"kernel/discover-bad-chap", OPENISCSI_AUTHENTICATION_FAILED},  // exit 24
        {"kernel/login-bad-chap", OPENISCSI_AUTHENTICATION_FAILED},     // exit 24
        {"kernel/login-exists", OPENISCSI_SESSION_EXISTS},              // exit 15
        {"kernel/login-target-gone", OPENISCSI_LOGIN_REFUSED},          // exit 19
        {"kernel/login-missing", OPENISCSI_NOTHING_FOUND},              // exit 21
        {"kernel/session-none", OPENISCSI_NOTHING_FOUND},               // exit 21
        {"kernel/session-sid-missing", OPENISCSI_SYSFS_LOOKUP_FAILED},  // exit 22
        {"kernel/discoverydb-show-missing", OPENISCSI_RECORDS_FAILED},  // exit 6
        {"kernel/node-delete-in-use", OPENISCSI_SESSION_EXISTS},        // exit 15
        {"kernel-noiscsid/login", OPENISCSI_DAEMON_NOT_RUNNING},        // exit 20
        {"host/discover-new", OPENISCSI_TRANSPORT_NOT_FOUND},           // exit 12
        {"host/login", OPENISCSI_DAEMON_NOT_RUNNING},                   // exit 20
        {"kernel/login", 0},
        {"kernel/discover-chap", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.recording);
        std::string err = recorded(std::string(c.recording) + ".stderr");
        ChildResult run = exitedWith(recordedExitCode(c.recording), err);
        EXPECT_EQ(c.status, statusOfRun(run));
    }
}

TEST(RunStatus, TheCauseIsReadOnlyAfterAConnectionFailure)
{
    struct Case {
        int code;
        std::string err;
        ISDSC_STATUS status;
    };
    const Case cases[] = {
        // The same words after another failure do not change its status.
        {6, "iscsiadm: Connection refused\n", OPENISCSI_RECORDS_FAILED},
        {11, "iscsiadm: Could not perform SendTargets discovery: iSCSI PDU timed out\n",
         OPENISCSI_PDU_TIMEOUT},
        {4, "cannot make connection to 10.0.0.9: No route to host\n", OPENISCSI_PORTAL_UNREACHABLE},
        {8, "cannot make connection to 10.0.0.9: Connection timed out\n",
         OPENISCSI_NO_LOGIN_RESPONSE},
        // Bytes after a NUL are still looked at; output is not a C string.
        {11, std::string("x\0Connection refused", 20), OPENISCSI_CONNECTION_REFUSED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.err);
        ChildResult run = exitedWith(c.code, c.err);
        EXPECT_EQ(c.status, statusOfRun(run));
    }
}

TEST(RunStatus, EndsThatAreNotExitCodes)
{
    ChildResult run;
    memset(&run, 0, sizeof run);
    run.end = CHILD_TIMED_OUT;
    EXPECT_EQ(OPENISCSI_TOOL_TIMED_OUT, statusOfRun(run));
    run.end = CHILD_SIGNALED;
    run.termSignal = SIGSEGV;
    EXPECT_EQ(OPENISCSI_TOOL_KILLED, statusOfRun(run));
    run.end = CHILD_NOT_STARTED;
    run.startErrno = ENOENT;
    EXPECT_EQ(OPENISCSI_TOOL_NOT_INSTALLED, statusOfRun(run));
    run.startErrno = EACCES;
    EXPECT_EQ(OPENISCSI_TOOL_NOT_STARTED, statusOfRun(run));
}

}  // namespace
