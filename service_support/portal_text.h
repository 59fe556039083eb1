// The texts that name portals: the TargetAddress values of a SendTargets
// answer, the "host:port" that libiscsi connects to, and the discovery
// mechanism text of a send-target portal.
#ifndef SERVICE_SUPPORT_PORTAL_TEXT_H
#define SERVICE_SUPPORT_PORTAL_TEXT_H

#include <cstddef>

#include "common/iscsi_service.h"

// Room for a portal address in UTF-8: 255 wide characters of up to three
// bytes each and the terminator.
#define PORTAL_ADDRESS_BYTES 768
// Room for an iSCSI name: 223 bytes and the terminator.
#define ISCSI_NAME_BYTES 224

#define DEFAULT_ISCSI_PORT 3260
#define DEFAULT_PORTAL_GROUP_TAG 1

// Splits a TargetAddress value, "address[:port][,tag]" with an IPv6 address
// in brackets, into the address (brackets removed) and, when present, the port
// and the portal-group tag; absent parts take the defaults above.  Returns
// false for an empty or malformed value, an address that holds blanks or
// control characters, or one that does not fit in addressRoom bytes or in
// 255 wide characters.
bool parseTargetAddress(const char *text, char *address, size_t addressRoom, USHORT *port,
                        ULONG *tag);

// Writes "address:port", or "[address]:port" for an address that holds a
// colon and no brackets, into out[room].  Returns false when it does not fit.
bool formatEndpoint(const char *address, USHORT port, char *out, size_t room);

// Writes the discovery mechanism text of a send-target portal,
// "SendTargets address:port" (address as formatEndpoint writes it), into
// out[room].  Returns false when it does not fit.
bool formatDiscoveryMechanism(const char *address, USHORT port, char *out, size_t room);

#endif  // SERVICE_SUPPORT_PORTAL_TEXT_H
