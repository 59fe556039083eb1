// The Linux service's reading of what targets send and the answers it builds
// from it: TargetAddress values, the UTF-8 and wide text conversions, the
// portal-group answer built from discovery records, and the login-options
// answer built from a caller's record.
//
// (The PDUs themselves, the SendTargets text and the login responses, are
// taken apart by libiscsi; the service sees only libiscsi's results.  Those
// results are what this target feeds in.)
//
// Input: a mode byte, then that mode's bytes.  Findings: any memory or
// undefined-behaviour fault, and an answer that breaks its contract: an
// address that does not survive formatEndpoint and a second parse, or holds
// control characters; a conversion that does not round-trip; portal groups
// that do not walk to the answer's end; a login-options answer whose user
// name is not the caller's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "service_support/discovery_records.h"
#include "service_support/login_settings.h"
#include "service_support/portal_text.h"
#include "service_support/target_answers.h"
#include "service_support/text_conversion.h"

namespace {

[[noreturn]] void finding(const char *what)
{
    fprintf(stderr, "target texts fuzz: %s\n", what);
    abort();
}

// The rest of the input as a terminated text in a block of its own size.
char *takeText(FuzzInput *input, size_t limit)
{
    size_t length = fuzzBytesLeft(input) < limit ? fuzzBytesLeft(input) : limit;
    char *text = static_cast<char *>(malloc(length + 1));
    if (text == nullptr)
        abort();
    takeFuzzBytes(input, text, length);
    text[length] = 0;
    return text;
}

void checkTargetAddress(FuzzInput *input)
{
    size_t room = takeFuzzByte(input) < 0x40 ? takeFuzzU16(input) % (PORTAL_ADDRESS_BYTES + 1)
                                             : PORTAL_ADDRESS_BYTES;
    char *text = takeText(input, 4096);
    char *address = static_cast<char *>(malloc(room > 0 ? room : 1));
    if (address == nullptr)
        abort();
    USHORT port = 0;
    ULONG tag = 0;
    if (parseTargetAddress(text, address, room, &port, &tag)) {
        size_t length = strnlen(address, room);
        if (length == 0 || length >= room)
            finding("parsed address empty or unterminated");
        if (port == 0 || tag > 0xFFFF)
            finding("parsed port or tag out of range");
        for (size_t i = 0; i < length; i++) {
            unsigned char byte = static_cast<unsigned char>(address[i]);
            if (byte < 0x20 || byte == 0x7F)
                finding("parsed address holds a control character");
        }
        char endpoint[PORTAL_ADDRESS_BYTES + 16];
        char again[PORTAL_ADDRESS_BYTES];
        USHORT portAgain = 0;
        ULONG tagAgain = 0;
        if (!formatEndpoint(address, port, endpoint, sizeof endpoint))
            finding("a parsed address does not fit its endpoint text");
        if (!parseTargetAddress(endpoint, again, sizeof again, &portAgain, &tagAgain) ||
            strcmp(again, address) != 0 || portAgain != port)
            finding("an endpoint text does not parse back to its address and port");
        char mechanism[64];
        size_t mechanismRoom = 1 + takeFuzzByte(input) % sizeof mechanism;
        if (formatDiscoveryMechanism(address, port, mechanism, mechanismRoom) &&
            strnlen(mechanism, mechanismRoom) >= mechanismRoom)
            finding("mechanism text unterminated");
    }
    free(address);
    free(text);
}

bool validUtf8(const char *text)
{
    // Round trip through our own reading: shortest forms, no surrogates.
    const unsigned char *at = reinterpret_cast<const unsigned char *>(text);
    while (*at != 0) {
        unsigned value;
        size_t extra;
        if (*at < 0x80) {
            at++;
            continue;
        } else if (*at >= 0xC2 && *at <= 0xDF) {
            value = *at & 0x1Fu;
            extra = 1;
        } else if (*at >= 0xE0 && *at <= 0xEF) {
            value = *at & 0x0Fu;
            extra = 2;
        } else if (*at >= 0xF0 && *at <= 0xF4) {
            value = *at & 0x07u;
            extra = 3;
        } else {
            return false;
        }
        at++;
        for (size_t i = 0; i < extra; i++, at++) {
            if ((*at & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (*at & 0x3Fu);
        }
        if ((extra == 2 && value < 0x800) ||
            (extra == 3 && (value < 0x10000 || value > 0x10FFFF)) ||
            (value >= 0xD800 && value <= 0xDFFF))
            return false;
    }
    return true;
}

void checkConversions(FuzzInput *input)
{
    size_t room = 1 + takeFuzzByte(input);
    bool fromWide = (takeFuzzByte(input) & 1) != 0;
    if (!fromWide) {
        char *text = takeText(input, 1024);
        WCHAR16 *wide = static_cast<WCHAR16 *>(malloc(room * sizeof(WCHAR16)));
        if (wide == nullptr)
            abort();
        bool ok = convertUtf8ToWide(text, wide, room);
        if (ok != (validUtf8(text) && utf8WideCharacters(text) + 1 <= room) &&
            !(ok && text[0] == 0))
            finding("convertUtf8ToWide's result disagrees with the text's validity and room");
        if (ok) {
            size_t length = 0;
            while (length < room && wide[length] != 0)
                length++;
            if (length >= room || (text[0] != 0 && length != utf8WideCharacters(text)))
                finding("wide text length differs from utf8WideCharacters");
            char back[4 * 256 + 1];
            if (!convertWideToUtf8(wide, room, back, sizeof back) || strcmp(back, text) != 0)
                finding("UTF-8 to wide and back is not the same text");
        } else if (room > 0 && wide[0] != 0) {
            finding("a failed conversion left text behind");
        }
        free(wide);
        free(text);
        return;
    }
    size_t chars = fuzzBytesLeft(input) / 2 < 512 ? fuzzBytesLeft(input) / 2 : 512;
    WCHAR16 *wide = static_cast<WCHAR16 *>(malloc((chars + 1) * sizeof(WCHAR16)));
    char *out = static_cast<char *>(malloc(room));
    if (wide == nullptr || out == nullptr)
        abort();
    for (size_t i = 0; i < chars; i++)
        wide[i] = takeFuzzU16(input);
    wide[chars] = 0;
    if (convertWideToUtf8(wide, chars + 1, out, room)) {
        if (strnlen(out, room) >= room || !validUtf8(out))
            finding("convertWideToUtf8 wrote no terminated UTF-8");
        WCHAR16 back[513];
        if (!convertUtf8ToWide(out, back, 513))
            finding("convertWideToUtf8's text does not convert back");
        for (size_t i = 0; wide[i] != 0 || back[i] != 0; i++)
            if (wide[i] != back[i])
                finding("wide to UTF-8 and back is not the same text");
    } else if (out[0] != 0) {
        finding("a failed conversion left text behind");
    }
    free(out);
    free(wide);
}

void checkPortalGroups(FuzzInput *input)
{
    DiscoveryList list = {nullptr, 0, 0};
    size_t count = takeFuzzByte(input) % 48;
    for (size_t i = 0; i < count; i++) {
        DiscoveryRecord record;
        memset(&record, 0, sizeof record);
        snprintf(record.target, sizeof record.target, "iqn.2026-12.test:fuzz");
        record.tag = takeFuzzByte(input) % 5;
        record.socket = takeFuzzU16(input);
        size_t length = takeFuzzByte(input) % 48;
        takeFuzzBytes(input, record.address, length);
        record.address[length] = 0;
        if (!appendDiscoveryRecord(&list, record))
            finding("a discovery record could not be kept");
    }
    Answer answer = {nullptr, 0, 0};
    if (buildPortalGroups(list, &answer)) {
        // Walk it as the report does: every group whole, ending at the end.
        if (answer.size < 4)
            finding("portal groups without a count");
        ULONG groups;
        memcpy(&groups, answer.bytes, sizeof groups);
        size_t offset = 4;
        size_t portals = 0;
        for (ULONG g = 0; g < groups; g++) {
            ULONG inGroup;
            if (offset + 4 > answer.size)
                finding("a group count past the answer's end");
            memcpy(&inGroup, answer.bytes + offset, sizeof inGroup);
            if (offset + portalGroupStride(inGroup) > answer.size)
                finding("a group past the answer's end");
            for (ULONG p = 0; p < inGroup; p++) {
                ISCSI_TARGET_PORTALW portal;
                memcpy(&portal, answer.bytes + offset + 4 + p * sizeof portal, sizeof portal);
                size_t length = 0;
                while (length < MAX_ISCSI_PORTAL_ADDRESS_LEN && portal.Address[length] != 0)
                    length++;
                if (length == MAX_ISCSI_PORTAL_ADDRESS_LEN)
                    finding("a portal address without its terminator");
            }
            portals += inGroup;
            offset += portalGroupStride(inGroup);
        }
        if (offset != answer.size || portals != list.count)
            finding("the groups do not hold every record, or the answer has more");
        ULONG room = takeFuzzU16(input) % (answer.size + 2);
        unsigned char *buffer = static_cast<unsigned char *>(malloc(room > 0 ? room : 1));
        if (buffer == nullptr)
            abort();
        ULONG size = room;
        ISDSC_STATUS status = deliverAnswer(answer, &size, room > 0 ? buffer : nullptr);
        if (room < answer.size || room == 0) {
            if (answer.size > 0 &&
                (status != ISDSC_ERROR_INSUFFICIENT_BUFFER || size != answer.size))
                finding("a short buffer did not get 122 and the size");
        } else if (status != ISDSC_SUCCESS || size != answer.size ||
                   memcmp(buffer, answer.bytes, answer.size) != 0) {
            finding("a buffer that fits did not get the answer");
        }
        free(buffer);
    }
    freeAnswer(&answer);
    freeDiscoveryList(&list);
}

void checkLoginOptions(FuzzInput *input)
{
    ISCSI_LOGIN_OPTIONS options;
    takeFuzzBytes(input, &options, sizeof options);
    uint8_t control = takeFuzzByte(input);
    size_t rest = fuzzBytesLeft(input);
    unsigned char *bytes = static_cast<unsigned char *>(malloc(rest > 0 ? rest : 1));
    if (bytes == nullptr)
        abort();
    takeFuzzBytes(input, bytes, rest);
    // The caller's contract: each pointer reaches its length of bytes.
    options.Username = (control & 1) != 0 ? bytes : nullptr;
    options.Password = (control & 2) != 0 ? bytes : nullptr;
    if (options.Username != nullptr && options.UsernameLength > rest)
        options.UsernameLength = static_cast<ULONG>(rest);
    if (options.Password != nullptr && options.PasswordLength > rest)
        options.PasswordLength = static_cast<ULONG>(rest);

    LoginSettings settings;
    if (settingsFromOptions((control & 4) != 0 ? nullptr : &options, &settings) == ISDSC_SUCCESS) {
        Answer answer = {nullptr, 0, 0};
        if (buildLoginOptions(settings, &answer)) {
            ULONG size = answer.size;
            unsigned char *buffer = static_cast<unsigned char *>(malloc(size));
            if (buffer == nullptr)
                abort();
            if (deliverLoginOptions(answer, &size, buffer) != ISDSC_SUCCESS)
                finding("a buffer of the answer's size was refused");
            ISCSI_LOGIN_OPTIONS delivered;
            memcpy(&delivered, buffer, sizeof delivered);
            if (delivered.PasswordLength != 0 || delivered.Password != nullptr)
                finding("the answer gives the secret away");
            if (delivered.UsernameLength != settings.usernameLength)
                finding("the user name's length changed");
            if (delivered.UsernameLength > 0) {
                uintptr_t start = reinterpret_cast<uintptr_t>(buffer);
                uintptr_t name = reinterpret_cast<uintptr_t>(delivered.Username);
                if (name < start || name - start + delivered.UsernameLength > size)
                    finding("the user name does not lie inside the answer");
                if (memcmp(delivered.Username, settings.username, settings.usernameLength) != 0)
                    finding("the user name's bytes changed");
            }
            free(buffer);
        }
        freeAnswer(&answer);
    }
    free(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input;
    startFuzzInput(&input, data, size);
    switch (takeFuzzByte(&input) % 4) {
    case 0:
        checkTargetAddress(&input);
        break;
    case 1:
        checkConversions(&input);
        break;
    case 2:
        checkPortalGroups(&input);
        break;
    default:
        checkLoginOptions(&input);
        break;
    }
    return 0;
}
