#include "service_openiscsi/host_paths.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_openiscsi/openiscsi_testing.h"
#include "service_support/file_reading.h"

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

DIR *openHostFolder(const char *path)
{
    char full[512];
    return hostPath(path, full, sizeof full) ? opendir(full) : nullptr;
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
    bool ok = readUpTo(fd, out, room - 1, &used);
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
