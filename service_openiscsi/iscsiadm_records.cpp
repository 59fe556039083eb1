#include "service_openiscsi/iscsiadm_records.h"

#include <cstring>

namespace {

const char kBegin[] = "# BEGIN RECORD";
const char kEnd[] = "# END RECORD";
const char kSeparator[] = " = ";

bool startsWith(const char *bytes, size_t length, const char *prefix)
{
    size_t prefixLength = strlen(prefix);
    return length >= prefixLength && memcmp(bytes, prefix, prefixLength) == 0;
}

// Copies a field the record may lack; leaves `out` empty when it is missing
// or unreadable.
void optionalField(const char *record, size_t length, const char *name, char *out, size_t room)
{
    if (findRecordField(record, length, name, out, room) != FIELD_FOUND)
        out[0] = 0;
}

bool numberField(const char *record, size_t length, const char *name, unsigned long maximum,
                 unsigned long *value)
{
    char text[OPENISCSI_WORD_BYTES];
    return findRecordField(record, length, name, text, sizeof text) == FIELD_FOUND &&
           parseDecimal(text, strlen(text), maximum, value);
}

bool portField(const char *record, size_t length, const char *name, unsigned *port)
{
    unsigned long value = 0;
    if (!numberField(record, length, name, 65535, &value) || value == 0)
        return false;
    *port = static_cast<unsigned>(value);
    return true;
}

// A secret is printed as "********" when set and "<empty>" when not.
bool secretSet(const char *record, size_t length, const char *name)
{
    char value[OPENISCSI_VALUE_BYTES];
    return findRecordField(record, length, name, value, sizeof value) == FIELD_FOUND &&
           value[0] != 0;
}

NodeStartup startupOf(const char *value)
{
    if (strcmp(value, "manual") == 0)
        return STARTUP_MANUAL;
    if (strcmp(value, "automatic") == 0)
        return STARTUP_AUTOMATIC;
    if (strcmp(value, "onboot") == 0)
        return STARTUP_ONBOOT;
    return STARTUP_UNKNOWN;
}

}  // namespace

FieldLookup findRecordField(const char *text, size_t length, const char *name, char *value,
                            size_t room)
{
    if (room > 0)
        value[0] = 0;
    size_t nameLength = strlen(name);
    LineCursor cursor;
    startLines(&cursor, text, length);
    const char *line;
    size_t lineLength;
    while (nextLine(&cursor, &line, &lineLength)) {
        if (lineLength < nameLength + strlen(kSeparator) || memcmp(line, name, nameLength) != 0 ||
            memcmp(line + nameLength, kSeparator, strlen(kSeparator)) != 0)
            continue;
        size_t start = nameLength + strlen(kSeparator);
        return copyValue(line + start, lineLength - start, value, room) ? FIELD_FOUND
                                                                        : FIELD_UNREADABLE;
    }
    return FIELD_MISSING;
}

bool nextRecord(const char *text, size_t length, size_t *position, const char **record,
                size_t *recordLength)
{
    if (text == nullptr || *position >= length)
        return false;
    LineCursor cursor;
    startLines(&cursor, text, length);
    cursor.position = *position;
    const char *line;
    size_t lineLength;
    bool inside = false;
    size_t start = 0;
    while (true) {
        size_t lineStart = cursor.position;
        if (!nextLine(&cursor, &line, &lineLength)) {
            *position = length;
            if (!inside)
                return false;
            *record = text + start;
            *recordLength = length - start;
            return true;
        }
        if (startsWith(line, lineLength, kBegin)) {
            if (inside) {
                // No END before the next BEGIN: the record ends here.
                *position = lineStart;
                *record = text + start;
                *recordLength = lineStart - start;
                return true;
            }
            inside = true;
            start = cursor.position;
        } else if (inside && startsWith(line, lineLength, kEnd)) {
            *position = cursor.position;
            *record = text + start;
            *recordLength = lineStart - start;
            return true;
        }
    }
}

bool parseNodeRecord(const char *record, size_t length, NodeRecordFields *out)
{
    memset(out, 0, sizeof *out);
    out->tag = OPENISCSI_NO_TAG;
    if (findRecordField(record, length, "node.name", out->name, sizeof out->name) != FIELD_FOUND ||
        out->name[0] == 0 ||
        findRecordField(record, length, "node.conn[0].address", out->address,
                        sizeof out->address) != FIELD_FOUND ||
        out->address[0] == 0 || !portField(record, length, "node.conn[0].port", &out->port))
        return false;

    char text[OPENISCSI_WORD_BYTES];
    unsigned long value = 0;
    if (findRecordField(record, length, "node.tpgt", text, sizeof text) == FIELD_FOUND &&
        strcmp(text, "-1") != 0 && parseDecimal(text, strlen(text), 65535, &value))
        out->tag = static_cast<long>(value);
    if (findRecordField(record, length, "node.startup", text, sizeof text) == FIELD_FOUND)
        out->startup = startupOf(text);
    optionalField(record, length, "iface.iscsi_ifacename", out->ifaceName, sizeof out->ifaceName);
    optionalField(record, length, "node.discovery_address", out->discoveryAddress,
                  sizeof out->discoveryAddress);
    if (!portField(record, length, "node.discovery_port", &out->discoveryPort))
        out->discoveryPort = 0;
    optionalField(record, length, "node.discovery_type", out->discoveryType,
                  sizeof out->discoveryType);
    optionalField(record, length, "node.session.auth.authmethod", out->authMethod,
                  sizeof out->authMethod);
    optionalField(record, length, "node.session.auth.username", out->username,
                  sizeof out->username);
    optionalField(record, length, "node.session.auth.username_in", out->usernameIn,
                  sizeof out->usernameIn);
    out->passwordSet = secretSet(record, length, "node.session.auth.password");
    out->passwordInSet = secretSet(record, length, "node.session.auth.password_in");
    return true;
}

bool parseDiscoveryRecord(const char *record, size_t length, DiscoveryRecordFields *out)
{
    memset(out, 0, sizeof *out);
    if (findRecordField(record, length, "discovery.type", out->type, sizeof out->type) !=
            FIELD_FOUND ||
        out->type[0] == 0 ||
        findRecordField(record, length, "discovery.sendtargets.address", out->address,
                        sizeof out->address) != FIELD_FOUND ||
        out->address[0] == 0 ||
        !portField(record, length, "discovery.sendtargets.port", &out->port))
        return false;
    optionalField(record, length, "discovery.sendtargets.auth.authmethod", out->authMethod,
                  sizeof out->authMethod);
    optionalField(record, length, "discovery.sendtargets.auth.username", out->username,
                  sizeof out->username);
    out->passwordSet = secretSet(record, length, "discovery.sendtargets.auth.password");
    return true;
}
