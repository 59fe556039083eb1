// The one clock the service measures waits and deadlines with.
#ifndef SERVICE_LINUX_MONOTONIC_CLOCK_H
#define SERVICE_LINUX_MONOTONIC_CLOCK_H

// Milliseconds on the monotonic clock (unaffected by changes of the time of
// day); only differences between two readings mean anything.
long long monotonicMs();

#endif  // SERVICE_LINUX_MONOTONIC_CLOCK_H
