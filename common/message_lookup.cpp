#include "common/message_lookup.h"

namespace {

// Decodes one UTF-8 sequence at text[*at]; malformed bytes become U+FFFD.
unsigned long decodeUtf8(const unsigned char *text, size_t *at)
{
    unsigned char lead = text[*at];
    size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                 : (lead & 0xF8) == 0xF0 ? 3 : 4;
    if (extra == 4) {
        (*at)++;
        return 0xFFFD;
    }
    unsigned long code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t i = 1; i <= extra; i++) {
        if ((text[*at + i] & 0xC0) != 0x80) {
            *at += i;
            return 0xFFFD;
        }
        code = (code << 6) | (text[*at + i] & 0x3F);
    }
    *at += extra + 1;
    return code;
}

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
            put(&state, decodeUtf8(text, &at));
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
    for (size_t i = 0; i < entries; i++) {
        if (table[i].code == code)
            return renderMessageText(table[i].text, buffer, room);
    }
    return 0;
}
