// Status codes that the pieces both Linux services share can return, in the
// embedded service's range (they were its codes first), each with a text in
// support_messages.cpp.  A service's message lookup falls back to these.
#ifndef SERVICE_SUPPORT_SUPPORT_STATUS_H
#define SERVICE_SUPPORT_SUPPORT_STATUS_H

#include "common/iscsi_service.h"

#define SERVICE_NOT_SUPPORTED 0xEFFF0035u
#define SERVICE_SECRET_TOO_LONG 0xEFFF004Bu

// Renders the text of one of the codes above into buffer[room] as
// lookupMessageTable does; 0 for any other code.
ULONG lookupSupportMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room);

#endif  // SERVICE_SUPPORT_SUPPORT_STATUS_H
