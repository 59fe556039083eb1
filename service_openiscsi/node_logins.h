// Logins over open-iscsi: a persistent login is the node record of the
// target through the portal with node.startup automatic, which the boot
// unit of the distribution logs in at every start
// (iscsiadm -m node --loginall=automatic); an immediate login is a kernel
// session that iscsid makes and that outlives the tool.
#ifndef SERVICE_OPENISCSI_NODE_LOGINS_H
#define SERVICE_OPENISCSI_NODE_LOGINS_H

#include "common/iscsi_service.h"
#include "service_openiscsi/iscsiadm_args.h"
#include "service_support/login_settings.h"

// The node record of target through portal (and iface; null: iscsiadm's
// choice), made when missing (while iscsid can be reached), gets
// node.startup automatic and, when chap is enabled, CHAP with its name and
// secret, in one call.  Without chap the record keeps its CHAP settings.
ISDSC_STATUS makePersistentLogin(const char *target, const OpeniscsiPortal &portal,
                                 const char *iface, const ChapCredentials &chap);

// Logs target in through portal now: the record as for a persistent login
// but node.startup left as it is, CHAP stated first when chap is enabled
// (unless this process stated the same just before), then iscsiadm
// --login; a session that exists already (exit code 15) is a success.
// Fills both identifiers from the kernel's session (kernel_sessions.h);
// OPENISCSI_SESSION_NOT_SEEN when the kernel shows none after the login.
// After a login that ran out of time, the login iscsid may still be
// retrying is logged out.
ISDSC_STATUS loginNow(const char *target, const OpeniscsiPortal &portal, const char *iface,
                      const ChapCredentials &chap, ISCSI_UNIQUE_SESSION_ID *sessionId,
                      ISCSI_UNIQUE_CONNECTION_ID *connectionId);

// node.startup manual on the records of target through portal (and iface)
// whose node.startup is automatic; OPENISCSI_PERSISTENT_LOGIN_NOT_FOUND,
// with nothing changed, when there is none.
ISDSC_STATUS removePersistentLogin(const char *target, const OpeniscsiPortal &portal,
                                   const char *iface);

// Forgets the CHAP settings this process stated.
void forgetStatedChap();

#endif  // SERVICE_OPENISCSI_NODE_LOGINS_H
