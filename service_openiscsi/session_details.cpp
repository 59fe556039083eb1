#include "service_openiscsi/session_details.h"

#include <cstring>

namespace {

struct Block {
    SessionDetail detail;
    bool open;   // a "Current Portal:" line started it
    bool valid;  // every line read so far was readable
    bool hasSid;
};

// When line starts with key, points *value past it and returns true.
bool keyed(const char *line, size_t length, const char *key, const char **value,
           size_t *valueLength)
{
    size_t keyLength = strlen(key);
    if (length < keyLength || memcmp(line, key, keyLength) != 0)
        return false;
    *value = line + keyLength;
    *valueLength = length - keyLength;
    return true;
}

void trimLeft(const char **line, size_t *length)
{
    while (*length > 0 && (**line == '\t' || **line == ' ')) {
        (*line)++;
        (*length)--;
    }
}

// The first word of bytes[length], up to a tab or a blank.
size_t wordLength(const char *bytes, size_t length)
{
    size_t i = 0;
    while (i < length && bytes[i] != '\t' && bytes[i] != ' ')
        i++;
    return i;
}

void commit(Block *block, SessionDetail *entries, size_t capacity, ListSummary *summary)
{
    if (!block->open)
        return;
    block->open = false;
    if (!block->valid || !block->hasSid || block->detail.target[0] == 0) {
        summary->skipped++;
        return;
    }
    if (summary->count == capacity) {
        summary->overflow = true;
        return;
    }
    entries[summary->count++] = block->detail;
}

// Reads "Target: name (non-flash)" into target/flash; false when malformed.
bool readTarget(const char *value, size_t length, char *target, size_t room, bool *flash)
{
    static const char kNonFlash[] = " (non-flash)";
    static const char kFlash[] = " (flash)";
    *flash = false;
    if (length >= strlen(kNonFlash) &&
        memcmp(value + length - strlen(kNonFlash), kNonFlash, strlen(kNonFlash)) == 0) {
        length -= strlen(kNonFlash);
    } else if (length >= strlen(kFlash) &&
               memcmp(value + length - strlen(kFlash), kFlash, strlen(kFlash)) == 0) {
        length -= strlen(kFlash);
        *flash = true;
    }
    return length > 0 && wordLength(value, length) == length &&
           copyField(value, length, target, room);
}

// An address that may come in brackets ("[0000:...:0001]").
bool readAddress(const char *value, size_t length, char *out, size_t room)
{
    if (length >= 2 && value[0] == '[' && value[length - 1] == ']') {
        value++;
        length -= 2;
    }
    return copyValue(value, length, out, room);
}

}  // namespace

void parseSessionDetails(const char *text, size_t length, SessionDetail *entries, size_t capacity,
                         ListSummary *summary)
{
    memset(summary, 0, sizeof *summary);
    char target[OPENISCSI_NAME_BYTES] = "";
    bool flash = false;
    Block block;
    memset(&block, 0, sizeof block);

    LineCursor cursor;
    startLines(&cursor, text, length);
    const char *line;
    size_t lineLength;
    while (nextLine(&cursor, &line, &lineLength)) {
        trimLeft(&line, &lineLength);
        const char *value;
        size_t valueLength;
        if (keyed(line, lineLength, "Target: ", &value, &valueLength)) {
            commit(&block, entries, capacity, summary);
            if (!readTarget(value, valueLength, target, sizeof target, &flash))
                target[0] = 0;
            continue;
        }
        if (keyed(line, lineLength, "Current Portal: ", &value, &valueLength)) {
            commit(&block, entries, capacity, summary);
            memset(&block, 0, sizeof block);
            block.open = true;
            block.valid = parsePortalField(value, valueLength, true, &block.detail.currentPortal);
            memcpy(block.detail.target, target, sizeof target);
            block.detail.flash = flash;
            continue;
        }
        if (!block.open)
            continue;
        SessionDetail &detail = block.detail;
        bool readable = true;
        if (keyed(line, lineLength, "Persistent Portal: ", &value, &valueLength)) {
            readable = parsePortalField(value, valueLength, true, &detail.persistentPortal);
        } else if (keyed(line, lineLength, "Iface Name: ", &value, &valueLength)) {
            readable = copyValue(value, valueLength, detail.ifaceName, sizeof detail.ifaceName);
        } else if (keyed(line, lineLength, "Iface Transport: ", &value, &valueLength)) {
            readable = copyValue(value, valueLength, detail.transport, sizeof detail.transport);
        } else if (keyed(line, lineLength, "Iface Initiatorname: ", &value, &valueLength)) {
            readable =
                copyValue(value, valueLength, detail.initiatorName, sizeof detail.initiatorName);
        } else if (keyed(line, lineLength, "Iface IPaddress: ", &value, &valueLength)) {
            readable =
                readAddress(value, valueLength, detail.ifaceAddress, sizeof detail.ifaceAddress);
        } else if (keyed(line, lineLength, "SID: ", &value, &valueLength)) {
            readable = parseDecimal(value, valueLength, 0xffffffffUL, &detail.sid);
            block.hasSid = readable;
        } else if (keyed(line, lineLength, "iSCSI Connection State: ", &value, &valueLength)) {
            readable = copyValue(value, valueLength, detail.connectionState,
                                 sizeof detail.connectionState);
        } else if (keyed(line, lineLength, "iSCSI Session State: ", &value, &valueLength)) {
            readable =
                copyValue(value, valueLength, detail.sessionState, sizeof detail.sessionState);
        } else if (keyed(line, lineLength, "Attached scsi disk ", &value, &valueLength)) {
            size_t nameLength = wordLength(value, valueLength);
            if (detail.diskCount == SESSION_DISKS_MAX)
                detail.moreDisks = true;
            else if (nameLength > 0 &&
                     copyField(value, nameLength, detail.disks[detail.diskCount], DISK_NAME_BYTES))
                detail.diskCount++;
            else
                readable = false;
        }
        block.valid = block.valid && readable;
    }
    commit(&block, entries, capacity, summary);
}
