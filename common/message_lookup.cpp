#include "common/message_lookup.h"

#include <cstdint>

#include "common/text_format.h"

namespace {

struct RenderState {
    WCHAR16 *buffer;
    ULONG room;
    ULONG length;
    bool overflow;
};

void put(RenderState *state, unsigned long code)
{
    if (code >= 0x10000) {
        code -= 0x10000;
        put(state, 0xD800 + (code >> 10));
        put(state, 0xDC00 + (code & 0x3FF));
        return;
    }
    if (state->length + 1 >= state->room) {
        state->overflow = true;
        return;
    }
    state->buffer[state->length++] = static_cast<WCHAR16>(code);
}

}  // namespace

ULONG renderMessageText(const char *stored, WCHAR16 *buffer, ULONG room)
{
    if (room == 0)
        return 0;
    const unsigned char *text = reinterpret_cast<const unsigned char *>(stored);
    RenderState state = {buffer, room, 0, false};
    size_t at = 0;
    while (text[at] != 0 && !state.overflow) {
        unsigned char ch = text[at];
        if (ch == '\r' || ch == '\n') {
            // One line break, "\r\n" or a lone "\n", is one blank.
            at += (ch == '\r' && text[at + 1] == '\n') ? 2 : 1;
            put(&state, ' ');
        } else if (ch == '%') {
            unsigned char next = text[at + 1];
            if (next >= '1' && next <= '9')
                return 0;  // an insert argument: none are supplied
            if (next == '0')
                break;
            if (next == 0) {
                at++;
                continue;
            }
            if (next == 'n') {
                put(&state, '\r');
                put(&state, '\n');
            } else if (next == 'r') {
                put(&state, '\r');
            } else if (next == 't') {
                put(&state, '\t');
            } else {
                put(&state, next);  // "%%", "%.", "%!", "% " and the like
            }
            at += 2;
        } else {
            // A malformed byte shows as U+FFFD; the text goes on after it.
            put(&state,
                static_cast<unsigned long>(decodeUtf8(text, SIZE_MAX, &at, UTF8_SUBSTITUTE)));
        }
    }
    if (state.overflow)
        return 0;
    buffer[state.length] = 0;
    return state.length;
}

ULONG lookupMessageTable(const MessageTableEntry *table, size_t entries, ULONG code,
                         WCHAR16 *buffer, ULONG room)
{
    for (size_t i = 0; i < entries; i++)
        if (table[i].code == code)
            return renderMessageText(table[i].text, buffer, room);
    return 0;
}
