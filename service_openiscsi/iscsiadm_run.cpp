#include "service_openiscsi/iscsiadm_run.h"

#include <cerrno>
#include <cstring>

#include "service_openiscsi/iscsiadm_status.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_openiscsi/openiscsi_testing.h"
#include "service_support/step_time.h"

namespace {

IscsiadmRunner gRunner = nullptr;

bool runRealIscsiadm(const char *const *argv, int timeoutMs, size_t outputLimit,
                     ChildResult *result)
{
    const char *program = iscsiadmPath();
    if (program == nullptr) {
        memset(result, 0, sizeof *result);
        result->end = CHILD_NOT_STARTED;
        result->startErrno = ENOENT;
        return false;
    }
    return runChild(program, argv, timeoutMs, outputLimit, result);
}

void wipe(ChildOutput *output)
{
    if (output->data != nullptr)
        memset(output->data, 0, output->length);
}

}  // namespace

void setIscsiadmRunnerForTests(IscsiadmRunner runner)
{
    gRunner = runner;
}

ISDSC_STATUS runIscsiadm(const IscsiadmCommand &command, size_t outputLimit, ChildResult *result)
{
    const char *argv[ISCSIADM_MAX_ARGUMENTS + 1];
    memset(result, 0, sizeof *result);
    if (!commandArgv(&command, argv, ISCSIADM_MAX_ARGUMENTS + 1) || command.count == 0)
        return OPENISCSI_ARGUMENT_REFUSED;
    IscsiadmRunner runner = gRunner != nullptr ? gRunner : runRealIscsiadm;
    runner(argv, stepTimeoutMs(), outputLimit, result);
    ISDSC_STATUS status = statusOfRun(*result);
    if (status == ISDSC_SUCCESS && result->out.truncated)
        status = OPENISCSI_OUTPUT_TOO_LARGE;
    return status;
}

void releaseRun(ChildResult *result)
{
    wipe(&result->out);
    wipe(&result->err);
    freeChildResult(result);
}

ISDSC_STATUS runIscsiadmQuietly(IscsiadmCommand *command)
{
    ChildResult result;
    ISDSC_STATUS status = runIscsiadm(*command, 0, &result);
    releaseRun(&result);
    memset(command, 0, sizeof *command);
    return status;
}
