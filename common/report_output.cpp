#include "common/report_output.h"

#include <cstdarg>
#include <cstdio>

#include "common/text_format.h"

namespace {

struct OutputState {
    size_t written;
    bool failed;
};

void writeBytes(OutputState *state, const char *bytes, size_t length)
{
    if (fwrite(bytes, 1, length, stdout) != length)
        state->failed = true;
    state->written += length;
}

void outputNarrow(void *context, const char *bytes, size_t length)
{
    writeBytes(static_cast<OutputState *>(context), bytes, length);
}

void outputWide(void *context, const WCHAR16 *chars, size_t length)
{
    // Convert in slices so that a long text needs no allocation.
    char utf8[512];
    while (length > 0) {
        size_t slice = length < 128 ? length : 128;
        // Keep a surrogate pair in one slice.
        if (slice < length && chars[slice - 1] >= 0xD800 && chars[slice - 1] <= 0xDBFF)
            slice--;
        size_t bytes = wideToUtf8(chars, slice, utf8, sizeof utf8);
        writeBytes(static_cast<OutputState *>(context), utf8, bytes);
        chars += slice;
        length -= slice;
    }
}

}  // namespace

int reportPrintf(const char *format, ...)
{
    OutputState state = {0, false};
    FormatSink sink = {outputNarrow, outputWide, &state};
    va_list arguments;
    va_start(arguments, format);
    bool formatted = expandFormat(sink, format, arguments);
    va_end(arguments);

    // A finished line goes out at once, also to a pipe or a file.
    size_t length = 0;
    while (format[length] != 0)
        length++;
    if (length > 0 && format[length - 1] == '\n')
        fflush(stdout);
    if (!formatted || state.failed)
        return -1;
    return static_cast<int>(state.written);
}
