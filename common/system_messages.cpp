// The system's texts for the general status codes that the tools and the
// services on this platform return.
#include "common/message_lookup.h"

namespace {

const MessageTableEntry kSystemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {1168, "Element not found.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
};

}  // namespace

ULONG lookupSystemMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    (void)languageId;  // one language
    return lookupMessageTable(kSystemMessages, sizeof kSystemMessages / sizeof kSystemMessages[0],
                              code, buffer, room);
}
