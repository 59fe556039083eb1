#include "service_openiscsi/initiator_name_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_openiscsi/openiscsi_text.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

InitiatorNameRead parseInitiatorNameText(const char *text, size_t length, char *out, size_t room)
{
    static const char kKey[] = "InitiatorName=";
    if (room > 0)
        out[0] = 0;
    LineCursor cursor;
    startLines(&cursor, text, length);
    const char *line;
    size_t lineLength;
    while (nextLine(&cursor, &line, &lineLength)) {
        while (lineLength > 0 && isBlank(*line)) {
            line++;
            lineLength--;
        }
        if (lineLength == 0 || line[0] == '#')
            continue;
        if (lineLength < strlen(kKey) || memcmp(line, kKey, strlen(kKey)) != 0)
            continue;
        const char *name = line + strlen(kKey);
        size_t nameLength = lineLength - strlen(kKey);
        while (nameLength > 0 && isBlank(*name)) {
            name++;
            nameLength--;
        }
        while (nameLength > 0 && isBlank(name[nameLength - 1]))
            nameLength--;
        bool blankInside = false;
        for (size_t i = 0; i < nameLength; i++)
            blankInside = blankInside || isBlank(name[i]);
        if (nameLength == 0 || nameLength > OPENISCSI_NAME_BYTES - 1 || blankInside ||
            !copyField(name, nameLength, out, room))
            return INITIATOR_NAME_MALFORMED;
        return INITIATOR_NAME_READ;
    }
    return INITIATOR_NAME_ABSENT;
}

InitiatorNameRead readOpeniscsiInitiatorName(const char *path, char *out, size_t room)
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
    char *text = static_cast<char *>(malloc(INITIATOR_NAME_FILE_LIMIT));
    size_t length = 0;
    bool failed = text == nullptr;
    while (!failed && length < INITIATOR_NAME_FILE_LIMIT) {
        ssize_t got = read(fd, text + length, INITIATOR_NAME_FILE_LIMIT - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failed = true;
        if (got <= 0)
            break;
        length += static_cast<size_t>(got);
    }
    close(fd);
    InitiatorNameRead result =
        failed ? INITIATOR_NAME_UNREADABLE : parseInitiatorNameText(text, length, out, room);
    free(text);
    return result;
}
