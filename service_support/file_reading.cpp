#include "service_support/file_reading.h"

#include <cerrno>
#include <unistd.h>

bool readUpTo(int fd, char *out, size_t room, size_t *length)
{
    *length = 0;
    while (*length < room) {
        ssize_t got = read(fd, out + *length, room - *length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        *length += static_cast<size_t>(got);
    }
    return true;
}
