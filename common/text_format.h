// The one printf-style formatter of the iSCSI tools.
//
// The C libraries disagree on %ws and %I64x (the Windows cross compiler's
// printf prints "%ws" literally), so report lines and bounded wide texts are
// expanded here.  Supported: flags "-0+ #", width and precision (also "*"),
// the modifiers h, l, ll, z and I64, and the conversions d i u x X o c s p %.
//   - In an 8-bit format %s is 8-bit text and %ws (or %ls, %S) wide text.
//   - In a wide format %s is wide text and %hs 8-bit text.
//   - A null text prints "(null)".
// An unknown conversion makes the formatting fail.
#ifndef COMMON_TEXT_FORMAT_H
#define COMMON_TEXT_FORMAT_H

#include <cstdarg>
#include <cstddef>

#include "common/iscsi_service.h"

// Receives the expansion piece by piece.  `narrow` pieces are 8-bit bytes
// (format text of an 8-bit format, %s arguments, numbers); `wide` pieces are
// 16-bit characters (format text of a wide format, wide arguments).
struct FormatSink {
    void (*narrow)(void *context, const char *bytes, size_t length);
    void (*wide)(void *context, const WCHAR16 *chars, size_t length);
    void *context;
};

// Expand an 8-bit or a wide format.  Return false when the format holds a
// conversion that is not supported; what was emitted before it stays emitted.
bool expandFormat(const FormatSink &sink, const char *format, va_list arguments);
bool expandWideFormat(const FormatSink &sink, const WCHAR16 *format, va_list arguments);

// Writes the UTF-8 form of one code point (at most 0x10FFFF) into bytes and
// returns its length, 1 to 4.
size_t encodeUtf8(unsigned long code, unsigned char bytes[4]);

// Appends the UTF-8 form of `length` wide characters to out[room], keeping a
// terminator; returns the bytes the full conversion needs (without the
// terminator).  A lone surrogate becomes U+FFFD.
size_t wideToUtf8(const WCHAR16 *text, size_t length, char *out, size_t room);

#endif  // COMMON_TEXT_FORMAT_H
