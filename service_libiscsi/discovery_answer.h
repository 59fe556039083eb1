// The SendTargets answer of a discovery session, as libiscsi hands it over,
// read into the service's discovery records.  What a target sends is checked
// here, where it enters the service: nothing that the service could not hand
// back to a caller gets in.
#ifndef SERVICE_LIBISCSI_DISCOVERY_ANSWER_H
#define SERVICE_LIBISCSI_DISCOVERY_ANSWER_H

#include "service_libiscsi/iscsi_exchange.h"

struct iscsi_discovery_address;

// Appends the targets of answer (libiscsi's list, newest first) to *out in
// the order the target sent them, one record per usable TargetAddress; a
// target without one is reachable through `portal`, the portal asked.  A
// target whose name is not acceptable, and a TargetAddress that does not
// parse, are left out; the rest is kept.  Returns false when out of memory or
// the list is full.
bool takeSendTargetsAnswer(struct iscsi_discovery_address *answer, const PortalEndpoint &portal,
                           DiscoveryList *out);

#endif  // SERVICE_LIBISCSI_DISCOVERY_ANSWER_H
