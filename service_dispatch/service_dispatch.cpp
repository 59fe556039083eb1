// The published operations of the service boundary on Linux: each forwards
// to the service chosen for the process (service_choice.h), or fails with
// the reason that service cannot work here.
#include "common/iscsi_service.h"
#include "service_dispatch/service_choice.h"

extern "C" {

ISDSC_STATUS GetIScsiVersionInformation(ISCSI_VERSION_INFO *VersionInfo)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->getVersionInformation(VersionInfo);
}

ISDSC_STATUS GetIScsiInitiatorNodeNameW(WCHAR16 *InitiatorNodeName)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->getInitiatorNodeName(InitiatorNodeName);
}

ISDSC_STATUS ReportIScsiInitiatorListW(ULONG *BufferSize, WCHAR16 *Buffer)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->reportInitiatorList(BufferSize, Buffer);
}

ISDSC_STATUS AddIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                       ISCSI_LOGIN_OPTIONS *LoginOptions,
                                       ISCSI_SECURITY_FLAGS SecurityFlags,
                                       ISCSI_TARGET_PORTALW *Portal)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->addSendTargetPortal(InitiatorInstance, InitiatorPortNumber, LoginOptions,
                                             SecurityFlags, Portal);
}

ISDSC_STATUS RemoveIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                          ISCSI_TARGET_PORTALW *Portal)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->removeSendTargetPortal(InitiatorInstance, InitiatorPortNumber, Portal);
}

ISDSC_STATUS ReportIScsiTargetsW(BOOLEAN ForceUpdate, ULONG *BufferSize, WCHAR16 *Buffer)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->reportTargets(ForceUpdate, BufferSize, Buffer);
}

ISDSC_STATUS GetIScsiTargetInformationW(WCHAR16 *TargetName, WCHAR16 *DiscoveryMechanism,
                                        TARGET_INFORMATION_CLASS InfoClass, ULONG *BufferSize,
                                        PVOID Buffer)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->getTargetInformation(TargetName, DiscoveryMechanism, InfoClass, BufferSize,
                                              Buffer);
}

ISDSC_STATUS LoginIScsiTargetW(WCHAR16 *TargetName, BOOLEAN IsInformationalSession,
                               WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                               ISCSI_TARGET_PORTALW *TargetPortal,
                               ISCSI_SECURITY_FLAGS SecurityFlags, ISCSI_TARGET_MAPPINGW *Mappings,
                               ISCSI_LOGIN_OPTIONS *LoginOptions, ULONG KeySize, CHAR *Key,
                               BOOLEAN IsPersistent, ISCSI_UNIQUE_SESSION_ID *UniqueSessionId,
                               ISCSI_UNIQUE_CONNECTION_ID *UniqueConnectionId)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->loginTarget(TargetName, IsInformationalSession, InitiatorInstance,
                                     InitiatorPortNumber, TargetPortal, SecurityFlags, Mappings,
                                     LoginOptions, KeySize, Key, IsPersistent, UniqueSessionId,
                                     UniqueConnectionId);
}

ISDSC_STATUS RemoveIScsiPersistentTargetW(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                          WCHAR16 *TargetName, ISCSI_TARGET_PORTALW *Portal)
{
    const ServiceChoice &choice = processServiceChoice();
    if (choice.refusal != ISDSC_SUCCESS)
        return choice.refusal;
    return choice.table->removePersistentTarget(InitiatorInstance, InitiatorPortNumber, TargetName,
                                                Portal);
}

// The chosen service's texts, and the dispatcher's own.  A service that
// cannot work still has the text of its reason.
ULONG lookupServiceMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    ULONG length = lookupDispatchMessage(code, buffer, room);
    const ServiceChoice &choice = processServiceChoice();
    if (length == 0 && choice.table != nullptr)
        length = choice.table->lookupMessage(code, languageId, buffer, room);
    return length;
}

}  // extern "C"
