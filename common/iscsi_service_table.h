// One initiator service as a table of functions, where the tools can run
// over several services (Linux): the nine operations of iscsi_service.h and
// the service's message lookup, each with the contract stated there.  A
// dispatcher implements the published operations once and forwards every
// call to the table it chose for the process.
#ifndef COMMON_ISCSI_SERVICE_TABLE_H
#define COMMON_ISCSI_SERVICE_TABLE_H

#include "common/iscsi_service.h"

struct IscsiServiceTable {
    // The word that names the service in ISCSI_TOOLS_SERVICE.
    const char *name;

    // 0 when the service can work on this host for this process; otherwise
    // the status, with a text in this service's lookupMessage, that says
    // why not.  Asked at most once per process.
    ISDSC_STATUS (*availability)();

    ISDSC_STATUS (*getVersionInformation)(ISCSI_VERSION_INFO *versionInfo);
    ISDSC_STATUS (*getInitiatorNodeName)(WCHAR16 *initiatorNodeName);
    ISDSC_STATUS (*reportInitiatorList)(ULONG *bufferSize, WCHAR16 *buffer);
    ISDSC_STATUS(*addSendTargetPortal)
    (WCHAR16 *initiatorInstance, ULONG initiatorPortNumber, ISCSI_LOGIN_OPTIONS *loginOptions,
     ISCSI_SECURITY_FLAGS securityFlags, ISCSI_TARGET_PORTALW *portal);
    ISDSC_STATUS(*removeSendTargetPortal)
    (WCHAR16 *initiatorInstance, ULONG initiatorPortNumber, ISCSI_TARGET_PORTALW *portal);
    ISDSC_STATUS (*reportTargets)(BOOLEAN forceUpdate, ULONG *bufferSize, WCHAR16 *buffer);
    ISDSC_STATUS(*getTargetInformation)
    (WCHAR16 *targetName, WCHAR16 *discoveryMechanism, TARGET_INFORMATION_CLASS infoClass,
     ULONG *bufferSize, PVOID buffer);
    ISDSC_STATUS(*loginTarget)
    (WCHAR16 *targetName, BOOLEAN isInformationalSession, WCHAR16 *initiatorInstance,
     ULONG initiatorPortNumber, ISCSI_TARGET_PORTALW *targetPortal,
     ISCSI_SECURITY_FLAGS securityFlags, ISCSI_TARGET_MAPPINGW *mappings,
     ISCSI_LOGIN_OPTIONS *loginOptions, ULONG keySize, CHAR *key, BOOLEAN isPersistent,
     ISCSI_UNIQUE_SESSION_ID *uniqueSessionId, ISCSI_UNIQUE_CONNECTION_ID *uniqueConnectionId);
    ISDSC_STATUS(*removePersistentTarget)
    (WCHAR16 *initiatorInstance, ULONG initiatorPortNumber, WCHAR16 *targetName,
     ISCSI_TARGET_PORTALW *portal);

    ULONG (*lookupMessage)(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room);
};

#endif  // COMMON_ISCSI_SERVICE_TABLE_H
