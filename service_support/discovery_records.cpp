#include "service_support/discovery_records.h"

#include <cstdlib>

#include "service_support/heap_arrays.h"

void freeDiscoveryList(DiscoveryList *list)
{
    free(list->records);
    list->records = nullptr;
    list->count = 0;
    list->capacity = 0;
}

bool appendDiscoveryRecord(DiscoveryList *list, const DiscoveryRecord &record)
{
    if (list->count >= MAX_DISCOVERY_RECORDS)
        return false;
    void *records = list->records;
    if (!reserveItem(&records, &list->capacity, list->count, sizeof(DiscoveryRecord), 8))
        return false;
    list->records = static_cast<DiscoveryRecord *>(records);
    list->records[list->count++] = record;
    return true;
}
