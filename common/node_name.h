// The initiator node name, as both iSCSI tools read it.
#ifndef COMMON_NODE_NAME_H
#define COMMON_NODE_NAME_H

#include "common/iscsi_service.h"

// The node name buffer: the longest iSCSI name and its terminator.
#define NODE_NAME_CHARS (MAX_ISCSI_NAME_LEN + 1)

// Asks the service for the initiator node name into nodeName.  On 0 the
// buffer holds a terminated text: a name that fills all NODE_NAME_CHARS
// characters without a terminator is cut to its first MAX_ISCSI_NAME_LEN, so
// nothing past the buffer is ever read.  Any other status is the service's,
// and the buffer's contents are unspecified.
ISDSC_STATUS queryNodeName(WCHAR16 (&nodeName)[NODE_NAME_CHARS]);

#endif  // COMMON_NODE_NAME_H
