#include "common/wide_text.h"

#include <cstdarg>

#include "common/text_format.h"

namespace {

// Collects an expansion into a bounded wide buffer, counting what the whole
// text would need.  8-bit pieces are widened byte for byte.
struct BoundedWideWriter {
    WCHAR16 *buffer;
    size_t room;  // characters available before the terminator slot
    size_t written;
    size_t needed;
};

void putWideChar(BoundedWideWriter *writer, WCHAR16 ch)
{
    if (writer->written < writer->room)
        writer->buffer[writer->written++] = ch;
    writer->needed++;
}

void collectNarrow(void *context, const char *bytes, size_t length)
{
    BoundedWideWriter *writer = static_cast<BoundedWideWriter *>(context);
    for (size_t i = 0; i < length; i++)
        putWideChar(writer, static_cast<WCHAR16>(static_cast<unsigned char>(bytes[i])));
}

void collectWide(void *context, const WCHAR16 *chars, size_t length)
{
    BoundedWideWriter *writer = static_cast<BoundedWideWriter *>(context);
    for (size_t i = 0; i < length; i++)
        putWideChar(writer, chars[i]);
}

}  // namespace

ULONG printBounded(WCHAR16 *buffer, ULONG count, const WCHAR16 *format, ...)
{
    if (count > BOUNDED_MAX_COUNT || count == 0)
        return BOUNDED_INVALID_ARGUMENT;

    BoundedWideWriter writer = {buffer, count - 1u, 0, 0};
    FormatSink sink = {collectNarrow, collectWide, &writer};
    va_list arguments;
    va_start(arguments, format);
    bool formatted = expandWideFormat(sink, format, arguments);
    va_end(arguments);

    if (!formatted) {
        buffer[0] = 0;
        buffer[count - 1] = 0;
        return BOUNDED_TRUNCATED;
    }
    buffer[writer.written] = 0;
    if (writer.needed > count - 1u) {
        buffer[count - 1] = 0;
        return BOUNDED_TRUNCATED;
    }
    return BOUNDED_OK;
}

ULONG copyBounded(WCHAR16 *buffer, ULONG count, const WCHAR16 *source)
{
    if (count > BOUNDED_MAX_COUNT || count == 0)
        return BOUNDED_INVALID_ARGUMENT;

    ULONG copied = 0;
    while (copied < count && source[copied] != 0) {
        buffer[copied] = source[copied];
        copied++;
    }
    if (copied == count) {
        buffer[count - 1] = 0;
        return BOUNDED_TRUNCATED;
    }
    buffer[copied] = 0;
    return BOUNDED_OK;
}

size_t wideLength(const WCHAR16 *text)
{
    size_t length = 0;
    while (text[length] != 0)
        length++;
    return length;
}

size_t wideLengthBounded(const WCHAR16 *text, size_t limit)
{
    size_t length = 0;
    while (length < limit && text[length] != 0)
        length++;
    return length;
}

bool wideEqual(const WCHAR16 *a, const WCHAR16 *b)
{
    size_t i = 0;
    while (a[i] != 0 && a[i] == b[i])
        i++;
    return a[i] == b[i];
}
