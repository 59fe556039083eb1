// Runs a system program as a child process the way the open-iscsi service
// runs iscsiadm: no shell, an argument vector, stdin from /dev/null, stdout
// and stderr captured up to a bound, a clean environment, no descriptor of
// ours beyond 0-2, a process group of its own and a deadline on the
// monotonic clock, at which the whole group is killed and the child reaped.
#ifndef SERVICE_OPENISCSI_CHILD_RUNNER_H
#define SERVICE_OPENISCSI_CHILD_RUNNER_H

#include <cstddef>

// Bytes kept of each of stdout and stderr; the rest is read and dropped.
#define CHILD_OUTPUT_LIMIT (1024 * 1024)

// The folders, in order, where system programs are looked for; also the
// child's PATH.  Never the caller's PATH, which anyone may have set.
#define SYSTEM_PROGRAM_PATH "/usr/sbin:/usr/bin:/sbin:/bin"

enum ChildEnd {
    CHILD_EXITED,      // exitCode holds its exit status
    CHILD_SIGNALED,    // ended by signal termSignal
    CHILD_TIMED_OUT,   // deadline reached; its group was killed
    CHILD_NOT_STARTED  // fork, exec or a pipe failed; startErrno says why
};

// One captured stream: data[length] with a terminator after it (data may
// hold NULs of its own); truncated when the child wrote more than the limit.
struct ChildOutput {
    char *data;  // heap; freeChildResult frees it; never null after runChild
    size_t length;
    bool truncated;
};

struct ChildResult {
    ChildEnd end;
    int exitCode;
    int termSignal;
    int startErrno;
    ChildOutput out;
    ChildOutput err;
    long long elapsedMs;
};

// Runs `program` (an absolute path) with argv (argv[0] first, ended by a null
// pointer) and fills *result, which the caller releases with freeChildResult
// whatever the outcome.  timeoutMs bounds the whole run (at least 1);
// outputLimit bounds each stream (CHILD_OUTPUT_LIMIT when 0).  The child's
// environment is PATH=SYSTEM_PROGRAM_PATH and LANG=C only, its signals are
// at their defaults and unblocked.  Once the child has exited, whatever it
// left running in its group is killed too.  Returns true when the child ran
// to an exit or a signal; false when it timed out or did not start.
// timeoutMs is the caller's step bound (the service's, which
// ISCSI_TOOLS_TIMEOUT_MS overrides).  REQUIRES: SIGCHLD not ignored in this
// process (the system would reap the child and free its id for reuse).
bool runChild(const char *program, const char *const *argv, int timeoutMs, size_t outputLimit,
              ChildResult *result);

void freeChildResult(ChildResult *result);

// Finds `name` (no slash) as an executable regular file in the folders of
// SYSTEM_PROGRAM_PATH and writes its path into out[room].  Returns false
// when there is none or it does not fit.
bool findSystemProgram(const char *name, char *out, size_t room);

// The path of iscsiadm, looked up once per process with findSystemProgram;
// null when this host has none.
const char *iscsiadmPath();

#endif  // SERVICE_OPENISCSI_CHILD_RUNNER_H
