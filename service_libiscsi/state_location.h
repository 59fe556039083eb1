// Where the service keeps its store.
//
//   $ISCSI_TOOLS_STATE_DIR                  when set and not empty
//   /var/lib/iscsi-tools                    for root
//   $XDG_STATE_HOME/iscsi-tools             otherwise (XDG_STATE_HOME absolute)
//   $HOME/.local/state/iscsi-tools          when XDG_STATE_HOME is unset
#ifndef SERVICE_LIBISCSI_STATE_LOCATION_H
#define SERVICE_LIBISCSI_STATE_LOCATION_H

#include <cstddef>

#include "common/iscsi_service.h"

#define STATE_DIRECTORY_VARIABLE "ISCSI_TOOLS_STATE_DIR"
#define STATE_PATH_BYTES 4096

// Writes the state directory's path into out[room].  Returns 0, or a status
// when no home directory can be found or the path does not fit.
ISDSC_STATUS findStateDirectory(char *out, size_t room);

// Creates path and any missing parent with permissions for the owner alone
// (0700); an existing directory is left as it is.  Returns 0 or a status.
ISDSC_STATUS createStateDirectory(const char *path);

// Creates the state directory as createStateDirectory does and opens it.  As
// ssh does with its folder, a directory that belongs to another user than
// the effective one, or that its group or others may write to, is refused:
// whoever may change it may swap the store.  Returns 0 with *descriptor open
// (close-on-exec; the caller closes it), SERVICE_STATE_DIRECTORY_NOT_OWNED,
// SERVICE_STATE_DIRECTORY_NOT_PRIVATE or another status.
ISDSC_STATUS openStateDirectory(const char *path, int *descriptor);

#endif  // SERVICE_LIBISCSI_STATE_LOCATION_H
