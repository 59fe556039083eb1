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

// What decodeUtf8 makes of a malformed sequence: a byte that starts none, a
// missing continuation byte, an overlong form, an encoded surrogate or a
// value above 0x10FFFF.
enum Utf8Malformed {
    UTF8_SUBSTITUTE,  // U+FFFD in its place, and the text goes on after it
    UTF8_REFUSE       // -1: the caller refuses the whole text
};

// Decodes the UTF-8 sequence that begins at text[*at] and moves *at past it;
// reads no byte at or after text[length] (SIZE_MAX for a terminated text:
// its 0 ends any sequence).  Returns the code point.  A malformed sequence
// gives, by `malformed`, U+FFFD with *at moved past the bytes that made it
// (the lead byte and the continuation bytes it got), or -1 with *at as it
// was.  REQUIRES: *at < length.
long decodeUtf8(const unsigned char *text, size_t length, size_t *at, Utf8Malformed malformed);

// 0 to 15 for a hexadecimal digit (0-9, a-f, A-F), -1 for any other
// character (8-bit or 16-bit).
int hexDigit(unsigned long ch);

#endif  // COMMON_TEXT_FORMAT_H
