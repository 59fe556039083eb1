// What the open-iscsi service asks of the host before it works: iscsiadm,
// root, the kernel's iSCSI TCP transport, and a reachable iscsid.
#ifndef SERVICE_OPENISCSI_HOST_CHECKS_H
#define SERVICE_OPENISCSI_HOST_CHECKS_H

#include "common/iscsi_service.h"

// 0 when the kernel has the iSCSI TCP transport (/sys/module/iscsi_tcp or
// /sys/class/iscsi_transport/tcp), or can load it: iscsi_tcp is listed in
// the running kernel's modules.dep and /proc/sys/kernel/modules_disabled is
// not 1.  Otherwise OPENISCSI_NO_TCP_TRANSPORT or OPENISCSI_MODULES_DISABLED.
ISDSC_STATUS tcpTransportStatus();

// The service's availability from what was found: OPENISCSI_TOOL_NOT_INSTALLED
// without iscsiadm, OPENISCSI_NEEDS_ROOT when not root, else
// tcpTransportStatus().  In that order: the first failure is the answer.
ISDSC_STATUS availabilityFrom(bool iscsiadmInstalled, bool root);

// True when something listens on iscsid's socket (the abstract unix socket
// ISCSIADM_ABSTRACT_NAMESPACE, as the package's iscsid.socket unit names
// it): iscsid itself, or systemd ready to start it.  Read from
// /proc/net/unix, without connecting.  Records made while iscsid cannot be
// reached take iscsiadm's built-in defaults rather than iscsid.conf, so the
// service asks this before every call that may make a record.
bool iscsidListening();

#endif  // SERVICE_OPENISCSI_HOST_CHECKS_H
