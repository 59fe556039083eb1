// Every test of this folder exercises the embedded service, on any host:
// the published operations, and the tools the tests start, answer through
// it whatever else the host offers.
#include <cstdlib>

#include "service_dispatch/service_choice.h"

namespace {

const int kForced = setenv(SERVICE_CHOICE_VARIABLE, "embedded", 1);

}  // namespace
