#include "service_support/portal_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service_support/text_conversion.h"

namespace {

// Reads an unsigned decimal number that fills text[0..length); false when the
// text is empty, holds another character or exceeds limit.
bool readDecimal(const char *text, size_t length, unsigned long limit, unsigned long *value)
{
    if (length == 0)
        return false;
    unsigned long result = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + static_cast<unsigned long>(text[i] - '0');
        if (result > limit)
            return false;
    }
    *value = result;
    return true;
}

}  // namespace

bool parseTargetAddress(const char *text, char *address, size_t addressRoom, USHORT *port,
                        ULONG *tag)
{
    if (addressRoom == 0)
        return false;
    address[0] = 0;
    size_t length = strlen(text);
    const char *comma = strrchr(text, ',');
    const char *bracketEnd = strchr(text, ']');
    if (comma != nullptr && bracketEnd != nullptr && comma < bracketEnd)
        comma = nullptr;  // a comma inside the brackets is no tag separator
    unsigned long tagValue = DEFAULT_PORTAL_GROUP_TAG;
    size_t hostPortLength = length;
    if (comma != nullptr) {
        hostPortLength = static_cast<size_t>(comma - text);
        if (!readDecimal(comma + 1, length - hostPortLength - 1, 0xFFFF, &tagValue))
            return false;
    }
    const char *hostStart = text;
    size_t hostLength = hostPortLength;
    unsigned long portValue = DEFAULT_ISCSI_PORT;
    const char *portText = nullptr;
    if (text[0] == '[') {
        if (bracketEnd == nullptr || bracketEnd >= text + hostPortLength)
            return false;
        hostStart = text + 1;
        hostLength = static_cast<size_t>(bracketEnd - hostStart);
        const char *after = bracketEnd + 1;
        if (after < text + hostPortLength) {
            if (*after != ':')
                return false;
            portText = after + 1;
        }
    } else {
        const char *colon = nullptr;
        size_t colons = 0;
        for (size_t i = 0; i < hostPortLength; i++) {
            if (text[i] == ':') {
                colon = text + i;
                colons++;
            }
        }
        // One colon separates the port; several without brackets are a bare
        // IPv6 address.
        if (colons == 1) {
            hostLength = static_cast<size_t>(colon - text);
            portText = colon + 1;
        }
    }
    if (portText != nullptr &&
        !readDecimal(portText, static_cast<size_t>(text + hostPortLength - portText), 0xFFFF,
                     &portValue))
        return false;
    if (hostLength == 0 || hostLength + 1 > addressRoom || portValue == 0)
        return false;
    // No host name or address holds blanks, control characters, commas or
    // brackets (those of an IPv6 address are gone by now).  Such an address
    // would reach the name service, and would not survive formatEndpoint.
    for (size_t i = 0; i < hostLength; i++) {
        unsigned char byte = static_cast<unsigned char>(hostStart[i]);
        if (byte <= 0x20 || byte == 0x7F || byte == ',' || byte == '[' || byte == ']')
            return false;
    }
    memcpy(address, hostStart, hostLength);
    address[hostLength] = 0;
    size_t wideLength = utf8WideCharacters(address);
    if (wideLength == 0 || wideLength > MAX_ISCSI_PORTAL_ADDRESS_LEN - 1 ||
        !isReadableText(address)) {  // C1 controls come as two bytes
        address[0] = 0;
        return false;
    }
    *port = static_cast<USHORT>(portValue);
    *tag = static_cast<ULONG>(tagValue);
    return true;
}

bool formatEndpoint(const char *address, USHORT port, char *out, size_t room)
{
    bool bracket = strchr(address, ':') != nullptr && address[0] != '[';
    int written =
        snprintf(out, room, bracket ? "[%s]:%u" : "%s:%u", address, static_cast<unsigned>(port));
    return written >= 0 && static_cast<size_t>(written) < room;
}

bool formatDiscoveryMechanism(const char *address, USHORT port, char *out, size_t room)
{
    char endpoint[PORTAL_ADDRESS_BYTES + 16];
    if (!formatEndpoint(address, port, endpoint, sizeof endpoint))
        return false;
    int written = snprintf(out, room, "SendTargets %s", endpoint);
    return written >= 0 && static_cast<size_t>(written) < room;
}
