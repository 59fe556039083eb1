// Bounded wide-text routines shared by the iSCSI tools.
//
// Every count is a number of 16-bit characters and includes the slot for the
// terminator.  Counts from 1 to 0x7FFFFFFF are accepted.
#ifndef COMMON_WIDE_TEXT_H
#define COMMON_WIDE_TEXT_H

#include <cstddef>

#include "common/iscsi_service.h"

// Results of printBounded and copyBounded.
#define BOUNDED_OK 0u
#define BOUNDED_INVALID_ARGUMENT 0x80070057u  // count 0 or above 0x7FFFFFFF
#define BOUNDED_TRUNCATED 0x8007007Au         // text cut to count - 1 characters

#define BOUNDED_MAX_COUNT 0x7FFFFFFFu

// Formats `format` (wide printf notation; %s and %ws take wide text, %hs
// 8-bit text, %I64x a 64-bit value) into buffer[count].  Never writes past
// the buffer.  Returns BOUNDED_OK when the whole text fits, BOUNDED_TRUNCATED
// after a cut (the first count - 1 characters and a terminator) or a failed
// formatting (an empty text), BOUNDED_INVALID_ARGUMENT with the buffer
// untouched.
ULONG printBounded(WCHAR16 *buffer, ULONG count, const WCHAR16 *format, ...);

// Copies the terminated text `source` into buffer[count].  Reads source no
// further than its terminator or its count-th character.  Results as for
// printBounded.
ULONG copyBounded(WCHAR16 *buffer, ULONG count, const WCHAR16 *source);

// Number of characters before the terminator.
size_t wideLength(const WCHAR16 *text);

// Number of characters before the terminator, looking at no more than
// `limit` characters (limit when no terminator is among them).
size_t wideLengthBounded(const WCHAR16 *text, size_t limit);

// True when both texts hold the same characters (exact, case-sensitive).
bool wideEqual(const WCHAR16 *a, const WCHAR16 *b);

#endif  // COMMON_WIDE_TEXT_H
