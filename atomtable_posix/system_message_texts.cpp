// Message texts of the general error codes, as the platform words them.
#include "atomtable_posix/system_message_texts.h"

#include <cstddef>

namespace {

struct SystemMessage {
    DWORD code;
    const char *text;
};

const SystemMessage kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
};

}  // namespace

const char *systemMessageText(DWORD code)
{
    for (size_t i = 0; i < sizeof kSystemMessages / sizeof kSystemMessages[0]; ++i)
        if (kSystemMessages[i].code == code)
            return kSystemMessages[i].text;
    return nullptr;
}
