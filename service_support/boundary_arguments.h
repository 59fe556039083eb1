// The arguments and answers of the boundary's operations as both Linux
// services read and hand them: wide text and records in, UTF-8 out, and
// the sizing rules of lists and of the target-information answers.
#ifndef SERVICE_SUPPORT_BOUNDARY_ARGUMENTS_H
#define SERVICE_SUPPORT_BOUNDARY_ARGUMENTS_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_support/discovery_records.h"
#include "service_support/target_answers.h"

// Room for a discovery mechanism text in UTF-8.
#define MECHANISM_BYTES (PORTAL_ADDRESS_BYTES + 32)

// The target name argument as UTF-8 in out[room]; 87 when it is null,
// empty, has no terminator within MAX_ISCSI_NAME_LEN + 1 characters or does
// not convert (an unpaired surrogate, no room).
ISDSC_STATUS readTargetNameArgument(const WCHAR16 *name, char *out, size_t room);

// The portal argument as its address (UTF-8, as given) and socket; 87 when
// the record is missing, its address empty or not convertible, or its
// socket 0.
ISDSC_STATUS readPortalArgument(const ISCSI_TARGET_PORTALW *portal, PortalEndpoint *endpoint);

// The arguments of the target-information query.
struct TargetQuery {
    char target[ISCSI_NAME_BYTES];
    char mechanism[MECHANISM_BYTES];
    bool hasMechanism;  // false: no mechanism was given
};

// Checks and converts them: 87 for a null size, a class outside
// ProtocolType..LoginOptions, a target name readTargetNameArgument refuses,
// or a mechanism that does not convert.
ISDSC_STATUS readTargetQuery(const WCHAR16 *target, const WCHAR16 *mechanism,
                             TARGET_INFORMATION_CLASS infoClass, const ULONG *bufferSize,
                             TargetQuery *query);

// Hands a list over (list holds wide texts and the closing empty one):
// sizes count characters; with a null buffer or *bufferSize below the
// list's characters, 122 and *bufferSize = the characters needed.
ISDSC_STATUS deliverList(const Answer &list, ULONG *bufferSize, WCHAR16 *buffer);

// Hands a target-information answer of infoClass over by the sizing rule
// (deliverLoginOptions for LoginOptions, deliverAnswer for the others); an
// empty answer is 0 at once with *bufferSize 0, so that no caller asks a
// second time.
ISDSC_STATUS deliverTargetInformation(TARGET_INFORMATION_CLASS infoClass, const Answer &answer,
                                      ULONG *bufferSize, void *buffer);

#endif  // SERVICE_SUPPORT_BOUNDARY_ARGUMENTS_H
