#include "service_support/step_time.h"

#include <cstdlib>
#include <ctime>

long long monotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int stepTimeoutMs()
{
    const char *text = getenv(STEP_TIMEOUT_VARIABLE);
    if (text != nullptr && text[0] != 0) {
        char *end = nullptr;
        long value = strtol(text, &end, 10);
        if (end != nullptr && *end == 0 && value >= 1 && value <= 600000)
            return static_cast<int>(value);
    }
    return DEFAULT_STEP_TIMEOUT_MS;
}
