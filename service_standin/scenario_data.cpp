// The data items of an answer: the bytes that a call receives.
#include "service_standin/scenario_reader.h"

#include "common/text_format.h"

#include <cstdlib>
#include <cstring>

namespace standin {

namespace {

bool appendBytes(Parser *parser, const void *bytes, size_t length)
{
    Scenario *scenario = parser->scenario;
    if (scenario->poolLength + length > scenario->poolRoom) {
        size_t room = scenario->poolRoom == 0 ? 4096 : scenario->poolRoom;
        while (room < scenario->poolLength + length)
            room *= 2;
        unsigned char *grown = static_cast<unsigned char *>(realloc(scenario->pool, room));
        if (grown == nullptr) {
            fail(parser, "out of memory");
            return false;
        }
        scenario->pool = grown;
        scenario->poolRoom = room;
    }
    if (length > 0)
        memcpy(scenario->pool + scenario->poolLength, bytes, length);
    scenario->poolLength += length;
    parser->answer->dataLength += length;
    return true;
}

bool appendZeros(Parser *parser, size_t count)
{
    static const unsigned char zeros[256] = {};
    while (count > 0 && !parser->failed) {
        size_t slice = count < sizeof zeros ? count : sizeof zeros;
        appendBytes(parser, zeros, slice);
        count -= slice;
    }
    return !parser->failed;
}

bool appendLittleEndian(Parser *parser, unsigned long long value, size_t bytes)
{
    unsigned char out[8];
    for (size_t i = 0; i < bytes; i++)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    return appendBytes(parser, out, bytes);
}

// 8-bit bytes of a quoted text: UTF-8 as written, \x{HH} one byte, \u{..}
// the UTF-8 form of that character.
bool appendNarrowText(Parser *parser, const Token &token)
{
    size_t at = 0;
    while (at < token.length && !parser->failed) {
        char kind;
        unsigned long value;
        if (token.text[at] == '\\' && readEscape(token.text, token.length, &at, &kind, &value)) {
            unsigned char out[4];
            size_t bytes = 1;
            if (kind == 'x')
                out[0] = static_cast<unsigned char>(value);
            else
                bytes = encodeUtf8(value, out);
            appendBytes(parser, out, bytes);
        } else {
            appendBytes(parser, token.text + at, 1);
            at++;
        }
    }
    return !parser->failed;
}

// Decodes the 16-bit characters of a quoted text: UTF-8 becomes UTF-16,
// \x{HH} the character U+00HH, \u{HHHH} that 16-bit character as it is (a
// lone surrogate or 0 too), \u{HHHHH} a surrogate pair.  Stores the first
// `room` characters in out (may be null) and, with `append`, adds every
// character to the answer's data.  Returns the characters, or -1 on
// malformed text.
long decodeWide(Parser *parser, const Token &token, WCHAR16 *out, size_t room, bool append)
{
    long count = 0;
    size_t at = 0;
    while (at < token.length && !parser->failed) {
        char kind = 0;
        unsigned long code;
        bool escaped =
            token.text[at] == '\\' && readEscape(token.text, token.length, &at, &kind, &code);
        if (!escaped) {
            long decoded = decodeUtf8(reinterpret_cast<const unsigned char *>(token.text),
                                      token.length, &at, UTF8_REFUSE);
            if (decoded < 0) {
                fail(parser, "the quoted text is not valid UTF-8");
                return -1;
            }
            code = static_cast<unsigned long>(decoded);
        }
        WCHAR16 units[2] = {static_cast<WCHAR16>(code), 0};
        int unitCount = 1;
        if (code >= 0x10000) {
            units[0] = static_cast<WCHAR16>(0xD800 + ((code - 0x10000) >> 10));
            units[1] = static_cast<WCHAR16>(0xDC00 + ((code - 0x10000) & 0x3FF));
            unitCount = 2;
        }
        for (int i = 0; i < unitCount; i++) {
            if (out != nullptr && static_cast<size_t>(count) < room)
                out[count] = units[i];
            if (append)
                appendLittleEndian(parser, units[i], 2);
            count++;
        }
    }
    return parser->failed ? -1 : count;
}

bool appendWideText(Parser *parser, const Token &token, bool terminate)
{
    if (decodeWide(parser, token, nullptr, 0, true) < 0)
        return false;
    return !terminate || appendLittleEndian(parser, 0, 2);
}

bool expectQuoted(Parser *parser, const Token *tokens, int count, int at, const char *item)
{
    if (at >= count || !tokens[at].quoted) {
        fail(parser, "'%s' needs a quoted text", item);
        return false;
    }
    return true;
}

// A portal record of 1026 bytes: symbolic name and address of 256 characters
// each (texts up to 256 characters; one of 256 has no terminator), the socket.
bool appendPortal(Parser *parser, const Token *address, unsigned long long socket,
                  const Token *symbolic)
{
    WCHAR16 fields[2][MAX_ISCSI_PORTAL_ADDRESS_LEN] = {};
    const Token *texts[2] = {symbolic, address};
    for (int f = 0; f < 2; f++) {
        if (texts[f] == nullptr)
            continue;
        long length = decodeWide(parser, *texts[f], fields[f], MAX_ISCSI_PORTAL_ADDRESS_LEN, false);
        if (length < 0)
            return false;
        if (length > MAX_ISCSI_PORTAL_ADDRESS_LEN) {
            fail(parser, "a portal text of more than 256 characters");
            return false;
        }
    }
    for (int f = 0; f < 2; f++)
        for (size_t i = 0; i < MAX_ISCSI_PORTAL_ADDRESS_LEN; i++)
            appendLittleEndian(parser, fields[f][i], 2);
    return appendLittleEndian(parser, socket, 2);
}

// The portal of an open group has been written: pad the group to its stride
// after its last portal.
void portalWritten(Parser *parser)
{
    if (parser->groupRemaining == 0)
        return;
    if (--parser->groupRemaining == 0 && parser->groupPad) {
        ULONG n = parser->groupPortals;
        appendZeros(parser, static_cast<size_t>(portalGroupStride(n) - 4u - n * 1026u));
    }
}

void putField(Parser *parser, size_t recordAt, size_t offset, ULONG value)
{
    memcpy(parser->scenario->pool + parser->answer->dataStart + recordAt + offset, &value,
           sizeof value);
}

// loginoptions key=value...: a record in this build's ISCSI_LOGIN_OPTIONS
// layout, then the user name and password bytes that its pointers reach.
// Returns the token after the item, or -1 after a failure.
int parseLoginOptions(Parser *parser, const Token *tokens, int count, int at)
{
    static const char *const kNumberKeys[] = {"version", "info",    "flags", "auth",  "header",
                                              "data",    "maxconn", "wait",  "retain"};
    static const size_t kNumberOffsets[] = {
        offsetof(ISCSI_LOGIN_OPTIONS, Version),
        offsetof(ISCSI_LOGIN_OPTIONS, InformationSpecified),
        offsetof(ISCSI_LOGIN_OPTIONS, LoginFlags),
        offsetof(ISCSI_LOGIN_OPTIONS, AuthType),
        offsetof(ISCSI_LOGIN_OPTIONS, HeaderDigest),
        offsetof(ISCSI_LOGIN_OPTIONS, DataDigest),
        offsetof(ISCSI_LOGIN_OPTIONS, MaximumConnections),
        offsetof(ISCSI_LOGIN_OPTIONS, DefaultTime2Wait),
        offsetof(ISCSI_LOGIN_OPTIONS, DefaultTime2Retain),
    };
    const size_t kKeys = sizeof kNumberKeys / sizeof kNumberKeys[0];
    static const char *const kTextKeys[2] = {"username", "password"};
    static const char *const kLengthKeys[2] = {"userlen", "passlen"};
    static const char *const kPointerKeys[2] = {"userptr", "passptr"};
    static const size_t kLengthOffsets[2] = {offsetof(ISCSI_LOGIN_OPTIONS, UsernameLength),
                                             offsetof(ISCSI_LOGIN_OPTIONS, PasswordLength)};
    static const size_t kPointerOffsets[2] = {offsetof(ISCSI_LOGIN_OPTIONS, Username),
                                              offsetof(ISCSI_LOGIN_OPTIONS, Password)};

    ULONG numbers[kKeys] = {};
    bool hasText[2] = {false, false};
    Token texts[2];
    bool lengthGiven[2] = {false, false};
    ULONG lengths[2] = {0, 0};
    enum {
        DEFAULT,
        INSIDE,
        OUTSIDE,
        NONE
    } pointers[2] = {DEFAULT, DEFAULT};

    Token key, value;
    for (; at < count && splitKeyValue(tokens[at], &key, &value); at++) {
        bool handled = false;
        for (int t = 0; t < 2 && !handled; t++) {
            handled = true;
            unsigned long long number;
            if (tokenIs(key, kTextKeys[t])) {
                if (!value.quoted) {
                    fail(parser, "%s= needs a quoted text", kTextKeys[t]);
                    return -1;
                }
                hasText[t] = true;
                texts[t] = value;
            } else if (tokenIs(key, kLengthKeys[t])) {
                if (!tokenNumber(parser, value, 0xFFFFFFFFull, &number))
                    return -1;
                lengthGiven[t] = true;
                lengths[t] = static_cast<ULONG>(number);
            } else if (tokenIs(key, kPointerKeys[t])) {
                if (tokenIs(value, "inside"))
                    pointers[t] = INSIDE;
                else if (tokenIs(value, "outside"))
                    pointers[t] = OUTSIDE;
                else if (tokenIs(value, "none"))
                    pointers[t] = NONE;
                else {
                    fail(parser, "%s= takes inside, outside or none", kPointerKeys[t]);
                    return -1;
                }
            } else {
                handled = false;
            }
        }
        if (handled)
            continue;
        size_t k = 0;
        while (k < kKeys && !tokenIs(key, kNumberKeys[k]))
            k++;
        if (k == kKeys) {
            fail(parser, "loginoptions has no field '%.*s'", static_cast<int>(key.length),
                 key.text);
            return -1;
        }
        unsigned long long number;
        if (!tokenNumber(parser, value, 0xFFFFFFFFull, &number))
            return -1;
        numbers[k] = static_cast<ULONG>(number);
    }

    ScriptedAnswer *answer = parser->answer;
    size_t recordAt = answer->dataLength;
    if (!appendZeros(parser, sizeof(ISCSI_LOGIN_OPTIONS)))
        return -1;
    for (size_t k = 0; k < kKeys; k++)
        putField(parser, recordAt, kNumberOffsets[k], numbers[k]);
    size_t textAt[2];
    for (int t = 0; t < 2; t++) {
        textAt[t] = answer->dataLength;
        if (hasText[t] && !appendNarrowText(parser, texts[t]))
            return -1;
        size_t length = answer->dataLength - textAt[t];
        putField(parser, recordAt, kLengthOffsets[t],
                 lengthGiven[t] ? lengths[t] : static_cast<ULONG>(length));
        if (pointers[t] == DEFAULT)
            pointers[t] = hasText[t] ? INSIDE : NONE;
        if (pointers[t] == NONE)
            continue;
        Scenario *scenario = parser->scenario;
        if (scenario->fixupCount == STANDIN_MAX_POINTERS) {
            fail(parser, "more than %d login-options pointers", STANDIN_MAX_POINTERS);
            return -1;
        }
        scenario->fixups[scenario->fixupCount++] = {recordAt + kPointerOffsets[t], textAt[t],
                                                    pointers[t] == INSIDE ? POINTER_INSIDE
                                                                          : POINTER_OUTSIDE};
        answer->fixupCount++;
    }
    return at;
}

bool isHexPairs(const Token &token)
{
    if (token.quoted || token.length == 0 || token.length % 2 != 0)
        return false;
    for (size_t i = 0; i < token.length; i++)
        if (hexDigit(token.text[i]) < 0)
            return false;
    return true;
}

bool isItemKeyword(const Token &token)
{
    static const char *const kItems[] = {"u8",     "u16",   "u32",         "u64",   "hex",
                                         "zeros",  "wide",  "chars",       "bytes", "list",
                                         "portal", "group", "loginoptions"};
    for (const char *item : kItems)
        if (tokenIs(token, item))
            return true;
    return false;
}

}  // namespace

// Reads the data items from tokens[at] on.  Returns false after a failure.
bool parseItems(Parser *parser, const Token *tokens, int count, int at)
{
    while (at < count && !parser->failed) {
        const Token &keyword = tokens[at++];
        if (parser->groupRemaining > 0 && !tokenIs(keyword, "portal")) {
            fail(parser, "the group still needs %lu portal items",
                 static_cast<unsigned long>(parser->groupRemaining));
            return false;
        }
        if (tokenIs(keyword, "u8") || tokenIs(keyword, "u16") || tokenIs(keyword, "u32") ||
            tokenIs(keyword, "u64")) {
            size_t bytes = keyword.text[1] == '8'   ? 1
                           : keyword.text[1] == '1' ? 2
                           : keyword.text[1] == '3' ? 4
                                                    : 8;
            unsigned long long limit = bytes == 8 ? ~0ull : (1ull << (8 * bytes)) - 1;
            if (at >= count || !tokenLooksNumeric(tokens[at])) {
                fail(parser, "'%.*s' needs a number", static_cast<int>(keyword.length),
                     keyword.text);
                return false;
            }
            while (at < count && tokenLooksNumeric(tokens[at])) {
                unsigned long long value;
                if (!tokenNumber(parser, tokens[at++], limit, &value))
                    return false;
                appendLittleEndian(parser, value, bytes);
            }
        } else if (tokenIs(keyword, "hex")) {
            // Every following token made of pairs of hexadecimal digits.
            int first = at;
            while (at < count && isHexPairs(tokens[at])) {
                const Token &digits = tokens[at++];
                for (size_t i = 0; i < digits.length; i += 2)
                    appendLittleEndian(parser,
                                       static_cast<unsigned>(hexDigit(digits.text[i]) * 16 +
                                                             hexDigit(digits.text[i + 1])),
                                       1);
            }
            if (at == first || (at < count && !isItemKeyword(tokens[at]))) {
                fail(parser, "'hex' needs pairs of hexadecimal digits");
                return false;
            }
        } else if (tokenIs(keyword, "zeros")) {
            unsigned long long value;
            if (at >= count || !tokenNumber(parser, tokens[at++], 1u << 24, &value))
                return false;
            appendZeros(parser, static_cast<size_t>(value));
        } else if (tokenIs(keyword, "wide") || tokenIs(keyword, "chars") ||
                   tokenIs(keyword, "bytes") || tokenIs(keyword, "list")) {
            bool isList = tokenIs(keyword, "list");
            if (!isList && !expectQuoted(parser, tokens, count, at, "text item"))
                return false;
            while (at < count && tokens[at].quoted) {
                if (tokenIs(keyword, "bytes"))
                    appendNarrowText(parser, tokens[at]);
                else
                    appendWideText(parser, tokens[at], !tokenIs(keyword, "chars"));
                at++;
            }
            if (isList)
                appendLittleEndian(parser, 0, 2);
        } else if (tokenIs(keyword, "portal")) {
            if (!expectQuoted(parser, tokens, count, at, "portal"))
                return false;
            const Token *address = &tokens[at++];
            unsigned long long socket;
            if (at >= count || !tokenNumber(parser, tokens[at++], 0xFFFF, &socket)) {
                if (!parser->failed)
                    fail(parser, "'portal' needs an address and a socket");
                return false;
            }
            const Token *symbolic = nullptr;
            if (at < count && tokens[at].quoted)
                symbolic = &tokens[at++];
            if (!appendPortal(parser, address, socket, symbolic))
                return false;
            portalWritten(parser);
        } else if (tokenIs(keyword, "group")) {
            unsigned long long portals;
            if (at >= count || !tokenNumber(parser, tokens[at++], 4096, &portals)) {
                if (!parser->failed)
                    fail(parser, "'group' needs its portal count");
                return false;
            }
            parser->groupPad = true;
            if (at < count && tokenIs(tokens[at], "nopad")) {
                parser->groupPad = false;
                at++;
            }
            parser->groupPortals = static_cast<ULONG>(portals);
            parser->groupRemaining = static_cast<ULONG>(portals);
            appendLittleEndian(parser, portals, 4);
        } else if (tokenIs(keyword, "loginoptions")) {
            at = parseLoginOptions(parser, tokens, count, at);
            if (at < 0)
                return false;
        } else {
            fail(parser, "unknown data item '%.*s'", static_cast<int>(keyword.length),
                 keyword.text);
            return false;
        }
    }
    return !parser->failed;
}

}  // namespace standin
