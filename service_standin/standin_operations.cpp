// The nine service operations, answered from the scenario and logged.
//
// Every call is logged with all its arguments, whatever it answers.  A call
// with a null pointer where the service needs one (an output record, a size)
// gets 87 and uses up no answer.  Writes never go past what the operation's
// contract gives the service: the record, the node-name buffer of
// MAX_ISCSI_NAME_LEN + 1 characters, or *BufferSize characters or bytes.
#include <cstdint>
#include <cstring>

#include "common/iscsi_service.h"
#include "service_standin/call_log.h"
#include "service_standin/standin_state.h"

namespace {

// What an "outside" login-options pointer reaches: bytes of the stand-in's
// own, readable, that no answer holds.
unsigned char gOutsideBytes[256] = "<outside the returned data>";

LogLine gLine;

// Copies the answer's data into dest[room] (cut to fit), fills the rest of the
// room with the answer's fill byte, and sets the login-options pointers that
// lie whole within the room.
void deliver(const ScriptedAnswer *answer, void *dest, size_t room)
{
    const Scenario *scenario = currentScenario();
    unsigned char *out = static_cast<unsigned char *>(dest);
    size_t copied = answer->dataLength < room ? answer->dataLength : room;
    if (copied > 0)
        memcpy(out, answerData(scenario, answer), copied);
    if (room > copied)
        memset(out + copied, answer->fill, room - copied);
    for (size_t i = 0; i < answer->fixupCount; i++) {
        const PointerFixup &fixup = scenario->fixups[answer->fixupStart + i];
        if (fixup.at + sizeof(UCHAR *) > room)
            continue;
        // Address arithmetic in integers: an inside pointer may lie past the
        // part of the data that fitted.
        uintptr_t target = fixup.kind == POINTER_INSIDE
                               ? reinterpret_cast<uintptr_t>(out) + fixup.target
                               : reinterpret_cast<uintptr_t>(gOutsideBytes);
        UCHAR *pointer = reinterpret_cast<UCHAR *>(target);
        memcpy(out + fixup.at, &pointer, sizeof pointer);
    }
}

// Takes the next answer for a call that is answered by status alone (plus
// the data that `dest`, when given, receives on success).
ISDSC_STATUS answerCall(StandinOperation operation, void *dest, size_t room)
{
    ScriptedAnswer *answer = nextAnswer(operation);
    if (answer == nullptr)
        return currentScenario()->defaultStatus[operation];
    answer->used = true;
    if (answer->status == ISDSC_SUCCESS && dest != nullptr)
        deliver(answer, dest, room);
    return answer->status;
}

// A list into Buffer[*BufferSize] characters: the data, or 122 and the
// characters needed when they do not fit.
ISDSC_STATUS answerList(StandinOperation operation, ULONG *BufferSize, WCHAR16 *Buffer)
{
    ScriptedAnswer *answer = nextAnswer(operation);
    if (answer == nullptr)
        return currentScenario()->defaultStatus[operation];
    answer->used = true;
    ULONG chars = static_cast<ULONG>(answer->dataLength / 2);
    if (answer->status != ISDSC_SUCCESS) {
        if (answer->hasNeed)
            *BufferSize = answer->need;
        return answer->status;
    }
    ULONG needed = answer->hasNeed ? answer->need : chars;
    if (needed > 0 && (Buffer == nullptr || *BufferSize < needed)) {
        *BufferSize = needed;
        return ISDSC_ERROR_INSUFFICIENT_BUFFER;
    }
    if (Buffer != nullptr)
        deliver(answer, Buffer, static_cast<size_t>(*BufferSize) * 2);
    *BufferSize = answer->hasSize ? answer->size : chars;
    return ISDSC_SUCCESS;
}

// The sized target-information answer.  An answer with status 0 stays in
// force while the calls bring no buffer or one too small for it: those get
// 122 and the bytes needed; the first call that fits gets the data.  With
// "once" the answer is given to the next call as it is.
ISDSC_STATUS answerTargetInformation(ULONG *BufferSize, PVOID Buffer)
{
    ScriptedAnswer *answer = nextAnswer(OP_TARGET_INFO);
    if (answer == nullptr)
        return currentScenario()->defaultStatus[OP_TARGET_INFO];
    ULONG length = static_cast<ULONG>(answer->dataLength);
    if (answer->status != ISDSC_SUCCESS) {
        answer->used = true;
        if (answer->hasNeed)
            *BufferSize = answer->need;
        return answer->status;
    }
    ULONG needed = answer->hasNeed ? answer->need : length;
    bool fits = needed == 0 || (Buffer != nullptr && *BufferSize >= needed);
    if (!fits && !answer->once) {
        *BufferSize = needed;
        return ISDSC_ERROR_INSUFFICIENT_BUFFER;
    }
    answer->used = true;
    if (Buffer != nullptr)
        deliver(answer, Buffer, *BufferSize);
    *BufferSize = answer->hasSize ? answer->size : length;
    return ISDSC_SUCCESS;
}

const char *className(TARGET_INFORMATION_CLASS infoClass)
{
    static const char *const kNames[] = {"ProtocolType",
                                         "TargetAlias",
                                         "DiscoveryMechanisms",
                                         "PortalGroups",
                                         "PersistentTargetMappings",
                                         "InitiatorName",
                                         "TargetFlags",
                                         "LoginOptions"};
    unsigned value = static_cast<unsigned>(infoClass);
    return value < sizeof kNames / sizeof kNames[0] ? kNames[value] : nullptr;
}

ISDSC_STATUS finish(ISDSC_STATUS status, const ULONG *returnedSize = nullptr)
{
    logFinish(&gLine, status, returnedSize);
    return status;
}

// Logs the size and buffer of a list call and answers it.
ISDSC_STATUS answerListCall(StandinOperation operation, ULONG *BufferSize, WCHAR16 *Buffer)
{
    if (BufferSize == nullptr) {
        logText(&gLine, " size=(none)");
        logOut(&gLine, "buffer", Buffer);
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    }
    logFormat(&gLine, " size=%lu", static_cast<unsigned long>(*BufferSize));
    logOut(&gLine, "buffer", Buffer);
    return finish(answerList(operation, BufferSize, Buffer), BufferSize);
}

}  // namespace

extern "C" {

ISDSC_STATUS ISDSC_API GetIScsiVersionInformation(ISCSI_VERSION_INFO *VersionInfo)
{
    logStart(&gLine, "GetIScsiVersionInformation");
    logOut(&gLine, "info", VersionInfo);
    if (VersionInfo == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    return finish(answerCall(OP_VERSION, VersionInfo, sizeof *VersionInfo));
}

ISDSC_STATUS ISDSC_API GetIScsiInitiatorNodeNameW(WCHAR16 *InitiatorNodeName)
{
    logStart(&gLine, "GetIScsiInitiatorNodeNameW");
    logOut(&gLine, "name", InitiatorNodeName);
    if (InitiatorNodeName == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    return finish(
        answerCall(OP_NODE_NAME, InitiatorNodeName, (MAX_ISCSI_NAME_LEN + 1) * sizeof(WCHAR16)));
}

ISDSC_STATUS ISDSC_API ReportIScsiInitiatorListW(ULONG *BufferSize, WCHAR16 *Buffer)
{
    logStart(&gLine, "ReportIScsiInitiatorListW");
    return answerListCall(OP_INITIATOR_LIST, BufferSize, Buffer);
}

ISDSC_STATUS ISDSC_API AddIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance,
                                                 ULONG InitiatorPortNumber,
                                                 ISCSI_LOGIN_OPTIONS *LoginOptions,
                                                 ISCSI_SECURITY_FLAGS SecurityFlags,
                                                 ISCSI_TARGET_PORTALW *Portal)
{
    logStart(&gLine, "AddIScsiSendTargetPortalW");
    logWide(&gLine, "instance", InitiatorInstance);
    logFormat(&gLine, " port=0x%lx", static_cast<unsigned long>(InitiatorPortNumber));
    logLoginOptions(&gLine, "options", LoginOptions);
    logFormat(&gLine, " security=0x%llx", static_cast<unsigned long long>(SecurityFlags));
    logPortal(&gLine, "portal", Portal);
    if (Portal == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    return finish(answerCall(OP_ADD_PORTAL, nullptr, 0));
}

ISDSC_STATUS ISDSC_API RemoveIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance,
                                                    ULONG InitiatorPortNumber,
                                                    ISCSI_TARGET_PORTALW *Portal)
{
    logStart(&gLine, "RemoveIScsiSendTargetPortalW");
    logWide(&gLine, "instance", InitiatorInstance);
    logFormat(&gLine, " port=0x%lx", static_cast<unsigned long>(InitiatorPortNumber));
    logPortal(&gLine, "portal", Portal);
    if (Portal == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    return finish(answerCall(OP_REMOVE_PORTAL, nullptr, 0));
}

ISDSC_STATUS ISDSC_API ReportIScsiTargetsW(BOOLEAN ForceUpdate, ULONG *BufferSize, WCHAR16 *Buffer)
{
    logStart(&gLine, "ReportIScsiTargetsW");
    logFormat(&gLine, " force=%u", static_cast<unsigned>(ForceUpdate));
    return answerListCall(OP_TARGET_LIST, BufferSize, Buffer);
}

ISDSC_STATUS ISDSC_API GetIScsiTargetInformationW(WCHAR16 *TargetName, WCHAR16 *DiscoveryMechanism,
                                                  TARGET_INFORMATION_CLASS InfoClass,
                                                  ULONG *BufferSize, PVOID Buffer)
{
    logStart(&gLine, "GetIScsiTargetInformationW");
    logWide(&gLine, "target", TargetName);
    logWide(&gLine, "mechanism", DiscoveryMechanism);
    const char *name = className(InfoClass);
    if (name != nullptr)
        logFormat(&gLine, " class=%s", name);
    else
        logFormat(&gLine, " class=%u", static_cast<unsigned>(InfoClass));
    if (BufferSize == nullptr) {
        logText(&gLine, " size=(none)");
        logOut(&gLine, "buffer", Buffer);
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    }
    logFormat(&gLine, " size=%lu", static_cast<unsigned long>(*BufferSize));
    logOut(&gLine, "buffer", Buffer);
    if (TargetName == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER, BufferSize);
    return finish(answerTargetInformation(BufferSize, Buffer), BufferSize);
}

ISDSC_STATUS ISDSC_API LoginIScsiTargetW(
    WCHAR16 *TargetName, BOOLEAN IsInformationalSession, WCHAR16 *InitiatorInstance,
    ULONG InitiatorPortNumber, ISCSI_TARGET_PORTALW *TargetPortal,
    ISCSI_SECURITY_FLAGS SecurityFlags, ISCSI_TARGET_MAPPINGW *Mappings,
    ISCSI_LOGIN_OPTIONS *LoginOptions, ULONG KeySize, CHAR *Key, BOOLEAN IsPersistent,
    ISCSI_UNIQUE_SESSION_ID *UniqueSessionId, ISCSI_UNIQUE_CONNECTION_ID *UniqueConnectionId)
{
    logStart(&gLine, "LoginIScsiTargetW");
    logWide(&gLine, "target", TargetName);
    logFormat(&gLine, " informational=%u", static_cast<unsigned>(IsInformationalSession));
    logWide(&gLine, "instance", InitiatorInstance);
    logFormat(&gLine, " port=0x%lx", static_cast<unsigned long>(InitiatorPortNumber));
    logPortal(&gLine, "portal", TargetPortal);
    logFormat(&gLine, " security=0x%llx", static_cast<unsigned long long>(SecurityFlags));
    logFormat(&gLine, " mappings=%s", Mappings == nullptr ? "(none)" : "given");
    logLoginOptions(&gLine, "options", LoginOptions);
    logFormat(&gLine, " keysize=%lu", static_cast<unsigned long>(KeySize));
    logBytes(&gLine, "key", reinterpret_cast<const unsigned char *>(Key), KeySize);
    logFormat(&gLine, " persistent=%u", static_cast<unsigned>(IsPersistent));
    logOut(&gLine, "session", UniqueSessionId);
    logOut(&gLine, "connection", UniqueConnectionId);
    if (TargetName == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    ScriptedAnswer *answer = nextAnswer(OP_LOGIN);
    if (answer == nullptr)
        return finish(currentScenario()->defaultStatus[OP_LOGIN]);
    answer->used = true;
    if (answer->status == ISDSC_SUCCESS) {
        if (UniqueSessionId != nullptr)
            *UniqueSessionId = answer->session;
        if (UniqueConnectionId != nullptr)
            *UniqueConnectionId = answer->connection;
    }
    return finish(answer->status);
}

ISDSC_STATUS ISDSC_API RemoveIScsiPersistentTargetW(WCHAR16 *InitiatorInstance,
                                                    ULONG InitiatorPortNumber, WCHAR16 *TargetName,
                                                    ISCSI_TARGET_PORTALW *Portal)
{
    logStart(&gLine, "RemoveIScsiPersistentTargetW");
    logWide(&gLine, "instance", InitiatorInstance);
    logFormat(&gLine, " port=0x%lx", static_cast<unsigned long>(InitiatorPortNumber));
    logWide(&gLine, "target", TargetName);
    logPortal(&gLine, "portal", Portal);
    if (TargetName == nullptr)
        return finish(ISDSC_ERROR_INVALID_PARAMETER);
    return finish(answerCall(OP_REMOVE_PERSISTENT, nullptr, 0));
}

}  // extern "C"
