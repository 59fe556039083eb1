// Conversions between the boundary's wide text and the UTF-8 that libiscsi,
// SQLite and the files of the host use.
#ifndef SERVICE_SUPPORT_TEXT_CONVERSION_H
#define SERVICE_SUPPORT_TEXT_CONVERSION_H

#include <cstddef>

#include "common/iscsi_service.h"

// Writes source (terminated within sourceLimit characters) as UTF-8 with a
// terminator into out[outRoom].  Returns false, leaving out an empty text,
// when source has no terminator within the limit, holds an unpaired
// surrogate, or does not fit.
bool convertWideToUtf8(const WCHAR16 *source, size_t sourceLimit, char *out, size_t outRoom);

// Writes the terminated UTF-8 text source as wide text with a terminator into
// out[outRoom] (characters).  Returns false, leaving out an empty text, when
// source is not valid UTF-8 or does not fit.
bool convertUtf8ToWide(const char *source, WCHAR16 *out, size_t outRoom);

// True when text is UTF-8 that holds no control character (C0, DEL or C1):
// text that the service may hand back to a caller, who may print it.
bool isReadableText(const char *text);

// Characters that convertUtf8ToWide would write for source, without the terminator;
// 0 for invalid UTF-8 (check validity with convertUtf8ToWide).
size_t utf8WideCharacters(const char *source);

#endif  // SERVICE_SUPPORT_TEXT_CONVERSION_H
