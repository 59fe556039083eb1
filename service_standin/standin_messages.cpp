// The stand-in's own message texts where the platform has no message lookup.
// On Windows the same standin_messages.mc becomes the library's message
// resource instead.
#include "common/message_lookup.h"

extern const MessageTableEntry kStandinMessages[];
extern const size_t kStandinMessagesCount;

extern "C" ULONG lookupServiceMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    (void)languageId;  // one language
    return lookupMessageTable(kStandinMessages, kStandinMessagesCount, code, buffer, room);
}
