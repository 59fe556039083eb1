// Text of an initiator service status, and the failure line that ends in it.
#ifndef COMMON_STATUS_TEXT_H
#define COMMON_STATUS_TEXT_H

#include "common/iscsi_service.h"

// Size of the status text buffer every caller passes.
#define STATUS_TEXT_CHARS 260u

// Fills buffer[count] (count at least 255) with the message text of status:
// the service library's table first, then the system's, looked up with a
// room of 255 characters; where neither has a text that fits, "Status: 0x%x"
// with the code in lower-case hexadecimal.  Returns buffer, so that the call
// can stand as the %ws argument of the failure line.  Cannot fail.
WCHAR16 *formatStatus(WCHAR16 *buffer, ULONG count, ISDSC_STATUS status);

// Prints a failure line through reportPrintf: `format` has one conversion,
// the %ws that takes the status text of formatStatus (with a buffer of
// STATUS_TEXT_CHARS of its own), for example "Error getting target list:
// %ws\n".
void printFailure(const char *format, ISDSC_STATUS status);

#endif  // COMMON_STATUS_TEXT_H
