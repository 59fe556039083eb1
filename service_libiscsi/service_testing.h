// What the service offers its tests and nothing else: production code never
// calls these.  Each is defined at the end of the unit whose state it
// reaches, in a section marked for tests.
#ifndef SERVICE_LIBISCSI_SERVICE_TESTING_H
#define SERVICE_LIBISCSI_SERVICE_TESTING_H

#include <cstddef>

#include "common/iscsi_service.h"

// Closes the store's connection (the next storeBegin opens it again, after
// looking up the state directory anew).  Defined in service_store.cpp.
void storeClose();

// The number of persistent logins for target (null: for every target).
// Requires an open transaction.  Defined in service_store.cpp.
ISDSC_STATUS storeCountPersistentLogins(const char *target, size_t *count);

// The store call after `calls` more calls (statements prepared and run,
// BEGIN and COMMIT included) fails as an I/O error would; -1 ends the
// injection.  Defined in service_store.cpp.
void storeFailAfter(int calls);

// Number of sessions this process holds open.  Defined in iscsi_exchange.cpp.
size_t openSessionCount();

#endif  // SERVICE_LIBISCSI_SERVICE_TESTING_H
