// Reading what the host's files hold, with a bound.
#ifndef SERVICE_SUPPORT_FILE_READING_H
#define SERVICE_SUPPORT_FILE_READING_H

#include <cstddef>

// Reads fd until its end or until room bytes are in out (no terminator is
// added); *length gets the bytes read.  False on a read error.
bool readUpTo(int fd, char *out, size_t room, size_t *length);

#endif  // SERVICE_SUPPORT_FILE_READING_H
