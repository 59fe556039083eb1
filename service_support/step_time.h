// The one clock the services measure waits and deadlines with, and the
// bound of one step (a network exchange, a child process).
#ifndef SERVICE_SUPPORT_STEP_TIME_H
#define SERVICE_SUPPORT_STEP_TIME_H

// Milliseconds on the monotonic clock (unaffected by changes of the time of
// day); only differences between two readings mean anything.
long long monotonicMs();

#define STEP_TIMEOUT_VARIABLE "ISCSI_TOOLS_TIMEOUT_MS"
#define DEFAULT_STEP_TIMEOUT_MS 10000

// The deadline of one step in milliseconds: $ISCSI_TOOLS_TIMEOUT_MS when it
// holds a number from 1 to 600000, else DEFAULT_STEP_TIMEOUT_MS.
int stepTimeoutMs();

#endif  // SERVICE_SUPPORT_STEP_TIME_H
