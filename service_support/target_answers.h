// The answers of the target-information query, built from what the store
// keeps, in the byte layouts the callers read.
#ifndef SERVICE_SUPPORT_TARGET_ANSWERS_H
#define SERVICE_SUPPORT_TARGET_ANSWERS_H

#include "common/iscsi_service.h"
#include "service_support/discovery_records.h"
#include "service_support/login_settings.h"

// A growable heap buffer of bytes; the owner frees it with freeAnswer.
struct Answer {
    unsigned char *bytes;
    ULONG size;
    ULONG capacity;
};

void freeAnswer(Answer *answer);

// Appends count bytes (zeros when data is null).  False when out of memory
// or the answer would exceed 0x7FFFFFFF bytes.
bool appendBytes(Answer *answer, const void *data, ULONG count);

// Appends the UTF-8 text as wide characters with their terminator.  False
// for invalid UTF-8 or no memory.
bool appendWideText(Answer *answer, const char *text);

// Appends an unsigned 32-bit value.
bool appendUlong(Answer *answer, ULONG value);

// The portal groups of one target: the group count, then one group per
// portal-group tag in ascending tag order, each group its portal count and
// its portal records in answer order (empty symbolic name, the address, the
// socket), each group padded to portalGroupStride(count).
bool buildPortalGroups(const DiscoveryList &records, Answer *answer);

// One ISCSI_LOGIN_OPTIONS record followed by the user name's bytes.  Both
// pointers are null in the answer: deliverLoginOptions points Username at the
// bytes once they are in the caller's buffer.  The secret is never part of
// the answer: PasswordLength is 0 and only the mask tells that one is set.
bool buildLoginOptions(const LoginSettings &settings, Answer *answer);

// Hands an answer over by the sizing rule: with a null buffer or *bufferSize
// below the answer's size, 122 and *bufferSize = the size; otherwise the
// bytes are copied, *bufferSize = the size and the result is 0.
ISDSC_STATUS deliverAnswer(const Answer &answer, ULONG *bufferSize, void *buffer);

// deliverAnswer for a buildLoginOptions answer: on success points the
// record's Username at the user name inside buffer.
ISDSC_STATUS deliverLoginOptions(const Answer &answer, ULONG *bufferSize, void *buffer);

#endif  // SERVICE_SUPPORT_TARGET_ANSWERS_H
