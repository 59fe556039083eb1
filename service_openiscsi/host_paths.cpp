#include "service_openiscsi/host_paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_openiscsi/openiscsi_testing.h"

namespace {

const char *gHostRoot = nullptr;

}  // namespace

void setHostRootForTests(const char *root)
{
    gHostRoot = root;
}

bool hostPath(const char *path, char *out, size_t room)
{
    int written = snprintf(out, room, "%s%s", gHostRoot != nullptr ? gHostRoot : "", path);
    return written > 0 && static_cast<size_t>(written) < room;
}

bool hostPathExists(const char *path)
{
    char full[512];
    struct stat info {};
    return hostPath(path, full, sizeof full) && lstat(full, &info) == 0;
}

bool readHostFile(const char *path, char *out, size_t room, size_t *length)
{
    char full[512];
    if (room == 0 || !hostPath(path, full, sizeof full))
        return false;
    out[0] = 0;
    int fd = open(full, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    size_t used = 0;
    bool ok = true;
    while (used + 1 < room) {
        ssize_t got = read(fd, out + used, room - 1 - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        used += static_cast<size_t>(got);
    }
    close(fd);
    out[used] = 0;
    if (length != nullptr)
        *length = used;
    return ok;
}

bool readHostLine(const char *path, char *out, size_t room)
{
    size_t length = 0;
    if (!readHostFile(path, out, room, &length))
        return false;
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r'))
        out[--length] = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c < 0x20 || c == 0x7f) {
            out[0] = 0;
            return false;
        }
    }
    return length > 0;
}
