#include "service_openiscsi/node_records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service_openiscsi/iscsiadm_run.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_support/heap_arrays.h"

namespace {

// Each record prints as about 4.5 KB: room for some thousands.
const size_t kShowAllLimit = 32 * 1024 * 1024;

NodeRecordList gKnown = {nullptr, 0, 0};
bool gKnownValid = false;

bool append(NodeRecordList *list, const NodeRecordFields &record)
{
    void *records = list->records;
    if (!reserveItem(&records, &list->capacity, list->count, sizeof(NodeRecordFields), 16))
        return false;
    list->records = static_cast<NodeRecordFields *>(records);
    list->records[list->count++] = record;
    return true;
}

const char *ifaceOf(const NodeRecordFields &record)
{
    return record.ifaceName[0] != 0 ? record.ifaceName : "default";
}

int compareRecords(const void *a, const void *b)
{
    const NodeRecordFields &x = *static_cast<const NodeRecordFields *>(a);
    const NodeRecordFields &y = *static_cast<const NodeRecordFields *>(b);
    int order = strcmp(x.name, y.name);
    if (order == 0)
        order = strcmp(x.address, y.address);
    if (order == 0)
        order = x.port < y.port ? -1 : x.port > y.port ? 1 : 0;
    if (order == 0)
        order = x.tag < y.tag ? -1 : x.tag > y.tag ? 1 : 0;
    if (order == 0)
        order = strcmp(ifaceOf(x), ifaceOf(y));
    return order;
}

}  // namespace

void freeNodeRecords(NodeRecordList *list)
{
    free(list->records);
    list->records = nullptr;
    list->count = 0;
    list->capacity = 0;
}

bool collectNodeRecords(const char *text, size_t length, NodeRecordList *list)
{
    size_t position = 0;
    const char *record;
    size_t recordLength;
    NodeRecordFields fields;
    while (nextRecord(text, length, &position, &record, &recordLength))
        if (parseNodeRecord(record, recordLength, &fields) && !append(list, fields))
            return false;
    if (list->count > 1)
        qsort(list->records, list->count, sizeof(NodeRecordFields), compareRecords);
    return true;
}

ISDSC_STATUS knownNodeRecords(const NodeRecordList **list)
{
    if (!gKnownValid) {
        freeNodeRecords(&gKnown);
        IscsiadmCommand command;
        buildNodeShowAll(&command);
        ChildResult run;
        ISDSC_STATUS status = runIscsiadm(command, kShowAllLimit, &run);
        if (status == OPENISCSI_NOTHING_FOUND)
            status = ISDSC_SUCCESS;
        else if (status == ISDSC_SUCCESS &&
                 !collectNodeRecords(run.out.data, run.out.length, &gKnown))
            status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
        releaseRun(&run);
        if (status != ISDSC_SUCCESS) {
            freeNodeRecords(&gKnown);
            return status;
        }
        gKnownValid = true;
    }
    *list = &gKnown;
    return ISDSC_SUCCESS;
}

void forgetNodeRecords()
{
    gKnownValid = false;
}

bool recordMatches(const NodeRecordFields &record, const char *target,
                   const OpeniscsiPortal &portal, const char *iface)
{
    return strcmp(record.name, target) == 0 && strcmp(record.address, portal.address) == 0 &&
           record.port == portal.port && (iface == nullptr || strcmp(ifaceOf(record), iface) == 0);
}

void noteNodeStartup(const char *target, const OpeniscsiPortal &portal, const char *iface,
                     NodeStartup startup)
{
    for (size_t i = 0; gKnownValid && i < gKnown.count; i++)
        if (recordMatches(gKnown.records[i], target, portal, iface))
            gKnown.records[i].startup = startup;
}

void noteNodeChap(const char *target, const OpeniscsiPortal &portal, const char *iface,
                  const char *username)
{
    for (size_t i = 0; gKnownValid && i < gKnown.count; i++) {
        NodeRecordFields &record = gKnown.records[i];
        if (!recordMatches(record, target, portal, iface))
            continue;
        strcpy(record.authMethod, "CHAP");
        snprintf(record.username, sizeof record.username, "%s", username);
        record.passwordSet = true;
    }
}
