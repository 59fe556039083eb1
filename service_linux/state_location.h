// Where the service keeps its store.
//
//   $ISCSI_TOOLS_STATE_DIR                  when set and not empty
//   /var/lib/iscsi-tools                    for root
//   $XDG_STATE_HOME/iscsi-tools             otherwise (XDG_STATE_HOME absolute)
//   $HOME/.local/state/iscsi-tools          when XDG_STATE_HOME is unset
#ifndef SERVICE_LINUX_STATE_LOCATION_H
#define SERVICE_LINUX_STATE_LOCATION_H

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

#endif  // SERVICE_LINUX_STATE_LOCATION_H
