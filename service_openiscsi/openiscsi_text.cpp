#include "service_openiscsi/openiscsi_text.h"

#include <cstring>

namespace {

bool isAddressByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == ':' || c == '%' || c == '_' || c == '-';
}

// Index of the last `c` in bytes[length], or length when there is none.
size_t lastIndexOf(const char *bytes, size_t length, char c)
{
    for (size_t i = length; i > 0; i--)
        if (bytes[i - 1] == c)
            return i - 1;
    return length;
}

bool copyAddress(const char *bytes, size_t length, char *out, size_t room)
{
    if (length == 0)
        return false;
    for (size_t i = 0; i < length; i++)
        if (!isAddressByte(bytes[i]))
            return false;
    return copyField(bytes, length, out, room);
}

}  // namespace

void startLines(LineCursor *cursor, const char *text, size_t length)
{
    cursor->text = text;
    cursor->length = text != nullptr ? length : 0;
    cursor->position = 0;
}

bool nextLine(LineCursor *cursor, const char **line, size_t *lineLength)
{
    if (cursor->position >= cursor->length)
        return false;
    const char *start = cursor->text + cursor->position;
    size_t left = cursor->length - cursor->position;
    const void *newline = memchr(start, '\n', left);
    size_t length =
        newline != nullptr ? static_cast<size_t>(static_cast<const char *>(newline) - start) : left;
    cursor->position += newline != nullptr ? length + 1 : length;
    if (length > 0 && start[length - 1] == '\r')
        length--;
    *line = start;
    *lineLength = length;
    return true;
}

bool copyField(const char *bytes, size_t length, char *out, size_t room)
{
    if (room == 0)
        return false;
    out[0] = 0;
    if (length >= room)
        return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    memcpy(out, bytes, length);
    out[length] = 0;
    return true;
}

bool copyValue(const char *bytes, size_t length, char *out, size_t room)
{
    if (fieldIs(bytes, length, "<empty>"))
        return copyField(bytes, 0, out, room);
    return copyField(bytes, length, out, room);
}

bool fieldIs(const char *bytes, size_t length, const char *word)
{
    size_t wordLength = strlen(word);
    return length == wordLength && memcmp(bytes, word, length) == 0;
}

bool parseDecimal(const char *bytes, size_t length, unsigned long maximum, unsigned long *value)
{
    if (length == 0 || length > 20)
        return false;
    unsigned long result = 0;
    for (size_t i = 0; i < length; i++) {
        if (bytes[i] < '0' || bytes[i] > '9')
            return false;
        unsigned long digit = static_cast<unsigned long>(bytes[i] - '0');
        if (digit > maximum || result > (maximum - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

bool parsePortalField(const char *bytes, size_t length, bool tagged, PortalField *out)
{
    memset(out, 0, sizeof *out);
    out->tag = OPENISCSI_NO_TAG;
    size_t hostPortLength = length;
    if (tagged) {
        size_t comma = lastIndexOf(bytes, length, ',');
        if (comma == length)
            return false;
        const char *tag = bytes + comma + 1;
        size_t tagLength = length - comma - 1;
        unsigned long value = 0;
        if (fieldIs(tag, tagLength, "-1") || fieldIs(tag, tagLength, "4294967295"))
            out->tag = OPENISCSI_NO_TAG;
        else if (parseDecimal(tag, tagLength, 65535, &value))
            out->tag = static_cast<long>(value);
        else
            return false;
        hostPortLength = comma;
    }
    size_t colon;
    const char *address = bytes;
    size_t addressLength;
    if (hostPortLength > 0 && bytes[0] == '[') {
        const void *close = memchr(bytes, ']', hostPortLength);
        if (close == nullptr)
            return false;
        size_t closeIndex = static_cast<size_t>(static_cast<const char *>(close) - bytes);
        if (closeIndex + 1 >= hostPortLength || bytes[closeIndex + 1] != ':')
            return false;
        address = bytes + 1;
        addressLength = closeIndex - 1;
        colon = closeIndex + 1;
    } else {
        colon = lastIndexOf(bytes, hostPortLength, ':');
        if (colon == hostPortLength)
            return false;
        addressLength = colon;
    }
    unsigned long port = 0;
    if (!parseDecimal(bytes + colon + 1, hostPortLength - colon - 1, 65535, &port) || port == 0)
        return false;
    if (!copyAddress(address, addressLength, out->address, sizeof out->address))
        return false;
    out->port = static_cast<unsigned>(port);
    return true;
}
