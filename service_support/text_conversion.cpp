#include "service_support/text_conversion.h"

#include <cstdint>

#include "common/text_format.h"

namespace {

// Decodes one UTF-8 sequence at *text, moving it on.  Returns the code point,
// or -1 for a malformed, overlong or surrogate sequence.
long decodeOne(const unsigned char **text)
{
    size_t at = 0;
    long code = decodeUtf8(*text, SIZE_MAX, &at, UTF8_REFUSE);
    *text += at;
    return code;
}

}  // namespace

bool convertWideToUtf8(const WCHAR16 *source, size_t sourceLimit, char *out, size_t outRoom)
{
    if (outRoom == 0)
        return false;
    size_t written = 0;
    for (size_t i = 0;; i++) {
        if (i >= sourceLimit) {
            out[0] = 0;
            return false;
        }
        unsigned long code = source[i];
        if (code == 0)
            break;
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned long low = (i + 1 < sourceLimit) ? source[i + 1] : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                out[0] = 0;
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            i++;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            out[0] = 0;
            return false;
        }
        unsigned char bytes[4];
        size_t count = encodeUtf8(code, bytes);
        if (written + count + 1 > outRoom) {
            out[0] = 0;
            return false;
        }
        for (size_t b = 0; b < count; b++)
            out[written++] = static_cast<char>(bytes[b]);
    }
    out[written] = 0;
    return true;
}

bool convertUtf8ToWide(const char *source, WCHAR16 *out, size_t outRoom)
{
    if (outRoom == 0)
        return false;
    const unsigned char *at = reinterpret_cast<const unsigned char *>(source);
    size_t written = 0;
    while (*at != 0) {
        long code = decodeOne(&at);
        size_t units = code >= 0x10000 ? 2 : 1;
        if (code < 0 || written + units + 1 > outRoom) {
            out[0] = 0;
            return false;
        }
        if (units == 2) {
            out[written++] = static_cast<WCHAR16>(0xD800 + ((code - 0x10000) >> 10));
            out[written++] = static_cast<WCHAR16>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[written++] = static_cast<WCHAR16>(code);
        }
    }
    out[written] = 0;
    return true;
}

size_t utf8WideCharacters(const char *source)
{
    const unsigned char *at = reinterpret_cast<const unsigned char *>(source);
    size_t length = 0;
    while (*at != 0) {
        long code = decodeOne(&at);
        if (code < 0)
            return 0;
        length += code >= 0x10000 ? 2 : 1;
    }
    return length;
}

bool isReadableText(const char *text)
{
    const unsigned char *at = reinterpret_cast<const unsigned char *>(text);
    while (*at != 0) {
        long code = decodeOne(&at);
        if (code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F))
            return false;  // malformed (-1), C0, DEL or C1
    }
    return true;
}
