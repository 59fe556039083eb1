// The one place where what went wrong below the service (a system call, the
// name resolver, libiscsi, SQLite) becomes a service status.
#ifndef SERVICE_LIBISCSI_FAILURE_MAPPING_H
#define SERVICE_LIBISCSI_FAILURE_MAPPING_H

#include "common/iscsi_service.h"

// The network steps of one exchange with a portal, in the order they run.
enum ExchangeStep {
    STEP_NAME_LOOKUP,
    STEP_CONNECT,
    STEP_LOGIN,
    STEP_TEXT,
    STEP_LOGOUT
};

enum FailureKind {
    FAILURE_TIMEOUT,      // the step's deadline passed
    FAILURE_ERRNO,        // code: an errno value (0: the peer closed the connection)
    FAILURE_NAME_LOOKUP,  // code: a getaddrinfo result (EAI_*)
    FAILURE_LIBRARY       // text: libiscsi's error text
};

struct ExchangeFailure {
    ExchangeStep step;
    FailureKind kind;
    int code;
    const char *text;  // may be null
};

// Status for a failed network step.  Reads failure.text when the kind is
// FAILURE_LIBRARY: an errno or a login status that libiscsi put in its text
// ("...(111)", "errno:104", "Status: ...(513)") decides; a text without one
// means a protocol failure at the login and text steps.
ISDSC_STATUS statusForExchangeFailure(const ExchangeFailure &failure);

// Status for an iSCSI login response status (class << 8 | detail).
ISDSC_STATUS statusForLoginResponse(int classAndDetail);

// Status for an errno met while finding or creating the state directory.
ISDSC_STATUS statusForStateDirectoryErrno(int error);

// Status for an SQLite result code other than success.  A busy store is
// SERVICE_STORE_BUSY when the wait for it used up its whole bound
// (waitedWholeBound), SERVICE_STORE_CONFLICT when SQLite gave up at once (as
// it does where waiting could deadlock).
ISDSC_STATUS statusForStoreResult(int sqliteResult, bool waitedWholeBound);

// Status for an errno met while opening or checking a file of the store.
ISDSC_STATUS statusForStoreFileErrno(int error);

#endif  // SERVICE_LIBISCSI_FAILURE_MAPPING_H
