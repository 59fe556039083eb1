#include "service_openiscsi/iscsiadm_lists.h"

#include <cstring>

namespace {

// Index of the first `c` in bytes[length], or length.
size_t indexOf(const char *bytes, size_t length, char c)
{
    const void *found = memchr(bytes, c, length);
    return found != nullptr ? static_cast<size_t>(static_cast<const char *>(found) - bytes)
                            : length;
}

bool startsWith(const char *bytes, size_t length, const char *prefix)
{
    size_t prefixLength = strlen(prefix);
    return length >= prefixLength && memcmp(bytes, prefix, prefixLength) == 0;
}

bool endsWith(const char *bytes, size_t length, const char *suffix)
{
    size_t suffixLength = strlen(suffix);
    return length >= suffixLength &&
           memcmp(bytes + length - suffixLength, suffix, suffixLength) == 0;
}

// An iSCSI name as a field: not empty, no blank.
bool copyName(const char *bytes, size_t length, char *out, size_t room)
{
    if (length == 0 || indexOf(bytes, length, ' ') != length)
        return false;
    return copyField(bytes, length, out, room);
}

// "portal target": one blank between them.
bool parsePortalAndTarget(const char *line, size_t length, PortalField *portal, char *target,
                          size_t targetRoom)
{
    size_t blank = indexOf(line, length, ' ');
    if (blank == length)
        return false;
    return parsePortalField(line, blank, true, portal) &&
           copyName(line + blank + 1, length - blank - 1, target, targetRoom);
}

bool parseNodeLine(const char *line, size_t length, NodeEntry *entry)
{
    return parsePortalAndTarget(line, length, &entry->portal, entry->target, sizeof entry->target);
}

bool parseSessionLine(const char *line, size_t length, SessionEntry *entry)
{
    size_t colon = indexOf(line, length, ':');
    if (colon == 0 || colon == length ||
        !copyField(line, colon, entry->transport, sizeof entry->transport))
        return false;
    const char *rest = line + colon + 1;
    size_t restLength = length - colon - 1;
    if (!startsWith(rest, restLength, " ["))
        return false;
    rest += 2;
    restLength -= 2;
    size_t close = indexOf(rest, restLength, ']');
    if (close == restLength || !parseDecimal(rest, close, 0xffffffffUL, &entry->sid) ||
        !startsWith(rest + close, restLength - close, "] "))
        return false;
    rest += close + 2;
    restLength -= close + 2;
    entry->flash = false;
    if (endsWith(rest, restLength, " (non-flash)")) {
        restLength -= strlen(" (non-flash)");
    } else if (endsWith(rest, restLength, " (flash)")) {
        restLength -= strlen(" (flash)");
        entry->flash = true;
    }
    return parsePortalAndTarget(rest, restLength, &entry->portal, entry->target,
                                sizeof entry->target);
}

bool parseIfaceLine(const char *line, size_t length, IfaceEntry *entry)
{
    size_t blank = indexOf(line, length, ' ');
    if (blank == 0 || blank == length || !copyField(line, blank, entry->name, sizeof entry->name))
        return false;
    char *fields[5] = {entry->transport, entry->hwaddress, entry->ipaddress, entry->netIfacename,
                       entry->initiatorName};
    size_t rooms[5] = {sizeof entry->transport, sizeof entry->hwaddress, sizeof entry->ipaddress,
                       sizeof entry->netIfacename, sizeof entry->initiatorName};
    const char *rest = line + blank + 1;
    size_t restLength = length - blank - 1;
    for (size_t i = 0; i < 5; i++) {
        size_t comma = indexOf(rest, restLength, ',');
        bool last = i == 4;
        if (last != (comma == restLength))
            return false;
        if (!copyValue(rest, comma, fields[i], rooms[i]))
            return false;
        if (!last) {
            rest += comma + 1;
            restLength -= comma + 1;
        }
    }
    return entry->transport[0] != 0;
}

bool parseDiscoveryLine(const char *line, size_t length, DiscoveryEntry *entry)
{
    static const char kVia[] = " via ";
    size_t blank = indexOf(line, length, ' ');
    if (blank == length || !startsWith(line + blank, length - blank, kVia))
        return false;
    const char *type = line + blank + strlen(kVia);
    size_t typeLength = length - blank - strlen(kVia);
    return typeLength > 0 && indexOf(type, typeLength, ' ') == typeLength &&
           copyField(type, typeLength, entry->type, sizeof entry->type) &&
           parsePortalField(line, blank, false, &entry->portal);
}

// Runs parseLine over every non-empty line into entries[capacity].
template <typename Entry>
void parseLines(const char *text, size_t length, Entry *entries, size_t capacity,
                ListSummary *summary, bool (*parseLine)(const char *, size_t, Entry *))
{
    memset(summary, 0, sizeof *summary);
    LineCursor cursor;
    startLines(&cursor, text, length);
    const char *line;
    size_t lineLength;
    Entry scratch;
    while (nextLine(&cursor, &line, &lineLength)) {
        if (lineLength == 0)
            continue;
        memset(&scratch, 0, sizeof scratch);
        if (!parseLine(line, lineLength, &scratch)) {
            summary->skipped++;
            continue;
        }
        if (summary->count == capacity) {
            summary->overflow = true;
            continue;
        }
        entries[summary->count++] = scratch;
    }
}

}  // namespace

bool parseVersion(const char *text, size_t length, IscsiadmVersion *out)
{
    static const char kPrefix[] = "iscsiadm version ";
    memset(out, 0, sizeof *out);
    LineCursor cursor;
    startLines(&cursor, text, length);
    const char *line;
    size_t lineLength;
    if (!nextLine(&cursor, &line, &lineLength) || !startsWith(line, lineLength, kPrefix))
        return false;
    const char *version = line + strlen(kPrefix);
    size_t versionLength = lineLength - strlen(kPrefix);
    unsigned long numbers[3] = {0, 0, 0};
    size_t count = 0, start = 0;
    // Numbers joined by "." or "-"; a fourth and later ones are not kept.
    for (size_t i = 0; i <= versionLength; i++) {
        if (i < versionLength && version[i] != '.' && version[i] != '-')
            continue;
        unsigned long number = 0;
        if (!parseDecimal(version + start, i - start, 0xffffffffUL, &number))
            return false;
        if (count < 3)
            numbers[count] = number;
        count++;
        start = i + 1;
    }
    if (count < 2 || !copyField(version, versionLength, out->text, sizeof out->text))
        return false;
    out->major = numbers[0];
    out->minor = numbers[1];
    out->patch = numbers[2];
    return true;
}

void parseNodeList(const char *text, size_t length, NodeEntry *entries, size_t capacity,
                   ListSummary *summary)
{
    parseLines(text, length, entries, capacity, summary, parseNodeLine);
}

void parseSessionList(const char *text, size_t length, SessionEntry *entries, size_t capacity,
                      ListSummary *summary)
{
    parseLines(text, length, entries, capacity, summary, parseSessionLine);
}

void parseIfaceList(const char *text, size_t length, IfaceEntry *entries, size_t capacity,
                    ListSummary *summary)
{
    parseLines(text, length, entries, capacity, summary, parseIfaceLine);
}

void parseDiscoveryList(const char *text, size_t length, DiscoveryEntry *entries, size_t capacity,
                        ListSummary *summary)
{
    parseLines(text, length, entries, capacity, summary, parseDiscoveryLine);
}
