// targetlogin's command line into ConnectOptions, and parsePortText.
//
// Input: the arguments after the program name, each ended by a 0 byte.
// Each run is checked against a model of the grammar written here from the
// tool's documented rules, and every port text against a model of
// parsePortText built on the C library's strtoll.  Findings: any memory or
// undefined-behaviour fault, and any difference from the models.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/wide_text.h"
#include "targetlogin/targetlogin.h"

namespace {

const int kMaxArguments = 48;

[[noreturn]] void finding(const char *what, int argument)
{
    fprintf(stderr, "command line fuzz: %s (argument %d)\n", what, argument);
    abort();
}

// What the grammar should make of the arguments.
struct ModelPortal {
    const char *address;
    const char *portText;  // null: the default "3260"
    ULONG initiatorPort;
};

struct ModelResult {
    bool refused;
    ModelPortal portals[MAX_COMMAND_LINE_PORTALS];
    int count;
    const char *chapSecret;
    bool loginAll;
};

bool fitsArgument(const char *text)
{
    return strlen(text) < ARGUMENT_TEXT_CHARS;
}

// strtol in base 10 on a 32-bit long: strtoll, then the nearest bound.
int32_t modelDecimal(const char *text)
{
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

ModelResult modelCommandLine(int argc, char **argv)
{
    ModelResult model;
    memset(&model, 0, sizeof model);
    for (int at = 1; at < argc; at++) {
        const char *argument = argv[at];
        bool hasValue = at + 1 < argc;
        ModelPortal *latest = model.count > 0 ? &model.portals[model.count - 1] : nullptr;
        if (strcmp(argument, "-p") == 0 || strcmp(argument, "-s") == 0) {
            if (!hasValue) {
                // Passed over before any address; ours to refuse after one.
                model.refused = latest != nullptr;
                return model;
            }
            const char *value = argv[++at];
            if (latest == nullptr)
                continue;
            if (argument[1] == 's') {
                latest->initiatorPort = static_cast<ULONG>(modelDecimal(value));
            } else if (!fitsArgument(value)) {
                model.refused = true;
                return model;
            } else {
                latest->portText = value;
            }
        } else if (strcmp(argument, "-t") == 0) {
            model.chapSecret = hasValue ? argv[++at] : nullptr;
        } else if (strcmp(argument, "-h") == 0) {
            if (!hasValue)
                break;
            at++;
        } else if (strcmp(argument, "-a") == 0) {
            model.loginAll = true;
        } else {
            if (model.count == MAX_COMMAND_LINE_PORTALS || !fitsArgument(argument)) {
                model.refused = true;
                return model;
            }
            model.portals[model.count].address = argument;
            model.portals[model.count].portText = nullptr;
            model.portals[model.count].initiatorPort = ISCSI_ANY_INITIATOR_PORT;
            model.count++;
        }
    }
    return model;
}

// The wide text equals the byte-for-byte widening of narrow.
bool widenedEquals(const WCHAR16 *wide, const char *narrow)
{
    size_t length = strlen(narrow);
    if (wideLengthBounded(wide, ARGUMENT_TEXT_CHARS) != length)
        return false;
    for (size_t i = 0; i < length; i++)
        if (wide[i] != static_cast<unsigned char>(narrow[i]))
            return false;
    return true;
}

int hexValue(WCHAR16 ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f')
        return (ch | 0x20) - 'a' + 10;
    return -1;
}

// parsePortText's rules.  The decimal part is modelled for ASCII texts
// only: beyond ASCII, which characters count as blanks is the library's.
bool modelPortText(const WCHAR16 *text, int32_t *result)
{
    size_t length = wideLength(text);
    if (length >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint32_t value = 0;
        for (size_t i = 2; i < length; i++) {
            int digit = hexValue(text[i]);
            if (digit < 0) {
                *result = 0;
                return true;
            }
            value = value * 16u + static_cast<uint32_t>(digit);
        }
        *result = static_cast<int32_t>(value);
        return true;
    }
    char narrow[512];
    if (length >= sizeof narrow)
        return false;
    for (size_t i = 0; i <= length; i++) {
        if (text[i] >= 0x80)
            return false;
        narrow[i] = static_cast<char>(text[i]);
    }
    *result = modelDecimal(narrow);
    return true;
}

void checkPortText(const WCHAR16 *text, int argument)
{
    int32_t expected = 0;
    if (modelPortText(text, &expected) && parsePortText(text) != expected)
        finding("parsePortText differs from its rules", argument);
}

ConnectOptions gOptions;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments in heap blocks of their own, so that a read past one is seen.
    char *argv[kMaxArguments + 2] = {};
    int argc = 0;
    argv[argc++] = strdup("targetlogin");
    size_t start = 0;
    while (start < size && argc <= kMaxArguments) {
        const void *zero = memchr(data + start, 0, size - start);
        size_t end =
            zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t *>(zero) - data) : size;
        char *argument = static_cast<char *>(malloc(end - start + 1));
        if (argument == nullptr)
            break;
        memcpy(argument, data + start, end - start);
        argument[end - start] = 0;
        argv[argc++] = argument;
        start = end + 1;
    }

    resetConnectOptions(&gOptions);
    CommandLineResult result = readCommandLine(argc, argv, &gOptions);
    ModelResult model = modelCommandLine(argc, argv);

    if ((result == COMMAND_LINE_REFUSED) != model.refused)
        finding(model.refused ? "accepted what the grammar refuses"
                              : "refused what the grammar accepts",
                0);
    if (result == COMMAND_LINE_ACCEPTED) {
        if (gOptions.portalCount != model.count)
            finding("portal count", 0);
        if (gOptions.chapSecret != model.chapSecret)
            finding("CHAP secret is not the argument itself", 0);
        if (gOptions.loginAllPortals != model.loginAll)
            finding("-a", 0);
        for (int i = 0; i < MAX_COMMAND_LINE_PORTALS; i++) {
            const PortalArgument &portal = gOptions.portals[i];
            if (i >= model.count) {
                if (portal.address != nullptr || portal.initiatorPort != ISCSI_ANY_INITIATOR_PORT ||
                    !widenedEquals(portal.portText, "3260"))
                    finding("an unused entry lost its initial values", i);
                continue;
            }
            const ModelPortal &expected = model.portals[i];
            if (portal.address == nullptr || !widenedEquals(portal.address, expected.address))
                finding("address is not the widened argument", i);
            if (!widenedEquals(portal.portText,
                               expected.portText != nullptr ? expected.portText : "3260"))
                finding("port text is not the widened value", i);
            if (portal.initiatorPort != expected.initiatorPort)
                finding("initiator port", i);
            checkPortText(portal.portText, i);
        }
    }

    // The whole input as one wide text, two bytes a character, too.
    WCHAR16 wide[256];
    size_t chars = size / 2 < 255 ? size / 2 : 255;
    for (size_t i = 0; i < chars; i++)
        wide[i] = static_cast<WCHAR16>(data[2 * i] | (data[2 * i + 1] << 8));
    wide[chars] = 0;
    checkPortText(wide, -1);

    for (int i = 0; i < argc; i++)
        free(argv[i]);
    return 0;
}
