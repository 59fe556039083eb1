// Message texts of status codes, where the platform has no FormatMessageW.
//
// Each component owns a message table: the initiator service's library its
// own codes, the system the general ones.  A table stores each text as a
// message compiler does, UTF-8 with "\r\n" at the end of every line, and a
// lookup renders it as the platform's FormatMessageW does with
// FORMAT_MESSAGE_MAX_WIDTH_MASK and no insert arguments: a line break becomes
// one blank (so "Text.\r\n" is "Text. "), "%n" a hard line break, "%%" a
// percent sign, "%0" ends the text; a text that asks for an insert argument
// ("%1" ... "%99") has no rendering.
#ifndef COMMON_MESSAGE_LOOKUP_H
#define COMMON_MESSAGE_LOOKUP_H

#include <cstddef>

#include "common/iscsi_service.h"

struct MessageTableEntry {
    ULONG code;
    const char *text;  // as stored: UTF-8, lines ended by "\r\n"
};

// Renders `stored` into buffer[room].  Returns the characters stored before
// the terminator, or 0 (buffer contents unspecified) when the text needs an
// insert argument or does not fit in room characters with its terminator.
ULONG renderMessageText(const char *stored, WCHAR16 *buffer, ULONG room);

// Finds `code` in table[entries] and renders its text; 0 when the table has
// no such code or renderMessageText gives none.
ULONG lookupMessageTable(const MessageTableEntry *table, size_t entries, ULONG code,
                         WCHAR16 *buffer, ULONG room);

#ifndef _WIN32
// The system's table of general codes (87, 122, 8, ...).
ULONG lookupSystemMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room);
#endif

#endif  // COMMON_MESSAGE_LOOKUP_H
