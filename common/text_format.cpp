#include "common/text_format.h"

#include "common/wide_text.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const char kNullText[] = "(null)";

void emitNarrow(const FormatSink &sink, const char *bytes, size_t length)
{
    if (length > 0)
        sink.narrow(sink.context, bytes, length);
}

void emitWide(const FormatSink &sink, const WCHAR16 *chars, size_t length)
{
    if (length > 0)
        sink.wide(sink.context, chars, length);
}

void emitPadding(const FormatSink &sink, int count)
{
    static const char blanks[] = "                                ";
    while (count > 0) {
        int piece = count < 32 ? count : 32;
        emitNarrow(sink, blanks, static_cast<size_t>(piece));
        count -= piece;
    }
}

// A precision bounds how much of a text is read; none leaves it unbounded.
size_t precisionLimit(int precision)
{
    return precision < 0 ? SIZE_MAX : static_cast<size_t>(precision);
}

// The 8-bit twin of wideLengthBounded.
size_t narrowLengthBounded(const char *text, size_t limit)
{
    size_t length = 0;
    while (length < limit && text[length] != 0)
        length++;
    return length;
}

// decodeUtf8's answer for a malformed sequence whose bytes end before `next`.
long malformedSequence(size_t *at, size_t next, Utf8Malformed malformed)
{
    if (malformed == UTF8_REFUSE)
        return -1;
    *at = next;
    return 0xFFFD;
}

enum LengthModifier {
    kNone,
    kShort,
    kLong,
    kLongLong,
    kSize,
    kInt64
};

// One conversion directive after the '%'.
struct Directive {
    char flags[8];
    int width;      // -1: none
    int precision;  // -1: none
    LengthModifier length;
    bool wideText;    // %ws / %ls / %S in an 8-bit format, %s in a wide one
    bool narrowText;  // %hs in a wide format
};

// Emits a number through snprintf, which all C libraries agree on for these
// conversions once the argument has a fixed width.
void emitNumber(const FormatSink &sink, const Directive &directive, char conversion,
                va_list *arguments)
{
    char pattern[32];
    size_t at = 0;
    pattern[at++] = '%';
    for (const char *f = directive.flags; *f != 0; f++)
        pattern[at++] = *f;
    if (directive.width >= 0)
        at +=
            static_cast<size_t>(snprintf(pattern + at, sizeof pattern - at, "%d", directive.width));
    if (directive.precision >= 0)
        at += static_cast<size_t>(
            snprintf(pattern + at, sizeof pattern - at, ".%d", directive.precision));
    pattern[at] = 0;

    char digits[96];
    bool isSigned = conversion == 'd' || conversion == 'i';
    char suffix[2] = {conversion == 'i' ? 'd' : conversion, 0};
    char full[48];
    if (directive.length == kInt64 || directive.length == kLongLong) {
        const char *modifier = isSigned            ? PRId64
                               : conversion == 'x' ? PRIx64
                               : conversion == 'X' ? PRIX64
                               : conversion == 'o' ? PRIo64
                                                   : PRIu64;
        snprintf(full, sizeof full, "%s%s", pattern, modifier);
        if (isSigned)
            snprintf(digits, sizeof digits, full, va_arg(*arguments, int64_t));
        else
            snprintf(digits, sizeof digits, full, va_arg(*arguments, uint64_t));
    } else if (directive.length == kSize) {
        snprintf(full, sizeof full, "%sz%s", pattern, suffix);
        snprintf(digits, sizeof digits, full, va_arg(*arguments, size_t));
    } else {
        // int, short and 32-bit long (the Windows long) all arrive as int.
        snprintf(full, sizeof full, "%s%s", pattern, suffix);
        int value = directive.length == kLong ? static_cast<int>(va_arg(*arguments, long))
                                              : va_arg(*arguments, int);
        if (directive.length == kShort)
            value = isSigned ? static_cast<short>(value) : static_cast<unsigned short>(value);
        if (isSigned)
            snprintf(digits, sizeof digits, full, value);
        else
            snprintf(digits, sizeof digits, full, static_cast<unsigned>(value));
    }
    emitNarrow(sink, digits, strlen(digits));
}

bool hasFlag(const Directive &directive, char flag)
{
    return strchr(directive.flags, flag) != nullptr;
}

void emitText(const FormatSink &sink, const Directive &directive, bool wide, va_list *arguments)
{
    size_t length;
    const void *text = va_arg(*arguments, const void *);
    if (text == nullptr) {
        wide = false;
        text = kNullText;
    }
    size_t limit = precisionLimit(directive.precision);
    if (wide)
        length = wideLengthBounded(static_cast<const WCHAR16 *>(text), limit);
    else
        length = narrowLengthBounded(static_cast<const char *>(text), limit);
    int pad =
        directive.width > static_cast<int>(length) ? directive.width - static_cast<int>(length) : 0;
    if (!hasFlag(directive, '-'))
        emitPadding(sink, pad);
    if (wide)
        emitWide(sink, static_cast<const WCHAR16 *>(text), length);
    else
        emitNarrow(sink, static_cast<const char *>(text), length);
    if (hasFlag(directive, '-'))
        emitPadding(sink, pad);
}

// Reads one conversion at format[0] (just after the '%') and emits it.
// Returns the characters consumed, or 0 when the conversion is unknown.
template <typename CharT>
size_t expandConversion(const FormatSink &sink, const CharT *format, bool wideFormat,
                        va_list *arguments)
{
    Directive directive = {};
    directive.width = -1;
    directive.precision = -1;
    size_t at = 0;
    size_t flagCount = 0;
    while (format[at] == '-' || format[at] == '0' || format[at] == '+' || format[at] == ' ' ||
           format[at] == '#') {
        if (flagCount < sizeof directive.flags - 1)
            directive.flags[flagCount++] = static_cast<char>(format[at]);
        at++;
    }
    if (format[at] == '*') {
        directive.width = va_arg(*arguments, int);
        if (directive.width < 0) {
            directive.width = -directive.width;
            if (flagCount < sizeof directive.flags - 1)
                directive.flags[flagCount++] = '-';
        }
        at++;
    } else {
        while (format[at] >= '0' && format[at] <= '9') {
            directive.width = (directive.width < 0 ? 0 : directive.width) * 10 + (format[at] - '0');
            if (directive.width > 4096)
                return 0;
            at++;
        }
    }
    if (format[at] == '.') {
        at++;
        directive.precision = 0;
        if (format[at] == '*') {
            directive.precision = va_arg(*arguments, int);
            at++;
        } else {
            while (format[at] >= '0' && format[at] <= '9') {
                directive.precision = directive.precision * 10 + (format[at] - '0');
                if (directive.precision > 4096)
                    return 0;
                at++;
            }
        }
    }
    if (format[at] == 'h') {
        at++;
        directive.length = kShort;
        if (format[at] == 's')
            directive.narrowText = true;
    } else if (format[at] == 'l') {
        at++;
        directive.length = kLong;
        if (format[at] == 'l') {
            at++;
            directive.length = kLongLong;
        }
    } else if (format[at] == 'w') {
        at++;
        if (format[at] != 's')
            return 0;
        directive.wideText = true;
    } else if (format[at] == 'z') {
        at++;
        directive.length = kSize;
    } else if (format[at] == 'I' && format[at + 1] == '6' && format[at + 2] == '4') {
        at += 3;
        directive.length = kInt64;
    }

    CharT conversion = format[at];
    switch (conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        emitNumber(sink, directive, static_cast<char>(conversion), arguments);
        break;
    case 'c': {
        int value = va_arg(*arguments, int);
        int pad = directive.width > 1 ? directive.width - 1 : 0;
        if (!hasFlag(directive, '-'))
            emitPadding(sink, pad);
        if (wideFormat && directive.length != kShort) {
            WCHAR16 ch = static_cast<WCHAR16>(value);
            emitWide(sink, &ch, 1);
        } else {
            char ch = static_cast<char>(value);
            emitNarrow(sink, &ch, 1);
        }
        if (hasFlag(directive, '-'))
            emitPadding(sink, pad);
        break;
    }
    case 's': {
        bool wide;
        if (wideFormat)
            wide = !directive.narrowText;
        else
            wide = directive.wideText || directive.length == kLong;
        emitText(sink, directive, wide, arguments);
        break;
    }
    case 'S':
        emitText(sink, directive, !wideFormat, arguments);
        break;
    case 'p': {
        char digits[32];
        snprintf(digits, sizeof digits, "%p", va_arg(*arguments, void *));
        emitNarrow(sink, digits, strlen(digits));
        break;
    }
    case '%':
        if (at != 0)
            return 0;
        emitNarrow(sink, "%", 1);
        break;
    default:
        return 0;
    }
    return at + 1;
}

template <typename CharT>
bool expandAny(const FormatSink &sink, const CharT *format, bool wideFormat, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    bool ok = true;
    size_t at = 0;
    while (format[at] != 0) {
        size_t start = at;
        while (format[at] != 0 && format[at] != '%')
            at++;
        if (at > start) {
            if (wideFormat)
                emitWide(sink, reinterpret_cast<const WCHAR16 *>(format + start), at - start);
            else
                emitNarrow(sink, reinterpret_cast<const char *>(format + start), at - start);
        }
        if (format[at] == 0)
            break;
        size_t used = expandConversion(sink, format + at + 1, wideFormat, &copy);
        if (used == 0) {
            ok = false;
            break;
        }
        at += 1 + used;
    }
    va_end(copy);
    return ok;
}

}  // namespace

bool expandFormat(const FormatSink &sink, const char *format, va_list arguments)
{
    return expandAny(sink, format, false, arguments);
}

bool expandWideFormat(const FormatSink &sink, const WCHAR16 *format, va_list arguments)
{
    return expandAny(sink, format, true, arguments);
}

size_t encodeUtf8(unsigned long code, unsigned char bytes[4])
{
    if (code < 0x80) {
        bytes[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 4;
}

size_t wideToUtf8(const WCHAR16 *text, size_t length, char *out, size_t room)
{
    size_t needed = 0;
    size_t written = 0;
    for (size_t i = 0; i < length; i++) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            i++;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        unsigned char bytes[4];
        size_t count = encodeUtf8(code, bytes);
        needed += count;
        if (room > 0 && written + count < room) {
            memcpy(out + written, bytes, count);
            written += count;
        }
    }
    if (room > 0)
        out[written] = 0;
    return needed;
}

long decodeUtf8(const unsigned char *text, size_t length, size_t *at, Utf8Malformed malformed)
{
    const size_t start = *at;
    const unsigned char lead = text[start];
    size_t extra;
    long code;
    long minimum;  // below it the form is overlong
    if (lead < 0x80) {
        *at = start + 1;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, code = lead & 0x07, minimum = 0x10000;
    } else {
        return malformedSequence(at, start + 1, malformed);
    }
    for (size_t i = 1; i <= extra; i++) {
        if (start + i >= length || (text[start + i] & 0xC0) != 0x80)
            return malformedSequence(at, start + i, malformed);
        code = (code << 6) | (text[start + i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return malformedSequence(at, start + extra + 1, malformed);
    *at = start + extra + 1;
    return code;
}

int hexDigit(unsigned long ch)
{
    if (ch >= '0' && ch <= '9')
        return static_cast<int>(ch - '0');
    if (ch >= 'a' && ch <= 'f')
        return static_cast<int>(ch - 'a' + 10);
    if (ch >= 'A' && ch <= 'F')
        return static_cast<int>(ch - 'A' + 10);
    return -1;
}
