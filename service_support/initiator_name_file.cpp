#include "service_support/initiator_name_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_support/file_reading.h"
#include "service_support/portal_text.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

InitiatorNameRead parseInitiatorNameText(const char *text, size_t length, char *out, size_t room)
{
    static const char kKey[] = "InitiatorName=";
    const size_t keyLength = sizeof kKey - 1;
    if (room > 0)
        out[0] = 0;
    size_t next = 0;
    while (next < length) {
        const char *line = text + next;
        const char *end = static_cast<const char *>(memchr(line, '\n', length - next));
        size_t lineLength = end != nullptr ? static_cast<size_t>(end - line) : length - next;
        next += lineLength + 1;
        if (lineLength > 0 && line[lineLength - 1] == '\r')
            lineLength--;
        while (lineLength > 0 && isBlank(*line)) {
            line++;
            lineLength--;
        }
        if (lineLength == 0 || line[0] == '#')
            continue;
        if (lineLength < keyLength || memcmp(line, kKey, keyLength) != 0)
            continue;
        const char *name = line + keyLength;
        size_t nameLength = lineLength - keyLength;
        while (nameLength > 0 && isBlank(*name)) {
            name++;
            nameLength--;
        }
        while (nameLength > 0 && isBlank(name[nameLength - 1]))
            nameLength--;
        bool usable = nameLength > 0 && nameLength < ISCSI_NAME_BYTES && nameLength < room;
        for (size_t i = 0; usable && i < nameLength; i++) {
            unsigned char ch = static_cast<unsigned char>(name[i]);
            usable = ch > 0x20 && ch != 0x7f;
        }
        if (!usable)
            return INITIATOR_NAME_MALFORMED;
        memcpy(out, name, nameLength);
        out[nameLength] = 0;
        return INITIATOR_NAME_READ;
    }
    return INITIATOR_NAME_ABSENT;
}

InitiatorNameRead readInitiatorNameFile(const char *path, char *out, size_t room)
{
    if (room > 0)
        out[0] = 0;
    // Non-blocking: a FIFO in its place must not hold us.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? INITIATOR_NAME_NO_FILE
                                                   : INITIATOR_NAME_UNREADABLE;
    struct stat info {};
    if (fstat(fd, &info) < 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return INITIATOR_NAME_UNREADABLE;
    }
    // Room for the file as it is and for some growth since fstat, within the
    // limit: the file holds a line or two, and a buffer of the whole limit
    // would grow the heap and give it back at every start.
    size_t limit = INITIATOR_NAME_FILE_LIMIT;
    if (info.st_size >= 0 && static_cast<unsigned long long>(info.st_size) < limit - 4096)
        limit = static_cast<size_t>(info.st_size) + 4096;
    char *text = static_cast<char *>(malloc(limit));
    size_t length = 0;
    bool failed = text == nullptr || !readUpTo(fd, text, limit, &length);
    close(fd);
    InitiatorNameRead result =
        failed ? INITIATOR_NAME_UNREADABLE : parseInitiatorNameText(text, length, out, room);
    free(text);
    return result;
}
