// What the open-iscsi service offers its tests and nothing else: production
// code never calls these.
#ifndef SERVICE_OPENISCSI_OPENISCSI_TESTING_H
#define SERVICE_OPENISCSI_OPENISCSI_TESTING_H

#include <cstddef>

#include "service_openiscsi/child_runner.h"

// Stands in for one run of iscsiadm: argv as runChild would get it
// ("iscsiadm" first, null-terminated); fills *result as runChild does (the
// caller frees it with freeChildResult) and returns what runChild would.
typedef bool (*IscsiadmRunner)(const char *const *argv, int timeoutMs, size_t outputLimit,
                               ChildResult *result);

// Every iscsiadm call of the service goes to runner from now on; null puts
// the real iscsiadm back.
void setIscsiadmRunnerForTests(IscsiadmRunner runner);

// The files of the host (/sys, /proc, /lib/modules, /etc/iscsi) are read
// below root from now on; null reads the host's own again.  root is kept,
// not copied.
void setHostRootForTests(const char *root);

// Forgets what this process learned (version, node name, node records,
// portals it discovered, CHAP it stated), as a new process would.
void forgetServiceStateForTests();

#endif  // SERVICE_OPENISCSI_OPENISCSI_TESTING_H
