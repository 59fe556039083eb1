// What the dispatcher offers its tests and nothing else: production code
// never calls this.  Defined in service_choice.cpp, in a section for tests.
#ifndef SERVICE_DISPATCH_DISPATCH_TESTING_H
#define SERVICE_DISPATCH_DISPATCH_TESTING_H

#include "service_dispatch/service_choice.h"

// Makes `choice` the process's choice, as if made at the first call.
void setProcessServiceChoice(const ServiceChoice &choice);

#endif  // SERVICE_DISPATCH_DISPATCH_TESTING_H
