// What a SendTargets discovery found: one record for each portal of each
// target, in the order the target sent them.  Both services keep and answer
// from these.
#ifndef SERVICE_SUPPORT_DISCOVERY_RECORDS_H
#define SERVICE_SUPPORT_DISCOVERY_RECORDS_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_support/portal_text.h"

// At most this many portal records are taken from one discovery answer; the
// rest are dropped.
#define MAX_DISCOVERY_RECORDS 16384

struct PortalEndpoint {
    char address[PORTAL_ADDRESS_BYTES];  // host name or address, IPv6 without brackets
    USHORT port;
};

// One portal of one target in a SendTargets answer.
struct DiscoveryRecord {
    char target[ISCSI_NAME_BYTES];
    ULONG targetOrdinal;  // position of the target in the answer
    char address[PORTAL_ADDRESS_BYTES];
    USHORT socket;
    ULONG tag;
};

// A heap array of records; the owner frees it with freeDiscoveryList.
struct DiscoveryList {
    DiscoveryRecord *records;
    size_t count;
    size_t capacity;
};

void freeDiscoveryList(DiscoveryList *list);

// Appends a record; false when the list is full (MAX_DISCOVERY_RECORDS) or no
// memory is left.
bool appendDiscoveryRecord(DiscoveryList *list, const DiscoveryRecord &record);

#endif  // SERVICE_SUPPORT_DISCOVERY_RECORDS_H
