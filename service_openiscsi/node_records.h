// open-iscsi's node records as the service reads them: all of them in one
// iscsiadm call, kept for the rest of the process and kept in step with
// what the process changes itself.
#ifndef SERVICE_OPENISCSI_NODE_RECORDS_H
#define SERVICE_OPENISCSI_NODE_RECORDS_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_openiscsi/iscsiadm_args.h"
#include "service_openiscsi/iscsiadm_records.h"

// A heap array of records; the owner frees it with freeNodeRecords.
struct NodeRecordList {
    NodeRecordFields *records;
    size_t count;
    size_t capacity;
};

void freeNodeRecords(NodeRecordList *list);

// Appends every node record of an iscsiadm printout (records that cannot be
// read are left out) and sorts the list by target name, address, port, tag
// and iface.  False when out of memory.
bool collectNodeRecords(const char *text, size_t length, NodeRecordList *list);

// The node records as this process knows them: read with
// "iscsiadm -m node -o show" at the first need after start or after
// forgetNodeRecords (none at all, exit 21, is an empty list).  *list stays
// valid until the next call of a routine of this file.
ISDSC_STATUS knownNodeRecords(const NodeRecordList **list);

// After a change of the records by someone else than the notes below
// (a discovery, a record made or deleted): read them again at the next need.
void forgetNodeRecords();

// True for a record of target through portal; through iface too, unless
// iface is null.  A record without an iface name is the default iface's.
bool recordMatches(const NodeRecordFields &record, const char *target,
                   const OpeniscsiPortal &portal, const char *iface);

// What this process has just set on the records recordMatches selects.
void noteNodeStartup(const char *target, const OpeniscsiPortal &portal, const char *iface,
                     NodeStartup startup);
void noteNodeChap(const char *target, const OpeniscsiPortal &portal, const char *iface,
                  const char *username);

#endif  // SERVICE_OPENISCSI_NODE_RECORDS_H
