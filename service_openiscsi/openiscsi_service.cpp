// The nine operations of the service boundary over the host's own
// open-iscsi: each checks and converts its arguments, then drives iscsiadm
// (send_targets.h, node_logins.h) or reads what it keeps (node_records.h,
// the kernel's sessions in sysfs).  Nothing is kept between runs but what
// open-iscsi keeps itself.
#include <cstring>
#include <unistd.h>

#include "common/iscsi_service.h"
#include "common/iscsi_service_table.h"
#include "service_openiscsi/child_runner.h"
#include "service_openiscsi/host_checks.h"
#include "service_openiscsi/host_paths.h"
#include "service_openiscsi/initiator_instances.h"
#include "service_openiscsi/iscsiadm_lists.h"
#include "service_openiscsi/iscsiadm_run.h"
#include "service_openiscsi/node_logins.h"
#include "service_openiscsi/node_records.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_openiscsi/openiscsi_testing.h"
#include "service_openiscsi/send_targets.h"
#include "service_openiscsi/target_information.h"
#include "service_support/boundary_arguments.h"
#include "service_support/initiator_name_file.h"
#include "service_support/login_settings.h"
#include "service_support/portal_text.h"
#include "service_support/support_status.h"
#include "service_support/text_conversion.h"

namespace {

IscsiadmVersion gVersion;
bool gVersionKnown = false;
char gNodeName[ISCSI_NAME_BYTES];
bool gNodeNameKnown = false;

// The portal argument, the brackets around an IPv6 address taken off (the
// command line may give them; iscsiadm's portal texts add its own).
ISDSC_STATUS readPortal(const ISCSI_TARGET_PORTALW *record, PortalEndpoint *endpoint,
                        OpeniscsiPortal *portal)
{
    ISDSC_STATUS status = readPortalArgument(record, endpoint);
    if (status != ISDSC_SUCCESS)
        return status;
    char *address = endpoint->address;
    size_t length = strlen(address);
    if (length > 2 && address[0] == '[' && address[length - 1] == ']') {
        memmove(address, address + 1, length - 2);
        address[length - 2] = 0;
    }
    portal->address = address;
    portal->port = endpoint->port;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS findNodeName(const char **name)
{
    if (!gNodeNameKnown) {
        char path[512];
        if (!hostPath(HOST_INITIATOR_NAME_FILE, path, sizeof path))
            return OPENISCSI_INITIATOR_NAME_UNREADABLE;
        switch (readInitiatorNameFile(path, gNodeName, sizeof gNodeName)) {
        case INITIATOR_NAME_READ:
            break;
        case INITIATOR_NAME_NO_FILE:
            return OPENISCSI_NO_INITIATOR_NAME;
        case INITIATOR_NAME_UNREADABLE:
            return OPENISCSI_INITIATOR_NAME_UNREADABLE;
        case INITIATOR_NAME_ABSENT:
        case INITIATOR_NAME_MALFORMED:
            return OPENISCSI_INITIATOR_NAME_UNUSABLE;
        }
        if (!isReadableText(gNodeName))
            return OPENISCSI_INITIATOR_NAME_UNUSABLE;
        gNodeNameKnown = true;
    }
    *name = gNodeName;
    return ISDSC_SUCCESS;
}

// The CHAP credentials the options ask for; the node name stands in for a
// name they do not give (a discovery's CHAP name is the initiator's).
ISDSC_STATUS chapOf(const ISCSI_LOGIN_OPTIONS *options, ChapCredentials *chap)
{
    memset(chap, 0, sizeof *chap);
    LoginSettings settings;
    ISDSC_STATUS status = settingsFromOptions(options, &settings);
    const char *nodeName = "";
    bool needsName = status == ISDSC_SUCCESS && options != nullptr &&
                     (settings.informationSpecified & ISCSI_LOGIN_OPTIONS_USERNAME) == 0;
    if (needsName)
        status = findNodeName(&nodeName);
    if (status == ISDSC_SUCCESS)
        status = chapFromSettings(settings, nodeName, chap);
    memset(&settings, 0, sizeof settings);
    return status;
}

// The arguments every node operation takes: target, portal, iface.
struct NodeArguments {
    char target[ISCSI_NAME_BYTES];
    PortalEndpoint endpoint;
    OpeniscsiPortal portal;
    char iface[OPENISCSI_IFACE_BYTES];
};

ISDSC_STATUS readNodeArguments(const WCHAR16 *target, const ISCSI_TARGET_PORTALW *portal,
                               const WCHAR16 *instance, NodeArguments *out)
{
    ISDSC_STATUS status = readTargetNameArgument(target, out->target, sizeof out->target);
    if (status == ISDSC_SUCCESS)
        status = readPortal(portal, &out->endpoint, &out->portal);
    if (status == ISDSC_SUCCESS)
        status = ifaceOfInstance(instance, out->iface, sizeof out->iface);
    return status;
}

const char *ifaceOrNone(const char *iface)
{
    return iface[0] != 0 ? iface : nullptr;
}

ISDSC_STATUS availability()
{
    return availabilityFrom(iscsiadmPath() != nullptr, geteuid() == 0);
}

ISDSC_STATUS getVersionInformation(ISCSI_VERSION_INFO *VersionInfo)
{
    if (VersionInfo == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    if (!gVersionKnown) {
        IscsiadmCommand command;
        buildVersion(&command);
        ChildResult run;
        ISDSC_STATUS status = runIscsiadm(command, 0, &run);
        if (status == ISDSC_SUCCESS && !parseVersion(run.out.data, run.out.length, &gVersion))
            status = OPENISCSI_OUTPUT_UNREADABLE;
        releaseRun(&run);
        if (status != ISDSC_SUCCESS)
            return status;
        gVersionKnown = true;
    }
    VersionInfo->MajorVersion = static_cast<ULONG>(gVersion.major);
    VersionInfo->MinorVersion = static_cast<ULONG>(gVersion.minor);
    VersionInfo->BuildNumber = static_cast<ULONG>(gVersion.patch);
    return ISDSC_SUCCESS;
}

ISDSC_STATUS getInitiatorNodeName(WCHAR16 *InitiatorNodeName)
{
    if (InitiatorNodeName == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    const char *name = nullptr;
    ISDSC_STATUS status = findNodeName(&name);
    if (status == ISDSC_SUCCESS &&
        !convertUtf8ToWide(name, InitiatorNodeName, MAX_ISCSI_NAME_LEN + 1))
        status = OPENISCSI_INITIATOR_NAME_UNUSABLE;
    return status;
}

ISDSC_STATUS reportInitiatorList(ULONG *BufferSize, WCHAR16 *Buffer)
{
    if (BufferSize == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    Answer list = {nullptr, 0, 0};
    ISDSC_STATUS status = buildInstanceList(&list);
    if (status == ISDSC_SUCCESS)
        status = deliverList(list, BufferSize, Buffer);
    freeAnswer(&list);
    return status;
}

ISDSC_STATUS addSendTargetPortal(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                 ISCSI_LOGIN_OPTIONS *LoginOptions,
                                 ISCSI_SECURITY_FLAGS SecurityFlags, ISCSI_TARGET_PORTALW *Portal)
{
    (void)InitiatorPortNumber;  // iscsiadm chooses by iface, not by port
    PortalEndpoint endpoint;
    char iface[OPENISCSI_IFACE_BYTES];
    OpeniscsiPortal portal;
    ChapCredentials chap;
    memset(&chap, 0, sizeof chap);
    ISDSC_STATUS status = readPortal(Portal, &endpoint, &portal);
    if (status == ISDSC_SUCCESS)
        status = ifaceOfInstance(InitiatorInstance, iface, sizeof iface);
    if (status == ISDSC_SUCCESS && SecurityFlags != 0)
        status = SERVICE_NOT_SUPPORTED;
    if (status == ISDSC_SUCCESS)
        status = chapOf(LoginOptions, &chap);
    if (status == ISDSC_SUCCESS)
        status = addSendTargets(portal, ifaceOrNone(iface), chap);
    memset(&chap, 0, sizeof chap);
    return status;
}

ISDSC_STATUS removeSendTargetPortal(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                    ISCSI_TARGET_PORTALW *Portal)
{
    (void)InitiatorPortNumber;
    PortalEndpoint endpoint;
    char iface[OPENISCSI_IFACE_BYTES];
    OpeniscsiPortal portal;
    ISDSC_STATUS status = readPortal(Portal, &endpoint, &portal);
    // A discovery record belongs to no iface; the instance is checked only.
    if (status == ISDSC_SUCCESS)
        status = ifaceOfInstance(InitiatorInstance, iface, sizeof iface);
    if (status == ISDSC_SUCCESS)
        status = removeSendTargets(portal);
    return status;
}

ISDSC_STATUS reportTargets(BOOLEAN ForceUpdate, ULONG *BufferSize, WCHAR16 *Buffer)
{
    if (BufferSize == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    ISDSC_STATUS status = ForceUpdate ? rediscoverAll() : ISDSC_SUCCESS;
    const NodeRecordList *records = nullptr;
    if (status == ISDSC_SUCCESS)
        status = knownNodeRecords(&records);
    Answer list = {nullptr, 0, 0};
    if (status == ISDSC_SUCCESS && !appendTargetNames(*records, &list))
        status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    if (status == ISDSC_SUCCESS)
        status = deliverList(list, BufferSize, Buffer);
    freeAnswer(&list);
    return status;
}

ISDSC_STATUS getTargetInformation(WCHAR16 *TargetName, WCHAR16 *DiscoveryMechanism,
                                  TARGET_INFORMATION_CLASS InfoClass, ULONG *BufferSize,
                                  PVOID Buffer)
{
    TargetQuery query;
    ISDSC_STATUS status =
        readTargetQuery(TargetName, DiscoveryMechanism, InfoClass, BufferSize, &query);
    const NodeRecordList *records = nullptr;
    if (status == ISDSC_SUCCESS)
        status = knownNodeRecords(&records);
    Answer answer = {nullptr, 0, 0};
    if (status == ISDSC_SUCCESS)
        status = answerTargetInformation(*records, query.target,
                                         query.hasMechanism ? query.mechanism : nullptr, InfoClass,
                                         &answer);
    if (status == ISDSC_SUCCESS)
        status = deliverTargetInformation(InfoClass, answer, BufferSize, Buffer);
    freeAnswer(&answer);
    return status;
}

ISDSC_STATUS loginTarget(WCHAR16 *TargetName, BOOLEAN IsInformationalSession,
                         WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                         ISCSI_TARGET_PORTALW *TargetPortal, ISCSI_SECURITY_FLAGS SecurityFlags,
                         ISCSI_TARGET_MAPPINGW *Mappings, ISCSI_LOGIN_OPTIONS *LoginOptions,
                         ULONG KeySize, CHAR *Key, BOOLEAN IsPersistent,
                         ISCSI_UNIQUE_SESSION_ID *UniqueSessionId,
                         ISCSI_UNIQUE_CONNECTION_ID *UniqueConnectionId)
{
    // A session of open-iscsi always gives the host its disks.
    (void)IsInformationalSession;
    (void)InitiatorPortNumber;
    (void)Key;
    NodeArguments node;
    ChapCredentials chap;
    memset(&chap, 0, sizeof chap);
    ISDSC_STATUS status = readNodeArguments(TargetName, TargetPortal, InitiatorInstance, &node);
    if (status == ISDSC_SUCCESS && (SecurityFlags != 0 || Mappings != nullptr || KeySize != 0))
        status = SERVICE_NOT_SUPPORTED;
    if (status == ISDSC_SUCCESS)
        status = chapOf(LoginOptions, &chap);
    if (status == ISDSC_SUCCESS && IsPersistent) {
        status = makePersistentLogin(node.target, node.portal, ifaceOrNone(node.iface), chap);
        // A persistent login is a record, not a session: no identifiers.
        if (status == ISDSC_SUCCESS && UniqueSessionId != nullptr)
            memset(UniqueSessionId, 0, sizeof *UniqueSessionId);
        if (status == ISDSC_SUCCESS && UniqueConnectionId != nullptr)
            memset(UniqueConnectionId, 0, sizeof *UniqueConnectionId);
    } else if (status == ISDSC_SUCCESS) {
        status = loginNow(node.target, node.portal, ifaceOrNone(node.iface), chap, UniqueSessionId,
                          UniqueConnectionId);
    }
    memset(&chap, 0, sizeof chap);
    return status;
}

ISDSC_STATUS removePersistentTarget(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                    WCHAR16 *TargetName, ISCSI_TARGET_PORTALW *Portal)
{
    (void)InitiatorPortNumber;
    NodeArguments node;
    ISDSC_STATUS status = readNodeArguments(TargetName, Portal, InitiatorInstance, &node);
    if (status == ISDSC_SUCCESS)
        status = removePersistentLogin(node.target, node.portal, ifaceOrNone(node.iface));
    return status;
}

ULONG lookupMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    ULONG length = lookupOpeniscsiMessage(code, languageId, buffer, room);
    return length != 0 ? length : lookupSupportMessage(code, languageId, buffer, room);
}

}  // namespace

void forgetServiceStateForTests()
{
    gVersionKnown = false;
    gNodeNameKnown = false;
    forgetNodeRecords();
    forgetDiscoveredPortals();
    forgetStatedChap();
}

extern const IscsiServiceTable openiscsiServiceTable = {
    "open-iscsi",         availability,        getVersionInformation,  getInitiatorNodeName,
    reportInitiatorList,  addSendTargetPortal, removeSendTargetPortal, reportTargets,
    getTargetInformation, loginTarget,         removePersistentTarget, lookupMessage,
};
