// The files of the host the open-iscsi service reads itself (sysfs, procfs,
// the kernel's module lists, the initiator name file), each read whole with
// a bound.  Tests read them below a folder of their own
// (openiscsi_testing.h).
#ifndef SERVICE_OPENISCSI_HOST_PATHS_H
#define SERVICE_OPENISCSI_HOST_PATHS_H

#include <cstddef>
#include <dirent.h>

// Writes the host's path (absolute) into out[room], below the tests' root
// when one is set.  False when it does not fit.
bool hostPath(const char *path, char *out, size_t room);

// opendir of the host's folder; null when it cannot be opened.
DIR *openHostFolder(const char *path);

// True when the host's path exists (any kind of file).
bool hostPathExists(const char *path);

// Reads at most room - 1 bytes of the host's file into out with a
// terminator; *length (may be null) gets the bytes read.  False when it
// cannot be opened or read.
bool readHostFile(const char *path, char *out, size_t room, size_t *length);

// readHostFile of a one-line attribute (sysfs): the line without its line
// end.  False when unreadable, empty after the line end is removed, or
// holding a control byte.
bool readHostLine(const char *path, char *out, size_t room);

#endif  // SERVICE_OPENISCSI_HOST_PATHS_H
