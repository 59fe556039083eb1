// Which initiator service answers the tools on this host.
//
// ISCSI_TOOLS_SERVICE names a service ("embedded", "open-iscsi"): that one
// answers, whether it can work here or not (a service that cannot work fails
// every operation with a status whose text says why; there is never a silent
// switch to another).  Without the variable the first service of the
// registry that can work here answers.
#ifndef SERVICE_DISPATCH_SERVICE_CHOICE_H
#define SERVICE_DISPATCH_SERVICE_CHOICE_H

#include <cstddef>

#include "common/iscsi_service_table.h"

#define SERVICE_CHOICE_VARIABLE "ISCSI_TOOLS_SERVICE"

// The variable names no service of this build.
#define DISPATCH_UNKNOWN_SERVICE 0xEFFF0201u

struct ServiceChoice {
    const IscsiServiceTable *table;  // null only with DISPATCH_UNKNOWN_SERVICE
    ISDSC_STATUS refusal;            // 0: the table answers; else every operation's status
};

// Chooses among tables[count] (in order of preference) as the header says;
// `named` is the variable's value (null or empty: not set).  Asks each
// table's availability at most once.
ServiceChoice chooseService(const IscsiServiceTable *const *tables, size_t count,
                            const char *named);

// The choice of this process, made at the first call from the registry and
// the environment, and kept.
const ServiceChoice &processServiceChoice();

// The services of this build, in order of preference (service_registry.cpp,
// made by CMake from TOOLS_LINUX_SERVICES).
extern const IscsiServiceTable *const kServiceRegistry[];
extern const size_t kServiceRegistryCount;

// The dispatcher's own message table (its one code above); 0 for any other.
ULONG lookupDispatchMessage(ULONG code, WCHAR16 *buffer, ULONG room);

#endif  // SERVICE_DISPATCH_SERVICE_CHOICE_H
