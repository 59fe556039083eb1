// From what iscsiadm did to a status of the open-iscsi service: one place
// for its exit codes, for the ends that are not exit codes (deadline,
// signal, no start) and for the few failures only its messages tell apart.
#ifndef SERVICE_OPENISCSI_ISCSIADM_STATUS_H
#define SERVICE_OPENISCSI_ISCSIADM_STATUS_H

#include "common/iscsi_service.h"
#include "service_openiscsi/child_runner.h"

// 0 for exit code 0; OPENISCSI_EXIT_STATUS_BASE + code for the codes of
// iscsiadm(8); OPENISCSI_UNKNOWN_EXIT_CODE for any other.  Whether 15
// (session exists) is a success is the caller's choice.
ISDSC_STATUS statusOfExitCode(int code);

// The status of one run: OPENISCSI_TOOL_TIMED_OUT, OPENISCSI_TOOL_KILLED,
// OPENISCSI_TOOL_NOT_INSTALLED (the program was not there) or
// OPENISCSI_TOOL_NOT_STARTED, else statusOfExitCode, except that a failed
// connection or login whose messages on stderr name the cause becomes
// OPENISCSI_CONNECTION_REFUSED, OPENISCSI_PORTAL_UNREACHABLE or
// OPENISCSI_NO_LOGIN_RESPONSE (iscsiadm reports a refused connection as a
// PDU timeout, exit code 11).
ISDSC_STATUS statusOfRun(const ChildResult &run);

#endif  // SERVICE_OPENISCSI_ISCSIADM_STATUS_H
