#include "service_support/discovery_records.h"

#include <cstdlib>

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
    if (list->count == list->capacity) {
        size_t capacity = list->capacity == 0 ? 8 : list->capacity * 2;
        DiscoveryRecord *grown = static_cast<DiscoveryRecord *>(
            realloc(list->records, capacity * sizeof(DiscoveryRecord)));
        if (grown == nullptr)
            return false;
        list->records = grown;
        list->capacity = capacity;
    }
    list->records[list->count++] = record;
    return true;
}
