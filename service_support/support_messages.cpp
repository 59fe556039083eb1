// The texts of the shared codes of support_status.h.
#include "common/message_lookup.h"
#include "service_support/support_status.h"

namespace {

const MessageTableEntry kSupportMessages[] = {
    {SERVICE_NOT_SUPPORTED, "The initiator service does not support the requested option.\r\n"},
    {SERVICE_SECRET_TOO_LONG,
     "The CHAP secret is longer than the 255 bytes the initiator service accepts.\r\n"},
};

}  // namespace

ULONG lookupSupportMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    (void)languageId;  // one language
    return lookupMessageTable(
        kSupportMessages, sizeof kSupportMessages / sizeof kSupportMessages[0], code, buffer, room);
}
