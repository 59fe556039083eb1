// The nine operations of the service boundary over libiscsi and the store.
//
// Each operation checks its arguments, does its network steps outside any
// transaction (so that a slow portal never holds the store's lock), then
// reads or writes the store in one transaction.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/iscsi_service.h"
#include "common/iscsi_service_table.h"
#include "common/wide_text.h"
#include "service_libiscsi/iscsi_exchange.h"
#include "service_libiscsi/node_identity.h"
#include "service_libiscsi/service_status.h"
#include "service_libiscsi/service_store.h"
#include "service_support/boundary_arguments.h"
#include "service_support/initiator_name_file.h"
#include "service_support/iscsi_names.h"
#include "service_support/login_settings.h"
#include "service_support/portal_text.h"
#include "service_support/target_answers.h"
#include "service_support/text_conversion.h"

#ifndef SERVICE_VERSION_MAJOR
#define SERVICE_VERSION_MAJOR 0
#define SERVICE_VERSION_MINOR 0
#define SERVICE_VERSION_PATCH 0
#endif

namespace {

// The one initiator instance of this host's software initiator.
const char kInitiatorInstance[] = "Root\\SoftwareInitiator\\0000_0";
const WCHAR16 kInitiatorInstanceWide[] = u"Root\\SoftwareInitiator\\0000_0";

const char kNodeNameSetting[] = "initiator_name";

// What this process knows of the portals it registered or asked.
struct PortalNote {
    char address[PORTAL_ADDRESS_BYTES];
    USHORT socket;
    bool inUse;
    // This process discovered the portal itself (its add, or a refresh of
    // the target list): the target list is answered from that discovery for
    // the rest of the run, however long the run takes.
    bool fresh;
    // This process's last add of the portal failed, after it saw the
    // portal's registration as seenByFailedAdd.  The removal that cleans up
    // after a failed add takes that registration and no other: one that
    // another process made meanwhile stays, with what it discovered.
    bool addFailed;
    PortalRegistration seenByFailedAdd;
};

const size_t kPortalNotes = 64;
PortalNote gPortalNotes[kPortalNotes];
size_t gNextPortalNote = 0;
// Notes are taken in order: those from gPortalNotesTaken on were never used,
// and a search need not touch their memory.
size_t gPortalNotesTaken = 0;

char gNodeName[ISCSI_NAME_BYTES];
bool gNodeNameKnown = false;

// The note of a portal; with create, a new one when there is none (the
// oldest goes when all are taken).  Null when there is none and !create.
PortalNote *notePortal(const char *address, USHORT socket, bool create)
{
    for (size_t i = 0; i < gPortalNotesTaken; i++)
        if (gPortalNotes[i].inUse && gPortalNotes[i].socket == socket &&
            strcmp(gPortalNotes[i].address, address) == 0)
            return &gPortalNotes[i];
    if (!create)
        return nullptr;
    PortalNote *note = &gPortalNotes[gNextPortalNote];
    gNextPortalNote = (gNextPortalNote + 1) % kPortalNotes;
    if (gPortalNotesTaken < kPortalNotes)
        gPortalNotesTaken++;
    memset(note, 0, sizeof *note);
    memcpy(note->address, address, sizeof note->address);
    note->socket = socket;
    note->inUse = true;
    return note;
}

void rememberFresh(const char *address, USHORT socket)
{
    notePortal(address, socket, true)->fresh = true;
}

bool isFresh(const char *address, USHORT socket)
{
    const PortalNote *note = notePortal(address, socket, false);
    return note != nullptr && note->fresh;
}

// The node name: the host's open-iscsi name when it has one, else the name
// generated once and kept in the store.
ISDSC_STATUS findNodeName(const char **name)
{
    if (gNodeNameKnown) {
        *name = gNodeName;
        return ISDSC_SUCCESS;
    }
    // A file this user cannot read counts as no file: the service then uses
    // a name of its own.
    InitiatorNameRead fromFile =
        readInitiatorNameFile(HOST_INITIATOR_NAME_FILE, gNodeName, sizeof gNodeName);
    if (fromFile == INITIATOR_NAME_MALFORMED ||
        (fromFile == INITIATOR_NAME_READ && !isValidIscsiName(gNodeName)))
        return SERVICE_INITIATOR_NAME_INVALID;
    if (fromFile != INITIATOR_NAME_READ) {
        bool found = false;
        ISDSC_STATUS status = storeBegin(false);
        if (status == ISDSC_SUCCESS)
            status = storeReadSetting(kNodeNameSetting, gNodeName, sizeof gNodeName, &found);
        storeRollback();
        if (status == ISDSC_SUCCESS && !found) {
            char generated[ISCSI_NAME_BYTES];
            generateInitiatorName(generated, sizeof generated);
            status = storeBegin(true);
            if (status == ISDSC_SUCCESS)
                status = storeWriteSettingIfAbsent(kNodeNameSetting, generated);
            // Another run may have been first: whatever is stored now wins.
            if (status == ISDSC_SUCCESS)
                status = storeReadSetting(kNodeNameSetting, gNodeName, sizeof gNodeName, &found);
            if (status == ISDSC_SUCCESS)
                status = storeCommit();
            else
                storeRollback();
        }
        if (status != ISDSC_SUCCESS)
            return status;
        if (!found || !isValidIscsiName(gNodeName))
            return SERVICE_STORE_FAILED;
    }
    gNodeNameKnown = true;
    *name = gNodeName;
    return ISDSC_SUCCESS;
}

// The node name and the CHAP credentials that settings ask for; the node
// name stands in for a CHAP user name the settings do not give.
ISDSC_STATUS findCredentials(const LoginSettings &settings, const char **nodeName,
                             ChapCredentials *chap)
{
    memset(chap, 0, sizeof *chap);
    ISDSC_STATUS status = findNodeName(nodeName);
    if (status == ISDSC_SUCCESS)
        status = chapFromSettings(settings, *nodeName, chap);
    return status;
}

// The instance argument of an operation: none, or our one instance.
ISDSC_STATUS checkInstance(const WCHAR16 *instance, char *stored, size_t room)
{
    stored[0] = 0;
    if (instance == nullptr)
        return ISDSC_SUCCESS;
    size_t length = wideLengthBounded(instance, MAX_ISCSI_PORTAL_ADDRESS_LEN);
    if (length >= MAX_ISCSI_PORTAL_ADDRESS_LEN || !wideEqual(instance, kInitiatorInstanceWide))
        return SERVICE_INITIATOR_NOT_FOUND;
    snprintf(stored, room, "%s", kInitiatorInstance);
    return ISDSC_SUCCESS;
}

// The key of a persistent login from the arguments of the operations that
// name one: target, portal, instance and initiator port.  *endpoint gets
// the portal as the network steps need it.
ISDSC_STATUS readLoginKey(const WCHAR16 *targetName, const ISCSI_TARGET_PORTALW *portal,
                          const WCHAR16 *instance, ULONG portNumber, PersistentLogin *key,
                          PortalEndpoint *endpoint)
{
    ISDSC_STATUS status = readTargetNameArgument(targetName, key->target, sizeof key->target);
    if (status == ISDSC_SUCCESS)
        status = readPortalArgument(portal, endpoint);
    if (status == ISDSC_SUCCESS)
        status = checkInstance(instance, key->instance, sizeof key->instance);
    if (status != ISDSC_SUCCESS)
        return status;
    memcpy(key->address, endpoint->address, sizeof key->address);
    key->socket = endpoint->port;
    key->portNumber = portNumber;
    return ISDSC_SUCCESS;
}

// Collects target names as a wide multi-string.
struct NameCollector {
    Answer text;
    bool failed;
};

void collectName(void *context, const char *name)
{
    NameCollector *collector = static_cast<NameCollector *>(context);
    if (!collector->failed && !appendWideText(&collector->text, name))
        collector->failed = true;
}

// Rediscovers every stored portal that this process has not discovered
// itself, all at once (one step bound for the lot), and writes what answered
// into the store.  A portal that fails keeps what its last discovery found.
ISDSC_STATUS refreshDiscoveries()
{
    PortalRow *portals = nullptr;
    size_t count = 0;
    ISDSC_STATUS status = storeBegin(false);
    if (status == ISDSC_SUCCESS)
        status = storeListPortals(&portals, &count);
    // Only a portal that is asked again needs its secret.
    for (size_t i = 0; i < count && status == ISDSC_SUCCESS; i++)
        if (!isFresh(portals[i].address, portals[i].socket))
            status = storeReadPortalSecret(portals[i].id, &portals[i].login);
    storeRollback();
    if (status != ISDSC_SUCCESS) {
        if (portals != nullptr)
            memset(portals, 0, count * sizeof(PortalRow));
        free(portals);
        return status;
    }

    DiscoveryRequest *requests =
        static_cast<DiscoveryRequest *>(calloc(count + 1, sizeof(DiscoveryRequest)));
    size_t *portalOfRequest = static_cast<size_t *>(calloc(count + 1, sizeof(size_t)));
    if (requests == nullptr || portalOfRequest == nullptr) {
        free(requests);
        free(portalOfRequest);
        free(portals);
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    }
    size_t asked = 0;
    for (size_t i = 0; i < count; i++) {
        if (isFresh(portals[i].address, portals[i].socket))
            continue;
        DiscoveryRequest *request = &requests[asked];
        if (findCredentials(portals[i].login, &request->initiatorName, &request->chap) !=
            ISDSC_SUCCESS)
            continue;
        memcpy(request->portal.address, portals[i].address, sizeof request->portal.address);
        request->portal.port = portals[i].socket;
        portalOfRequest[asked++] = i;
    }
    discoverTargetsTogether(requests, asked);
    size_t answered = 0;
    for (size_t k = 0; k < asked; k++) {
        if (requests[k].status == ISDSC_SUCCESS) {
            answered++;
            rememberFresh(requests[k].portal.address, requests[k].portal.port);
        }
    }
    if (answered > 0) {
        status = storeBegin(true);
        for (size_t k = 0; k < asked && status == ISDSC_SUCCESS; k++) {
            if (requests[k].status != ISDSC_SUCCESS)
                continue;
            // Only while the portal is still the one that was asked.
            const PortalRow &portal = portals[portalOfRequest[k]];
            PortalRegistration now = {0, 0};
            status = storeFindRegistration(portal.address, portal.socket, &now);
            if (status == ISDSC_SUCCESS && now.id == portal.id)
                status = storeReplaceDiscovery(portal.id, requests[k].found);
        }
        if (status == ISDSC_SUCCESS)
            status = storeCommit();
        else
            storeRollback();
    }
    for (size_t k = 0; k < asked; k++)
        freeDiscoveryList(&requests[k].found);
    // The secrets go with the requests and the rows.
    memset(requests, 0, (count + 1) * sizeof(DiscoveryRequest));
    free(requests);
    free(portalOfRequest);
    if (portals != nullptr)
        memset(portals, 0, count * sizeof(PortalRow));
    free(portals);
    return status;
}

// The registration of the portal at endpoint as it is now.
ISDSC_STATUS findRegistration(const PortalEndpoint &endpoint, PortalRegistration *seen)
{
    ISDSC_STATUS status = storeBegin(false);
    if (status == ISDSC_SUCCESS)
        status = storeFindRegistration(endpoint.address, endpoint.port, seen);
    storeRollback();
    return status;
}

// Removes the portal at endpoint in one transaction.  After a failed add of
// it, only while it is the registration that add saw: *kept tells that
// another process has registered it since, and it stays.
ISDSC_STATUS removeRegistration(const PortalEndpoint &endpoint, bool *found, bool *kept)
{
    PortalNote *note = notePortal(endpoint.address, endpoint.port, false);
    bool cleanUp = note != nullptr && note->addFailed;
    PortalRegistration seen = cleanUp ? note->seenByFailedAdd : PortalRegistration{0, 0};
    if (note != nullptr)
        note->addFailed = false;
    *found = false;
    *kept = false;
    ISDSC_STATUS status = storeBegin(true);
    PortalRegistration now = {0, 0};
    if (status == ISDSC_SUCCESS && cleanUp)
        status = storeFindRegistration(endpoint.address, endpoint.port, &now);
    *kept = cleanUp && now.id != 0 && (now.id != seen.id || now.generation != seen.generation);
    if (status == ISDSC_SUCCESS && !*kept)
        status = storeRemovePortal(endpoint.address, endpoint.port, found);
    if (status == ISDSC_SUCCESS)
        status = storeCommit();
    else
        storeRollback();
    if (status == ISDSC_SUCCESS && *found && note != nullptr)
        note->fresh = false;
    return status;
}

// The rows of the target asked about, read in one transaction for an
// unbroken series of questions about it: a report asks seven, each twice by
// the sizing rule.  Any other operation of the service ends the series (it
// may change the store, or take long enough for another run to), and so does
// a question about another target: the next question reads the store anew.
struct TargetSnapshot {
    bool held;
    char target[ISCSI_NAME_BYTES];
    unsigned long long storeChanges;  // storeChangeCount when read
    TargetRows rows;
};

TargetSnapshot gTargetSnapshot;

void forgetTargetSnapshot()
{
    if (gTargetSnapshot.held)
        freeTargetRows(&gTargetSnapshot.rows);
    gTargetSnapshot.held = false;
}

// The rows of target, from the snapshot when it holds them.
ISDSC_STATUS snapshotOf(const char *target, const TargetRows **rows)
{
    if (!gTargetSnapshot.held || strcmp(gTargetSnapshot.target, target) != 0 ||
        gTargetSnapshot.storeChanges != storeChangeCount()) {
        forgetTargetSnapshot();
        ISDSC_STATUS status = storeBegin(false);
        if (status == ISDSC_SUCCESS)
            status = storeReadTarget(target, &gTargetSnapshot.rows);
        storeRollback();
        if (status != ISDSC_SUCCESS)
            return status;
        gTargetSnapshot.storeChanges = storeChangeCount();
        snprintf(gTargetSnapshot.target, sizeof gTargetSnapshot.target, "%s", target);
        gTargetSnapshot.held = true;
    }
    *rows = &gTargetSnapshot.rows;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS answerTargetInformation(const TargetRows &rows, const char *mechanism,
                                     TARGET_INFORMATION_CLASS infoClass, Answer *answer)
{
    const PortalRow *portals = rows.portals;
    size_t count = rows.portalCount;
    if (count == 0)
        return SERVICE_TARGET_NOT_FOUND;
    char text[PORTAL_ADDRESS_BYTES + 32];
    size_t chosen = 0;
    if (mechanism != nullptr) {
        chosen = count;
        for (size_t i = 0; i < count && chosen == count; i++)
            if (formatDiscoveryMechanism(portals[i].address, portals[i].socket, text,
                                         sizeof text) &&
                strcmp(text, mechanism) == 0)
                chosen = i;
    }
    if (chosen == count)
        return SERVICE_MECHANISM_NOT_FOUND;
    bool ok = true;
    ISDSC_STATUS status = ISDSC_SUCCESS;
    switch (infoClass) {
    case DiscoveryMechanisms:
        for (size_t i = 0; i < count && ok; i++) {
            ok = formatDiscoveryMechanism(portals[i].address, portals[i].socket, text,
                                          sizeof text) &&
                 appendWideText(answer, text);
        }
        ok = ok && appendWideText(answer, "");
        break;
    case ProtocolType:
        ok = appendUlong(answer, ISCSI_TCP_PROTOCOL_TYPE);
        break;
    case TargetAlias:
        // A SendTargets answer carries no alias, and libiscsi keeps the
        // one of a login response to itself.
        ok = appendWideText(answer, "");
        break;
    case PortalGroups:
        ok = buildPortalGroups(rows.records[chosen], answer);
        break;
    case InitiatorName:
        ok = appendWideText(answer, kInitiatorInstance) && appendWideText(answer, "");
        break;
    case TargetFlags:
        ok = appendUlong(answer, 0);
        break;
    case LoginOptions:
        ok = buildLoginOptions(portals[chosen].login, answer);
        break;
    case PersistentTargetMappings:
        status = SERVICE_NOT_SUPPORTED;
        break;
    }
    if (status == ISDSC_SUCCESS && !ok)
        status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    return status;
}

// The embedded service needs nothing of the host: it can always work.
ISDSC_STATUS availability()
{
    return ISDSC_SUCCESS;
}

ISDSC_STATUS getVersionInformation(ISCSI_VERSION_INFO *VersionInfo)
{
    forgetTargetSnapshot();
    if (VersionInfo == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    VersionInfo->MajorVersion = SERVICE_VERSION_MAJOR;
    VersionInfo->MinorVersion = SERVICE_VERSION_MINOR;
    VersionInfo->BuildNumber = SERVICE_VERSION_PATCH;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS getInitiatorNodeName(WCHAR16 *InitiatorNodeName)
{
    forgetTargetSnapshot();
    if (InitiatorNodeName == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    const char *name = nullptr;
    ISDSC_STATUS status = findNodeName(&name);
    if (status != ISDSC_SUCCESS)
        return status;
    return convertUtf8ToWide(name, InitiatorNodeName, MAX_ISCSI_NAME_LEN + 1)
               ? ISDSC_SUCCESS
               : SERVICE_STORE_FAILED;
}

ISDSC_STATUS reportInitiatorList(ULONG *BufferSize, WCHAR16 *Buffer)
{
    forgetTargetSnapshot();
    if (BufferSize == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    const ULONG needed = sizeof kInitiatorInstanceWide / sizeof(WCHAR16) + 1;
    if (Buffer == nullptr || *BufferSize < needed) {
        *BufferSize = needed;
        return ISDSC_ERROR_INSUFFICIENT_BUFFER;
    }
    memcpy(Buffer, kInitiatorInstanceWide, sizeof kInitiatorInstanceWide);
    Buffer[needed - 1] = 0;
    *BufferSize = needed;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS addSendTargetPortal(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                 ISCSI_LOGIN_OPTIONS *LoginOptions,
                                 ISCSI_SECURITY_FLAGS SecurityFlags, ISCSI_TARGET_PORTALW *Portal)
{
    forgetTargetSnapshot();
    PortalRow row;
    memset(&row, 0, sizeof row);
    PortalEndpoint endpoint;
    ISDSC_STATUS status = readPortalArgument(Portal, &endpoint);
    if (status != ISDSC_SUCCESS)
        return status;
    // The registration that a removal after a failure of this add may take.
    // A store that cannot be used ends the add here, before the network.
    PortalRegistration seen = {0, 0};
    status = findRegistration(endpoint, &seen);
    if (status != ISDSC_SUCCESS)
        return status;
    status = checkInstance(InitiatorInstance, row.instance, sizeof row.instance);
    if (status == ISDSC_SUCCESS)
        status = settingsFromOptions(LoginOptions, &row.login);
    if (status == ISDSC_SUCCESS && SecurityFlags != 0)
        status = SERVICE_NOT_SUPPORTED;
    const char *nodeName = nullptr;
    ChapCredentials chap = {};
    if (status == ISDSC_SUCCESS)
        status = findCredentials(row.login, &nodeName, &chap);
    DiscoveryList found = {nullptr, 0, 0};
    if (status == ISDSC_SUCCESS)
        status = discoverTargets(endpoint, nodeName, chap, &found);
    memset(&chap, 0, sizeof chap);
    if (status == ISDSC_SUCCESS) {
        memcpy(row.address, endpoint.address, sizeof row.address);
        row.socket = endpoint.port;
        row.portNumber = InitiatorPortNumber;
        long long id = 0;
        status = storeBegin(true);
        if (status == ISDSC_SUCCESS)
            status = storeSavePortal(row, &id);
        if (status == ISDSC_SUCCESS)
            status = storeReplaceDiscovery(id, found);
        if (status == ISDSC_SUCCESS)
            status = storeCommit();
        else
            storeRollback();
    }
    PortalNote *note = notePortal(endpoint.address, endpoint.port, true);
    note->addFailed = status != ISDSC_SUCCESS;
    note->seenByFailedAdd = seen;
    if (status == ISDSC_SUCCESS)
        note->fresh = true;
    freeDiscoveryList(&found);
    memset(&row, 0, sizeof row);
    return status;
}

ISDSC_STATUS removeSendTargetPortal(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                    ISCSI_TARGET_PORTALW *Portal)
{
    forgetTargetSnapshot();
    (void)InitiatorPortNumber;  // a portal is known by its address and socket
    PortalEndpoint endpoint;
    char instance[PORTAL_ADDRESS_BYTES];
    ISDSC_STATUS status = readPortalArgument(Portal, &endpoint);
    if (status == ISDSC_SUCCESS)
        status = checkInstance(InitiatorInstance, instance, sizeof instance);
    if (status != ISDSC_SUCCESS)
        return status;
    bool found = false;
    bool kept = false;
    status = removeRegistration(endpoint, &found, &kept);
    if (status == ISDSC_SUCCESS && kept)
        status = SERVICE_PORTAL_KEPT_FOR_ANOTHER_RUN;
    else if (status == ISDSC_SUCCESS && !found)
        status = SERVICE_PORTAL_NOT_FOUND;
    return status;
}

ISDSC_STATUS reportTargets(BOOLEAN ForceUpdate, ULONG *BufferSize, WCHAR16 *Buffer)
{
    forgetTargetSnapshot();
    if (BufferSize == nullptr)
        return ISDSC_ERROR_INVALID_PARAMETER;
    if (ForceUpdate) {
        ISDSC_STATUS status = refreshDiscoveries();
        if (status != ISDSC_SUCCESS)
            return status;
    }
    NameCollector collector = {{nullptr, 0, 0}, false};
    ISDSC_STATUS status = storeBegin(false);
    if (status == ISDSC_SUCCESS)
        status = storeVisitTargetNames(collectName, &collector);
    storeRollback();
    if (status == ISDSC_SUCCESS && (collector.failed || !appendWideText(&collector.text, "")))
        status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    if (status == ISDSC_SUCCESS)
        status = deliverList(collector.text, BufferSize, Buffer);
    freeAnswer(&collector.text);
    return status;
}

ISDSC_STATUS getTargetInformation(WCHAR16 *TargetName, WCHAR16 *DiscoveryMechanism,
                                  TARGET_INFORMATION_CLASS InfoClass, ULONG *BufferSize,
                                  PVOID Buffer)
{
    TargetQuery query;
    ISDSC_STATUS status =
        readTargetQuery(TargetName, DiscoveryMechanism, InfoClass, BufferSize, &query);
    if (status != ISDSC_SUCCESS)
        return status;
    Answer answer = {nullptr, 0, 0};
    const TargetRows *rows = nullptr;
    status = snapshotOf(query.target, &rows);
    if (status == ISDSC_SUCCESS)
        status = answerTargetInformation(*rows, query.hasMechanism ? query.mechanism : nullptr,
                                         InfoClass, &answer);
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
    forgetTargetSnapshot();
    // Sessions of this service expose no devices, so an informational
    // session is an ordinary one.
    (void)IsInformationalSession;
    (void)Key;
    PersistentLogin login;
    memset(&login, 0, sizeof login);
    PortalEndpoint endpoint;
    ISDSC_STATUS status = readLoginKey(TargetName, TargetPortal, InitiatorInstance,
                                       InitiatorPortNumber, &login, &endpoint);
    if (status == ISDSC_SUCCESS)
        status = settingsFromOptions(LoginOptions, &login.login);
    if (status == ISDSC_SUCCESS && (SecurityFlags != 0 || Mappings != nullptr || KeySize != 0))
        status = SERVICE_NOT_SUPPORTED;
    const char *nodeName = nullptr;
    ChapCredentials chap = {};
    if (status == ISDSC_SUCCESS)
        status = findCredentials(login.login, &nodeName, &chap);
    if (status == ISDSC_SUCCESS && IsPersistent) {
        status = storeBegin(true);
        if (status == ISDSC_SUCCESS)
            status = storeSavePersistentLogin(login);
        if (status == ISDSC_SUCCESS)
            status = storeCommit();
        else
            storeRollback();
        if (status == ISDSC_SUCCESS) {
            // A persistent login is a record, not a session: no identifiers.
            if (UniqueSessionId != nullptr)
                memset(UniqueSessionId, 0, sizeof *UniqueSessionId);
            if (UniqueConnectionId != nullptr)
                memset(UniqueConnectionId, 0, sizeof *UniqueConnectionId);
        }
    } else if (status == ISDSC_SUCCESS) {
        SessionIdentity identity;
        status = openSession(endpoint, nodeName, login.target, chap, wantsHeaderDigest(login.login),
                             &identity);
        if (status == ISDSC_SUCCESS) {
            if (UniqueSessionId != nullptr)
                *UniqueSessionId = identity.session;
            if (UniqueConnectionId != nullptr)
                *UniqueConnectionId = identity.connection;
        }
    }
    memset(&chap, 0, sizeof chap);
    memset(&login, 0, sizeof login);
    return status;
}

ISDSC_STATUS removePersistentTarget(WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                    WCHAR16 *TargetName, ISCSI_TARGET_PORTALW *Portal)
{
    forgetTargetSnapshot();
    PersistentLogin key;
    memset(&key, 0, sizeof key);
    PortalEndpoint endpoint;
    ISDSC_STATUS status =
        readLoginKey(TargetName, Portal, InitiatorInstance, InitiatorPortNumber, &key, &endpoint);
    if (status != ISDSC_SUCCESS)
        return status;
    bool found = false;
    status = storeBegin(true);
    if (status == ISDSC_SUCCESS)
        status = storeRemovePersistentLogin(key, &found);
    if (status == ISDSC_SUCCESS)
        status = storeCommit();
    else
        storeRollback();
    if (status == ISDSC_SUCCESS && !found)
        status = SERVICE_PERSISTENT_LOGIN_NOT_FOUND;
    return status;
}

}  // namespace

extern const IscsiServiceTable libiscsiServiceTable = {
    "embedded",           availability,        getVersionInformation,  getInitiatorNodeName,
    reportInitiatorList,  addSendTargetPortal, removeSendTargetPortal, reportTargets,
    getTargetInformation, loginTarget,         removePersistentTarget, lookupLibiscsiMessage,
};
