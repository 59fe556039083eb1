// Send-target portals over open-iscsi: a discovery record of iscsiadm per
// portal, and discoveries that only ever add node records ("-o new"): a
// discovery without it would set node.startup and the CHAP settings of the
// targets already known back to iscsid.conf's defaults.
#ifndef SERVICE_OPENISCSI_SEND_TARGETS_H
#define SERVICE_OPENISCSI_SEND_TARGETS_H

#include "common/iscsi_service.h"
#include "service_openiscsi/iscsiadm_args.h"
#include "service_support/login_settings.h"

// Registers portal and discovers its targets through iface (null: iscsiadm's
// choice).  With chap enabled, the discovery record gets CHAP with chap's
// name and secret first (the record is made when missing, never made again
// over an existing one: that would reset its settings); without, the
// record keeps what it has (iscsid.conf's defaults when new).  A record is
// made only while iscsid can be reached (OPENISCSI_DAEMON_UNREACHABLE).
// Returns the status of the first call that failed.
ISDSC_STATUS addSendTargets(const OpeniscsiPortal &portal, const char *iface,
                            const ChapCredentials &chap);

// Removes the discovery record of portal (OPENISCSI_PORTAL_NOT_FOUND when
// there is none).  iscsiadm deletes every node record found through it
// with it; the records of persistent logins and of live sessions are made
// again afterwards, with their settings, CHAP secret included
// (OPENISCSI_RECORDS_NOT_KEPT when one could not be).
ISDSC_STATUS removeSendTargets(const OpeniscsiPortal &portal);

// Discovers again through every send-targets discovery record that this
// process has not discovered through itself; one that fails keeps the
// node records it had.  Fails only when the records cannot be listed.
ISDSC_STATUS rediscoverAll();

// Forgets which portals this process discovered through.
void forgetDiscoveredPortals();

#endif  // SERVICE_OPENISCSI_SEND_TARGETS_H
