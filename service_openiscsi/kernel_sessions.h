// The kernel's iSCSI sessions as sysfs shows them
// (/sys/class/iscsi_session/sessionN, /sys/class/iscsi_connection/
// connectionN:C), and the identifiers the service builds from them.
#ifndef SERVICE_OPENISCSI_KERNEL_SESSIONS_H
#define SERVICE_OPENISCSI_KERNEL_SESSIONS_H

#include "common/iscsi_service.h"
#include "service_openiscsi/openiscsi_text.h"

struct KernelSession {
    unsigned long sid;                      // N of sessionN
    unsigned long cid;                      // C of its connection connectionN:C
    char target[OPENISCSI_NAME_BYTES];      // targetname
    char iface[OPENISCSI_WORD_BYTES];       // ifacename
    char address[OPENISCSI_ADDRESS_BYTES];  // the connection's persistent_address
    unsigned port;                          // persistent_port
    char alias[OPENISCSI_VALUE_BYTES];      // targetalias, "" where the kernel has none
};

// Finds the session of target through address:port, and through iface when
// it is not null, and fills *out; with several, the newest (highest sid).
// Addresses that both read as IP addresses compare as addresses
// ("::1" is "0:0:0:0:0:0:0:1"), others as texts.  False when there is none.
bool findKernelSession(const char *target, const char *address, unsigned port, const char *iface,
                       KernelSession *out);

// The newest session of target (through any portal), for its alias.
bool findSessionOfTarget(const char *target, KernelSession *out);

// The identifiers of a session, unique on the host: AdapterUnique is the
// first 64 bits of this boot's identity (/proc/sys/kernel/random/boot_id,
// so a session number of an earlier boot never gives the same pair), and
// AdapterSpecific the kernel's session number (for the connection: the
// session number in the high 32 bits and the connection number in the
// low).
void sessionIdentifiers(const KernelSession &session, ISCSI_UNIQUE_SESSION_ID *sessionId,
                        ISCSI_UNIQUE_CONNECTION_ID *connectionId);

#endif  // SERVICE_OPENISCSI_KERNEL_SESSIONS_H
