// One call of iscsiadm as the open-iscsi service makes it: the command's
// vector, iscsiadm from the system folders, the step bound of
// ISCSI_TOOLS_TIMEOUT_MS, and the status of what it did.
#ifndef SERVICE_OPENISCSI_ISCSIADM_RUN_H
#define SERVICE_OPENISCSI_ISCSIADM_RUN_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_openiscsi/child_runner.h"
#include "service_openiscsi/iscsiadm_args.h"

// Runs command and fills *result, which the caller releases with
// releaseRun whatever the outcome.  outputLimit bounds each stream
// (CHILD_OUTPUT_LIMIT when 0).  Returns statusOfRun(*result): 0 for exit
// code 0, OPENISCSI_OUTPUT_TOO_LARGE when stdout passed the bound,
// OPENISCSI_ARGUMENT_REFUSED for a command a builder refused (empty).
ISDSC_STATUS runIscsiadm(const IscsiadmCommand &command, size_t outputLimit, ChildResult *result);

// Frees a result; its bytes are overwritten first, as output may hold a
// CHAP secret (-S).
void releaseRun(ChildResult *result);

// runIscsiadm for a call whose output nobody reads.  The command is
// overwritten afterwards (it may hold a secret).
ISDSC_STATUS runIscsiadmQuietly(IscsiadmCommand *command);

#endif  // SERVICE_OPENISCSI_ISCSIADM_RUN_H
