#include "service_support/heap_arrays.h"

#include <cstdlib>

bool reserveItem(void **items, size_t *capacity, size_t count, size_t itemSize,
                 size_t firstCapacity)
{
    if (count < *capacity)
        return true;
    size_t grown = *capacity == 0 ? firstCapacity : *capacity * 2;
    if (grown < *capacity || grown > static_cast<size_t>(-1) / itemSize)
        return false;
    void *bigger = realloc(*items, grown * itemSize);
    if (bigger == nullptr)
        return false;
    *items = bigger;
    *capacity = grown;
    return true;
}
