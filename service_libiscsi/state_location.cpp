#include "service_libiscsi/state_location.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_libiscsi/failure_mapping.h"
#include "service_libiscsi/service_status.h"

namespace {

const char kStoreFolder[] = "iscsi-tools";

ISDSC_STATUS writePath(char *out, size_t room, const char *base, const char *suffix)
{
    int written = snprintf(out, room, "%s%s", base, suffix);
    if (written < 0 || static_cast<size_t>(written) >= room)
        return SERVICE_STATE_DIRECTORY_FAILED;
    return ISDSC_SUCCESS;
}

}  // namespace

ISDSC_STATUS findStateDirectory(char *out, size_t room)
{
    const char *chosen = getenv(STATE_DIRECTORY_VARIABLE);
    if (chosen != nullptr && chosen[0] != 0)
        return writePath(out, room, chosen, "");
    if (geteuid() == 0)
        return writePath(out, room, "/var/lib/", kStoreFolder);
    const char *stateHome = getenv("XDG_STATE_HOME");
    if (stateHome != nullptr && stateHome[0] == '/')
        return writePath(out, room, stateHome, "/iscsi-tools");
    const char *home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        struct passwd *entry = getpwuid(geteuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/')
        return SERVICE_STATE_DIRECTORY_FAILED;
    return writePath(out, room, home, "/.local/state/iscsi-tools");
}

ISDSC_STATUS createStateDirectory(const char *path)
{
    char partial[STATE_PATH_BYTES];
    size_t length = strlen(path);
    if (length == 0 || length >= sizeof partial)
        return SERVICE_STATE_DIRECTORY_FAILED;
    memcpy(partial, path, length + 1);
    // Each prefix that ends before a slash, then the whole path.
    for (size_t i = 1; i <= length; i++) {
        if (i < length && partial[i] != '/')
            continue;
        char saved = partial[i];
        partial[i] = 0;
        if (mkdir(partial, 0700) != 0 && errno != EEXIST) {
            int error = errno;
            partial[i] = saved;
            return statusForStateDirectoryErrno(error);
        }
        partial[i] = saved;
    }
    struct stat info;
    if (stat(path, &info) != 0)
        return statusForStateDirectoryErrno(errno);
    if (!S_ISDIR(info.st_mode))
        return SERVICE_STATE_DIRECTORY_FAILED;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS openStateDirectory(const char *path, int *descriptor)
{
    // A directory that is there is opened at once; otherwise it is made (or
    // the reason why it cannot be is found) as for a first run.
    ISDSC_STATUS status = ISDSC_SUCCESS;
    int opened = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) {
        status = createStateDirectory(path);
        if (status != ISDSC_SUCCESS)
            return status;
        opened = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (opened < 0)
        return statusForStateDirectoryErrno(errno);
    // The checks look at what was opened, wherever the path led.
    struct stat info;
    if (fstat(opened, &info) != 0)
        status = statusForStateDirectoryErrno(errno);
    else if (info.st_uid != geteuid())
        status = SERVICE_STATE_DIRECTORY_NOT_OWNED;
    else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        status = SERVICE_STATE_DIRECTORY_NOT_PRIVATE;
    if (status != ISDSC_SUCCESS) {
        close(opened);
        return status;
    }
    *descriptor = opened;
    return ISDSC_SUCCESS;
}
