// The answers of the target-information query over open-iscsi, built from
// the node records of the target (node_records.h) and its live session.
#ifndef SERVICE_OPENISCSI_TARGET_INFORMATION_H
#define SERVICE_OPENISCSI_TARGET_INFORMATION_H

#include "common/iscsi_service.h"
#include "service_openiscsi/node_records.h"
#include "service_support/target_answers.h"

// Appends to answer what infoClass asks about target, from records:
//   DiscoveryMechanisms: "SendTargets address:port" of each discovery record
//     that found the target (no answer at all, size 0, when none did);
//   ProtocolType: 0, iSCSI over TCP;
//   TargetAlias: the alias of its live session where the kernel has one,
//     else the empty text;
//   PortalGroups: its portals by portal-group tag (buildPortalGroups);
//   InitiatorName: the instances of the ifaces of its records, the default
//     iface's first;
//   TargetFlags: 0;
//   LoginOptions: the authentication of its first record: the type, the
//     CHAP name, and whether a secret is set, never the secret.
// With a mechanism, only the records found through it count
// (OPENISCSI_MECHANISM_NOT_FOUND when there are none);
// OPENISCSI_TARGET_NOT_FOUND when the target has no record;
// SERVICE_NOT_SUPPORTED for PersistentTargetMappings.
ISDSC_STATUS answerTargetInformation(const NodeRecordList &records, const char *target,
                                     const char *mechanism, TARGET_INFORMATION_CLASS infoClass,
                                     Answer *answer);

// The names of the targets of records, each once, in order, as a wide
// multi-string with its closing empty text.  Names that are not acceptable
// target names (isAcceptableTargetName) are left out.
bool appendTargetNames(const NodeRecordList &records, Answer *answer);

#endif  // SERVICE_OPENISCSI_TARGET_INFORMATION_H
