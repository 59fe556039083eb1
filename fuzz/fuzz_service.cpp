// The fuzz-driven service (fuzz_service.h).  Every decision takes bytes from
// the input in call order, so the fuzzer steers each answer of the run.
#include "fuzz/fuzz_service.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/iscsi_service.h"
#include "common/message_lookup.h"
#include "fuzz/fuzz_input.h"

namespace {

// Largest payload the service builds and largest size it claims to need:
// enough for many portal groups, far below the fuzzer's memory limit.
const size_t kPayloadRoom = 256 * 1024;
const uint8_t kFillByte = 0xA5;

FuzzInput gInput;
size_t gCalls;

// The answer of the last target-information call that asked for a buffer;
// the next call of the pair copies it.
unsigned char gPayload[kPayloadRoom];
size_t gPayloadSize;
ULONG gSizeAsked;
bool gAwaitingBuffer;
int gPayloadClass;
// Where the login options' user name lies in the payload, for the fix-up.
size_t gUserNameOffset;

// An unreadable address: the password pointer the service hands out, which
// the callers must never follow.
UCHAR *const kPoisonPointer = reinterpret_cast<UCHAR *>(static_cast<uintptr_t>(0x10));

[[noreturn]] void contractBroken(const char *what)
{
    fprintf(stderr, "fuzz service: caller broke the contract: %s\n", what);
    abort();
}

// Reads every byte of a caller's argument, so that AddressSanitizer sees a
// record or text that is not whole.
unsigned touchBytes(const void *bytes, size_t count)
{
    const volatile unsigned char *at = static_cast<const volatile unsigned char *>(bytes);
    unsigned sum = 0;
    for (size_t i = 0; i < count; i++)
        sum += at[i];
    return sum;
}

void touchText(const WCHAR16 *text)
{
    if (text == nullptr)
        return;
    size_t length = 0;
    while (text[length] != 0)
        length++;
    touchBytes(text, (length + 1) * sizeof(WCHAR16));
}

void touchPortal(const ISCSI_TARGET_PORTALW *portal)
{
    if (portal == nullptr)
        contractBroken("no portal record");
    touchBytes(portal, sizeof *portal);
}

void touchLoginOptions(const ISCSI_LOGIN_OPTIONS *options)
{
    if (options == nullptr)
        return;
    touchBytes(options, sizeof *options);
    if (options->Username != nullptr)
        touchBytes(options->Username, options->UsernameLength);
    else if (options->UsernameLength != 0)
        contractBroken("user name length without a user name");
    if (options->Password != nullptr)
        touchBytes(options->Password, options->PasswordLength);
    else if (options->PasswordLength != 0)
        contractBroken("password length without a password");
}

// Mostly success, often "buffer too small", sometimes a common failure or
// any 32-bit code.
ISDSC_STATUS takeStatus()
{
    uint8_t choice = takeFuzzByte(&gInput);
    if (choice < 0x90)
        return ISDSC_SUCCESS;
    if (choice < 0xB0)
        return ISDSC_ERROR_INSUFFICIENT_BUFFER;
    if (choice < 0xC0)
        return ISDSC_ERROR_INVALID_PARAMETER;
    if (choice < 0xC8)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    if (choice < 0xD0)
        return 0xEFFF0001u;
    return takeFuzzU32(&gInput);
}

// A claimed size: mostly small, sometimes anything up to kPayloadRoom.
ULONG takeClaimedSize()
{
    uint16_t size = takeFuzzU16(&gInput);
    if (size != 0xFFFF)
        return size;
    return static_cast<ULONG>(takeFuzzU32(&gInput) % (kPayloadRoom + 1));
}

// Appends up to `limit` characters of text to out[room] at *at: one byte a
// character, or two (little-endian) when the first byte asks for it.  The
// text carries no terminator of its own; the input supplies any zeros.
void appendTakenText(WCHAR16 *out, size_t room, size_t *at, size_t limit)
{
    uint8_t header = takeFuzzByte(&gInput);
    bool wide = (header & 0x80) != 0;
    size_t length = takeFuzzByte(&gInput);
    if ((header & 0x40) != 0)
        length = takeFuzzU16(&gInput);
    if (length > limit)
        length = limit;
    for (size_t i = 0; i < length && *at < room; i++)
        out[(*at)++] = wide ? static_cast<WCHAR16>(takeFuzzU16(&gInput))
                            : static_cast<WCHAR16>(takeFuzzByte(&gInput));
}

// Fills a list buffer of `room` characters as the service does: the list
// text, then the fill pattern to the end of the room (so a list the input
// leaves unterminated stays so).  Sets *BufferSize to the characters
// written, or to whatever the input claims.
ISDSC_STATUS answerList(ULONG *BufferSize, WCHAR16 *Buffer)
{
    gCalls++;
    if (BufferSize == nullptr)
        contractBroken("list without a size");
    ISDSC_STATUS status = takeStatus();
    if (status == ISDSC_ERROR_INSUFFICIENT_BUFFER) {
        *BufferSize = takeClaimedSize();
        return status;
    }
    if (status != ISDSC_SUCCESS)
        return status;
    size_t room = Buffer != nullptr ? *BufferSize : 0;
    size_t written = 0;
    appendTakenText(Buffer, room, &written, room);
    for (size_t i = written; i < room; i++)
        Buffer[i] = static_cast<WCHAR16>(kFillByte);
    bool lie = (takeFuzzByte(&gInput) & 0x0F) == 0x0F;
    *BufferSize = lie ? takeFuzzU32(&gInput) : static_cast<ULONG>(written);
    return status;
}

void appendPayload(const void *bytes, size_t count)
{
    if (count > kPayloadRoom - gPayloadSize)
        count = kPayloadRoom - gPayloadSize;
    memcpy(gPayload + gPayloadSize, bytes, count);
    gPayloadSize += count;
}

void appendPayloadUlong(ULONG value)
{
    appendPayload(&value, sizeof value);
}

// Texts of an information class: a multi-string as the input writes it.
void buildTextPayload()
{
    WCHAR16 text[1024];
    size_t length = 0;
    appendTakenText(text, 1024, &length, 1024);
    appendPayload(text, length * sizeof(WCHAR16));
}

// Portal groups: a count, then groups of portal records, each group padded
// to its stride.  Either count may be a lie.
void buildPortalGroupPayload()
{
    ULONG groups = takeFuzzByte(&gInput) % 6;
    uint8_t lies = takeFuzzByte(&gInput);
    appendPayloadUlong((lies & 0x01) != 0 ? takeFuzzU32(&gInput) : groups);
    for (ULONG g = 0; g < groups && gPayloadSize < kPayloadRoom; g++) {
        ULONG portals = takeFuzzByte(&gInput) % 24;
        size_t groupStart = gPayloadSize;
        appendPayloadUlong((lies & 0x02) != 0 && g == 0 ? takeFuzzU32(&gInput) : portals);
        for (ULONG p = 0; p < portals && gPayloadSize < kPayloadRoom; p++) {
            ISCSI_TARGET_PORTALW portal;
            memset(&portal, 0, sizeof portal);
            size_t length = 0;
            appendTakenText(portal.SymbolicName, MAX_ISCSI_PORTAL_NAME_LEN, &length,
                            MAX_ISCSI_PORTAL_NAME_LEN);
            length = 0;
            appendTakenText(portal.Address, MAX_ISCSI_PORTAL_ADDRESS_LEN, &length,
                            MAX_ISCSI_PORTAL_ADDRESS_LEN);
            portal.Socket = takeFuzzU16(&gInput);
            appendPayload(&portal, sizeof portal);
        }
        size_t padded = groupStart + portalGroupStride(portals);
        static const unsigned char kZeros[4] = {0, 0, 0, 0};
        while (gPayloadSize < padded && gPayloadSize < kPayloadRoom)
            appendPayload(kZeros, 1);
    }
    if ((lies & 0x04) != 0 && gPayloadSize > 0)
        gPayloadSize -= takeFuzzU16(&gInput) % (gPayloadSize + 1);  // cut short
}

// One login-options record, then the user name's bytes; the pointers are
// set when the payload is copied into the caller's buffer.
void buildLoginOptionsPayload()
{
    ISCSI_LOGIN_OPTIONS options;
    takeFuzzBytes(&gInput, &options, sizeof options);
    options.Username = nullptr;
    options.Password = nullptr;
    size_t nameLength = takeFuzzByte(&gInput);
    if ((takeFuzzByte(&gInput) & 0x03) != 0)
        options.UsernameLength = static_cast<ULONG>(nameLength);
    appendPayload(&options, sizeof options);
    gUserNameOffset = gPayloadSize;
    unsigned char name[256];
    takeFuzzBytes(&gInput, name, nameLength);
    appendPayload(name, nameLength);
}

// Any bytes at all.
void buildRawPayload()
{
    size_t count = takeFuzzU16(&gInput) % 4097;
    unsigned char bytes[4096];
    takeFuzzBytes(&gInput, bytes, count);
    appendPayload(bytes, count);
}

void buildPayload(int infoClass)
{
    gPayloadSize = 0;
    gUserNameOffset = 0;
    gPayloadClass = infoClass;
    bool raw = takeFuzzByte(&gInput) >= 0xE0;
    if (raw) {
        buildRawPayload();
        return;
    }
    switch (infoClass) {
    case DiscoveryMechanisms:
    case TargetAlias:
    case InitiatorName:
        buildTextPayload();
        break;
    case PortalGroups:
        buildPortalGroupPayload();
        break;
    case LoginOptions:
        buildLoginOptionsPayload();
        break;
    default: {
        ULONG value =
            takeFuzzByte(&gInput) < 0xC0 ? takeFuzzByte(&gInput) % 4 : takeFuzzU32(&gInput);
        appendPayloadUlong(value);
        break;
    }
    }
}

// Points the user name (and the poisoned password) of a login-options
// payload, now in buffer[room], at the place the input chooses.
void fixUpLoginOptions(unsigned char *buffer, size_t room)
{
    if (gPayloadClass != LoginOptions || room < sizeof(ISCSI_LOGIN_OPTIONS))
        return;
    ISCSI_LOGIN_OPTIONS options;
    memcpy(&options, buffer, sizeof options);
    uint8_t choice = takeFuzzByte(&gInput);
    uintptr_t base = reinterpret_cast<uintptr_t>(buffer);
    if (choice < 0x40)
        options.Username = nullptr;
    else if (choice < 0xC0)
        options.Username = reinterpret_cast<UCHAR *>(base + gUserNameOffset);
    else if (choice < 0xE0)
        options.Username = reinterpret_cast<UCHAR *>(base + takeFuzzU32(&gInput));
    else
        options.Username = reinterpret_cast<UCHAR *>(static_cast<uintptr_t>(takeFuzzU64(&gInput)));
    options.Password = (takeFuzzByte(&gInput) & 1) != 0 ? kPoisonPointer : nullptr;
    memcpy(buffer, &options, sizeof options);
}

}  // namespace

void startFuzzService(const uint8_t *data, size_t size)
{
    startFuzzInput(&gInput, data, size);
    gCalls = 0;
    gPayloadSize = 0;
    gSizeAsked = 0;
    gAwaitingBuffer = false;
    gPayloadClass = -1;
    gUserNameOffset = 0;
}

size_t fuzzServiceCalls()
{
    return gCalls;
}

extern "C" {

ISDSC_STATUS ISDSC_API GetIScsiVersionInformation(ISCSI_VERSION_INFO *VersionInfo)
{
    gCalls++;
    if (VersionInfo == nullptr)
        contractBroken("no version record");
    ISDSC_STATUS status = takeStatus();
    if (status == ISDSC_SUCCESS)
        takeFuzzBytes(&gInput, VersionInfo, sizeof *VersionInfo);
    return status;
}

ISDSC_STATUS ISDSC_API GetIScsiInitiatorNodeNameW(WCHAR16 *InitiatorNodeName)
{
    gCalls++;
    if (InitiatorNodeName == nullptr)
        contractBroken("no node name buffer");
    ISDSC_STATUS status = takeStatus();
    if (status != ISDSC_SUCCESS)
        return status;
    // The whole buffer, terminated only where the input puts a zero.
    const size_t room = MAX_ISCSI_NAME_LEN + 1;
    size_t written = 0;
    appendTakenText(InitiatorNodeName, room, &written, room);
    WCHAR16 rest = (takeFuzzByte(&gInput) & 1) != 0 ? u'N' : 0;
    for (size_t i = written; i < room; i++)
        InitiatorNodeName[i] = rest;
    return status;
}

ISDSC_STATUS ISDSC_API ReportIScsiInitiatorListW(ULONG *BufferSize, WCHAR16 *Buffer)
{
    return answerList(BufferSize, Buffer);
}

ISDSC_STATUS ISDSC_API AddIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance,
                                                 ULONG /*InitiatorPortNumber*/,
                                                 ISCSI_LOGIN_OPTIONS *LoginOptions,
                                                 ISCSI_SECURITY_FLAGS /*SecurityFlags*/,
                                                 ISCSI_TARGET_PORTALW *Portal)
{
    gCalls++;
    touchText(InitiatorInstance);
    touchLoginOptions(LoginOptions);
    touchPortal(Portal);
    return takeStatus();
}

ISDSC_STATUS ISDSC_API RemoveIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance,
                                                    ULONG /*InitiatorPortNumber*/,
                                                    ISCSI_TARGET_PORTALW *Portal)
{
    gCalls++;
    touchText(InitiatorInstance);
    touchPortal(Portal);
    return takeStatus();
}

ISDSC_STATUS ISDSC_API ReportIScsiTargetsW(BOOLEAN /*ForceUpdate*/, ULONG *BufferSize,
                                           WCHAR16 *Buffer)
{
    return answerList(BufferSize, Buffer);
}

ISDSC_STATUS ISDSC_API GetIScsiTargetInformationW(WCHAR16 *TargetName, WCHAR16 *DiscoveryMechanism,
                                                  TARGET_INFORMATION_CLASS InfoClass,
                                                  ULONG *BufferSize, PVOID Buffer)
{
    gCalls++;
    if (TargetName == nullptr || BufferSize == nullptr)
        contractBroken("target information without a name or a size");
    touchText(TargetName);
    touchText(DiscoveryMechanism);
    int infoClass = static_cast<int>(InfoClass);

    if (Buffer == nullptr || *BufferSize == 0) {
        gAwaitingBuffer = false;
        buildPayload(infoClass);
        ISDSC_STATUS status = takeStatus();
        if (status == ISDSC_ERROR_INSUFFICIENT_BUFFER) {
            bool exact = takeFuzzByte(&gInput) < 0xE0;
            gSizeAsked = exact ? static_cast<ULONG>(gPayloadSize) : takeClaimedSize();
            *BufferSize = gSizeAsked;
            gAwaitingBuffer = true;
        } else if ((takeFuzzByte(&gInput) & 0x0F) == 0x0F) {
            *BufferSize = takeFuzzU32(&gInput);  // a size with no meaning
        }
        return status;
    }

    if (!gAwaitingBuffer || infoClass != gPayloadClass)
        buildPayload(infoClass);  // a buffer offered at once
    else if (*BufferSize != gSizeAsked)
        contractBroken("the buffer is not the size the service asked for");
    gAwaitingBuffer = false;

    ISDSC_STATUS status = takeStatus();
    if (status == ISDSC_ERROR_INSUFFICIENT_BUFFER) {
        *BufferSize = takeClaimedSize();
        return status;
    }
    if (status != ISDSC_SUCCESS)
        return status;
    // All of the caller's room: the payload, then the fill pattern.
    unsigned char *out = static_cast<unsigned char *>(Buffer);
    size_t room = *BufferSize;
    size_t copied = gPayloadSize < room ? gPayloadSize : room;
    memcpy(out, gPayload, copied);
    memset(out + copied, kFillByte, room - copied);
    fixUpLoginOptions(out, room);
    bool lie = (takeFuzzByte(&gInput) & 0x0F) == 0x0F;
    *BufferSize = lie ? takeFuzzU32(&gInput) : static_cast<ULONG>(copied);
    return status;
}

ISDSC_STATUS ISDSC_API LoginIScsiTargetW(
    WCHAR16 *TargetName, BOOLEAN /*IsInformationalSession*/, WCHAR16 *InitiatorInstance,
    ULONG /*InitiatorPortNumber*/, ISCSI_TARGET_PORTALW *TargetPortal,
    ISCSI_SECURITY_FLAGS /*SecurityFlags*/, ISCSI_TARGET_MAPPINGW * /*Mappings*/,
    ISCSI_LOGIN_OPTIONS *LoginOptions, ULONG KeySize, CHAR *Key, BOOLEAN /*IsPersistent*/,
    ISCSI_UNIQUE_SESSION_ID *UniqueSessionId, ISCSI_UNIQUE_CONNECTION_ID *UniqueConnectionId)
{
    gCalls++;
    if (TargetName == nullptr)
        contractBroken("login without a target name");
    touchText(TargetName);
    touchText(InitiatorInstance);
    touchPortal(TargetPortal);
    touchLoginOptions(LoginOptions);
    if (Key != nullptr)
        touchBytes(Key, KeySize);
    ISDSC_STATUS status = takeStatus();
    if (status == ISDSC_SUCCESS) {
        if (UniqueSessionId != nullptr)
            takeFuzzBytes(&gInput, UniqueSessionId, sizeof *UniqueSessionId);
        if (UniqueConnectionId != nullptr)
            takeFuzzBytes(&gInput, UniqueConnectionId, sizeof *UniqueConnectionId);
    }
    return status;
}

ISDSC_STATUS ISDSC_API RemoveIScsiPersistentTargetW(WCHAR16 *InitiatorInstance,
                                                    ULONG /*InitiatorPortNumber*/,
                                                    WCHAR16 *TargetName,
                                                    ISCSI_TARGET_PORTALW *Portal)
{
    gCalls++;
    if (TargetName == nullptr)
        contractBroken("removal without a target name");
    touchText(InitiatorInstance);
    touchText(TargetName);
    touchPortal(Portal);
    return takeStatus();
}

// Mostly no text, so that the system's table and the numeric form get their
// turn; otherwise a text of the input that fits the room.
ULONG lookupServiceMessage(ULONG /*code*/, ULONG /*languageId*/, WCHAR16 *buffer, ULONG room)
{
    if (takeFuzzByte(&gInput) < 0xC0 || buffer == nullptr || room == 0)
        return 0;
    size_t written = 0;
    appendTakenText(buffer, room - 1, &written, room - 1);
    buffer[written] = 0;
    size_t length = 0;
    while (buffer[length] != 0)
        length++;
    return static_cast<ULONG>(length);
}

}  // extern "C"
