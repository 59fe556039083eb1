// Real iSCSI exchanges with a portal through libiscsi: SendTargets discovery
// and normal-session logins.  Every network step (name lookup, connect,
// login, text exchange, logout) runs under a deadline on the monotonic
// clock, driven by our own poll loop, which drives several exchanges at once
// where a caller asks for it; libiscsi never reconnects on its own.
// Sessions belong to the process and are logged out when it ends.
#ifndef SERVICE_LIBISCSI_ISCSI_EXCHANGE_H
#define SERVICE_LIBISCSI_ISCSI_EXCHANGE_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_support/discovery_records.h"
#include "service_support/login_settings.h"

struct SessionIdentity {
    ISCSI_UNIQUE_SESSION_ID session;
    ISCSI_UNIQUE_CONNECTION_ID connection;
};

// Logs in to portal as a discovery session (CHAP when chap->enabled), asks
// SendTargets=All and fills *out (empty on entry; the caller frees it).  A
// target without a TargetAddress is reachable through the portal itself.
// Target names that are not acceptable (isAcceptableTargetName) and
// malformed addresses are dropped; the rest of the answer is kept.  Each
// step has its own deadline; the logout that follows is bounded and its
// failure ignored.  Returns 0 or the status of the failed step.
ISDSC_STATUS discoverTargets(const PortalEndpoint &portal, const char *initiatorName,
                             const ChapCredentials &chap, DiscoveryList *out);

// One discovery of discoverTargetsTogether.
struct DiscoveryRequest {
    PortalEndpoint portal;
    const char *initiatorName;
    ChapCredentials chap;
    DiscoveryList found;  // out: as discoverTargets fills it (empty on entry)
    ISDSC_STATUS status;  // out: as discoverTargets returns it
};

// The discoveries of every request at once, on one poll loop: together
// they take one step bound at most, so that portals that went silent cost a
// caller one bound, not one each.
void discoverTargetsTogether(DiscoveryRequest *requests, size_t count);

// Logs in to targetName through portal as a normal session with an ISID of
// its own (buildIsid) and keeps the session open until the process ends.  Fills *identity
// with identifiers unique on the host.  Returns 0 or the failed step's status.
ISDSC_STATUS openSession(const PortalEndpoint &portal, const char *initiatorName,
                         const char *targetName, const ChapCredentials &chap, bool headerDigest,
                         SessionIdentity *identity);

// Logs every open session out (all at once, bounded) and closes them.  Runs
// by itself at process exit; harmless to call again.
void closeAllSessions();

// The ISID of a login: type "random" (0x80); a 24-bit field of two random
// bits above the process id; a 16-bit qualifier, the login's number within
// the process mixed with 16 random bits.  Within one PID namespace the
// process id keeps ISIDs apart; the random bits keep apart processes of
// other namespaces (containers) that have the same id.  randomBits: 18 of
// them are used, drawn once per process.
unsigned long long buildIsid(unsigned long processId, ULONG randomBits, ULONG loginNumber);

#endif  // SERVICE_LIBISCSI_ISCSI_EXCHANGE_H
