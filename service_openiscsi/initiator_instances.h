// The initiator instances of the open-iscsi service: one per iface of
// iscsiadm ("Root\open-iscsi\<iface>"), each choosing its iface in the
// calls it is given to.
#ifndef SERVICE_OPENISCSI_INITIATOR_INSTANCES_H
#define SERVICE_OPENISCSI_INITIATOR_INSTANCES_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_support/target_answers.h"

#define INSTANCE_PREFIX "Root\\open-iscsi\\"
#define DEFAULT_IFACE "default"

// Appends the instance of iface (terminated wide text) to answer.
bool appendInstance(Answer *answer, const char *iface);

// The instances of every iface "iscsiadm -m iface" lists, as a wide
// multi-string with its closing empty text: the default iface last (a
// caller that takes the last "Root\" instance takes iscsiadm's default),
// the others in the order listed.  Ifaces with names other than 1 to 64
// letters, digits and "._:-" are left out.
ISDSC_STATUS buildInstanceList(Answer *answer);

// The iface an instance argument chooses, into iface[room]: none (the
// empty text) for a null instance, so that iscsiadm uses its own choice.
// OPENISCSI_INSTANCE_NOT_FOUND for an instance of another form; 87 for one
// without a terminator within 256 characters.
ISDSC_STATUS ifaceOfInstance(const WCHAR16 *instance, char *iface, size_t room);

#endif  // SERVICE_OPENISCSI_INITIATOR_INSTANCES_H
