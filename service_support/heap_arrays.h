// Growth of the heap arrays of records the services keep.
#ifndef SERVICE_SUPPORT_HEAP_ARRAYS_H
#define SERVICE_SUPPORT_HEAP_ARRAYS_H

#include <cstddef>

// Makes room for one more item of itemSize bytes in the heap array *items
// that holds count items in room for *capacity: when it is full, doubles
// it, from firstCapacity for an empty one.  False when no memory is left
// (the array stays as it was).
bool reserveItem(void **items, size_t *capacity, size_t count, size_t itemSize,
                 size_t firstCapacity);

#endif  // SERVICE_SUPPORT_HEAP_ARRAYS_H
