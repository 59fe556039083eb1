#include "service_openiscsi/iscsiadm_status.h"

#include <cerrno>
#include <cstring>

#include "service_openiscsi/openiscsi_status.h"

namespace {

struct MessageCause {
    const char *text;  // as iscsiadm prints it
    ISDSC_STATUS status;
};

// The first match wins: a refused connection is also followed by the text
// of the timeout it is reported as.
const MessageCause kCauses[] = {
    {"Connection refused", OPENISCSI_CONNECTION_REFUSED},
    {"Network is unreachable", OPENISCSI_PORTAL_UNREACHABLE},
    {"No route to host", OPENISCSI_PORTAL_UNREACHABLE},
    {"Login response timeout", OPENISCSI_NO_LOGIN_RESPONSE},
    {"Connection timed out", OPENISCSI_NO_LOGIN_RESPONSE},
};

bool contains(const ChildOutput &output, const char *text)
{
    return output.data != nullptr &&
           memmem(output.data, output.length, text, strlen(text)) != nullptr;
}

// Exit codes after which iscsiadm's messages may name the cause.
bool connectionFailure(int code)
{
    return code == 4 || code == 5 || code == 8 || code == 11 || code == 19;
}

}  // namespace

ISDSC_STATUS statusOfExitCode(int code)
{
    if (code == 0)
        return 0;
    if (code >= 1 && code <= OPENISCSI_HIGHEST_EXIT_CODE)
        return OPENISCSI_EXIT_STATUS_BASE + static_cast<ISDSC_STATUS>(code);
    return OPENISCSI_UNKNOWN_EXIT_CODE;
}

ISDSC_STATUS statusOfRun(const ChildResult &run)
{
    switch (run.end) {
    case CHILD_TIMED_OUT:
        return OPENISCSI_TOOL_TIMED_OUT;
    case CHILD_SIGNALED:
        return OPENISCSI_TOOL_KILLED;
    case CHILD_NOT_STARTED:
        return run.startErrno == ENOENT ? OPENISCSI_TOOL_NOT_INSTALLED : OPENISCSI_TOOL_NOT_STARTED;
    case CHILD_EXITED:
        break;
    }
    if (connectionFailure(run.exitCode)) {
        for (const MessageCause &cause : kCauses)
            if (contains(run.err, cause.text))
                return cause.status;
    }
    return statusOfExitCode(run.exitCode);
}
